#include "common/messages.h"

void ShowMessage(LPCSTR text)
{
    MessageBoxA(NULL, text, TEXT_MESSAGE_CAPTION, MB_TOPMOST | MB_ICONINFORMATION);
}

LPCSTR LastErrorText()
{
    static LPSTR text = NULL;
    if (text != NULL) {
        LocalFree(text);
        text = NULL;
    }
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   NULL, GetLastError(), 0x400, (LPSTR)&text, 0, NULL);
    return text;
}

void ShowLastErrorText()
{
    ShowMessage(LastErrorText());
}
