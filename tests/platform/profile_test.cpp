// GetPrivateProfileStringA / WritePrivateProfileStringA on files of known bytes.
#include <stdio.h>

#include <chrono>
#include <filesystem>

#include "platform_test.h"

namespace {

class Profile : public ::testing::Test {
protected:
    void SetUp() override
    {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        // Unique among test runs of several builds and users at the same time.
        std::string unique = std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
        path_ = (std::filesystem::temp_directory_path() / ("zsmime-profile-" + unique + "-" + test->name() + ".ini"))
                    .string();
        std::filesystem::remove(path_);
    }
    void TearDown() override { std::filesystem::remove(path_); }

    void Write(const std::string& bytes)
    {
        FILE* f = fopen(path_.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(bytes.data(), 1, bytes.size(), f);
        fclose(f);
    }
    std::string Read()
    {
        std::string out;
        if (FILE* f = fopen(path_.c_str(), "rb")) {
            char chunk[512];
            size_t n;
            while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
                out.append(chunk, n);
            fclose(f);
        }
        return out;
    }
    std::string Get(const char* key, const char* section = "Settings", const char* def = "default")
    {
        char buffer[64];
        GetPrivateProfileStringA(section, key, def, buffer, sizeof buffer, path_.c_str());
        return buffer;
    }
    BOOL Set(const char* key, const char* value, const char* section = "Settings")
    {
        return WritePrivateProfileStringA(section, key, value, path_.c_str());
    }
    std::string path_;
};

}  // namespace

TEST_F(Profile, MissingFileSectionOrKeyGivesTheDefaultWithoutTrailingBlanks)
{
    EXPECT_EQ(Get("encAlg"), "default");
    EXPECT_EQ(Get("encAlg", "Settings", "RC2  "), "RC2");
    Write("[Other]\r\nencAlg=DES\r\n");
    EXPECT_EQ(Get("encAlg"), "default");
}

TEST_F(Profile, WritesKeysInTheirSectionAndReadsThemBack)
{
    Write("[Other]\r\nencAlg=other\r\n[settings]\r\nkeep=1\r\n");
    ASSERT_TRUE(Set("encAlg", "3DES"));
    ASSERT_TRUE(Set("keep", "2"));
    ASSERT_TRUE(Set("empty", ""));
    EXPECT_EQ(Get("encAlg"), "3DES");
    EXPECT_EQ(Get("KEEP"), "2");
    EXPECT_EQ(Get("empty"), "") << "an empty value is not the default";
    EXPECT_EQ(Get("encAlg", "Other"), "other");
    EXPECT_EQ(Read(), "[Other]\r\nencAlg=other\r\n[settings]\r\nkeep=2\r\nencAlg=3DES\r\nempty=\r\n");
}

TEST_F(Profile, NewFileGetsTheSectionAndANullValueDeletesTheKey)
{
    ASSERT_TRUE(Set("a", "1"));
    ASSERT_TRUE(Set("b", "2"));
    EXPECT_EQ(Read(), "[Settings]\r\na=1\r\nb=2\r\n");
    ASSERT_TRUE(Set("a", nullptr));
    EXPECT_EQ(Get("a"), "default");
    EXPECT_EQ(Read(), "[Settings]\r\nb=2\r\n");
}

TEST_F(Profile, BlanksAroundKeysAndValuesAndMatchingQuotesAreDropped)
{
    Write("[Settings]\r\n  encAlg =  DES  \r\nencCert=\"C=JP, CN=a\"\r\nodd=\"x'\r\n");
    EXPECT_EQ(Get("encAlg"), "DES");
    EXPECT_EQ(Get("encCert"), "C=JP, CN=a");
    EXPECT_EQ(Get("odd"), "\"x'");
}

TEST_F(Profile, BlanksInsideTheSectionBrackets)
{
    Write("[ Settings ]\r\nencAlg=DES\r\n");
    EXPECT_EQ(Get("encAlg"), "DES");
}

TEST_F(Profile, ALongValueIsCutToTheBuffer)
{
    std::string value(100, 'v');
    ASSERT_TRUE(Set("k", value.c_str()));
    char buffer[10];
    EXPECT_EQ(GetPrivateProfileStringA("Settings", "k", "", buffer, sizeof buffer, path_.c_str()), 9u);
    EXPECT_EQ(std::string(buffer), value.substr(0, 9));
}

TEST_F(Profile, Utf8ByteOrderMarkIsSkippedAndValuesComeInTheAnsiCodePage)
{
    Write("\xEF\xBB\xBF[Settings]\r\nsignCert=CN=\xE6\x97\xA5\xE6\x9C\xAC\r\n");
    EXPECT_EQ(Get("signCert"), "CN=日本");  // the literal is Shift-JIS
}

TEST_F(Profile, OnlyTheFirstOfTwoSectionsWithTheSameNameCounts)
{
    Write("[Settings]\r\na=first\r\n[Other]\r\nx=1\r\n[SETTINGS]\r\na=second\r\nb=later\r\n");
    EXPECT_EQ(Get("a"), "first");
    EXPECT_EQ(Get("b"), "default");
    ASSERT_TRUE(Set("b", "new"));
    EXPECT_EQ(Get("b"), "new");
}
