// The eight settings, read once at load from the .ini file beside the module.
#pragma once

#include <windows.h>

enum { SETTING_SIZE = 1024 };

struct Settings {
    char encAlg[SETTING_SIZE];
    char encCert[SETTING_SIZE];
    char signHashOID[SETTING_SIZE];
    char signCert[SETTING_SIZE];
    char useOLStore[SETTING_SIZE];
    char detachedSig[SETTING_SIZE];
    char receivingBehavior[SETTING_SIZE];
    char debug[SETTING_SIZE];
};

extern Settings g_settings;
extern char g_settingsPath[MAX_PATH];

// Builds the settings path from the module's own path and reads all eight keys.
void LoadSettings(HINSTANCE module);

// Copies value into the loaded setting and writes it to the file (setup dialog only).
void SaveSetting(char* setting, LPCSTR key, LPCSTR value);

// True only for the exact text "YES".
bool SettingIsYes(LPCSTR value);

// True when the debug setting is on.
bool DebugEnabled();
