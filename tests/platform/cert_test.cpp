// Certificate properties the module reads: e-mail name, key usage, validity.
#include "platform_test.h"

namespace {

std::string Email(PCCERT_CONTEXT cert, DWORD* returned)
{
    char buffer[256] = "unchanged";
    *returned = CertGetNameStringA(cert, CERT_NAME_EMAIL_TYPE, 0, nullptr, buffer, sizeof buffer);
    return buffer;
}

FILETIME Shifted(const FILETIME& time, long long seconds)
{
    unsigned long long ticks = ((unsigned long long)time.dwHighDateTime << 32 | time.dwLowDateTime) +
                               (unsigned long long)(seconds * 10000000LL);
    FILETIME out = {(DWORD)ticks, (DWORD)(ticks >> 32)};
    return out;
}

}  // namespace

TEST(CertProperties, EmailFromTheAltNameElseTheSubjectElseEmpty)
{
    DWORD returned = 0;
    PCCERT_CONTEXT alice = FixtureCert("alice.cer"), san = FixtureCert("san.cer"), ca = FixtureCert("ca.cer");
    ASSERT_TRUE(alice && san && ca);
    EXPECT_EQ(Email(alice, &returned), "alice@example.com");
    EXPECT_EQ(returned, 18u);
    EXPECT_EQ(Email(san, &returned), "san@example.com");
    EXPECT_EQ(Email(ca, &returned), "");
    EXPECT_EQ(returned, 1u);
    for (PCCERT_CONTEXT c : {alice, san, ca})
        CertFreeCertificateContext(c);
}

TEST(CertProperties, IntendedKeyUsageIsTheFirstByteOrFalseWithoutTheExtension)
{
    PCCERT_CONTEXT alice = FixtureCert("alice.cer"), nousage = FixtureCert("nousage.cer");
    ASSERT_TRUE(alice && nousage);
    BYTE usage[2] = {0, 0};
    EXPECT_TRUE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, alice->pCertInfo, usage, sizeof usage));
    EXPECT_EQ(usage[0], 0xA0);
    usage[0] = 0;
    EXPECT_FALSE(CertGetIntendedKeyUsage(X509_ASN_ENCODING, nousage->pCertInfo, usage, sizeof usage));
    EXPECT_EQ(usage[0], 0);
    CertFreeCertificateContext(alice);
    CertFreeCertificateContext(nousage);
}

TEST(CertProperties, TimeValidityIsMinusOneBeforeOneAfterZeroInside)
{
    PCCERT_CONTEXT alice = FixtureCert("alice.cer");
    ASSERT_NE(alice, nullptr);
    FILETIME before = Shifted(alice->pCertInfo->NotBefore, -60), after = Shifted(alice->pCertInfo->NotAfter, 60);
    FILETIME inside = Shifted(alice->pCertInfo->NotBefore, 60);
    EXPECT_EQ(CertVerifyTimeValidity(&before, alice->pCertInfo), -1);
    EXPECT_EQ(CertVerifyTimeValidity(&after, alice->pCertInfo), 1);
    EXPECT_EQ(CertVerifyTimeValidity(&inside, alice->pCertInfo), 0);
    EXPECT_EQ(CertVerifyTimeValidity(nullptr, alice->pCertInfo), 0) << "now";
    CertFreeCertificateContext(alice);
}

TEST(CertStores, PersonalStoreAddsFindsAndDeletesACertificate)
{
    std::string der = Fixture("san.cer");
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    ASSERT_NE(store, nullptr);
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, (const BYTE*)der.data(), (DWORD)der.size(),
                                                 CERT_STORE_ADD_REPLACE_EXISTING, &added));
    // Found again by its issuer and serial number, as a signer is.
    PCCERT_CONTEXT found = CertGetSubjectCertificateFromStore(store, X509_ASN_ENCODING, added->pCertInfo);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string((const char*)found->pbCertEncoded, found->cbCertEncoded), der);
    CertFreeCertificateContext(found);
    PCCERT_CONTEXT san = FixtureCert("san.cer");
    EXPECT_TRUE(CertDeleteCertificateFromStore(added));
    EXPECT_EQ(CertGetSubjectCertificateFromStore(store, X509_ASN_ENCODING, san->pCertInfo), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_NOT_FOUND);
    CertFreeCertificateContext(san);
    CertCloseStore(store, 0);
}
