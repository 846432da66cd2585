// The plug-in's standard message box and the system error text.
#pragma once

#include <windows.h>

#include "common/user_texts.h"

// A modal box without owner, caption "メッセージ", information icon, topmost, OK only.
void ShowMessage(LPCSTR text);

// The system's text for the calling thread's last error, or null when it has none.
// The text stays valid until the next call.
LPCSTR LastErrorText();

// Shows LastErrorText() in its own box (nothing when the system has no text).
void ShowLastErrorText();

// Releases the buffer behind LastErrorText(); called when the plug-in unloads.
void ReleaseLastErrorText();

// Copies a name (a certificate subject, an address) for a report or a box
// into `out` of `size` bytes: every control character (below 0x20, and 0x7F)
// becomes a visible escape (\n, \r, \t, \x1b, ...), so that a name is always
// one line and cannot pose as lines of its own. Cut at a whole character.
void CopyDisplayName(char* out, size_t size, const char* name);
