// The plain message that replaces an S/MIME message for one removed layer.
#include <stdlib.h>
#include <string.h>

#include "incoming/decrypt_verify.h"
#include "incoming/layer_message.h"
#include "mime/mime_part.h"

enum { LAYER_HEADER_SIZE = 32768 };

static const char* const kCarriedHeaders[] = {"Date", "Subject", "From", "To", "Cc"};

// Length of the line end at text (CR LF, LF or a lone CR), 0 when there is none.
static size_t LineEndLength(const char* text)
{
    if (text[0] == '\r')
        return text[1] == '\n' ? 2 : 1;
    return text[0] == '\n' ? 1 : 0;
}

// The first empty line read with every line end the part parser accepts.
static const char* AfterFirstEmptyLine(const char* content)
{
    const char* line = content;
    for (;;) {
        size_t end = LineEndLength(line);
        if (end != 0)
            return line + end;
        const char* p = line;
        while (*p != '\0' && LineEndLength(p) == 0)
            ++p;
        if (*p == '\0')
            return NULL;
        line = p + LineEndLength(p);
    }
}

// Where the body begins: after the first "\r\n\r\n". Content whose header
// block ends earlier with other line ends (bare LF from a binary-mode sender)
// would otherwise lose the body lines the parser did not take as headers, so
// there the parser's own empty line decides.
static const char* BodyAfterHeaderBlock(const char* content)
{
    const char* crlf = strstr(content, "\r\n\r\n");
    const char* parsed = AfterFirstEmptyLine(content);
    if (crlf != NULL && (parsed == NULL || crlf < parsed))
        return crlf + 4;
    return parsed;
}

void ParseHeaderBlock(MimePart* part, const char* text)
{
    const char* end = AfterFirstEmptyLine(text);
    if (end == NULL) {
        const char* position = text;
        part->Parse(&position, NULL);
        return;
    }
    size_t length = (size_t)(end - text);
    char* block = (char*)malloc(length + 1);
    if (block == NULL)
        return;
    memcpy(block, text, length);
    block[length] = '\0';
    const char* position = block;
    part->Parse(&position, NULL);
    free(block);
}

void BuildLayerMessage(MimePart* outer, MimePart* layer, const char* content)
{
    // The layer is carried as flat text: its body and sub-parts would be
    // dropped right after parsing, so only the header block is parsed.
    ParseHeaderBlock(layer, content);
    layer->body.Clear();
    layer->DropChildren();

    layer->body.Append("\r\n");
    const char* body = BodyAfterHeaderBlock(content);
    if (body != NULL)
        layer->body.Append(body);

    // Two spare bytes give a value cut at the buffer's end back its line end.
    char* value = (char*)malloc(LAYER_HEADER_SIZE + 2);
    if (value == NULL)
        return;
    for (const char* name : kCarriedHeaders) {
        layer->GetHeader(name, value, LAYER_HEADER_SIZE);
        if (value[0] != '\0')
            continue;
        outer->GetHeader(name, value, LAYER_HEADER_SIZE);
        if (value[0] == '\0')
            continue;
        size_t length = strlen(value);
        if (value[length - 1] != '\n')
            memcpy(value + length, "\r\n", 3);
        layer->SetHeader(name, value);
    }
    free(value);
}
