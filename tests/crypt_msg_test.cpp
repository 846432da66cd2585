// The message half of the crypt32 layer through its own API: signing and
// verifying, encrypting and decrypting, message inspection, RC2 parameters,
// and hostile input.
#include "support/crypt_msg_helpers.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace {

const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

class CryptMsgTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const TestPki& pki = TestPki::Instance();
        alice_ = LoadCertContext(pki.Get("alice"), true);
        bob_ = LoadCertContext(pki.Get("bob"), true);
        carol_ = LoadCertContext(pki.Get("carol"), true);
        alicePublic_ = LoadCertContext(pki.Get("alice"), false);
        ASSERT_NE(alice_, nullptr);
        ASSERT_NE(bob_, nullptr);
        ASSERT_NE(carol_, nullptr);
    }
    void TearDown() override
    {
        for (PCCERT_CONTEXT c : {alice_, bob_, carol_, alicePublic_})
            CertFreeCertificateContext(c);
    }

    static bool SameCert(PCCERT_CONTEXT a, PCCERT_CONTEXT b)
    {
        return a && b && a->cbCertEncoded == b->cbCertEncoded &&
               memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
    }

    PCCERT_CONTEXT alice_ = nullptr, bob_ = nullptr, carol_ = nullptr, alicePublic_ = nullptr;
};

const std::string kText = "Subject: test\r\n\r\nline one\r\nline two without end";

}  // namespace

TEST_F(CryptMsgTest, SignedMessagesVerifyWithEachHash)
{
    ByteString content = ToBytes(kText);
    content.push_back(0);  // binary content survives untouched
    content.push_back('\n');
    for (const char* oid : {szOID_OIWSEC_sha1, szOID_RSA_MD5, szOID_NIST_sha256}) {
        SCOPED_TRACE(oid);
        ByteString blob = LayerSign(alice_, oid, false, content);
        ASSERT_FALSE(blob.empty());
        DWORD error = 0;
        PCCERT_CONTEXT signer = nullptr;
        EXPECT_EQ(VerifyOpaque(blob, &error, &signer), content);
        EXPECT_EQ(error, 0u);
        EXPECT_TRUE(SameCert(signer, alice_));
        CertFreeCertificateContext(signer);

        std::string hashOid;
        ByteString parameters;
        ASSERT_TRUE(MessageAlgorithm(blob, CMSG_SIGNER_HASH_ALGORITHM_PARAM, &hashOid, &parameters));
        EXPECT_EQ(hashOid, oid);

        ByteString detached = LayerSign(alice_, oid, true, content);
        ASSERT_FALSE(detached.empty());
        EXPECT_LT(detached.size(), blob.size());
        EXPECT_EQ(VerifyDetached(detached, content), 0u);
    }
}

TEST_F(CryptMsgTest, SignSizeQueryThenFillGivesTheSameBytesAndRefusesSmallBuffers)
{
    ByteString content = ToBytes(kText);
    CRYPT_SIGN_MESSAGE_PARA para = SignParams(alice_, szOID_OIWSEC_sha1, &alice_);
    const BYTE* pieces[] = {content.data()};
    DWORD sizes[] = {(DWORD)content.size()};
    DWORD size = 0;
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, nullptr, &size));
    ByteString first(size + 10), second(size);
    DWORD firstSize = (DWORD)first.size();
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, first.data(), &firstSize));
    EXPECT_EQ(firstSize, size);
    DWORD small = size - 1;
    EXPECT_FALSE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, second.data(), &small));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    EXPECT_EQ(small, size);
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, second.data(), &size));
    first.resize(firstSize);
    EXPECT_EQ(first, second);
}

TEST_F(CryptMsgTest, SignRefusesMissingKeyAndUnknownHash)
{
    ByteString content = ToBytes("x");
    EXPECT_TRUE(LayerSign(alicePublic_, szOID_OIWSEC_sha1, false, content).empty());
    EXPECT_EQ(GetLastError(), CRYPT_E_NO_KEY_PROPERTY);
    EXPECT_TRUE(LayerSign(alice_, "1.2.3.4", false, content).empty());
    EXPECT_EQ(GetLastError(), CRYPT_E_UNKNOWN_ALGO);
}

