// The POSIX dialog driver: the platform hands every modal dialog to it after
// WM_INITDIALOG; it reads the controls and plays actions through the same
// window messages a real dialog exchanges.
#include <string.h>

#include <zplatform.h>

#include "zhost/dialog_script.h"

static void OnDialog(void* context, HWND dialog)
{
    RunDialogScript(*static_cast<DialogScript*>(context), dialog);
}

void DriveNextDialog(DialogScript* script)
{
    ZPlatformSetDialogHandler(script != NULL ? OnDialog : NULL, script);
}

INT_PTR LastDialogResult()
{
    return ZPlatformLastDialogResult();
}

bool DialogHasEnded(HWND dialog)
{
    return ZPlatformDialogEnded(dialog, NULL) != FALSE;
}

static BOOL CALLBACK CollectChild(HWND child, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(child);
    return TRUE;
}

static std::string ItemText(HWND control, int index)
{
    LRESULT length = SendMessageA(control, CB_GETLBTEXTLEN, (WPARAM)index, 0);
    if (length < 0)
        return std::string();
    std::vector<char> text((size_t)length + 1);
    SendMessageA(control, CB_GETLBTEXT, (WPARAM)index, (LPARAM)text.data());
    return std::string(text.data());
}

DialogState ReadDialogState(HWND dialog)
{
    DialogState state;
    char text[4096];
    GetWindowTextA(dialog, text, sizeof text);
    state.caption = text;
    std::vector<HWND> children;
    EnumChildWindows(dialog, CollectChild, (LPARAM)&children);
    HWND focus = GetFocus();
    state.focusId = focus != NULL ? GetDlgCtrlID(focus) : 0;
    for (HWND child : children) {
        DialogControlState c;
        c.id = GetDlgCtrlID(child);
        GetClassNameA(child, text, sizeof text);
        c.className = text;
        GetWindowTextA(child, text, sizeof text);
        c.text = text;
        DWORD style = (DWORD)GetWindowLongA(child, GWL_STYLE);
        if (strcasecmp(c.className.c_str(), "Button") == 0) {
            DWORD type = style & BS_TYPEMASK;
            c.checkBox = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
            c.checked = c.checkBox && SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED;
        } else if (strcasecmp(c.className.c_str(), "Static") == 0) {
            c.picture = (style & SS_TYPEMASK) == SS_BITMAP;
        } else if (strcasecmp(c.className.c_str(), "ComboBox") == 0) {
            c.list = true;
            int count = (int)SendMessageA(child, CB_GETCOUNT, 0, 0);
            for (int i = 0; i < count; ++i)
                c.items.push_back(ItemText(child, i));
            c.selection = (int)SendMessageA(child, CB_GETCURSEL, 0, 0);
        }
        state.controls.push_back(c);
    }
    return state;
}

static bool ClickButton(HWND dialog, int id, std::string* error)
{
    HWND button = GetDlgItem(dialog, id);
    if (button == NULL) {
        *error = "no control " + std::to_string(id);
        return false;
    }
    SendMessageA(button, BM_CLICK, 0, 0);
    return true;
}

bool PlayDialogAction(HWND dialog, const DialogAction& action, std::string* error)
{
    switch (action.kind) {
    case DialogAction::OK:
        return ClickButton(dialog, IDOK, error);
    case DialogAction::CANCEL:
        return ClickButton(dialog, IDCANCEL, error);
    case DialogAction::CHECK:
    case DialogAction::UNCHECK: {
        HWND box = GetDlgItem(dialog, action.id);
        DWORD type = (DWORD)GetWindowLongA(box, GWL_STYLE) & BS_TYPEMASK;
        if (box == NULL || (type != BS_CHECKBOX && type != BS_AUTOCHECKBOX)) {
            *error = "no check box " + std::to_string(action.id);
            return false;
        }
        bool want = action.kind == DialogAction::CHECK;
        // A click toggles the box and tells the dialog, as the user's click would.
        if ((SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED) != want)
            SendMessageA(box, BM_CLICK, 0, 0);
        return true;
    }
    case DialogAction::SELECT: {
        HWND list = GetDlgItem(dialog, action.id);
        char className[64] = "";
        if (list != NULL)
            GetClassNameA(list, className, sizeof className);
        if (strcasecmp(className, "ComboBox") != 0) {
            *error = "no list " + std::to_string(action.id);
            return false;
        }
        int count = (int)SendMessageA(list, CB_GETCOUNT, 0, 0);
        int index = action.position;
        for (int i = 0; index < 0 && i < count; ++i)
            if (ItemText(list, i) == action.item)
                index = i;
        if (index < 0 || index >= count) {
            *error = "list " + std::to_string(action.id) + " has no such item";
            return false;
        }
        SendMessageA(list, CB_SETCURSEL, (WPARAM)index, 0);
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(action.id, CBN_SELCHANGE), (LPARAM)list);
        return true;
    }
    }
    return false;
}
