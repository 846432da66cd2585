#include "mime/header_fields.h"

#include <stdlib.h>
#include <string.h>

#include "common/text.h"
#include "mime/mime_part.h"

namespace {

// The name, then a colon at once: the rule MimePart::GetHeader matches by.
bool IsField(const char* line, size_t length, const char* name, size_t nameLength)
{
    return length > nameLength && line[nameLength] == ':' && EqualNoCase(line, name, nameLength);
}

// The first byte after the line that starts at p; a line ends in CR LF, a
// lone CR or a lone LF, as the parser reads it.
const char* NextLine(const char* p)
{
    while (*p != '\0' && *p != '\r' && *p != '\n')
        ++p;
    if (*p == '\r' && p[1] == '\n')
        return p + 2;
    return *p == '\0' ? p : p + 1;
}

// Calls visit(start, end) for each field of the header block, continuation
// lines included; the block ends at the first empty line.
template <typename Visit>
void ForEachField(const char* source, Visit visit)
{
    const char* p = source;
    while (*p != '\0' && *p != '\r' && *p != '\n') {
        const char* start = p;
        p = NextLine(p);
        while (*p == ' ' || *p == '\t')
            p = NextLine(p);
        visit(start, p);
    }
}

}  // namespace

char* CopyWithoutHeaderField(const char* source, const char* name, bool* removed)
{
    size_t nameLength = strlen(name);
    auto matches = [&](const char* start, const char* end) {
        return IsField(start, (size_t)(end - start), name, nameLength);
    };
    size_t dropped = 0;
    ForEachField(source, [&](const char* start, const char* end) {
        if (matches(start, end))
            dropped += (size_t)(end - start);
    });
    *removed = dropped != 0;
    if (dropped == 0)
        return NULL;
    size_t total = strlen(source);
    char* copy = (char*)malloc(total - dropped + 1);
    if (copy == NULL)
        return NULL;
    char* out = copy;
    const char* kept = source;  // the first byte not yet copied
    ForEachField(source, [&](const char* start, const char* end) {
        if (!matches(start, end))
            return;
        memcpy(out, kept, (size_t)(start - kept));
        out += start - kept;
        kept = end;
    });
    memcpy(out, kept, (size_t)(source + total - kept));
    out += source + total - kept;
    *out = '\0';
    return copy;
}

static int CountFields(const MimePart& part, const char* name)
{
    size_t nameLength = strlen(name);
    int count = 0;
    for (const LineNode* node = part.headers.head; node != NULL; node = node->next)
        if (IsField(node->text, (size_t)node->length, name, nameLength))
            ++count;
    return count;
}

void KeepLastHeaderField(MimePart* part, const char* name)
{
    int count = CountFields(*part, name);
    // An empty value deletes the first field of the name.
    for (; count > 1; --count)
        part->SetHeader(name, "");
}

void EnsureMimeVersion(MimePart* part)
{
    if (CountFields(*part, "MIME-Version") == 0)
        part->SetHeader("MIME-Version", "1.0\r\n");
}
