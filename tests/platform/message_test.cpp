// Cryptographic messages: size queries, parameters, verification, signing,
// encryption and decryption, on fixed messages made by openssl.
#include <string.h>

#include <vector>

#include "platform_test.h"

namespace {

const WCHAR kPassword[] = {'t', 'e', 's', 't', 0};
const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// alice's certificate with her private key, in the store PFXImportCertStore makes.
struct Alice {
    Alice()
    {
        std::string pfx = Fixture("alice.p12");
        CRYPT_DATA_BLOB blob = {(DWORD)pfx.size(), (BYTE*)pfx.data()};
        store = PFXImportCertStore(&blob, kPassword, CRYPT_EXPORTABLE | CRYPT_USER_KEYSET);
        cert = store != nullptr ? CertEnumCertificatesInStore(store, nullptr) : nullptr;
    }
    ~Alice()
    {
        if (cert != nullptr)
            CertFreeCertificateContext(cert);
        if (store != nullptr)
            CertCloseStore(store, 0);
    }
    HCERTSTORE store;
    PCCERT_CONTEXT cert;
};

HCRYPTMSG Decode(const std::string& der)
{
    HCRYPTMSG msg = CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr);
    EXPECT_NE(msg, nullptr);
    EXPECT_TRUE(CryptMsgUpdate(msg, (const BYTE*)der.data(), (DWORD)der.size(), TRUE));
    return msg;
}

// A parameter through the size-query pattern.
std::vector<BYTE> Param(HCRYPTMSG msg, DWORD type, DWORD index = 0)
{
    DWORD size = 0;
    if (!CryptMsgGetParam(msg, type, index, nullptr, &size))
        return std::vector<BYTE>();
    std::vector<BYTE> out(size);
    EXPECT_TRUE(CryptMsgGetParam(msg, type, index, out.data(), &size));
    out.resize(size);
    return out;
}

int g_callbackCalls = 0;

// Finds the signer among the message's own certificates, as the module does.
PCCERT_CONTEXT WINAPI SignerFromMessage(void*, DWORD encoding, PCERT_INFO signer, HCERTSTORE messageCerts)
{
    ++g_callbackCalls;
    return CertGetSubjectCertificateFromStore(messageCerts, encoding, signer);
}

CRYPT_VERIFY_MESSAGE_PARA VerifyPara()
{
    CRYPT_VERIFY_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgAndCertEncodingType = kEncoding;
    para.pfnGetSignerCertificate = SignerFromMessage;
    return para;
}

// Verifies an opaque signed message; the content, or the error.
bool Verify(const std::string& der, std::string* content, DWORD* error)
{
    CRYPT_VERIFY_MESSAGE_PARA para = VerifyPara();
    DWORD size = 0;
    PCCERT_CONTEXT signer = nullptr;
    if (!CryptVerifyMessageSignature(&para, 0, (const BYTE*)der.data(), (DWORD)der.size(), nullptr, &size, nullptr)) {
        *error = GetLastError();
        return false;
    }
    content->assign(size, '\0');
    bool ok = CryptVerifyMessageSignature(&para, 0, (const BYTE*)der.data(), (DWORD)der.size(), (BYTE*)&(*content)[0],
                                          &size, &signer) != FALSE;
    *error = ok ? 0 : GetLastError();
    content->resize(size);
    if (signer != nullptr)
        CertFreeCertificateContext(signer);
    return ok;
}

std::string Flipped(std::string der, const std::string& marker)
{
    size_t at = der.find(marker);
    EXPECT_NE(at, std::string::npos);
    der[at] ^= 0x01;
    return der;
}

}  // namespace

