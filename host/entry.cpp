#include "host/entry.h"

#include "host/host_api.h"
#include "host/messages.h"
#include "settings/settings.h"

HINSTANCE g_instance = NULL;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/)
{
    g_instance = instance;
    if (reason == DLL_PROCESS_DETACH)
        ReleaseLastErrorText();  // the one buffer the plug-in keeps between calls
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    if (!g_host.Bind())
        return FALSE;
    LoadSettings(instance);
    return TRUE;
}
