#pragma once

#include <windows.h>

// The handle the system passed to the module entry; the module's resources live there.
extern HINSTANCE g_instance;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