TEST_F(CryptMsgTest, DetachedSignatureOverSeveralPiecesCoversTheirConcatenation)
{
    CRYPT_SIGN_MESSAGE_PARA para = SignParams(alice_, szOID_OIWSEC_sha1, &alice_);
    const BYTE* pieces[] = {(const BYTE*)"abc", (const BYTE*)"def"};
    DWORD sizes[] = {3, 3};
    DWORD size = 0;
    ASSERT_TRUE(CryptSignMessage(&para, TRUE, 2, pieces, sizes, nullptr, &size));
    ByteString blob(size);
    ASSERT_TRUE(CryptSignMessage(&para, TRUE, 2, pieces, sizes, blob.data(), &size));
    EXPECT_EQ(VerifyDetached(blob, ToBytes("abcdef")), 0u);
    EXPECT_EQ(VerifyDetached(blob, ToBytes("abcdeF")), CRYPT_E_HASH_VALUE);
}

TEST_F(CryptMsgTest, TamperedMessagesFailWithTheWindowsCodes)
{
    ByteString content = ToBytes(kText);
    ByteString blob = LayerSign(alice_, szOID_OIWSEC_sha1, false, content);
    ASSERT_FALSE(blob.empty());
    DWORD error = 0;

    // The signature is the last field of the message.
    ByteString badSignature = blob;
    badSignature[badSignature.size() - 5] ^= 0x01;
    EXPECT_TRUE(VerifyOpaque(badSignature, &error).empty());
    EXPECT_EQ(error, (DWORD)NTE_BAD_SIGNATURE);

    ByteString badContent = blob;
    auto at = std::search(badContent.begin(), badContent.end(), content.begin(), content.end());
    ASSERT_NE(at, badContent.end());
    *(at + 3) ^= 0x20;
    EXPECT_TRUE(VerifyOpaque(badContent, &error).empty());
    EXPECT_EQ(error, CRYPT_E_HASH_VALUE);

    ByteString detached = LayerSign(alice_, szOID_OIWSEC_sha1, true, content);
    EXPECT_EQ(VerifyDetached(detached, ToBytes(kText + " ")), CRYPT_E_HASH_VALUE);

    // A signed message is not an enveloped one, and the other way round.
    HCERTSTORE store = StoreWith({alice_});
    EXPECT_TRUE(Decrypt(blob, store, &error).empty());
    EXPECT_EQ(error, CRYPT_E_UNEXPECTED_MSG_TYPE);
    CertCloseStore(store, 0);
    ByteString enveloped = LayerEncrypt({alice_}, szOID_RSA_DES_EDE3_CBC, {}, content);
    EXPECT_TRUE(VerifyOpaque(enveloped, &error).empty());
    EXPECT_EQ(error, CRYPT_E_UNEXPECTED_MSG_TYPE);
}

namespace {

struct CallbackRecord {
    int calls = 0;
    ByteString issuer;
    ByteString serial;
    bool storeHadSigner = false;
    bool returnNothing = false;
};

PCCERT_CONTEXT WINAPI RecordingGetSigner(void* arg, DWORD encoding, PCERT_INFO signerId,
                                         HCERTSTORE messageStore)
{
    auto* record = (CallbackRecord*)arg;
    ++record->calls;
    record->issuer.assign(signerId->Issuer.pbData, signerId->Issuer.pbData + signerId->Issuer.cbData);
    record->serial.assign(signerId->SerialNumber.pbData,
                          signerId->SerialNumber.pbData + signerId->SerialNumber.cbData);
    PCCERT_CONTEXT cert = CertGetSubjectCertificateFromStore(messageStore, encoding, signerId);
    record->storeHadSigner = cert != nullptr;
    if (record->returnNothing) {
        CertFreeCertificateContext(cert);
        return nullptr;
    }
    return cert;
}

}  // namespace

TEST_F(CryptMsgTest, SignerComesFromTheCallbackWithIssuerAndSerial)
{
    ByteString content = ToBytes(kText);
    ByteString blob = LayerSign(alice_, szOID_OIWSEC_sha1, false, content);
    CallbackRecord record;
    CRYPT_VERIFY_MESSAGE_PARA para = VerifyParams();
    para.pfnGetSignerCertificate = RecordingGetSigner;
    para.pvGetArg = &record;
    PCCERT_CONTEXT signer = nullptr;
    DWORD size = 0;
    ASSERT_TRUE(CryptVerifyMessageSignature(&para, 0, blob.data(), (DWORD)blob.size(), nullptr,
                                            &size, &signer));
    EXPECT_EQ(size, content.size());
    EXPECT_EQ(record.calls, 1);
    EXPECT_TRUE(record.storeHadSigner);
    EXPECT_TRUE(SameCert(signer, alice_));
    CertFreeCertificateContext(signer);
    const CERT_INFO* info = alice_->pCertInfo;
    if (info != nullptr && info->Issuer.cbData > 0) {
        EXPECT_EQ(record.issuer, ByteString(info->Issuer.pbData, info->Issuer.pbData + info->Issuer.cbData));
        EXPECT_EQ(record.serial, ByteString(info->SerialNumber.pbData,
                                            info->SerialNumber.pbData + info->SerialNumber.cbData));
    }

    record.returnNothing = true;
    signer = (PCCERT_CONTEXT)1;
    EXPECT_FALSE(CryptVerifyMessageSignature(&para, 0, blob.data(), (DWORD)blob.size(), nullptr,
                                             &size, &signer));
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    EXPECT_EQ(signer, nullptr);

    EXPECT_FALSE(CryptVerifyMessageSignature(&para, 1, blob.data(), (DWORD)blob.size(), nullptr,
                                             &size, nullptr));
    EXPECT_EQ(GetLastError(), CRYPT_E_NO_SIGNER);
}

