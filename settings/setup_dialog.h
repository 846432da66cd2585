#pragma once

#include <windows.h>

// Runs the setup dialog modally; 1 after OK, 2 after Cancel.
INT_PTR OpenSetupDialog(HWND owner);
INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