TEST(Messages, SizeQueryThenFillAndTooSmallBufferGivesMoreData)
{
    HCRYPTMSG msg = Decode(Fixture("signed.p7m"));
    DWORD size = 0;
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, nullptr, &size));
    std::string expected = Fixture("content.txt");
    EXPECT_EQ(size, expected.size());
    std::vector<BYTE> buffer(size + 10);
    DWORD small = 4;
    SetLastError(0);
    EXPECT_FALSE(CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, buffer.data(), &small));
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_MORE_DATA);
    EXPECT_EQ(small, expected.size());
    DWORD large = (DWORD)buffer.size();
    ASSERT_TRUE(CryptMsgGetParam(msg, CMSG_CONTENT_PARAM, 0, buffer.data(), &large));
    EXPECT_EQ(std::string((const char*)buffer.data(), large), expected);
    CryptMsgClose(msg);
}

TEST(Messages, SignerHashAlgorithmLiesInTheOutputBuffer)
{
    ExpectDivergenceOnWine("Wine 8's CryptMsgGetParam does not know CMSG_SIGNER_HASH_ALGORITHM_PARAM");
    HCRYPTMSG msg = Decode(Fixture("signed.p7m"));
    std::vector<BYTE> hash = Param(msg, CMSG_SIGNER_HASH_ALGORITHM_PARAM);
    ASSERT_GE(hash.size(), sizeof(CRYPT_ALGORITHM_IDENTIFIER));
    const CRYPT_ALGORITHM_IDENTIFIER* id = (const CRYPT_ALGORITHM_IDENTIFIER*)hash.data();
    EXPECT_STREQ(id->pszObjId, szOID_OIWSEC_sha1);
    const BYTE* end = hash.data() + hash.size();
    EXPECT_TRUE((const BYTE*)id->pszObjId >= hash.data() + sizeof *id && (const BYTE*)id->pszObjId < end);
    CryptMsgClose(msg);
}

TEST(Messages, EnvelopeAlgorithmAndItsParametersLieInTheOutputBuffer)
{
    ExpectDivergenceOnWine("Wine 8's CryptMsgGetParam does not know CMSG_ENVELOPE_ALGORITHM_PARAM");
    HCRYPTMSG msg = Decode(Fixture("enveloped.p7m"));
    std::vector<BYTE> envelope = Param(msg, CMSG_ENVELOPE_ALGORITHM_PARAM);
    ASSERT_GE(envelope.size(), sizeof(CRYPT_ALGORITHM_IDENTIFIER));
    const CRYPT_ALGORITHM_IDENTIFIER* id = (const CRYPT_ALGORITHM_IDENTIFIER*)envelope.data();
    EXPECT_STREQ(id->pszObjId, szOID_RSA_DES_EDE3_CBC);
    const BYTE* end = envelope.data() + envelope.size();
    ASSERT_EQ(id->Parameters.cbData, 10u) << "an OCTET STRING with the 8-byte IV";
    EXPECT_TRUE(id->Parameters.pbData >= envelope.data() + sizeof *id && id->Parameters.pbData + 10 <= end);
    CryptMsgClose(msg);
}

TEST(Messages, VerificationCallsBackWithTheMessagesCertificates)
{
    std::string content;
    DWORD error = 0;
    g_callbackCalls = 0;
    EXPECT_TRUE(Verify(Fixture("signed.p7m"), &content, &error)) << std::hex << error;
    EXPECT_EQ(content, Fixture("content.txt"));
    EXPECT_GE(g_callbackCalls, 1);
    EXPECT_TRUE(Verify(Fixture("signed-attrs.p7m"), &content, &error)) << std::hex << error;

    std::string detached = Fixture("detached.p7s"), text = Fixture("content.txt");
    const BYTE* parts[] = {(const BYTE*)text.data()};
    DWORD sizes[] = {(DWORD)text.size()};
    CRYPT_VERIFY_MESSAGE_PARA para = VerifyPara();
    EXPECT_TRUE(CryptVerifyDetachedMessageSignature(&para, 0, (const BYTE*)detached.data(), (DWORD)detached.size(), 1,
                                                    parts, sizes, nullptr));
}