TEST_F(CryptMsgTest, SignatureWithoutItsCertificateDoesNotVerify)
{
    CRYPT_SIGN_MESSAGE_PARA para = SignParams(alice_, szOID_OIWSEC_sha1, &bob_);  // only bob's certificate travels
    const BYTE* pieces[] = {(const BYTE*)"data"};
    DWORD sizes[] = {4};
    DWORD size = 0;
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, nullptr, &size));
    ByteString blob(size);
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, pieces, sizes, blob.data(), &size));
    DWORD error = 0;
    EXPECT_TRUE(VerifyOpaque(blob, &error).empty());
    EXPECT_EQ(error, CRYPT_E_NOT_FOUND);
}

TEST_F(CryptMsgTest, EncryptedMessagesDecryptWithEachCipher)
{
    ByteString content = ToBytes(kText);
    content.push_back(0);
    BYTE rc2_128[] = {0x30, 0x03, 0x02, 0x01, 0x3A};
    BYTE rc2_64[] = {0x30, 0x03, 0x02, 0x01, 0x78};
    struct Case {
        const char* oid;
        ByteString parameters;
        DWORD rc2Version;  // expected in the output, 0 for other ciphers
    } cases[] = {
        {szOID_RSA_RC2CBC, {}, 160},
        {szOID_RSA_RC2CBC, ByteString(rc2_128, rc2_128 + 5), 58},
        {szOID_RSA_RC2CBC, ByteString(rc2_64, rc2_64 + 5), 120},
        {szOID_OIWSEC_desCBC, {}, 0},
        {szOID_RSA_DES_EDE3_CBC, {}, 0},
        {szOID_NIST_AES128_CBC, {}, 0},
        {szOID_NIST_AES256_CBC, {}, 0},
    };
    HCERTSTORE store = StoreWith({bob_});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.oid) + " " + std::to_string(c.rc2Version));
        ByteString blob = LayerEncrypt({alice_, bob_}, c.oid, c.parameters, content);
        ASSERT_FALSE(blob.empty());
        EXPECT_EQ(MessageType(blob), (DWORD)CMSG_ENVELOPED);
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
            EXPECT_TRUE(rc2.fIV);
        }
        DWORD error = 0;
        PCCERT_CONTEXT used = nullptr;
        EXPECT_EQ(Decrypt(blob, store, &error, &used), content);
        EXPECT_EQ(error, 0u);
        EXPECT_TRUE(SameCert(used, bob_));
        CertFreeCertificateContext(used);
    }
    CertCloseStore(store, 0);
}

// The encrypted content is framed by hand around OpenSSL's DER and decrypted
// where it lies: every length form of the elements around it, read back by
// the general decoder and decrypted straight into a buffer of the blob's size.
TEST_F(CryptMsgTest, EnvelopesOfEveryLengthFormReadBack)
{
    HCERTSTORE store = StoreWith({bob_});
    CRYPT_DECRYPT_MESSAGE_PARA para = DecryptParams(&store);
    for (size_t length : {0, 1, 8, 119, 120, 247, 248, 65519, 65528, 70000}) {
        SCOPED_TRACE(length);
        ByteString content(length, 0);
        for (size_t i = 0; i < length; ++i)
            content[i] = (BYTE)(i * 7);
        ByteString blob = LayerEncrypt({alice_, bob_}, szOID_RSA_DES_EDE3_CBC, {}, content);
        ASSERT_FALSE(blob.empty());
        EXPECT_EQ(MessageType(blob), (DWORD)CMSG_ENVELOPED);
        ByteString out(blob.size());
        DWORD size = (DWORD)out.size();
        ASSERT_TRUE(CryptDecryptMessage(&para, blob.data(), (DWORD)blob.size(), out.data(), &size, nullptr));
        out.resize(size);
        EXPECT_EQ(out, content);
    }
    CertCloseStore(store, 0);
}

