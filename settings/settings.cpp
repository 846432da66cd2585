#include "settings/settings.h"

#include <string.h>

Settings g_settings;
char g_settingsPath[MAX_PATH];

static const char kSection[] = "Settings";

struct SettingKey {
    const char* name;
    const char* defaultValue;
    char* value;
};

static const SettingKey kKeys[] = {
    {"encAlg", "AES(256bit)", g_settings.encAlg},
    {"encCert", "", g_settings.encCert},
    {"signHashOID", "2.16.840.1.101.3.4.2.1", g_settings.signHashOID},
    {"signCert", "", g_settings.signCert},
    {"useOLStore", "NO", g_settings.useOLStore},
    {"detachedSig", "NO", g_settings.detachedSig},
    {"receivingBehavior", "AddNotice", g_settings.receivingBehavior},
    {"debug", "NO", g_settings.debug},
};

static void BuildSettingsPath(HINSTANCE module)
{
    memset(g_settingsPath, 0, sizeof g_settingsPath);
    GetModuleFileNameA(module, g_settingsPath, sizeof g_settingsPath);
    g_settingsPath[sizeof g_settingsPath - 1] = '\0';
    char* dot = strrchr(g_settingsPath, '.');
    size_t keep = dot != NULL ? (size_t)(dot - g_settingsPath) : strlen(g_settingsPath);
    // Never write past the 260-byte buffer, even for a path at the limit.
    if (keep + sizeof ".ini" > sizeof g_settingsPath)
        keep = sizeof g_settingsPath - sizeof ".ini";
    memcpy(g_settingsPath + keep, ".ini", sizeof ".ini");
}

void LoadSettings(HINSTANCE module)
{
    BuildSettingsPath(module);
    for (const SettingKey& key : kKeys)
        GetPrivateProfileStringA(kSection, key.name, key.defaultValue, key.value, SETTING_SIZE,
                                 g_settingsPath);
}

void SaveSetting(char* setting, LPCSTR key, LPCSTR value)
{
    if (setting != value) {
        strncpy(setting, value, SETTING_SIZE - 1);
        setting[SETTING_SIZE - 1] = '\0';
    }
    WritePrivateProfileStringA(kSection, key, setting, g_settingsPath);
}

bool SettingIsYes(LPCSTR value)
{
    return strcmp(value, "YES") == 0;
}

bool DebugEnabled()
{
    return SettingIsYes(g_settings.debug);
}
