// Bare e-mail addresses from display forms. Text is in the ANSI code page, so
// every search steps over the trail byte of a double-byte character: a trail
// byte may equal "<", "\"" or "(".
#include "mime/address.h"

#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "common/text.h"

namespace {

bool IsOneOf(char c, const char* set)
{
    for (; *set != '\0'; ++set)
        if (c == *set)
            return true;
    return false;
}

// The next character: one byte, or two for a double-byte character.
char* Next(char* p)
{
    return CharNextA(p);
}

// The first single-byte character c, or null.
char* FindChar(char* text, char c)
{
    for (char* p = text; *p != '\0'; p = Next(p))
        if (*p == c && !IsDBCSLeadByte((BYTE)*p))
            return p;
    return NULL;
}

// strtok: the first token of text delimited by any of delimiters (leading
// delimiters skipped); the byte that ends it is overwritten with a terminator.
char* FirstToken(char* text, const char* delimiters)
{
    char* p = text;
    while (*p != '\0' && !IsDBCSLeadByte((BYTE)*p) && IsOneOf(*p, delimiters))
        ++p;
    if (*p == '\0')
        return NULL;
    char* token = p;
    while (*p != '\0' && (IsDBCSLeadByte((BYTE)*p) || !IsOneOf(*p, delimiters)))
        p = Next(p);
    *p = '\0';
    return token;
}

// Copies a token without its leading blanks; empty without a token.
void CopyToken(char* buffer, int size, const char* token)
{
    if (size <= 0)
        return;
    buffer[0] = '\0';
    if (token == NULL)
        return;
    while (*token == ' ' || *token == '\t')
        ++token;
    CopyText(buffer, (size_t)size, token);
}

void TrimTrailingBlanks(char* buffer)
{
    size_t length = strlen(buffer);
    while (length > 1 && (buffer[length - 1] == ' ' || buffer[length - 1] == '\t'))
        buffer[--length] = '\0';
}

// The first "<" that is not inside double quotes, or null.
char* FindUnquotedBracket(char* start)
{
    bool quoted = false;
    for (char* p = start; *p != '\0'; p = Next(p)) {
        if (IsDBCSLeadByte((BYTE)*p))
            continue;
        if (*p == '"')
            quoted = !quoted;
        else if (*p == '<' && !quoted)
            return p;
    }
    return NULL;
}

}  // namespace

void SplitAddress(char* name, int nameSize, char* address, int addressSize, const char* entry)
{
    if (nameSize > 0)
        name[0] = '\0';
    if (addressSize > 0)
        address[0] = '\0';
    char* copy = strdup(entry != NULL ? entry : "");
    if (copy == NULL)
        return;
    char* start = copy;
    while (*start == ' ' || *start == '\t')
        ++start;

    char* bracket = FindUnquotedBracket(start);
    char* paren = bracket == NULL ? FindChar(start, '(') : NULL;
    if (bracket != NULL) {
        CopyToken(address, addressSize, FirstToken(bracket + 1, ">"));
        if (start == bracket)
            CopyToken(name, nameSize, NULL);
        else if (*start == '"')
            CopyToken(name, nameSize, FirstToken(start, "\""));
        else
            CopyToken(name, nameSize, FirstToken(start, "<"));
    } else if (paren != NULL) {
        CopyToken(name, nameSize, FirstToken(paren + 1, ")"));
        CopyToken(address, addressSize, FirstToken(start, "()<>\""));
    } else if (addressSize > 0) {
        CopyText(address, (size_t)addressSize, start);
    }
    if (nameSize > 0)
        TrimTrailingBlanks(name);
    if (addressSize > 0)
        TrimTrailingBlanks(address);
    free(copy);
}

void ExtractAddress(char* address, const char* entry)
{
    char name[ADDRESS_SIZE];
    SplitAddress(name, sizeof name, address, ADDRESS_SIZE, entry);
}

void CollectAddresses(char* list, char* output, int* count)
{
    if (list == NULL || *list == '\0')
        return;
    *count = 0;
    output[0] = '\0';
    char* out = output;
    char address[ADDRESS_SIZE];
    char* entry = list;
    for (char* p = list;; ++p) {
        bool last = *p == '\0';
        if (!last && *p != ',')
            continue;
        *p = '\0';
        ExtractAddress(address, entry);
        size_t length = strlen(address);
        memcpy(out, address, length);
        out += length;
        if (!last)
            *out++ = ',';
        *out = '\0';
        ++*count;
        if (last)
            return;
        entry = p + 1;
    }
}
