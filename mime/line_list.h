// An ordered, doubly linked list of text chunks, owned or borrowed.
#pragma once

#include <stddef.h>

// A node and its text usually share one allocation, so change a node's text
// only through LineList::SetText and release a node only through FreeNode.
// text[length] is '\0' except in borrowed nodes, whose text lies in the
// caller's memory: read node texts by their length.
struct LineNode {
    char* text;
    LineNode* next;
    LineNode* prev;
    int length;
    bool borrowed;
};

class LineList {
public:
    LineList() : head(0), tail(0), packedRoom_(0) {}
    ~LineList() { Clear(); }
    LineList(const LineList&) = delete;
    LineList& operator=(const LineList&) = delete;

    // Each of these returns null, leaving the list as it was, when memory runs out.
    LineNode* Append(const char* text);
    LineNode* InsertBefore(LineNode* position, const char* text);
    // Appends one node holding first followed by second (either may be empty).
    LineNode* AppendJoined(const char* first, size_t firstLength, const char* second,
                           size_t secondLength);
    // Appends first followed by second to the tail node when the tail was made
    // by AppendPacked, else as a new node that later packed texts may join.
    // Nodes grow to about PACKED_NODE_SIZE bytes; for lists whose texts are only
    // ever concatenated, a long run of short lines then takes a few large nodes
    // instead of one node each. Returns the node that took the text.
    LineNode* AppendPacked(const char* first, size_t firstLength, const char* second,
                           size_t secondLength);
    // Appends a node that points at text instead of copying it; the caller
    // keeps that memory alive and unchanged while the node lives. A text that
    // starts where a borrowed tail's ends lengthens the tail instead, so the
    // lines of one run of the caller's text take one node.
    LineNode* AppendBorrowed(const char* text, size_t length);
    void Unlink(LineNode* node);
    void Clear();

    // Replaces a node's text with a copy of text (unchanged when memory runs
    // out); a borrowed node gets a text of its own.
    static void SetText(LineNode* node, const char* text);
    static void SetText(LineNode* node, const char* text, size_t length);
    // Frees a node taken out with Unlink.
    static void FreeNode(LineNode* node);

    enum { PACKED_NODE_SIZE = 65536 };

    LineNode* head;
    LineNode* tail;

private:
    size_t packedRoom_;  // bytes the tail's text may hold when AppendPacked made it, else 0
};
