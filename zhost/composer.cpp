// The composer's header block: read unfolded, set or added in place.
#include <string.h>
#include <strings.h>

#include "zhost/zhost.h"

namespace {

struct HeaderSpan {
    size_t begin;  // first byte of the field's first line
    size_t end;    // first byte after its last line end
};

size_t LineEnd(const std::string& s, size_t pos)
{
    size_t nl = s.find('\n', pos);
    return nl == std::string::npos ? s.size() : nl + 1;
}

bool IsBlankLine(const std::string& s, size_t pos)
{
    return pos >= s.size() || s[pos] == '\n' || (s[pos] == '\r' && (pos + 1 >= s.size() || s[pos + 1] == '\n'));
}

// The field of that name in the header block, or false; *blank is where the block ends.
bool FindHeader(const std::string& s, const char* name, HeaderSpan* span, size_t* blank)
{
    size_t n = strlen(name);
    size_t pos = 0;
    while (!IsBlankLine(s, pos)) {
        size_t end = LineEnd(s, pos);
        while (end < s.size() && (s[end] == ' ' || s[end] == '\t'))
            end = LineEnd(s, end);
        if (s.size() - pos > n && strncasecmp(s.c_str() + pos, name, n) == 0 && s[pos + n] == ':') {
            span->begin = pos;
            span->end = end;
            return true;
        }
        pos = end;
    }
    *blank = pos;
    return false;
}

}  // namespace

std::string ComposerHeader(const std::string& source, const char* name)
{
    HeaderSpan span;
    size_t blank;
    if (!FindHeader(source, name, &span, &blank))
        return std::string();
    std::string value;
    size_t pos = span.begin + strlen(name) + 1;
    while (pos < span.end && (source[pos] == ' ' || source[pos] == '\t'))
        ++pos;
    for (; pos < span.end; ++pos)
        if (source[pos] != '\r' && source[pos] != '\n')
            value += source[pos];
    return value;
}

void SetComposerHeader(std::string& source, const char* name, const char* value)
{
    HeaderSpan span;
    size_t blank = 0;
    bool found = FindHeader(source, name, &span, &blank);
    size_t at = found ? span.begin : blank;
    bool crlf = source.find("\r\n") != std::string::npos || source.find('\n') == std::string::npos;
    std::string line = std::string(name) + ": " + value + (crlf ? "\r\n" : "\n");
    size_t removed = found ? span.end - span.begin : 0;
    size_t size = source.size() - removed + line.size();
    if (size <= source.capacity()) {
        source.replace(at, removed, line);
        return;
    }
    // Built afresh at its exact size: growing the string in place would
    // reserve twice the message.
    std::string edited;
    edited.reserve(size);
    edited.append(source, 0, at).append(line).append(source, at + removed, std::string::npos);
    source.swap(edited);
}
