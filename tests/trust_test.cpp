// Checking a signer's certificate against the "Root" store and filing it in "CA".
#include <string.h>

#include "certs/cert_select.h"
#include "certs/trust.h"
#include "support/cert_fixture.h"

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
const WORD kAllTrustBits = SR_SIGNER_CURRENT | SR_ISSUER_TRUSTED | SR_ISSUER_CURRENT;

const TestCert& Pki(const char* name)
{
    return TestPki::Instance().Get(name);
}

class TrustTest : public CertStoreFixture {
protected:
    void SetUp() override
    {
        CertStoreFixture::SetUp();
        result_ = static_cast<SmimeResult*>(calloc(1, sizeof(SmimeResult)));
    }
    void TearDown() override { free(result_); }

    // Runs the check on a certificate file with a fresh record.
    int Check(const TestCert& cert, int (*check)(PCCERT_CONTEXT, SmimeResult*) = CheckSignerTrust)
    {
        memset(result_, 0, sizeof(SmimeResult));
        PCCERT_CONTEXT context = LoadCert(cert.certDer);
        EXPECT_NE(context, nullptr) << cert.name;
        if (context == NULL)
            return -1;
        int trusted = check(context, result_);
        CertFreeCertificateContext(context);
        return trusted;
    }

    // A second root with the same name as "root" but its own key, and a
    // certificate issued by it.
    void MakeTwinRoot(TestCert* twinRoot, TestCert* twin)
    {
        const std::string d = dir_.path() + "/";
        twinRoot->name = "twin-root";
        twinRoot->keyPem = d + "twin-root.key";
        twinRoot->certPem = d + "twin-root.pem";
        twinRoot->certDer = d + "twin-root.der";
        twin->name = "twin";
        twin->keyPem = d + "twin.key";
        twin->certPem = d + "twin.pem";
        twin->certDer = d + "twin.der";
        twin->email = "twin@example.com";
        ASSERT_TRUE(RunOpenssl("genrsa -out " + twinRoot->keyPem + " 2048"));
        // Re-signing the real root keeps its name bytes exactly and replaces its key.
        ASSERT_TRUE(RunOpenssl("x509 -in " + Pki("root").certPem + " -signkey " + twinRoot->keyPem +
                               " -days 30 -out " + twinRoot->certPem));
        ASSERT_TRUE(RunOpenssl("req -new -newkey rsa:2048 -nodes -keyout " + twin->keyPem +
                               " -subj /CN=twin/emailAddress=twin@example.com -out " + d + "twin.csr"));
        ASSERT_TRUE(RunOpenssl("x509 -req -in " + d + "twin.csr -CA " + twinRoot->certPem + " -CAkey " +
                               twinRoot->keyPem + " -set_serial 4242 -days 30 -out " + twin->certPem));
        ASSERT_TRUE(RunOpenssl("x509 -in " + twinRoot->certPem + " -outform DER -out " + twinRoot->certDer));
        ASSERT_TRUE(RunOpenssl("x509 -in " + twin->certPem + " -outform DER -out " + twin->certDer));
    }

    SmimeResult* result_ = nullptr;
};

}  // namespace

