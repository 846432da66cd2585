// The two signing forms and the sign-and-encrypt command, checked by openssl.
#include <stdlib.h>
#include <ctype.h>
#include <string.h>

#include <string>
#include <vector>

#include "mime/mime_part.h"
#include "outgoing/sign.h"
#include "outgoing_support.h"

namespace {

const char kSignedDataHeaders[] =
    "Content-Type: application/x-pkcs7-mime;\n name=\"smime.p7m\";\n smime-type=signed-data\n"
    "Content-Transfer-Encoding: base64\n";
const char kP7mDisposition[] = "Content-Disposition: attachment;\n filename=\"smime.p7m\"\n";

std::string Box(const std::string& utf8)
{
    return u8"box: [メッセージ] " + utf8;
}

std::string FirstPartOf(const std::string& source)
{
    char* text = BuildSignedFirstPart(source.c_str());
    std::string out = text != NULL ? text : "";
    free(text);
    return out;
}

// The boundary named in the outer Content-Type.
std::string BoundaryOf(const std::string& message)
{
    size_t start = message.find("boundary=\"");
    if (start == std::string::npos)
        return std::string();
    start += 10;
    return message.substr(start, message.find('"', start) - start);
}

// "===[S/MIME_RFC2311]===", eight and four upper-case hexadecimal digits, "===".
bool IsSignatureBoundary(const std::string& boundary)
{
    const std::string head = "===[S/MIME_RFC2311]===";
    if (boundary.size() != head.size() + 16 || boundary.compare(0, head.size(), head) != 0 ||
        boundary[head.size() + 8] != '.' || boundary.compare(boundary.size() - 3, 3, "===") != 0)
        return false;
    for (size_t i = head.size(); i < boundary.size() - 3; ++i)
        if (i != head.size() + 8 && !isdigit((unsigned char)boundary[i]) && (boundary[i] < 'A' || boundary[i] > 'F'))
            return false;
    return true;
}

class OutgoingSignTest : public OutgoingTest {};

}  // namespace

TEST(SignedFirstPartTest, KeepsOnlyTheContentHeadersInCanonicalForm)
{
    // LF-only source, lower-case names, a folded Content-Type, a disposition.
    std::string source =
        "From: a@example.com\n"
        "content-type: multipart/mixed;\n"
        "\tboundary=\"xyz\"\n"
        "Subject: s\n"
        "content-transfer-encoding: 7bit\n"
        "Content-Disposition: inline\n"
        "\n"
        "--xyz\n"
        "Content-Type: text/plain\n"
        "\n"
        "line\n"
        "--xyz--\n";
    std::string part = FirstPartOf(source);
    EXPECT_EQ(part.find("Content-Type: multipart/mixed;\r\n\tboundary=\"xyz\"\r\n"
                        "Content-Disposition: inline\r\n"
                        "Content-Transfer-Encoding: 7bit\r\n"
                        "\r\n"),
              0u)
        << part;
    EXPECT_EQ(part.find("From:"), std::string::npos);
    for (size_t at = part.find('\n'); at != std::string::npos; at = part.find('\n', at + 1))
        EXPECT_EQ(part[at - 1], '\r') << "bare line feed at " << at;
    EXPECT_NE(part.find("--xyz\r\nContent-Type: text/plain\r\n\r\nline\r\n--xyz--"), std::string::npos) << part;

    // Without a disposition: two header lines.
    std::string plain = FirstPartOf("Subject: s\r\nContent-Type: text/plain\r\n\r\nbody\r\n");
    EXPECT_EQ(plain.find("Content-Type: text/plain\r\n\r\nbody"), 0u) << plain;
}

TEST_F(OutgoingSignTest, OpaqueSignatureVerifiesAndCarriesTheSourceByteForByte)
{
    InstallPki();
    for (const char* hash : {"1.3.14.3.2.26", "1.2.840.113549.2.5"}) {
        SCOPED_TRACE(hash);
        LoadWith({std::string("signHashOID=") + hash});
        // LF-only line ends are signed as the host delivered them.
        std::string composed = ComposedMessage("To: bob@example.com\r\n");
        std::string lf;
        for (char c : composed)
            if (c != '\r')
                lf += c;
        for (const std::string& source : {composed, lf}) {
            std::string out = Run(kSignCommand, source);
            EXPECT_NE(out.find(std::string(kSignedDataHeaders) + kP7mDisposition), std::string::npos) << out;
            EXPECT_NE(out.find("Subject: quarterly figures"), std::string::npos);
            bool ok = false;
            EXPECT_EQ(Verify(out, &ok), source);
            EXPECT_EQ(Verify(out, &ok, false), source);
            EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"署名者\\n" + pki().Get("alice").subject)});
            EXPECT_NE(ComposerHeader(out, "X-SMIME-Plugin"), "");
        }
    }
}

