// The decrypt/verify command through zhost as a process.
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

}  // namespace
