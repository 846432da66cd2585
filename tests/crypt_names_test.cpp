// Certificate names and properties as the platform layer reports them.
#include <string>
#include <vector>

#include <openssl/x509.h>

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>
#undef X509_NAME  // wincrypt.h's constant; OpenSSL's type is meant here

#include "support/test_pki.h"
#include "support/test_support.h"

namespace {

// A name built attribute by attribute; `joinPrevious` puts the attribute into
// the RDN of the one before it.
struct Attribute {
    const char* field;
    std::string value;  // UTF-8 (u8 literals: plain ones are Shift-JIS)
    int type;           // a forced string type, or 0 to let OpenSSL choose
    bool joinPrevious;
};

std::vector<BYTE> EncodeName(const std::vector<Attribute>& attributes)
{
    X509_NAME* name = X509_NAME_new();
    for (const Attribute& a : attributes) {
        if (a.type == V_ASN1_BMPSTRING || a.type == V_ASN1_UTF8STRING) {
            // Force the string type rather than letting OpenSSL choose.
            ASN1_STRING* s = ASN1_STRING_type_new(a.type);
            unsigned long mask = a.type == V_ASN1_BMPSTRING ? B_ASN1_BMPSTRING : B_ASN1_UTF8STRING;
            ASN1_STRING* converted = nullptr;
            ASN1_mbstring_copy(&converted, (const unsigned char*)a.value.data(), (int)a.value.size(),
                               MBSTRING_UTF8, mask);
            ASN1_STRING_free(s);
            X509_NAME_ENTRY* entry = X509_NAME_ENTRY_create_by_txt(nullptr, a.field, a.type,
                                                                   ASN1_STRING_get0_data(converted),
                                                                   ASN1_STRING_length(converted));
            X509_NAME_add_entry(name, entry, -1, a.joinPrevious ? -1 : 0);
            X509_NAME_ENTRY_free(entry);
            ASN1_STRING_free(converted);
        } else {
            X509_NAME_add_entry_by_txt(name, a.field, MBSTRING_UTF8, (const unsigned char*)a.value.data(),
                                       (int)a.value.size(), -1, a.joinPrevious ? -1 : 0);
        }
    }
    unsigned char* der = nullptr;
    int length = i2d_X509_NAME(name, &der);
    std::vector<BYTE> out(der, der + (length > 0 ? length : 0));
    OPENSSL_free(der);
    X509_NAME_free(name);
    return out;
}

Attribute A(const char* field, const std::string& value, bool joinPrevious = false)
{
    return Attribute{field, value, 0, joinPrevious};
}

std::string NameToStr(std::vector<BYTE> encoded, DWORD type = CERT_X500_NAME_STR, DWORD* count = nullptr)
{
    CERT_NAME_BLOB blob = {(DWORD)encoded.size(), encoded.data()};
    char buffer[1024];
    memset(buffer, 'x', sizeof buffer);
    DWORD n = CertNameToStrA(X509_ASN_ENCODING, &blob, type, buffer, sizeof buffer);
    if (count != nullptr)
        *count = n;
    EXPECT_EQ(n, strlen(buffer) + 1);
    return buffer;
}

const TestCert& Cert(const char* name)
{
    return TestPki::Instance().Get(name);
}

PCCERT_CONTEXT Create(const char* name)
{
    std::string der = ReadFile(Cert(name).certDer);
    return CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE*)der.data(), (DWORD)der.size());
}

TEST(CertNameToStr, WritesRdnsInEncodedOrderWithX500Keys)
{
    PCCERT_CONTEXT alice = Create("alice");
    ASSERT_NE(alice, nullptr);
    char buffer[1024] = {0};
    CERT_NAME_BLOB subject = alice->pCertInfo->Subject;
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &subject, CERT_X500_NAME_STR, buffer, sizeof buffer), 52u);
    EXPECT_STREQ(buffer, "C=JP, O=Zandrel Test, CN=alice, E=alice@example.com");
    // The size alone, with no buffer or an empty one.
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &subject, CERT_X500_NAME_STR, nullptr, 0), 52u);
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &subject, CERT_X500_NAME_STR, buffer, 0), 52u);
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &subject, CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG,
                             buffer, sizeof buffer),
              52u);
    EXPECT_STREQ(buffer, "E=alice@example.com, CN=alice, O=Zandrel Test, C=JP");
    CertFreeCertificateContext(alice);

    EXPECT_EQ(NameToStr(EncodeName({A("CN", "x"), A("L", "x"), A("ST", "x"), A("O", "x"), A("OU", "x"),
                                    A("C", "JP"), A("street", "x"), A("title", "x"), A("GN", "x"),
                                    A("initials", "x"), A("SN", "x"), A("DC", "x"),
                                    A("serialNumber", "x"), A("emailAddress", "x"),
                                    A("1.2.3.4", "x"), A("postalCode", "x"), A("UID", "x")})),
              "CN=x, L=x, S=x, O=x, OU=x, C=JP, STREET=x, T=x, G=x, I=x, SN=x, DC=x, SERIALNUMBER=x, "
              "E=x, OID.1.2.3.4=x, PostalCode=x, OID.0.9.2342.19200300.100.1.1=x");
}

