#pragma once

#include <windows.h>

#include "common/smime_result.h"

// The encryption command's step: the composer's text enveloped for every
// recipient and the sender, written back. 1 on success.
int EncryptMessage(HWND window, LPARAM value, SmimeResult* result);

// The enveloped text of source, for the recipients the composer's headers
// name: a new text (free()) with SR_ENCRYPTED set, or null after the
// failure's message.
char* EncryptText(HWND window, const char* source, SmimeResult* result);
