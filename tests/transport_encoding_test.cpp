// Transfer encodings that let signed content pass any relay unchanged.
#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>

#include "mime/header_fields.h"
#include "mime/mime_part.h"
#include "mime/quoted_printable.h"
#include "mime/transport_encoding.h"

namespace {

std::string Qp(const std::string& text)
{
    size_t length = QuotedPrintableEncode(text.data(), text.size(), NULL);
    std::string out(length, '?');
    EXPECT_EQ(QuotedPrintableEncode(text.data(), text.size(), &out[0]), length);
    return out;
}

}  // namespace

TEST(QuotedPrintableTest, EscapesEverythingARelayWouldChange)
{
    EXPECT_EQ(Qp("\x93\xfa\x96\x7b a=b\r\n"), "=93=FA=96{ a=3Db\r\n");
    EXPECT_EQ(Qp("tail \t\r\nend "), "tail =09\r\nend=20");
    EXPECT_EQ(Qp("From here\r\nnot From here\r\n"), "=46rom here\r\nnot From here\r\n");
    EXPECT_EQ(Qp("bare\rcr\nlf\r\n"), "bare=0Dcr=0Alf\r\n");

    // At most 76 characters a line, the soft break's "=" included; a fold
    // never splits an escape and never leaves a bare "From " behind it.
    const std::string x75(75, 'x');
    EXPECT_EQ(Qp(x75 + "x\r\n"), x75 + "x\r\n");
    EXPECT_EQ(Qp(x75 + "xy\r\n"), x75 + "=\r\nxy\r\n");
    EXPECT_EQ(Qp(x75.substr(1) + "\xe9\r\n"), x75.substr(1) + "=\r\n=E9\r\n");
    EXPECT_EQ(Qp(x75 + "From a\r\n"), x75 + "=\r\n=46rom a\r\n");
}

TEST(TransportEncodingTest, EncodesOnlyTheLeavesThatWouldNotSurvive)
{
    const std::string kept =
        "--b\r\n"
        "Content-Type: text/plain\r\n"
        "\r\n"
        "clean line\r\n"
        "--b\r\n"
        "Content-Type: text/plain\r\n"
        "Content-Transfer-Encoding: x-private\r\n"
        "\r\n"
        "\xe9 coded already\r\n"
        "--b\r\n"
        "Content-Type: application/pdf\r\n"
        "Content-Transfer-Encoding: Base64\r\n"
        "\r\n" +
        std::string(100, 'Q') +
        "\r\n"
        "--b--\r\n";
    const std::string head = "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
    const std::string source = head +
                               "preamble \r\n"
                               "--b\r\n"
                               "Content-Type: text/plain; charset=Shift_JIS\r\n"
                               "Content-Transfer-Encoding: 7bit\r\n"
                               "Content-Transfer-Encoding: 8bit \r\n"
                               "\r\n"
                               "\x93\xfa\x96\x7b\r\n"
                               "--b\r\n"
                               "Content-Type: application/octet-stream\r\n"
                               "\r\n"
                               "\xff\xfe\r\nbinary\r\n" +
                               kept;
    // Packed parsing borrows the lines from the source, which must stay as it was.
    for (bool packed : {false, true}) {
        const std::string original = source;
        MimePart part;
        const char* position = source.c_str();
        if (packed)
            ParsePacked(&part, &position);
        else
            part.Parse(&position, NULL);
        ASSERT_TRUE(EncodeForTransport(&part));
        char* out = part.Serialize();
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(source, original);
        // Blanks before line ends go where they carry nothing; the binary part's
        // content stops before the CR LF of the next delimiter.
        EXPECT_EQ(out, head +
                           "preamble\r\n"
                           "--b\r\n"
                           "Content-Type: text/plain; charset=Shift_JIS\r\n"
                           "Content-Transfer-Encoding: quoted-printable\r\n"
                           "\r\n"
                           "=93=FA=96{\r\n"
                           "--b\r\n"
                           "Content-Type: application/octet-stream\r\n"
                           "Content-Transfer-Encoding: base64\r\n"
                           "\r\n"
                           "//4NCmJpbmFyeQ==\r\n" +
                           kept);
        free(out);
    }
}

// Packed parsing puts many lines in one node: each is judged alone.
TEST(TransportEncodingTest, JudgesEachLineOfAPackedBody)
{
    std::string clean = "Content-Type: text/plain\r\n\r\n";
    for (int i = 0; i < 200; ++i)
        clean += "a short and clean line\r\n";
    MimePart part;
    const char* position = clean.c_str();
    ParsePacked(&part, &position);
    ASSERT_TRUE(EncodeForTransport(&part));
    char* out = part.Serialize();
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out, clean);
    free(out);

    const std::string dirty = clean + "trailing blank \r\n";
    MimePart packed;
    position = dirty.c_str();
    ParsePacked(&packed, &position);
    ASSERT_TRUE(EncodeForTransport(&packed));
    char value[64];
    packed.GetHeader("Content-Transfer-Encoding", value, sizeof value);
    EXPECT_STREQ(value, "quoted-printable\r\n");
}

TEST(HeaderFieldsTest, RemovesAWholeFieldByteForByte)
{
    bool removed = true;
    EXPECT_EQ(CopyWithoutHeaderField("To: a\r\nBcc-Note: x\r\n\r\nBcc: body\r\n", "Bcc", &removed), nullptr);
    EXPECT_FALSE(removed);

    // Folded, repeated, in lower case; line ends as they came.
    char* copy = CopyWithoutHeaderField("To: a\nbcc: b,\n\tc\nSubject: s\r\nBCC: d\r\n\r\nBcc: body\r\n", "Bcc",
                                        &removed);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(removed);
    EXPECT_STREQ(copy, "To: a\nSubject: s\r\n\r\nBcc: body\r\n");
    free(copy);
}

// The relay check reads eight bytes at a time: every byte must be judged
// wherever it falls in a word, and every line's length on its own.
TEST(TransportEncodingTest, JudgesEveryByteWhereverItFalls)
{
    auto survives = [](const std::string& body) {
        MimePart part;
        part.headers.Append("Content-Type: text/plain\r\n");
        part.headers.Append("\r\n");
        part.body.AppendJoined(body.data(), body.size(), NULL, 0);
        EXPECT_TRUE(EncodeForTransport(&part));
        char value[64];
        part.GetHeader("Content-Transfer-Encoding", value, sizeof value);
        return value[0] == '\0';
    };
    const std::string clean = "first line\r\n" + std::string(40, 'a') + "\r\n" + std::string(76, 'b');
    EXPECT_TRUE(survives(clean));
    EXPECT_TRUE(survives(clean + "\r\n" + std::string(76, 'c') + "\r\n"));
    EXPECT_FALSE(survives(clean + "b"));
    EXPECT_FALSE(survives(clean + "\r"));
    for (char special : {'\0', '\r', '\n', '\x80', '\xff'})
        for (size_t offset = 12; offset < 12 + 17; ++offset) {
            std::string body = clean;
            body[offset] = special;
            EXPECT_FALSE(survives(body)) << (int)(unsigned char)special << " at " << offset;
        }
}