TEST_F(TrustTest, CurrentCertificateOfATrustedRoot)
{
    InstallCert("Root", Pki("root"));
    PCCERT_CONTEXT alice = LoadCert(Pki("alice").certDer);
    ASSERT_NE(alice, nullptr);
    result_->flags = SR_SIGNATURE_VALID | SR_SIGNED;
    strcpy(result_->hashAlgName, "SHA-1");
    strcpy(result_->errorText, "kept");

    EXPECT_EQ(CheckSignerTrust(alice, result_), 1);
    CertFreeCertificateContext(alice);

    EXPECT_EQ(result_->flags, SR_SIGNATURE_VALID | SR_SIGNED | kAllTrustBits);
    EXPECT_STREQ(result_->signerName, Sjis(Pki("alice").subject).c_str());
    EXPECT_STREQ(result_->issuerName, Sjis(Pki("root").subject).c_str());
    EXPECT_STREQ(result_->hashAlgName, "SHA-1");
    EXPECT_STREQ(result_->errorText, "kept");
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(TrustTest, OutOfDateSignersLoseOnlyTheirOwnBit)
{
    InstallCert("Root", Pki("root"));
    for (const char* name : {"expired", "future"}) {
        EXPECT_EQ(Check(Pki(name)), 1) << name;
        EXPECT_EQ(result_->flags, SR_ISSUER_TRUSTED | SR_ISSUER_CURRENT) << name;
        EXPECT_STREQ(result_->signerName, Sjis(Pki(name).subject).c_str());
        EXPECT_STREQ(result_->issuerName, Sjis(Pki("root").subject).c_str());
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(TrustTest, IntermediatesInTheUsersStoresCompleteTheChain)
{
    InstallCert("Root", Pki("root"));
    InstallCert("CA", Pki("intermediate"));
    InstallCert("MY", Pki("old-intermediate"));
    EXPECT_EQ(Check(Pki("inter-user")), 1);
    EXPECT_EQ(result_->flags, kAllTrustBits);
    EXPECT_STREQ(result_->issuerName, Sjis(Pki("root").subject).c_str());
    // An expired intermediate still leads to the root; only the issuers' bit tells.
    EXPECT_EQ(Check(Pki("old-inter-user")), 1);
    EXPECT_EQ(result_->flags, SR_SIGNER_CURRENT | SR_ISSUER_TRUSTED);
    EXPECT_STREQ(result_->issuerName, Sjis(Pki("root").subject).c_str());
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(TrustTest, NoChainToARootLeavesTheIssuerEmpty)
{
    InstallCert("Root", Pki("root"));
    InstallCert("CA", Pki("stranger-ca"));
    // No intermediate anywhere; a CA that is not a root; a root named but not
    // the signer; a self-signed certificate that is not in "Root".
    for (const char* name : {"inter-user", "stranger", "forged", "selfsigned"}) {
        EXPECT_EQ(Check(Pki(name)), 0) << name;
        EXPECT_EQ(result_->flags, SR_SIGNER_CURRENT) << name;
        EXPECT_STREQ(result_->signerName, Sjis(Pki(name).subject).c_str());
        EXPECT_STREQ(result_->issuerName, "") << name;
    }
    EXPECT_EQ(CountCerts("CA"), 1);
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(TrustTest, ASelfSignedCertificateInRootIsItsOwnIssuer)
{
    InstallCert("Root", Pki("selfsigned"));
    EXPECT_EQ(Check(Pki("selfsigned")), 1);
    EXPECT_EQ(result_->flags, kAllTrustBits);
    EXPECT_STREQ(result_->issuerName, Sjis(Pki("selfsigned").subject).c_str());
}

TEST_F(TrustTest, OnlyTheRootWhoseKeySignedCounts)
{
    TestCert twinRoot, twin;
    MakeTwinRoot(&twinRoot, &twin);
    // In either order one of the two same-named roots is met first and does
    // not fit; the search must go on to the other.
    for (bool realRootFirst : {true, false}) {
        SCOPED_TRACE(realRootFirst ? "real root first" : "twin root first");
        TempDir stores;
        setenv("XDG_DATA_HOME", stores.path().c_str(), 1);
        InstallCert("Root", realRootFirst ? Pki("root") : twinRoot);
        InstallCert("Root", realRootFirst ? twinRoot : Pki("root"));

        EXPECT_EQ(Check(Pki("alice")), 1);
        EXPECT_EQ(result_->flags, kAllTrustBits);
        EXPECT_EQ(Check(twin), 1);
        EXPECT_EQ(result_->flags, kAllTrustBits);
        EXPECT_STREQ(result_->issuerName, Sjis(Pki("root").subject).c_str());
        EXPECT_EQ(Check(Pki("forged")), 0);
        EXPECT_EQ(result_->flags, SR_SIGNER_CURRENT);
        EXPECT_STREQ(result_->issuerName, "");
    }
    EXPECT_TRUE(Boxes().empty());
}

TEST_F(TrustTest, FilesOnlyTrustedVerifiedSignersInCaOnce)
{
    InstallCert("Root", Pki("root"));
    InstallCert("CA", Pki("bob"));
    ASSERT_EQ(CountCerts("CA"), 1);

    EXPECT_EQ(Check(Pki("carol")), 1);  // a recipient's check files nothing
    auto CheckVerifiedSigner = [](PCCERT_CONTEXT signer, SmimeResult* result) {
        return ::CheckVerifiedSigner(signer, NULL, result);
    };
    EXPECT_EQ(CountCerts("CA"), 1);
    EXPECT_EQ(Check(Pki("alice"), CheckVerifiedSigner), 1);
    EXPECT_EQ(Check(Pki("alice"), CheckVerifiedSigner), 1);
    EXPECT_EQ(Check(Pki("bob"), CheckVerifiedSigner), 1);
    EXPECT_EQ(Check(Pki("planted-alice"), CheckVerifiedSigner), 0);
    EXPECT_EQ(Check(Pki("stranger"), CheckVerifiedSigner), 0);
    EXPECT_EQ(CountCerts("CA"), 2);
    EXPECT_TRUE(Boxes().empty());

    HCERTSTORE ca = CertOpenSystemStoreA(0, "CA");
    ASSERT_NE(ca, nullptr);
    PCCERT_CONTEXT filed = FindCertByEmail(ca, "alice@example.com", CERT_KEY_ENCIPHERMENT_KEY_USAGE);
    EXPECT_NE(filed, nullptr);
    CertFreeCertificateContext(filed);
    EXPECT_TRUE(CertCloseStore(ca, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST_F(TrustTest, ACertificateWithoutSubjectIsRefusedWithAMessage)
{
    InstallCert("Root", Pki("root"));
    TestCert nameless = MakeNamelessCert(dir_.path(), "nameless", "nameless@example.com");
    InstallCert("Root", nameless);

    EXPECT_EQ(Check(nameless), 0);
    EXPECT_EQ(result_->flags, 0);
    EXPECT_STREQ(result_->signerName, "");
    EXPECT_STREQ(result_->issuerName, "");
    EXPECT_EQ(Boxes(), std::vector<std::string>{MessageLine("証明書のサブジェクトが取得できません")});
    EXPECT_EQ(CountCerts("CA"), 0);
}

TEST_F(TrustTest, AStoreThatCannotBeOpenedIsReported)
{
    // A plain file where the stores' folder would be.
    std::string blocked = dir_.File("blocked");
    WriteFile(blocked, "not a folder");
    setenv("XDG_DATA_HOME", blocked.c_str(), 1);
    HCERTSTORE probe = CertOpenSystemStoreA(0, "Root");
    if (probe != NULL) {
        CertCloseStore(probe, 0);
        GTEST_SKIP() << "this platform opens stores even without a place to keep them";
    }
    EXPECT_EQ(Check(Pki("alice")), 0);
    EXPECT_EQ(result_->flags, 0);
    EXPECT_STREQ(result_->signerName, "");
    EXPECT_EQ(Boxes(), std::vector<std::string>{MessageLine("ルート証明書ストアを開けません")});
}

TEST_F(TrustTest, SignerCertificateComesOnlyFromTheMessageStore)
{
    InstallCert("MY", Pki("alice"));
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT alice = LoadCert(Pki("alice").certDer);
    PCCERT_CONTEXT bob = LoadCert(Pki("bob").certDer);
    ASSERT_NE(alice, nullptr);
    ASSERT_NE(bob, nullptr);

    EXPECT_EQ(GetSignerCertificate(NULL, kEncoding, bob->pCertInfo, store), nullptr);
    PCCERT_CONTEXT found = GetSignerCertificate((void*)1, kEncoding, alice->pCertInfo, store);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->cbCertEncoded, alice->cbCertEncoded);
    EXPECT_EQ(memcmp(found->pbCertEncoded, alice->pbCertEncoded, alice->cbCertEncoded), 0);
    CertFreeCertificateContext(found);
    EXPECT_EQ(GetSignerCertificate(NULL, kEncoding, alice->pCertInfo, NULL), nullptr);

    CertFreeCertificateContext(alice);
    CertFreeCertificateContext(bob);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST_F(TrustTest, VerificationNeedsTheSignerCertificateInTheMessage)
{
    const TestCert& alice = Pki("alice");
    InstallCert("MY", alice, true);  // present in the user's store, which must not help
    std::string in = dir_.File("content.txt");
    WriteFile(in, "Hello\r\n");
    std::string sign = "cms -sign -md sha1 -nodetach -in " + in + " -signer " + alice.certPem +
                       " -inkey " + alice.keyPem + " -outform DER -out ";
    ASSERT_TRUE(RunOpenssl(sign + dir_.File("with.der")));
    ASSERT_TRUE(RunOpenssl(sign + dir_.File("without.der") + " -nocerts"));

    CRYPT_VERIFY_MESSAGE_PARA para;
    memset(&para, 0, sizeof(para));
    para.cbSize = sizeof(para);
    para.dwMsgAndCertEncodingType = kEncoding;
    para.pfnGetSignerCertificate = GetSignerCertificate;

    std::string with = ReadFile(dir_.File("with.der"));
    PCCERT_CONTEXT signer = NULL;
    DWORD size = 0;
    EXPECT_TRUE(CryptVerifyMessageSignature(&para, 0, (const BYTE*)with.data(), (DWORD)with.size(), NULL,
                                            &size, &signer));
    ASSERT_NE(signer, nullptr);
    char email[SUBJECT_SIZE] = "";
    CertGetNameStringA(signer, CERT_NAME_EMAIL_TYPE, 0, NULL, email, sizeof(email));
    EXPECT_STREQ(email, "alice@example.com");
    CertFreeCertificateContext(signer);

    std::string without = ReadFile(dir_.File("without.der"));
    signer = NULL;
    size = 0;
    EXPECT_FALSE(CryptVerifyMessageSignature(&para, 0, (const BYTE*)without.data(), (DWORD)without.size(),
                                             NULL, &size, &signer));
    EXPECT_EQ(signer, nullptr);
}
