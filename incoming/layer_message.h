// Reading only the header block of a message text.
#pragma once

class MimePart;

// Parses the header lines of text, up to and including its first empty line,
// into part: the headers a full parse would give, without copying the body.
void ParseHeaderBlock(MimePart* part, const char* text);
