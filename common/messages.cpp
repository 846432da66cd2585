#include "common/messages.h"

#include <string.h>

void ShowMessage(LPCSTR text)
{
    MessageBoxA(NULL, text, TEXT_MESSAGE_CAPTION, MB_TOPMOST | MB_ICONINFORMATION);
}

static LPSTR g_lastErrorText = NULL;

void ReleaseLastErrorText()
{
    if (g_lastErrorText != NULL) {
        LocalFree(g_lastErrorText);
        g_lastErrorText = NULL;
    }
}

LPCSTR LastErrorText()
{
    ReleaseLastErrorText();
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   NULL, GetLastError(), 0x400, (LPSTR)&g_lastErrorText, 0, NULL);
    return g_lastErrorText;
}

void ShowLastErrorText()
{
    ShowMessage(LastErrorText());
}

void CopyDisplayName(char* out, size_t size, const char* name)
{
    if (size == 0)
        return;
    size_t used = 0;
    for (const unsigned char* p = (const unsigned char*)name; *p != '\0'; ++p) {
        char piece[5];
        size_t length = 1;
        piece[0] = (char)*p;
        if (*p == '\n' || *p == '\r' || *p == '\t') {
            piece[0] = '\\';
            piece[1] = *p == '\n' ? 'n' : *p == '\r' ? 'r' : 't';
            length = 2;
        } else if (*p < 0x20 || *p == 0x7F) {
            wsprintfA(piece, "\\x%02x", *p);
            length = 4;
        } else if (IsDBCSLeadByte(*p) && p[1] >= 0x40 && p[1] != 0x7F) {
            // A double-byte character stays whole; its trail byte is no control.
            piece[1] = (char)*++p;
            length = 2;
        }
        if (used + length > size - 1)
            break;
        memcpy(out + used, piece, length);
        used += length;
    }
    out[used] = '\0';
}
