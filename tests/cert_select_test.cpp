// Choosing certificates by e-mail name or subject string and key usage.
#include <string.h>

#include "certs/cert_select.h"
#include "support/cert_fixture.h"

namespace {

const BYTE kSign = CERT_DIGITAL_SIGNATURE_KEY_USAGE;
const BYTE kEncrypt = CERT_KEY_ENCIPHERMENT_KEY_USAGE;

const TestCert& Pki(const char* name)
{
    return TestPki::Instance().Get(name);
}

std::string SubjectOf(PCCERT_CONTEXT cert)
{
    char subject[SUBJECT_SIZE];
    GetSubjectString(cert, subject);
    return subject;
}

class CertSelectTest : public CertStoreFixture {
protected:
    void SetUp() override
    {
        CertStoreFixture::SetUp();
        for (const char* name : {"alice", "signer", "encipher", "nousage", "dup-sign", "dup-enc",
                                 "expired", "subject-email", "san-email"})
            InstallCert("MY", Pki(name), true);
        store_ = CertOpenSystemStoreA(0, "MY");
        ASSERT_NE(store_, nullptr);
    }
    void TearDown() override
    {
        if (store_ != NULL) {
            EXPECT_TRUE(CertCloseStore(store_, CERT_CLOSE_STORE_CHECK_FLAG));
        }
    }

    // The subject of what the e-mail search finds, "" for none.
    std::string FoundByEmail(const char* address, BYTE mask)
    {
        PCCERT_CONTEXT cert = FindCertByEmail(store_, address, mask);
        if (cert == NULL)
            return "";
        std::string subject = SubjectOf(cert);
        CertFreeCertificateContext(cert);
        return subject;
    }

    HCERTSTORE store_ = NULL;
};

}  // namespace

TEST(CertKeyUsageTest, PassesWhenTheMaskSharesABitOrTheExtensionIsMissing)
{
    struct Case {
        const char* name;
        bool forSigning;
        bool forEncryption;
    } cases[] = {
        {"signer", true, false},
        {"encipher", false, true},
        {"alice", true, true},
        {"nousage", true, true},
        {"root", false, false},  // keyCertSign only
    };
    for (const Case& c : cases) {
        PCCERT_CONTEXT cert = LoadCert(Pki(c.name).certDer);
        ASSERT_NE(cert, nullptr) << c.name;
        EXPECT_EQ(CertHasKeyUsage(kSign, cert), c.forSigning) << c.name;
        EXPECT_EQ(CertHasKeyUsage(kEncrypt, cert), c.forEncryption) << c.name;
        EXPECT_EQ(CertHasKeyUsage(kSign | kEncrypt, cert), c.forSigning || c.forEncryption) << c.name;
        CertFreeCertificateContext(cert);
    }
}

TEST(CertSubjectTest, WritesTheX500FormIntoAZeroedBuffer)
{
    PCCERT_CONTEXT cert = LoadCert(Pki("alice").certDer);
    ASSERT_NE(cert, nullptr);
    char subject[SUBJECT_SIZE];
    memset(subject, 'x', sizeof(subject));
    DWORD count = GetSubjectString(cert, subject);
    EXPECT_EQ(subject, Sjis(Pki("alice").subject));
    EXPECT_EQ(count, strlen(subject) + 1);
    EXPECT_EQ(subject[SUBJECT_SIZE - 1], '\0');
    CertFreeCertificateContext(cert);
}

TEST_F(CertSelectTest, FindsByEmailOnlyWithAFittingKeyUsage)
{
    EXPECT_EQ(FoundByEmail("alice@example.com", kEncrypt), Sjis(Pki("alice").subject));
    EXPECT_NE(FoundByEmail("alice@example.com", kSign), "");
    EXPECT_NE(FoundByEmail("signer@example.com", kSign), "");
    EXPECT_EQ(FoundByEmail("signer@example.com", kEncrypt), "");
    EXPECT_NE(FoundByEmail("encipher@example.com", kEncrypt), "");
    EXPECT_EQ(FoundByEmail("encipher@example.com", kSign), "");
    EXPECT_NE(FoundByEmail("nousage@example.com", kSign), "");
    EXPECT_NE(FoundByEmail("nousage@example.com", kEncrypt), "");
}

TEST_F(CertSelectTest, SkipsASameAddressCertificateWithTheWrongUsage)
{
    // dup-sign was installed first; the encryption search must pass over it.
    EXPECT_EQ(FoundByEmail("dup@example.com", kEncrypt), Sjis(Pki("dup-enc").subject));
    EXPECT_EQ(FoundByEmail("dup@example.com", kSign), Sjis(Pki("dup-sign").subject));
}

