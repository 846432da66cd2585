// The message functions with the keys and algorithms other clients use:
// legacy PKCS #12 files, EC and RSA-OAEP recipients, planted recipient
// entries, content keys that do not fit, odd digest algorithm entries.
#include "support/crypt_msg_helpers.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>
#include <openssl/provider.h>

#include "support/test_support.h"

namespace {

const std::string kCorpus = std::string(SHARED_DIR) + "/corpus/";

#define REQUIRE_CORPUS()                                              \
    if (access(kCorpus.c_str(), R_OK) != 0)                           \
    GTEST_SKIP() << "no message corpus at " << kCorpus

HCERTSTORE ImportPfx(const std::string& path, const std::string& password)
{
    std::string bytes = ReadFile(path);
    CRYPT_DATA_BLOB blob = {(DWORD)bytes.size(), (BYTE*)bytes.data()};
    std::vector<WCHAR> wide(password.begin(), password.end());  // ASCII
    wide.push_back(0);
    return PFXImportCertStore(&blob, wide.data(), 0);
}

// The CMS object of an S/MIME file, DER, by way of the openssl tool.
ByteString CmsOf(const TempDir& dir, const std::string& smimeFile)
{
    std::string out = dir.File("cms.der");
    if (!Shell("openssl cms -cmsout -in " + smimeFile + " -outform DER -out " + out))
        return {};
    return ToBytes(ReadFile(out));
}

// Replaces every occurrence of `from` by `to` (same length) in `bytes`.
void Patch(ByteString* bytes, const ByteString& from, const ByteString& to)
{
    for (auto at = bytes->begin();
         (at = std::search(at, bytes->end(), from.begin(), from.end())) != bytes->end();)
        at = std::copy(to.begin(), to.end(), at);
}

}  // namespace

TEST(CryptAlgorithmsTest, PfxWithRc2CertificateBagsImports)
{
    REQUIRE_CORPUS();
    HCERTSTORE store = ImportPfx(kCorpus + "mimekit/rsa/smime.pfx", "no.secret");
    ASSERT_NE(store, nullptr) << std::hex << GetLastError();
    PCCERT_CONTEXT cert = nullptr;
    int withKey = 0;
    DWORD size = 0;
    while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr)
        withKey += CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size);
    EXPECT_EQ(withKey, 1);
    CertCloseStore(store, 0);
}

