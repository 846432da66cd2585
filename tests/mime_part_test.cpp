// The MIME part tree: parsing, serialising, header access.
#include <dirent.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "mime/mime_part.h"
#include "support/test_support.h"

namespace {

// Parses text into part and returns where the read position stopped.
size_t ParseInto(MimePart& part, const std::string& text)
{
    const char* position = text.c_str();
    part.Parse(&position, nullptr);
    return (size_t)(position - text.c_str());
}

std::string Serialized(const MimePart& part)
{
    char* text = part.Serialize();
    EXPECT_NE(text, nullptr);
    std::string result = text != nullptr ? text : "";
    free(text);
    return result;
}

std::string RoundTrip(const std::string& text)
{
    MimePart part;
    ParseInto(part, text);
    return Serialized(part);
}

std::vector<std::string> Texts(const LineList& list)
{
    std::vector<std::string> texts;
    for (LineNode* n = list.head; n != nullptr; n = n->next)
        texts.push_back(std::string(n->text, n->length));
    return texts;
}

std::vector<const MimePart*> Children(const MimePart& part)
{
    std::vector<const MimePart*> children;
    for (const MimePart* c = part.firstChild; c != nullptr; c = c->next)
        children.push_back(c);
    return children;
}

std::string Header(const MimePart& part, const char* name, int size = 65536)
{
    std::vector<char> buffer(size, 'x');
    part.GetHeader(name, buffer.data(), size);
    return buffer.data();
}

using Lines = std::vector<std::string>;

const std::string kSigned =
    "From: alice@example.com\r\n"
    "Content-Type: multipart/signed; protocol=\"application/pkcs7-signature\";\r\n"
    "\tmicalg=sha1; boundary=\"----=_outer\"\r\n"
    "\r\n"
    "This is a multi-part message in MIME format.\r\n"
    "------=_outer\r\n"
    "Content-Type: multipart/mixed; boundary=inner\r\n"
    "\r\n"
    "--inner\r\n"
    "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
    "\r\n"
    "Hello\r\n"
    "--inner\r\n"
    "Content-Type: application/octet-stream\r\n"
    "\r\n"
    "AAAA\r\n"
    "--inner--\r\n"
    "inner epilogue\r\n"
    "------=_outer\r\n"
    "Content-Type: application/pkcs7-signature; name=smime.p7s\r\n"
    "Content-Transfer-Encoding: base64\r\n"
    "\r\n"
    "MIAGCSqGSIb3DQEHAqCAMIACAQExCzAJBgUrDgMCGgUAMIAGCSqGSIb3DQEHAQAA\r\n"
    "------=_outer--\r\n";

std::string Joined(const LineList& list)
{
    std::string text;
    for (LineNode* n = list.head; n != nullptr; n = n->next)
        text.append(n->text, n->length);
    return text;
}

// The same parts with the same header lines, and the same text in every body
// and epilogue however it is split into nodes.
void ExpectSameTree(const MimePart& a, const MimePart& b)
{
    EXPECT_EQ(Texts(a.headers), Texts(b.headers));
    EXPECT_EQ(Joined(a.body), Joined(b.body));
    EXPECT_EQ(Joined(a.epilogue), Joined(b.epilogue));
    EXPECT_STREQ(a.contentType, b.contentType);
    EXPECT_STREQ(a.contentSubtype, b.contentSubtype);
    EXPECT_STREQ(a.boundary ? a.boundary : "(none)", b.boundary ? b.boundary : "(none)");
    EXPECT_EQ(a.closingMissing, b.closingMissing);
    auto childrenA = Children(a), childrenB = Children(b);
    ASSERT_EQ(childrenA.size(), childrenB.size());
    for (size_t i = 0; i < childrenA.size(); ++i)
        ExpectSameTree(*childrenA[i], *childrenB[i]);
}

}  // namespace

