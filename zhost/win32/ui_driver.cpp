// The Windows driver: the plug-in's message boxes and dialogs are real user32
// windows. A CBT hook on zhost's thread sees each one as it is activated; a
// message box is transcribed and answered by pressing its button, any other
// dialog is handed to the dialog handler from inside its own modal loop.
#include <stdlib.h>

#include <string>
#include <vector>

#include <windows.h>

#include "zhost/zhost.h"
#include <zplatform.h>

namespace {

const WORD kMessageBoxTextId = 0xFFFF;  // the static text of a message box
const char kSeenProperty[] = "zhost.seen";

HHOOK g_hook = NULL;
ZMessageBoxHandler g_boxHandler = NULL;
void* g_boxContext = NULL;
ZDialogHandler g_dialogHandler = NULL;
void* g_dialogContext = NULL;
std::vector<HWND> g_pendingDialogs;
HWND g_drivenDialog = NULL;       // the dialog whose buttons are being watched
INT_PTR g_lastClicked = 0;        // the last command button clicked in it
INT_PTR g_lastDialogResult = 0;
HHOOK g_clickHook = NULL;

std::string WindowText(HWND window)
{
    int length = GetWindowTextLengthA(window);
    std::string text(length + 1, '\0');
    int got = GetWindowTextA(window, &text[0], length + 1);
    text.resize(got > 0 ? got : 0);
    return text;
}

bool IsDialogWindow(HWND window)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof name);
    return lstrcmpA(name, "#32770") == 0;
}