TEST(Messages, WrongSignatureGivesBadSignature)
{
    std::string content;
    DWORD error = 0;
    // The last byte of the message is the signature's last byte.
    std::string signedAttrs = Fixture("signed-attrs.p7m");
    signedAttrs.back() ^= 0x01;
    EXPECT_FALSE(Verify(signedAttrs, &content, &error));
    EXPECT_EQ(error, (DWORD)NTE_BAD_SIGNATURE);
}

TEST(Messages, ContentUnlikeTheSignedDigestGivesHashValue)
{
    ExpectDivergenceOnWine("Wine 8 does not compare the content with the signed message-digest attribute");
    std::string content;
    DWORD error = 0;
    // The content's first line lies in the message as it is.
    EXPECT_FALSE(Verify(Flipped(Fixture("signed-attrs.p7m"), "Hello from"), &content, &error));
    EXPECT_EQ(error, (DWORD)CRYPT_E_HASH_VALUE);
}

TEST(Messages, SignWithoutAttributesIncludesTheGivenCertificates)
{
    ExpectDivergenceOnWine("Wine 8's CryptSignMessage cannot sign with the key of an imported PKCS #12");
    Alice alice;
    ASSERT_NE(alice.cert, nullptr);
    CRYPT_SIGN_MESSAGE_PARA para;
    memset(&para, 0, sizeof para);
    para.cbSize = sizeof para;
    para.dwMsgEncodingType = kEncoding;
    para.pSigningCert = alice.cert;
    para.HashAlgorithm.pszObjId = (LPSTR)szOID_OIWSEC_sha1;
    para.cMsgCert = 1;
    para.rgpMsgCert = &alice.cert;
    std::string text = Fixture("content.txt");
    const BYTE* parts[] = {(const BYTE*)text.data()};
    DWORD sizes[] = {(DWORD)text.size()};
    DWORD size = 0;
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, parts, sizes, nullptr, &size)) << std::hex << GetLastError();
    std::string der(size, '\0');
    ASSERT_TRUE(CryptSignMessage(&para, FALSE, 1, parts, sizes, (BYTE*)&der[0], &size));
    der.resize(size);

    HCRYPTMSG msg = Decode(der);
    std::vector<BYTE> certs = Param(msg, CMSG_CERT_COUNT_PARAM);
    ASSERT_EQ(certs.size(), sizeof(DWORD));
    EXPECT_EQ(*(const DWORD*)certs.data(), 1u);
    CryptMsgClose(msg);
    std::string content;
    DWORD error = 0;
    EXPECT_TRUE(Verify(der, &content, &error)) << std::hex << error;
    EXPECT_EQ(content, text);
}

