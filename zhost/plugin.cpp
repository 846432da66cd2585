// Loading the plug-in, building the host's menus and running its commands.
#include <string.h>

#include "zhost/zhost.h"

Plugin::~Plugin()
{
    Unload();
}

bool Plugin::Load(const std::string& path, std::string* error)
{
    module = LoadLibraryA(path.c_str());
    if (module == NULL) {
        *error = "cannot load the plug-in " + path;
        return false;
    }
    static const char* const kEvents[] = {
        "ZDC_OnStart",     "ZDC_OnExit",          "ZDC_OnMenuInit",    "ZDC_OnOpenFolder",
        "ZDC_OnOpenMail",  "ZDC_OnEveryMinute",   "ZDC_OnOpenCompose", "ZDC_OnOutgoing",
        "ZDC_OnKeyDispatch", "ZDC_OnRetrieve",    "ZDC_OnSend",        "ZDC_OnFinishRetrieve",
        "ZDC_OnPlugInSetup", "ZDC_OnPlugInInfo",  "ZDC_OnDragDrop",
    };
    for (const char* name : kEvents) {
        if (Event(name) == NULL) {
            *error = std::string("the plug-in does not export ") + name;
            Unload();
            return false;
        }
    }
    return true;
}

void Plugin::Unload()
{
    if (module != NULL)
        FreeLibrary(module);
    module = NULL;
}

FARPROC Plugin::Event(const char* name) const
{
    return GetProcAddress(module, name);
}

int Plugin::MenuInit(HWND window, HMENU menu, int menuType)
{
    return ((ZDC_OnMenuInit_t)Event("ZDC_OnMenuInit"))(window, menu, menuType);
}

int Plugin::OpenMail()
{
    return ((ZDC_OnOpenMail_t)Event("ZDC_OnOpenMail"))(NULL);
}

int Plugin::PlugInSetup(HWND parent)
{
    return ((ZDC_OnPlugInSetup_t)Event("ZDC_OnPlugInSetup"))(parent);
}

int Plugin::PlugInInfo(ZPluginInfo* info)
{
    return ((ZDC_OnPlugInInfo_t)Event("ZDC_OnPlugInInfo"))(info);
}

static HMENU BuildMenu(const char* const* titles, size_t count)
{
    HMENU bar = CreateMenu();
    for (size_t i = 0; i < count; ++i) {
        HMENU sub = CreatePopupMenu();
        AppendMenuA(sub, MF_STRING, 100 * (i + 1), "...");
        AppendMenuA(bar, MF_POPUP, (UINT_PTR)sub, titles[i]);
    }
    return bar;
}

HMENU BuildMainMenu()
{
    static const char* const kTitles[] = {"File", "Edit", "View", "Message", "Tools", "Help"};
    return BuildMenu(kTitles, sizeof kTitles / sizeof kTitles[0]);
}

HMENU BuildComposeMenu()
{
    static const char* const kTitles[] = {"File", "Edit", "View", "Tools", "Help"};
    return BuildMenu(kTitles, sizeof kTitles / sizeof kTitles[0]);
}

void PrintMenu(FILE* out, HMENU menu, int indent)
{
    int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = "";
        GetMenuStringA(menu, (UINT)i, text, sizeof text, MF_BYPOSITION);
        UINT state = GetMenuState(menu, (UINT)i, MF_BYPOSITION);
        fprintf(out, "%*s", indent, "");
        if (state & MF_POPUP) {
            fprintf(out, "[%d] %s\n", i, SjisToUtf8(text).c_str());
            PrintMenu(out, GetSubMenu(menu, i), indent + 2);
        } else if (state & MF_SEPARATOR) {
            fprintf(out, "----\n");
        } else {
            fprintf(out, "%s (id %u)\n", SjisToUtf8(text).c_str(), GetMenuItemID(menu, i));
        }
    }
}

bool RunMenuCommand(Plugin& plugin, int menuType, const char* description, HWND window)
{
    HMENU menu = menuType == MENU_TYPE_MAIN ? BuildMainMenu() : BuildComposeMenu();
    size_t first = Host().commands.size();
    plugin.MenuInit(window, menu, menuType);
    DestroyMenu(menu);
    for (size_t i = first; i < Host().commands.size(); ++i) {
        const RegisteredCommand& command = Host().commands[i];
        if (command.menuType == menuType && command.description == description) {
            command.callback(window, 0);
            return true;
        }
    }
    return false;
}
