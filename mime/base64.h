// Base64 of RFC 2045, encoded in lines of 60 characters joined by CR LF.
#pragma once

#include <stddef.h>

#include <windows.h>

// A new NUL-terminated text (free()), or null; *length is 0 then.
char* Base64Encode(const BYTE* data, DWORD count, DWORD* length);
// The length of the text for count bytes (without its terminator).
size_t Base64EncodedLength(DWORD count);
// Writes the text and its terminator at text; returns its length. text may lie
// in front of data in the same buffer when there are at least
// Base64EncodedLength(count) - count + 1 bytes from text to data: the text is
// then written over the bytes already read, so a blob can become its own text.
size_t Base64EncodeTo(char* text, const BYTE* data, DWORD count);
// New bytes (free()), or null for an empty text or no memory (*count untouched then).
BYTE* Base64Decode(const char* text, DWORD* count);

// The 6-bit value of a Base64 character; any other byte is 0 and is told to the hook.
int Base64CharValue(char c);

// Told of every foreign character that decoding meets; none is installed at
// first (the plug-in installs its own at load).
typedef void (*Base64ForeignCharacterHook)(char c);
void SetBase64ForeignCharacterHook(Base64ForeignCharacterHook hook);
