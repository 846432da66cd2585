// Extensions of the POSIX platform layer that have no Windows counterpart:
// the headless user-interface driver that zhost and the tests install.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Receives every message box; returns the button pressed (IDOK, IDYES, IDNO, ...).
typedef int (*ZMessageBoxHandler)(void* context, HWND owner, LPCSTR text, LPCSTR caption,
                                  UINT type);

// Receives every modal dialog after WM_INITDIALOG; it plays the user's actions
// (WM_COMMAND messages to the procedure) until the procedure calls EndDialog.
// Returns nothing; when it returns without EndDialog, the dialog is cancelled.
typedef void (*ZDialogHandler)(void* context, HWND dialog);

void ZPlatformSetMessageBoxHandler(ZMessageBoxHandler handler, void* context);
void ZPlatformSetDialogHandler(ZDialogHandler handler, void* context);

// How many times GetProcAddress has been called in this process.
unsigned ZPlatformProcLookupCount(void);

#ifdef __cplusplus
}
#endif
