// The encryption command, read back by openssl as each recipient.
#include <string>
#include <vector>

#include "outgoing_support.h"
#include "support/cert_fixture.h"
#include "support/smime_samples.h"

namespace {

const char kEnvelopedHeaders[] =
    "Content-Type: application/x-pkcs7-mime;\n name=\"smime.p7m\";\n smime-type=enveloped-data\n"
    "Content-Transfer-Encoding: base64\n";
const char kP7mDisposition[] = "Content-Disposition: attachment;\n filename=\"smime.p7m\"\n";

std::string Box(const std::string& utf8)
{
    return u8"box: [メッセージ] " + utf8;
}

std::string Escaped(std::string text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

std::string ReportLine(const char* prefix, const TestCert& cert)
{
    return prefix + cert.subject + "\\n";
}

std::string BodyOf(const std::string& message)
{
    size_t blank = message.find("\r\n\r\n");
    return blank == std::string::npos ? std::string() : message.substr(blank + 4);
}

class OutgoingEncryptTest : public OutgoingTest {};

}  // namespace

TEST_F(OutgoingEncryptTest, EveryAlgorithmReachesTheSenderAndEachRecipientByteForByte)
{
    InstallPki();
    const std::string composed =
        ComposedMessage("To: Bob <bob@example.com>, \"Carol C.\" <carol@example.com>\r\n");
    const std::vector<std::pair<std::string, std::string>> algorithms = {
        {"RC2(40bit)", "rc2-cbc"}, {"DES", "des-cbc"},         {"RC2(128bit)", "rc2-cbc"},
        {"3DES", "des-ede3-cbc"},  {"AES(128bit)", "aes-128-cbc"}, {"AES(256bit)", "aes-256-cbc"}};
    for (const auto& algorithm : algorithms) {
        SCOPED_TRACE(algorithm.first);
        LoadWith({"encAlg=" + algorithm.first});
        std::string out = Run(kEncryptCommand, composed);

        // Headers stay readable outside; the three content headers are replaced in place.
        size_t subject = out.find("Subject: quarterly figures\r\nMIME-Version: 1.0\r\n");
        ASSERT_NE(subject, std::string::npos) << out;
        EXPECT_EQ(out.find(kEnvelopedHeaders), out.find("MIME-Version: 1.0\r\n") + 19);
        EXPECT_NE(out.find(std::string(kP7mDisposition) + "X-SMIME-Plugin: "), std::string::npos) << out;
        std::string body = BodyOf(out);
        ASSERT_FALSE(body.empty());
        EXPECT_EQ(body.substr(60, 2), "\r\n");
        EXPECT_NE(body.substr(body.size() - 2), "\r\n");

        for (const char* name : {"alice", "bob", "carol"}) {
            bool ok = false;
            EXPECT_EQ(Decrypt(out, pki().Get(name), &ok), composed) << name;
        }
        bool ok = false;
        EXPECT_EQ(Decrypt(out, pki().Get("bob"), &ok, true), composed) << "openssl smime";
        ProcessResult printed = Openssl({"cms", "-cmsout", "-print", "-in", dir_.File("peer-in.eml")});
        EXPECT_NE(printed.out.find("algorithm: " + algorithm.second + " ("), std::string::npos) << printed.out;
        // The effective RC2 key length is carried as the parameter version: 160 for 40 bits, 58 for 128.
        if (algorithm.first == "RC2(40bit)") {
            EXPECT_NE(printed.out.find("INTEGER           :A0"), std::string::npos) << printed.out;
        }
        if (algorithm.first == "RC2(128bit)") {
            EXPECT_NE(printed.out.find("INTEGER           :3A"), std::string::npos) << printed.out;
        }
        // AES carries its IV as the parameters (RFC 3565).
        if (algorithm.first.compare(0, 3, "AES") == 0) {
            EXPECT_NE(printed.out.find("parameter: OCTET STRING:"), std::string::npos) << printed.out;
        }

        std::vector<std::string> expected = {Box(u8"復号可能な受信者\\n" + ReportLine("OOOOO ", pki().Get("alice")) +
                                                 ReportLine("OOOOO ", pki().Get("bob")) +
                                                 ReportLine("OOOOO ", pki().Get("carol")))};
        EXPECT_EQ(Boxes(), expected);
    }
}

TEST_F(OutgoingEncryptTest, BccIsAskedFirstAndNoLeavesTheMessageAsItWas)
{
    InstallPki();
    LoadWith({"encAlg=3DES"});
    const std::string composed = ComposedMessage("To: bob@example.com\r\nBcc: carol@example.com\r\n");
    const std::string question =
        u8"box: [Bccが設定されています] " +
        Escaped(u8"Bcc宛の通信も暗号化が可能ですが\n理論上、受信者全員がBccの宛先を知ることができます\n構いませんか?\n\n"
                u8"「はい」を選択した場合は処理を続行します（Bcc宛にも暗号化を行います）\n"
                u8"「いいえ」を選択した場合は処理を中止します");

    Host().answers = {false};
    std::string out = Run(kEncryptCommand, composed);
    EXPECT_EQ(out, Stamped(composed, out));
    EXPECT_EQ(Boxes(), std::vector<std::string>{question + " -> no"});

    Host().answers = {true};
    out = Run(kEncryptCommand, composed);
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[0], question + " -> yes");
    bool ok = false;
    EXPECT_EQ(Decrypt(out, pki().Get("carol"), &ok), composed);