TEST_F(CryptMsgTest, DecryptionNeedsAStoredCertificateWithItsKey)
{
    ByteString blob = LayerEncrypt({alice_}, szOID_RSA_DES_EDE3_CBC, {}, ToBytes(kText));
    ASSERT_FALSE(blob.empty());
    DWORD error = 0;
    HCERTSTORE others = StoreWith({bob_, carol_});
    EXPECT_TRUE(Decrypt(blob, others, &error).empty());
    EXPECT_EQ(error, CRYPT_E_NO_DECRYPT_CERT);
    CertCloseStore(others, 0);
    HCERTSTORE withoutKey = StoreWith({alicePublic_});
    EXPECT_TRUE(Decrypt(blob, withoutKey, &error).empty());
    EXPECT_EQ(error, CRYPT_E_NO_DECRYPT_CERT);
    CertCloseStore(withoutKey, 0);

    // Size query, too-small buffer, exact buffer.
    HCERTSTORE store = StoreWith({alice_});
    CRYPT_DECRYPT_MESSAGE_PARA para = DecryptParams(&store);
    DWORD size = 0;
    ASSERT_TRUE(CryptDecryptMessage(&para, blob.data(), (DWORD)blob.size(), nullptr, &size, nullptr));
    EXPECT_EQ(size, kText.size());
    ByteString out(size);
    DWORD small = size - 1;
    EXPECT_FALSE(CryptDecryptMessage(&para, blob.data(), (DWORD)blob.size(), out.data(), &small, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    EXPECT_EQ(small, size);
    CertCloseStore(store, 0);
}

TEST_F(CryptMsgTest, EncryptSizeQueryIsEnoughForTheFill)
{
    CRYPT_ENCRYPT_MESSAGE_PARA para = {};
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = kEncoding;
    para.ContentEncryptionAlgorithm.pszObjId = (LPSTR)szOID_RSA_RC2CBC;
    PCCERT_CONTEXT recipients[] = {alice_};
    ByteString content = ToBytes(kText);
    DWORD size = 0;
    ASSERT_TRUE(CryptEncryptMessage(&para, 1, recipients, content.data(), (DWORD)content.size(),
                                    nullptr, &size));
    ByteString blob(size);
    DWORD filled = size;
    ASSERT_TRUE(CryptEncryptMessage(&para, 1, recipients, content.data(), (DWORD)content.size(),
                                    blob.data(), &filled));
    EXPECT_EQ(filled, size);
    para.ContentEncryptionAlgorithm.pszObjId = (LPSTR)"1.2.3.4.5";
    EXPECT_FALSE(CryptEncryptMessage(&para, 1, recipients, content.data(), (DWORD)content.size(),
                                     nullptr, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_UNKNOWN_ALGO);
}

// The fill call may reuse the size query's work only for the very same
// input: a buffer refilled in place between the two calls is signed,
// verified or decrypted afresh.
TEST_F(CryptMsgTest, FillCallAfterAQueryFollowsTheInputsCurrentBytes)
{
    ByteString content = ToBytes(kText), other = ToBytes(kText);
    other[other.size() / 2] ^= 0x20;
    CRYPT_SIGN_MESSAGE_PARA sign = {};
    sign.cbSize = sizeof sign;
    sign.dwMsgEncodingType = kEncoding;
    sign.pSigningCert = alice_;
    sign.HashAlgorithm.pszObjId = (LPSTR)szOID_OIWSEC_sha1;
    sign.cMsgCert = 1;
    sign.rgpMsgCert = &alice_;
    ByteString buffer = content;
    const BYTE* pieces[] = {buffer.data()};
    DWORD sizes[] = {(DWORD)buffer.size()};
    DWORD size = 0;
    ASSERT_TRUE(CryptSignMessage(&sign, FALSE, 1, pieces, sizes, nullptr, &size));
    std::copy(other.begin(), other.end(), buffer.begin());
    ByteString blob(size);
    ASSERT_TRUE(CryptSignMessage(&sign, FALSE, 1, pieces, sizes, blob.data(), &size));
    blob.resize(size);
    DWORD error = 0;
    EXPECT_EQ(VerifyOpaque(blob, &error), other);

    // Verification: the query's content is not handed out for another message.
    ByteString signedText = LayerSign(alice_, szOID_OIWSEC_sha1, false, content);
    ByteString message = signedText;
    CRYPT_VERIFY_MESSAGE_PARA verify = VerifyParams();
    ASSERT_TRUE(CryptVerifyMessageSignature(&verify, 0, message.data(), (DWORD)message.size(),
                                            nullptr, &size, nullptr));
    ASSERT_EQ(blob.size(), message.size());
    std::copy(blob.begin(), blob.end(), message.begin());  // same length: one more signed body
    ByteString decoded(size);
    ASSERT_TRUE(CryptVerifyMessageSignature(&verify, 0, message.data(), (DWORD)message.size(),
                                            decoded.data(), &size, nullptr));
    decoded.resize(size);
    EXPECT_EQ(decoded, other);

    // Decryption: a buffer found too small reports the exact size, and the
    // next call fills it.
    ByteString enveloped = LayerEncrypt({bob_}, szOID_RSA_DES_EDE3_CBC, {}, content);
    HCERTSTORE store = StoreWith({bob_});
    CRYPT_DECRYPT_MESSAGE_PARA decrypt = DecryptParams(&store);
    size = 0;
    ASSERT_TRUE(CryptDecryptMessage(&decrypt, enveloped.data(), (DWORD)enveloped.size(), nullptr,
                                    &size, nullptr));
    EXPECT_EQ(size, content.size());
    ByteString plain(size);
    DWORD small = size - 1;
    EXPECT_FALSE(CryptDecryptMessage(&decrypt, enveloped.data(), (DWORD)enveloped.size(),
                                     plain.data(), &small, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    EXPECT_EQ(small, size);
    PCCERT_CONTEXT used = nullptr;
    ASSERT_TRUE(CryptDecryptMessage(&decrypt, enveloped.data(), (DWORD)enveloped.size(),
                                    plain.data(), &size, &used));
    EXPECT_EQ(plain, content);
    EXPECT_TRUE(SameCert(used, bob_));
    CertFreeCertificateContext(used);

    // A query left unanswered is forgotten by the next call, whatever it is.
    ByteString otherEnveloped = LayerEncrypt({bob_}, szOID_RSA_DES_EDE3_CBC, {}, other);
    ASSERT_TRUE(CryptDecryptMessage(&decrypt, enveloped.data(), (DWORD)enveloped.size(), nullptr,
                                    &size, nullptr));
    ASSERT_EQ(otherEnveloped.size(), enveloped.size());
    std::copy(otherEnveloped.begin(), otherEnveloped.end(), enveloped.begin());
    ASSERT_TRUE(CryptDecryptMessage(&decrypt, enveloped.data(), (DWORD)enveloped.size(),
                                    plain.data(), &size, nullptr));
    EXPECT_EQ(plain, other);
    CertCloseStore(store, 0);
}

TEST(Rc2ParametersTest, EncodeAndDecodeFollowTheVersionEncoding)
{
    CRYPT_RC2_CBC_PARAMETERS in = {CRYPT_RC2_128BIT_VERSION, FALSE, {}};
    DWORD size = 0;
    ASSERT_TRUE(CryptEncodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, &in, nullptr, &size));
    ByteString der(size);
    ASSERT_TRUE(CryptEncodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, &in, der.data(), &size));
    EXPECT_EQ(der, (ByteString{0x30, 0x03, 0x02, 0x01, 0x3A}));

    CRYPT_RC2_CBC_PARAMETERS withIv = {CRYPT_RC2_40BIT_VERSION, TRUE, {1, 2, 3, 4, 5, 6, 7, 8}};
    size = 0;
    ASSERT_TRUE(CryptEncodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, &withIv, nullptr, &size));
    der.resize(size);
    ASSERT_TRUE(CryptEncodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, &withIv, der.data(), &size));
    EXPECT_EQ(der, (ByteString{0x30, 0x0E, 0x02, 0x02, 0x00, 0xA0, 0x04, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}));

    CRYPT_RC2_CBC_PARAMETERS out = {};
    size = 0;
    ASSERT_TRUE(CryptDecodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, der.data(), (DWORD)der.size(),
                                  0, nullptr, &size));
    EXPECT_EQ(size, 16u);
    DWORD small = 15;
    EXPECT_FALSE(CryptDecodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, der.data(), (DWORD)der.size(),
                                   0, &out, &small));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    ASSERT_TRUE(CryptDecodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, der.data(), (DWORD)der.size(),
                                  0, &out, &size));
    EXPECT_EQ(out.dwVersion, 160u);
    EXPECT_TRUE(out.fIV);
    EXPECT_EQ(memcmp(out.rgbIV, withIv.rgbIV, 8), 0);

    BYTE notSequence[] = {0x04, 0x08, 1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_FALSE(CryptDecodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, notSequence,
                                   sizeof notSequence, 0, &out, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_BADTAG);
    BYTE truncated[] = {0x30, 0x0E, 0x02, 0x02, 0x00};
    EXPECT_FALSE(CryptDecodeObject(kEncoding, PKCS_RC2_CBC_PARAMETERS, truncated, sizeof truncated,
                                   0, &out, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_EOD);
}

TEST_F(CryptMsgTest, MessageParamsFollowTheSizeQueryPattern)
{
    ByteString blob = LayerSign(alice_, szOID_OIWSEC_sha1, false, ToBytes(kText));
    HCRYPTMSG msg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    ASSERT_NE(msg, nullptr);
    // Fed in two pieces: nothing is parsed before the final one.
    ASSERT_TRUE(CryptMsgUpdate(msg, blob.data(), 10, FALSE));
    ASSERT_TRUE(CryptMsgUpdate(msg, blob.data() + 10, (DWORD)blob.size() - 10, TRUE));
    DWORD type = 0, size = 0;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_TYPE_PARAM, 0, nullptr, &size));
    EXPECT_EQ(size, 4u);
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_TYPE_PARAM, 0, &type, &size));
    EXPECT_EQ(type, (DWORD)CMSG_SIGNED);
    DWORD count = 0;
    size = sizeof count;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_COUNT_PARAM, 0, &count, &size));
    EXPECT_EQ(count, 1u);

    size = 0;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_HASH_ALGORITHM_PARAM, 0, nullptr, &size));
    EXPECT_GT(size, sizeof(CRYPT_ALGORITHM_IDENTIFIER) + strlen(szOID_OIWSEC_sha1));
    std::vector<BYTE> buffer(size);
    DWORD small = size - 1;
    EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_SIGNER_HASH_ALGORITHM_PARAM, 0, buffer.data(), &small));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    EXPECT_EQ(small, size);
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_SIGNER_HASH_ALGORITHM_PARAM, 0, buffer.data(), &size));
    auto* algorithm = (CRYPT_ALGORITHM_IDENTIFIER*)buffer.data();
    EXPECT_STREQ(algorithm->pszObjId, szOID_OIWSEC_sha1);
    EXPECT_GE((BYTE*)algorithm->pszObjId, buffer.data() + sizeof *algorithm);
    EXPECT_LT((BYTE*)algorithm->pszObjId, buffer.data() + size);

    EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_SIGNER_HASH_ALGORITHM_PARAM, 1, nullptr, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_INVALID_INDEX);
    EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_ENVELOPE_ALGORITHM_PARAM, 0, nullptr, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_INVALID_MSG_TYPE);

    size = 0;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, nullptr, &size));
    std::string content(size, '\0');
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, &content[0], &size));
    EXPECT_EQ(content, kText);
    EXPECT_TRUE(CryptMsgClose(msg));
}