TEST(MimePartTest, PackedParseKeepsTheTreeAndItsText)
{
    std::string shortLines;
    for (int i = 0; i < 100000; ++i)
        shortLines += "a\r\n";
    std::string deep;
    for (int i = 0; i < 70; ++i)
        deep += "--d\r\nContent-Type: multipart/mixed; boundary=d\r\n\r\n";
    const std::string texts[] = {
        kSigned,
        "Subject: x\nContent-Type: multipart/mixed; boundary=b\n\npre\r--b\nA: 1\n\n" + shortLines +
            "--b \ntrailing blank\n--b\n\n" + std::string(70000, 'L') + "\r\n--b--\nlost\n",
        "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\nContent-Type: multipart/alternative;"
            " boundary=i\r\n\r\n--i\r\n\r\none\r\n--o\r\n\r\ntwo\r\n--o--\r\n",
        "Content-Type: multipart/mixed; boundary=d\r\n\r\n" + deep + shortLines,
        "no blank line\r\nat all",
    };
    for (const std::string& text : texts) {
        MimePart plain, packed;
        size_t end = ParseInto(plain, text);
        const char* position = text.c_str();
        ParsePacked(&packed, &position);
        EXPECT_EQ((size_t)(position - text.c_str()), end);
        ExpectSameTree(plain, packed);
        EXPECT_EQ(Serialized(packed), Serialized(plain));
    }

    // Lines that end in CR LF are not copied: all of a body's take one node.
    MimePart borrowed;
    const std::string message = "Subject: x\r\n\r\n" + shortLines;
    const char* position = message.c_str();
    ParsePacked(&borrowed, &position);
    ASSERT_NE(borrowed.body.head, nullptr);
    EXPECT_EQ(borrowed.body.head, borrowed.body.tail);
    EXPECT_EQ(borrowed.body.head->text, message.c_str() + 14);
}

TEST(MimePartTest, NestedMultipartBuildsTheTreeAndRoundTrips)
{
    MimePart root;
    EXPECT_EQ(ParseInto(root, kSigned), kSigned.size());
    EXPECT_STREQ(root.contentType, "multipart");
    EXPECT_STREQ(root.contentSubtype, "signed");
    ASSERT_NE(root.boundary, nullptr);
    EXPECT_STREQ(root.boundary, "----=_outer");
    EXPECT_EQ(Texts(root.headers).size(), 3u);  // From, folded Content-Type, blank line
    EXPECT_EQ(Texts(root.body), Lines{"This is a multi-part message in MIME format.\r\n"});

    auto outer = Children(root);
    ASSERT_EQ(outer.size(), 2u);
    EXPECT_STREQ(outer[0]->contentSubtype, "mixed");
    EXPECT_STREQ(outer[0]->boundary, "inner");
    EXPECT_EQ(Texts(outer[0]->epilogue), Lines{"inner epilogue\r\n"});
    auto inner = Children(*outer[0]);
    ASSERT_EQ(inner.size(), 2u);
    EXPECT_EQ(Texts(inner[0]->body), Lines{"Hello\r\n"});
    EXPECT_STREQ(inner[1]->contentType, "application");
    EXPECT_STREQ(outer[1]->contentSubtype, "pkcs7-signature");
    EXPECT_EQ(outer[1]->boundary, nullptr);

    EXPECT_EQ(Serialized(root), kSigned);
}

TEST(MimePartTest, LineEndsAreNormalisedToCrLf)
{
    EXPECT_EQ(RoundTrip("A: 1\nB: 2\n\nbody\nend"), "A: 1\r\nB: 2\r\n\r\nbody\r\nend\r\n");
    EXPECT_EQ(RoundTrip("A: 1\rB: 2\r\rbody\r"), "A: 1\r\nB: 2\r\n\r\nbody\r\n");
    EXPECT_EQ(RoundTrip("A: 1\r\r\nx"), "A: 1\r\n\r\nx\r\n");
    EXPECT_EQ(RoundTrip(""), "");
}

TEST(MimePartTest, TextWithoutBlankLineIsAllHeaders)
{
    MimePart part;
    ParseInto(part, "Subject: a\r\nnot a header\r\nlast");
    EXPECT_EQ(Texts(part.headers), (Lines{"Subject: a\r\n", "not a header\r\n", "last\r\n"}));
    EXPECT_EQ(part.body.head, nullptr);
}

TEST(MimePartTest, FoldedHeaderIsOneNodeAndGetHeaderKeepsItsLineEnds)
{
    MimePart part;
    ParseInto(part, "Subject: first\r\n\tsecond\r\n  third\r\nTo: b\r\n\r\n");
    EXPECT_EQ(Texts(part.headers),
              (Lines{"Subject: first\r\n\tsecond\r\n  third\r\n", "To: b\r\n", "\r\n"}));
    EXPECT_EQ(Header(part, "subject"), "first\r\n\tsecond\r\n  third\r\n");
    EXPECT_EQ(Header(part, "SUBJECT", 8), "first\r\n");
    EXPECT_EQ(Header(part, "Subj"), "");  // a prefix of a name is not the name
    EXPECT_EQ(Header(part, "Cc"), "");
}

