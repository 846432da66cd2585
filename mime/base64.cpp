// Base64: table-driven, one pass each way. The encoder writes its 60-character
// lines directly; the decoder skips every character outside the alphabet as it
// goes (RFC 2045), and tells the installed hook of those that are not line
// breaks or blanks.
#include "mime/base64.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

enum {
    LINE_CHARS = 60,
    LINE_BYTES = LINE_CHARS / 4 * 3,
    NOT_BASE64 = 0x100,  // in kValues: a line break or a foreign character
};

struct ValueTable {
    uint16_t value[256];
    ValueTable()
    {
        for (int i = 0; i < 256; ++i)
            value[i] = NOT_BASE64;
        for (int i = 0; i < 64; ++i)
            value[(unsigned char)kAlphabet[i]] = (uint16_t)i;
        value[(unsigned char)'='] = 0;
    }
};

const ValueTable kValues;

Base64ForeignCharacterHook g_foreignCharacterHook = NULL;

// The two characters of every 12-bit value, so that a group of three bytes
// takes two lookups instead of four.
struct PairTable {
    char pair[4096][2];
    PairTable()
    {
        for (int i = 0; i < 4096; ++i) {
            pair[i][0] = kAlphabet[i >> 6];
            pair[i][1] = kAlphabet[i & 63];
        }
    }
};

const PairTable kPairs;

char* EncodeGroups(const BYTE* in, size_t count, char* out)
{
    // The group is read whole before its characters are written.
    for (size_t i = 0; i < count; ++i, in += 3) {
        uint32_t w = ((uint32_t)in[0] << 16) | ((uint32_t)in[1] << 8) | in[2];
        memcpy(out, kPairs.pair[w >> 12], 2);
        memcpy(out + 2, kPairs.pair[w & 0xFFF], 2);
        out += 4;
    }
    return out;
}

}  // namespace

void SetBase64ForeignCharacterHook(Base64ForeignCharacterHook hook)
{
    g_foreignCharacterHook = hook;
}

int Base64CharValue(char c)
{
    uint16_t value = kValues.value[(unsigned char)c];
    if (value != NOT_BASE64)
        return value;
    if (g_foreignCharacterHook != NULL)
        g_foreignCharacterHook(c);
    return 0;
}

size_t Base64EncodedLength(DWORD count)
{
    size_t unfolded = ((size_t)count + 2) / 3 * 4;
    return unfolded == 0 ? 0 : unfolded + 2 * ((unfolded - 1) / LINE_CHARS);
}

// Each group's bytes are read before its characters are written, so the text
// may be written over the data it encodes when it starts far enough in front.
size_t Base64EncodeTo(char* text, const BYTE* data, DWORD count)
{
    char* out = text;
    size_t left = count;
    const BYTE* in = data;
    while (left > LINE_BYTES) {
        out = EncodeGroups(in, LINE_BYTES / 3, out);
        *out++ = '\r';
        *out++ = '\n';
        in += LINE_BYTES;
        left -= LINE_BYTES;
    }
    out = EncodeGroups(in, left / 3, out);
    in += left / 3 * 3;
    if (left % 3 != 0) {
        BYTE first = in[0], second = left % 3 == 2 ? in[1] : 0;
        out[0] = kAlphabet[first >> 2];
        out[1] = kAlphabet[((first & 3) << 4) | (second >> 4)];
        out[2] = left % 3 == 2 ? kAlphabet[(second & 15) << 2] : '=';
        out[3] = '=';
        out += 4;
    }
    *out = '\0';
    return (size_t)(out - text);
}

char* Base64Encode(const BYTE* data, DWORD count, DWORD* length)
{
    *length = 0;
    size_t groups = ((size_t)count + 2) / 3;
    if (groups > ((size_t)-1 - 1) / 6 || (uint64_t)groups * 6 > 0xFFFFFFFFu)
        return NULL;
    char* text = static_cast<char*>(malloc(Base64EncodedLength(count) + 1));
    if (text == NULL)
        return NULL;
    *length = (DWORD)Base64EncodeTo(text, data, count);
    return text;
}

BYTE* Base64Decode(const char* text, DWORD* count)
{
    if (text == NULL || *text == '\0')
        return NULL;
    size_t length = strlen(text);
    BYTE* bytes = static_cast<BYTE*>(malloc(length / 4 * 3 + 1));
    if (bytes == NULL)
        return NULL;

    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    BYTE* out = bytes;
    char group[4];        // characters of the group being gathered
    int gathered = 0;
    char third = 0, fourth = 0;  // of the last complete group, for the padding
    while (p < end) {
        if (gathered == 0) {
            const unsigned char* start = p;
            while (end - p >= 4) {
                uint32_t a = kValues.value[p[0]], b = kValues.value[p[1]];
                uint32_t c = kValues.value[p[2]], d = kValues.value[p[3]];
                if ((a | b | c | d) & NOT_BASE64)
                    break;
                uint32_t w = (a << 18) | (b << 12) | (c << 6) | d;
                out[0] = (BYTE)(w >> 16);
                out[1] = (BYTE)(w >> 8);
                out[2] = (BYTE)w;
                out += 3;
                p += 4;
            }
            if (p != start) {
                third = (char)p[-2];
                fourth = (char)p[-1];
            }
            if (p >= end)
                break;
        }
        char c = (char)*p++;
        if (kValues.value[(unsigned char)c] == NOT_BASE64) {
            // Outside the alphabet: skipped (RFC 2045). Line breaks and the
            // blanks some transports add at line ends are expected; anything
            // else is reported.
            if (c != '\r' && c != '\n' && c != ' ' && c != '\t')
                Base64CharValue(c);
            continue;
        }
        group[gathered++] = c;
        if (gathered == 4) {
            // Up to three trailing characters are ignored.
            int a = Base64CharValue(group[0]), b = Base64CharValue(group[1]);
            int cv = Base64CharValue(group[2]), d = Base64CharValue(group[3]);
            out[0] = (BYTE)((a << 2) + (b >> 4));
            out[1] = (BYTE)((b << 4) + (cv >> 2));
            out[2] = (BYTE)((cv << 6) + d);
            out += 3;
            third = group[2];
            fourth = group[3];
            gathered = 0;
        }
    }
    size_t decoded = (size_t)(out - bytes);
    if (decoded != 0) {
        if (third == '=')
            --decoded;
        if (fourth == '=')
            --decoded;
    }
    *count = (DWORD)decoded;
    return bytes;
}
