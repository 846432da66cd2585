// Bounded copies into the module's fixed buffers, and ASCII letter case.
#pragma once

#include <stddef.h>

// Copies text (null reads as empty) into buffer, cut to size - 1 bytes and
// always terminated. Nothing is written when size is 0.
void CopyText(char* buffer, size_t size, const char* text);

// Appends text to the terminated contents of buffer, cut so that the whole
// stays within size bytes with its terminator.
void AppendText(char* buffer, size_t size, const char* text);

// The lower-case letter of an ASCII capital; every other byte as it is.
char AsciiLower(char c);

// True when the first length bytes of a and b differ at most in ASCII letter case.
bool EqualNoCase(const char* a, const char* b, size_t length);

// Case-insensitive (ASCII) substring search; null when not found.
const char* FindNoCase(const char* text, const char* needle);
