// What the host and the plug-in share: the exported events and the information record.
#pragma once

#include <windows.h>

enum { PLUGIN_INFO_FIELD_SIZE = 80 };

// Four consecutive text fields, filled by ZDC_OnPlugInInfo.
struct ZPluginInfo {
    char name[PLUGIN_INFO_FIELD_SIZE];
    char vendor[PLUGIN_INFO_FIELD_SIZE];
    char version[PLUGIN_INFO_FIELD_SIZE];
    char description[PLUGIN_INFO_FIELD_SIZE];
};

// The host's menu types: the main window and a composition window.
enum { MENU_TYPE_MAIN = 0, MENU_TYPE_COMPOSE = 10 };

#ifdef __cplusplus
extern "C" {
#endif

int WINAPI ZDC_OnStart(void);
int WINAPI ZDC_OnExit(void);
int WINAPI ZDC_OnMenuInit(HWND window, HMENU menu, int menuType);
int WINAPI ZDC_OnOpenFolder(LPCSTR folder);
int WINAPI ZDC_OnOpenMail(LPCSTR messageId);
int WINAPI ZDC_OnEveryMinute(void);
int WINAPI ZDC_OnOpenCompose(HWND window, LPARAM mode);
int WINAPI ZDC_OnOutgoing(HWND window, LPARAM mode);
int WINAPI ZDC_OnKeyDispatch(HWND window, LPARAM key, LPARAM flags);
int WINAPI ZDC_OnRetrieve(LPCSTR messageId, LPCSTR mailbox);
int WINAPI ZDC_OnSend(LPCSTR messageId);
int WINAPI ZDC_OnFinishRetrieve(LPARAM count);
int WINAPI ZDC_OnPlugInSetup(HWND parent);
int WINAPI ZDC_OnPlugInInfo(ZPluginInfo* info);
int WINAPI ZDC_OnDragDrop(HWND window, LPARAM files, LPARAM x, LPARAM y);

#ifdef __cplusplus
}
#endif

typedef int(WINAPI* ZDC_OnMenuInit_t)(HWND, HMENU, int);
typedef int(WINAPI* ZDC_OnOpenMail_t)(LPCSTR);
typedef int(WINAPI* ZDC_OnPlugInSetup_t)(HWND);
typedef int(WINAPI* ZDC_OnPlugInInfo_t)(ZPluginInfo*);
typedef int(WINAPI* ZDC_NoArgument_t)(void);
