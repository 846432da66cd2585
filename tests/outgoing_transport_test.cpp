// Outgoing mail that passes relays intact and shows nothing it should not:
// whole recipient headers, no Bcc in signed content, relay-safe clear-signing.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "mime/base64.h"
#include "outgoing_support.h"

namespace {

const char kSha256[] = "signHashOID=2.16.840.1.101.3.4.2.1";

std::string Box(const std::string& utf8)
{
    return u8"box: [メッセージ] " + utf8;
}

size_t Count(const std::string& text, const std::string& needle)
{
    size_t count = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++count;
    return count;
}

std::string HeaderBlock(const std::string& message)
{
    return message.substr(0, message.find("\r\n\r\n") + 2);
}

// Where a 7-bit-only transport would refuse the message: an 8-bit byte or a
// line over 998 characters. Empty when it passes.
std::string SevenBitRefusal(const std::string& message)
{
    size_t lineStart = 0;
    for (size_t i = 0; i < message.size(); ++i) {
        if ((unsigned char)message[i] >= 0x80)
            return "8-bit byte at " + std::to_string(i);
        if (message[i] == '\n')
            lineStart = i + 1;
        else if (i - lineStart >= 998)
            return "line over 998 at " + std::to_string(lineStart);
    }
    return std::string();
}

class OutgoingTransportTest : public OutgoingTest {
protected:
    // The message after a relay that strips blanks before line ends.
    std::string ThroughStrippingRelay(const std::string& message)
    {
        std::string path = dir_.File("relay.eml");
        WriteFile(path, message);
        ProcessResult r = RunProcess({"/usr/bin/sed", "s/[ \\t]*\\r$/\\r/", path});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }

    // Verifies a clear-signed message with openssl smime, NSS cmsutil and
    // gpgsm, each trusting only the test root.
    void ExpectVerifiesEverywhere(const std::string& message)
    {
        std::string in = dir_.File("signed.eml");
        WriteFile(in, message);
        ProcessResult r = Openssl({"smime", "-verify", "-in", in, "-CAfile", pki().Get("root").certPem, "-out",
                                   dir_.File("smime-out")});
        EXPECT_EQ(r.exitCode, 0) << "openssl smime: " << r.err;

        // The detached content and the DER signature, as the other two take them.
        size_t named = message.find("boundary=\"");
        ASSERT_NE(named, std::string::npos);
        std::string boundary = "\r\n--" + message.substr(named + 10, message.find('"', named + 10) - named - 10);
        size_t start = message.find(boundary + "\r\n") + boundary.size() + 2;
        size_t end = message.find(boundary, start);
        size_t signature = message.find("\r\n\r\n", end);
        ASSERT_NE(signature, std::string::npos);
        signature += 4;
        std::string base64 = message.substr(signature, message.find(boundary, signature) - signature);
        DWORD count = 0;
        BYTE* der = Base64Decode(base64.c_str(), &count);
        ASSERT_NE(der, nullptr);
        std::string content = dir_.File("content"), sig = dir_.File("sig.der");
        WriteFile(content, message.substr(start, end - start));
        WriteFile(sig, std::string((char*)der, count));
        free(der);

        // A new database each time: certutil -N on an existing one asks for its password.
        std::string nssDir = dir_.File("nss" + std::to_string(++verifications_));
        mkdir(nssDir.c_str(), 0700);
        std::string nss = "sql:" + nssDir;
        r = RunProcess({"/usr/bin/certutil", "-N", "-d", nss, "--empty-password"});
        ASSERT_EQ(r.exitCode, 0) << "certutil (scripts/install-deps.sh installs libnss3-tools): " << r.err;
        RunProcess({"/usr/bin/certutil", "-A", "-d", nss, "-n", "root", "-t", "C,C,C", "-i", pki().Get("root").certPem});
        r = RunProcess({"/usr/bin/cmsutil", "-D", "-d", nss, "-i", sig, "-c", content, "-n"});
        EXPECT_EQ(r.exitCode, 0) << "cmsutil: " << r.out << r.err;

        // A short home: gpg-agent's socket path must stay within its limit.
        char home[] = "/tmp/zsmime-gpgsm-XXXXXX";
        ASSERT_NE(mkdtemp(home), nullptr);
        std::vector<std::string> env = {std::string("GNUPGHOME=") + home};
        ProcessResult fingerprint = Openssl({"x509", "-in", pki().Get("root").certPem, "-noout", "-fingerprint", "-sha1"});
        WriteFile(std::string(home) + "/trustlist.txt", fingerprint.out.substr(fingerprint.out.find('=') + 1, 59) + " S relax\n");
        r = RunProcess({"/usr/bin/gpgsm", "--batch", "--import", pki().Get("root").certPem}, env);
        EXPECT_EQ(r.exitCode, 0) << "gpgsm (scripts/install-deps.sh installs gpgsm): " << r.err;
        r = RunProcess({"/usr/bin/gpgsm", "--batch", "--disable-crl-checks", "--disable-dirmngr", "--status-fd", "1",
                        "--verify", sig, content},
                       env);
        EXPECT_NE(r.out.find("[GNUPG:] GOODSIG"), std::string::npos) << "gpgsm: " << r.out << r.err;
        EXPECT_NE(r.out.find("[GNUPG:] TRUST_FULLY"), std::string::npos) << "gpgsm: " << r.out << r.err;
        RunProcess({"/usr/bin/gpgconf", "--kill", "all"}, env);
        std::filesystem::remove_all(home);
    }

    int verifications_ = 0;
};

}  // namespace

