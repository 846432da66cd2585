// The certificate stores and contexts of the platform layer.
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include "support/test_pki.h"
#include "support/test_support.h"

namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* old = getenv("XDG_DATA_HOME");
        hadOld_ = old != nullptr;
        if (hadOld_)
            old_ = old;
        setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (hadOld_)
            setenv("XDG_DATA_HOME", old_.c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
    }

    std::string StoreDir(const std::string& name) const { return dir_.File("zsmime/stores/" + name); }

    TempDir dir_;
    bool hadOld_ = false;
    std::string old_;
};

const TestCert& Cert(const char* name)
{
    return TestPki::Instance().Get(name);
}

std::string Der(const char* name)
{
    return ReadFile(Cert(name).certDer);
}

PCCERT_CONTEXT Create(const char* name)
{
    std::string der = Der(name);
    return CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE*)der.data(), (DWORD)der.size());
}

std::string SubjectOf(PCCERT_CONTEXT context)
{
    char buffer[1024] = {0};
    CertNameToStrA(X509_ASN_ENCODING, &context->pCertInfo->Subject, CERT_X500_NAME_STR, buffer,
                   sizeof buffer);
    return buffer;
}

// Subjects of the store's certificates, in enumeration order.
std::vector<std::string> Subjects(HCERTSTORE store)
{
    std::vector<std::string> subjects;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr)
        subjects.push_back(SubjectOf(context));
    return subjects;
}

std::vector<std::string> SubjectsOfSystemStore(const char* name)
{
    HCERTSTORE store = CertOpenSystemStoreA(0, name);
    EXPECT_NE(store, nullptr);
    std::vector<std::string> subjects = store != nullptr ? Subjects(store) : std::vector<std::string>();
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    return subjects;
}

BOOL AddEncoded(HCERTSTORE store, const char* name, DWORD disposition, PCCERT_CONTEXT* out = nullptr)
{
    std::string der = Der(name);
    return CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, (const BYTE*)der.data(),
                                            (DWORD)der.size(), disposition, out);
}

bool HasKey(PCCERT_CONTEXT context)
{
    DWORD size = 0;
    return CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) != FALSE;
}

TEST_F(StoreTest, AddedCertificatesPersistInTheOrderAdded)
{
    HCERTSTORE store = CertOpenSystemStoreA(0, "CA");
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(AddEncoded(store, "carol", CERT_STORE_ADD_USE_EXISTING));
    ASSERT_TRUE(AddEncoded(store, "alice", CERT_STORE_ADD_USE_EXISTING));
    ASSERT_TRUE(AddEncoded(store, "bob", CERT_STORE_ADD_USE_EXISTING));
    EXPECT_EQ(Subjects(store), (std::vector<std::string>{Cert("carol").subject, Cert("alice").subject,
                                                         Cert("bob").subject}));
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));

    // Another handle, the name in other letter case: the same folder, the same order.
    EXPECT_EQ(SubjectsOfSystemStore("ca"), (std::vector<std::string>{Cert("carol").subject,
                                                                     Cert("alice").subject,
                                                                     Cert("bob").subject}));
    EXPECT_TRUE(std::filesystem::is_directory(StoreDir("CA")));
    EXPECT_FALSE(std::filesystem::exists(StoreDir("ca")));
}

TEST_F(StoreTest, StoreNamesAndFilesCopiedInByHand)
{
    SetLastError(0);
    EXPECT_EQ(CertOpenSystemStoreA(0, ""), nullptr);
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
    EXPECT_EQ(CertOpenSystemStoreA(0, "../MY"), nullptr);
    EXPECT_EQ(CertOpenSystemStoreA(0, nullptr), nullptr);

    // Any other name is a store of its own.
    InstallCert("Trust", Cert("bob"));
    EXPECT_EQ(SubjectsOfSystemStore("TRUST"), std::vector<std::string>{Cert("bob").subject});

    // Files the index does not name follow in file-name order; what is not
    // a certificate is passed over.
    WriteFile(StoreDir("Trust") + "/b.cer", Der("carol"));
    WriteFile(StoreDir("Trust") + "/a.cer", Der("alice"));
    WriteFile(StoreDir("Trust") + "/0.cer", "not a certificate");
    EXPECT_EQ(SubjectsOfSystemStore("Trust"), (std::vector<std::string>{Cert("bob").subject,
                                                                        Cert("alice").subject,
                                                                        Cert("carol").subject}));
    HCERTSTORE store = CertOpenSystemStoreA(0, "Trust");
    PCCERT_CONTEXT alice = CertEnumCertificatesInStore(store, CertEnumCertificatesInStore(store, nullptr));
    ASSERT_NE(alice, nullptr);
    EXPECT_TRUE(CertDeleteCertificateFromStore(alice));
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_FALSE(std::filesystem::exists(StoreDir("Trust") + "/a.cer"));
    EXPECT_EQ(SubjectsOfSystemStore("Trust"), (std::vector<std::string>{Cert("bob").subject,
                                                                        Cert("carol").subject}));
}