namespace {

DWORD UpdateError(const ByteString& bytes)
{
    HCRYPTMSG msg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    DWORD error = 0;
    if (!CryptMsgUpdate(msg, bytes.data(), (DWORD)bytes.size(), TRUE))
        error = GetLastError();
    CryptMsgClose(msg);
    return error;
}

}  // namespace

TEST_F(CryptMsgTest, NonMessagesAreRefusedWithAsn1Codes)
{
    EXPECT_EQ(UpdateError(ToBytes("From: someone\r\n\r\nhello")), CRYPT_E_ASN1_BADTAG);
    EXPECT_EQ(UpdateError({}), CRYPT_E_ASN1_EOD);
    ByteString blob = LayerSign(alice_, szOID_OIWSEC_sha1, false, ToBytes(kText));
    EXPECT_EQ(UpdateError(ByteString(blob.begin(), blob.begin() + blob.size() / 2)),
              CRYPT_E_ASN1_EOD);
    // A well-formed sequence that is no ContentInfo.
    EXPECT_NE(UpdateError({0x30, 0x03, 0x02, 0x01, 0x05}), 0u);
    // An unknown content type.
    EXPECT_EQ(UpdateError({0x30, 0x06, 0x06, 0x04, 0x2A, 0x03, 0x04, 0x05}), CRYPT_E_INVALID_MSG_TYPE);
}