// A message box's text is a plain static with the identifier 0xFFFF; a dialog
// may have a static with that identifier too, but then a picture or a label
// among other controls, never a message box's lone text.
bool IsMessageBox(HWND window)
{
    HWND text = GetDlgItem(window, kMessageBoxTextId);
    if (text == NULL)
        return false;
    char name[16] = "";
    GetClassNameA(text, name, sizeof name);
    LONG type = GetWindowLongA(text, GWL_STYLE) & SS_TYPEMASK;
    if (lstrcmpiA(name, "Static") != 0 || type == SS_BITMAP || type == SS_ICON)
        return false;
    for (HWND child = GetWindow(window, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        GetClassNameA(child, name, sizeof name);
        if (lstrcmpiA(name, "ComboBox") == 0 || lstrcmpiA(name, "Edit") == 0)
            return false;
    }
    return true;
}

void PressButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void AnswerBox(HWND box)
{
    std::string text = WindowText(GetDlgItem(box, kMessageBoxTextId));
    std::string caption = WindowText(box);
    bool yesNo = GetDlgItem(box, IDYES) != NULL && GetDlgItem(box, IDNO) != NULL;
    UINT type = yesNo ? MB_YESNO : MB_OK;
    int answer = g_boxHandler != NULL
                     ? g_boxHandler(g_boxContext, GetWindow(box, GW_OWNER), text.c_str(), caption.c_str(), type)
                     : (yesNo ? IDNO : IDOK);
    if (GetDlgItem(box, answer) == NULL)
        answer = yesNo ? IDNO : IDOK;
    PressButton(box, answer);
}

// Lets the dialog paint and be looked at (screenshots) before it is driven.
void PauseIfAsked()
{
    const char* pause = getenv("ZHOST_DIALOG_PAUSE_MS");
    if (pause == NULL)
        return;
    DWORD until = GetTickCount() + (DWORD)atoi(pause);
    while ((LONG)(until - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(20);
    }
}

// Which push button reached the dialog procedure last: the one whose click
// ended the dialog, when it has ended.
LRESULT CALLBACK OnCallWindowProc(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT* call = (const CWPSTRUCT*)lParam;
    if (code == HC_ACTION && call->hwnd == g_drivenDialog && call->message == WM_COMMAND &&
        HIWORD(call->wParam) == BN_CLICKED && (LOWORD(call->wParam) == IDOK || LOWORD(call->wParam) == IDCANCEL))
        g_lastClicked = LOWORD(call->wParam);
    return CallNextHookEx(g_clickHook, code, wParam, lParam);
}

// Runs inside the dialog's modal loop, once the dialog is up.
void CALLBACK DriveDialogs(HWND, UINT, UINT_PTR timer, DWORD)
{
    // A dialog is shown once its modal loop first finds the queue empty; the
    // timer keeps ticking until then.
    for (HWND dialog : g_pendingDialogs)
        if (IsWindow(dialog) && !IsWindowVisible(dialog))
            return;
    KillTimer(NULL, timer);
    std::vector<HWND> dialogs;
    dialogs.swap(g_pendingDialogs);
    for (HWND dialog : dialogs) {
        if (!IsWindow(dialog))
            continue;
        PauseIfAsked();
        g_drivenDialog = dialog;
        g_lastClicked = 0;
        if (g_dialogHandler != NULL)
            g_dialogHandler(g_dialogContext, dialog);
        // A dialog still shown was not ended: the user closes it with Cancel.
        if (!ZPlatformDialogEnded(dialog, NULL))
            SendMessageA(GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
        if (!ZPlatformDialogEnded(dialog, &g_lastDialogResult)) {
            PressButton(dialog, IDCANCEL);
            g_lastDialogResult = IDCANCEL;
        }
        g_drivenDialog = NULL;
    }
}

// A message box left up for ZHOST_BOX_PAUSE_MS (screenshots) is answered by a
// timer from inside its own modal loop.
HWND g_waitingBox = NULL;

void CALLBACK AnswerWaitingBox(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(NULL, timer);
    HWND box = g_waitingBox;
    g_waitingBox = NULL;
    if (IsWindow(box))
        AnswerBox(box);
}

void AnswerBoxWhenAsked(HWND box)
{
    const char* pause = getenv("ZHOST_BOX_PAUSE_MS");
    if (pause == NULL || g_waitingBox != NULL) {
        AnswerBox(box);
        return;
    }
    g_waitingBox = box;
    SetTimer(NULL, 0, (UINT)atoi(pause), AnswerWaitingBox);
}

LRESULT CALLBACK OnCbtEvent(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        HWND window = (HWND)wParam;
        if (IsDialogWindow(window) && GetPropA(window, kSeenProperty) == NULL) {
            SetPropA(window, kSeenProperty, (HANDLE)1);
            if (IsMessageBox(window)) {
                AnswerBoxWhenAsked(window);
            } else {
                g_pendingDialogs.push_back(window);
                SetTimer(NULL, 0, 10, DriveDialogs);
            }
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

int OnMessageBox(void*, HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    return AnswerMessageBox(text, caption, type);
}

}  // namespace

extern "C" void ZPlatformSetMessageBoxHandler(ZMessageBoxHandler handler, void* context)
{
    g_boxHandler = handler;
    g_boxContext = context;
}

extern "C" void ZPlatformSetDialogHandler(ZDialogHandler handler, void* context)
{
    g_dialogHandler = handler;
    g_dialogContext = context;
}

extern "C" BOOL ZPlatformDialogEnded(HWND dialog, INT_PTR* result)
{
    // EndDialog hides the dialog at once.
    bool ended = !IsWindow(dialog) || !IsWindowVisible(dialog);
    if (ended && result != NULL)
        *result = dialog == g_drivenDialog ? g_lastClicked : 0;
    return ended;
}

extern "C" INT_PTR ZPlatformLastDialogResult(void)
{
    return g_lastDialogResult;
}

// Hidden top-level windows that stand for the host's main and composition windows.
HWND MakeHostWindow(const char* title)
{
    return CreateWindowExA(0, "STATIC", title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL,
                           GetModuleHandleA(NULL), NULL);
}

void InstallUiDriver()
{
    static bool windowsMade = false;
    if (!windowsMade) {
        windowsMade = true;
        HWND main = MakeHostWindow("Zandrel");
        HWND compose = MakeHostWindow("Zandrel - compose");
        if (main != NULL && compose != NULL) {
            kMainWindow = main;
            kComposeWindow = compose;
        }
    }
    ZPlatformSetMessageBoxHandler(OnMessageBox, NULL);
    if (g_hook == NULL)
        g_hook = SetWindowsHookExA(WH_CBT, OnCbtEvent, NULL, GetCurrentThreadId());
    if (g_clickHook == NULL)
        g_clickHook = SetWindowsHookExA(WH_CALLWNDPROC, OnCallWindowProc, NULL, GetCurrentThreadId());
}
