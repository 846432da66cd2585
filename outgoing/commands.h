// The three commands of the composition window.
#pragma once

#include <windows.h>

void WINAPI OnEncryptCommand(HWND window, LPARAM value);
void WINAPI OnSignCommand(HWND window, LPARAM value);
void WINAPI OnSignEncryptCommand(HWND window, LPARAM value);
