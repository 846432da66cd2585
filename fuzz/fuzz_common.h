// Shared set-up of the fuzz targets: message boxes are answered at once.
#pragma once

#include <string.h>

#include <zplatform.h>

#include "settings/settings.h"

static int AnswerAtOnce(void*, HWND, LPCSTR, LPCSTR, UINT type)
{
    return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}

static void SetUpFuzzing(bool debug)
{
    static bool installed = false;
    if (!installed) {
        ZPlatformSetMessageBoxHandler(AnswerAtOnce, NULL);
        installed = true;
    }
    strcpy(g_settings.debug, debug ? "YES" : "NO");
}