TEST(MimePartTest, GetHeaderMatchesOnlyNameAndColon)
{
    MimePart part;
    ParseInto(part, "X-A : spaced\r\nX-A:   \r\nX-A: later\r\n\r\n");
    EXPECT_EQ(Header(part, "X-A"), "");  // the first match is blank-only
    MimePart other;
    ParseInto(other, "X-A : spaced\r\nX-A:later\r\n\r\n");
    EXPECT_EQ(Header(other, "X-A"), "later\r\n");
}

TEST(MimePartTest, ContentTypeTokensAndBoundaryParameter)
{
    struct Case {
        const char* header;
        const char* type;
        const char* subtype;
        const char* boundary;  // null: none
    } cases[] = {
        {"Content-Type: multipart/mixed; boundary=\"a b\"", "multipart", "mixed", "a b"},
        {"content-type:multipart/alternative;BOUNDARY=xyz;charset=x", "multipart", "alternative", "xyz"},
        {"Content-Type: multipart/mixed; boundary =xyz", "multipart", "mixed", nullptr},
        {"Content-Type: multipart/mixed; boundary= \"q\" ; x=1", "multipart", "mixed", "q"},
        {"Content-Type: multipart/mixed; boundary=a; boundary=b", "multipart", "mixed", "b"},
        {"Content-Type: multipart/mixed; garbage; boundary=a", "multipart", "mixed", nullptr},
        {"Content-Type: multipart/mixed; boundary=\"unclosed", "multipart", "mixed", "unclosed\r\n"},
        {"Content-Type: text", "", "", nullptr},
        {"Content-Type:", "", "", nullptr},
        {"Content-Type : text/plain", "", "", nullptr},
        {"Content-Type:\r\n multipart/signed;\r\n\tboundary=z", "multipart", "signed", "z"},
        {"Content-Type:\n\tmultipart/mixed; boundary=z", "multipart", "mixed", "z"},
    };
    for (const Case& c : cases) {
        MimePart part;
        ParseInto(part, std::string(c.header) + "\r\n\r\n");
        EXPECT_STREQ(part.contentType, c.type) << c.header;
        EXPECT_STREQ(part.contentSubtype, c.subtype) << c.header;
        if (c.boundary == nullptr)
            EXPECT_EQ(part.boundary, nullptr) << c.header;
        else
            EXPECT_STREQ(part.boundary, c.boundary) << c.header;
    }
}

TEST(MimePartTest, LongTypeTokensAreCutAndTheLastContentTypeWins)
{
    std::string type(50, 't'), subtype(45, 's');
    MimePart part;
    ParseInto(part, "Content-Type: " + type + "/" + subtype + "\r\nContent-Type: x/y\r\nContent-Type: z\r\n\r\n");
    EXPECT_STREQ(part.contentType, "x");
    EXPECT_STREQ(part.contentSubtype, "y");
    MimePart longer;
    ParseInto(longer, "Content-Type: " + type + "/" + subtype + "\r\n\r\n");
    EXPECT_EQ(std::string(longer.contentType), type.substr(0, 40));
    EXPECT_EQ(std::string(longer.contentSubtype), subtype.substr(0, 40));
}

TEST(MimePartTest, DelimitersWithTransportPaddingAreDelimiters)
{
    // The padding is written back as it was read; a footer after the padded
    // closing delimiter is outside the tree, not in the last part.
    const std::string text =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\npre\r\n--b \t\r\n\r\none\r\n--b\t\r\n\r\ntwo\r\n"
        "--b-- \r\n";
    MimePart part;
    EXPECT_EQ(ParseInto(part, text + "-- \r\nlist footer\r\n"), text.size());
    auto children = Children(part);
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(Texts(children[0]->body), Lines{"one\r\n"});
    EXPECT_EQ(Texts(children[1]->body), Lines{"two\r\n"});
    EXPECT_EQ(Serialized(part), text);
    // Only blanks and tabs pad: anything else after the boundary is text.
    MimePart other;
    ParseInto(other, "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n\r\n--b x\r\n--bb\r\n--b--\r\n");
    ASSERT_EQ(Children(other).size(), 1u);
    EXPECT_EQ(Texts(Children(other)[0]->body), (Lines{"--b x\r\n", "--bb\r\n"}));
}