    // Without Bcc nothing is asked.
    out = Run(kEncryptCommand, ComposedMessage("Cc: carol@example.com\r\n"));
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].find(u8"box: [メッセージ] 復号可能な受信者"), 0u);
}

TEST_F(OutgoingEncryptTest, EveryFailureShowsItsMessageAndOnlyStampsTheMessage)
{
    InstallPki();
    std::string many = "To: ";
    for (int i = 0; i < 33; ++i)
        many += std::string(i ? ", " : "") + "bob@example.com";
    struct Row {
        const char* what;
        std::string setting;
        std::string headers;
        std::string box;
    } rows[] = {
        {"unknown algorithm", "encAlg=rc2(40bit)", "To: bob@example.com\r\n",
         Box(u8"指定されたアルゴリズムはサポートされていません")},
        {"missing recipient", "encAlg=3DES", "To: bob@example.com\r\nCc: Dave <dave@example.com>\r\n",
         Box(u8"送信先の証明書がストア中にありません [dave@example.com]")},
        {"too many recipients", "encAlg=3DES", many + "\r\n", Box(u8"受信者数が多すぎます")},
        {"no recipients", "encAlg=3DES", "", Box(u8"送信先の証明書がストア中にありません []")},
        {"default algorithm needs nothing", "", "To: \r\nBcc: \r\n", Box(u8"送信先の証明書がストア中にありません []")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        LoadWith({row.setting});
        const std::string composed = ComposedMessage(row.headers);
        std::string out = Run(kEncryptCommand, composed);
        EXPECT_EQ(out, Stamped(composed, out));
        EXPECT_EQ(Boxes(), std::vector<std::string>{row.box});
    }

    // Without a certificate of the sender's own.
    std::string composed = ComposedMessage("To: bob@example.com\r\n");
    composed.replace(0, composed.find("\r\n"), "From: Dave <dave@example.com>");
    std::string out = Run(kEncryptCommand, composed);
    EXPECT_EQ(out, Stamped(composed, out));
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"あなたの証明書がストア中にありません")});
}

