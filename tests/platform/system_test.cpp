// kernel32 services the module leans on: system error texts, the Shift-JIS
// code page, and the module's own file name.
#include <string.h>

#include "platform_test.h"

namespace {

std::string SystemText(DWORD code)
{
    char* text = nullptr;
    DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, nullptr);
    std::string out = n != 0 && text != nullptr ? std::string(text, n) : std::string("(none)");
    if (text != nullptr)
        LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

}  // namespace

TEST(SystemText, CryptographicErrorsHaveTheirEnglishTexts)
{
    ExpectDivergenceOnWine("Wine 8 has no system texts for crypt32's error codes");
    EXPECT_EQ(SystemText(CRYPT_E_NO_DECRYPT_CERT), "Cannot find the certificate and private key to use for decryption.");
    EXPECT_EQ(SystemText(NTE_BAD_SIGNATURE), "Invalid Signature.");
    EXPECT_EQ(SystemText(CRYPT_E_HASH_VALUE), "The hash value is not correct.");
    EXPECT_EQ(SystemText(CRYPT_E_NOT_FOUND), "Cannot find object or property.");
}

TEST(SystemText, AnUnknownCodeHasNoText)
{
    EXPECT_EQ(SystemText(0x2000BEEF), "(none)");
}

TEST(CodePage, ShiftJisLeadBytes)
{
    EXPECT_EQ(GetACP(), 932u);
    for (int c = 0; c < 256; ++c) {
        bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
        EXPECT_EQ(IsDBCSLeadByte((BYTE)c) != FALSE, lead) << "byte " << c;
    }
    // A trail byte may equal '\\'; the next character starts after the pair.
    const char text[] = "\x95\x5C" "a";  // 表 then 'a'
    EXPECT_EQ(CharNextA(text), text + 2);
}

TEST(Module, FileNameThatDoesNotFitGivesTheBufferSizeAndInsufficientBuffer)
{
    char full[1024];
    DWORD length = GetModuleFileNameA(nullptr, full, sizeof full);
    ASSERT_GT(length, 0u);
    EXPECT_EQ(strlen(full), length);
    char small[8];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), (DWORD)sizeof small);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INSUFFICIENT_BUFFER);
}

TEST(Module, FileNameThatDoesNotFitIsCutAndTerminated)
{
    ExpectDivergenceOnWine("Wine 8 leaves a cut module path unterminated, as Windows XP did; "
                           "later Windows terminate it (the settings path refuses a cut path either way)");
    char full[1024], small[8];
    GetModuleFileNameA(nullptr, full, sizeof full);
    GetModuleFileNameA(nullptr, small, sizeof small);
    EXPECT_EQ(std::string(small, strnlen(small, sizeof small)), std::string(full, sizeof small - 1));
}
