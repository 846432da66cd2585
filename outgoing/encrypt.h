#pragma once

#include <windows.h>

#include "incoming/smime_result.h"

int EncryptMessage(HWND window, LPARAM value, SmimeResult* result);
void WINAPI OnEncryptCommand(HWND window, LPARAM value);