TEST(Messages, Rc2KeyLengthFollowsTheParameterVersion)
{
    ExpectDivergenceOnWine("Wine 8's CryptEncryptMessage writes the algorithm without parameters (no IV, no RC2 version)");
    PCCERT_CONTEXT alice = FixtureCert("alice.cer");
    ASSERT_NE(alice, nullptr);
    std::string text = Fixture("content.txt");
    for (DWORD version : {(DWORD)0, (DWORD)CRYPT_RC2_128BIT_VERSION}) {
        // No parameters, or encoded ones with the version (and no IV).
        CRYPT_RC2_CBC_PARAMETERS rc2;
        memset(&rc2, 0, sizeof rc2);
        rc2.dwVersion = version;
        BYTE encoded[64];
        DWORD encodedSize = sizeof encoded;
        if (version != 0) {
            ASSERT_TRUE(CryptEncodeObject(X509_ASN_ENCODING, PKCS_RC2_CBC_PARAMETERS, &rc2, encoded, &encodedSize));
        }
        CRYPT_ENCRYPT_MESSAGE_PARA para;
        memset(&para, 0, sizeof para);
        para.cbSize = sizeof para;
        para.dwMsgEncodingType = kEncoding;
        para.ContentEncryptionAlgorithm.pszObjId = (LPSTR)szOID_RSA_RC2CBC;
        if (version != 0)
            para.ContentEncryptionAlgorithm.Parameters = {encodedSize, encoded};
        DWORD size = 0;
        ASSERT_TRUE(CryptEncryptMessage(&para, 1, &alice, (const BYTE*)text.data(), (DWORD)text.size(), nullptr, &size));
        std::string der(size, '\0');
        ASSERT_TRUE(CryptEncryptMessage(&para, 1, &alice, (const BYTE*)text.data(), (DWORD)text.size(), (BYTE*)&der[0],
                                        &size));
        der.resize(size);

        HCRYPTMSG msg = Decode(der);
        std::vector<BYTE> recipients = Param(msg, CMSG_RECIPIENT_COUNT_PARAM);
        ASSERT_EQ(recipients.size(), sizeof(DWORD));
        EXPECT_EQ(*(const DWORD*)recipients.data(), 1u);
        std::vector<BYTE> algorithm = Param(msg, CMSG_ENVELOPE_ALGORITHM_PARAM);
        ASSERT_GE(algorithm.size(), sizeof(CRYPT_ALGORITHM_IDENTIFIER));
        const CRYPT_ALGORITHM_IDENTIFIER* alg = (const CRYPT_ALGORITHM_IDENTIFIER*)algorithm.data();
        CRYPT_RC2_CBC_PARAMETERS decoded;
        DWORD decodedSize = sizeof decoded;
        memset(&decoded, 0, sizeof decoded);
        EXPECT_TRUE(CryptDecodeObject(X509_ASN_ENCODING, PKCS_RC2_CBC_PARAMETERS, alg->Parameters.pbData,
                                      alg->Parameters.cbData, 0, &decoded, &decodedSize));
        EXPECT_EQ(decoded.dwVersion, version != 0 ? (DWORD)CRYPT_RC2_128BIT_VERSION : (DWORD)CRYPT_RC2_40BIT_VERSION);
        EXPECT_TRUE(decoded.fIV);
        CryptMsgClose(msg);
    }
    CertFreeCertificateContext(alice);
}

TEST(Messages, DecryptFindsTheRecipientWithAKeyInTheGivenStores)
{
    SKIP_WHERE_WINE_LACKS("Wine 8 has no CryptDecryptMessage (its stub ends the process)");
    Alice alice;
    ASSERT_NE(alice.store, nullptr);
    std::string der = Fixture("enveloped.p7m");
    CRYPT_DECRYPT_MESSAGE_PARA para = {sizeof para, kEncoding, 1, &alice.store};
    DWORD size = 0;
    PCCERT_CONTEXT used = nullptr;
    ASSERT_TRUE(CryptDecryptMessage(&para, (const BYTE*)der.data(), (DWORD)der.size(), nullptr, &size, nullptr));
    std::string content(size, '\0');
    ASSERT_TRUE(CryptDecryptMessage(&para, (const BYTE*)der.data(), (DWORD)der.size(), (BYTE*)&content[0], &size, &used));
    content.resize(size);
    EXPECT_EQ(content, Fixture("content.txt"));
    ASSERT_NE(used, nullptr);
    EXPECT_TRUE(used->cbCertEncoded == alice.cert->cbCertEncoded &&
                memcmp(used->pbCertEncoded, alice.cert->pbCertEncoded, used->cbCertEncoded) == 0);
    CertFreeCertificateContext(used);

    HCERTSTORE ca = CertOpenSystemStoreA(0, "CA");
    para.rghCertStore = &ca;
    size = 0;
    EXPECT_FALSE(CryptDecryptMessage(&para, (const BYTE*)der.data(), (DWORD)der.size(), nullptr, &size, nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_NO_DECRYPT_CERT);
    CertCloseStore(ca, 0);
}
