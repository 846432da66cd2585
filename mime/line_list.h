// An ordered, doubly linked list of owned text chunks.
#pragma once

#include <stddef.h>

// A node and its text usually share one allocation, so change a node's text
// only through LineList::SetText and release a node only through FreeNode.
struct LineNode {
    char* text;
    LineNode* next;
    LineNode* prev;
    int length;
};

class LineList {
public:
    LineList() : head(0), tail(0) {}
    ~LineList() { Clear(); }
    LineList(const LineList&) = delete;
    LineList& operator=(const LineList&) = delete;

    // Each of these returns null, leaving the list as it was, when memory runs out.
    LineNode* Append(const char* text);
    LineNode* InsertBefore(LineNode* position, const char* text);
    // Appends one node holding first followed by second (either may be empty).
    LineNode* AppendJoined(const char* first, size_t firstLength, const char* second,
                           size_t secondLength);
    void Unlink(LineNode* node);
    void Clear();

    // Replaces a node's text with a copy of text (unchanged when memory runs out).
    static void SetText(LineNode* node, const char* text);
    // Frees a node taken out with Unlink.
    static void FreeNode(LineNode* node);

    LineNode* head;
    LineNode* tail;
};
