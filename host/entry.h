// The module entry: binds the host, reads the settings, installs the plug-in's hooks.
#pragma once

#include <windows.h>

// When debugging, shows a foreign Base64 character in a plain "Error" box;
// installed as the Base64 codec's hook at load.
void ReportForeignBase64Character(char c);

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved);
