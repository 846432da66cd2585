#include "common/text.h"

#include <string.h>

void CopyText(char* buffer, size_t size, const char* text)
{
    if (size == 0)
        return;
    if (text == NULL)
        text = "";
    size_t length = strlen(text);
    if (length > size - 1)
        length = size - 1;
    memmove(buffer, text, length);
    buffer[length] = '\0';
}

void AppendText(char* buffer, size_t size, const char* text)
{
    if (size == 0 || text == NULL)
        return;
    size_t used = strnlen(buffer, size - 1);
    size_t room = size - 1 - used;
    size_t length = strlen(text);
    if (length > room)
        length = room;
    memcpy(buffer + used, text, length);
    buffer[used + length] = '\0';
}

char AsciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

bool EqualNoCase(const char* a, const char* b, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

const char* FindNoCase(const char* text, const char* needle)
{
    if (text == NULL || needle == NULL)
        return NULL;
    size_t length = strlen(needle);
    for (const char* p = text; *p != '\0'; ++p) {
        size_t i = 0;
        while (i < length && p[i] != '\0' && AsciiLower(p[i]) == AsciiLower(needle[i]))
            ++i;
        if (i == length)
            return p;
        if (p[i] == '\0')
            return NULL;  // the rest of the text is shorter than the needle
    }
    return NULL;
}