TEST_F(OutgoingSignTest, DetachedSignatureVerifiesAndNamesTheHashUsed)
{
    InstallPki();
    const std::string composed = ComposedMessage("To: bob@example.com\r\nContent-Disposition: inline\r\n");
    for (auto hash : std::vector<std::pair<std::string, std::string>>{{"1.3.14.3.2.26", "sha1"},
                                                                      {"1.2.840.113549.2.5", "md5"}}) {
        SCOPED_TRACE(hash.first);
        LoadWith({"detachedSig=YES", "signHashOID=" + hash.first});
        std::string out = Run(kSignCommand, composed);
        std::string boundary = BoundaryOf(out);
        EXPECT_TRUE(IsSignatureBoundary(boundary)) << boundary;
        std::string header = "Content-Type: multipart/signed; protocol=\"application/x-pkcs7-signature\"; micalg=" +
                             hash.second + "; boundary=\"" + boundary + "\"\r\nContent-Transfer-Encoding: 7bit\r\n";
        EXPECT_NE(out.find("MIME-Version: 1.0\r\n" + header), std::string::npos) << out;
        EXPECT_NE(out.find("To: bob@example.com\r\nContent-Disposition: inline\r\n"), std::string::npos) << out;
        std::string firstPart = FirstPartOf(composed);
        EXPECT_NE(out.find("\r\n\r\n--" + boundary + "\r\n" + firstPart + "\r\n--" + boundary +
                           "\r\nContent-Type: application/x-pkcs7-signature; name=\"smime.p7s\"\r\n"),
                  std::string::npos);
        EXPECT_EQ(out.substr(out.size() - boundary.size() - 8), "\r\n--" + boundary + "--\r\n");
        bool ok = false;
        EXPECT_EQ(Verify(out, &ok), firstPart);
        EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"署名者\\n" + pki().Get("alice").subject)});
    }

    // Two messages signed within the same second get different boundaries.
    std::string a = BoundaryOf(Run(kSignCommand, composed));
    std::string b = BoundaryOf(Run(kSignCommand, composed));
    EXPECT_NE(a, b);

    // Anything but exactly "YES" signs opaquely.
    LoadWith({"detachedSig=yes"});
    EXPECT_NE(Run(kSignCommand, composed).find("smime-type=signed-data"), std::string::npos);
}

TEST_F(OutgoingSignTest, SigningWithoutACertificateOnlyStampsTheMessage)
{
    InstallPki();
    std::string composed = ComposedMessage("To: bob@example.com\r\n");
    composed.replace(0, composed.find("\r\n"), "From: Bob <bob@example.com>");  // bob's key is not in MY
    for (const char* form : {"detachedSig=YES", "detachedSig=NO"}) {
        SCOPED_TRACE(form);
        LoadWith({form});
        std::string out = Run(kSignCommand, composed);
        EXPECT_EQ(out, Stamped(composed, out));
        EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"あなたの証明書がストア中にありません")});
    }
    // A certificate without the digital-signature usage is not taken.
    InstallCert("MY", pki().Get("encipher"), true);
    LoadWith({"signCert=" + Sjis(pki().Get("encipher").subject)});
    std::string out = Run(kSignCommand, composed);
    EXPECT_EQ(out, Stamped(composed, out));
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"あなたの証明書がストア中にありません")});
}

TEST_F(OutgoingSignTest, SignAndEncryptReadsBackAsSignedThenEncrypted)
{
    InstallPki();
    const std::string composed = ComposedMessage("To: bob@example.com\r\n");
    for (const char* form : {"detachedSig=YES", "detachedSig=NO"}) {
        SCOPED_TRACE(form);
        LoadWith({form, "encAlg=3DES"});
        std::string out = Run(kSignEncryptCommand, composed);
        EXPECT_NE(out.find("smime-type=enveloped-data"), std::string::npos);
        EXPECT_NE(ComposerHeader(out, "X-SMIME-Plugin"), "");
        bool ok = false;
        std::string inner = Decrypt(out, pki().Get("bob"), &ok);
        EXPECT_EQ(inner.find("X-SMIME-Plugin"), std::string::npos) << "the signature layer is not stamped";
        std::string content = Verify(inner, &ok);
        EXPECT_EQ(content, strcmp(form, "detachedSig=YES") == 0 ? FirstPartOf(composed) : composed);
        std::vector<std::string> expected = {Box(u8"復号可能な受信者\\nOOOOO " + pki().Get("alice").subject +
                                                 "\\nOOOOO " + pki().Get("bob").subject + u8"\\n\\n\\n署名者\\n" +
                                                 pki().Get("alice").subject)};
        EXPECT_EQ(Boxes(), expected);
    }
}

TEST_F(OutgoingSignTest, SignAndEncryptPutsTheComposedMessageBackOnAnyFailure)
{
    InstallPki();
    LoadWith({"detachedSig=YES", "encAlg=3DES"});
    // Bcc declined.
    std::string composed = ComposedMessage("To: bob@example.com\r\nBcc: carol@example.com\r\n");
    Host().answers = {false};
    EXPECT_EQ(Run(kSignEncryptCommand, composed), composed);
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].find(u8"box: [Bccが設定されています]"), 0u);

    // A recipient without a certificate, after signing succeeded.
    composed = ComposedMessage("To: dave@example.com\r\n");
    EXPECT_EQ(Run(kSignEncryptCommand, composed), composed);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"送信先の証明書がストア中にありません [dave@example.com]")});

    // Signing fails.
    composed.replace(0, composed.find("\r\n"), "From: Dave <dave@example.com>");
    EXPECT_EQ(Run(kSignEncryptCommand, composed), composed);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"あなたの証明書がストア中にありません")});

    // No recipients at all.
    composed = ComposedMessage("");
    EXPECT_EQ(Run(kSignEncryptCommand, composed), composed);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"送信先の証明書がストア中にありません []")});
}

TEST_F(OutgoingSignTest, TheRenewedCertificateSignsForItsAddressInAnyCase)
{
    InstallPki();
    for (const char* name : {"dave-expired", "dave", "dave-earlier"})
        InstallCert("MY", pki().Get(name), true);
    LoadWith({});
    std::string composed = ComposedMessage("To: bob@example.com\r\n");
    composed.replace(0, composed.find("\r\n"), "From: Dave <DAVE@example.com>");
    std::string out = Run(kSignCommand, composed);
    bool ok = false;
    EXPECT_EQ(Verify(out, &ok), composed);
    EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"署名者\\n" + pki().Get("dave").subject)});
}
