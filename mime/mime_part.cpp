// The MIME part tree: building and destroying parts, writing a tree back as
// text, and header access. The parser is in mime_parser.cpp.
#include "mime/mime_part.h"

#include <stdlib.h>
#include <string.h>

namespace {

// Destroys a chain of siblings and all their descendants without recursion.
void DestroyChain(MimePart* chain)
{
    while (chain != NULL) {
        MimePart* part = chain;
        chain = part->next;
        if (part->firstChild != NULL) {
            MimePart* last = part->firstChild;
            while (last->next != NULL)
                last = last->next;
            last->next = chain;
            chain = part->firstChild;
        }
        part->firstChild = NULL;
        part->next = NULL;
        delete part;
    }
}

// Walks the subtree in output order, handing every piece of text to sink.
// False when memory for the walk runs out.
template <class Sink>
bool WalkText(const MimePart* root, Sink& sink)
{
    struct Step {
        const MimePart* part;
        const MimePart* pendingChild;
        const char* boundary;
        size_t boundaryLength;
    };
    size_t capacity = 16, count = 0;
    Step* steps = static_cast<Step*>(malloc(capacity * sizeof(Step)));
    if (steps == NULL)
        return false;

    const MimePart* part = root;
    for (;;) {
        // Enter part: its own lines, then its children one by one.
        for (const LineNode* n = part->headers.head; n != NULL; n = n->next)
            sink(n->text, (size_t)n->length);
        for (const LineNode* n = part->body.head; n != NULL; n = n->next)
            sink(n->text, (size_t)n->length);
        if (count == capacity) {
            Step* grown = static_cast<Step*>(realloc(steps, 2 * capacity * sizeof(Step)));
            if (grown == NULL) {
                free(steps);
                return false;
            }
            steps = grown;
            capacity *= 2;
        }
        Step& step = steps[count++];
        step.part = part;
        step.pendingChild = part->firstChild;
        step.boundary = part->boundary != NULL ? part->boundary : "";
        step.boundaryLength = strlen(step.boundary);

        part = NULL;
        while (count > 0) {
            Step& top = steps[count - 1];
            if (top.pendingChild != NULL) {
                part = top.pendingChild;
                top.pendingChild = part->next;
                sink("--", 2);
                sink(top.boundary, top.boundaryLength);
                if (part->delimiterPadding != NULL)
                    sink(part->delimiterPadding, strlen(part->delimiterPadding));
                sink("\r\n", 2);
                break;
            }
            if (top.part->firstChild != NULL) {
                if (!top.part->closingMissing) {
                    sink("--", 2);
                    sink(top.boundary, top.boundaryLength);
                    sink("--", 2);
                    if (top.part->closingPadding != NULL)
                        sink(top.part->closingPadding, strlen(top.part->closingPadding));
                    sink("\r\n", 2);
                }
                for (const LineNode* n = top.part->epilogue.head; n != NULL; n = n->next)
                    sink(n->text, (size_t)n->length);
            }
            --count;
        }
        if (part == NULL)
            break;
    }
    free(steps);
    return true;
}

struct SizeSink {
    size_t total = 0;
    bool overflow = false;
    void operator()(const char*, size_t length)
    {
        if (length > (size_t)-1 - 2 - total)
            overflow = true;
        else
            total += length;
    }
};

struct CopySink {
    char* out;
    void operator()(const char* text, size_t length)
    {
        memcpy(out, text, length);
        out += length;
    }
};

}  // namespace

MimePart::MimePart()
    : boundary(NULL), next(NULL), firstChild(NULL), closingMissing(false), delimiterPadding(NULL),
      closingPadding(NULL)
{
    contentType[0] = '\0';
    contentSubtype[0] = '\0';
}

MimePart::~MimePart()
{
    MimePart* chain = firstChild;
    firstChild = NULL;
    DestroyChain(chain);
    chain = next;
    next = NULL;
    DestroyChain(chain);
    free(boundary);
    free(delimiterPadding);
    free(closingPadding);
}

void MimePart::DropChildren()
{
    MimePart* chain = firstChild;
    firstChild = NULL;
    closingMissing = false;
    free(closingPadding);
    closingPadding = NULL;
    DestroyChain(chain);
}

char* MimePart::Serialize(const char* prefix) const
{
    // Sized in one walk and filled in a second, so the text is copied once.
    SizeSink size;
    size(prefix, strlen(prefix));
    if (!WalkText(this, size) || size.overflow)
        return NULL;
    char* text = static_cast<char*>(malloc(size.total + 2));
    if (text == NULL)
        return NULL;
    CopySink copy{text};
    copy(prefix, strlen(prefix));
    if (!WalkText(this, copy)) {
        free(text);
        return NULL;
    }
    text[size.total] = '\0';
    text[size.total + 1] = '\0';
    return text;
}

// The first header line of that name: the name, then a colon at once.
static LineNode* FindHeader(const LineList& headers, const char* name)
{
    size_t length = strlen(name);
    for (LineNode* node = headers.head; node != NULL; node = node->next)
        if ((size_t)node->length > length && node->text[length] == ':' &&
            EqualNoCase(node->text, name, length))
            return node;
    return NULL;
}

void MimePart::GetHeader(const char* name, char* buffer, int size) const
{
    if (size <= 0)
        return;
    buffer[0] = '\0';
    const LineNode* node = FindHeader(headers, name);
    if (node == NULL)
        return;
    const char* value = node->text + strlen(name) + 1;
    while (*value == ' ' || *value == '\t' || *value == '\r' || *value == '\n')
        ++value;
    size_t length = (size_t)(node->text + node->length - value);
    if (length > (size_t)size - 1)
        length = (size_t)size - 1;
    memcpy(buffer, value, length);
    buffer[length] = '\0';
}

void MimePart::SetHeader(const char* name, const char* value)
{
    size_t nameLength = strlen(name), valueLength = strlen(value);
    char* line = static_cast<char*>(malloc(nameLength + valueLength + 3));
    if (line == NULL)
        return;
    memcpy(line, name, nameLength);
    memcpy(line + nameLength, ": ", 2);
    memcpy(line + nameLength + 2, value, valueLength + 1);

    LineNode* node = FindHeader(headers, name);
    if (node != NULL) {
        if (valueLength != 0) {
            LineList::SetText(node, line);
        } else {
            headers.Unlink(node);
            LineList::FreeNode(node);
        }
    } else if (headers.tail != NULL) {
        headers.InsertBefore(headers.tail, line);
    } else {
        headers.Append(line);
    }
    free(line);
}
