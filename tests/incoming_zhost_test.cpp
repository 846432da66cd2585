// The decrypt/verify command through zhost as a process.
#include <sys/stat.h>

#include <string>

#include "support/smime_samples.h"
#include "support/test_pki.h"
#include "support/test_support.h"

namespace {

class ZhostVerifyTest : public PluginFixture {};

TEST_F(ZhostVerifyTest, SignedAndEncryptedMessageEndsAsPlainTextWithItsReport)
{
    const TestPki& pki = TestPki::Instance();
    InstallCert("Root", pki.Get("root"));
    InstallCert("MY", pki.Get("bob"), true);
    std::string signedEntity = SignEntity(kPlainEntity, pki.Get("alice"), "sha1", true);
    std::string message =
        Received(kOuterHeaders, EncryptEntity(signedEntity, pki.Get("bob"), "rc2-40", "cms", {"-binary"}));
    WriteFile(dir_.File("in.eml"), message);

    ProcessResult r = RunProcess({ZHOST_PATH, "--plugin", modulePath_, "verify", dir_.File("in.eml"),
                                  "-o", dir_.File("out.eml")},
                                 {"XDG_DATA_HOME=" + dir_.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(ReadFile(dir_.File("out.eml")),
              "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n" +
                  std::string(kOuterHeaders) + "\r\n\r\nThe numbers are in.\r\n-- \r\nBob\r\n");
    std::string expected =
        "box: [メッセージ] このメッセージは暗号化されています\\n暗号化アルゴリズム :[RC2 (40bit)]\\n"
        "復号に使った証明書 :[" + pki.Get("bob").subject + "]\\n\\n"
        "このメッセージは署名されています\\n署名時のハッシュアルゴリズム :[SHA-1]\\n"
        "署名者: [" + pki.Get("alice").subject + "]\\n"
        "OOOOO メッセージは改ざんされていません\\nOOOOO 証明書は有効です\\n"
        "OOOOO 署名者を認証しているCA: [" + pki.Get("root").subject + "]\\n"
        "OOOOO 証明書は有効なCAから発行されています\\n\\n\n";
    EXPECT_EQ(r.err, Utf8(expected));
}

// A forged From above a good signature, and a detached signature that fails
// (the system error text is then fetched and held until the plug-in
// unloads; the sanitizer build checks that it is released then). The
// output, possibly decrypted mail, is the user's alone.
TEST_F(ZhostVerifyTest, ForgedSenderIsReportedAndFailuresEndCleanly)
{
    const TestPki& pki = TestPki::Instance();
    InstallCert("Root", pki.Get("root"));
    std::string signedEntity = SignEntity(kPlainEntity, pki.Get("alice"), "sha1", true);
    WriteFile(dir_.File("forged.eml"), Received("From: Boss <boss@example.com>\r\n", signedEntity));
    WriteFile(dir_.File("out.eml"), "");
    chmod(dir_.File("out.eml").c_str(), 0644);

    ProcessResult r = RunProcess({ZHOST_PATH, "--plugin", modulePath_, "verify", dir_.File("forged.eml"),
                                  "-o", dir_.File("out.eml")},
                                 {"XDG_DATA_HOME=" + dir_.path()});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(Utf8("署名者: [" + pki.Get("alice").subject +
                              "]\\n!!!!!!!!!!!!! 差出人のアドレスが署名者の証明書にありません "
                              "[boss@example.com]\\nOOOOO メッセージは改ざんされていません")),
              std::string::npos)
        << r.err;
    struct stat st;
    ASSERT_EQ(stat(dir_.File("out.eml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    size_t body = signedEntity.find("The numbers");
    ASSERT_NE(body, std::string::npos);
    signedEntity.replace(body, 3, "THE");
    WriteFile(dir_.File("tampered.eml"), Received(kOuterHeaders, signedEntity));
    r = RunProcess({ZHOST_PATH, "--plugin", modulePath_, "verify", dir_.File("tampered.eml")},
                   {"XDG_DATA_HOME=" + dir_.path()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(Utf8("署名検証失敗")), std::string::npos) << r.err;
}

}  // namespace
