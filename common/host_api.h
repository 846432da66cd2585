// The table of the host's 54 exported functions, bound by name at load.
#pragma once

#include <windows.h>

// A command callback that the host calls when the user picks a plug-in menu item.
typedef void(WINAPI* ZCommandCallback)(HWND window, LPARAM value);

// Signatures of the ten host functions the plug-in calls.
typedef int(WINAPI* ZDA_RegisterCommand_t)(LPCSTR description, int menuType, ZCommandCallback callback);
typedef LPCSTR(WINAPI* ZDA_GetCurrentFolder_t)(void);
typedef LPSTR(WINAPI* ZDA_GetSource_t)(LPCSTR messageId);
typedef void(WINAPI* ZDA_SetSource_t)(LPCSTR messageId, LPCSTR source);
typedef void(WINAPI* ZDA_SetText_t)(int mode, LPCSTR text);
typedef LPSTR(WINAPI* ZDA_CompGetSource_t)(HWND window);
typedef void(WINAPI* ZDA_CompSetSource_t)(HWND window, LPCSTR source);
typedef int(WINAPI* ZDA_CompGetSpecifiedHeader_t)(HWND window, LPCSTR name, LPSTR buffer, int size);
typedef void(WINAPI* ZDA_CompSetSpecifiedHeader_t)(HWND window, LPCSTR name, LPCSTR value);
typedef void(WINAPI* ZDA_Free_t)(void* text);

// The host's 54 functions: X(name, slot), in slot order.
#define HOST_API_SLOTS(X) \
    X(ZDA_GetVersion, 0) \
    X(ZDA_Command, 1) \
    X(ZDA_GetWindowHandles, 2) \
    X(ZDA_RegisterCommand, 3) \
    X(ZDA_RegisterUICallback, 4) \
    X(ZDA_GetDataFolder, 5) \
    X(ZDA_GetTempFolder, 6) \
    X(ZDA_GetTempFileName, 7) \
    X(ZDA_GetCurrentMailBox, 8) \
    X(ZDA_SetCurrentMailBox, 9) \
    X(ZDA_GetCurrentFolder, 10) \
    X(ZDA_SetCurrentFolder, 11) \
    X(ZDA_GetFolderDisplayName, 12) \
    X(ZDA_SetMessageText, 13) \
    X(ZDA_GetCurrentMail, 14) \
    X(ZDA_SetCurrentMail, 15) \
    X(ZDA_GetNextMail, 16) \
    X(ZDA_SetSel, 17) \
    X(ZDA_AppendMessage, 18) \
    X(ZDA_MoveSelectedMessages, 19) \
    X(ZDA_GetStatus, 20) \
    X(ZDA_ComposeMail, 21) \
    X(ZDA_GetCharSet, 22) \
    X(ZDA_GetSource, 23) \
    X(ZDA_SetSource, 24) \
    X(ZDA_GetHeader, 25) \
    X(ZDA_GetText, 26) \
    X(ZDA_SetText, 27) \
    X(ZDA_GetSpecifiedHeader, 28) \
    X(ZDA_SetSpecifiedHeader, 29) \
    X(ZDA_CompGetCharSet, 30) \
    X(ZDA_CompGetSource, 31) \
    X(ZDA_CompSetSource, 32) \
    X(ZDA_CompGetHeader, 33) \
    X(ZDA_CompGetSpecifiedHeader, 34) \
    X(ZDA_CompSetSpecifiedHeader, 35) \
    X(ZDA_CompGetText, 36) \
    X(ZDA_CompSetText, 37) \
    X(ZDA_CompAttachFile, 38) \
    X(ZDA_Alloc, 39) \
    X(ZDA_ReAlloc, 40) \
    X(ZDA_Free, 41) \
    X(ZDA_ISO_2022_JP, 42) \
    X(ZDA_ISO_2022_KR, 43) \
    X(ZDA_HZ_GB2312, 44) \
    X(ZDA_ISO_8859_2, 45) \
    X(ZDA_EUC_JP, 46) \
    X(ZDA_UTF_7, 47) \
    X(ZDA_UTF_8, 48) \
    X(ZDA_B64Convert, 49) \
    X(ZDA_QPConvert, 50) \
    X(ZDA_MIMEHeader, 51) \
    X(ZDA_SerializeRcpts, 52) \
    X(ZDA_Connect, 53)

// SLOT_ZDA_GetSource and so on, each the number written beside its name.
enum HostApiSlot {
#define HOST_API_SLOT_ENUM(name, slot) SLOT_##name,
    HOST_API_SLOTS(HOST_API_SLOT_ENUM)
#undef HOST_API_SLOT_ENUM
    HOST_API_SLOT_COUNT
};

// The host function names in slot order.
extern const char* const kHostApiNames[HOST_API_SLOT_COUNT];

class HostApi {
public:
    HostApi();
    ~HostApi() {}

    // Looks every name up in the host executable; true when all 54 were found.
    bool Bind();
    bool IsBound() const { return hostModule != NULL; }

    // Calls into the host; valid only on a bound table.
    int RegisterCommand(LPCSTR description, int menuType, ZCommandCallback callback) const
    {
        return ((ZDA_RegisterCommand_t)slots[SLOT_ZDA_RegisterCommand])(description, menuType, callback);
    }
    LPCSTR GetCurrentFolder() const { return ((ZDA_GetCurrentFolder_t)slots[SLOT_ZDA_GetCurrentFolder])(); }
    LPSTR GetSource(LPCSTR messageId) const { return ((ZDA_GetSource_t)slots[SLOT_ZDA_GetSource])(messageId); }
    void SetSource(LPCSTR messageId, LPCSTR source) const
    {
        ((ZDA_SetSource_t)slots[SLOT_ZDA_SetSource])(messageId, source);
    }
    void SetText(int mode, LPCSTR text) const { ((ZDA_SetText_t)slots[SLOT_ZDA_SetText])(mode, text); }
    LPSTR CompGetSource(HWND window) const { return ((ZDA_CompGetSource_t)slots[SLOT_ZDA_CompGetSource])(window); }
    void CompSetSource(HWND window, LPCSTR source) const
    {
        ((ZDA_CompSetSource_t)slots[SLOT_ZDA_CompSetSource])(window, source);
    }
    int CompGetSpecifiedHeader(HWND window, LPCSTR name, LPSTR buffer, int size) const
    {
        return ((ZDA_CompGetSpecifiedHeader_t)slots[SLOT_ZDA_CompGetSpecifiedHeader])(window, name, buffer, size);
    }
    void CompSetSpecifiedHeader(HWND window, LPCSTR name, LPCSTR value) const
    {
        ((ZDA_CompSetSpecifiedHeader_t)slots[SLOT_ZDA_CompSetSpecifiedHeader])(window, name, value);
    }
    void Free(void* text) const { ((ZDA_Free_t)slots[SLOT_ZDA_Free])(text); }

    FARPROC slots[HOST_API_SLOT_COUNT];
    HMODULE hostModule;
};

// The module-wide table.
extern HostApi g_host;
