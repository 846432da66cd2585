// Bare e-mail addresses from display forms and address lists (RFC 5322).
// Text is in the ANSI code page, so every walk steps over the trail byte of a
// double-byte character: a trail byte may equal "<", "\"", "(" or ",".
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

// Blanks, and the line ends of a folded header value.
bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsLead(char c)
{
    return IsDBCSLeadByte((BYTE)c) != FALSE;
}

// Where a character stands: inside a quoted string, inside a comment (comments
// nest), or in the open where it may delimit.
struct Syntax {
    bool quoted = false;
    int comment = 0;

    // Takes the character at p into account and returns the next one. open
    // tells whether the character stood in the open; quotes and parentheses
    // that open or close a string or comment do not.
    char* Step(char* p, bool* open)
    {
        *open = false;
        if (IsLead(*p))
            return CharNextA(p);
        char c = *p;
        if (quoted || comment > 0) {
            if (c == '\\' && p[1] != '\0')
                return CharNextA(p + 1);  // a quoted pair
            if (quoted && c == '"')
                quoted = false;
            else if (comment > 0 && c == '(')
                ++comment;
            else if (comment > 0 && c == ')')
                --comment;
            return p + 1;
        }
        if (c == '"')
            quoted = true;
        else if (c == '(')
            comment = 1;
        else
            *open = true;
        return p + 1;
    }
};

// The first c in the open (outside quotes and comments), or null.
char* FindOpen(char* text, char c)
{
    Syntax syntax;
    bool open;
    for (char* p = text; *p != '\0';) {
        char* next = syntax.Step(p, &open);
        if (open && *p == c)
            return p;
        p = next;
    }
    return NULL;
}

// The first "(" that opens a comment, or null.
char* FindComment(char* text)
{
    Syntax syntax;
    bool open;
    for (char* p = text; *p != '\0';) {
        bool opens = !IsLead(*p) && *p == '(' && !syntax.quoted && syntax.comment == 0;
        if (opens)
            return p;
        p = syntax.Step(p, &open);
    }
    return NULL;
}

// Copies text into buffer without its comments: at most size - 1 bytes, terminated.
void CopyWithoutComments(char* buffer, int size, char* text)
{
    Syntax syntax;
    bool open;
    int length = 0;
    for (char* p = text; *p != '\0';) {
        bool inComment = syntax.comment > 0;
        char* next = syntax.Step(p, &open);
        bool keep = !inComment && syntax.comment == 0;
        for (; p < next; ++p)
            if (keep && length < size - 1)
                buffer[length++] = *p;
    }
    buffer[length] = '\0';
}

// strtok: the first token of text delimited by any of delimiters (leading
// delimiters skipped); the byte that ends it is overwritten with a terminator.
char* FirstToken(char* text, const char* delimiters)
{
    char* p = text;
    while (*p != '\0' && !IsLead(*p) && IsOneOf(*p, delimiters))
        ++p;
    if (*p == '\0')
        return NULL;
    char* token = p;
    while (*p != '\0' && (IsLead(*p) || !IsOneOf(*p, delimiters)))
        p = CharNextA(p);
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
    while (IsSpace(*token))
        ++token;
    CopyText(buffer, (size_t)size, token);
}

void TrimTrailingBlanks(char* buffer)
{
    size_t length = strlen(buffer);
    while (length > 1 && IsSpace(buffer[length - 1]))
        buffer[--length] = '\0';
}

void TrimLeadingBlanks(char* buffer)
{
    char* p = buffer;
    while (IsSpace(*p))
        ++p;
    memmove(buffer, p, strlen(p) + 1);
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
    while (IsSpace(*start))
        ++start;

    char* bracket = FindOpen(start, '<');
    char* comment = bracket == NULL ? FindComment(start) : NULL;
    if (bracket != NULL) {
        CopyToken(address, addressSize, FirstToken(bracket + 1, ">"));
        if (start == bracket)
            CopyToken(name, nameSize, NULL);
        else if (*start == '"')
            CopyToken(name, nameSize, FirstToken(start, "\""));
        else
            CopyToken(name, nameSize, FirstToken(start, "<"));
    } else if (comment != NULL) {
        // The address is what stands outside the comments; the first comment names it.
        if (addressSize > 0) {
            CopyWithoutComments(address, addressSize, start);
            TrimLeadingBlanks(address);
        }
        CopyToken(name, nameSize, FirstToken(comment + 1, ")"));
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

namespace {

// Nothing but blanks and comments: an empty list element, or a group without members.
bool IsEmptyEntry(char* entry)
{
    char rest[ADDRESS_SIZE];
    CopyWithoutComments(rest, sizeof rest, entry);
    for (const char* p = rest; *p != '\0'; ++p)
        if (!IsSpace(*p))
            return false;
    return true;
}

void AppendEntry(char* entry, char** out, int* count)
{
    if (IsEmptyEntry(entry))
        return;
    char address[ADDRESS_SIZE];
    ExtractAddress(address, entry);
    if (*count > 0)
        *(*out)++ = ',';
    size_t length = strlen(address);
    memcpy(*out, address, length + 1);
    *out += length;
    ++*count;
}

}  // namespace

void CollectAddresses(char* list, char* output, int* count)
{
    if (list == NULL || *list == '\0')
        return;
    *count = 0;
    output[0] = '\0';
    char* out = output;
    char* entry = list;
    Syntax syntax;
    bool open;
    bool angle = false;  // a route inside "<...>" may hold "," and ":"
    for (char* p = list;;) {
        char c = *p;
        if (c == '\0') {
            AppendEntry(entry, &out, count);
            return;
        }
        char* next = syntax.Step(p, &open);
        if (open && c == '<') {
            angle = true;
        } else if (open && c == '>') {
            angle = false;
        } else if (open && !angle && c == ':') {
            entry = next;  // "Group:" names the members that follow
        } else if (open && !angle && (c == ',' || c == ';')) {
            // ";" ends a group; as a separator it is an old habit of some composers.
            *p = '\0';
            AppendEntry(entry, &out, count);
            entry = next;
        }
        p = next;
    }
}