TEST_F(OutgoingEncryptTest, UntrustedAndManyRecipientsAreStillEncryptedFor)
{
    InstallPki();
    InstallCert("CA", pki().Get("stranger"));
    LoadWith({"encAlg=3DES"});
    const std::string composed = ComposedMessage("To: stranger@example.com\r\n");
    std::string out = Run(kEncryptCommand, composed);
    bool ok = false;
    EXPECT_EQ(Decrypt(out, pki().Get("stranger"), &ok), composed);
    std::vector<std::string> expected = {Box(u8"復号可能な受信者\\n" + ReportLine("OOOOO ", pki().Get("alice")) +
                                             ReportLine("!!!!!!!!!!!!! ", pki().Get("stranger")))};
    EXPECT_EQ(Boxes(), expected);

    // 32 addresses (duplicates stay duplicates): 33 certificates with the sender's.
    std::string to = "To: ";
    for (int i = 0; i < 32; ++i)
        to += std::string(i ? "," : "") + "bob@example.com";
    const std::string crowded = ComposedMessage(to + "\r\n");
    out = Run(kEncryptCommand, crowded);
    EXPECT_EQ(Decrypt(out, pki().Get("bob"), &ok), crowded);
    ASSERT_EQ(Boxes().size(), 1u);
    size_t lines = 0;
    for (size_t at = Boxes()[0].find("CN=bob"); at != std::string::npos; at = Boxes()[0].find("CN=bob", at + 1))
        ++lines;
    EXPECT_EQ(lines, 32u);
}

TEST_F(OutgoingEncryptTest, RecipientOnlyInMyIsFoundAndAddressBookNeedsExactlyYes)
{
    InstallPki();
    InstallCert("MY", pki().Get("carol"));
    InstallCert("AddressBook", pki().Get("encipher"));
    const std::string composed = ComposedMessage("To: carol@example.com\r\n");
    LoadWith({"encAlg=3DES", "useOLStore=yes"});
    std::string out = Run(kEncryptCommand, composed);
    bool ok = false;
    EXPECT_EQ(Decrypt(out, pki().Get("carol"), &ok), composed);

    const std::string other = ComposedMessage("To: encipher@example.com\r\n");
    out = Run(kEncryptCommand, other);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"送信先の証明書がストア中にありません [encipher@example.com]")});
    LoadWith({"encAlg=3DES", "useOLStore=YES"});
    out = Run(kEncryptCommand, other);
    EXPECT_EQ(Decrypt(out, pki().Get("encipher"), &ok), other);
}

TEST_F(OutgoingEncryptTest, RecipientsGetTheirBestCertificateAndNeverOneAStrangerPlanted)
{
    InstallPki();
    LoadWith({"encAlg=3DES"});
    // A stranger signs as alice: reading the message must not make his
    // certificate hers.
    Host().hasMessage = true;
    Host().message = Received(kOuterHeaders, SignEntity(kPlainEntity, pki().Get("planted-alice"), "sha1", true));
    ASSERT_TRUE(RunMenuCommand(plugin_, MENU_TYPE_MAIN, "S/MIMEメッセージの復号と検証", kMainWindow));
    for (const char* name : {"dave-expired", "dave-stranger", "dave", "dave-earlier", "expired"})
        InstallCert("CA", pki().Get(name));

    // An expired certificate that is the only one of its address is used, and marked.
    std::string composed = ComposedMessage("To: ALICE@example.com, Dave <dave@EXAMPLE.com>, expired@example.com\r\n");
    std::string out = Run(kEncryptCommand, composed);
    EXPECT_EQ(Boxes().back(), Box(u8"復号可能な受信者\\n" + ReportLine("OOOOO ", pki().Get("alice")) +
                                  ReportLine("OOOOO ", pki().Get("alice")) +
                                  ReportLine("OOOOO ", pki().Get("dave")) +
                                  ReportLine("!!!!!!!!!!!!! ", pki().Get("expired"))));
    bool ok = false;
    EXPECT_EQ(Decrypt(out, pki().Get("dave"), &ok), composed);
    EXPECT_EQ(CountCerts("CA"), 7);  // bob, carol, the four of dave and expired
}