TEST(MimePartTest, LinesAfterAnEndedMultipartFollowItsEpilogue)
{
    // The inner multipart ends at a line that is no delimiter of the outer one.
    const std::string text =
        "Content-Type: multipart/mixed; boundary=o\r\n\r\n"
        "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n--i\r\n\r\nx\r\n--i--\r\nepilogue\r\n"
        "--o-not\r\nstray\r\n--o\r\n\r\nsecond\r\n--o--\r\n";
    MimePart part;
    ParseInto(part, text);
    auto outer = Children(part);
    ASSERT_EQ(outer.size(), 2u);
    EXPECT_EQ(Texts(outer[0]->epilogue), (Lines{"epilogue\r\n", "--o-not\r\n", "stray\r\n"}));
    EXPECT_EQ(part.body.head, nullptr);
    EXPECT_EQ(Serialized(part), text);
}

TEST(MimePartTest, TopLevelEpilogueIsDroppedNestedEpilogueKept)
{
    const std::string nested =
        "Content-Type: multipart/mixed; boundary=o\r\n\r\n"
        "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n--i\r\n\r\nx\r\n--i--\r\nkept\r\n"
        "--o--\r\n";
    MimePart part;
    size_t stop = ParseInto(part, nested + "dropped\r\n");
    EXPECT_EQ(stop, nested.size());  // just after the closing delimiter
    EXPECT_EQ(Serialized(part), nested);
    EXPECT_EQ(Texts(part.firstChild->epilogue), Lines{"kept\r\n"});
}

TEST(MimePartTest, NestedMultipartWithoutClosingDelimiter)
{
    // The inner multipart has a part already, so its last part takes in the
    // rest, outer delimiters included.
    const std::string text =
        "Content-Type: multipart/mixed; boundary=o\r\n\r\n"
        "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n--i\r\n\r\nx\r\n"
        "--o\r\n\r\nsecond\r\n--o--\r\n";
    MimePart part;
    ParseInto(part, text);
    auto outer = Children(part);
    ASSERT_EQ(outer.size(), 1u);
    auto inner = Children(*outer[0]);
    ASSERT_EQ(inner.size(), 1u);
    EXPECT_EQ(Texts(inner[0]->body), (Lines{"x\r\n", "--o\r\n", "\r\n", "second\r\n", "--o--\r\n"}));
    // Serialising adds no closing delimiter that the text did not have.
    EXPECT_TRUE(outer[0]->closingMissing);
    EXPECT_TRUE(part.closingMissing);
    EXPECT_EQ(Serialized(part), text);
    // A tree built by a caller is always closed.
    part.firstChild->DropChildren();
    EXPECT_FALSE(outer[0]->closingMissing);

    // Without a part of its own yet, the inner multipart ends at the outer delimiter.
    const std::string early =
        "Content-Type: multipart/mixed; boundary=o\r\n\r\n"
        "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\npreamble\r\n"
        "--o\r\n\r\nsecond\r\n--o--\r\n";
    MimePart other;
    ParseInto(other, early);
    ASSERT_EQ(Children(other).size(), 2u);
    EXPECT_EQ(Texts(other.firstChild->body), Lines{"preamble\r\n"});
    EXPECT_EQ(Serialized(other), early);
}

TEST(MimePartTest, ClosingDelimiterBeforeAnyPartIsKeptAsText)
{
    const std::string text =
        "Content-Type: multipart/mixed; boundary=o\r\n\r\n"
        "--o\r\nContent-Type: multipart/mixed; boundary=i\r\n\r\n--i--\r\nafter\r\n"
        "--o--\r\n";
    EXPECT_EQ(RoundTrip(text), text);
}

TEST(MimePartTest, PartWithoutBlankLineEndsAtTheNextDelimiter)
{
    const std::string text =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n--b\r\nX-Only: header\r\n--b\r\n\r\nthird\r\n--b--\r\n";
    MimePart part;
    ParseInto(part, text);
    auto children = Children(part);
    ASSERT_EQ(children.size(), 3u);
    EXPECT_EQ(children[0]->headers.head, nullptr);
    EXPECT_EQ(Texts(children[1]->headers), Lines{"X-Only: header\r\n"});
    EXPECT_EQ(Texts(children[2]->body), Lines{"third\r\n"});
    EXPECT_EQ(Serialized(part), text);
}

