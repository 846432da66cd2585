// The module's own handle, set by the module entry; its resources live there.
#pragma once

#include <windows.h>

extern HINSTANCE g_instance;
