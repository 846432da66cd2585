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

enum { HOST_API_SLOT_COUNT = 54 };

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
        return ((ZDA_RegisterCommand_t)slots[3])(description, menuType, callback);
    }
    LPCSTR GetCurrentFolder() const { return ((ZDA_GetCurrentFolder_t)slots[10])(); }
    LPSTR GetSource(LPCSTR messageId) const { return ((ZDA_GetSource_t)slots[23])(messageId); }
    void SetSource(LPCSTR messageId, LPCSTR source) const
    {
        ((ZDA_SetSource_t)slots[24])(messageId, source);
    }
    void SetText(int mode, LPCSTR text) const { ((ZDA_SetText_t)slots[27])(mode, text); }
    LPSTR CompGetSource(HWND window) const { return ((ZDA_CompGetSource_t)slots[31])(window); }
    void CompSetSource(HWND window, LPCSTR source) const
    {
        ((ZDA_CompSetSource_t)slots[32])(window, source);
    }
    int CompGetSpecifiedHeader(HWND window, LPCSTR name, LPSTR buffer, int size) const
    {
        return ((ZDA_CompGetSpecifiedHeader_t)slots[34])(window, name, buffer, size);
    }
    void CompSetSpecifiedHeader(HWND window, LPCSTR name, LPCSTR value) const
    {
        ((ZDA_CompSetSpecifiedHeader_t)slots[35])(window, name, value);
    }
    void Free(void* text) const { ((ZDA_Free_t)slots[41])(text); }

    FARPROC slots[HOST_API_SLOT_COUNT];
    HMODULE hostModule;
};

// The module-wide table.
extern HostApi g_host;
