// Composing through zhost as the sender, then opening the result through
// zhost as the recipient: the two sides of the plug-in agree.
#include <filesystem>
#include <string>
#include <vector>

#include "outgoing_support.h"
#include "support/crypt_msg_helpers.h"

namespace {

// One person's certificate stores, filled through zhost's own certs command.
void InstallFiles(const std::string& dataHome, const std::string& store, const TestCert& cert, bool withKey)
{
    std::vector<std::string> argv = {ZHOST_PATH, "certs", "import", store, withKey ? cert.p12 : cert.certPem};
    if (withKey) {
        argv.push_back("--password");
        argv.push_back("test");
    }
    ProcessResult r = RunProcess(argv, {"XDG_DATA_HOME=" + dataHome});
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

class OutgoingRoundTripTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const TestPki& pki = TestPki::Instance();
        sender_ = dir_.File("alice");
        recipient_ = dir_.File("bob");
        InstallFiles(sender_, "MY", pki.Get("alice"), true);
        InstallFiles(sender_, "CA", pki.Get("bob"), false);
        InstallFiles(recipient_, "MY", pki.Get("bob"), true);
        InstallFiles(recipient_, "Root", pki.Get("root"), false);
        std::filesystem::create_directories(dir_.File("plugin"));
        plugin_ = dir_.File("plugin/libzsmime.so");
        std::filesystem::copy_file(ZSMIME_PLUGIN_PATH, plugin_);
    }

    void Settings(const std::string& lines) { WriteFile(dir_.File("plugin/libzsmime.ini"), "[Settings]\r\n" + lines); }

    // Runs zhost as one person; returns its transcript (standard error).
    std::string Zhost(const std::string& dataHome, const std::vector<std::string>& args, const std::string& out)
    {
        std::vector<std::string> argv = {ZHOST_PATH, "--plugin", plugin_};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.push_back("-o");
        argv.push_back(out);
        ProcessResult r = RunProcess(argv, {"XDG_DATA_HOME=" + dataHome});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.err;
    }

    TempDir dir_;
    std::string sender_, recipient_, plugin_;
};

// Other S/MIME implementations as Bob: the openssl tool, NSS (cmsutil) and
// GnuPG (gpgsm), each with Bob's key and the root as a trust anchor.
enum class Peer { OPENSSL, NSS, GNUPG };

class PeerReadBackTest : public OutgoingRoundTripTest {
protected:
    void SetUp() override
    {
        OutgoingRoundTripTest::SetUp();
        // A PKI made by the openssl tool, as these peers expect it (gpgsm refuses
        // the generated test root's key identifiers).
        std::string pki = dir_.File("peer-pki");
        std::filesystem::create_directories(pki);
        bob_.certPem = pki + "/bob.pem";
        bob_.keyPem = pki + "/bob.key";
        root_.certPem = pki + "/root.pem";
        ASSERT_TRUE(Shell("cd " + pki + " && openssl req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem"
                          " -days 2 -subj /CN=Peer-Root -addext basicConstraints=critical,CA:TRUE"
                          " -addext keyUsage=critical,keyCertSign"));
        for (const char* who : {"alice", "bob"}) {
            std::string name = who;
            ASSERT_TRUE(Shell("cd " + pki + " && openssl req -newkey rsa:2048 -nodes -keyout " + name + ".key -out " +
                              name + ".csr -subj /CN=" + name + "/emailAddress=" + name + "@example.com" +
                              " && printf 'keyUsage=digitalSignature,keyEncipherment\\nsubjectAltName=email:" + name +
                              "@example.com\\n' >" + name + ".ext && openssl x509 -req -in " + name +
                              ".csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 -extfile " + name +
                              ".ext -out " + name + ".pem && openssl pkcs12 -export -legacy -passout pass:test -inkey " +
                              name + ".key -in " + name + ".pem -out " + name + ".p12"));
        }
        sender_ = dir_.File("peer-alice");
        TestCert alice, bobPublic;
        alice.p12 = pki + "/alice.p12";
        bobPublic.certPem = bob_.certPem;
        InstallFiles(sender_, "MY", alice, true);
        InstallFiles(sender_, "CA", bobPublic, false);
        nss_ = "sql:" + dir_.File("nss");
        gnupg_ = dir_.File("gnupg");
        passFile_ = dir_.File("pass");
        WriteFile(passFile_, "test\n");
        const std::string legacyP12 = pki + "/bob.p12";  // gpgsm reads only the classic encryption
        if (Shell("command -v cmsutil")) {
            std::filesystem::create_directories(dir_.File("nss"));
            hasNss_ = Shell("certutil -N -d " + nss_ + " --empty-password") &&
                      Shell("pk12util -i " + legacyP12 + " -d " + nss_ + " -W test -K ''") &&
                      Shell("certutil -A -d " + nss_ + " -n root -t C,C,C -i " + root_.certPem);
            EXPECT_TRUE(hasNss_) << "NSS database";
        }
        if (Shell("command -v gpgsm")) {
            std::filesystem::create_directories(gnupg_);
            std::filesystem::permissions(gnupg_, std::filesystem::perms::owner_all);
            WriteFile(gnupg_ + "/gpgsm.conf", "disable-crl-checks\ndisable-policy-checks\n");
            WriteFile(gnupg_ + "/gpg-agent.conf", "allow-loopback-pinentry\n");
            // The trust list first: the agent reads it when it starts.
            hasGnupg_ = Shell("{ fp=$(openssl x509 -noout -fingerprint -sha1 -in " + root_.certPem +
                              " | cut -d= -f2) && echo \"$fp S relax\" >" + gnupg_ + "/trustlist.txt; }") &&
                        Shell(Gpgsm("--import " + root_.certPem)) &&
                        Shell(Gpgsm("--pinentry-mode loopback --passphrase-fd 0 --import " + legacyP12) +
                              " <" + passFile_);
            EXPECT_TRUE(hasGnupg_) << "GnuPG home";
        }
    }
    void TearDown() override
    {
        if (hasGnupg_)
            Shell("GNUPGHOME=" + gnupg_ + " gpgconf --kill gpg-agent");
    }