TEST_F(CryptMsgTest, DamagedMessagesNeverCrashAnyFunction)
{
    ByteString signedBlob = LayerSign(alice_, szOID_NIST_sha256, false, ToBytes(kText));
    ByteString envelopedBlob = LayerEncrypt({alice_}, szOID_RSA_RC2CBC, {}, ToBytes(kText));
    HCERTSTORE store = StoreWith({alice_});
    unsigned seed = 12345;
    for (const ByteString& original : {signedBlob, envelopedBlob}) {
        for (size_t cut = 0; cut < original.size(); cut += 7) {
            ByteString damaged(original.begin(), original.begin() + cut);
            DWORD error = 0;
            VerifyOpaque(damaged, &error);
            EXPECT_NE(error, 0u);
            Decrypt(damaged, store, &error);
            EXPECT_NE(error, 0u);
            MessageType(damaged);
        }
        for (int round = 0; round < 300; ++round) {
            ByteString damaged = original;
            for (int flips = 0; flips < 3; ++flips) {
                seed = seed * 1103515245 + 12345;
                damaged[(seed >> 8) % damaged.size()] ^= (BYTE)(1 + (seed >> 20) % 255);
            }
            DWORD error = 0;
            VerifyOpaque(damaged, &error);
            Decrypt(damaged, store, &error);
            std::string oid;
            ByteString parameters;
            MessageAlgorithm(damaged, CMSG_ENVELOPE_ALGORITHM_PARAM, &oid, &parameters);
            MessageAlgorithm(damaged, CMSG_SIGNER_HASH_ALGORITHM_PARAM, &oid, &parameters);
        }
    }
    CertCloseStore(store, 0);
}