TEST(CertNameToStr, SubjectsOfTheTestPki)
{
    for (const char* name : {"root", "intermediate", "alice", "bob", "carol", "signer", "encipher",
                             "nousage", "expired", "future", "dup-sign", "dup-enc", "subject-email",
                             "san-email", "inter-user", "selfsigned", "forged", "stranger"}) {
        PCCERT_CONTEXT context = Create(name);
        ASSERT_NE(context, nullptr) << name;
        char buffer[1024] = {0};
        CertNameToStrA(X509_ASN_ENCODING, &context->pCertInfo->Subject, CERT_X500_NAME_STR, buffer,
                       sizeof buffer);
        EXPECT_EQ(Utf8(buffer), Cert(name).subject) << name;
        CertFreeCertificateContext(context);
    }
}

TEST(CertNameToStr, QuotesValuesThatNeedIt)
{
    EXPECT_EQ(NameToStr(EncodeName({A("O", "Acme, Inc.")})), "O=\"Acme, Inc.\"");
    EXPECT_EQ(NameToStr(EncodeName({A("CN", "say \"hi\"")})), "CN=\"say \"\"hi\"\"\"");
    EXPECT_EQ(NameToStr(EncodeName({A("CN", " lead")})), "CN=\" lead\"");
    EXPECT_EQ(NameToStr(EncodeName({A("CN", "trail ")})), "CN=\"trail \"");
    EXPECT_EQ(NameToStr(EncodeName({Attribute{"CN", "", V_ASN1_UTF8STRING, false}})), "CN=\"\"");
    for (const char* special : {"a+b", "a=b", "a\nb", "a<b", "a>b", "#a", "a;b"})
        EXPECT_EQ(NameToStr(EncodeName({A("CN", special)})), std::string("CN=\"") + special + "\"");
    EXPECT_EQ(NameToStr(EncodeName({A("CN", "in side")})), "CN=in side");
    EXPECT_EQ(NameToStr(EncodeName({A("O", "Acme, Inc.")}), CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG),
              "O=Acme, Inc.");
}

TEST(CertNameToStr, EncodedValuesInHexadecimal)
{
    // SEQUENCE { SET { SEQUENCE { OID 1.2.3.4, SEQUENCE { INTEGER 5 } } } }
    std::vector<BYTE> name = {0x30, 0x0e, 0x31, 0x0c, 0x30, 0x0a, 0x06, 0x03, 0x2a, 0x03,
                              0x04, 0x30, 0x03, 0x02, 0x01, 0x05};
    EXPECT_EQ(NameToStr(name), "OID.1.2.3.4=#3003020105");
}

TEST(CertNameToStr, MultiValuedRdnAndOtherFormats)
{
    std::vector<BYTE> name = EncodeName({A("C", "JP"), A("CN", "a"), A("OU", "b", true), A("O", "c")});
    EXPECT_EQ(NameToStr(name), "C=JP, CN=a + OU=b, O=c");
    EXPECT_EQ(NameToStr(name, CERT_SIMPLE_NAME_STR), "JP, a + b, c");
    EXPECT_EQ(NameToStr(name, CERT_OID_NAME_STR), "2.5.4.6=JP, 2.5.4.3=a + 2.5.4.11=b, 2.5.4.10=c");
    EXPECT_EQ(NameToStr(name, CERT_X500_NAME_STR | CERT_NAME_STR_SEMICOLON_FLAG), "C=JP; CN=a + OU=b; O=c");
}

