// Base64: encoding in 60-character lines, decoding with its particular traits.
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/entry.h"
#include "mime/base64.h"
#include "settings/settings.h"
#include "support/box_recorder.h"

namespace {

std::string Encode(const std::string& bytes)
{
    DWORD length = 12345;
    char* text = Base64Encode(reinterpret_cast<const BYTE*>(bytes.data()), (DWORD)bytes.size(), &length);
    EXPECT_NE(text, nullptr);
    if (text == nullptr)
        return "<null>";
    EXPECT_EQ(length, strlen(text));
    std::string result(text);
    free(text);
    return result;
}

// The decoded bytes, or "<null>" when Base64Decode returned none.
std::string Decode(const std::string& text)
{
    DWORD count = 777;
    BYTE* bytes = Base64Decode(text.c_str(), &count);
    if (bytes == nullptr) {
        EXPECT_EQ(count, 777u);
        return "<null>";
    }
    std::string result(reinterpret_cast<char*>(bytes), count);
    free(bytes);
    return result;
}

std::string Sample(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = (char)(i * 37 + 11);
    return bytes;
}

// Captures message boxes with the given debug setting for the test's duration.
class Base64DebugTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        memcpy(saved_, g_settings.debug, sizeof saved_);
        SetBase64ForeignCharacterHook(ReportForeignBase64Character);  // as the plug-in's load does
    }
    void TearDown() override { memcpy(g_settings.debug, saved_, sizeof saved_); }
    void SetDebug(const char* value) { strcpy(g_settings.debug, value); }

    BoxRecorder recorder_;
    char saved_[SETTING_SIZE];
};

}  // namespace

TEST(Base64Test, EncodesSmallSizesWithPadding)
{
    EXPECT_EQ(Encode(""), "");
    EXPECT_EQ(Encode("M"), "TQ==");
    EXPECT_EQ(Encode("Ma"), "TWE=");
    EXPECT_EQ(Encode("Man"), "TWFu");
    EXPECT_EQ(Encode(std::string("\xff\xfe\x00", 3)), "//4A");
}

TEST(Base64Test, FoldsIntoLinesOf60)
{
    std::string one = Encode(Sample(45));
    EXPECT_EQ(one.size(), 60u);
    EXPECT_EQ(one.find('\r'), std::string::npos);
    std::string two = Encode(Sample(46));
    EXPECT_EQ(two.size(), 66u);
    EXPECT_EQ(two.substr(60, 2), "\r\n");
    EXPECT_EQ(two.substr(0, 60), one);
    std::string many = Encode(Sample(90));
    EXPECT_EQ(many.size(), 122u);
    EXPECT_EQ(many.rfind("\r\n"), 60u);
}

TEST(Base64Test, DecodesWhatItEncodes)
{
    for (size_t size : {0u, 1u, 2u, 3u, 4u, 44u, 45u, 46u, 47u, 1000u, 100000u}) {
        std::string bytes = Sample(size);
        std::string text = Encode(bytes);
        EXPECT_EQ(Decode(text), size == 0 ? "<null>" : bytes) << size;
    }
}

TEST(Base64Test, LineBreaksAnywhereAreIgnored)
{
    std::string bytes = Sample(100);
    std::string plain = Encode(bytes);
    std::string stripped;
    for (char c : plain)
        if (c != '\r' && c != '\n')
            stripped += c;
    std::string odd;
    for (size_t i = 0; i < stripped.size(); ++i)
        odd += stripped.substr(i, 1) + (i % 5 == 0 ? "\r" : i % 7 == 0 ? "\n" : i % 11 == 0 ? "\r\n" : "");
    EXPECT_EQ(Decode(stripped), bytes);
    EXPECT_EQ(Decode(odd), bytes);
    EXPECT_EQ(Decode("\r\n"), "");
}

TEST(Base64Test, TrailingCharactersAndPaddingQuirks)
{
    EXPECT_EQ(Decode("TWFu"), "Man");
    EXPECT_EQ(Decode("TWFuT"), "Man");
    EXPECT_EQ(Decode("TWFuTW"), "Man");
    EXPECT_EQ(Decode("TWFuTWF"), "Man");
    EXPECT_EQ(Decode("TQ=="), "M");
    EXPECT_EQ(Decode("TWE="), "Ma");
    EXPECT_EQ(Decode("T=E="), std::string("L\x01", 2));  // a "=" inside counts as zero
    EXPECT_EQ(Decode("TQ==TWFu"), std::string("M\x00\x00Man", 6));
    EXPECT_EQ(Decode("TWE=\r\nTW"), "Ma");  // padding of the last whole group counts
    EXPECT_EQ(Decode(""), "<null>");
    EXPECT_EQ(Decode("abc"), "");
}

TEST_F(Base64DebugTest, ForeignCharactersAreSkippedAndAllButBlanksReported)
{
    SetDebug("YES");
    // A blank at a line end, as some transports add, costs nothing and says nothing.
    EXPECT_EQ(Decode("TWFu \r\nTWFu\t\r\n"), "ManMan");
    EXPECT_EQ(Decode("TW Fu"), "Man");
    EXPECT_TRUE(recorder_.boxes().empty());

    EXPECT_EQ(Decode("\x80" "TW-Fu!"), "Man");
    ASSERT_EQ(recorder_.boxes().size(), 3u);
    EXPECT_EQ(recorder_.boxes()[0].caption, "Error");
    EXPECT_EQ(recorder_.boxes()[0].type, (UINT)MB_OK);
    EXPECT_EQ(recorder_.boxes()[0].text, "不正な文字[0xffffff80] (\x80)を検出しました");
    EXPECT_EQ(recorder_.boxes()[1].text, "不正な文字[0x2d] (-)を検出しました");
    EXPECT_EQ(recorder_.boxes()[2].text, "不正な文字[0x21] (!)を検出しました");
}

TEST_F(Base64DebugTest, NoReportUnlessDebugIsExactlyYes)
{
    for (const char* value : {"yes", "NO", "", "YES "}) {
        SetDebug(value);
        EXPECT_EQ(Decode("TW-Fu"), "Man");
    }
    EXPECT_TRUE(recorder_.boxes().empty());
}

TEST(Base64Test, CharacterValues)
{
    for (int v = 0; v < 64; ++v)
        EXPECT_EQ(Base64CharValue("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[v]), v);
    EXPECT_EQ(Base64CharValue('='), 0);
}

// A blob at the end of its buffer becomes its own text in front of it.
TEST(Base64Test, EncodesOverItsOwnBytes)
{
    std::vector<size_t> counts;
    for (size_t n = 0; n <= 200; ++n)
        counts.push_back(n);
    counts.push_back(100000);
    counts.push_back(100001);
    for (size_t count : counts) {
        std::vector<BYTE> data(count);
        for (size_t i = 0; i < count; ++i)
            data[i] = (BYTE)(i * 131 + count);
        DWORD length = 0;
        char* expected = Base64Encode(data.data(), (DWORD)count, &length);
        ASSERT_NE(expected, nullptr);
        ASSERT_EQ(length, Base64EncodedLength((DWORD)count));
        size_t gap = Base64EncodedLength((DWORD)count) - count + 1;
        std::vector<char> buffer(gap + count);
        std::copy(data.begin(), data.end(), buffer.begin() + gap);
        EXPECT_EQ(Base64EncodeTo(buffer.data(), (const BYTE*)buffer.data() + gap, (DWORD)count), (size_t)length);
        EXPECT_STREQ(buffer.data(), expected) << count;
        free(expected);
    }
}