// The way the plug-in uses the layer: keys of the user's "MY" store.
TEST_F(CryptMsgTest, SystemStoreKeysDecryptAndSignWithoutLeakingContexts)
{
    TempDir home;
    const char* previous = getenv("XDG_DATA_HOME");
    std::string saved = previous ? previous : "";
    setenv("XDG_DATA_HOME", home.path().c_str(), 1);
    const TestPki& pki = TestPki::Instance();
    InstallCert("MY", pki.Get("bob"), true);
    InstallCert("MY", pki.Get("alice"), false);

    HCERTSTORE my = CertOpenSystemStoreA(0, "MY");
    ASSERT_NE(my, nullptr);
    ByteString content = ToBytes(kText);
    DWORD error = 0;
    PCCERT_CONTEXT used = nullptr;
    ByteString forBob = LayerEncrypt({bob_}, szOID_RSA_RC2CBC, {}, content);
    EXPECT_EQ(Decrypt(forBob, my, &error, &used), content);
    EXPECT_EQ(error, 0u);
    EXPECT_TRUE(SameCert(used, bob_));
    CertFreeCertificateContext(used);
    // alice is in "MY" without her key.
    ByteString forAlice = LayerEncrypt({alice_}, szOID_RSA_RC2CBC, {}, content);
    EXPECT_TRUE(Decrypt(forAlice, my, &error).empty());
    EXPECT_EQ(error, CRYPT_E_NO_DECRYPT_CERT);

    PCCERT_CONTEXT stored = nullptr;
    while ((stored = CertEnumCertificatesInStore(my, stored)) != nullptr && !SameCert(stored, bob_)) {
    }
    ASSERT_NE(stored, nullptr);
    ByteString blob = LayerSign(stored, szOID_OIWSEC_sha1, false, content);
    CertFreeCertificateContext(stored);
    PCCERT_CONTEXT signer = nullptr;
    EXPECT_EQ(VerifyOpaque(blob, &error, &signer), content);
    EXPECT_TRUE(SameCert(signer, bob_));
    CertFreeCertificateContext(signer);

    EXPECT_TRUE(CertCloseStore(my, CERT_CLOSE_STORE_CHECK_FLAG));
    if (previous)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

namespace {

// The content inside a ContentInfo: what a decoder given the type up front reads.
ByteString BareContent(const ByteString& contentInfo)
{
    const unsigned char* p = contentInfo.data();
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, (long)contentInfo.size()) & 0x80)
        return {};
    if (ASN1_get_object(&p, &length, &tag, &cls, (long)contentInfo.size()) & 0x80)
        return {};
    p += length;  // past the content type
    if (ASN1_get_object(&p, &length, &tag, &cls, (long)(contentInfo.data() + contentInfo.size() - p)) & 0x80)
        return {};
    return ByteString(p, p + length);
}

}  // namespace

