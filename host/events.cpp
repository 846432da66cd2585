// The fifteen events the host calls; most have nothing to do.
#include "common/messages.h"
#include "common/text.h"
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

int WINAPI ZDC_OnPlugInInfo(ZPluginInfo* info)
{
    CopyText(info->name, PLUGIN_INFO_FIELD_SIZE, PLUGIN_NAME);
    CopyText(info->vendor, PLUGIN_INFO_FIELD_SIZE, PLUGIN_VENDOR);
    CopyText(info->version, PLUGIN_INFO_FIELD_SIZE, PLUGIN_VERSION);
    CopyText(info->description, PLUGIN_INFO_FIELD_SIZE, PLUGIN_DESCRIPTION);
    return 0;
}
