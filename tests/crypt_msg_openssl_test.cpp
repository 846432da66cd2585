// The message functions against the openssl tool: what the layer makes,
// openssl reads byte for byte, and what openssl makes, the layer reads.
#include "support/crypt_msg_helpers.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// RC2 and single DES live in OpenSSL 3's legacy provider.
const std::string kProviders = " -provider legacy -provider default";
const std::string kContent = "Subject: interop\r\n\r\nbody line\r\ntrailing \xE3\x81\x82 no newline";

class CryptMsgOpensslTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        alice_ = TestPki::Instance().Get("alice");
        bob_ = TestPki::Instance().Get("bob");
        aliceContext_ = LoadCertContext(alice_, true);
        bobContext_ = LoadCertContext(bob_, true);
        ASSERT_NE(aliceContext_, nullptr);
        ASSERT_NE(bobContext_, nullptr);
        contentFile_ = dir_.File("content.txt");
        WriteFile(contentFile_, kContent);
    }
    void TearDown() override
    {
        CertFreeCertificateContext(aliceContext_);
        CertFreeCertificateContext(bobContext_);
    }

    std::string Write(const std::string& name, const ByteString& bytes)
    {
        std::string path = dir_.File(name);
        WriteFile(path, ToString(bytes));
        return path;
    }
    ByteString Read(const std::string& name) { return ToBytes(ReadFile(dir_.File(name))); }

    TempDir dir_;
    TestCert alice_, bob_;
    PCCERT_CONTEXT aliceContext_ = nullptr, bobContext_ = nullptr;
    std::string contentFile_;
};

}  // namespace

TEST_F(CryptMsgOpensslTest, OpensslVerifiesWhatTheLayerSigns)
{
    ByteString content = ToBytes(kContent);
    for (const char* oid : {szOID_OIWSEC_sha1, szOID_RSA_MD5, szOID_NIST_sha256}) {
        SCOPED_TRACE(oid);
        std::string opaque = Write("opaque.p7m", LayerSign(aliceContext_, oid, false, content));
        for (const char* tool : {"cms", "smime"}) {
            SCOPED_TRACE(tool);
            ASSERT_TRUE(Shell(std::string("openssl ") + tool + " -verify -noverify -binary -inform DER -in " +
                              opaque + " -out " + dir_.File("out1")));
            EXPECT_EQ(Read("out1"), content);
        }
        std::string detached = Write("detached.p7s", LayerSign(aliceContext_, oid, true, content));
        for (const char* tool : {"cms", "smime"}) {
            SCOPED_TRACE(tool);
            ASSERT_TRUE(Shell(std::string("openssl ") + tool + " -verify -noverify -binary -inform DER -in " +
                              detached + " -content " + contentFile_ + " -out " + dir_.File("out2")));
            EXPECT_EQ(Read("out2"), content);
        }
        // The signature covers the digest directly: no signed attributes.
        ASSERT_TRUE(Shell("openssl cms -cmsout -print -inform DER -in " + opaque + " -out " +
                          dir_.File("print")));
        std::string printed;
        for (char ch : ReadFile(dir_.File("print")))
            if (!isspace((unsigned char)ch))
                printed += ch;
        EXPECT_NE(printed.find("signedAttrs:<ABSENT>"), std::string::npos);
    }
}

TEST_F(CryptMsgOpensslTest, OpensslDecryptsWhatTheLayerEncrypts)
{
    ByteString content = ToBytes(kContent);
    BYTE rc2_128[] = {0x30, 0x03, 0x02, 0x01, 0x3A};
    struct Case {
        const char* oid;
        ByteString parameters;
    } cases[] = {
        {szOID_RSA_RC2CBC, {}},
        {szOID_RSA_RC2CBC, ByteString(rc2_128, rc2_128 + 5)},
        {szOID_OIWSEC_desCBC, {}},
        {szOID_RSA_DES_EDE3_CBC, {}},
        {szOID_NIST_AES128_CBC, {}},
        {szOID_NIST_AES256_CBC, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.oid) + (c.parameters.empty() ? "" : " with parameters"));
        std::string blob = Write("enveloped.p7m", LayerEncrypt({aliceContext_, bobContext_}, c.oid,
                                                               c.parameters, content));
        for (const char* tool : {"cms", "smime"}) {
            SCOPED_TRACE(tool);
            ASSERT_TRUE(Shell(std::string("openssl ") + tool + " -decrypt -binary -inform DER -in " + blob +
                              " -recip " + bob_.certPem + " -inkey " + bob_.keyPem + kProviders +
                              " -out " + dir_.File("out")));
            EXPECT_EQ(Read("out"), content);
        }
    }
}

