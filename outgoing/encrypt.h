#pragma once

#include <windows.h>

#include "common/smime_result.h"

int EncryptMessage(HWND window, LPARAM value, SmimeResult* result);