TEST(CryptAlgorithmsTest, EcAgreementAndOaepRecipientsDecrypt)
{
    REQUIRE_CORPUS();
    TempDir dir;
    const std::string folder = kCorpus + "thunderbird-comm-central/";
    struct Case {
        const char* message;
        const char* pfx;
    } cases[] = {{"smime-interop/fran-ec_ossl-aes128-sha256.env", "Fran-ec.p12"},
                 {"smime-interop/fran-ec_ossl-aes256-sha512.env", "Fran-ec.p12"},
                 {"smime-interop/fran-oaep-label_ossl.env", "Fran.p12"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        HCERTSTORE store = ImportPfx(folder + c.pfx, "nss");
        ASSERT_NE(store, nullptr);
        DWORD error = 0;
        std::string content = ToString(Decrypt(CmsOf(dir, folder + c.message), store, &error));
        EXPECT_NE(content.find("This is a test message to Fran"), std::string::npos) << std::hex << error;
        CertCloseStore(store, 0);
    }
}

// The transported key is 24 bytes for AES-256: OpenSSL would go on with a
// random key and, about once in 256 runs, "decrypt" to garbage.
TEST(CryptAlgorithmsTest, ContentKeyThatDoesNotFitAlwaysFails)
{
    REQUIRE_CORPUS();
    TempDir dir;
    TestCert owner;
    owner.certPem = kCorpus + "bouncycastle-bc-java/cert.pem";
    owner.keyPem = kCorpus + "bouncycastle-bc-java/key.pem";
    PCCERT_CONTEXT context = LoadCertContext(owner, true);
    ASSERT_NE(context, nullptr);
    ByteString message = CmsOf(dir, kCorpus + "bouncycastle-bc-java/test256.message");
    ASSERT_FALSE(message.empty());
    for (int run = 0; run < 600; ++run) {
        DWORD error = 0;
        ASSERT_TRUE(DecryptWith(message, context, &error).empty()) << "run " << run;
        EXPECT_NE(error, 0u);
    }
    CertFreeCertificateContext(context);
}

// Anyone with the recipient's public certificate can put an entry for it
// before the real one, here one that opens to a wrong content key.
TEST(CryptAlgorithmsTest, PlantedEntryBeforeTheRealOneDoesNotHideIt)
{
    PCCERT_CONTEXT bob = LoadCertContext(TestPki::Instance().Get("bob"), true);
    ByteString content = ToBytes(std::string(5000, 'x'));
    ByteString real = LayerEncrypt({bob, bob}, szOID_NIST_AES256_CBC, {}, content);
    ByteString other = LayerEncrypt({bob}, szOID_NIST_AES256_CBC, {}, ToBytes("other"));
    const ByteString keyHeader = {0x04, 0x82, 0x01, 0x00};  // a 2048-bit wrapped key
    auto first = std::search(real.begin(), real.end(), keyHeader.begin(), keyHeader.end());
    auto planted = std::search(other.begin(), other.end(), keyHeader.begin(), keyHeader.end());
    ASSERT_TRUE(first != real.end() && planted != other.end());
    std::copy(planted, planted + 4 + 256, first);

    DWORD error = 0;
    EXPECT_EQ(DecryptWith(real, bob, &error), content) << std::hex << error;
    CertFreeCertificateContext(bob);
}

TEST(CryptAlgorithmsTest, SignerDigestMissingFromTheDigestSetIsRefused)
{
    REQUIRE_CORPUS();
    TempDir dir;
    ByteString signature = CmsOf(dir, kCorpus + "openssl/pkcs7-empty-digest-set.eml");
    ASSERT_FALSE(signature.empty());
    EXPECT_EQ(VerifyDetached(signature, ToBytes("This is the content to be signed.\r\n")),
              (DWORD)CRYPT_E_UNKNOWN_ALGO);
}

// Some DSA signers write dsaWithSHA1 (1.3.14.3.2.27) as the digest algorithm.
TEST(CryptAlgorithmsTest, DsaWithSha1AsDigestAlgorithmVerifies)
{
    TempDir dir;
    std::string key = dir.File("dsa.key"), cert = dir.File("dsa.pem"), in = dir.File("in"),
                out = dir.File("signed.der");
    WriteFile(in, "signed by DSA\r\n");
    ASSERT_TRUE(Shell("openssl genpkey -genparam -algorithm DSA -pkeyopt dsa_paramgen_bits:1024 -out " +
                      dir.File("params") + " && openssl genpkey -paramfile " + dir.File("params") +
                      " -out " + key + " && openssl req -x509 -new -key " + key +
                      " -subj /CN=dsa -days 2 -sha1 -out " + cert));
    for (const char* attributes : {"", " -noattr"}) {
        SCOPED_TRACE(attributes);
        ASSERT_TRUE(Shell("openssl cms -sign -md sha1 -nodetach -binary -outform DER -signer " + cert +
                          " -inkey " + key + attributes + " -in " + in + " -out " + out));
        ByteString message = ToBytes(ReadFile(out));
        Patch(&message, {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1A}, {0x06, 0x05, 0x2B, 0x0E, 0x03, 0x02, 0x1B});
        DWORD error = 0;
        EXPECT_EQ(ToString(VerifyOpaque(message, &error)), "signed by DSA\r\n") << std::hex << error;
        std::string oid;
        ByteString parameters;
        ASSERT_TRUE(MessageAlgorithm(message, CMSG_SIGNER_HASH_ALGORITHM_PARAM, &oid, &parameters));
        EXPECT_EQ(oid, "1.3.14.3.2.27");
    }
}

namespace {

ByteString Der(uint8_t tag, const std::vector<ByteString>& parts)
{
    ByteString content;
    for (const ByteString& part : parts)
        content.insert(content.end(), part.begin(), part.end());
    ByteString out = {tag};
    if (content.size() >= 0x80) {
        out.push_back(content.size() >= 0x100 ? 0x82 : 0x81);
        if (content.size() >= 0x100)
            out.push_back((BYTE)(content.size() >> 8));
    }
    out.push_back((BYTE)content.size());
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

template <typename T, typename Encode>
ByteString DerOf(T* object, Encode encode)
{
    ByteString out((size_t)encode(object, nullptr));
    unsigned char* p = out.data();
    encode(object, &p);
    return out;
}

}  // namespace

// As old Windows versions send it: RC2 with 56 effective bits (parameter
// version 52) and a 7-byte key, for one RSA key-transport recipient.
TEST(CryptAlgorithmsTest, Rc2With56BitKeyDecrypts)
{
    const TestCert& bob = TestPki::Instance().Get("bob");
    PCCERT_CONTEXT bobContext = LoadCertContext(bob, true);
    FILE* pem = fopen(bob.certPem.c_str(), "r");
    ASSERT_NE(pem, nullptr);
    X509* cert = PEM_read_X509(pem, nullptr, nullptr, nullptr);
    fclose(pem);
    ASSERT_NE(cert, nullptr);
    const ByteString key = {1, 2, 3, 4, 5, 6, 7}, iv = {9, 8, 7, 6, 5, 4, 3, 2};
    const ByteString content = ToBytes("Subject: old\r\n\r\nsent with 56 bits\r\n");
    // RC2 lives in the legacy provider; "default" is named too, as loading one stops the implicit load.
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");

    ByteString ciphertext(content.size() + 8);
    int written = 0, last = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ASSERT_TRUE(EVP_EncryptInit_ex(ctx, EVP_rc2_cbc(), nullptr, nullptr, nullptr) == 1 &&
                EVP_CIPHER_CTX_set_key_length(ctx, 7) == 1 &&
                EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_RC2_KEY_BITS, 56, nullptr) == 1 &&
                EVP_EncryptInit_ex(ctx, nullptr, nullptr, key.data(), iv.data()) == 1 &&
                EVP_EncryptUpdate(ctx, ciphertext.data(), &written, content.data(), (int)content.size()) == 1 &&
                EVP_EncryptFinal_ex(ctx, ciphertext.data() + written, &last) == 1);
    EVP_CIPHER_CTX_free(ctx);
    ciphertext.resize((size_t)(written + last));

    EVP_PKEY_CTX* pctx = EVP_PKEY_CTX_new(X509_get0_pubkey(cert), nullptr);
    size_t wrappedSize = 512;
    ByteString wrapped(wrappedSize);
    ASSERT_TRUE(EVP_PKEY_encrypt_init(pctx) == 1 && EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PADDING) == 1 &&
                EVP_PKEY_encrypt(pctx, wrapped.data(), &wrappedSize, key.data(), key.size()) == 1);
    EVP_PKEY_CTX_free(pctx);
    wrapped.resize(wrappedSize);

    const ByteString oidData = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x01};
    const ByteString oidEnveloped = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x03};
    const ByteString rsaEncryption = {0x30, 0x0D, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01, 0x05, 0x00};
    const ByteString oidRc2 = {0x06, 0x08, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x02};
    const ByteString versionZero = {0x02, 0x01, 0x00};
    ByteString issuerAndSerial = Der(0x30, {DerOf(X509_get_issuer_name(cert), i2d_X509_NAME),
                                            DerOf(X509_get0_serialNumber(cert), i2d_ASN1_INTEGER)});
    ByteString recipient = Der(0x30, {versionZero, issuerAndSerial, rsaEncryption, Der(0x04, {wrapped})});
    ByteString algorithm = Der(0x30, {oidRc2, Der(0x30, {{0x02, 0x01, 52}, Der(0x04, {iv})})});
    ByteString contentInfo = Der(0x30, {oidData, algorithm, Der(0x80, {ciphertext})});
    ByteString message = Der(0x30, {oidEnveloped, Der(0xA0, {Der(0x30, {versionZero, Der(0x31, {recipient}), contentInfo})})});

    DWORD error = 0;
    EXPECT_EQ(DecryptWith(message, bobContext, &error), content) << std::hex << error;
    X509_free(cert);
    CertFreeCertificateContext(bobContext);
    OSSL_PROVIDER_unload(standard);
    OSSL_PROVIDER_unload(legacy);
}