    std::string Gpgsm(const std::string& args) const { return "GNUPGHOME=" + gnupg_ + " gpgsm --batch " + args; }
    bool Has(Peer peer) const { return peer == Peer::OPENSSL || (peer == Peer::NSS ? hasNss_ : hasGnupg_); }

    // The first part of a clear-signed message: the bytes its signature covers.
    static std::string SignedPart(const std::string& message)
    {
        size_t at = message.find("boundary=\"");
        if (at == std::string::npos)
            return "";
        std::string boundary = message.substr(at + 10, message.find('"', at + 10) - at - 10);
        size_t start = message.find("--" + boundary + "\r\n");
        if (start == std::string::npos)
            return "";
        start += boundary.size() + 4;
        size_t end = message.find("\r\n--" + boundary, start);
        return end == std::string::npos ? "" : message.substr(start, end - start);
    }

    // One S/MIME layer as the peer opens it: the decrypted or signed content
    // (for a clear-signed message, the part its signature covers); empty
    // when the peer refuses it.
    std::string OpenLayer(Peer peer, const std::string& message)
    {
        std::string in = dir_.File("peer.eml"), layer = dir_.File("layer.der"), out = dir_.File("peer.out"),
                    content = dir_.File("content");
        WriteFile(in, message);
        std::filesystem::remove(out);
        if (!Shell("openssl cms -cmsout -in " + in + " -outform DER -out " + layer))
            return "";
        bool enveloped = message.find("smime-type=enveloped-data") != std::string::npos;
        bool detached = message.find("multipart/signed") != std::string::npos;
        std::string signedPart = detached ? SignedPart(message) : "";
        WriteFile(content, signedPart);
        std::string command;
        switch (peer) {
        case Peer::OPENSSL:
            command = enveloped ? "openssl cms -decrypt -binary -inform DER -recip " + bob_.certPem + " -inkey " +
                                      bob_.keyPem
                                : "openssl cms -verify -binary -inform DER -CAfile " + root_.certPem +
                                      (detached ? " -content " + content : "");
            command += " -in " + layer + " -out " + out;
            break;
        case Peer::NSS:
            command = "cmsutil -D -d " + nss_ + " -p '' -i " + layer + " -o " + out + (detached ? " -c " + content : "");
            break;
        case Peer::GNUPG:
            // gpgsm also tries the sender's entry, for which Bob has no key, and
            // then exits with 2 although it decrypted: the output decides.
            command = enveloped ? "{ " + Gpgsm("--pinentry-mode loopback --passphrase-fd 0 -o " + out + " --decrypt " +
                                             layer) + " <" + passFile_ + " || true; }"
                                : Gpgsm(detached ? "--verify " + layer + " " + content : "-o " + out + " --verify " + layer);
            break;
        }
        if (!Shell(command))
            return "";
        return detached ? signedPart : ReadFile(out);
    }

