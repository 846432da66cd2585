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
