#include "support/test_pki.h"

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <vector>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>
#undef X509_NAME  // wincrypt.h's constant; OpenSSL's type is meant here

#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

// Current certificates began a day ago; Earlier ones a month ago, Recent ones
// an hour ago.
enum class Validity { Current, Earlier, Recent, Expired, Future };

struct CertSpec {
    const char* name;
    const char* commonName;
    const char* issuer;        // name of the issuing spec; "" for self-signed
    const char* keyUsage;      // OpenSSL keyUsage value; "" for no extension
    bool ca;
    const char* email;         // "" for none
    bool emailInSubject;
    bool emailInAltName;
    Validity validity;
};

const char* const kBoth = "critical,digitalSignature,keyEncipherment";
const char* const kSign = "critical,digitalSignature";
const char* const kEnc = "critical,keyEncipherment";
const char* const kCa = "critical,keyCertSign,cRLSign";

// Issuers come before the certificates they issue.
const CertSpec kSpecs[] = {
    {"root", "Zandrel Test Root CA", "", kCa, true, "", false, false, Validity::Current},
    {"intermediate", "Zandrel Test Intermediate CA", "root", kCa, true, "", false, false, Validity::Current},
    {"stranger-ca", "Zandrel Stranger CA", "", kCa, true, "", false, false, Validity::Current},
    {"alice", "alice", "root", kBoth, false, "alice@example.com", true, true, Validity::Current},
    {"bob", "bob", "root", kBoth, false, "bob@example.com", true, true, Validity::Current},
    {"carol", "carol", "root", kBoth, false, "carol@example.com", true, true, Validity::Current},
    {"signer", "signer", "root", kSign, false, "signer@example.com", true, true, Validity::Current},
    {"encipher", "encipher", "root", kEnc, false, "encipher@example.com", true, true, Validity::Current},
    {"nousage", "nousage", "root", "", false, "nousage@example.com", true, true, Validity::Current},
    {"expired", "expired", "root", kBoth, false, "expired@example.com", true, true, Validity::Expired},
    {"future", "future", "root", kBoth, false, "future@example.com", true, true, Validity::Future},
    {"dup-sign", "dup-sign", "root", kSign, false, "dup@example.com", true, true, Validity::Current},
    {"dup-enc", "dup-enc", "root", kEnc, false, "dup@example.com", true, true, Validity::Current},
    {"subject-email", "subject-email", "root", kBoth, false, "subject-email@example.com", true, false,
     Validity::Current},
    {"san-email", "san-email", "root", kBoth, false, "san-email@example.com", false, true,
     Validity::Current},
    {"inter-user", "inter-user", "intermediate", kBoth, false, "inter-user@example.com", true, true,
     Validity::Current},
    {"selfsigned", "self", "", kBoth, false, "self@example.com", true, true, Validity::Current},
    {"forged", "forged", "root", kBoth, false, "forged@example.com", true, true, Validity::Current},
    {"stranger", "stranger", "stranger-ca", kBoth, false, "stranger@example.com", true, true,
     Validity::Current},
    {"old-intermediate", "Zandrel Test Old Intermediate CA", "root", kCa, true, "", false, false,
     Validity::Expired},
    {"old-inter-user", "old-inter-user", "old-intermediate", kBoth, false, "old-inter-user@example.com",
     true, true, Validity::Current},
    {"dave-expired", "dave-expired", "root", kBoth, false, "dave@example.com", true, true, Validity::Expired},
    {"dave-earlier", "dave-earlier", "root", kBoth, false, "dave@example.com", true, true, Validity::Earlier},
    {"dave", "dave", "root", kBoth, false, "dave@example.com", true, true, Validity::Current},
    {"dave-stranger", "dave-stranger", "stranger-ca", kBoth, false, "dave@example.com", true, true,
     Validity::Recent},
    {"planted-alice", "alice", "", kBoth, false, "alice@example.com", true, true, Validity::Current},
    // Subjects that differ only in letter case, and one that the first begins.
    {"pat-upper", "Pat", "root", kBoth, false, "", false, false, Validity::Current},
    {"pat-lower", "pat", "root", kBoth, false, "", false, false, Validity::Current},
    {"pat-smith", "Pat Smith", "root", kBoth, false, "", false, false, Validity::Current},
};

struct Generated {
    X509* cert = nullptr;
    EVP_PKEY* key = nullptr;
};

std::map<std::string, TestCert>& Certs()
{
    static std::map<std::string, TestCert> certs;
    return certs;
}

void Check(bool ok, const std::string& what)
{
    if (!ok)
        throw std::runtime_error("test PKI: " + what);
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    Check(ext != nullptr && X509_add_ext(cert, ext, -1), "extension");
    X509_EXTENSION_free(ext);
}

