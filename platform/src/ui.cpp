// Headless user interface: message boxes go to the driver that zhost or a
// test installs; menus are an in-memory model that can be read back.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <windows.h>
#include <zplatform.h>
#include "api_guard.h"

namespace {

ZMessageBoxHandler g_boxHandler = nullptr;
void* g_boxContext = nullptr;

struct MenuItem {
    UINT flags;
    UINT_PTR id;
    std::string text;
    HMENU submenu;
};

struct Menu {
    std::vector<MenuItem> items;
};

Menu* AsMenu(HMENU menu)
{
    return reinterpret_cast<Menu*>(menu);
}

const MenuItem* FindItem(HMENU menu, UINT item, UINT flags)
{
    Menu* m = AsMenu(menu);
    if (m == nullptr)
        return nullptr;
    if (flags & MF_BYPOSITION)
        return item < m->items.size() ? &m->items[item] : nullptr;
    for (const MenuItem& i : m->items)
        if (!(i.flags & MF_POPUP) && i.id == item)
            return &i;
    return nullptr;
}

}  // namespace

extern "C" {

void ZPlatformSetMessageBoxHandler(ZMessageBoxHandler handler, void* context)
{
    g_boxHandler = handler;
    g_boxContext = context;
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    API_GUARD_BEGIN
    if (g_boxHandler != nullptr)
        return g_boxHandler(g_boxContext, owner, text, caption, type);
    // No driver: the box is written out and answered as a user who declines would.
    fprintf(stderr, "box: [%s] %s\n", caption ? caption : "Error", text ? text : "");
    return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    API_GUARD_END(0, SYSTEM_MEMORY_ERROR)
}

HMENU WINAPI CreateMenu(void)
{
    API_GUARD_BEGIN
    return reinterpret_cast<HMENU>(new Menu());
    API_GUARD_END((HMENU)nullptr, SYSTEM_MEMORY_ERROR)
}

HMENU WINAPI CreatePopupMenu(void)
{
    API_GUARD_BEGIN
    return CreateMenu();
    API_GUARD_END((HMENU)nullptr, SYSTEM_MEMORY_ERROR)
}

BOOL WINAPI DestroyMenu(HMENU menu)
{
    Menu* m = AsMenu(menu);
    if (m == nullptr)
        return FALSE;
    for (MenuItem& item : m->items)
        if (item.submenu != nullptr)
            DestroyMenu(item.submenu);
    delete m;
    return TRUE;
}

BOOL WINAPI AppendMenuA(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, LPCSTR text)
{
    API_GUARD_BEGIN
    Menu* m = AsMenu(menu);
    if (m == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    MenuItem item;
    item.flags = flags;
    item.id = (flags & MF_POPUP) ? 0 : idOrSubmenu;
    item.submenu = (flags & MF_POPUP) ? reinterpret_cast<HMENU>(idOrSubmenu) : nullptr;
    if (!(flags & MF_SEPARATOR) && text != nullptr)
        item.text = text;
    m->items.push_back(item);
    return TRUE;
    API_GUARD_END(FALSE, SYSTEM_MEMORY_ERROR)
}

HMENU WINAPI GetSubMenu(HMENU menu, int position)
{
    Menu* m = AsMenu(menu);
    if (m == nullptr || position < 0 || (size_t)position >= m->items.size())
        return nullptr;
    return m->items[position].submenu;
}

int WINAPI GetMenuItemCount(HMENU menu)
{
    Menu* m = AsMenu(menu);
    return m == nullptr ? -1 : (int)m->items.size();
}

UINT WINAPI GetMenuItemID(HMENU menu, int position)
{
    const MenuItem* item = FindItem(menu, (UINT)position, MF_BYPOSITION);
    if (item == nullptr || (item->flags & MF_POPUP))
        return (UINT)-1;
    return (UINT)item->id;
}

int WINAPI GetMenuStringA(HMENU menu, UINT position, LPSTR buffer, int size, UINT flags)
{
    const MenuItem* item = FindItem(menu, position, flags);
    if (item == nullptr)
        return 0;
    int length = (int)item->text.size();
    if (buffer == nullptr || size <= 0)
        return length;
    if (length > size - 1)
        length = size - 1;
    memcpy(buffer, item->text.data(), length);
    buffer[length] = '\0';
    return length;
}

UINT WINAPI GetMenuState(HMENU menu, UINT position, UINT flags)
{
    const MenuItem* item = FindItem(menu, position, flags);
    if (item == nullptr)
        return (UINT)-1;
    UINT state = item->flags & (MF_SEPARATOR | MF_GRAYED);
    if (item->flags & MF_POPUP)
        state |= MF_POPUP | ((UINT)GetMenuItemCount(item->submenu) << 8);
    return state;
}

}  // extern "C"
