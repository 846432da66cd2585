// Base64 of RFC 2045, encoded in lines of 60 characters joined by CR LF.
#pragma once

#include <windows.h>

// A new NUL-terminated text (free()), or null; *length is 0 then.
char* Base64Encode(const BYTE* data, DWORD count, DWORD* length);
// New bytes (free()), or null for an empty text or no memory (*count untouched then).
BYTE* Base64Decode(const char* text, DWORD* count);

// A copy without any CR or LF (free()), or null for an empty text or no memory.
char* Base64StripLineBreaks(const char* text);
// A copy with CR LF before every 60th character (free()), or null when memory runs out.
char* Base64FoldLines(const char* text);
// The 6-bit value of a Base64 character; any other byte is 0 (reported when debugging).
int Base64CharValue(char c);
// The character of a 6-bit value.
char Base64ValueChar(int value);
