// An ordered, doubly linked list of owned text chunks.
#pragma once

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

    LineNode* Append(const char* text);
    LineNode* InsertBefore(LineNode* position, const char* text);
    void Unlink(LineNode* node);
    void Clear();

    // Replaces a node's text with a copy of text.
    static void SetText(LineNode* node, const char* text);
    // Frees a node taken out with Unlink.
    static void FreeNode(LineNode* node);

    LineNode* head;
    LineNode* tail;
};
