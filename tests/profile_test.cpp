// The initialisation-file service as the settings use it.
#include <filesystem>

#include <windows.h>
#include <zplatform.h>

#include "support/test_support.h"

class ProfileTest : public ::testing::Test {
protected:
    std::string Get(const char* key, const char* def = "default")
    {
        char buffer[64];
        GetPrivateProfileStringA("Settings", key, def, buffer, sizeof buffer, file_.c_str());
        return buffer;
    }
    TempDir dir_;
    std::string file_ = dir_.File("test.ini");
};

TEST_F(ProfileTest, MissingFileGivesDefaults)
{
    EXPECT_EQ(Get("encAlg"), "default");
}

TEST_F(ProfileTest, ReadsBackWhatItWritesAndKeepsOtherSectionsAndKeys)
{
    WriteFile(file_, "; comment\r\n[Other]\r\nencAlg=other\r\n[settings]\r\nkeep=1\r\n");
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "encAlg", "3DES", file_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "keep", "2", file_.c_str()));
    EXPECT_EQ(Get("encAlg"), "3DES");
    EXPECT_EQ(Get("KEEP"), "2");
    EXPECT_EQ(ReadFile(file_), "; comment\r\n[Other]\r\nencAlg=other\r\n[settings]\r\nkeep=2\r\nencAlg=3DES\r\n");
}

TEST_F(ProfileTest, EmptyValueIsEmptyNotDefault)
{
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "receivingBehavior", "", file_.c_str()));
    EXPECT_EQ(ReadFile(file_), "[Settings]\r\nreceivingBehavior=\r\n");
    EXPECT_EQ(Get("receivingBehavior"), "");
}

TEST_F(ProfileTest, BlanksAroundNamesAndValuesAndQuotesAreDropped)
{
    WriteFile(file_, "[ Settings ]\n  encAlg =  DES  \nencCert=\"C=JP, CN=a\"\n");
    EXPECT_EQ(Get("encAlg"), "DES");
    EXPECT_EQ(Get("encCert"), "C=JP, CN=a");
}

TEST_F(ProfileTest, LongValueIsCutToTheBuffer)
{
    std::string value(100, 'v');
    WritePrivateProfileStringA("Settings", "k", value.c_str(), file_.c_str());
    char buffer[10];
    DWORD n = GetPrivateProfileStringA("Settings", "k", "", buffer, sizeof buffer, file_.c_str());
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(std::string(buffer), value.substr(0, 9));
}

TEST_F(ProfileTest, NullValueDeletesKey)
{
    WritePrivateProfileStringA("Settings", "a", "1", file_.c_str());
    WritePrivateProfileStringA("Settings", "b", "2", file_.c_str());
    WritePrivateProfileStringA("Settings", "a", NULL, file_.c_str());
    EXPECT_EQ(Get("a"), "default");
    EXPECT_EQ(Get("b"), "2");
}

TEST_F(ProfileTest, Utf8FileWithByteOrderMarkIsReadInTheAnsiCodePageAndStaysUtf8)
{
    const std::string utf8 = "\xEF\xBB\xBF[Settings]\r\nsignCert=CN=\xE6\x97\xA5\xE6\x9C\xAC\r\n";  // 日本
    WriteFile(file_, utf8);
    EXPECT_EQ(Get("signCert"), "CN=日本");  // a literal here is Shift-JIS
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "encAlg", "DES", file_.c_str()));
    EXPECT_EQ(ReadFile(file_), utf8 + "encAlg=DES\r\n");
}

TEST_F(ProfileTest, OnlyTheFirstOfTwoSectionsWithTheSameNameCounts)
{
    WriteFile(file_, "[Settings]\r\na=first\r\n[Other]\r\n[SETTINGS]\r\na=second\r\nb=later\r\n");
    EXPECT_EQ(Get("a"), "first");
    EXPECT_EQ(Get("b"), "default");
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "b", "new", file_.c_str()));
    EXPECT_EQ(Get("b"), "new");
    EXPECT_EQ(ReadFile(file_), "[Settings]\r\na=first\r\nb=new\r\n[Other]\r\n[SETTINGS]\r\na=second\r\nb=later\r\n");
}

TEST_F(ProfileTest, FailedWriteLeavesTheOldFileWhole)
{
    WriteFile(file_, "[Settings]\r\nreceivingBehavior=Popup\r\n");
    ZPlatformInjectFailure("WritePrivateProfileStringA", 0);
    SetLastError(0);
    EXPECT_FALSE(WritePrivateProfileStringA("Settings", "encAlg", "3DES", file_.c_str()));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_DISK_FULL);
    EXPECT_EQ(ReadFile(file_), "[Settings]\r\nreceivingBehavior=Popup\r\n");
    // No half-written file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);
}
