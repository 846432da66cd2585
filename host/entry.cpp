#include "host/entry.h"

#include "common/host_api.h"
#include "common/module.h"
#include "common/user_texts.h"
#include "mime/base64.h"
#include "settings/settings.h"

void ReportForeignBase64Character(char c)
{
    if (!DebugEnabled())
        return;
    char text[128];
    wsprintfA(text, TEXT_FOREIGN_BASE64, (int)(signed char)c, (int)(signed char)c);
    MessageBoxA(NULL, text, TEXT_ERROR_CAPTION, MB_OK);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    g_instance = instance;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    if (!g_host.Bind())
        return FALSE;
    LoadSettings(instance);
    SetBase64ForeignCharacterHook(ReportForeignBase64Character);
    return TRUE;
}