TEST(CertNameToStr, ConvertsUnicodeToShiftJis)
{
    EXPECT_EQ(NameToStr(EncodeName({Attribute{"CN", u8"山田 太郎", V_ASN1_UTF8STRING, false}})),
              "CN=山田 太郎");
    EXPECT_EQ(NameToStr(EncodeName({Attribute{"O", u8"株式会社ザンドレル", V_ASN1_BMPSTRING, false}})),
              "O=株式会社ザンドレル");
    // Characters without a Shift-JIS form become '?', one each.
    // (Outside the macro, which would turn the text into a Shift-JIS literal.)
    std::vector<BYTE> unmappable = EncodeName({Attribute{"CN", u8"Hangul 한글 €", V_ASN1_UTF8STRING, false}});
    EXPECT_EQ(NameToStr(unmappable), "CN=Hangul ?? ?");
    // A trail byte equal to a delimiter (ソ is 0x83 0x5C) does not cause quoting.
    EXPECT_EQ(NameToStr(EncodeName({Attribute{"CN", u8"ソフト", V_ASN1_UTF8STRING, false}})),
              "CN=ソフト");
}

TEST(CertNameToStr, ShortBufferIsCutAndTerminated)
{
    std::vector<BYTE> name = EncodeName({A("C", "JP"), A("CN", "alice")});
    CERT_NAME_BLOB blob = {(DWORD)name.size(), name.data()};
    char buffer[16];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 6), 6u);
    EXPECT_STREQ(buffer, "C=JP,");
    EXPECT_EQ(buffer[6], 'x');
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 1), 1u);
    EXPECT_STREQ(buffer, "");

    // Never half a double-byte character.
    std::vector<BYTE> japanese = EncodeName({Attribute{"CN", u8"山田", V_ASN1_UTF8STRING, false}});
    blob = {(DWORD)japanese.size(), japanese.data()};
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 6), 6u);
    EXPECT_EQ(std::string(buffer), "CN=山");
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, &blob, CERT_X500_NAME_STR, buffer, 5), 4u);
    EXPECT_EQ(std::string(buffer), "CN=");
}

TEST(CertNameToStr, EmptyAndUndecodableNames)
{
    std::vector<BYTE> empty = {0x30, 0x00};
    DWORD count = 0;
    EXPECT_EQ(NameToStr(empty, CERT_X500_NAME_STR, &count), "");
    EXPECT_EQ(count, 1u);
    std::vector<BYTE> junk = {0x30, 0x05, 0x31, 0x09, 0x00};
    EXPECT_EQ(NameToStr(junk, CERT_X500_NAME_STR, &count), "");
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(CertNameToStrA(X509_ASN_ENCODING, nullptr, CERT_X500_NAME_STR, nullptr, 0), 1u);
}

std::string NameString(const char* cert, DWORD type, DWORD* count = nullptr)
{
    PCCERT_CONTEXT context = Create(cert);
    EXPECT_NE(context, nullptr);
    char buffer[1024];
    memset(buffer, 'x', sizeof buffer);
    DWORD n = CertGetNameStringA(context, type, 0, nullptr, buffer, sizeof buffer);
    EXPECT_EQ(n, strlen(buffer) + 1);
    EXPECT_EQ(CertGetNameStringA(context, type, 0, nullptr, nullptr, 0), n);
    if (count != nullptr)
        *count = n;
    CertFreeCertificateContext(context);
    return buffer;
}

TEST(CertGetNameString, EmailFromAltNameElseSubject)
{
    DWORD count = 0;
    EXPECT_EQ(NameString("alice", CERT_NAME_EMAIL_TYPE, &count), "alice@example.com");
    EXPECT_EQ(count, 18u);
    EXPECT_EQ(NameString("san-email", CERT_NAME_EMAIL_TYPE), "san-email@example.com");
    EXPECT_EQ(NameString("subject-email", CERT_NAME_EMAIL_TYPE), "subject-email@example.com");
    EXPECT_EQ(NameString("root", CERT_NAME_EMAIL_TYPE, &count), "");
    EXPECT_EQ(count, 1u);
    for (const char* name : {"alice", "san-email", "subject-email", "dup-sign", "root"})
        EXPECT_EQ(NameString(name, CERT_NAME_EMAIL_TYPE), Cert(name).email) << name;

    PCCERT_CONTEXT alice = Create("alice");
    char buffer[8];
    EXPECT_EQ(CertGetNameStringA(alice, CERT_NAME_EMAIL_TYPE, 0, nullptr, buffer, sizeof buffer), 8u);
    EXPECT_STREQ(buffer, "alice@e");
    CertFreeCertificateContext(alice);
}

