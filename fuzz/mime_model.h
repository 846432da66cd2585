// A small model of MIME messages that knows nothing of the parser: it writes a
// message as mail clients and servers do (nested multiparts, preambles and
// epilogues, delimiters with transport padding, folded and oddly cased
// Content-Type lines, LF or CR LF line ends) and says which tree the text must
// parse into. Used by the round-trip fuzz target and by a unit test.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "mime/mime_part.h"

namespace mime_model {

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 1) {}
    unsigned Below(unsigned n)
    {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return (unsigned)(state_ % n);
    }
    bool OneIn(unsigned n) { return Below(n) == 0; }
    template <size_t N>
    const char* Pick(const char* const (&items)[N])
    {
        return items[Below((unsigned)N)];
    }

private:
    uint64_t state_;
};

struct Generated {
    std::string text;
    std::string shape;  // what Shape() of the parsed tree must give
};

// "type/subtype[boundary]{headers,body,epilogue}(children)"; "-" for no type.
inline std::string Shape(const MimePart& part)
{
    auto count = [](const LineList& list) {
        int n = 0;
        for (const LineNode* node = list.head; node != NULL; node = node->next)
            ++n;
        return n;
    };
    std::string s = part.contentType[0] != '\0' ? std::string(part.contentType) + "/" + part.contentSubtype : "-";
    if (part.boundary != NULL)
        s += "[" + std::string(part.boundary) + "]";
    s += "{" + std::to_string(count(part.headers)) + "," + std::to_string(count(part.body)) + "," +
         std::to_string(count(part.epilogue)) + "}";
    if (part.firstChild != NULL) {
        s += "(";
        for (const MimePart* child = part.firstChild; child != NULL; child = child->next)
            s += Shape(*child) + (child->next != NULL ? "," : "");
        s += ")";
    }
    return s;
}

class Writer {
public:
    explicit Writer(uint64_t seed) : random_(seed), boundaries_(0)
    {
        static const char* const kEnds[] = {"\r\n", "\n", "\r\n", "\r\n"};
        lineEnd_ = random_.Pick(kEnds);
        mixed_ = random_.OneIn(8);  // a stray LF line end here and there
    }

    Generated Message()
    {
        Generated g;
        g.shape = Part(&g.text, 0, true);
        return g;
    }

private:
    void Line(std::string* out, const std::string& text)
    {
        *out += text;
        *out += mixed_ && random_.OneIn(3) ? "\n" : lineEnd_;
    }

    // Ordinary text: never begins with "--" followed by a boundary ("=_...").
    std::string TextLine()
    {
        static const char* const kLines[] = {"Hello,", "", "-- ", "--not a delimiter", " indented",
                                             "a line with trailing blanks  ", "=_looks like a boundary",
                                             "Content-Type: text/plain", "\t"};
        return random_.Pick(kLines);
    }

    std::string Padding()
    {
        static const char* const kPads[] = {"", "", "", " ", "\t", "  \t "};
        return random_.Pick(kPads);
    }

    // Boundaries of equal length, so that none is the prefix of another.
    std::string NewBoundary()
    {
        char text[32];
        snprintf(text, sizeof text, "=_Part_%04u_%c", boundaries_++, "abcXYZ"[random_.Below(6)]);
        return text;
    }

    // Extra header lines, some folded; the count of header nodes.
    int OtherHeaders(std::string* out)
    {
        int n = random_.Below(3);
        for (int i = 0; i < n; ++i) {
            if (random_.OneIn(2)) {
                Line(out, "Subject: a subject");
            } else {
                Line(out, "X-Folded: first");
                Line(out, random_.OneIn(2) ? "\tsecond" : " second");
            }
        }
        return n;
    }

    std::string Part(std::string* out, int depth, bool top)
    {
        static const char* const kFieldNames[] = {"Content-Type", "content-type", "CONTENT-TYPE"};
        bool multipart = depth < 3 && random_.Below(3) != 0;
        bool typed = multipart || !random_.OneIn(4);
        int headers = OtherHeaders(out) + 1;  // the blank line
        std::string shape, boundary;
        if (typed) {
            static const char* const kMultis[] = {"multipart/mixed", "Multipart/Alternative", "multipart/signed"};
            static const char* const kLeaves[] = {"text/plain", "application/pkcs7-signature", "Text/HTML"};
            std::string type = multipart ? random_.Pick(kMultis) : random_.Pick(kLeaves);
            shape = type;
            std::string field = random_.Pick(kFieldNames);
            if (multipart) {
                boundary = NewBoundary();
                shape += "[" + boundary + "]";
                std::string parameter = random_.OneIn(2) ? "boundary=\"" + boundary + "\"" : "boundary=" + boundary;
                switch (random_.Below(3)) {
                case 0:
                    Line(out, field + ": " + type + "; " + parameter);
                    break;
                case 1:  // folded after the parameters' separator
                    Line(out, field + ": " + type + ";");
                    Line(out, "\t" + parameter);
                    break;
                default:  // folded straight after the colon
                    Line(out, field + ":");
                    Line(out, " " + type + ";");
                    Line(out, " " + parameter);
                    break;
                }
            } else if (random_.OneIn(3)) {
                Line(out, field + ":");
                Line(out, " " + type);
            } else {
                Line(out, field + ": " + type + "; charset=us-ascii");
            }
            ++headers;
        } else {
            shape = "-";
        }
        Line(out, "");

        int body = random_.Below(4);
        for (int i = 0; i < body; ++i)
            Line(out, TextLine());
        std::string children;
        int epilogue = 0;
        if (multipart) {
            int count = 1 + random_.Below(3);
            for (int i = 0; i < count; ++i) {
                Line(out, "--" + boundary + Padding());
                children += (i > 0 ? "," : "") + Part(out, depth + 1, false);
            }
            Line(out, "--" + boundary + "--" + Padding());
            // After the top-level closing delimiter nothing is read.
            int after = random_.Below(3);
            for (int i = 0; i < after; ++i)
                Line(out, TextLine());
            if (!top)
                epilogue = after;
        }
        shape += "{" + std::to_string(headers) + "," + std::to_string(body) + "," + std::to_string(epilogue) + "}";
        if (!children.empty())
            shape += "(" + children + ")";
        return shape;
    }

    Random random_;
    unsigned boundaries_;
    const char* lineEnd_;
    bool mixed_;
};

// The text as a parsed tree writes it back: every line end CR LF, and one
// after the last line.
inline std::string Normalised(const char* text, size_t length)
{
    std::string out;
    out.reserve(length + length / 8 + 2);
    for (size_t i = 0; i < length; ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            out += "\r\n";
            if (c == '\r' && i + 1 < length && text[i + 1] == '\n')
                ++i;
        } else {
            out += c;
        }
    }
    if (!out.empty() && (out.size() < 2 || out.compare(out.size() - 2, 2, "\r\n") != 0))
        out += "\r\n";
    return out;
}

inline Generated Generate(uint64_t seed)
{
    return Writer(seed).Message();
}

}  // namespace mime_model
