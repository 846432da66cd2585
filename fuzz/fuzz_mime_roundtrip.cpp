// Parse, serialise, parse again: the second serialisation must equal the first.
// The first must be the text that was read, with CR LF line ends; and the
// header block read alone must equal the one of the full parse, and a parse
// with packed bodies must serialise to the same text. The same holds for a
// message that a small model writes from the input's bytes, whose tree must
// moreover have the shape the model says.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz/mime_model.h"
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

// Borrowed texts must lie within the parsed text [begin, end).
static void CheckLists(const MimePart& part, const char* begin = NULL, const char* end = NULL)
{
    const LineList* lists[] = {&part.headers, &part.body, &part.epilogue};
    for (const LineList* list : lists)
        for (const LineNode* n = list->head; n != NULL; n = n->next) {
            if (n->borrowed ? (n->text < begin || n->text + n->length > end) : (size_t)n->length != strlen(n->text))
                abort();
            if (n->next != NULL && n->next->prev != n)
                abort();
        }
}

static void CheckRoundTrip(const std::string& input, MimePart& first)
{
    const char* position = input.c_str();
    first.Parse(&position, NULL);
    if (position < input.c_str() || position > input.c_str() + strlen(input.c_str()))
        abort();
    CheckLists(first);
    std::string once = Serialized(first);
    if (once != mime_model::Normalised(input.c_str(), (size_t)(position - input.c_str())))
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
    CheckLists(packed, input.c_str(), input.c_str() + input.size());
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

    ClassifySmimeMessage(input.c_str());
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SetUpFuzzing(false);
    std::string input(reinterpret_cast<const char*>(data), size);
    MimePart first;
    CheckRoundTrip(input, first);
    char value[64];
    first.GetHeader("Content-Type", value, sizeof value);
    first.SetHeader("Content-Type", "text/plain\r\n");
    first.SetHeader("X-New", "");
    Serialized(first);

    uint64_t seed = 14695981039346656037ULL;  // FNV-1a of the input
    for (size_t i = 0; i < size; ++i)
        seed = (seed ^ data[i]) * 1099511628211ULL;
    mime_model::Generated message = mime_model::Generate(seed);
    MimePart parsed;
    CheckRoundTrip(message.text, parsed);
    if (mime_model::Shape(parsed) != message.shape) {
        fprintf(stderr, "%s\nparsed:   %s\nexpected: %s\n", message.text.c_str(),
                mime_model::Shape(parsed).c_str(), message.shape.c_str());
        abort();
    }
    return 0;
}
