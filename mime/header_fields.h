// Header field edits beyond MimePart::SetHeader: whole-field removal from raw
// text, and repeated fields collapsed to one.
#pragma once

class MimePart;

// The source without any header field of that name (with its continuation
// lines), byte for byte otherwise, as a new text (free()). When the header
// block has no such field, returns null with *removed false and copies
// nothing; null with *removed true means memory ran out.
char* CopyWithoutHeaderField(const char* source, const char* name, bool* removed);

// Deletes every field of that name but the last, the one the parser takes.
void KeepLastHeaderField(MimePart* part, const char* name);

// Adds "MIME-Version: 1.0" before the blank line when the part has no such field.
void EnsureMimeVersion(MimePart* part);