TEST(CertGetNameString, SimpleDisplayName)
{
    EXPECT_EQ(NameString("alice", CERT_NAME_SIMPLE_DISPLAY_TYPE), "alice");
    EXPECT_EQ(NameString("root", CERT_NAME_SIMPLE_DISPLAY_TYPE), "Zandrel Test Root CA");
}

BYTE KeyUsage(const char* name, BOOL* result, DWORD* error)
{
    PCCERT_CONTEXT context = Create(name);
    BYTE usage[2] = {0, 0x77};
    SetLastError(0xDEAD);
    *result = CertGetIntendedKeyUsage(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, context->pCertInfo, usage, 1);
    *error = GetLastError();
    EXPECT_EQ(usage[1], 0x77);  // nothing beyond the given length is written
    CertFreeCertificateContext(context);
    return usage[0];
}

TEST(CertProperties, IntendedKeyUsage)
{
    BOOL result = FALSE;
    DWORD error = 0;
    EXPECT_EQ(KeyUsage("alice", &result, &error), 0xA0);
    EXPECT_TRUE(result);
    EXPECT_EQ(KeyUsage("signer", &result, &error), CERT_DIGITAL_SIGNATURE_KEY_USAGE);
    EXPECT_EQ(KeyUsage("encipher", &result, &error), CERT_KEY_ENCIPHERMENT_KEY_USAGE);
    EXPECT_EQ(KeyUsage("root", &result, &error), CERT_KEY_CERT_SIGN_KEY_USAGE | CERT_CRL_SIGN_KEY_USAGE);
    EXPECT_EQ(KeyUsage("nousage", &result, &error), 0);
    EXPECT_FALSE(result);
    EXPECT_EQ(error, 0u);
}

TEST(CertProperties, TimeValidity)
{
    PCCERT_CONTEXT alice = Create("alice"), expired = Create("expired"), future = Create("future");
    EXPECT_EQ(CertVerifyTimeValidity(nullptr, alice->pCertInfo), 0);
    EXPECT_EQ(CertVerifyTimeValidity(nullptr, expired->pCertInfo), 1);
    EXPECT_EQ(CertVerifyTimeValidity(nullptr, future->pCertInfo), -1);

    FILETIME inside = expired->pCertInfo->NotBefore;
    EXPECT_EQ(CertVerifyTimeValidity(&inside, expired->pCertInfo), 0);
    // 2001-01-01 00:00:00 UTC exactly.
    EXPECT_EQ(((ULONGLONG)inside.dwHighDateTime << 32 | inside.dwLowDateTime), 126227808000000000ULL);
    FILETIME before = {inside.dwLowDateTime - 1, inside.dwHighDateTime};
    if (inside.dwLowDateTime == 0)
        before.dwHighDateTime--;
    EXPECT_EQ(CertVerifyTimeValidity(&before, expired->pCertInfo), -1);
    FILETIME in2090 = future->pCertInfo->NotBefore;
    EXPECT_EQ(CertVerifyTimeValidity(&in2090, future->pCertInfo), 0);
    EXPECT_EQ(CertVerifyTimeValidity(&in2090, alice->pCertInfo), 1);
    for (PCCERT_CONTEXT c : {alice, expired, future})
        CertFreeCertificateContext(c);
}

TEST(CertProperties, SignatureVerification)
{
    PCCERT_CONTEXT root = Create("root"), intermediate = Create("intermediate");
    auto verify = [](const char* name, PCCERT_CONTEXT issuer) {
        PCCERT_CONTEXT c = Create(name);
        SetLastError(0);
        BOOL ok = CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, c->pbCertEncoded, c->cbCertEncoded,
                                                  &issuer->pCertInfo->SubjectPublicKeyInfo);
        CertFreeCertificateContext(c);
        return ok;
    };
    EXPECT_TRUE(verify("alice", root));
    EXPECT_TRUE(verify("root", root));
    EXPECT_TRUE(verify("inter-user", intermediate));
    EXPECT_FALSE(verify("forged", root));
    EXPECT_EQ(GetLastError(), NTE_BAD_SIGNATURE);
    EXPECT_FALSE(verify("inter-user", root));
    EXPECT_EQ(GetLastError(), NTE_BAD_SIGNATURE);

    const BYTE junk[] = {0x02, 0x01, 0x00};
    EXPECT_FALSE(CryptVerifyCertificateSignature(0, X509_ASN_ENCODING, junk, sizeof junk,
                                                 &root->pCertInfo->SubjectPublicKeyInfo));
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_BADTAG);
    CertFreeCertificateContext(root);
    CertFreeCertificateContext(intermediate);
}

}  // namespace
