// Quoted-printable encoding, written for bodies that must survive any relay:
// nothing a relay might strip, rewrap or quote is left bare.
#include "mime/quoted_printable.h"

#include <string.h>

namespace {

enum { MAX_LINE = 76 };

const char kHex[] = "0123456789ABCDEF";

struct Writer {
    char* out;
    size_t written;
    size_t column;

    void Put(const char* bytes, size_t count)
    {
        if (out != NULL)
            memcpy(out + written, bytes, count);
        written += count;
        column += count;
    }
    void Escape(unsigned char byte)
    {
        const char token[3] = {'=', kHex[byte >> 4], kHex[byte & 15]};
        Put(token, 3);
    }
    void Break(bool soft)
    {
        Put(soft ? "=\r\n" : "\r\n", soft ? 3 : 2);
        column = 0;
    }
};

bool IsHardBreak(const char* text, size_t length, size_t i)
{
    return i + 1 < length && text[i] == '\r' && text[i + 1] == '\n';
}

// A blank at the end of a line (or of the text) would be stripped in transit.
bool EndsLine(const char* text, size_t length, size_t i)
{
    return i + 1 == length || IsHardBreak(text, length, i + 1);
}

bool NeedsEscape(const char* text, size_t length, size_t i, size_t column)
{
    unsigned char c = (unsigned char)text[i];
    if (c == ' ' || c == '\t')
        return EndsLine(text, length, i);
    if (c < 33 || c > 126 || c == '=')
        return true;
    // Some relays quote such lines with ">" for old mailbox formats.
    return column == 0 && c == 'F' && length - i >= 5 && memcmp(text + i, "From ", 5) == 0;
}

}  // namespace

size_t QuotedPrintableEncode(const char* text, size_t length, char* out)
{
    Writer writer = {out, 0, 0};
    for (size_t i = 0; i < length; ++i) {
        if (IsHardBreak(text, length, i)) {
            writer.Break(false);
            ++i;
            continue;
        }
        bool escape = NeedsEscape(text, length, i, writer.column);
        size_t width = escape ? 3 : 1;
        // The "=" of a soft break needs one column of its own, except on the
        // last token of a line.
        size_t room = EndsLine(text, length, i) ? MAX_LINE : MAX_LINE - 1;
        if (writer.column + width > room) {
            writer.Break(true);
            escape = NeedsEscape(text, length, i, 0);
        }
        if (escape)
            writer.Escape((unsigned char)text[i]);
        else
            writer.Put(text + i, 1);
    }
    return writer.written;
}