TEST_F(OutgoingTransportTest, ClearSignedMailVerifiesEverywhereAfterRelays)
{
    InstallPki();
    LoadWith({"detachedSig=YES", kSha256});
    // Shift-JIS text with a trailing blank, a 2,000-byte line and a "From "
    // line, and an 8-bit attachment.
    const std::string composed = Sjis(
        "From: Alice <alice@example.com>\r\n"
        "To: bob@example.com\r\n"
        "Subject: figures\r\n"
        "MIME-Version: 1.0\r\n"
        "Content-Type: multipart/mixed; boundary=\"mix\"\r\n"
        "\r\n"
        "--mix\r\n"
        "Content-Type: text/plain; charset=Shift_JIS\r\n"
        "Content-Transfer-Encoding: 8bit\r\n"
        "\r\n"
        u8"こんにちは、ボブさん \r\n" +
        std::string(2000, 'x') +
        "\r\n"
        "From here on, figures.\r\n"
        "--mix\r\n"
        "Content-Type: application/octet-stream\r\n"
        "\r\n"
        "\x01\x7f binary \r\n"
        "--mix--\r\n");
    std::string out = Run(kSignCommand, composed);
    ASSERT_NE(out.find("multipart/signed"), std::string::npos) << out;
    EXPECT_EQ(SevenBitRefusal(out), "");
    EXPECT_EQ(Count(out, "Content-Transfer-Encoding: quoted-printable\r\n"), 1u);
    EXPECT_EQ(Count(out, "Content-Transfer-Encoding: base64\r\n"), 2u) << "the attachment and the signature";
    ExpectVerifiesEverywhere(out);
    ExpectVerifiesEverywhere(ThroughStrippingRelay(out));
}

TEST_F(OutgoingTransportTest, RecipientHeadersAreReadWholeOrRefused)
{
    InstallPki();
    LoadWith({"encAlg=3DES"});
    // A To of 1,042 bytes with a long display name before both recipients.
    std::string to = "To: \"" + std::string(997, 'N') + "\" <bob@example.com>, carol@example.com\r\n";
    ASSERT_EQ(to.size(), 1042u);
    std::string composed = ComposedMessage(to);
    std::string out = Run(kEncryptCommand, composed);
    bool ok = false;
    EXPECT_EQ(Decrypt(out, pki().Get("bob"), &ok), composed);
    EXPECT_EQ(Decrypt(out, pki().Get("carol"), &ok), composed);

    // A value that fills even the large buffer stops everything.
    std::string huge = std::string(70000, 'x') + "@example.com";
    for (const char* header : {"Cc", "Bcc"}) {
        SCOPED_TRACE(header);
        composed = ComposedMessage("To: bob@example.com\r\n" + std::string(header) + ": " + huge + "\r\n");
        out = Run(kEncryptCommand, composed);
        EXPECT_EQ(out, Stamped(composed, out));
        EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"宛先ヘッダーが長すぎます")});
        EXPECT_EQ(Run(kSignEncryptCommand, composed), composed);
    }
    // The same for a From that chooses the signer or the sender's certificate.
    composed = ComposedMessage("To: bob@example.com\r\n");
    composed.replace(0, composed.find("\r\n"), "From: " + huge);
    for (const char* command : {kEncryptCommand, kSignCommand}) {
        out = Run(command, composed);
        EXPECT_EQ(out, Stamped(composed, out));
        EXPECT_EQ(Boxes(), std::vector<std::string>{Box(u8"差出人ヘッダーが長すぎます")});
    }
}

TEST_F(OutgoingTransportTest, OpaqueSignatureLeavesBccOutAndTheComposerKeepsIt)
{
    InstallPki();
    LoadWith({});
    const std::string composed = ComposedMessage("To: bob@example.com\r\nBcc: carol@example.com,\r\n dave@example.com\r\n");
    std::string out = Run(kSignCommand, composed);
    EXPECT_NE(HeaderBlock(out).find("Bcc: carol@example.com,\r\n dave@example.com\r\n"), std::string::npos) << out;
    bool ok = false;
    EXPECT_EQ(Verify(out, &ok), ComposedMessage("To: bob@example.com\r\n"));
}

TEST_F(OutgoingTransportTest, ResultsCarryOneOfEachContentHeaderAndAMimeVersion)
{
    InstallPki();
    // No MIME-Version; Content-Type and Content-Transfer-Encoding twice.
    const std::string composed =
        "From: alice@example.com\r\n"
        "To: bob@example.com\r\n"
        "Content-Type: text/html\r\n"
        "Content-Transfer-Encoding: 8bit\r\n"
        "Content-Type: text/plain\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "\r\n"
        "body\r\n";
    for (auto run : std::vector<std::pair<const char*, const char*>>{
             {kEncryptCommand, "detachedSig=NO"}, {kSignCommand, "detachedSig=NO"}, {kSignCommand, "detachedSig=YES"}}) {
        SCOPED_TRACE(run.second);
        LoadWith({run.second, "encAlg=3DES"});
        std::string out = Run(run.first, composed);
        std::string headers = HeaderBlock(out);
        EXPECT_EQ(Count(headers, "Content-Type:"), 1u) << headers;
        EXPECT_EQ(Count(headers, "Content-Transfer-Encoding:"), 1u) << headers;
        EXPECT_EQ(Count(headers, "MIME-Version: 1.0\r\n"), 1u) << headers;
        if (strcmp(run.second, "detachedSig=YES") == 0) {
            EXPECT_NE(out.find("\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 7bit\r\n\r\nbody\r\n"),
                      std::string::npos)
                << "the first part takes the last of each, as the parser does: " << out;
        }
    }
}
