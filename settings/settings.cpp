#include "settings/settings.h"

#include <stddef.h>
#include <string.h>

#include "common/text.h"

Settings g_settings;
char g_settingsPath[MAX_PATH];

static const char kSection[] = "Settings";

struct SettingKey {
    const char* name;
    const char* defaultValue;
    size_t offset;  // of the value in Settings
};

static const SettingKey kKeys[] = {
    {"encAlg", "AES(256bit)", offsetof(Settings, encAlg)},
    {"encCert", "", offsetof(Settings, encCert)},
    {"signHashOID", "2.16.840.1.101.3.4.2.1", offsetof(Settings, signHashOID)},
    {"signCert", "", offsetof(Settings, signCert)},
    {"useOLStore", "NO", offsetof(Settings, useOLStore)},
    {"detachedSig", "NO", offsetof(Settings, detachedSig)},
    {"receivingBehavior", "AddNotice", offsetof(Settings, receivingBehavior)},
    {"debug", "NO", offsetof(Settings, debug)},
};

static char* ValueOf(Settings& settings, const SettingKey& key)
{
    return reinterpret_cast<char*>(&settings) + key.offset;
}

static const char* ValueOf(const Settings& settings, const SettingKey& key)
{
    return reinterpret_cast<const char*>(&settings) + key.offset;
}

// The module's path with its extension replaced by ".ini"; false (and an
// empty path) when the module's path or the result does not fit the buffer,
// since a cut path would name another file, possibly in a parent folder.
static bool BuildSettingsPath(HINSTANCE module)
{
    memset(g_settingsPath, 0, sizeof g_settingsPath);
    DWORD length = GetModuleFileNameA(module, g_settingsPath, sizeof g_settingsPath);
    if (length == 0 || length >= sizeof g_settingsPath) {
        g_settingsPath[0] = '\0';
        return false;
    }
    char* dot = strrchr(g_settingsPath, '.');
    size_t keep = dot != NULL ? (size_t)(dot - g_settingsPath) : length;
    if (keep + sizeof ".ini" > sizeof g_settingsPath) {
        g_settingsPath[0] = '\0';
        return false;
    }
    memcpy(g_settingsPath + keep, ".ini", sizeof ".ini");
    return true;
}

void LoadSettings(HINSTANCE module)
{
    bool havePath = BuildSettingsPath(module);
    for (const SettingKey& key : kKeys) {
        char* value = ValueOf(g_settings, key);
        if (havePath)
            GetPrivateProfileStringA(kSection, key.name, key.defaultValue, value, SETTING_SIZE, g_settingsPath);
        else
            strcpy(value, key.defaultValue);
    }
}

SaveResult SaveSettings(const Settings& next)
{
    if (g_settingsPath[0] == '\0')
        return SAVE_NO_PATH;
    size_t count = sizeof kKeys / sizeof kKeys[0];
    for (size_t i = 0; i < count; ++i) {
        if (WritePrivateProfileStringA(kSection, kKeys[i].name, ValueOf(next, kKeys[i]), g_settingsPath))
            continue;
        // Best effort: the file should again hold what the loaded values say.
        while (i-- > 0)
            WritePrivateProfileStringA(kSection, kKeys[i].name, ValueOf(g_settings, kKeys[i]), g_settingsPath);
        return SAVE_WRITE_FAILED;
    }
    for (const SettingKey& key : kKeys) {
        char* value = ValueOf(g_settings, key);
        CopyText(value, SETTING_SIZE, ValueOf(next, key));
    }
    return SAVE_DONE;
}

bool SettingIsYes(LPCSTR value)
{
    return strcmp(value, "YES") == 0;
}

bool DebugEnabled()
{
    return SettingIsYes(g_settings.debug);
}
