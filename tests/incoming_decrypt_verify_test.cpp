// The decrypt/verify command on messages made by openssl: what the host holds
// afterwards and every box the user sees, byte for byte.
#include <string.h>

#include <string>
#include <vector>

#include "support/cert_fixture.h"
#include "support/smime_samples.h"
#include "support/test_pki.h"
#include "support/test_support.h"

namespace {

const char kCommand[] = "S/MIMEメッセージの復号と検証";
const char kCannotAnalyse[] = "S/MIMEメッセージを解析できません";

std::string Subject(const char* name)
{
    return Sjis(TestPki::Instance().Get(name).subject);
}

std::string EncryptedSection(const std::string& algorithm, const char* recipient)
{
    return std::string("このメッセージは暗号化されています\n") + "暗号化アルゴリズム :[" + algorithm +
           "]\n" + "復号に使った証明書 :[" + Subject(recipient) + "]\n\n";
}

// issuer null: no trusted issuer found.
std::string SignedSection(const std::string& hash, const char* signer, const char* issuer,
                          bool signerCurrent = true)
{
    std::string s = std::string("このメッセージは署名されています\n") + "署名時のハッシュアルゴリズム :[" +
                    hash + "]\n" + "署名者: [" + Subject(signer) + "]\n" +
                    "OOOOO メッセージは改ざんされていません\n";
    s += signerCurrent ? "OOOOO 証明書は有効です\n" : "!!!!!!!!!!!!! 証明書の期限が切れています\n";
    if (issuer != nullptr)
        s += std::string("OOOOO 署名者を認証しているCA: [") + Subject(issuer) + "]\n" +
             "OOOOO 証明書は有効なCAから発行されています\n";
    else
        s += "!!!!!!!!!!!!! 信頼できる証明書の発行者が見つかりません\n";
    return s + "\n";
}

// kPlainEntity unwrapped: its own headers, the sender's, an empty line, its body.
std::string UnwrappedPlain()
{
    return std::string("Content-Type: text/plain; charset=us-ascii\r\n"
                       "Content-Transfer-Encoding: 7bit\r\n") +
           kOuterHeaders + "\r\n\r\nThe numbers are in.\r\n-- \r\nBob\r\n";
}

class DecryptVerifyTest : public PluginFixture {
protected:
    void SetUp() override
    {
        PluginFixture::SetUp();
        const TestPki& pki = TestPki::Instance();
        InstallCert("Root", pki.Get("root"));
        InstallCert("MY", pki.Get("alice"), true);
    }

    void LoadWithDebug(const char* debug)
    {
        WriteSettings({std::string("debug=") + debug});
        Load();
    }

    const TestCert& Cert(const char* name) { return TestPki::Instance().Get(name); }

    // Runs the command on message as the host's current message; the texts of the boxes shown.
    std::vector<std::string> Run(const std::string& message, bool hasMessage = true)
    {
        if (plugin_.module == nullptr)
            Load();
        Host().hasMessage = hasMessage;
        Host().message = message;
        BoxRecorder recorder;
        EXPECT_TRUE(RunMenuCommand(plugin_, MENU_TYPE_MAIN, kCommand, kMainWindow));
        EXPECT_EQ(Host().liveTexts, 0) << "a source was not given back";
        EXPECT_EQ(Host().badFrees, 0);
        for (const ShownBox& box : recorder.boxes()) {
            EXPECT_EQ(box.caption, "メッセージ");
            EXPECT_EQ(box.type, (UINT)(MB_TOPMOST | MB_ICONINFORMATION));
        }
        return recorder.Texts();
    }