TEST_F(StoreTest, AStoreHandleSeesTheFolderAsItWasWhenOpened)
{
    // A deletion through an older handle keeps what another handle added.
    InstallCert("CA", Cert("alice"));
    HCERTSTORE older = CertOpenSystemStoreA(0, "CA");
    InstallCert("CA", Cert("bob"));
    InstallCert("CA", Cert("carol"));
    EXPECT_TRUE(CertDeleteCertificateFromStore(CertEnumCertificatesInStore(older, nullptr)));
    EXPECT_TRUE(CertCloseStore(older, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(SubjectsOfSystemStore("CA"), (std::vector<std::string>{Cert("bob").subject,
                                                                     Cert("carol").subject}));

    HCERTSTORE early = CertOpenSystemStoreA(0, "AddressBook");
    ASSERT_NE(early, nullptr);
    InstallCert("AddressBook", Cert("alice"));
    EXPECT_TRUE(Subjects(early).empty());
    EXPECT_TRUE(CertCloseStore(early, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(SubjectsOfSystemStore("AddressBook"), std::vector<std::string>{Cert("alice").subject});
}

TEST_F(StoreTest, DispositionsForACertificateAlreadyThere)
{
    HCERTSTORE store = CertOpenSystemStoreA(0, "CA");
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT first = nullptr, again = nullptr;
    ASSERT_TRUE(AddEncoded(store, "alice", CERT_STORE_ADD_NEW, &first));
    ASSERT_TRUE(AddEncoded(store, "alice", CERT_STORE_ADD_USE_EXISTING, &again));
    EXPECT_EQ(first, again);  // the copy in the store is handed out again

    SetLastError(0);
    EXPECT_FALSE(AddEncoded(store, "alice", CERT_STORE_ADD_NEW));
    EXPECT_EQ(GetLastError(), CRYPT_E_EXISTS);
    EXPECT_TRUE(AddEncoded(store, "alice", CERT_STORE_ADD_REPLACE_EXISTING));
    EXPECT_TRUE(AddEncoded(store, "alice", CERT_STORE_ADD_ALWAYS));
    EXPECT_FALSE(AddEncoded(store, "alice", 99));
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
    EXPECT_EQ(Subjects(store).size(), 1u);
    CertFreeCertificateContext(first);
    CertFreeCertificateContext(again);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(SubjectsOfSystemStore("CA").size(), 1u);

    // Adding the context of another store keeps one copy too.
    PCCERT_CONTEXT alice = Create("alice");
    store = CertOpenSystemStoreA(0, "CA");
    EXPECT_TRUE(CertAddCertificateContextToStore(store, alice, CERT_STORE_ADD_USE_EXISTING, nullptr));
    EXPECT_EQ(Subjects(store).size(), 1u);
    CertFreeCertificateContext(alice);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST_F(StoreTest, MemoryStoreAlwaysKeepsDuplicates)
{
    CRYPT_DATA_BLOB blob;
    std::string p12 = ReadFile(Cert("bob").p12);
    blob.cbData = (DWORD)p12.size();
    blob.pbData = (BYTE*)p12.data();
    const WCHAR password[] = {'t', 'e', 's', 't', 0};
    HCERTSTORE store = PFXImportCertStore(&blob, password, 0);
    ASSERT_NE(store, nullptr);
    EXPECT_TRUE(AddEncoded(store, "bob", CERT_STORE_ADD_ALWAYS));
    EXPECT_TRUE(AddEncoded(store, "bob", CERT_STORE_ADD_USE_EXISTING));
    EXPECT_EQ(Subjects(store).size(), 2u);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST_F(StoreTest, CloseWithCheckFlagReportsContextsStillInUse)
{
    InstallCert("Root", Cert("root"));
    HCERTSTORE store = CertOpenSystemStoreA(0, "Root");
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT root = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(root, nullptr);
    PCCERT_CONTEXT copy = CertDuplicateCertificateContext(root);

    SetLastError(0);
    EXPECT_FALSE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(GetLastError(), CRYPT_E_PENDING_CLOSE);
    // The contexts stay usable until freed; the store goes with the last one.
    EXPECT_EQ(SubjectOf(root), Cert("root").subject);
    EXPECT_EQ(root->hCertStore, store);
    CertFreeCertificateContext(root);
    EXPECT_EQ(SubjectOf(copy), Cert("root").subject);
    CertFreeCertificateContext(copy);

    // All freed: the check passes.
    store = CertOpenSystemStoreA(0, "Root");
    PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
    EXPECT_EQ(CertEnumCertificatesInStore(store, context), nullptr);  // frees `context`
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));

    // Without the flag the close reports success even while contexts live.
    store = CertOpenSystemStoreA(0, "Root");
    context = CertEnumCertificatesInStore(store, nullptr);
    EXPECT_TRUE(CertCloseStore(store, 0));
    EXPECT_EQ(SubjectOf(context), Cert("root").subject);
    CertFreeCertificateContext(context);
    EXPECT_TRUE(CertCloseStore(nullptr, 0));
}

TEST_F(StoreTest, FindByIssuerNameComparesTheEncodedName)
{
    InstallCert("Root", Cert("stranger"));
    InstallCert("Root", Cert("root"));
    InstallCert("Root", Cert("intermediate"));
    PCCERT_CONTEXT alice = Create("alice");
    ASSERT_NE(alice, nullptr);

    HCERTSTORE store = CertOpenSystemStoreA(0, "Root");
    ASSERT_NE(store, nullptr);
    // Root and intermediate both have the root's name as issuer, in store order.
    PCCERT_CONTEXT found = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                      CERT_FIND_ISSUER_NAME, &alice->pCertInfo->Issuer,
                                                      nullptr);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SubjectOf(found), Cert("root").subject);
    found = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                       CERT_FIND_ISSUER_NAME, &alice->pCertInfo->Issuer, found);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SubjectOf(found), Cert("intermediate").subject);
    SetLastError(0);
    found = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                       CERT_FIND_ISSUER_NAME, &alice->pCertInfo->Issuer, found);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);

    // By subject name: the root itself.
    found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_NAME,
                                       &alice->pCertInfo->Issuer, nullptr);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SubjectOf(found), Cert("root").subject);
    CertFreeCertificateContext(found);

    // A name with one byte changed matches nothing.
    std::vector<BYTE> changed(alice->pCertInfo->Issuer.pbData,
                              alice->pCertInfo->Issuer.pbData + alice->pCertInfo->Issuer.cbData);
    changed.back() ^= 1;
    CERT_NAME_BLOB other = {(DWORD)changed.size(), changed.data()};
    EXPECT_EQ(CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_ISSUER_NAME, &other,
                                         nullptr),
              nullptr);

    found = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, alice, nullptr);
    EXPECT_EQ(found, nullptr);
    CertFreeCertificateContext(alice);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST_F(StoreTest, SubjectCertificateByIssuerAndSerial)
{
    HCERTSTORE store = PFXImportCertStore(nullptr, nullptr, 0);
    EXPECT_EQ(store, nullptr);
    store = CertOpenSystemStoreA(0, "CA");
    ASSERT_TRUE(AddEncoded(store, "alice", CERT_STORE_ADD_USE_EXISTING));
    ASSERT_TRUE(AddEncoded(store, "bob", CERT_STORE_ADD_USE_EXISTING));
    PCCERT_CONTEXT bob = Create("bob");

    CERT_INFO id = {};
    id.Issuer = bob->pCertInfo->Issuer;
    id.SerialNumber = bob->pCertInfo->SerialNumber;
    PCCERT_CONTEXT found = CertGetSubjectCertificateFromStore(store, X509_ASN_ENCODING, &id);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SubjectOf(found), Cert("bob").subject);
    CertFreeCertificateContext(found);

    // A serial with a high-order zero byte is the same number.
    std::vector<BYTE> padded(id.SerialNumber.pbData, id.SerialNumber.pbData + id.SerialNumber.cbData);
    padded.push_back(0);
    id.SerialNumber = {(DWORD)padded.size(), padded.data()};
    found = CertGetSubjectCertificateFromStore(store, X509_ASN_ENCODING, &id);
    EXPECT_NE(found, nullptr);
    CertFreeCertificateContext(found);

    padded[0] ^= 0x55;
    SetLastError(0);
    EXPECT_EQ(CertGetSubjectCertificateFromStore(store, X509_ASN_ENCODING, &id), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    CertFreeCertificateContext(bob);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST_F(StoreTest, DeleteRemovesFromTheFolder)
{
    InstallCert("MY", Cert("alice"), true);
    InstallCert("MY", Cert("bob"), true);
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    PCCERT_CONTEXT alice = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(alice, nullptr);
    ASSERT_EQ(SubjectOf(alice), Cert("alice").subject);
    EXPECT_TRUE(CertDeleteCertificateFromStore(alice));  // frees `alice`
    EXPECT_EQ(Subjects(store), std::vector<std::string>{Cert("bob").subject});
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(SubjectsOfSystemStore("MY"), std::vector<std::string>{Cert("bob").subject});

    int keys = 0, certs = 0;
    for (const auto& entry : std::filesystem::directory_iterator(StoreDir("MY"))) {
        keys += entry.path().extension() == ".key";
        certs += entry.path().extension() == ".cer";
    }
    EXPECT_EQ(keys, 1);
    EXPECT_EQ(certs, 1);
}

TEST_F(StoreTest, EnumerationGoesOnFromADeletedContext)
{
    for (const char* name : {"alice", "bob", "carol", "signer"})
        InstallCert("AddressBook", Cert(name));
    HCERTSTORE store = CertOpenSystemStoreA(0, "AddressBook");
    std::vector<std::string> seen;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
        seen.push_back(SubjectOf(context));
        if (seen.size() % 2 == 1) {  // alice and carol
            EXPECT_TRUE(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(context)));
        }
    }
    EXPECT_EQ(seen.size(), 4u);
    EXPECT_EQ(Subjects(store), (std::vector<std::string>{Cert("bob").subject, Cert("signer").subject}));
    // A deleted context is found no more.
    PCCERT_CONTEXT alice = Create("alice");
    EXPECT_EQ(CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, alice, nullptr),
              nullptr);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
    EXPECT_EQ(SubjectsOfSystemStore("AddressBook"),
              (std::vector<std::string>{Cert("bob").subject, Cert("signer").subject}));

    // A previous context from another store is refused (and still freed).
    store = CertOpenSystemStoreA(0, "AddressBook");
    SetLastError(0);
    EXPECT_EQ(CertEnumCertificatesInStore(store, alice), nullptr);
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST_F(StoreTest, PrivateKeysStayWithCertificatesOfMy)
{
    InstallCert("MY", Cert("alice"), true);
    InstallCert("MY", Cert("bob"), false);
    InstallCert("CA", Cert("carol"), true);  // keys are kept only in "MY"

    HCERTSTORE store = CertOpenSystemStoreA(0, "my");
    PCCERT_CONTEXT alice = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(alice, nullptr);
    EXPECT_TRUE(HasKey(alice));
    DWORD size = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(alice, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    std::vector<BYTE> info(size);
    DWORD small = sizeof(CRYPT_KEY_PROV_INFO) - 1;
    EXPECT_FALSE(CertGetCertificateContextProperty(alice, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &small));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    ASSERT_TRUE(CertGetCertificateContextProperty(alice, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size));
    EXPECT_EQ(reinterpret_cast<CRYPT_KEY_PROV_INFO*>(info.data())->dwKeySpec, (DWORD)AT_KEYEXCHANGE);

    PCCERT_CONTEXT bob = CertEnumCertificatesInStore(store, CertDuplicateCertificateContext(alice));
    ASSERT_NE(bob, nullptr);
    EXPECT_FALSE(HasKey(bob));
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    CertFreeCertificateContext(alice);
    CertFreeCertificateContext(bob);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));

    // Adding bob again with his key gives the existing copy the key.
    InstallCert("MY", Cert("bob"), true);
    store = CertOpenSystemStoreA(0, "MY");
    bob = CertEnumCertificatesInStore(store, CertEnumCertificatesInStore(store, nullptr));
    ASSERT_NE(bob, nullptr);
    EXPECT_TRUE(HasKey(bob));
    CertFreeCertificateContext(bob);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));

    store = CertOpenSystemStoreA(0, "CA");
    PCCERT_CONTEXT carol = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(carol, nullptr);
    EXPECT_FALSE(HasKey(carol));
    CertFreeCertificateContext(carol);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));

    for (const auto& entry : std::filesystem::directory_iterator(StoreDir("MY")))
        if (entry.path().extension() == ".key") {
            struct stat st;
            ASSERT_EQ(stat(entry.path().c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
        }
}

TEST_F(StoreTest, PfxImportCarriesTheKey)
{
    std::string p12 = ReadFile(Cert("alice").p12);
    CRYPT_DATA_BLOB blob = {(DWORD)p12.size(), (BYTE*)p12.data()};
    const WCHAR wrong[] = {'t', 'e', 'x', 't', 0};
    SetLastError(0);
    EXPECT_EQ(PFXImportCertStore(&blob, wrong, 0), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_INVALID_PASSWORD);

    std::string der = Der("alice");
    CRYPT_DATA_BLOB notPfx = {(DWORD)der.size(), (BYTE*)der.data()};
    EXPECT_EQ(PFXImportCertStore(&notPfx, wrong, 0), nullptr);

    const WCHAR password[] = {'t', 'e', 's', 't', 0};
    HCERTSTORE store = PFXImportCertStore(&blob, password, CRYPT_EXPORTABLE);
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT alice = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(alice, nullptr);
    EXPECT_EQ(SubjectOf(alice), Cert("alice").subject);
    EXPECT_TRUE(HasKey(alice));
    EXPECT_EQ(CertEnumCertificatesInStore(store, alice), nullptr);
    EXPECT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_CHECK_FLAG));
}

