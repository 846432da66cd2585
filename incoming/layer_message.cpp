#include "incoming/layer_message.h"

#include <stdlib.h>
#include <string.h>

#include "mime/mime_part.h"

enum { LAYER_HEADER_SIZE = 32768 };

static const char* const kCarriedHeaders[] = {"Date", "Subject", "From", "To", "Cc"};

// Where the body begins: after the first "\r\n\r\n". Content whose header
// block ends earlier with other line ends (bare LF from a binary-mode sender)
// would otherwise lose the body lines the parser did not take as headers, so
// there the parser's own end of the header block decides.
static const char* BodyAfterHeaderBlock(const char* content, const char* headerEnd)
{
    const char* crlf = strstr(content, "\r\n\r\n");
    if (crlf != NULL && crlf < headerEnd)
        return crlf + 4;
    return headerEnd;
}

// Whether text begins with a header field ("Name:"), as a MIME entity does.
// Libraries sign and encrypt bare texts too; such a text has no header block.
static bool StartsWithHeaderField(const char* text)
{
    const char* p = text;
    while (*p > ' ' && *p < 127 && *p != ':')
        ++p;
    return p != text && *p == ':';
}

// The layer part's header lines and its first body line; returns where the
// content's body begins (it becomes the rest of the layer's body).
static const char* BuildLayerHeaders(MimePart* outer, MimePart* layer, const char* content)
{
    // The layer is carried as flat text: its body and sub-parts would be
    // dropped right after parsing, so only the header block is parsed.
    const char* position = content;
    const char* body;
    if (StartsWithHeaderField(content) || *content == '\r' || *content == '\n') {
        ParseHeaderBlock(layer, &position);
        body = BodyAfterHeaderBlock(content, position);
    } else {
        // All of it is body: its first line would otherwise be taken for a
        // header and the carried headers put after it.
        layer->headers.Clear();
        layer->headers.Append("\r\n");
        body = content;
    }
    layer->body.Clear();
    layer->DropChildren();

    layer->body.Append("\r\n");

    // Two spare bytes give a value cut at the buffer's end back its line end.
    char* value = (char*)malloc(LAYER_HEADER_SIZE + 2);
    if (value == NULL)
        return body;
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
    return body;
}

void BuildLayerMessage(MimePart* outer, MimePart* layer, const char* content)
{
    const char* body = BuildLayerHeaders(outer, layer, content);
    if (*body != '\0')
        layer->body.Append(body);
}

char* LayerMessageText(MimePart* outer, char* content)
{
    MimePart layer;
    size_t bodyStart = (size_t)(BuildLayerHeaders(outer, &layer, content) - content);
    size_t bodyLength = strlen(content + bodyStart);
    char* head = layer.Serialize();
    if (head == NULL) {
        free(content);
        return NULL;
    }
    // The body stays in the content's own buffer and the headers go in front
    // of it: a large message is not held a further time.
    size_t headLength = strlen(head);
    size_t total = headLength + bodyLength + 1;
    char* text = content;
    if (headLength > bodyStart) {
        text = (char*)realloc(content, total);
        if (text == NULL) {
            free(content);
            free(head);
            return NULL;
        }
    }
    memmove(text + headLength, text + bodyStart, bodyLength + 1);
    memcpy(text, head, headLength);
    free(head);
    if (headLength < bodyStart) {
        char* shrunk = (char*)realloc(text, total);
        if (shrunk != NULL)
            text = shrunk;
    }
    return text;
}