TEST_F(CertSelectTest, MatchesTheWholeAddressWithoutRegardToCase)
{
    EXPECT_EQ(FoundByEmail("Alice@example.com", kEncrypt), Sjis(Pki("alice").subject));
    EXPECT_EQ(FoundByEmail("ALICE@EXAMPLE.COM", kEncrypt), Sjis(Pki("alice").subject));
    EXPECT_EQ(FoundByEmail("alice@example.co", kEncrypt), "");
    EXPECT_EQ(FoundByEmail("lice@example.com", kEncrypt), "");
    EXPECT_EQ(FoundByEmail("alice@example.com ", kEncrypt), "");
    EXPECT_EQ(FoundByEmail("", kEncrypt), "");
    EXPECT_EQ(FindCertByEmail(store_, NULL, kEncrypt), nullptr);
}

TEST_F(CertSelectTest, FindsExpiredCertificatesAndEitherPlaceOfTheAddress)
{
    EXPECT_EQ(FoundByEmail("expired@example.com", kSign), Sjis(Pki("expired").subject));
    EXPECT_EQ(FoundByEmail("subject-email@example.com", kEncrypt), Sjis(Pki("subject-email").subject));
    EXPECT_EQ(FoundByEmail("san-email@example.com", kEncrypt), Sjis(Pki("san-email").subject));
}

TEST_F(CertSelectTest, FindsBySubjectStringAsTheSetupDialogStoresIt)
{
    PCCERT_CONTEXT alice = LoadCert(Pki("alice").certDer);
    ASSERT_NE(alice, nullptr);
    std::string stored = SubjectOf(alice);
    CertFreeCertificateContext(alice);

    PCCERT_CONTEXT found = FindCertBySubject(store_, stored.c_str(), kSign);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SubjectOf(found), stored);
    CertFreeCertificateContext(found);

    EXPECT_EQ(FindCertBySubject(store_, stored.substr(0, stored.size() - 1).c_str(), kSign), nullptr);
    EXPECT_EQ(FindCertBySubject(store_, (stored + "x").c_str(), kSign), nullptr);

    std::string signerOnly = Sjis(Pki("signer").subject);
    EXPECT_EQ(FindCertBySubject(store_, signerOnly.c_str(), kEncrypt), nullptr);
    found = FindCertBySubject(store_, signerOnly.c_str(), kSign);
    EXPECT_NE(found, nullptr);
    CertFreeCertificateContext(found);
}

TEST_F(CertSelectTest, NeverFindsACertificateWithoutSubjectBySubject)
{
    TestCert nameless = MakeNamelessCert(dir_.path(), "nameless", "nameless@example.com");
    InstallCert("MY", nameless, true);
    CertCloseStore(store_, 0);
    store_ = CertOpenSystemStoreA(0, "MY");
    ASSERT_NE(store_, nullptr);

    EXPECT_EQ(FindCertBySubject(store_, "", kSign), nullptr);
    PCCERT_CONTEXT byAddress = FindCertByEmail(store_, "nameless@example.com", kSign);
    EXPECT_NE(byAddress, nullptr);  // the address still finds it
    CertFreeCertificateContext(byAddress);
}

TEST_F(CertSelectTest, AnEmptyStoreFindsNothing)
{
    HCERTSTORE empty = CertOpenSystemStoreA(0, "AddressBook");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(FindCertByEmail(empty, "alice@example.com", kEncrypt), nullptr);
    EXPECT_EQ(FindCertBySubject(empty, Sjis(Pki("alice").subject).c_str(), kEncrypt), nullptr);
    EXPECT_TRUE(CertCloseStore(empty, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST_F(CertSelectTest, PrefersValidThenTrustedOrKeyedThenLatest)
{
    InstallCert("Root", Pki("root"));
    for (const char* name : {"dave-expired", "dave-stranger", "dave", "dave-earlier"})
        InstallCert("Dave", Pki(name));
    InstallCert("MY", Pki("dave"));
    InstallCert("MY", Pki("dave-earlier"), true);
    InstallCert("MY", Pki("dave-stranger"));
    InstallCert("OnlyExpired", Pki("dave-expired"));

    struct Case {
        const char* store;
        int preferences;
        const char* expected;
    } cases[] = {
        {"Dave", PREFER_VALID_LATEST, "dave-stranger"},
        {"Dave", PREFER_TRUSTED, "dave"},
        {"MY", PREFER_PRIVATE_KEY, "dave-earlier"},
        {"OnlyExpired", PREFER_TRUSTED, "dave-expired"},
    };
    for (const Case& c : cases) {
        HCERTSTORE store = CertOpenSystemStoreA(0, c.store);
        ASSERT_NE(store, nullptr);
        PCCERT_CONTEXT cert = FindCertByEmail(store, "Dave@Example.COM", kEncrypt, c.preferences);
        EXPECT_EQ(cert != NULL ? SubjectOf(cert) : "", Sjis(Pki(c.expected).subject)) << c.store;
        PCCERT_CONTEXT bySubject = FindCertBySubject(store, Sjis(Pki(c.expected).subject).c_str(), kEncrypt,
                                                     c.preferences);
        EXPECT_NE(bySubject, nullptr);
        CertFreeCertificateContext(bySubject);
        CertFreeCertificateContext(cert);
        EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    }
}
