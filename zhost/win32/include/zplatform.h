// zhost's user-interface driver hooks, on Windows: the same interface the POSIX
// platform layer offers, so that zhost's shared commands drive the real
// message boxes and dialogs of user32 the way they drive the stand-ins.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives every message box; returns the button to press (IDOK, IDYES, IDNO, ...).
typedef int (*ZMessageBoxHandler)(void* context, HWND owner, LPCSTR text, LPCSTR caption,
                                  UINT type);

// Receives every other dialog once it is shown; it plays the user's actions
// (real clicks and selections) until the dialog ends. When it returns and the
// dialog is still open, the dialog is cancelled.
typedef void (*ZDialogHandler)(void* context, HWND dialog);

void ZPlatformSetMessageBoxHandler(ZMessageBoxHandler handler, void* context);
void ZPlatformSetDialogHandler(ZDialogHandler handler, void* context);

// Whether the dialog has been ended (EndDialog hides it; it stays readable
// until its modal loop returns). user32 keeps the value given to EndDialog to
// itself, so result is the button whose click ended it: IDOK or IDCANCEL.
BOOL ZPlatformDialogEnded(HWND dialog, INT_PTR* result);

// That value for the last driven dialog that ended; 0 when none has.
INT_PTR ZPlatformLastDialogResult(void);

#ifdef __cplusplus
}
#endif
