// Headless modal dialogs: a dialog is an in-memory model built from the
// module's dialog template. DialogBoxParamA sends WM_INITDIALOG, then hands
// the dialog to the driver that zhost or a test installed, which plays the
// user's actions as the messages a real dialog would send. When the driver
// returns (or there is none) and the dialog is still open, it is cancelled
// the way Escape cancels a real one.
#include <string.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <windows.h>
#include <zplatform.h>
#include "api_guard.h"

namespace {

struct Dialog;

enum ControlKind { CONTROL_BUTTON, CONTROL_EDIT, CONTROL_STATIC, CONTROL_COMBOBOX, CONTROL_OTHER };

struct Control {
    Dialog* dialog;
    int id;
    std::string className;
    ControlKind kind;
    DWORD style;
    std::string text;
    std::vector<std::string> items;  // combo box list
    int selection = CB_ERR;
    UINT check = BST_UNCHECKED;
};

struct Dialog {
    DLGPROC proc;
    HWND owner;
    std::string caption;
    std::vector<std::unique_ptr<Control>> controls;  // template order
    Control* focus = nullptr;
    bool ended = false;
    INT_PTR result = 0;
};

ZDialogHandler g_dialogHandler = nullptr;
void* g_dialogContext = nullptr;
INT_PTR g_lastResult = 0;
// The open dialogs, innermost last; a handle is valid only while listed here.
std::vector<Dialog*> g_dialogs;

ControlKind KindOf(const char* className)
{
    if (strcasecmp(className, "Button") == 0)
        return CONTROL_BUTTON;
    if (strcasecmp(className, "Edit") == 0)
        return CONTROL_EDIT;
    if (strcasecmp(className, "Static") == 0)
        return CONTROL_STATIC;
    if (strcasecmp(className, "ComboBox") == 0)
        return CONTROL_COMBOBOX;
    return CONTROL_OTHER;
}

Dialog* AsDialog(HWND window)
{
    for (Dialog* d : g_dialogs)
        if (reinterpret_cast<HWND>(d) == window)
            return d;
    return nullptr;
}

Control* AsControl(HWND window)
{
    for (Dialog* d : g_dialogs)
        for (const std::unique_ptr<Control>& c : d->controls)
            if (reinterpret_cast<HWND>(c.get()) == window)
                return c.get();
    return nullptr;
}

HWND Handle(Control* control)
{
    return reinterpret_cast<HWND>(control);
}

Control* FindControl(HWND dialog, int id)
{
    Dialog* d = AsDialog(dialog);
    if (d == nullptr)
        return nullptr;
    for (const std::unique_ptr<Control>& c : d->controls)
        if (c->id == (WORD)id)
            return c.get();
    return nullptr;
}

const ZDialogTemplate* FindTemplate(HINSTANCE instance, LPCSTR name)
{
    if (!IS_INTRESOURCE(name))
        return nullptr;  // the module's dialogs are all numbered
    const ZModuleResources* resources = ZPlatformModuleResourcesOf(instance);
    if (resources == nullptr)
        return nullptr;
    int id = (int)(ULONG_PTR)name;
    for (int i = 0; i < resources->dialogCount; ++i)
        if (resources->dialogs[i].id == id)
            return &resources->dialogs[i];
    return nullptr;
}

unsigned char FoldAscii(unsigned char c)
{
    return (c >= 'a' && c <= 'z') ? (unsigned char)(c - 'a' + 'A') : c;
}

// Whether a Shift-JIS text begins with `prefix`, ignoring the case of
// single-byte letters only, so that a trail byte that happens to be a
// letter's code is never folded (the lists' prefix search).
bool BeginsWithNoCase(const char* text, const char* prefix)
{
    const unsigned char* a = (const unsigned char*)text;
    const unsigned char* b = (const unsigned char*)prefix;
    for (;;) {
        if (*b == '\0')
            return true;
        if (*a == '\0')
            return false;
        if (IsDBCSLeadByte(*a) || IsDBCSLeadByte(*b)) {
            int width = (IsDBCSLeadByte(*a) && a[1] != '\0') ? 2 : 1;
            if (memcmp(a, b, width) != 0 || (IsDBCSLeadByte(*b) && b[1] != '\0') != (width == 2))
                return false;
            a += width;
            b += width;
            continue;
        }
        if (FoldAscii(*a) != FoldAscii(*b))
            return false;
        ++a;
        ++b;
    }
}

// The weight of a single-byte character in the order of user32's sorted
// lists (CompareString with NORM_IGNORECASE, word sort): symbols in the
// system's own order, then digits, then letters of either case; 0 for the
// hyphen and the apostrophe, which count only when all else is equal.
int SortWeight(unsigned char c)
{
    static const char kSymbols[] = " !\"#$%&()*,./:;?@[]^_`{|}~\\+<=>";
    if (c == '-' || c == '\'')
        return 0;
    if (c != '\0' && strchr(kSymbols, c) != nullptr)
        return 1 + (int)(strchr(kSymbols, c) - kSymbols);
    if (c >= '0' && c <= '9')
        return 100 + (c - '0');
    if (FoldAscii(c) >= 'A' && FoldAscii(c) <= 'Z')
        return 200 + (FoldAscii(c) - 'A');
    return 300 + c;
}

// A text's sort weights, a double-byte character as one, and apart from
// them the hyphens and apostrophes it holds.
void SortKey(const char* text, std::vector<int>& weights, std::string& ignored)
{
    for (const unsigned char* p = (const unsigned char*)text; *p != '\0'; ++p) {
        if (IsDBCSLeadByte(*p) && p[1] != '\0') {
            weights.push_back(0x10000 + (p[0] << 8 | p[1]));
            ++p;
        } else if (SortWeight(*p) == 0) {
            ignored += (char)*p;
        } else {
            weights.push_back(SortWeight(*p));
        }
    }
}

// How user32 orders two items of a sorted list, and whether an exact search
// takes one for the other: letter case does not count, hyphens and
// apostrophes only between texts that are otherwise equal.
int CompareForSort(const char* a, const char* b)
{
    std::vector<int> wa, wb;
    std::string ia, ib;
    SortKey(a, wa, ia);
    SortKey(b, wb, ib);
    if (wa != wb)
        return wa < wb ? -1 : 1;
    if (ia.size() != ib.size())
        return ia.size() < ib.size() ? -1 : 1;
    int order = ia.compare(ib);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

// Where a sorted list puts a new item: user32 bisects the list and stops at
// the first item it meets that compares equal, so a new item goes before an
// equal one rather than after it.
size_t SortedPosition(const std::vector<std::string>& items, const char* text)
{
    int low = 0, high = (int)items.size() - 1;
    while (low <= high) {
        int middle = (low + high) / 2;
        int order = CompareForSort(items[middle].c_str(), text);
        if (order == 0)
            return (size_t)middle;
        if (order > 0)
            high = middle - 1;
        else
            low = middle + 1;
    }
    return (size_t)low;
}

LRESULT CopyText(const std::string& text, WPARAM size, LPARAM buffer)
{
    char* out = reinterpret_cast<char*>(buffer);
    if (out == nullptr || size == 0)
        return 0;
    size_t n = std::min(text.size(), (size_t)size - 1);
    memcpy(out, text.data(), n);
    out[n] = '\0';
    return (LRESULT)n;
}

// The first item, searching after `start` and wrapping round, that matches.
int FindItem(const Control& c, WPARAM start, const char* text, bool exact)
{
    int count = (int)c.items.size();
    if (text == nullptr || count == 0)
        return CB_ERR;
    int first = ((int)start < 0 || (int)start >= count) ? 0 : (int)start + 1;
    for (int k = 0; k < count; ++k) {
        int i = (first + k) % count;
        if (exact ? CompareForSort(c.items[i].c_str(), text) == 0 : BeginsWithNoCase(c.items[i].c_str(), text))
            return i;
    }
    return CB_ERR;
}

void NotifyParent(Control* c, WORD code)
{
    Dialog* d = c->dialog;
    if (!d->ended)
        d->proc(reinterpret_cast<HWND>(d), WM_COMMAND, MAKEWPARAM(c->id, code), (LPARAM)Handle(c));
}

std::string WindowText(const Control& c)
{
    // A drop-down list shows its selected item.
    if (c.kind == CONTROL_COMBOBOX)
        return c.selection >= 0 ? c.items[c.selection] : std::string();
    return c.text;
}

LRESULT ComboBoxMessage(Control& c, UINT msg, WPARAM wParam, LPARAM lParam)
{
    int count = (int)c.items.size();
    const char* text = reinterpret_cast<const char*>(lParam);
    switch (msg) {
    case CB_ADDSTRING: {
        if (text == nullptr)
            return CB_ERR;
        size_t at = (c.style & CBS_SORT) ? SortedPosition(c.items, text) : c.items.size();
        c.items.insert(c.items.begin() + at, text);
        if (c.selection >= (int)at)
            ++c.selection;
        return (LRESULT)at;
    }
    case CB_INSERTSTRING: {
        int at = (int)wParam == -1 ? count : (int)wParam;
        if (text == nullptr || at < 0 || at > count)
            return CB_ERR;
        c.items.insert(c.items.begin() + at, text);
        if (c.selection >= at)
            ++c.selection;
        return at;
    }
    case CB_DELETESTRING: {
        int at = (int)wParam;
        if (at < 0 || at >= count)
            return CB_ERR;
        c.items.erase(c.items.begin() + at);
        if (c.selection == at)
            c.selection = CB_ERR;
        else if (c.selection > at)
            --c.selection;
        return count - 1;
    }
    case CB_RESETCONTENT:
        c.items.clear();
        c.selection = CB_ERR;
        return CB_OKAY;
    case CB_GETCOUNT:
        return count;
    case CB_GETCURSEL:
        return c.selection;
    case CB_SETCURSEL:
        // An index out of range clears the selection and reports CB_ERR.
        if ((int)wParam < 0 || (int)wParam >= count) {
            c.selection = CB_ERR;
            return CB_ERR;
        }
        c.selection = (int)wParam;
        return c.selection;
    case CB_GETLBTEXTLEN:
        if ((int)wParam < 0 || (int)wParam >= count)
            return CB_ERR;
        return (LRESULT)c.items[wParam].size();
    case CB_GETLBTEXT: {
        if ((int)wParam < 0 || (int)wParam >= count || lParam == 0)
            return CB_ERR;
        const std::string& item = c.items[wParam];
        memcpy(reinterpret_cast<char*>(lParam), item.c_str(), item.size() + 1);
        return (LRESULT)item.size();
    }
    case CB_FINDSTRING:
        return FindItem(c, wParam, text, false);
    case CB_FINDSTRINGEXACT:
        return FindItem(c, wParam, text, true);
    case CB_SELECTSTRING: {
        // No match leaves the selection as it was.
        int found = FindItem(c, wParam, text, false);
        if (found != CB_ERR)
            c.selection = found;
        return found;
    }
    default:
        return 0;
    }
}

LRESULT ButtonMessage(Control& c, UINT msg, WPARAM wParam, LPARAM)
{
    DWORD type = c.style & BS_TYPEMASK;
    bool checkBox = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX;
    switch (msg) {
    case BM_GETCHECK:
        return checkBox ? c.check : BST_UNCHECKED;
    case BM_SETCHECK:
        if (checkBox)
            c.check = wParam == BST_CHECKED ? BST_CHECKED : BST_UNCHECKED;
        return 0;
    case BM_CLICK:
        // What a mouse click does: an automatic check box toggles, then the parent hears of it.
        if (type == BS_AUTOCHECKBOX)
            c.check = c.check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
        c.dialog->focus = &c;
        NotifyParent(&c, BN_CLICKED);
        return 0;
    default:
        return 0;
    }
}

LRESULT ControlMessage(Control& c, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_SETTEXT:
        if (c.kind == CONTROL_COMBOBOX)
            return CB_ERR;  // a drop-down list has no text of its own
        c.text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
        return TRUE;
    case WM_GETTEXT:
        return CopyText(WindowText(c), wParam, lParam);
    case WM_GETTEXTLENGTH:
        return (LRESULT)WindowText(c).size();
    default:
        break;
    }
    if (c.kind == CONTROL_COMBOBOX)
        return ComboBoxMessage(c, msg, wParam, lParam);
    if (c.kind == CONTROL_BUTTON)
        return ButtonMessage(c, msg, wParam, lParam);
    return 0;
}

std::unique_ptr<Dialog> BuildDialog(const ZDialogTemplate& t, HWND owner, DLGPROC proc)
{
    std::unique_ptr<Dialog> d(new Dialog());
    d->proc = proc;
    d->owner = owner;
    d->caption = t.caption != nullptr ? t.caption : "";
    for (int i = 0; i < t.itemCount; ++i) {
        const ZDialogItemTemplate& item = t.items[i];
        std::unique_ptr<Control> c(new Control());
        c->dialog = d.get();
        // A DIALOG template holds 16-bit identifiers: -1 reads back as 65535, as in user32.
        c->id = (WORD)item.id;
        c->className = item.className;
        c->kind = KindOf(item.className);
        c->style = item.style;
        if (c->kind != CONTROL_COMBOBOX && item.text != nullptr)
            c->text = item.text;
        d->controls.push_back(std::move(c));
    }
    return d;
}

Control* FirstTabStop(Dialog& d)
{
    for (const std::unique_ptr<Control>& c : d.controls)
        if ((c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED))
            return c.get();
    return nullptr;
}

}  // namespace

