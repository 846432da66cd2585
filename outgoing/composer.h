// The composition window's text and headers, as the outgoing commands read and write them.
#pragma once

#include <stddef.h>

#include <windows.h>

// A single header value; a header that names people (To, Cc, Bcc, From),
// which can hold a long list.
enum { HEADER_VALUE_SIZE = 1024, ADDRESS_HEADER_SIZE = 65536 };

class MimePart;

// Reads the header lines of source into part, which keeps no body, lines
// ending in the blank line (added when the message had none, so that a new
// body never reads as a header). False when memory runs out.
bool ParseHeaders(MimePart* part, const char* source);

// Hands a new composer text to the host and frees it; a null text (memory ran
// out) shows the message instead. True when the composer was written.
bool ReplaceComposerText(HWND window, char* text);

// Reads a composer header that names people whole, into a new terminated
// buffer of ADDRESS_HEADER_SIZE bytes (free()); empty when the message has
// no such header. A value that fills the buffer may have been cut, and a cut
// list would drop or change a person: then tooLong is shown and the result
// is null, as it is (after its message) when memory runs out.
char* ReadAddressHeader(HWND window, const char* name, const char* tooLong);

// Stamps the composer with "X-SMIME-Plugin: <name> <version>".
void StampPluginHeader(HWND window);
