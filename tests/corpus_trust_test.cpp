// Real mail signed under an intermediate authority that only the message
// carries: with nothing but the root in "Root", the report names the root
// and the signer is filed in "CA" with the intermediate.
#include <stdlib.h>

#include <string>

#include "support/cert_fixture.h"
#include "support/smime_samples.h"

namespace {

const std::string kCorpus = std::string(SHARED_DIR) + "/corpus/";

// The root's subject as the report writes it, after putting the root into "Root".
std::string InstallPemRoot(const TempDir& dir, const std::string& pemFile)
{
    TestCert root;
    root.name = pemFile;
    root.certDer = dir.File("root.der");
    EXPECT_TRUE(RunOpenssl("x509 -in " + pemFile + " -outform DER -out " + root.certDer));
    InstallCert("Root", root);
    PCCERT_CONTEXT cert = LoadCert(root.certDer);
    char subject[1024] = "";
    if (cert != NULL) {
        CertNameToStrA(X509_ASN_ENCODING, &cert->pCertInfo->Subject, CERT_X500_NAME_STR, subject, sizeof subject);
        CertFreeCertificateContext(cert);
    }
    return subject;
}

class CorpusTrustTest : public PluginFixture {};

}  // namespace

TEST_F(CorpusTrustTest, TheIntermediateComesWithTheMessage)
{
    if (ReadFile(kCorpus + "README.md").empty())
        GTEST_SKIP() << "no message corpus at " << kCorpus;
    Load();
    // Outlook for Mac 2015 and Thunderbird 24, both under StartCom's client intermediate.
    for (const char* file : {"bouncycastle-bc-java/3nnn_smime.eml", "mimekit/thunderbird-signed.txt"}) {
        SCOPED_TRACE(file);
        TempDir stores;
        setenv("XDG_DATA_HOME", stores.path().c_str(), 1);
        std::string root = InstallPemRoot(stores, kCorpus + "mimekit/StartComCertificationAuthority.crt");
        Host().hasMessage = true;
        Host().message = ReadFile(kCorpus + file);
        BoxRecorder recorder;
        ASSERT_TRUE(RunMenuCommand(plugin_, MENU_TYPE_MAIN, "S/MIMEメッセージの復号と検証", kMainWindow));
        std::string report = recorder.boxes().empty() ? "" : recorder.boxes().back().text;
        EXPECT_NE(report.find("OOOOO 署名者を認証しているCA: [" + root + "]\n"), std::string::npos)
            << Utf8(report);
        EXPECT_EQ(CountCerts("CA"), 2);
    }
}
