// One MIME entity with its headers, body, epilogue and sub-parts.
#pragma once

#include "mime/line_list.h"

enum { MIME_TOKEN_SIZE = 40, MIME_LINE_SIZE = 65536 };

class MimePart {
public:
    MimePart();
    ~MimePart();
    MimePart(const MimePart&) = delete;
    MimePart& operator=(const MimePart&) = delete;

    // Reads a part from *position; nested calls pass the parent's boundary.
    void Parse(const char** position, const char* enclosingBoundary);
    // The whole subtree as a new heap text (free()); null when memory runs out.
    char* Serialize() const;
    // Copies the first header of that name's value into buffer (empty when absent).
    void GetHeader(const char* name, char* buffer, int size) const;
    // Replaces, deletes (empty value) or adds a header line.
    void SetHeader(const char* name, const char* value);
    // Destroys every sub-part.
    void DropChildren();

    char contentType[MIME_TOKEN_SIZE + 1];
    char contentSubtype[MIME_TOKEN_SIZE + 1];
    char* boundary;
    LineList headers;
    LineList body;
    LineList epilogue;
    MimePart* next;
    MimePart* firstChild;
};

// Case-insensitive (ASCII) substring search; null when not found.
const char* FindNoCase(const char* text, const char* needle);