TEST_F(StoreTest, ContextCarriesTheCertificateInfo)
{
    PCCERT_CONTEXT alice = Create("alice");
    ASSERT_NE(alice, nullptr);
    const CERT_INFO* info = alice->pCertInfo;
    EXPECT_EQ(alice->dwCertEncodingType, (DWORD)X509_ASN_ENCODING);
    EXPECT_EQ(std::string((const char*)alice->pbCertEncoded, alice->cbCertEncoded), Der("alice"));
    EXPECT_EQ(info->dwVersion, 2u);
    EXPECT_STREQ(info->SignatureAlgorithm.pszObjId, szOID_RSA_SHA256RSA);
    EXPECT_STREQ(info->SubjectPublicKeyInfo.Algorithm.pszObjId, szOID_RSA_RSA);
    EXPECT_GT(info->SubjectPublicKeyInfo.PublicKey.cbData, 256u);
    // Serial numbers are kept little-endian: the test PKI's start at 0x2A1000.
    ASSERT_EQ(info->SerialNumber.cbData, 3u);
    EXPECT_EQ(info->SerialNumber.pbData[2], 0x2A);
    ASSERT_GE(info->Subject.cbData, 2u);
    EXPECT_EQ(info->Subject.pbData[0], 0x30);
    EXPECT_EQ(info->cExtension, 4u);  // and the key identifiers
    EXPECT_STREQ(info->rgExtension[0].pszObjId, szOID_KEY_USAGE);
    EXPECT_TRUE(info->rgExtension[0].fCritical);
    EXPECT_STREQ(info->rgExtension[1].pszObjId, szOID_SUBJECT_ALT_NAME2);

    PCCERT_CONTEXT same = CertDuplicateCertificateContext(alice);
    EXPECT_EQ(same, alice);
    CertFreeCertificateContext(same);
    CertFreeCertificateContext(alice);

    SetLastError(0);
    const BYTE junk[] = {0x04, 0x01, 0x00};
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, junk, sizeof junk), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_BADTAG);
    std::string der = Der("alice");
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE*)der.data(), 100), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_EOD);
}

}  // namespace
