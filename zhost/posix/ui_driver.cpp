// The headless driver: the platform layer hands every message box to zhost.
#include <zplatform.h>

#include "zhost/zhost.h"

static int OnMessageBox(void*, HWND, LPCSTR text, LPCSTR caption, UINT type)
{
    return AnswerMessageBox(text, caption, type);
}

void InstallUiDriver()
{
    ZPlatformSetMessageBoxHandler(OnMessageBox, NULL);
    // Dialogs are cancelled unless a command hands them a script.
    ZPlatformSetDialogHandler(NULL, NULL);
}
