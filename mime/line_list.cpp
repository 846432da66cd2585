// Line lists. Each node is allocated together with its text, which halves the
// number of heap blocks a parsed message needs.
#include "mime/line_list.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

static char* InlineText(LineNode* node)
{
    return reinterpret_cast<char*>(node + 1);
}

static LineNode* NewNode(const char* first, size_t firstLength, const char* second,
                         size_t secondLength)
{
    if (firstLength > (size_t)INT_MAX || secondLength > (size_t)INT_MAX - firstLength)
        return NULL;
    size_t length = firstLength + secondLength;
    LineNode* node = static_cast<LineNode*>(malloc(sizeof(LineNode) + length + 1));
    if (node == NULL)
        return NULL;
    node->text = InlineText(node);
    if (firstLength != 0)
        memcpy(node->text, first, firstLength);
    if (secondLength != 0)
        memcpy(node->text + firstLength, second, secondLength);
    node->text[length] = '\0';
    node->length = (int)length;
    node->borrowed = false;
    node->next = NULL;
    node->prev = NULL;
    return node;
}

static void LinkAtTail(LineList* list, LineNode* node)
{
    node->prev = list->tail;
    if (list->tail != NULL)
        list->tail->next = node;
    else
        list->head = node;
    list->tail = node;
}

LineNode* LineList::AppendPacked(const char* first, size_t firstLength, const char* second,
                                 size_t secondLength)
{
    LineNode* node = tail;
    // A text whose node was replaced by SetText no longer lies behind its node.
    bool packable = node != NULL && packedRoom_ != 0 && node->text == InlineText(node) &&
                    firstLength <= (size_t)PACKED_NODE_SIZE && secondLength <= (size_t)PACKED_NODE_SIZE;
    size_t used = packable ? (size_t)node->length : 0;
    size_t needed = used + firstLength + secondLength + 1;
    if (!packable || (needed > packedRoom_ && needed > (size_t)PACKED_NODE_SIZE)) {
        // The text starts the next packed node.
        node = AppendJoined(first, firstLength, second, secondLength);
        if (node != NULL)
            packedRoom_ = (size_t)node->length + 1;
        return node;
    }
    if (needed > packedRoom_) {
        // Doubling keeps the copying of a growing node linear in its size.
        size_t room = 2 * packedRoom_ < 256 ? 256 : 2 * packedRoom_;
        if (room > (size_t)PACKED_NODE_SIZE)
            room = PACKED_NODE_SIZE;
        if (room < needed)
            room = needed;
        LineNode* grown = static_cast<LineNode*>(realloc(node, sizeof(LineNode) + room));
        if (grown == NULL)
            return NULL;
        node = grown;
        node->text = InlineText(node);
        if (node->prev != NULL)
            node->prev->next = node;
        else
            head = node;
        tail = node;
        packedRoom_ = room;
    }
    if (firstLength != 0)
        memcpy(node->text + used, first, firstLength);
    if (secondLength != 0)
        memcpy(node->text + used + firstLength, second, secondLength);
    node->length = (int)(used + firstLength + secondLength);
    node->text[node->length] = '\0';
    return node;
}

LineNode* LineList::Append(const char* text)
{
    return AppendJoined(text, strlen(text), NULL, 0);
}

LineNode* LineList::AppendJoined(const char* first, size_t firstLength, const char* second,
                                 size_t secondLength)
{
    LineNode* node = NewNode(first, firstLength, second, secondLength);
    if (node != NULL) {
        LinkAtTail(this, node);
        packedRoom_ = 0;
    }
    return node;
}

LineNode* LineList::AppendBorrowed(const char* text, size_t length)
{
    LineNode* node = tail;
    if (node != NULL && node->borrowed && node->text + node->length == text &&
        length <= (size_t)(INT_MAX - node->length)) {
        node->length += (int)length;
        return node;
    }
    if (length > (size_t)INT_MAX)
        return NULL;
    node = static_cast<LineNode*>(malloc(sizeof(LineNode)));
    if (node == NULL)
        return NULL;
    node->text = const_cast<char*>(text);  // never written through: SetText copies
    node->length = (int)length;
    node->borrowed = true;
    node->next = NULL;
    node->prev = NULL;
    LinkAtTail(this, node);
    packedRoom_ = 0;
    return node;
}

LineNode* LineList::InsertBefore(LineNode* position, const char* text)
{
    LineNode* node = NewNode(text, strlen(text), NULL, 0);
    if (node == NULL)
        return NULL;
    node->next = position;
    node->prev = position->prev;
    if (position->prev != NULL)
        position->prev->next = node;
    else
        head = node;
    position->prev = node;
    return node;
}

void LineList::Unlink(LineNode* node)
{
    if (node->prev != NULL)
        node->prev->next = node->next;
    else
        head = node->next;
    if (node->next != NULL)
        node->next->prev = node->prev;
    else
        tail = node->prev;
    if (node->next == NULL)
        packedRoom_ = 0;  // the tail changed
    node->next = NULL;
    node->prev = NULL;
}

void LineList::Clear()
{
    LineNode* node = head;
    while (node != NULL) {
        LineNode* following = node->next;
        FreeNode(node);
        node = following;
    }
    head = NULL;
    tail = NULL;
    packedRoom_ = 0;
}

void LineList::SetText(LineNode* node, const char* text)
{
    SetText(node, text, strlen(text));
}

void LineList::SetText(LineNode* node, const char* text, size_t length)
{
    if (length <= (size_t)node->length && !node->borrowed) {
        // Fits where the old text was; memmove because text may point into it.
        memmove(node->text, text, length);
        node->text[length] = '\0';
        node->length = (int)length;
        return;
    }
    if (length > (size_t)INT_MAX)
        return;
    char* copy = static_cast<char*>(malloc(length + 1));
    if (copy == NULL)
        return;
    memcpy(copy, text, length);
    copy[length] = '\0';
    if (node->text != InlineText(node) && !node->borrowed)
        free(node->text);
    node->text = copy;
    node->length = (int)length;
    node->borrowed = false;
}

void LineList::FreeNode(LineNode* node)
{
    if (node == NULL)
        return;
    if (node->text != InlineText(node) && !node->borrowed)
        free(node->text);
    free(node);
}