    TestCert bob_, root_;
    std::string nss_, gnupg_, passFile_;
    bool hasNss_ = false, hasGnupg_ = false;
};

}  // namespace

TEST_F(PeerReadBackTest, EveryNewAlgorithmIsReadBackByOtherImplementations)
{
    const std::string composed = ComposedMessage("To: Bob <bob@example.com>\r\n");
    WriteFile(dir_.File("composed.eml"), composed);
    struct Case {
        const char* settings;
        const char* command;
    } cases[] = {
        {"encAlg=AES(128bit)\r\n", "encrypt"},
        {"encAlg=AES(256bit)\r\n", "encrypt"},
        {"signHashOID=2.16.840.1.101.3.4.2.1\r\n", "sign"},
        {"signHashOID=2.16.840.1.101.3.4.2.2\r\ndetachedSig=YES\r\n", "sign"},
        {"signHashOID=2.16.840.1.101.3.4.2.3\r\n", "sign"},
        {"signHashOID=2.16.840.1.101.3.4.2.3\r\ndetachedSig=YES\r\n", "sign"},
        {"", "sign-encrypt"},  // the defaults: SHA-256 inside AES(256bit)
    };
    for (Peer peer : {Peer::OPENSSL, Peer::NSS, Peer::GNUPG}) {
        if (!Has(peer)) {
            ADD_FAILURE() << "peer " << (int)peer << " is not installed (scripts/install-deps.sh)";
            continue;
        }
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.command) + " " + c.settings + " peer " + std::to_string((int)peer));
            Settings(c.settings);
            Zhost(sender_, {c.command, dir_.File("composed.eml")}, dir_.File("sent.eml"));
            std::string sent = ReadFile(dir_.File("sent.eml"));
            std::string opened = OpenLayer(peer, sent);
            if (std::string(c.command) == "sign-encrypt")
                opened = OpenLayer(peer, opened);
            if (sent.find("multipart/signed") != std::string::npos)
                EXPECT_NE(opened.find("Hello Bob,\r\nthe figures are attached below."), std::string::npos) << opened;
            else
                EXPECT_EQ(opened, composed);
        }
    }
}