void SetValidity(X509* cert, Validity validity)
{
    switch (validity) {
    case Validity::Current:
    case Validity::Earlier:
    case Validity::Recent: {
        long age = validity == Validity::Current ? 86400L : validity == Validity::Earlier ? 30 * 86400L : 3600L;
        X509_gmtime_adj(X509_getm_notBefore(cert), -age);
        X509_time_adj_ex(X509_getm_notAfter(cert), 3650, 0, nullptr);
        break;
    }
    case Validity::Expired:
        ASN1_TIME_set_string_X509(X509_getm_notBefore(cert), "20010101000000Z");
        ASN1_TIME_set_string_X509(X509_getm_notAfter(cert), "20020101000000Z");
        break;
    case Validity::Future:
        ASN1_TIME_set_string_X509(X509_getm_notBefore(cert), "20900101000000Z");
        ASN1_TIME_set_string_X509(X509_getm_notAfter(cert), "20910101000000Z");
        break;
    }
}

void WriteAll(const std::string& path, const std::string& bytes)
{
    FILE* f = fopen(path.c_str(), "wb");
    Check(f != nullptr, "cannot write " + path);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

std::string BioBytes(BIO* bio)
{
    char* data = nullptr;
    long length = BIO_get_mem_data(bio, &data);
    return std::string(data, (size_t)length);
}

void WriteFiles(const std::string& dir, const CertSpec& spec, const Generated& g, TestCert* out)
{
    out->certPem = dir + "/" + spec.name + ".pem";
    out->certDer = dir + "/" + spec.name + ".cer";
    out->keyPem = dir + "/" + spec.name + ".key.pem";
    out->p12 = dir + "/" + spec.name + ".p12";

    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, g.cert);
    WriteAll(out->certPem, BioBytes(bio));
    BIO_free(bio);

    unsigned char* der = nullptr;
    int length = i2d_X509(g.cert, &der);
    Check(length > 0, "DER");
    WriteAll(out->certDer, std::string((const char*)der, (size_t)length));
    OPENSSL_free(der);

    bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, g.key, nullptr, nullptr, 0, nullptr, nullptr);
    WriteAll(out->keyPem, BioBytes(bio));
    BIO_free(bio);

    PKCS12* p12 = PKCS12_create("test", spec.name, g.key, g.cert, nullptr, 0, 0, 0, 0, 0);
    Check(p12 != nullptr, "PKCS #12");
    bio = BIO_new(BIO_s_mem());
    i2d_PKCS12_bio(bio, p12);
    WriteAll(out->p12, BioBytes(bio));
    BIO_free(bio);
    PKCS12_free(p12);
}

std::string SubjectString(const CertSpec& spec)
{
    std::string subject = std::string("C=JP, O=Zandrel Test, CN=") + spec.commonName;
    if (spec.emailInSubject)
        subject += std::string(", E=") + spec.email;
    return subject;
}

// RSA key generation is what takes time (about a quarter second a key), and
// every test runs in a process of its own: the keys are kept between runs in
// a folder of the user's under the temporary folder, the certificates are
// made afresh in each process.
EVP_PKEY* CachedKey(const std::string& name)
{
    std::string dir = (fs::temp_directory_path() / ("zsmime-test-keys-" + std::to_string(getuid()))).string();
    std::string path = dir + "/" + name + ".pem";
    if (FILE* f = fopen(path.c_str(), "rb")) {
        EVP_PKEY* key = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
        fclose(f);
        if (key != nullptr && EVP_PKEY_get_bits(key) == 2048)
            return key;
        EVP_PKEY_free(key);
    }
    EVP_PKEY* key = EVP_RSA_gen(2048);
    Check(key != nullptr, "key");
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    fs::permissions(dir, fs::perms::owner_all, ignored);
    // Written whole under a name of its own, then renamed: processes that
    // start together never read half a key.
    std::string temp = path + "." + std::to_string(getpid());
    if (FILE* f = fopen(temp.c_str(), "wb")) {
        bool ok = PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
        ok = fclose(f) == 0 && ok;
        if (!ok || rename(temp.c_str(), path.c_str()) != 0)
            remove(temp.c_str());
    }
    return key;
}

