// Bare e-mail addresses from header values.
#pragma once

enum { ADDRESS_SIZE = 1024 };

void SplitAddress(char* name, int nameSize, char* address, int addressSize, const char* entry);
// address must hold ADDRESS_SIZE bytes.
void ExtractAddress(char* address, const char* entry);
// list is changed in place; output receives the addresses joined by ",".
void CollectAddresses(char* list, char* output, int* count);