    std::string EncryptedPlain(const std::string& cipher, const std::string& tool = "cms")
    {
        return Received(kOuterHeaders, EncryptEntity(kPlainEntity, Cert("alice"), cipher, tool));
    }
};

using Boxes = std::vector<std::string>;

// --- enveloped data ---------------------------------------------------------

struct CipherCase {
    const char* option;
    const char* reported;
};

class EnvelopedCipherTest : public DecryptVerifyTest,
                            public ::testing::WithParamInterface<CipherCase> {};

TEST_P(EnvelopedCipherTest, DecryptsAndNamesTheAlgorithm)
{
    std::string message = EncryptedPlain(GetParam().option);
    ASSERT_FALSE(message.empty());
    Boxes boxes = Run(message);
    EXPECT_EQ(boxes, Boxes({EncryptedSection(GetParam().reported, "alice")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

INSTANTIATE_TEST_SUITE_P(
    Ciphers, EnvelopedCipherTest,
    ::testing::Values(CipherCase{"rc2-40", "RC2 (40bit)"}, CipherCase{"rc2-64", "RC2 (64bit)"},
                      CipherCase{"rc2-128", "RC2 (128bit)"}, CipherCase{"des", "DES"},
                      CipherCase{"des3", "3DES"},
                      CipherCase{"aes128", "AES (128bit)"},
                      CipherCase{"aes256", "AES (256bit)"}),
    [](const ::testing::TestParamInfo<CipherCase>& info) {
        std::string name = info.param.option;
        for (char& c : name)
            if (c == '-')
                c = '_';
        return name;
    });

TEST_F(DecryptVerifyTest, DecryptsPkcs7FromTheSmimeTool)
{
    Boxes boxes = Run(EncryptedPlain("des3", "smime"));
    EXPECT_EQ(boxes, Boxes({EncryptedSection("3DES", "alice")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

TEST_F(DecryptVerifyTest, UntypedPkcs7MimeHoldingEnvelopedDataIsDecrypted)
{
    std::string message = EncryptedPlain("des3");
    const std::string typed = "; smime-type=enveloped-data";
    size_t at = message.find(typed);
    ASSERT_NE(at, std::string::npos);
    message.erase(at, typed.size());
    EXPECT_EQ(Run(message), Boxes({EncryptedSection("3DES", "alice")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

TEST_F(DecryptVerifyTest, ContentHeadersWinOverTheOuterOnesAndAbsentOnesStayAbsent)
{
    std::string entity =
        "Subject: the inner subject\r\nContent-Type: text/plain\r\n\r\nbody line\r\n";
    std::string outer = "Subject: outer\r\nCc: carol@example.com\r\nX-Other: dropped\r\n";
    Run(Received(outer, EncryptEntity(entity, Cert("alice"), "des3")));
    EXPECT_EQ(Host().message, "Subject: the inner subject\r\nContent-Type: text/plain\r\n"
                              "Cc: carol@example.com\r\n\r\n\r\nbody line\r\n");
}

// Content in binary mode keeps bare LF line ends; its body must survive the
// unwrapping even though it holds no CR LF blank line.
TEST_F(DecryptVerifyTest, BareLineFeedContentKeepsItsBody)
{
    std::string entity = "Content-Type: text/plain\n\nfirst\nsecond\n";
    Run(Received(kOuterHeaders, EncryptEntity(entity, Cert("alice"), "des3", "cms", {"-binary"})));
    EXPECT_EQ(Host().message,
              std::string("Content-Type: text/plain\r\n") + kOuterHeaders + "\r\n\r\nfirst\nsecond\n");
}

// --- signatures -------------------------------------------------------------

struct SignCase {
    const char* digest;
    const char* reported;
    bool detached;
    bool attributes;
    const char* tool;
};

class SignatureTest : public DecryptVerifyTest, public ::testing::WithParamInterface<SignCase> {};

TEST_P(SignatureTest, VerifiesAndReportsATrustedSigner)
{
    const SignCase& c = GetParam();
    std::vector<std::string> extra;
    if (!c.attributes)
        extra.push_back("-noattr");
    std::string entity = SignEntity(kPlainEntity, Cert("alice"), c.digest, c.detached, c.tool, extra);
    ASSERT_FALSE(entity.empty());
    Boxes boxes = Run(Received(kOuterHeaders, entity));
    EXPECT_EQ(boxes, Boxes({SignedSection(c.reported, "alice", "root")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

INSTANTIATE_TEST_SUITE_P(
    Digests, SignatureTest,
    ::testing::Values(SignCase{"sha1", "SHA-1", false, true, "cms"},
                      SignCase{"sha1", "SHA-1", true, true, "cms"},
                      SignCase{"sha1", "SHA-1", false, false, "cms"},
                      SignCase{"sha1", "SHA-1", true, false, "cms"},
                      SignCase{"md5", "MD5", false, true, "cms"},
                      SignCase{"md5", "MD5", true, false, "cms"},
                      SignCase{"sha256", "SHA-256", false, true, "cms"},
                      SignCase{"sha256", "SHA-256", true, true, "cms"},
                      SignCase{"sha256", "SHA-256", true, false, "cms"},
                      SignCase{"sha1", "SHA-1", true, true, "smime"},
                      SignCase{"sha1", "SHA-1", false, true, "smime"}),
    [](const ::testing::TestParamInfo<SignCase>& info) {
        const SignCase& c = info.param;
        return std::string(c.tool) + "_" + c.digest + (c.detached ? "_detached" : "_opaque") +
               (c.attributes ? "" : "_noattr");
    });

TEST_F(DecryptVerifyTest, OnlyATrustedSignerIsFiledWithTheIntermediateItsMessageCarried)
{
    std::string carried = SignEntity(kPlainEntity, Cert("inter-user"), "sha1", true, "cms",
                                     {"-certfile", Cert("intermediate").certPem});
    EXPECT_EQ(Run(Received(kOuterHeaders, carried)), Boxes({SignedSection("SHA-1", "inter-user", "root")}));
    EXPECT_EQ(CountCerts("CA"), 2);

    TempDir stores;
    setenv("XDG_DATA_HOME", stores.path().c_str(), 1);
    InstallCert("Root", Cert("root"));
    std::string missing = SignEntity(kPlainEntity, Cert("inter-user"), "sha1", true);
    std::string planted = SignEntity(kPlainEntity, Cert("planted-alice"), "sha1", true);
    EXPECT_EQ(Run(Received(kOuterHeaders, missing)), Boxes({SignedSection("SHA-1", "inter-user", nullptr)}));
    EXPECT_EQ(Run(Received(kOuterHeaders, planted)), Boxes({SignedSection("SHA-1", "planted-alice", nullptr)}));
    EXPECT_EQ(CountCerts("CA"), 0);
}

TEST_F(DecryptVerifyTest, SelfSignedSignerInRootIsItsOwnIssuer)
{
    InstallCert("Root", Cert("selfsigned"));
    std::string entity = SignEntity(kPlainEntity, Cert("selfsigned"), "sha1", false);
    EXPECT_EQ(Run(Received(kOuterHeaders, entity)),
              Boxes({SignedSection("SHA-1", "selfsigned", "selfsigned")}));
}

TEST_F(DecryptVerifyTest, ExpiredSignerIsReportedAsExpired)
{
    std::string entity = SignEntity(kPlainEntity, Cert("expired"), "sha1", true);
    EXPECT_EQ(Run(Received(kOuterHeaders, entity)),
              Boxes({SignedSection("SHA-1", "expired", "root", false)}));
}

// --- several layers ---------------------------------------------------------

class LayeredTest : public DecryptVerifyTest {
protected:
    std::string SignedThenEncrypted()
    {
        std::string signedEntity = SignEntity(kPlainEntity, Cert("alice"), "sha1", true);
        return Received(kOuterHeaders,
                        EncryptEntity(signedEntity, Cert("alice"), "des3", "cms", {"-binary"}));
    }
};

TEST_F(LayeredTest, SignedThenEncryptedTakesTwoPassesAndReportsBoth)
{
    Boxes boxes = Run(SignedThenEncrypted());
    EXPECT_EQ(boxes, Boxes({EncryptedSection("3DES", "alice") +
                            SignedSection("SHA-1", "alice", "root")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

TEST_F(LayeredTest, DebugRemovesOneLayerPerRun)
{
    LoadWithDebug("YES");
    EXPECT_EQ(Run(SignedThenEncrypted()), Boxes({EncryptedSection("3DES", "alice")}));
    EXPECT_NE(Host().message.find("multipart/signed"), std::string::npos);
    EXPECT_NE(Host().message.find(kOuterHeaders), std::string::npos) << Host().message;

    EXPECT_EQ(Run(Host().message), Boxes({SignedSection("SHA-1", "alice", "root")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

TEST_F(LayeredTest, DebugInLowerCaseIsOff)
{
    LoadWithDebug("yes");
    EXPECT_EQ(Run(SignedThenEncrypted()).size(), 1u);
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

TEST_F(LayeredTest, ThreeLayersLoseTwoAndKeepTheThird)
{
    std::string inner = SignEntity(kPlainEntity, Cert("alice"), "sha1", true);
    std::string middle = SignEntity(inner, Cert("alice"), "md5", false, "cms", {"-binary"});
    std::string message =
        Received(kOuterHeaders, EncryptEntity(middle, Cert("alice"), "rc2-128", "cms", {"-binary"}));
    Boxes boxes = Run(message);
    EXPECT_EQ(boxes, Boxes({EncryptedSection("RC2 (128bit)", "alice") +
                            SignedSection("MD5", "alice", "root")}));
    EXPECT_NE(Host().message.find("Content-Type: multipart/signed"), std::string::npos);

    EXPECT_EQ(Run(Host().message), Boxes({SignedSection("SHA-1", "alice", "root")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

// --- failures: the host keeps what the last good pass wrote ------------------

TEST_F(DecryptVerifyTest, WrongRecipientFailsToDecrypt)
{
    std::string message = Received(kOuterHeaders, EncryptEntity(kPlainEntity, Cert("bob"), "des3"));
    EXPECT_EQ(Run(message), Boxes({std::string(kCannotAnalyse) + "\n\n復号失敗"}));
    EXPECT_EQ(Host().message, message);
}

TEST_F(DecryptVerifyTest, WrongRecipientWithDebugShowsTheSystemTextFirst)
{
    LoadWithDebug("YES");
    std::string message = Received(kOuterHeaders, EncryptEntity(kPlainEntity, Cert("bob"), "des3"));
    EXPECT_EQ(Run(message),
              Boxes({"Cannot find the certificate and private key to use for decryption.\r\n",
                     std::string(kCannotAnalyse) + "\n\n復号失敗"}));
    EXPECT_EQ(Host().message, message);
}

TEST_F(DecryptVerifyTest, TamperedDetachedContentShowsTwoBoxesBeforeTheFailure)
{
    std::string message =
        Received(kOuterHeaders, SignEntity(kPlainEntity, Cert("alice"), "sha1", true));
    size_t at = message.find("The numbers are in.");
    ASSERT_NE(at, std::string::npos);
    message.replace(at, 11, "The NUMBERS");
    Boxes boxes = Run(message);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0], "The hash value is not correct.\r\n");
    EXPECT_EQ(boxes[1], "署名検証失敗");
    EXPECT_EQ(boxes[2], kCannotAnalyse);
    EXPECT_EQ(Host().message, message);
}

TEST_F(DecryptVerifyTest, TamperedOpaqueContentFailsVerification)
{
    std::string message =
        Received(kOuterHeaders, SignEntity(kPlainEntity, Cert("alice"), "sha1", false));
    std::string tampered = TamperBase64Body(message, "numbers", "NUMBERS");
    ASSERT_NE(tampered, message);
    EXPECT_EQ(Run(tampered), Boxes({std::string(kCannotAnalyse) + "\n\n署名検証失敗"}));
    EXPECT_EQ(Host().message, tampered);
}

TEST_F(DecryptVerifyTest, SignerCertificateMissingFromTheMessageFailsBothForms)
{
    std::string opaque = Received(
        kOuterHeaders, SignEntity(kPlainEntity, Cert("alice"), "sha1", false, "cms", {"-nocerts"}));
    EXPECT_EQ(Run(opaque), Boxes({std::string(kCannotAnalyse) + "\n\n署名検証失敗"}));
    EXPECT_EQ(Host().message, opaque);

    std::string detached = Received(
        kOuterHeaders, SignEntity(kPlainEntity, Cert("alice"), "sha1", true, "cms", {"-nocerts"}));
    Boxes boxes = Run(detached);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[1], "署名検証失敗");
    EXPECT_EQ(boxes[2], kCannotAnalyse);
    EXPECT_EQ(Host().message, detached);
}

TEST_F(DecryptVerifyTest, SignedDataLabelledEnvelopedIsTheWrongType)
{
    std::string message =
        Received(kOuterHeaders, SignEntity(kPlainEntity, Cert("alice"), "sha1", false));
    size_t at = message.find("smime-type=signed-data");
    ASSERT_NE(at, std::string::npos);
    message.replace(at, 22, "smime-type=enveloped-data");
    EXPECT_EQ(Run(message), Boxes({std::string(kCannotAnalyse) + "\n\nWrong message type"}));
    EXPECT_EQ(Host().message, message);
}

TEST_F(DecryptVerifyTest, TransferEncodingOtherThanBase64GivesTheNoticeThenTheFailure)
{
    std::string message = EncryptedPlain("des3");
    size_t at = message.find("Content-Transfer-Encoding: base64");
    ASSERT_NE(at, std::string::npos);
    message.replace(at, 33, "Content-Transfer-Encoding: 7bit");
    Boxes boxes = Run(message);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].find("!!!!!!!!!!!!! "), 0u);
    EXPECT_NE(boxes[0].find("Content-Transfer-Encoding: 7bit"), std::string::npos);
    EXPECT_EQ(boxes[1], kCannotAnalyse);
    EXPECT_EQ(Host().message, message);
}

TEST_F(DecryptVerifyTest, PlainMessageCannotBeAnalysed)
{
    std::string message = std::string(kOuterHeaders) + "\r\nJust text.\r\n";
    EXPECT_EQ(Run(message), Boxes({kCannotAnalyse}));
    EXPECT_EQ(Host().message, message);
}

TEST_F(DecryptVerifyTest, NoCurrentMessage)
{
    EXPECT_EQ(Run("", false), Boxes({"メッセージが取得できません"}));
    EXPECT_FALSE(Host().hasMessage);
}

TEST_F(DecryptVerifyTest, FailedInnerLayerKeepsTheDecryptedMessageAndReportsTheOuterOne)
{
    std::string inner = SignEntity(kPlainEntity, Cert("alice"), "sha1", false, "cms", {"-nocerts"});
    std::string message =
        Received(kOuterHeaders, EncryptEntity(inner, Cert("alice"), "des3", "cms", {"-binary"}));
    Boxes boxes = Run(message);
    EXPECT_EQ(boxes, Boxes({std::string(kCannotAnalyse) + "\n\n署名検証失敗\n\n" +
                            EncryptedSection("3DES", "alice")}));
    EXPECT_NE(Host().message.find("smime-type=signed-data"), std::string::npos);
    EXPECT_EQ(Host().message.find("MIME-Version: 1.0\r\n"), 0u);
    EXPECT_NE(Host().message.find(kOuterHeaders), std::string::npos);
}

TEST_F(DecryptVerifyTest, BodyThatIsNotACmsObjectFailsToDecode)
{
    std::string message = std::string(kOuterHeaders) +
                          "Content-Type: application/pkcs7-mime; smime-type=enveloped-data\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\n"
                          "VGhpcyBpcyBub3QgYSBDTVMgb2JqZWN0Lg==\r\n";
    EXPECT_EQ(Run(message), Boxes({std::string(kCannotAnalyse) + "\n\nWrong message type"}));
    EXPECT_EQ(Host().message, message);
}

TEST_F(DecryptVerifyTest, EmptyBase64BodyCannotBeDecoded)
{
    std::string message = std::string(kOuterHeaders) +
                          "Content-Type: application/pkcs7-mime; smime-type=signed-data\r\n"
                          "Content-Transfer-Encoding: base64\r\n\r\n";
    EXPECT_EQ(Run(message),
              Boxes({std::string(kCannotAnalyse) + "\n\nメッセージのデコードに失敗しました"}));
}

}  // namespace

namespace {

// Every cut of a two-layer message: one final box, every source given back,
// and the host's message either untouched or an earlier pass's result.
TEST_F(LayeredTest, TruncatedMessagesNeverLoseTheMessage)
{
    std::string message = SignedThenEncrypted();
    Load();
    for (size_t cut = 0; cut < message.size(); cut += 37) {
        SCOPED_TRACE(cut);
        std::string truncated = message.substr(0, cut);
        Boxes boxes = Run(truncated);
        ASSERT_FALSE(boxes.empty());
        if (boxes.back().compare(0, strlen(kCannotAnalyse), kCannotAnalyse) == 0 &&
            boxes.back().find("このメッセージは") == std::string::npos)
            EXPECT_EQ(Host().message, truncated);
    }
}

TEST_F(DecryptVerifyTest, HugeOuterHeaderIsCarriedCutAndTheBodyStaysWhole)
{
    std::string outer = "Subject: " + std::string(100000, 's') + "\r\n";
    Boxes boxes = Run(Received(outer, EncryptEntity(kPlainEntity, Cert("alice"), "des3")));
    EXPECT_EQ(boxes, Boxes({EncryptedSection("3DES", "alice")}));
    EXPECT_EQ(Host().message, "Content-Type: text/plain; charset=us-ascii\r\n"
                              "Content-Transfer-Encoding: 7bit\r\nSubject: " +
                                  std::string(32767, 's') +
                                  "\r\n\r\n\r\nThe numbers are in.\r\n-- \r\nBob\r\n");
}

}  // namespace

namespace {

// multipart/signed laid out differently from openssl's usual output.
class DetachedLayoutTest : public DecryptVerifyTest {
protected:
    void SetUp() override
    {
        DecryptVerifyTest::SetUp();
        message_ = Received(kOuterHeaders, SignEntity(kPlainEntity, Cert("alice"), "sha1", true));
        size_t b = message_.find("boundary=\"");
        ASSERT_NE(b, std::string::npos);
        b += 10;
        delimiter_ = "--" + message_.substr(b, message_.find('"', b) - b);
    }

    // The pieces between the delimiter lines: preamble, content part, signature part, rest.
    std::vector<std::string> Pieces() const
    {
        std::vector<std::string> pieces;
        size_t start = 0, at;
        while ((at = message_.find(delimiter_, start)) != std::string::npos) {
            pieces.push_back(message_.substr(start, at - start));
            start = at;
            start = message_.find("\r\n", start) + 2;
        }
        pieces.push_back(message_.substr(start));
        return pieces;
    }

    std::string message_;
    std::string delimiter_;
};

TEST_F(DetachedLayoutTest, SignaturePartFirstVerifiesTheSame)
{
    std::vector<std::string> p = Pieces();
    ASSERT_EQ(p.size(), 4u);
    // p[1] ends with the CR LF that belongs to the next delimiter line.
    std::string swapped = p[0] + delimiter_ + "\r\n" + p[2] + delimiter_ + "\r\n" + p[1] +
                          delimiter_ + "--\r\n" + p[3];
    EXPECT_EQ(Run(swapped), Boxes({SignedSection("SHA-1", "alice", "root")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

TEST_F(DetachedLayoutTest, SignatureMediaTypeInCapitalsIsRecognised)
{
    size_t at = message_.find("application/pkcs7-signature; name");
    ASSERT_NE(at, std::string::npos);
    message_.replace(at, 27, "APPLICATION/PKCS7-SIGNATURE");
    EXPECT_EQ(Run(message_), Boxes({SignedSection("SHA-1", "alice", "root")}));
}

TEST_F(DetachedLayoutTest, BareLineFeedsAreVerifiedInCrLfForm)
{
    std::string lf;
    for (char c : message_)
        if (c != '\r')
            lf += c;
    EXPECT_EQ(Run(lf), Boxes({SignedSection("SHA-1", "alice", "root")}));
}

TEST_F(DetachedLayoutTest, WithoutSignaturePartOnlyTheFailureBox)
{
    std::vector<std::string> p = Pieces();
    ASSERT_EQ(p.size(), 4u);
    std::string unsignedMessage = p[0] + delimiter_ + "\r\n" + p[1] + delimiter_ + "--\r\n";
    EXPECT_EQ(Run(unsignedMessage), Boxes({kCannotAnalyse}));
    EXPECT_EQ(Host().message, unsignedMessage);
}

}  // namespace

namespace {

// Opening a message starts the command by itself when the settings say so.
TEST_F(DecryptVerifyTest, OpeningAnEncryptedMessageWithAutoVerifyUnwrapsIt)
{
    WriteSettings({"receivingBehavior=AutoVerify"});
    Load();
    Host().hasMessage = true;
    Host().message = EncryptedPlain("des3");
    BoxRecorder recorder;
    plugin_.OpenMail();
    EXPECT_EQ(recorder.Texts(), Boxes({EncryptedSection("3DES", "alice")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
    EXPECT_EQ(Host().liveTexts, 0);
}

std::string WithBareLineFeeds(std::string text)
{
    for (size_t at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 1);
    return text;
}

// Mail stored by Unix mailers has bare LF line ends throughout; opening it
// with AutoVerify must not fail every time.
TEST_F(DecryptVerifyTest, BareLineFeedPkcs7MimeMessagesAreUnwrapped)
{
    WriteSettings({"receivingBehavior=AutoVerify"});
    Load();
    Host().hasMessage = true;
    Host().message = WithBareLineFeeds(EncryptedPlain("des3"));
    BoxRecorder recorder;
    plugin_.OpenMail();
    EXPECT_EQ(recorder.Texts(), Boxes({EncryptedSection("3DES", "alice")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());

    std::string opaque = Received(kOuterHeaders, SignEntity(kPlainEntity, Cert("alice"), "sha1", false));
    EXPECT_EQ(Run(WithBareLineFeeds(opaque)), Boxes({SignedSection("SHA-1", "alice", "root")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

// Some transports pad Base64 lines with a blank; the decoder skips it.
TEST_F(DecryptVerifyTest, BlanksAtTheEndOfBase64LinesAreSkipped)
{
    std::string message = EncryptedPlain("des3");
    size_t body = message.find("\r\n\r\n") + 4;
    for (size_t at = body; (at = message.find("\r\n", at)) != std::string::npos; at += 3)
        message.insert(at, " ");
    EXPECT_EQ(Run(message), Boxes({EncryptedSection("3DES", "alice")}));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

TEST_F(DecryptVerifyTest, PopupAnsweredYesVerifiesAfterTheQuestion)
{
    WriteSettings({"receivingBehavior=Popup"});
    Load();
    Host().hasMessage = true;
    Host().message = Received(kOuterHeaders, SignEntity(kPlainEntity, Cert("alice"), "sha1", false));
    BoxRecorder recorder;  // answers Yes
    plugin_.OpenMail();
    ASSERT_EQ(recorder.boxes().size(), 2u);
    EXPECT_EQ(recorder.boxes()[0].caption, "NOTICE!");
    EXPECT_EQ(recorder.boxes()[1].text, SignedSection("SHA-1", "alice", "root"));
    EXPECT_EQ(Host().message, UnwrappedPlain());
}

}  // namespace
