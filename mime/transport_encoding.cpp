// Transfer encodings for relay-safe signed content (RFC 8551, section 3.1).
#include "mime/transport_encoding.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "common/text.h"
#include "mime/base64.h"
#include "mime/header_fields.h"
#include "mime/mime_part.h"
#include "mime/quoted_printable.h"
#include "mime/word_scan.h"

namespace {

enum { MAX_LINE = 76, ENCODING_VALUE_SIZE = 64 };

// Only an identity encoding may be replaced; anything else is already coded.
bool HasIdentityEncoding(const MimePart& part)
{
    char value[ENCODING_VALUE_SIZE];
    part.GetHeader("Content-Transfer-Encoding", value, sizeof value);
    size_t length = strcspn(value, " \t\r\n;(");
    static const char* const kIdentities[] = {"7bit", "8bit", "binary"};
    if (length == 0)
        return true;
    for (const char* identity : kIdentities)
        if (strlen(identity) == length && EqualNoCase(value, identity, length))
            return true;
    return false;
}

// One line, without its CR LF, of bytes that are all printable ASCII, blank
// or TAB (NodeSurvivesRelays has looked at them).
bool LineSurvivesRelays(const char* text, size_t content)
{
    if (content > MAX_LINE)
        return false;
    if (content > 0 && (text[content - 1] == ' ' || text[content - 1] == '\t'))
        return false;
    return !(content >= 5 && memcmp(text, "From ", 5) == 0);
}

// Whether any of the eight bytes in word is NUL, CR, LF or above 0x7F.
inline bool HasSpecialByte(uint64_t word)
{
    return (HighBytes(word) | ZeroBytes(word) | BytesEqual(word, '\r') | BytesEqual(word, '\n')) != 0;
}

bool IsSpecialByte(char c)
{
    return c == '\0' || c == '\r' || c == '\n' || (unsigned char)c >= 0x80;
}

// A node holds one line, or (packed and borrowed bodies) many, each ending in
// CR LF; a bare CR or LF, a NUL or an eight-bit byte fails the whole node.
// Eight bytes are examined at a time: this runs over every signed body.
bool NodeSurvivesRelays(const char* text, size_t length)
{
    size_t start = 0;
    while (start < length) {
        size_t i = start;
        for (; i + 8 <= length; i += 8)
            if (HasSpecialByte(LoadWord(text + i)))
                break;
        while (i < length && !IsSpecialByte(text[i]))
            ++i;
        if (!LineSurvivesRelays(text + start, i - start))
            return false;
        if (i == length)
            break;
        if (text[i] != '\r' || i + 1 == length || text[i + 1] != '\n')
            return false;
        start = i + 2;
    }
    return true;
}

bool BodySurvivesRelays(const LineList& body)
{
    for (const LineNode* node = body.head; node != NULL; node = node->next)
        if (!NodeSurvivesRelays(node->text, (size_t)node->length))
            return false;
    return true;
}

// Replaces the body by one text (taken over: freed here).
bool ReplaceBody(MimePart* part, char* text)
{
    part->body.Clear();
    bool appended = part->body.Append(text) != NULL;
    free(text);
    return appended;
}

// Line by line: quoted-printable starts afresh at every hard line break.
bool EncodeQuotedPrintable(MimePart* part)
{
    size_t total = 0;
    for (const LineNode* node = part->body.head; node != NULL; node = node->next)
        total += QuotedPrintableEncode(node->text, (size_t)node->length, NULL);
    char* text = (char*)malloc(total + 1);
    if (text == NULL)
        return false;
    char* out = text;
    for (const LineNode* node = part->body.head; node != NULL; node = node->next)
        out += QuotedPrintableEncode(node->text, (size_t)node->length, out);
    *out = '\0';
    return ReplaceBody(part, text);
}

bool EncodeBase64(MimePart* part, bool nested)
{
    size_t total = 0;
    for (const LineNode* node = part->body.head; node != NULL; node = node->next)
        total += (size_t)node->length;
    // Below the root the last CR LF is the next delimiter's, not content.
    const LineNode* last = part->body.tail;
    bool delimiterBreak = nested && last != NULL && last->length >= 2 && last->text[last->length - 1] == '\n' &&
                          last->text[last->length - 2] == '\r';
    if (delimiterBreak)
        total -= 2;
    BYTE* bytes = (BYTE*)malloc(total + 1);
    if (bytes == NULL)
        return false;
    size_t copied = 0;
    for (const LineNode* node = part->body.head; node != NULL && copied < total; node = node->next) {
        size_t length = (size_t)node->length < total - copied ? (size_t)node->length : total - copied;
        memcpy(bytes + copied, node->text, length);
        copied += length;
    }
    DWORD length = 0;
    char* encoded = Base64Encode(bytes, (DWORD)total, &length);
    free(bytes);
    if (encoded == NULL)
        return false;
    char* text = (char*)malloc((size_t)length + 3);
    if (text == NULL) {
        free(encoded);
        return false;
    }
    memcpy(text, encoded, length);
    strcpy(text + length, delimiterBreak ? "\r\n" : "");
    free(encoded);
    return ReplaceBody(part, text);
}

bool IsTextPart(const MimePart& part)
{
    // A part without a type is text/plain.
    return part.contentType[0] == '\0' ||
           (strlen(part.contentType) == 4 && EqualNoCase(part.contentType, "text", 4));
}

bool EncodeLeaf(MimePart* part, bool nested)
{
    if (BodySurvivesRelays(part->body) || !HasIdentityEncoding(*part))
        return true;
    bool text = IsTextPart(*part);
    if (!(text ? EncodeQuotedPrintable(part) : EncodeBase64(part, nested)))
        return false;
    part->SetHeader("Content-Transfer-Encoding", text ? "quoted-printable\r\n" : "base64\r\n");
    return true;
}

// Blanks before a line end of a node's text; relays strip them.
bool HasTrailingBlank(const char* text, size_t length)
{
    for (const char* p = (const char*)memchr(text, '\r', length); p != NULL;
         p = (const char*)memchr(p + 1, '\r', length - (size_t)(p + 1 - text)))
        if (p > text && (p[-1] == ' ' || p[-1] == '\t'))
            return true;
    return false;
}

bool DropTrailingBlanks(LineList* lines)
{
    for (LineNode* node = lines->head; node != NULL; node = node->next) {
        size_t length = (size_t)node->length;
        if (!HasTrailingBlank(node->text, length))
            continue;
        char* text = (char*)malloc(length + 1);
        if (text == NULL)
            return false;
        char* out = text;
        for (size_t i = 0; i < length; ++i) {
            if (node->text[i] == '\r')
                while (out > text && (out[-1] == ' ' || out[-1] == '\t'))
                    --out;
            *out++ = node->text[i];
        }
        LineList::SetText(node, text, (size_t)(out - text));
        free(text);
    }
    return true;
}

bool EncodePart(MimePart* part, bool nested)
{
    KeepLastHeaderField(part, "Content-Type");
    KeepLastHeaderField(part, "Content-Transfer-Encoding");
    if (!DropTrailingBlanks(&part->headers))
        return false;
    if (part->boundary == NULL)
        return EncodeLeaf(part, nested);
    // The preamble and the epilogue.
    if (!DropTrailingBlanks(&part->body) || !DropTrailingBlanks(&part->epilogue))
        return false;
    for (MimePart* child = part->firstChild; child != NULL; child = child->next)
        if (!EncodePart(child, true))
            return false;
    return true;
}

}  // namespace

bool EncodeForTransport(MimePart* root)
{
    return EncodePart(root, false);
}
