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
// Empty when the module's path does not fit: the values are then the defaults
// and cannot be saved.
extern char g_settingsPath[MAX_PATH];

// Builds the settings path from the module's own path and reads all eight keys.
void LoadSettings(HINSTANCE module);

enum SaveResult { SAVE_DONE, SAVE_NO_PATH, SAVE_WRITE_FAILED };

// Writes all eight keys of `next` to the file, in order, and only when every
// write succeeded makes them the loaded values (setup dialog only). A failed
// write puts the keys already written back to their loaded values.
SaveResult SaveSettings(const Settings& next);

// True only for the exact text "YES".
bool SettingIsYes(LPCSTR value);

// True when the debug setting is on.
bool DebugEnabled();
