// Module services, errors and text services of the platform layer.
#include <string.h>

#include <windows.h>
#include <wincrypt.h>

#include "common/messages.h"
#include "support/test_support.h"

TEST(PlatformModuleTest, LoadLibraryOfMissingFileFails)
{
    EXPECT_EQ(LoadLibraryA("/nonexistent/zsmime.so"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MOD_NOT_FOUND);
}

TEST(PlatformModuleTest, ModuleFileNameIsCutAndTerminated)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(strlen(path), n);
    char small[4];
    EXPECT_EQ(GetModuleFileNameA(NULL, small, sizeof small), 4u);
    EXPECT_EQ(strlen(small), 3u);
}

TEST(PlatformErrorTest, LastErrorTextFollowsTheLastError)
{
    SetLastError(CRYPT_E_NO_DECRYPT_CERT);
    EXPECT_STREQ(LastErrorText(), "Cannot find the certificate and private key to use for decryption.\r\n");
    SetLastError(NTE_BAD_SIGNATURE);
    EXPECT_STREQ(LastErrorText(), "Invalid Signature.\r\n");
    SetLastError(CRYPT_E_HASH_VALUE);
    EXPECT_STREQ(LastErrorText(), "The hash value is not correct.\r\n");
    SetLastError(0x12345678);
    EXPECT_EQ(LastErrorText(), nullptr);
}

TEST(PlatformTextTest, WsprintfStopsAt1024Bytes)
{
    std::string big(2000, 'a');
    char buffer[1024];
    EXPECT_EQ(wsprintfA(buffer, "%s", big.c_str()), 1023);
    EXPECT_EQ(strlen(buffer), 1023u);
    EXPECT_EQ(wsprintfA(buffer, "%08X.%04X", 0xABCDu, 0x12u), 13);
    EXPECT_STREQ(buffer, "0000ABCD.0012");
}

TEST(PlatformTextTest, ShiftJisLeadBytes)
{
    EXPECT_TRUE(IsDBCSLeadByte(0x81));
    EXPECT_TRUE(IsDBCSLeadByte(0x9F));
    EXPECT_TRUE(IsDBCSLeadByte(0xE0));
    EXPECT_TRUE(IsDBCSLeadByte(0xFC));
    EXPECT_FALSE(IsDBCSLeadByte('<'));
    EXPECT_FALSE(IsDBCSLeadByte(0xA0));  // half-width katakana are single bytes
    const char* text = "\x83\x3C" "a";
    EXPECT_EQ(CharNextA(text), text + 2);
}

TEST(PlatformTextTest, CodePageConversionsRoundTrip)
{
    std::string sjis = "メッセージ";  // compiled to Shift-JIS
    EXPECT_EQ(sjis.size(), 10u);
    EXPECT_EQ(Utf8(sjis), u8"\u30e1\u30c3\u30bb\u30fc\u30b8");
    EXPECT_EQ(Sjis(Utf8(sjis)), sjis);
}