void Generate(const std::string& dir)
{
    std::map<std::string, Generated> made;
    EVP_PKEY* forgerKey = CachedKey("forger");
    Check(forgerKey != nullptr, "key");
    long serial = 0x2A1000;
    for (const CertSpec& spec : kSpecs) {
        Generated g;
        g.key = CachedKey(spec.name);
        g.cert = X509_new();
        Check(g.key != nullptr && g.cert != nullptr, "key");
        X509_set_version(g.cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(g.cert), serial++);
        SetValidity(g.cert, spec.validity);

        X509_NAME* name = X509_get_subject_name(g.cert);
        X509_NAME_add_entry_by_txt(name, "C", MBSTRING_UTF8, (const unsigned char*)"JP", -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "O", MBSTRING_UTF8, (const unsigned char*)"Zandrel Test",
                                   -1, -1, 0);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, (const unsigned char*)spec.commonName,
                                   -1, -1, 0);
        if (spec.emailInSubject)
            X509_NAME_add_entry_by_txt(name, "emailAddress", MBSTRING_ASC,
                                       (const unsigned char*)spec.email, -1, -1, 0);

        bool selfSigned = spec.issuer[0] == '\0';
        const Generated& issuer = selfSigned ? g : made.at(spec.issuer);
        X509_set_issuer_name(g.cert, X509_get_subject_name(issuer.cert));
        X509_set_pubkey(g.cert, g.key);

        if (spec.ca)
            AddExtension(g.cert, issuer.cert, NID_basic_constraints, "critical,CA:TRUE");
        if (spec.keyUsage[0] != '\0')
            AddExtension(g.cert, issuer.cert, NID_key_usage, spec.keyUsage);
        if (spec.emailInAltName)
            AddExtension(g.cert, issuer.cert, NID_subject_alt_name,
                         (std::string("email:") + spec.email).c_str());
        // Key identifiers, as real certificates carry them (CMS signer
        // identification by key identifier needs them).
        // A self-signed one gets no authority key identifier: OpenSSL would
        // write an empty one, which gpgsm cannot read.
        AddExtension(g.cert, issuer.cert, NID_subject_key_identifier, "hash");
        if (!selfSigned)
            AddExtension(g.cert, issuer.cert, NID_authority_key_identifier, "keyid");

        bool forged = std::string(spec.name) == "forged";
        EVP_PKEY* signingKey = forged ? forgerKey : issuer.key;
        Check(X509_sign(g.cert, signingKey, EVP_sha256()) > 0, "signature");

        TestCert cert;
        cert.name = spec.name;
        cert.subject = SubjectString(spec);
        cert.email = spec.email;
        WriteFiles(dir, spec, g, &cert);
        Certs()[spec.name] = cert;
        made[spec.name] = g;
    }
    for (auto& entry : made) {
        X509_free(entry.second.cert);
        EVP_PKEY_free(entry.second.key);
    }
    EVP_PKEY_free(forgerKey);
}

// Removes the PKI's folder when the process ends.
struct PkiFolder {
    std::string path;
    ~PkiFolder()
    {
        std::error_code ignored;
        if (!path.empty())
            fs::remove_all(path, ignored);
    }
};

}  // namespace

TestPki::TestPki()
{
    static PkiFolder folder;
    std::string pattern = (fs::temp_directory_path() / "zsmime-pki-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    Check(mkdtemp(buffer.data()) != nullptr, "temporary folder");
    dir_ = buffer.data();
    folder.path = dir_;
    Generate(dir_);
}

const TestPki& TestPki::Instance()
{
    static TestPki pki;
    return pki;
}

const TestCert& TestPki::Get(const std::string& name) const
{
    auto it = Certs().find(name);
    if (it == Certs().end())
        throw std::out_of_range("no test certificate named " + name);
    return it->second;
}

void InstallCert(const std::string& store, const TestCert& cert, bool withKey)
{
    HCERTSTORE target = CertOpenSystemStoreA(0, store.c_str());
    ASSERT_NE(target, nullptr) << "cannot open store " << store;
    if (withKey) {
        std::string p12 = ReadFile(cert.p12);
        CRYPT_DATA_BLOB blob = {(DWORD)p12.size(), (BYTE*)p12.data()};
        static const WCHAR kPassword[] = {'t', 'e', 's', 't', 0};
        HCERTSTORE pfx = PFXImportCertStore(&blob, kPassword, CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
        EXPECT_NE(pfx, nullptr) << "cannot import " << cert.p12;
        PCCERT_CONTEXT context = nullptr;
        bool added = false;
        while (pfx != nullptr && (context = CertEnumCertificatesInStore(pfx, context)) != nullptr) {
            DWORD size = 0;
            if (CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size))
                added = CertAddCertificateContextToStore(target, context, CERT_STORE_ADD_USE_EXISTING,
                                                         nullptr) != FALSE;
        }
        EXPECT_TRUE(added) << "cannot add " << cert.name << " with its key to " << store;
        CertCloseStore(pfx, 0);
    } else {
        std::string der = ReadFile(cert.certDer);
        EXPECT_TRUE(CertAddEncodedCertificateToStore(target, X509_ASN_ENCODING, (const BYTE*)der.data(),
                                                     (DWORD)der.size(), CERT_STORE_ADD_USE_EXISTING,
                                                     nullptr))
            << "cannot add " << cert.name << " to " << store;
    }
    CertCloseStore(target, 0);
}

void RemoveStoreCert(const std::string& store, const TestCert& cert)
{
    HCERTSTORE target = CertOpenSystemStoreA(0, store.c_str());
    ASSERT_NE(target, nullptr) << "cannot open store " << store;
    std::string der = ReadFile(cert.certDer);
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(target, context)) != nullptr) {
        if (context->cbCertEncoded == der.size() && memcmp(context->pbCertEncoded, der.data(), der.size()) == 0) {
            EXPECT_TRUE(CertDeleteCertificateFromStore(CertDuplicateCertificateContext(context)));
            CertFreeCertificateContext(context);
            break;
        }
    }
    CertCloseStore(target, 0);
}