TEST_F(CryptMsgTest, CertificatesRecipientsAndBareContent)
{
    ByteString signedBlob = LayerSign(alice_, szOID_OIWSEC_sha1, false, ToBytes(kText));
    HCRYPTMSG msg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    ASSERT_TRUE(CryptMsgUpdate(msg, signedBlob.data(), (DWORD)signedBlob.size(), TRUE));
    DWORD count = 0, size = sizeof count;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CERT_COUNT_PARAM, 0, &count, &size));
    EXPECT_EQ(count, 1u);
    size = 0;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CERT_PARAM, 0, nullptr, &size));
    ByteString cert(size);
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CERT_PARAM, 0, cert.data(), &size));
    EXPECT_EQ(cert, ByteString(alice_->pbCertEncoded, alice_->pbCertEncoded + alice_->cbCertEncoded));
    EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_CERT_PARAM, 1, nullptr, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_INVALID_INDEX);
    CryptMsgClose(msg);

    ByteString enveloped = LayerEncrypt({alice_, bob_}, szOID_RSA_DES_EDE3_CBC, {}, ToBytes(kText));
    msg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    ASSERT_TRUE(CryptMsgUpdate(msg, enveloped.data(), (DWORD)enveloped.size(), TRUE));
    size = sizeof count;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_RECIPIENT_COUNT_PARAM, 0, &count, &size));
    EXPECT_EQ(count, 2u);
    EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, nullptr, &size));
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_DECRYPTED);
    CryptMsgClose(msg);

    // With the type given, the data is the content without its ContentInfo.
    ByteString bare = BareContent(signedBlob);
    ASSERT_FALSE(bare.empty());
    msg = CryptMsgOpenToDecode(kEncoding, 0, CMSG_SIGNED, 0, nullptr, nullptr);
    ASSERT_TRUE(CryptMsgUpdate(msg, bare.data(), (DWORD)bare.size(), TRUE));
    size = 0;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, nullptr, &size));
    EXPECT_EQ(size, kText.size());
    CryptMsgClose(msg);
    msg = CryptMsgOpenToDecode(kEncoding, 0, CMSG_ENVELOPED, 0, nullptr, nullptr);
    EXPECT_FALSE(CryptMsgUpdate(msg, bare.data(), (DWORD)bare.size(), TRUE));
    CryptMsgClose(msg);
}

namespace {

// `count` distinct throw-away certificates: one made, the others copies
// with other serial numbers (their signatures are never checked).
std::vector<PCCERT_CONTEXT> FillerCerts(int count)
{
    const unsigned char kSerial[] = {0x02, 0x04, 0x7E, 0x57, 0xF1, 0x11};  // INTEGER 0x7E57F111
    X509* x = X509_new();
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    ASN1_INTEGER_set(X509_get_serialNumber(x), 0x7E57F111);
    X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", MBSTRING_ASC,
                               (const unsigned char*)"filler", -1, -1, 0);
    X509_set_issuer_name(x, X509_get_subject_name(x));
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_set_pubkey(x, key);
    unsigned char* der = nullptr;
    int length = X509_sign(x, key, nullptr) > 0 ? i2d_X509(x, &der) : 0;
    ByteString cert(der, der + std::max(length, 0));
    OPENSSL_free(der);
    EVP_PKEY_free(key);
    X509_free(x);

    std::vector<PCCERT_CONTEXT> certs;
    auto serial = std::search(cert.begin(), cert.end(), kSerial, kSerial + sizeof kSerial);
    for (int i = 0; serial != cert.end() && i < count; ++i) {
        for (int b = 0; b < 3; ++b)
            serial[3 + b] = (BYTE)(i >> (16 - 8 * b));
        certs.push_back(CertCreateCertificateContext(X509_ASN_ENCODING, cert.data(), (DWORD)cert.size()));
    }
    return certs;
}

}  // namespace

// A message may carry any number of certificates; reading them costs in
// proportion to their number (when each one added to the message's store
// was compared with all before it, 16,000 of them took a minute).
TEST_F(CryptMsgTest, AMessageWithThousandsOfCertificatesVerifiesAndListsThemAll)
{
    const int kFillers = 8000;
    std::vector<PCCERT_CONTEXT> carried = FillerCerts(kFillers);
    ASSERT_EQ(carried.size(), (size_t)kFillers);
    carried.push_back(alice_);
    CRYPT_SIGN_MESSAGE_PARA para = SignParams(alice_, szOID_NIST_sha256, carried.data());
    para.cMsgCert = (DWORD)carried.size();
    ByteString content = ToBytes(kText);
    ByteString blob = SignWith(&para, false, content);
    ASSERT_FALSE(blob.empty());
    carried.pop_back();
    for (PCCERT_CONTEXT c : carried)
        CertFreeCertificateContext(c);

    DWORD error = 0;
    PCCERT_CONTEXT signer = nullptr;
    EXPECT_EQ(VerifyOpaque(blob, &error, &signer), content);
    EXPECT_TRUE(SameCert(signer, alice_));
    CertFreeCertificateContext(signer);

    HCERTSTORE store = CryptGetMessageCertificates(kEncoding, 0, 0, blob.data(), (DWORD)blob.size());
    ASSERT_NE(store, nullptr);
    int count = 0;
    for (PCCERT_CONTEXT c = nullptr; (c = CertEnumCertificatesInStore(store, c)) != nullptr;)
        ++count;
    EXPECT_EQ(count, kFillers + 1);
    CertCloseStore(store, 0);
}
