// One MIME entity with its headers, body, epilogue and sub-parts. The tree
// and header access are in mime_part.cpp, the parser in mime_parser.cpp.
#pragma once

#include "common/text.h"  // FindNoCase, used with the tree on raw message text
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
    // prefix, then the whole subtree, as a new heap text (free()); null when
    // memory runs out.
    char* Serialize(const char* prefix = "") const;
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
    // Set by Parse when the text ended this multipart before its closing
    // delimiter; Serialize then adds none, so that it writes back only what it read.
    bool closingMissing;
    // Blanks and tabs that followed the delimiter which opened this part, and
    // the closing delimiter of this multipart (transport padding); owned, null
    // when there were none. Kept so that the text is written back as it was read.
    char* delimiterPadding;
    char* closingPadding;
};

// Reads the header block only (up to and including the blank line that ends it),
// as Parse would; for callers that look at nothing else.
void ParseHeaderBlock(MimePart* part, const char** position);

// Reads a whole message as Parse does, except that the lines of bodies,
// preambles and epilogues take few large nodes: runs of lines that end in
// CR LF are borrowed from the text (LineList::AppendBorrowed), other lines are
// packed (LineList::AppendPacked); header lines stay one a node. For callers
// that only serialise those lines: a message then needs about the size of its
// differently ended lines rather than many times its own. The text must
// outlive the part, unchanged.
void ParsePacked(MimePart* part, const char** position);

// Reads one name=value parameter of a header value in place (terminators are
// written into the text); returns where the next one starts, or null when
// there is no further "=".
char* ParseParameter(char* position, char** name, char** value);