TEST(MimePartTest, TruncatedMessageSerialisesStably)
{
    // Nothing is added for the multiparts left open, so a part whose boundary
    // looks like its parent's closing delimiter cannot claim one on the next parse.
    const std::string cut =
        "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n"
        "Content-Type: multipart/alternative; boundary=i\r\n\r\n--i\r\nConte";
    EXPECT_EQ(RoundTrip(cut), cut + "\r\n");
    const std::string lookalike =
        "Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\n"
        "Content-Type: multipart/mixed; boundary=b--\r\n\r\nx\r\n";
    std::string once = RoundTrip(lookalike);
    EXPECT_EQ(once, lookalike);
    EXPECT_EQ(RoundTrip(once), once);
}

TEST(MimePartTest, ParentClosingDelimiterEndsAChildByPrefix)
{
    MimePart part;
    ParseInto(part, "Content-Type: multipart/mixed; boundary=o\r\n\r\n--o\r\n\r\none\r\n--o--\r\n");
    auto children = Children(part);
    ASSERT_EQ(children.size(), 1u);
    EXPECT_EQ(Texts(children[0]->body), Lines{"one\r\n"});
}

TEST(MimePartTest, NestedParseHandsBackTheDelimiterLine)
{
    const std::string text = "\r\nbody\r\n--outer-x\r\nrest\r\n";
    MimePart part;
    const char* position = text.c_str();
    part.Parse(&position, "outer");
    EXPECT_EQ(std::string(position), "--outer-x\r\nrest\r\n");
    EXPECT_EQ(Texts(part.body), Lines{"body\r\n"});
}

TEST(MimePartTest, LongLinesAreSplitWithoutLosingBytes)
{
    std::string longLine(200000, 'a');
    for (size_t i = 0; i < longLine.size(); i += 7)
        longLine[i] = (char)('a' + i % 26);
    const std::string text = "Subject: x\r\n\r\n" + longLine + "\r\n" + std::string(65535, 'b') + "\r\n" +
                             std::string(65534, 'c') + "\r\n--\r\n";
    MimePart part;
    ParseInto(part, text);
    for (LineNode* n = part.body.head; n != nullptr; n = n->next)
        EXPECT_LE(n->length, 65536);
    EXPECT_EQ(Serialized(part), text);

    // A header line that long, and an unterminated last line that fills the buffer.
    const std::string header = "X-Long: " + longLine + "\r\n\t" + longLine + "\r\n\r\n" + std::string(65535, 'z');
    EXPECT_EQ(RoundTrip(header), header + "\r\n");
    // A continuation piece is never the blank line that ends the header block.
    MimePart exact;
    ParseInto(exact, "X: " + std::string(65532, 'h') + "\r\nY: 1\r\n\r\nbody\r\n");
    EXPECT_EQ(Header(exact, "Y"), "1\r\n");
    EXPECT_EQ(Texts(exact.body), Lines{"body\r\n"});
}

TEST(MimePartTest, DeepNestingIsBoundedAndLosesNoByte)
{
    const int levels = 5000;
    std::string text;
    char boundary[16];
    for (int i = 0; i < levels; ++i) {
        snprintf(boundary, sizeof boundary, "b%05d", i);
        text += std::string("Content-Type: multipart/mixed; boundary=") + boundary + "\r\n\r\n--" + boundary + "\r\n";
    }
    text += "\r\nleaf\r\n";
    for (int i = levels - 1; i >= 0; --i) {
        snprintf(boundary, sizeof boundary, "b%05d", i);
        text += std::string("--") + boundary + "--\r\n";
    }
    MimePart part;
    ParseInto(part, text);
    int depth = 0;
    for (const MimePart* p = &part; p->firstChild != nullptr; p = p->firstChild)
        ++depth;
    EXPECT_GE(depth, 64);
    EXPECT_LT(depth, levels);
    EXPECT_EQ(Serialized(part), text);
}

