// Bare e-mail addresses from header values.
#pragma once

enum { ADDRESS_SIZE = 1024 };

// One entry into its display name and its address (comments are not part of
// the address). Both buffers are left terminated within their sizes.
void SplitAddress(char* name, int nameSize, char* address, int addressSize, const char* entry);
// address must hold ADDRESS_SIZE bytes.
void ExtractAddress(char* address, const char* entry);
// An address list (RFC 5322: quoted names and comments may hold ",", a group
// "Name: a, b;" gives its members, empty elements give nothing). list is
// changed in place; output receives the addresses joined by ",", count their
// number. An empty list leaves both untouched.
void CollectAddresses(char* list, char* output, int* count);
