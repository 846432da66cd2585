// The MIME parser: a message text into a MimePart tree.
//
// Parsing is iterative with an explicit stack of open parts, so hostile nesting
// cannot exhaust the call stack; delimiters below MAX_NESTING levels are kept as
// body lines of the deepest part. Lines longer than the line buffer are split
// into several nodes without adding or losing a byte.
#include <new>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "common/text.h"
#include "mime/mime_part.h"
#include "mime/word_scan.h"

namespace {

enum {
    MAX_NESTING = 64,                 // multipart levels below the top-level part
    LINE_CAPACITY = MIME_LINE_SIZE - 1,  // bytes of one piece, its line end counted as one
    HEADER_CAPACITY = MIME_LINE_SIZE,    // bytes of one (folded) header line
};

bool IsBlankChar(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool IsDelimiter(char c, const char* delimiters)
{
    for (const char* d = delimiters; *d != '\0'; ++d)
        if (c == *d)
            return true;
    return false;
}

// strtok_r: skips leading delimiters, terminates the token at the next one
// and leaves *cursor behind it (or on the terminator).
char* NextToken(char** cursor, const char* delimiters)
{
    char* p = *cursor;
    while (*p != '\0' && IsDelimiter(*p, delimiters))
        ++p;
    if (*p == '\0') {
        *cursor = p;
        return NULL;
    }
    char* token = p;
    while (*p != '\0' && !IsDelimiter(*p, delimiters))
        ++p;
    if (*p != '\0')
        *p++ = '\0';
    *cursor = p;
    return token;
}

void CopyCut(char* destination, const char* source, size_t capacity)
{
    size_t length = strlen(source);
    if (length > capacity)
        length = capacity;
    memcpy(destination, source, length);
    destination[length] = '\0';
}

// One physical line, or the part of it that fits the line buffer.
struct Piece {
    const char* start;
    size_t content;   // bytes before the line end
    size_t consumed;  // source bytes taken, line end included
    bool lineEnd;     // ended by CR LF, CR or LF
    bool split;       // the physical line goes on in the next piece
    // The node text: the content, with CR LF unless the line goes on.
    size_t NodeLength() const { return content + (split ? 0 : 2); }
};

// Whether any of the eight bytes in word is a CR or an LF.
inline bool HasLineEnd(uint64_t word)
{
    return (BytesEqual(word, '\r') | BytesEqual(word, '\n')) != 0;
}

// The next piece from position; end is the text's terminator when known
// (then whole words are examined at a time), or null.
Piece ReadPiece(const char* position, const char* end)
{
    Piece piece;
    piece.start = position;
    piece.lineEnd = false;
    piece.split = false;
    size_t i = 0;
    if (end != NULL) {
        size_t limit = (size_t)(end - position);
        if (limit > LINE_CAPACITY)
            limit = LINE_CAPACITY;
        for (; i + 8 <= limit; i += 8)
            if (HasLineEnd(LoadWord(position + i)))
                break;
        while (i < limit && position[i] != '\r' && position[i] != '\n')
            ++i;
    } else {
        for (; i < LINE_CAPACITY; ++i) {
            char c = position[i];
            if (c == '\0' || c == '\r' || c == '\n')
                break;
        }
    }
    piece.content = i;
    piece.consumed = i;
    if (i == LINE_CAPACITY) {
        // Full buffer: the rest of the line (if any) is the next piece.
        piece.split = position[i] != '\0';
    } else if (position[i] != '\0') {
        piece.lineEnd = true;
        piece.consumed += (position[i] == '\r' && position[i + 1] == '\n') ? 2 : 1;
    }
    return piece;
}

enum PartState { IN_HEADER, IN_BODY, AFTER_CLOSE };

struct OpenPart {
    MimePart* part;
    const char* enclosing;  // the parent's boundary, or null
    size_t enclosingLength;
    size_t boundaryLength;  // of part->boundary, valid from IN_BODY on
    PartState state;
    MimePart* lastChild;
};

class Parser {
public:
    explicit Parser(const char* text)
        : position_(text), end_(NULL), inLine_(false), gather_(NULL), gatherCapacity_(0), depth_(0),
          failed_(false), headersOnly_(false), packBodies_(false)
    {
    }
    ~Parser() { free(gather_); }

    // Returns the read position at which parsing stopped; sets failed() on lack of memory.
    const char* Run(MimePart* root, const char* enclosing, bool headersOnly);
    void PackBodies() { packBodies_ = true; }
    bool failed() const { return failed_; }

private:
    // What one line did at the open level.
    enum Step {
        STEP_DONE,       // the line was taken; read the next one
        STEP_TO_PARENT,  // the line belongs to an enclosing part: close this level
        STEP_STOP,       // parsing ends after the line
        STEP_ORDINARY,   // not a delimiter of this part: an ordinary line
    };
    // A line's leading "--" and what follows it, as the delimiter checks see it.
    struct DashLine {
        bool dashes;
        const char* text;  // after the dashes
        size_t length;
        size_t padding;  // blanks and tabs at its end (transport padding)
        bool parentDelimiter;  // starts with the enclosing boundary
    };

    void OpenTop(MimePart* root, const char* enclosing, bool headersOnly);
    DashLine LookAtDashes(const OpenPart& open, const Piece& piece, bool midLine) const;
    Step ReadLineAt(OpenPart& open, const Piece& piece, bool midLine);
    Step ReadHeaderBlockLine(OpenPart& open, const Piece& piece, bool midLine);
    Step ReadOwnDelimiter(OpenPart& open, const Piece& piece, const DashLine& line);
    void ReadHeaderLine(OpenPart& open, const Piece& first, bool midLine);
    void ReadContentType(MimePart* part, size_t length);
    void ReadContentTypeText(MimePart* part, char* line);
    bool ReserveGather(size_t size);
    LineList& OrdinaryLineList(OpenPart& open);
    // A multipart that ends without its closing delimiter.
    static void NoteEnd(OpenPart& open)
    {
        if (open.state == IN_BODY && open.part->firstChild != NULL)
            open.part->closingMissing = true;
    }
    bool StartChild(OpenPart& open);
    // Keeps the transport padding of a delimiter line in *field.
    void KeepPadding(char** field, const char* padding, size_t length)
    {
        if (length == 0)
            return;
        free(*field);
        *field = static_cast<char*>(malloc(length + 1));
        if (*field == NULL) {
            failed_ = true;
            return;
        }
        memcpy(*field, padding, length);
        (*field)[length] = '\0';
    }
    void Take(const Piece& piece)
    {
        position_ += piece.consumed;
        inLine_ = piece.split;
    }
    void Append(LineList& list, const Piece& piece)
    {
        if (list.AppendJoined(piece.start, piece.content, "\r\n", piece.split ? 0 : 2) == NULL)
            failed_ = true;
        Take(piece);
    }
    // A line of a body, preamble or epilogue.
    void AppendBodyLine(LineList& list, const Piece& piece)
    {
        if (!packBodies_) {
            Append(list, piece);
            return;
        }
        // A line that stands in the text as its node would hold it is not copied.
        bool verbatim = piece.split || piece.consumed == piece.content + 2;
        LineNode* node = verbatim ? list.AppendBorrowed(piece.start, piece.NodeLength())
                                  : list.AppendPacked(piece.start, piece.content, "\r\n", piece.split ? 0 : 2);
        if (node == NULL)
            failed_ = true;
        Take(piece);
    }

    const char* position_;
    const char* end_;  // the text's terminator; null while only headers are read
    bool inLine_;  // the next piece continues the physical line of the last one
    char* gather_;  // a header line being gathered; grows as needed
    size_t gatherCapacity_;
    OpenPart open_[MAX_NESTING + 1];
    int depth_;
    bool failed_;
    bool headersOnly_;
    bool packBodies_;
};

bool Parser::ReserveGather(size_t size)
{
    if (size <= gatherCapacity_)
        return true;
    size_t capacity = gatherCapacity_ == 0 ? 256 : gatherCapacity_;
    while (capacity < size)
        capacity *= 2;
    char* grown = static_cast<char*>(realloc(gather_, capacity));
    if (grown == NULL) {
        failed_ = true;
        return false;
    }
    gather_ = grown;
    gatherCapacity_ = capacity;
    return true;
}

void Parser::ReadContentType(MimePart* part, size_t length)
{
    // The parameters are read in place, from a copy.
    char* scratch = static_cast<char*>(malloc(length + 1));
    if (scratch == NULL) {
        failed_ = true;
        return;
    }
    memcpy(scratch, gather_, length);
    scratch[length] = '\0';
    ReadContentTypeText(part, scratch);
    free(scratch);
}

void Parser::ReadContentTypeText(MimePart* part, char* line)
{
    char* cursor = line + 13;
    char* type = NextToken(&cursor, "/ \t\r\n");  // the value may begin on a folded line
    if (type == NULL)
        return;
    char* subtype = NextToken(&cursor, "; \r\n\t");
    if (subtype == NULL)
        return;
    CopyCut(part->contentType, type, MIME_TOKEN_SIZE);
    CopyCut(part->contentSubtype, subtype, MIME_TOKEN_SIZE);
    while (cursor != NULL && *cursor != '\0') {
        char* name;
        char* value;
        cursor = ParseParameter(cursor, &name, &value);
        if (cursor == NULL)
            break;
        if (strlen(name) == 8 && EqualNoCase(name, "boundary", 8)) {
            char* copy = strdup(value);
            if (copy == NULL) {
                failed_ = true;
                return;
            }
            free(part->boundary);
            part->boundary = copy;
        }
    }
}

// A header line with its folded continuation lines, gathered into one node.
void Parser::ReadHeaderLine(OpenPart& open, const Piece& first, bool midLine)
{
    size_t length = 0;
    Piece piece = first;
    for (;;) {
        if (!ReserveGather(length + piece.NodeLength()))
            return;
        memcpy(gather_ + length, piece.start, piece.content);
        length += piece.content;
        if (!piece.split) {
            gather_[length++] = '\r';
            gather_[length++] = '\n';
        }
        Take(piece);
        if (*position_ == '\0')
            break;
        if (!inLine_ && *position_ != ' ' && *position_ != '\t')
            break;
        piece = ReadPiece(position_, end_);
        if (length + piece.NodeLength() > HEADER_CAPACITY)
            break;  // the rest becomes a header line of its own
    }
    if (open.part->headers.AppendJoined(gather_, length, NULL, 0) == NULL) {
        failed_ = true;
        return;
    }
    if (!midLine && length >= 13 && EqualNoCase(gather_, "Content-Type:", 13))
        ReadContentType(open.part, length);
}

bool Parser::StartChild(OpenPart& open)
{
    MimePart* child = new (std::nothrow) MimePart;
    if (child == NULL) {
        failed_ = true;
        return false;
    }
    if (open.lastChild != NULL)
        open.lastChild->next = child;
    else
        open.part->firstChild = child;
    open.lastChild = child;
    OpenPart& inner = open_[++depth_];
    inner.part = child;
    inner.enclosing = open.part->boundary;
    inner.enclosingLength = open.boundaryLength;
    inner.boundaryLength = 0;
    inner.state = IN_HEADER;
    inner.lastChild = NULL;
    return true;
}

// Where an ordinary line goes. A line that ended a part without being a
// delimiter of its parent (say "--boundary " with a trailing blank), and the
// lines after it, stay at the end of that part rather than joining the
// preamble: the preamble is written before the parts, so the text would be
// reordered, and the moved lines would change how the text parses again.
LineList& Parser::OrdinaryLineList(OpenPart& open)
{
    if (open.state == AFTER_CLOSE)
        return open.part->epilogue;
    MimePart* last = open.lastChild;
    if (last == NULL)
        return open.part->body;
    return last->firstChild != NULL ? last->epilogue : last->body;
}

void Parser::OpenTop(MimePart* root, const char* enclosing, bool headersOnly)
{
    headersOnly_ = headersOnly;
    // The header block alone is usually a tiny part of the text: not worth a strlen.
    end_ = headersOnly ? NULL : position_ + strlen(position_);
    OpenPart& top = open_[0];
    top.part = root;
    top.enclosing = enclosing;
    top.enclosingLength = enclosing != NULL ? strlen(enclosing) : 0;
    top.boundaryLength = 0;
    top.state = IN_HEADER;
    top.lastChild = root->firstChild;
    while (top.lastChild != NULL && top.lastChild->next != NULL)
        top.lastChild = top.lastChild->next;
}

Parser::DashLine Parser::LookAtDashes(const OpenPart& open, const Piece& piece, bool midLine) const
{
    DashLine line;
    line.dashes = !midLine && piece.content >= 2 && piece.start[0] == '-' && piece.start[1] == '-';
    line.text = piece.start + 2;
    line.length = line.dashes ? piece.content - 2 : 0;
    // Blanks and tabs after a delimiter are transport padding (RFC 2046):
    // "--b " still opens a part, and a list footer after "--b-- " stays outside.
    line.padding = 0;
    while (!piece.split && line.padding < line.length &&
           (line.text[line.length - 1 - line.padding] == ' ' || line.text[line.length - 1 - line.padding] == '\t'))
        ++line.padding;
    line.parentDelimiter = line.dashes && open.enclosing != NULL && line.length >= open.enclosingLength &&
                           memcmp(line.text, open.enclosing, open.enclosingLength) == 0;
    return line;
}

// The blank line ends the header block; any other line is a header line.
Parser::Step Parser::ReadHeaderBlockLine(OpenPart& open, const Piece& piece, bool midLine)
{
    if (midLine || piece.content != 0 || !piece.lineEnd) {
        ReadHeaderLine(open, piece, midLine);
        return STEP_DONE;
    }
    Append(open.part->headers, piece);
    if (headersOnly_)
        return STEP_STOP;
    open.state = IN_BODY;
    open.boundaryLength = open.part->boundary != NULL ? strlen(open.part->boundary) : 0;
    return STEP_DONE;
}

// A delimiter of the open multipart starts a child; its closing delimiter
// ends the multipart.
Parser::Step Parser::ReadOwnDelimiter(OpenPart& open, const Piece& piece, const DashLine& line)
{
    const char* boundary = open.part->boundary;
    size_t length = open.boundaryLength;
    size_t unpadded = line.length - line.padding;
    if (unpadded == length && memcmp(line.text, boundary, length) == 0) {
        if (depth_ == MAX_NESTING) {
            AppendBodyLine(open.part->body, piece);  // too deep: kept as text
        } else if (StartChild(open)) {
            Take(piece);
            KeepPadding(&open.lastChild->delimiterPadding, line.text + length, line.padding);
        }
        return STEP_DONE;
    }
    // A closing delimiter before any part would be written out by nobody
    // (its part has no delimiters to close), so it stays a line.
    if (open.part->firstChild != NULL && unpadded == length + 2 &&
        memcmp(line.text, boundary, length) == 0 && line.text[length] == '-' &&
        line.text[length + 1] == '-') {
        Take(piece);
        KeepPadding(&open.part->closingPadding, line.text + length + 2, line.padding);
        if (open.enclosing == NULL)
            return STEP_STOP;  // whatever follows is not read
        open.state = AFTER_CLOSE;
        return STEP_DONE;
    }
    return STEP_ORDINARY;
}

Parser::Step Parser::ReadLineAt(OpenPart& open, const Piece& piece, bool midLine)
{
    DashLine line = LookAtDashes(open, piece, midLine);
    if (open.state == IN_HEADER) {
        // A delimiter of the parent ends this part, even inside its header
        // block: a part without a blank line must not swallow the parts after it.
        if (line.parentDelimiter)
            return STEP_TO_PARENT;
        return ReadHeaderBlockLine(open, piece, midLine);
    }
    if (line.dashes && open.state == IN_BODY && open.part->boundary != NULL) {
        Step step = ReadOwnDelimiter(open, piece, line);
        if (step != STEP_ORDINARY)
            return step;
    }
    if (line.parentDelimiter) {
        NoteEnd(open);
        return STEP_TO_PARENT;
    }
    AppendBodyLine(OrdinaryLineList(open), piece);
    return STEP_DONE;
}

const char* Parser::Run(MimePart* root, const char* enclosing, bool headersOnly)
{
    OpenTop(root, enclosing, headersOnly);
    while (!failed_ && *position_ != '\0') {
        const char* lineStart = position_;
        Piece piece = ReadPiece(position_, end_);
        bool midLine = inLine_;
        // A line handed to the parent is looked at again there, so this
        // repeats at most once per open level.
        for (;;) {
            Step step = ReadLineAt(open_[depth_], piece, midLine);
            if (step == STEP_STOP)
                return position_;
            if (step != STEP_TO_PARENT)
                break;
            if (depth_ == 0)
                return lineStart;  // the caller's delimiter: left unread
            --depth_;
        }
    }
    for (int level = depth_; level >= 0; --level)
        NoteEnd(open_[level]);
    return position_;
}

void ResetPart(MimePart* part)
{
    part->headers.Clear();
    part->body.Clear();
    part->epilogue.Clear();
    part->DropChildren();
    free(part->boundary);
    part->boundary = NULL;
    part->contentType[0] = '\0';
    part->contentSubtype[0] = '\0';
    part->closingMissing = false;
    free(part->closingPadding);
    part->closingPadding = NULL;
}

void RunParser(MimePart* part, const char** position, const char* enclosing, bool headersOnly,
               bool packBodies)
{
    part->closingMissing = false;
    part->headers.Clear();
    part->body.Clear();
    part->epilogue.Clear();
    if (position == NULL || *position == NULL)
        return;
    // The stack of open parts is kept off the caller's stack.
    Parser* parser = new (std::nothrow) Parser(*position);
    if (parser == NULL) {
        *position += strlen(*position);
        return;
    }
    if (packBodies)
        parser->PackBodies();
    const char* end = parser->Run(part, enclosing, headersOnly);
    if (parser->failed()) {
        // Out of memory: the caller gets an empty part rather than a partial one.
        ResetPart(part);
        end += strlen(end);
    }
    *position = end;
    delete parser;
}

}  // namespace

void MimePart::Parse(const char** position, const char* enclosingBoundary)
{
    RunParser(this, position, enclosingBoundary, false, false);
}

void ParseHeaderBlock(MimePart* part, const char** position)
{
    RunParser(part, position, NULL, true, false);
}

void ParsePacked(MimePart* part, const char** position)
{
    RunParser(part, position, NULL, false, true);
}

char* ParseParameter(char* position, char** name, char** value)
{
    char* p = position;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\n' || *p == ';')
        ++p;
    char* equals = strchr(p, '=');
    if (equals == NULL)
        return NULL;
    *equals = '\0';
    *name = p;
    p = equals + 1;
    while (IsBlankChar(*p))
        ++p;
    char* end;
    if (*p == '"') {
        *value = ++p;
        end = strchr(p, '"');
    } else {
        *value = p;
        end = p + strcspn(p, " \t;\r\n");
    }
    if (end == NULL || *end == '\0') {
        p = end != NULL ? end : p + strlen(p);
    } else {
        *end = '\0';
        p = end + 1;
    }
    while (*p == ';' || *p == ' ' || *p == '\t' || *p == '\r' || *p == '\n')
        ++p;
    return p;
}
