// Quoted-printable of RFC 2045 for text whose lines end in CR LF.
#pragma once

#include <stddef.h>

// Encodes length bytes of text into out and returns the length written (no
// terminator); with out null only measures. CR LF pairs stay hard line breaks;
// every other byte outside printable ASCII is escaped, as are a blank or tab
// before a line end and the "F" of a line that starts with "From ". Lines come
// out at most 76 characters long. One pass, no memory of its own.
size_t QuotedPrintableEncode(const char* text, size_t length, char* out);