extern "C" {

void ZPlatformSetDialogHandler(ZDialogHandler handler, void* context)
{
    g_dialogHandler = handler;
    g_dialogContext = context;
}

BOOL ZPlatformDialogEnded(HWND dialog, INT_PTR* result)
{
    Dialog* d = AsDialog(dialog);
    if (d == nullptr || !d->ended)
        return FALSE;
    if (result != nullptr)
        *result = d->result;
    return TRUE;
}

INT_PTR ZPlatformLastDialogResult(void)
{
    return g_lastResult;
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner, DLGPROC proc,
                               LPARAM initParam)
{
    API_GUARD_BEGIN
    const ZDialogTemplate* t = FindTemplate(instance, templateName);
    if (t == nullptr) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    if (proc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    std::unique_ptr<Dialog> dialog = BuildDialog(*t, owner, proc);
    Dialog* d = dialog.get();
    HWND handle = reinterpret_cast<HWND>(d);
    g_dialogs.push_back(d);

    Control* first = FirstTabStop(*d);
    // TRUE asks the system to focus the control named in wParam.
    if (proc(handle, WM_INITDIALOG, (WPARAM)Handle(first), initParam))
        d->focus = first;
    if (!d->ended && g_dialogHandler != nullptr)
        g_dialogHandler(g_dialogContext, handle);
    if (!d->ended)
        proc(handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), (LPARAM)Handle(FindControl(handle, IDCANCEL)));
    if (!d->ended) {
        // A procedure that ignores Cancel would keep a real dialog open for
        // ever; here nobody is left to close it.
        d->ended = true;
        d->result = IDCANCEL;
    }
    g_dialogs.erase(std::find(g_dialogs.begin(), g_dialogs.end(), d));
    g_lastResult = d->result;
    return d->result;
    API_GUARD_END((INT_PTR)-1, SYSTEM_MEMORY_ERROR)
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result)
{
    Dialog* d = AsDialog(dialog);
    if (d == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    if (!d->ended) {
        d->ended = true;
        d->result = result;
    }
    return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id)
{
    Control* c = FindControl(dialog, id);
    if (c == nullptr)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return Handle(c);
}

int WINAPI GetDlgCtrlID(HWND window)
{
    Control* c = AsControl(window);
    return c != nullptr ? c->id : 0;
}

BOOL WINAPI IsWindow(HWND window)
{
    return AsDialog(window) != nullptr || AsControl(window) != nullptr;
}

LRESULT WINAPI SendMessageA(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)
{
    API_GUARD_BEGIN
    if (Control* c = AsControl(window))
        return ControlMessage(*c, msg, wParam, lParam);
    if (Dialog* d = AsDialog(window)) {
        if (msg == WM_GETTEXT)
            return CopyText(d->caption, wParam, lParam);
        if (msg == WM_GETTEXTLENGTH)
            return (LRESULT)d->caption.size();
        return d->proc(window, msg, wParam, lParam);
    }
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
    API_GUARD_END((LRESULT)CB_ERRSPACE, SYSTEM_MEMORY_ERROR)
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam)
{
    API_GUARD_BEGIN
    Control* c = FindControl(dialog, id);
    if (c == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return ControlMessage(*c, msg, wParam, lParam);
    API_GUARD_END((LRESULT)CB_ERRSPACE, SYSTEM_MEMORY_ERROR)
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text)
{
    API_GUARD_BEGIN
    Control* c = FindControl(dialog, id);
    if (c == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    return ControlMessage(*c, WM_SETTEXT, 0, (LPARAM)text) == TRUE;
    API_GUARD_END(FALSE, SYSTEM_MEMORY_ERROR)
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR buffer, int size)
{
    API_GUARD_BEGIN
    Control* c = FindControl(dialog, id);
    if (c == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        if (buffer != nullptr && size > 0)
            buffer[0] = '\0';
        return 0;
    }
    return (UINT)ControlMessage(*c, WM_GETTEXT, size > 0 ? (WPARAM)size : 0, (LPARAM)buffer);
    API_GUARD_END(0, SYSTEM_MEMORY_ERROR)
}

BOOL WINAPI CheckDlgButton(HWND dialog, int id, UINT check)
{
    Control* c = FindControl(dialog, id);
    if (c == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    ControlMessage(*c, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT WINAPI IsDlgButtonChecked(HWND dialog, int id)
{
    Control* c = FindControl(dialog, id);
    return c != nullptr ? (UINT)ControlMessage(*c, BM_GETCHECK, 0, 0) : BST_UNCHECKED;
}

BOOL WINAPI EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam)
{
    API_GUARD_BEGIN
    Dialog* d = AsDialog(parent);
    if (d == nullptr || proc == nullptr)
        return FALSE;
    // Children are visited in template order, as the system creates them.
    std::vector<HWND> children;
    for (const std::unique_ptr<Control>& c : d->controls)
        children.push_back(Handle(c.get()));
    for (HWND child : children)
        if (!proc(child, lParam))
            break;
    return TRUE;
    API_GUARD_END(FALSE, SYSTEM_MEMORY_ERROR)
}

int WINAPI GetClassNameA(HWND window, LPSTR buffer, int size)
{
    Control* c = AsControl(window);
    if (c == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    return (int)CopyText(c->className, size > 0 ? (WPARAM)size : 0, (LPARAM)buffer);
}

int WINAPI GetWindowTextA(HWND window, LPSTR buffer, int size)
{
    return (int)SendMessageA(window, WM_GETTEXT, size > 0 ? (WPARAM)size : 0, (LPARAM)buffer);
}

LONG WINAPI GetWindowLongA(HWND window, int index)
{
    Control* c = AsControl(window);
    if (c == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    if (index == GWL_STYLE)
        return (LONG)c->style;
    if (index == GWL_ID)
        return c->id;
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

HWND WINAPI GetFocus(void)
{
    if (g_dialogs.empty())
        return nullptr;
    return Handle(g_dialogs.back()->focus);
}

}  // extern "C"