TEST_F(OutgoingRoundTripTest, RecipientOpensWhatTheSenderSignedAndEncrypted)
{
    const TestPki& pki = TestPki::Instance();
    const std::string composed = ComposedMessage("To: Bob <bob@example.com>\r\n");
    WriteFile(dir_.File("composed.eml"), composed);
    struct Case {
        const char* settings;
        const char* command;
        const char* algorithm;  // in the recipient's report, or null
        const char* hash;
    } cases[] = {
        {"encAlg=3DES\r\n", "encrypt", u8"暗号化アルゴリズム :[3DES]", nullptr},
        {"encAlg=RC2(40bit)\r\n", "encrypt", u8"暗号化アルゴリズム :[RC2 (40bit)]", nullptr},
        {"encAlg=RC2(128bit)\r\n", "encrypt", u8"暗号化アルゴリズム :[RC2 (128bit)]", nullptr},
        {"encAlg=AES(128bit)\r\n", "encrypt", u8"暗号化アルゴリズム :[AES (128bit)]", nullptr},
        {"detachedSig=YES\r\nsignHashOID=1.3.14.3.2.26\r\n", "sign", nullptr, u8"署名時のハッシュアルゴリズム :[SHA-1]"},
        {"signHashOID=1.2.840.113549.2.5\r\n", "sign", nullptr, u8"署名時のハッシュアルゴリズム :[MD5]"},
        {"detachedSig=YES\r\nsignHashOID=2.16.840.1.101.3.4.2.3\r\n", "sign", nullptr,
         u8"署名時のハッシュアルゴリズム :[SHA-512]"},
        {"detachedSig=YES\r\nencAlg=DES\r\n", "sign-encrypt", u8"暗号化アルゴリズム :[DES]",
         u8"署名時のハッシュアルゴリズム :[SHA-256]"},
        {"", "sign-encrypt", u8"暗号化アルゴリズム :[AES (256bit)]", u8"署名時のハッシュアルゴリズム :[SHA-256]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.settings);
        Settings(c.settings);
        Zhost(sender_, {c.command, dir_.File("composed.eml")}, dir_.File("sent.eml"));
        std::string sent = ReadFile(dir_.File("sent.eml"));
        ASSERT_NE(sent, composed);
        std::string report = Zhost(recipient_, {"verify", dir_.File("sent.eml")}, dir_.File("opened.eml"));
        std::string opened = ReadFile(dir_.File("opened.eml"));
        ASSERT_NE(report.find("box: "), std::string::npos) << "the recipient saw no report";
        EXPECT_NE(opened.find("Hello Bob,\r\nthe figures are attached below."), std::string::npos) << opened;
        EXPECT_NE(opened.find("Subject: quarterly figures"), std::string::npos);
        EXPECT_EQ(opened.find("smime.p7"), std::string::npos) << "a layer is left: " << opened;
        if (c.algorithm != nullptr) {
            EXPECT_NE(report.find(c.algorithm), std::string::npos) << report;
        }
        if (c.hash != nullptr) {
            EXPECT_NE(report.find(c.hash), std::string::npos) << report;
            EXPECT_NE(report.find(u8"署名者: [" + pki.Get("alice").subject + "]"), std::string::npos) << report;
            EXPECT_NE(report.find(u8"OOOOO メッセージは改ざんされていません"), std::string::npos);
            EXPECT_NE(report.find(u8"OOOOO 証明書は有効です"), std::string::npos);
            EXPECT_NE(report.find(u8"OOOOO 署名者を認証しているCA: [" + pki.Get("root").subject + "]"),
                      std::string::npos)
                << report;
        }
    }
}

// Mail as clients and lists really carry it: a "Last, First" recipient, line
// ends turned into bare LF on the way, delimiters with transport padding and a
// mailing-list footer after the signed message.
TEST_F(OutgoingRoundTripTest, ClientWrittenMailStillOpens)
{
    const std::string composed = ComposedMessage("To: \"Builder, Bob\" <bob@example.com> (site office), undisclosed:;\r\n");
    WriteFile(dir_.File("composed.eml"), composed);
    Settings("encAlg=3DES\r\n");
    Zhost(sender_, {"encrypt", dir_.File("composed.eml")}, dir_.File("sent.eml"));
    std::string sent = ReadFile(dir_.File("sent.eml"));
    ASSERT_NE(sent.find("smime.p7m"), std::string::npos) << "not encrypted: " << sent;
    std::string bareLf;
    for (char c : sent)
        if (c != '\r')
            bareLf += c;
    WriteFile(dir_.File("sent-lf.eml"), bareLf);
    std::string report = Zhost(recipient_, {"verify", dir_.File("sent-lf.eml")}, dir_.File("opened.eml"));
    EXPECT_NE(report.find(u8"暗号化アルゴリズム :[3DES]"), std::string::npos) << report;
    EXPECT_NE(ReadFile(dir_.File("opened.eml")).find("Hello Bob,\r\nthe figures are attached below."),
              std::string::npos);

    Settings("detachedSig=YES\r\n");
    Zhost(sender_, {"sign", dir_.File("composed.eml")}, dir_.File("signed.eml"));
    std::string signedText = ReadFile(dir_.File("signed.eml"));
    size_t at = signedText.find("boundary=\"");
    ASSERT_NE(at, std::string::npos) << signedText;
    std::string boundary = signedText.substr(at + 10, signedText.find('"', at + 10) - at - 10);
    std::string padded;
    for (size_t line = 0; line < signedText.size();) {
        size_t end = signedText.find("\r\n", line);
        end = end == std::string::npos ? signedText.size() : end;
        std::string text = signedText.substr(line, end - line);
        if (text == "--" + boundary)
            text += " ";
        else if (text == "--" + boundary + "--")
            text += "\t \r\n_______________________________________________\r\nlist@example.com";
        padded += text + (end < signedText.size() ? "\r\n" : "");
        line = end + 2;
    }
    WriteFile(dir_.File("padded.eml"), padded);
    Settings("debug=YES\r\n");
    report = Zhost(recipient_, {"verify", dir_.File("padded.eml")}, dir_.File("opened.eml"));
    EXPECT_EQ(report.find("box: [Error]"), std::string::npos) << "Base64 complaints: " << report;
    EXPECT_NE(report.find(u8"OOOOO メッセージは改ざんされていません"), std::string::npos) << report;
}
