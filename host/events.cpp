// The fifteen events the host calls; most have nothing to do.
#include <string.h>

#include "host/messages.h"
#include "host/plugin_interface.h"
#include "settings/setup_dialog.h"

int WINAPI ZDC_OnStart(void) { return 0; }
int WINAPI ZDC_OnExit(void) { return 0; }
int WINAPI ZDC_OnOpenFolder(LPCSTR) { return 0; }
int WINAPI ZDC_OnEveryMinute(void) { return 0; }
int WINAPI ZDC_OnOpenCompose(HWND, LPARAM) { return 0; }
int WINAPI ZDC_OnOutgoing(HWND, LPARAM) { return 0; }
int WINAPI ZDC_OnKeyDispatch(HWND, LPARAM, LPARAM) { return 0; }
int WINAPI ZDC_OnRetrieve(LPCSTR, LPCSTR) { return 0; }
int WINAPI ZDC_OnSend(LPCSTR) { return 0; }
int WINAPI ZDC_OnFinishRetrieve(LPARAM) { return 0; }
int WINAPI ZDC_OnDragDrop(HWND, LPARAM, LPARAM, LPARAM) { return 0; }

int WINAPI ZDC_OnPlugInSetup(HWND parent)
{
    OpenSetupDialog(parent);
    return 1;
}

static void CopyField(char* field, const char* text)
{
    strncpy(field, text, PLUGIN_INFO_FIELD_SIZE - 1);
    field[PLUGIN_INFO_FIELD_SIZE - 1] = '\0';
}

int WINAPI ZDC_OnPlugInInfo(ZPluginInfo* info)
{
    CopyField(info->name, PLUGIN_NAME);
    CopyField(info->vendor, PLUGIN_VENDOR);
    CopyField(info->version, PLUGIN_VERSION);
    CopyField(info->description, PLUGIN_DESCRIPTION);
    return 0;
}
