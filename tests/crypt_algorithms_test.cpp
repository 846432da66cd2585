// The message functions with the keys and algorithms other clients use:
// legacy PKCS #12 files, EC and RSA-OAEP recipients, planted recipient
// entries, content keys that do not fit, odd digest algorithm entries.
#include "support/crypt_msg_helpers.h"

#include <string.h>
#include <unistd.h>

#include <algorithm>

#include <gtest/gtest.h>

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
