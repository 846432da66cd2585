// Composing through zhost as the sender, then opening the result through
// zhost as the recipient: the two sides of the plug-in agree.
#include <filesystem>
#include <string>
#include <vector>

#include "outgoing_support.h"

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

}  // namespace

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
        {"detachedSig=YES\r\n", "sign", nullptr, u8"署名時のハッシュアルゴリズム :[SHA-1]"},
        {"signHashOID=1.2.840.113549.2.5\r\n", "sign", nullptr, u8"署名時のハッシュアルゴリズム :[MD5]"},
        {"detachedSig=YES\r\nencAlg=DES\r\n", "sign-encrypt", u8"暗号化アルゴリズム :[DES]",
         u8"署名時のハッシュアルゴリズム :[SHA-1]"},
        {"encAlg=3DES\r\n", "sign-encrypt", u8"暗号化アルゴリズム :[3DES]", u8"署名時のハッシュアルゴリズム :[SHA-1]"},
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