TEST_F(CryptMsgOpensslTest, LayerVerifiesWhatOpensslSigns)
{
    ByteString content = ToBytes(kContent);
    const std::string signer = " -signer " + alice_.certPem + " -inkey " + alice_.keyPem;
    struct Case {
        std::string options;
        bool detached;
    } cases[] = {
        {"cms -sign -nodetach -md sha1", false},
        {"cms -sign -nodetach -md md5", false},
        {"cms -sign -nodetach -md sha256", false},
        {"cms -sign -nodetach -noattr -md sha1", false},
        {"cms -sign -nodetach -noattr -md sha256", false},
        {"cms -sign -md sha1", true},
        {"cms -sign -noattr -md md5", true},
        {"cms -sign -stream -nodetach -md sha256", false},
        {"smime -sign -nodetach -md sha1", false},
        {"smime -sign -md sha256", true},
        {"smime -sign -noattr -md sha1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_TRUE(Shell("openssl " + c.options + " -binary -outform DER" + signer + " -in " +
                          contentFile_ + " -out " + dir_.File("signed")));
        ByteString blob = Read("signed");
        EXPECT_EQ(MessageType(blob), (DWORD)CMSG_SIGNED);
        if (c.detached) {
            EXPECT_EQ(VerifyDetached(blob, content), 0u);
            EXPECT_EQ(VerifyDetached(blob, ToBytes(kContent + "x")), CRYPT_E_HASH_VALUE);
            ByteString badSignature = blob;
            badSignature.back() ^= 0x01;  // the signature value ends the message
            EXPECT_EQ(VerifyDetached(badSignature, content), (DWORD)NTE_BAD_SIGNATURE);
        } else {
            DWORD error = 0;
            EXPECT_EQ(VerifyOpaque(blob, &error), content);
            EXPECT_EQ(error, 0u);
        }
    }
}

namespace {

struct KeyIdCallbackRecord {
    ByteString issuer;
    DWORD serialSize = 99;
};

PCCERT_CONTEXT WINAPI RecordKeyIdSigner(void* arg, DWORD, PCERT_INFO signerId, HCERTSTORE)
{
    auto* record = (KeyIdCallbackRecord*)arg;
    record->issuer.assign(signerId->Issuer.pbData, signerId->Issuer.pbData + signerId->Issuer.cbData);
    record->serialSize = signerId->SerialNumber.cbData;
    return nullptr;
}

}  // namespace

TEST_F(CryptMsgOpensslTest, SignerNamedByKeyIdentifier)
{
    // A certificate with a subjectKeyIdentifier, which -keyid needs.
    std::string key = dir_.File("keyid.key"), cert = dir_.File("keyid.pem");
    ASSERT_TRUE(Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=keyid -keyout " +
                      key + " -out " + cert + " -addext subjectKeyIdentifier=hash"));
    ASSERT_TRUE(Shell("openssl cms -sign -nodetach -keyid -binary -outform DER -signer " + cert +
                      " -inkey " + key + " -in " + contentFile_ + " -out " + dir_.File("signed")));
    ByteString blob = Read("signed");
    DWORD error = 0;
    EXPECT_EQ(VerifyOpaque(blob, &error), ToBytes(kContent));
    EXPECT_EQ(error, 0u);

    // A callback is told the key identifier the Windows way: a name with
    // one szOID_KEYID_RDN attribute, and no serial number.
    KeyIdCallbackRecord record;
    CRYPT_VERIFY_MESSAGE_PARA para = VerifyParams();
    para.pfnGetSignerCertificate = RecordKeyIdSigner;
    para.pvGetArg = &record;
    DWORD size = 0;
    EXPECT_FALSE(CryptVerifyMessageSignature(&para, 0, blob.data(), (DWORD)blob.size(), nullptr,
                                             &size, nullptr));
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    EXPECT_EQ(record.serialSize, 0u);
    const BYTE keyIdRdn[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0A, 0x07, 0x01};
    EXPECT_NE(std::search(record.issuer.begin(), record.issuer.end(), keyIdRdn, keyIdRdn + sizeof keyIdRdn),
              record.issuer.end());
}

