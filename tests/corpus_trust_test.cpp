// Signed mail from other clients, whose chains other tools verify up to a
// known root: with that root in "Root", the report names it.
#include <dirent.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "mime/base64.h"
#include "support/cert_fixture.h"
#include "support/smime_samples.h"

namespace {

const std::string kCorpus = std::string(SHARED_DIR) + "/corpus/";

struct Signed {
    std::string message;  // corpus path of the message (or of a DER signed-data)
    std::string root;     // corpus path of the root certificate, PEM or DER
};

// Thunderbird's signed (not encrypted, not broken) messages from Alice and Dave.
void AddThunderbirdMessages(std::vector<Signed>* cases)
{
    const std::string dir = "thunderbird-comm-central/";
    std::vector<std::string> names;
    if (DIR* d = opendir((kCorpus + dir).c_str())) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            bool wanted = name.rfind("alice.", 0) == 0 && name.size() > 4 &&
                          name.compare(name.size() - 4, 4, ".eml") == 0;
            for (const char* excluded : {".env", ".bad", "mismatch"})
                wanted = wanted && name.find(excluded) == std::string::npos;
            if (wanted)
                names.push_back(name);
        }
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        cases->push_back({dir + name, dir + "TestCA.pem"});
}

std::vector<Signed> Cases()
{
    std::vector<Signed> cases = {
        {"bouncycastle-bc-java/3nnn_smime.eml", "mimekit/StartComCertificationAuthority.crt"},
        {"mimekit/thunderbird-signed.txt", "mimekit/StartComCertificationAuthority.crt"},
        {"bc-test-data-rfc4134/4.8.eml", "bc-test-data-rfc4134/CarlDSSSelf.cer"},
        {"bc-test-data-rfc4134/4.9.eml", "bc-test-data-rfc4134/CarlDSSSelf.cer"},
        {"bc-test-data-rfc4134/4.1.bin", "bc-test-data-rfc4134/CarlDSSSelf.cer"},
        {"bc-test-data-rfc4134/4.2.bin", "bc-test-data-rfc4134/CarlRSASelf.cer"},
        {"bc-test-data-rfc4134/4.4.bin", "bc-test-data-rfc4134/CarlDSSSelf.cer"},
        {"bc-test-data-rfc4134/4.5.bin", "bc-test-data-rfc4134/CarlRSASelf.cer"},
        {"bc-test-data-rfc4134/4.7.bin", "bc-test-data-rfc4134/CarlDSSSelf.cer"},
        {"bc-test-data-rfc4134/4.10.bin", "bc-test-data-rfc4134/CarlDSSSelf.cer"},
    };
    for (const char* name : {"validMail", "extKeyUsage", "keyUsage", "longValidity", "noEmail", "revoked",
                             "shortKey"})
        cases.push_back({std::string("bouncycastle-bc-java/validator.") + name + ".eml",
                         "bouncycastle-bc-java/validator.root.crt"});
    AddThunderbirdMessages(&cases);
    return cases;
}

// A DER signed-data object as the body of an opaque S/MIME message.
std::string OpaqueMessage(const std::string& der)
{
    DWORD length = 0;
    char* base64 = Base64Encode((const BYTE*)der.data(), (DWORD)der.size(), &length);
    std::string body = base64 != NULL ? std::string(base64, length) : "";
    free(base64);
    return std::string(kOuterHeaders) +
           "Content-Type: application/pkcs7-mime; smime-type=signed-data; name=\"smime.p7m\"\r\n"
           "Content-Transfer-Encoding: base64\r\n\r\n" + body + "\r\n";
}

std::string CrLf(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

// The root's subject as the report writes it (Shift-JIS), after putting the
// root into "Root".
std::string InstallRoot(const TempDir& dir, const std::string& file)
{
    std::string der = dir.File("root.der");
    bool pem = ReadFile(file).find("-----BEGIN") != std::string::npos;
    EXPECT_TRUE(RunOpenssl("x509 -inform " + std::string(pem ? "PEM" : "DER") + " -in " + file +
                           " -outform DER -out " + der));
    TestCert root;
    root.name = file;
    root.certDer = der;
    InstallCert("Root", root);
    PCCERT_CONTEXT cert = LoadCert(der);
    char subject[1024] = "";
    if (cert != NULL) {
        CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, subject, sizeof subject);
        CertFreeCertificateContext(cert);
    }
    return subject;
}

class CorpusTrustTest : public PluginFixture {};

}  // namespace

TEST_F(CorpusTrustTest, ReportsNameTheRootOfEveryChainOthersVerify)
{
    if (ReadFile(kCorpus + "README.md").empty())
        GTEST_SKIP() << "no message corpus at " << kCorpus;
    Load();
    for (const Signed& c : Cases()) {
        SCOPED_TRACE(c.message);
        TempDir stores;
        setenv("XDG_DATA_HOME", stores.path().c_str(), 1);
        std::string root = InstallRoot(stores, kCorpus + c.root);
        std::string message = ReadFile(kCorpus + c.message);
        if (c.message.compare(c.message.size() - 4, 4, ".bin") == 0)
            message = OpaqueMessage(message);
        else if (message.find('\r') == std::string::npos)
            message = CrLf(message);  // as a mail client holds a message saved with bare line feeds

        Host().hasMessage = true;
        Host().message = message;
        BoxRecorder recorder;
        ASSERT_TRUE(RunMenuCommand(plugin_, MENU_TYPE_MAIN, "S/MIMEメッセージの復号と検証", kMainWindow));
        std::string report = recorder.boxes().empty() ? "" : recorder.boxes().back().text;
        EXPECT_NE(report.find("OOOOO 署名者を認証しているCA: [" + root + "]\n"), std::string::npos)
            << Utf8(report);
        EXPECT_EQ(report.find("信頼できる証明書の発行者が見つかりません"), std::string::npos) << Utf8(report);
    }
}
