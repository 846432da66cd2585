// Parse, serialise, parse again: the second serialisation must equal the first.
// The first must be the text that was read, with CR LF line ends; and the
// header block read alone must equal the one of the full parse, and a parse
// with packed bodies must serialise to the same text.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_common.h"
#include "incoming/classify.h"
#include "mime/mime_part.h"

static std::string Serialized(const MimePart& part)
{
    char* text = part.Serialize();
    if (text == NULL)
        abort();
    std::string result(text);
    free(text);
    return result;
}

// The text with every line end as CR LF and a line end after the last line.
static std::string Normalised(const char* text, size_t length)
{
    std::string out;
    out.reserve(length + length / 8 + 2);
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < length && text[i + 1] == '\n')
                ++i;
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0))
        out += "\r\n";
    return out;
}

static void CheckLists(const MimePart& part)
{
    const LineList* lists[] = {&part.headers, &part.body, &part.epilogue};
    for (const LineList* list : lists)
        for (const LineNode* n = list->head; n != NULL; n = n->next)
            if ((size_t)n->length != strlen(n->text) || (n->next != NULL && n->next->prev != n))
                abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SetUpFuzzing(false);
    std::string input(reinterpret_cast<const char*>(data), size);

    MimePart first;
    const char* position = input.c_str();
    first.Parse(&position, NULL);
    if (position < input.c_str() || position > input.c_str() + strlen(input.c_str()))
        abort();
    CheckLists(first);
    std::string once = Serialized(first);
    if (once != Normalised(input.c_str(), (size_t)(position - input.c_str())))
        abort();

    MimePart second;
    position = once.c_str();
    second.Parse(&position, NULL);
    std::string twice = Serialized(second);
    if (once != twice)
        abort();

    // Packed bodies change how lines are split into nodes, not the text.
    MimePart packed;
    position = input.c_str();
    ParsePacked(&packed, &position);
    CheckLists(packed);
    if (Serialized(packed) != once)
        abort();

    MimePart headers;
    position = input.c_str();
    ParseHeaderBlock(&headers, &position);
    const LineNode* a = headers.headers.head;
    const LineNode* b = first.headers.head;
    for (; a != NULL && b != NULL; a = a->next, b = b->next)
        if (strcmp(a->text, b->text) != 0)
            abort();
    if (a != NULL || b != NULL)
        abort();

    char value[64];
    first.GetHeader("Content-Type", value, sizeof value);
    first.SetHeader("Content-Type", "text/plain\r\n");
    first.SetHeader("X-New", "");
    Serialized(first);
    ClassifySmimeMessage(input.c_str());
    return 0;
}