namespace {

// A callback as the plug-in writes it: the signer is looked up in the
// message's own certificates by the id it is given.
PCCERT_CONTEXT WINAPI LookUpSigner(void*, DWORD encoding, PCERT_INFO signerId, HCERTSTORE store)
{
    return CertGetSubjectCertificateFromStore(store, encoding, signerId);
}

// The Windows key-id form of a signer id: a name with one szOID_KEYID_RDN attribute.
ByteString KeyIdName(const ByteString& keyId)
{
    const BYTE oid[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0A, 0x07, 0x01};
    BYTE attributeSize = (BYTE)(sizeof oid + 2 + keyId.size());
    ByteString name;
    for (BYTE b : {(BYTE)0x30, (BYTE)(attributeSize + 4), (BYTE)0x31, (BYTE)(attributeSize + 2),
                   (BYTE)0x30, attributeSize})
        name.push_back(b);
    for (BYTE b : oid)
        name.push_back(b);
    name.push_back(0x04);
    name.push_back((BYTE)keyId.size());
    for (BYTE b : keyId)
        name.push_back(b);
    return name;
}

ByteString FromHex(const std::string& hex)
{
    ByteString bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back((BYTE)std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

}  // namespace

TEST_F(CryptMsgOpensslTest, KeyIdSignerIsFoundInTheStoreByTheCallback)
{
    std::string key = dir_.File("keyid.key"), cert = dir_.File("keyid.pem");
    ASSERT_TRUE(Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=keyid -keyout " +
                      key + " -out " + cert + " -addext subjectKeyIdentifier=hash"));
    ASSERT_TRUE(Shell("openssl cms -sign -nodetach -keyid -binary -outform DER -signer " + cert +
                      " -inkey " + key + " -in " + contentFile_ + " -out " + dir_.File("signed")));
    ByteString blob = Read("signed");
    CRYPT_VERIFY_MESSAGE_PARA para = VerifyParams();
    para.pfnGetSignerCertificate = LookUpSigner;
    DWORD size = 0;
    ASSERT_TRUE(CryptVerifyMessageSignature(&para, 0, blob.data(), (DWORD)blob.size(), nullptr,
                                            &size, nullptr));
    ByteString content(size);
    PCCERT_CONTEXT signer = nullptr;
    ASSERT_TRUE(CryptVerifyMessageSignature(&para, 0, blob.data(), (DWORD)blob.size(),
                                            content.data(), &size, &signer));
    content.resize(size);
    EXPECT_EQ(content, ToBytes(kContent));
    ASSERT_NE(signer, nullptr);
    DWORD nameSize = CertGetNameStringA(signer, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    std::string name(nameSize, '\0');
    CertGetNameStringA(signer, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, &name[0], nameSize);
    EXPECT_STREQ(name.c_str(), "keyid");
    CertFreeCertificateContext(signer);
}

TEST_F(CryptMsgOpensslTest, KeyIdWithoutTheExtensionIsTheHashOfThePublicKeyInfo)
{
    // Without a subjectKeyIdentifier the key id is the SHA-1 of the encoded
    // SubjectPublicKeyInfo, as Windows computes it.
    TestCert plain;
    plain.keyPem = dir_.File("plain.key");
    plain.certPem = dir_.File("plain.pem");
    plain.certDer = dir_.File("plain.der");
    ASSERT_TRUE(Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=plain -keyout " +
                      plain.keyPem + " -out " + plain.certPem +
                      " -addext subjectKeyIdentifier=none -addext authorityKeyIdentifier=none"));
    ASSERT_TRUE(Shell("openssl x509 -in " + plain.certPem + " -outform DER -out " + plain.certDer));
    ASSERT_TRUE(Shell("openssl x509 -in " + plain.certPem + " -noout -pubkey | openssl pkey -pubin "
                      "-outform DER -out " + dir_.File("spki.der")));
    ASSERT_TRUE(Shell("openssl sha1 -r " + dir_.File("spki.der") + " | cut -c1-40 > " +
                      dir_.File("spki.sha1") + " && true"));
    ByteString spkiHash = FromHex(ReadFile(dir_.File("spki.sha1")));
    ASSERT_EQ(spkiHash.size(), 20u);
    PCCERT_CONTEXT plainContext = LoadCertContext(plain, false);
    ASSERT_NE(plainContext, nullptr);
    HCERTSTORE store = StoreWith({aliceContext_, plainContext});

    ByteString name = KeyIdName(spkiHash);
    CERT_INFO id = {};
    id.Issuer.pbData = name.data();
    id.Issuer.cbData = (DWORD)name.size();
    PCCERT_CONTEXT found = CertGetSubjectCertificateFromStore(store, kEncoding, &id);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(ByteString(found->pbCertEncoded, found->pbCertEncoded + found->cbCertEncoded),
              ByteString(plainContext->pbCertEncoded,
                         plainContext->pbCertEncoded + plainContext->cbCertEncoded));
    CertFreeCertificateContext(found);

    // Another identifier, or a serial number beside it, finds nothing.
    spkiHash[0] ^= 1;
    ByteString other = KeyIdName(spkiHash);
    id.Issuer.pbData = other.data();
    EXPECT_EQ(CertGetSubjectCertificateFromStore(store, kEncoding, &id), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    spkiHash[0] ^= 1;
    BYTE serial = 1;
    id.Issuer.pbData = name.data();
    id.SerialNumber.pbData = &serial;
    id.SerialNumber.cbData = 1;
    EXPECT_EQ(CertGetSubjectCertificateFromStore(store, kEncoding, &id), nullptr);

    CertFreeCertificateContext(plainContext);
    CertCloseStore(store, 0);
}

TEST_F(CryptMsgOpensslTest, LayerDecryptsWhatOpensslEncrypts)
{
    ByteString content = ToBytes(kContent);
    struct Case {
        std::string options;
        const char* oid;
        DWORD rc2Version;
    } cases[] = {
        {"cms -encrypt -des", szOID_OIWSEC_desCBC, 0},
        {"cms -encrypt -des3", szOID_RSA_DES_EDE3_CBC, 0},
        {"cms -encrypt -rc2-40", szOID_RSA_RC2CBC, 160},
        {"cms -encrypt -rc2-64", szOID_RSA_RC2CBC, 120},
        {"cms -encrypt -rc2-128", szOID_RSA_RC2CBC, 58},
        {"cms -encrypt -aes128", szOID_NIST_AES128_CBC, 0},
        {"cms -encrypt -aes256", szOID_NIST_AES256_CBC, 0},
        {"cms -encrypt -stream -aes256", szOID_NIST_AES256_CBC, 0},
        {"smime -encrypt -des3", szOID_RSA_DES_EDE3_CBC, 0},
        {"smime -encrypt -rc2-40", szOID_RSA_RC2CBC, 160},
        {"smime -encrypt -rc2-128", szOID_RSA_RC2CBC, 58},
        {"smime -encrypt -des", szOID_OIWSEC_desCBC, 0},
        {"smime -encrypt -aes128", szOID_NIST_AES128_CBC, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_TRUE(Shell("openssl " + c.options + kProviders + " -binary -outform DER -in " +
                          contentFile_ + " -out " + dir_.File("enveloped") + " " + bob_.certPem));
        ByteString blob = Read("enveloped");
        std::string oid;
        ByteString parameters;
        ASSERT_TRUE(MessageAlgorithm(blob, CMSG_ENVELOPE_ALGORITHM_PARAM, &oid, &parameters));
        EXPECT_EQ(oid, c.oid);
        if (c.rc2Version != 0) {
            CRYPT_RC2_CBC_PARAMETERS rc2 = {};
            DWORD size = sizeof rc2;
            ASSERT_TRUE(CryptDecodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, parameters.data(),
                                          (DWORD)parameters.size(), 0, &rc2, &size));
            EXPECT_EQ(rc2.dwVersion, c.rc2Version);
        }
        DWORD error = 0;
        EXPECT_EQ(DecryptWith(blob, bobContext_, &error), content);
        EXPECT_EQ(error, 0u);
        DecryptWith(blob, aliceContext_, &error);
        EXPECT_EQ(error, CRYPT_E_NO_DECRYPT_CERT);
    }
}

TEST_F(CryptMsgOpensslTest, OtherContentTypesReportTheirType)
{
    ASSERT_TRUE(Shell("openssl cms -data_create -binary -outform DER -in " + contentFile_ +
                      " -out " + dir_.File("data")));
    EXPECT_EQ(MessageType(Read("data")), (DWORD)CMSG_DATA);
    ASSERT_TRUE(Shell("openssl cms -digest_create -binary -outform DER -in " + contentFile_ +
                      " -out " + dir_.File("digest")));
    EXPECT_EQ(MessageType(Read("digest")), (DWORD)CMSG_HASHED);
    ASSERT_TRUE(Shell("openssl cms -EncryptedData_encrypt -aes128 -secretkey "
                      "000102030405060708090A0B0C0D0E0F -binary -outform DER -in " +
                      contentFile_ + " -out " + dir_.File("encrypted")));
    EXPECT_EQ(MessageType(Read("encrypted")), (DWORD)CMSG_ENCRYPTED);

    // A certificate bag: signed-data without signers.
    ASSERT_TRUE(Shell("openssl crl2pkcs7 -nocrl -outform DER -certfile " + alice_.certPem +
                      " -out " + dir_.File("certs")));
    ByteString bag = Read("certs");
    EXPECT_EQ(MessageType(bag), (DWORD)CMSG_SIGNED);
    HCRYPTMSG msg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    ASSERT_TRUE(CryptMsgUpdate(msg, bag.data(), (DWORD)bag.size(), TRUE));
    DWORD size = 0;
    EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_SIGNER_HASH_ALGORITHM_PARAM, 0, nullptr, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_INVALID_INDEX);
    CryptMsgClose(msg);
    DWORD error = 0;
    VerifyOpaque(bag, &error);
    EXPECT_EQ(error, CRYPT_E_NO_SIGNER);
}

TEST_F(CryptMsgOpensslTest, AuthenticatedAttributesAreSignedAndCarried)
{
    BYTE value[] = {0x0C, 0x05, 'h', 'e', 'l', 'l', 'o'};
    CRYPT_ATTR_BLOB blob = {sizeof value, value};
    CRYPT_ATTRIBUTE attribute = {(LPSTR)"1.2.3.4.5", 1, &blob};
    CRYPT_SIGN_MESSAGE_PARA para = SignParams(aliceContext_, szOID_NIST_sha256, &aliceContext_);
    para.cAuthAttr = 1;
    para.rgAuthAttr = &attribute;
    ByteString content = ToBytes(kContent);
    const BYTE* pieces[] = {content.data()};
    DWORD sizes[] = {(DWORD)content.size()};
    DWORD size = 0;
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, nullptr, &size));
    ByteString signedBlob(size);
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, signedBlob.data(), &size));
    signedBlob.resize(size);

    DWORD error = 0;
    EXPECT_EQ(VerifyOpaque(signedBlob, &error), content);
    std::string file = Write("attrs.p7m", signedBlob);
    ASSERT_TRUE(Shell("openssl cms -verify -noverify -binary -inform DER -in " + file + " -out " +
                      dir_.File("out")));
    EXPECT_EQ(Read("out"), content);
    ASSERT_TRUE(Shell("openssl cms -cmsout -print -inform DER -in " + file + " -out " + dir_.File("print")));
    std::string printed = ReadFile(dir_.File("print"));
    EXPECT_NE(printed.find("1.2.3.4.5"), std::string::npos);
    EXPECT_NE(printed.find("messageDigest"), std::string::npos);

    // With attributes the content is bound by messageDigest.
    auto at = std::search(signedBlob.begin(), signedBlob.end(), content.begin(), content.end());
    ASSERT_NE(at, signedBlob.end());
    *at ^= 0x01;
    VerifyOpaque(signedBlob, &error);
    EXPECT_EQ(error, CRYPT_E_HASH_VALUE);
}
