// Shared set-up of the fuzz targets: message boxes are answered at once.
#pragma once

#include <zplatform.h>

#include "mime/base64.h"

static int AnswerAtOnce(void*, HWND, LPCSTR, LPCSTR, UINT type)
{
    return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}

// Stands in for the plug-in's report of a foreign Base64 character (a box).
static void NoteForeignCharacter(char c)
{
    char text[128];
    wsprintfA(text, "[0x%02x] (%c)", (int)(signed char)c, (int)(signed char)c);
    MessageBoxA(NULL, text, "Error", MB_OK);
}

// debug: foreign Base64 characters are reported, as when the setting is on.
static void SetUpFuzzing(bool debug)
{
    static bool installed = false;
    if (!installed) {
        ZPlatformSetMessageBoxHandler(AnswerAtOnce, NULL);
        installed = true;
    }
    SetBase64ForeignCharacterHook(debug ? NoteForeignCharacter : NULL);
}
