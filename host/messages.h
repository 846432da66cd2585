// The plug-in's standard message box, the system error text, and the plug-in's name.
#pragma once

#include <windows.h>

#define PLUGIN_NAME "Zandrel S/MIME Plug-in"
#define PLUGIN_VENDOR "Zandrel S/MIME Plug-in Developers"
#define PLUGIN_DESCRIPTION "Enables Zandrel to use S/MIME"

// "v0.9.2 build at " and the build's date and time, defined in one place so
// that the information record, the setup dialog and the header agree.
extern const char PLUGIN_VERSION[];

// The caption of every ordinary message box ("message").
#define MESSAGE_CAPTION "メッセージ"

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