TEST(MimePartTest, ManySiblingsAreDestroyedWithoutRecursion)
{
    std::string text = "Content-Type: multipart/mixed; boundary=b\r\n\r\n";
    for (int i = 0; i < 200000; ++i)
        text += "--b\r\n\r\n";
    text += "--b--\r\n";
    MimePart part;
    ParseInto(part, text);
    EXPECT_EQ(Serialized(part), text);
    part.DropChildren();
    EXPECT_EQ(part.firstChild, nullptr);
}

TEST(MimePartTest, SetHeaderReplacesDeletesAndAdds)
{
    MimePart part;
    ParseInto(part, "Content-Type: multipart/mixed; boundary=b\r\nX-A: 1\r\nX-A: 2\r\n\r\nbody\r\n");
    part.SetHeader("x-a", "one\r\n");
    part.SetHeader("Content-Type", "text/plain\r\n");
    EXPECT_EQ(Texts(part.headers), (Lines{"Content-Type: text/plain\r\n", "x-a: one\r\n", "X-A: 2\r\n", "\r\n"}));
    EXPECT_STREQ(part.contentType, "multipart");
    EXPECT_STREQ(part.boundary, "b");
    part.SetHeader("X-A", "");
    EXPECT_EQ(Header(part, "X-A"), "2\r\n");
    part.SetHeader("X-New", "folded\n value\n");
    part.SetHeader("X-Empty", "");  // no such header: adds the bare name before the blank line
    EXPECT_EQ(Serialized(part),
              "Content-Type: text/plain\r\nX-A: 2\r\nX-New: folded\n value\nX-Empty: \r\nbody\r\n");
    MimePart empty;
    empty.SetHeader("A", "b\r\n");
    EXPECT_EQ(Texts(empty.headers), Lines{"A: b\r\n"});
}

TEST(MimePartTest, BodyOfChunksSerialisesEveryChunk)
{
    MimePart part;
    ParseInto(part, "A: b\r\n\r\nold\r\n");
    part.body.Clear();
    part.body.Append("--");
    part.body.Append("");
    part.body.Append("x\r\ny");
    EXPECT_EQ(Serialized(part), "A: b\r\n\r\n--x\r\ny");
}

TEST(MimePartTest, FindNoCase)
{
    const char* value = "7BIT, BASE64\r\n";
    EXPECT_EQ(FindNoCase(value, "base64"), value + 6);
    EXPECT_EQ(FindNoCase("", "base64"), nullptr);
    EXPECT_EQ(FindNoCase("base6", "base64"), nullptr);
    EXPECT_STREQ(FindNoCase("a\r\n\r\nb", "\r\n\r\n"), "\r\n\r\nb");
}

TEST(MimePartTest, ParseParameterReadsNamesAndValuesInPlace)
{
    char text[] = " ;name=value; q = \"a;b\" ;last=\"open";
    char *name, *value;
    char* p = ParseParameter(text, &name, &value);
    EXPECT_STREQ(name, "name");
    EXPECT_STREQ(value, "value");
    p = ParseParameter(p, &name, &value);
    EXPECT_STREQ(name, "q ");
    EXPECT_STREQ(value, "a;b");
    p = ParseParameter(p, &name, &value);
    EXPECT_STREQ(name, "last");
    EXPECT_STREQ(value, "open");
    EXPECT_EQ(*p, '\0');
    char none[] = "no parameter";
    EXPECT_EQ(ParseParameter(none, &name, &value), nullptr);
}

// The round-trip fuzzer's short runs start from its seeds; only a seed with
// lines beyond the line buffer takes them to the code that splits such lines.
TEST(MimeFuzzSeedsTest, SomeSeedHasALineLongerThanTheLineBuffer)
{
    const std::string dir = std::string(TESTS_SOURCE_DIR) + "/../fuzz/corpus/fuzz_mime_roundtrip";
    size_t longest = 0;
    DIR* seeds = opendir(dir.c_str());
    ASSERT_NE(seeds, nullptr) << dir;
    while (dirent* entry = readdir(seeds)) {
        std::string text = entry->d_name[0] == '.' ? "" : ReadFile(dir + "/" + entry->d_name);
        for (size_t start = 0, end; start < text.size(); start = end + 1) {
            end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end;
            longest = std::max(longest, end - start);
        }
    }
    closedir(seeds);
    EXPECT_GT(longest, (size_t)MIME_LINE_SIZE);
}
