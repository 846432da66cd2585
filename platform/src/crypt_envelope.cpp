// CryptEncryptMessage and CryptDecryptMessage: PKCS #7 enveloped-data with
// RSA key transport to recipients named by issuer and serial number.
//
// The size query performs the real encryption and reports its size; the
// fill call that follows with the same inputs gets that same blob. Any other
// call encrypts afresh; for the same inputs the result has exactly the same
// length (IV, wrapped keys and padded content are all fixed-size).
#include <string.h>


#include "crypt_msg_common.h"  // first: OpenSSL before wincrypt
#include "crypt_internal.h"

namespace {

struct CmsHolder {
    CMS_ContentInfo* cms = nullptr;
    ~CmsHolder() { CMS_ContentInfo_free(cms); }
};

// The RC2 effective key length from the algorithm's parameters: none means
// 40 bits, as CryptoAPI's default.
const EVP_CIPHER* Rc2Cipher(const CRYPT_OBJID_BLOB& parameters)
{
    if (parameters.cbData == 0)
        return EVP_rc2_40_cbc();
    CRYPT_RC2_CBC_PARAMETERS rc2;
    DWORD size = sizeof rc2;
    if (!CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RC2_CBC_PARAMETERS,
                           parameters.pbData, parameters.cbData, 0, &rc2, &size))
        return nullptr;
    switch (rc2.dwVersion) {
    case CRYPT_RC2_40BIT_VERSION:
        return EVP_rc2_40_cbc();
    case CRYPT_RC2_64BIT_VERSION:
        return EVP_rc2_64_cbc();
    case CRYPT_RC2_128BIT_VERSION:
        return EVP_rc2_cbc();
    default:
        return nullptr;
    }
}

const EVP_CIPHER* ContentCipher(const CRYPT_ALGORITHM_IDENTIFIER& algorithm, DWORD* error)
{
    const char* oid = algorithm.pszObjId;
    *error = CRYPT_E_UNKNOWN_ALGO;
    if (oid == nullptr)
        return nullptr;
    if (strcmp(oid, szOID_RSA_RC2CBC) == 0) {
        *error = NTE_BAD_ALGID;
        return Rc2Cipher(algorithm.Parameters);
    }
    if (strcmp(oid, szOID_OIWSEC_desCBC) == 0)
        return EVP_des_cbc();
    if (strcmp(oid, szOID_RSA_DES_EDE3_CBC) == 0)
        return EVP_des_ede3_cbc();
    if (strcmp(oid, szOID_NIST_AES128_CBC) == 0)
        return EVP_aes_128_cbc();
    if (strcmp(oid, szOID_NIST_AES192_CBC) == 0)
        return EVP_aes_192_cbc();
    if (strcmp(oid, szOID_NIST_AES256_CBC) == 0)
        return EVP_aes_256_cbc();
    return nullptr;
}

Bytes BuildEnvelopedMessage(PCRYPT_ENCRYPT_MESSAGE_PARA para, DWORD recipientCount,
                            PCCERT_CONTEXT recipients[], const BYTE* content, DWORD contentSize)
{
    DWORD error = 0;
    const EVP_CIPHER* cipher = ContentCipher(para->ContentEncryptionAlgorithm, &error);
    if (cipher == nullptr) {
        SetLastError(error);
        return {};
    }
    STACK_OF(X509)* certs = sk_X509_new_null();
    bool ok = certs != nullptr;
    for (DWORD i = 0; ok && i < recipientCount; ++i) {
        X509* x = CertX509(recipients[i]);
        ok = x != nullptr && sk_X509_push(certs, x) > 0;
    }
    if (!ok) {
        sk_X509_free(certs);
        SetLastError(E_INVALIDARG);
        return {};
    }
    BIO* in = BIO_new_mem_buf(content ? content : (const BYTE*)"", (int)contentSize);
    CMS_ContentInfo* cms = in ? CMS_encrypt(certs, in, cipher, CMS_BINARY) : nullptr;
    BIO_free(in);
    sk_X509_free(certs);  // the certificates are borrowed
    Bytes der;
    if (cms != nullptr)
        der = EncodeContentInfo(cms);
    CMS_ContentInfo_free(cms);
    ERR_clear_error();
    if (der.empty())
        SetLastError(cms == nullptr ? NTE_BAD_KEY : CRYPT_E_MSG_ERROR);
    return der;
}

int VectorBioWrite(BIO* bio, const char* data, int size)
{
    auto* vector = (Bytes*)BIO_get_data(bio);
    if (size <= 0)
        return 0;
    vector->insert(vector->end(), (const uint8_t*)data, (const uint8_t*)data + size);
    return size;
}

long VectorBioControl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int VectorBioCreate(BIO* bio)
{
    BIO_set_init(bio, 1);
    return 1;
}

// A write-only BIO appending to a vector it does not own.
BIO* NewVectorBio(Bytes* vector)
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vector sink");
        if (m != nullptr) {
            BIO_meth_set_write(m, VectorBioWrite);
            BIO_meth_set_ctrl(m, VectorBioControl);
            BIO_meth_set_create(m, VectorBioCreate);
        }
        return m;
    }();
    BIO* bio = method != nullptr ? BIO_new(method) : nullptr;
    if (bio != nullptr)
        BIO_set_data(bio, vector);
    return bio;
}

// Decrypts with the first recipient whose certificate and private key are
// in one of the stores; returns the certificate used (a new reference).
PCCERT_CONTEXT DecryptWithStores(CMS_ContentInfo* cms, PCRYPT_DECRYPT_MESSAGE_PARA para,
                                 Bytes* content, DWORD* error)
{
    *error = CRYPT_E_NO_DECRYPT_CERT;
    STACK_OF(CMS_RecipientInfo)* recipients = CMS_get0_RecipientInfos(cms);
    for (int r = 0; r < sk_CMS_RecipientInfo_num(recipients); ++r) {
        CMS_RecipientInfo* recipient = sk_CMS_RecipientInfo_value(recipients, r);
        if (CMS_RecipientInfo_type(recipient) != CMS_RECIPINFO_TRANS)
            continue;
        for (DWORD s = 0; s < para->cCertStore; ++s) {
            HCERTSTORE store = para->rghCertStore ? para->rghCertStore[s] : nullptr;
            if (store == nullptr)
                continue;
            PCCERT_CONTEXT cert = nullptr;
            while ((cert = CertEnumCertificatesInStore(store, cert)) != nullptr) {
                X509* x509 = CertX509(cert);
                if (x509 == nullptr || CMS_RecipientInfo_ktri_cert_cmp(recipient, x509) != 0)
                    continue;
                EVP_PKEY* key = CertPrivateKey(cert);
                if (key == nullptr)
                    continue;
                // Straight into the caller's vector, reserved up front: the
                // plaintext is never longer than the ciphertext.
                content->clear();
                ASN1_OCTET_STRING** encrypted = CMS_get0_content(cms);
                if (encrypted != nullptr && *encrypted != nullptr)
                    content->reserve((size_t)ASN1_STRING_length(*encrypted));
                BIO* out = NewVectorBio(content);
                bool ok = out != nullptr &&
                          CMS_decrypt_set1_pkey_and_peer(cms, key, x509, nullptr) == 1 &&
                          CMS_decrypt(cms, nullptr, nullptr, nullptr, out, CMS_BINARY) == 1;
                if (!ok)
                    content->clear();
                BIO_free(out);
                ERR_clear_error();
                if (ok) {
                    PCCERT_CONTEXT found = CertDuplicateCertificateContext(cert);
                    CertFreeCertificateContext(cert);
                    *error = 0;
                    return found;
                }
                // The key is there but does not open the message.
                *error = NTE_BAD_DATA;
            }
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

BOOL WINAPI CryptEncryptMessage(PCRYPT_ENCRYPT_MESSAGE_PARA pEncryptPara, DWORD cRecipientCert,
                                PCCERT_CONTEXT rgpRecipientCert[], const BYTE* pbToBeEncrypted,
                                DWORD cbToBeEncrypted, BYTE* pbEncryptedBlob,
                                DWORD* pcbEncryptedBlob)
{
    EnsureCryptoProviders();
    if (pEncryptPara == nullptr || pcbEncryptedBlob == nullptr ||
        !IsPkcs7Encoding(pEncryptPara->dwMsgEncodingType) ||
        (cRecipientCert > 0 && rgpRecipientCert == nullptr) ||
        (cbToBeEncrypted > 0 && pbToBeEncrypted == nullptr) || cbToBeEncrypted > 0x7FFFFFFF ||
        (pEncryptPara->dwInnerContentType != 0 && pEncryptPara->dwInnerContentType != CMSG_DATA)) {
        if (pcbEncryptedBlob)
            *pcbEncryptedBlob = 0;
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    Bytes blob = BuildEnvelopedMessage(pEncryptPara, cRecipientCert, rgpRecipientCert, pbToBeEncrypted,
                                       cbToBeEncrypted);
    if (blob.empty()) {
        *pcbEncryptedBlob = 0;
        return FALSE;
    }
    return CopyToCaller(blob.data(), blob.size(), pbEncryptedBlob, pcbEncryptedBlob);
}

BOOL WINAPI CryptDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA pDecryptPara,
                                const BYTE* pbEncryptedBlob, DWORD cbEncryptedBlob,
                                BYTE* pbDecrypted, DWORD* pcbDecrypted,
                                PCCERT_CONTEXT* ppXchgCert)
{
    EnsureCryptoProviders();
    if (ppXchgCert != nullptr)
        *ppXchgCert = nullptr;
    DWORD error = 0;
    CmsHolder holder;
    Bytes content;
    PCCERT_CONTEXT keyCert = nullptr;
    if (pDecryptPara == nullptr || !IsPkcs7Encoding(pDecryptPara->dwMsgAndCertEncodingType) ||
        (pbEncryptedBlob == nullptr && cbEncryptedBlob > 0)) {
        error = E_INVALIDARG;
    } else if ((holder.cms = ParseContentInfo(pbEncryptedBlob, cbEncryptedBlob)) == nullptr) {
        error = GetLastError();
    } else if (CmsMessageType(holder.cms) != CMSG_ENVELOPED) {
        error = CRYPT_E_UNEXPECTED_MSG_TYPE;
    } else {
        keyCert = DecryptWithStores(holder.cms, pDecryptPara, &content, &error);
    }
    // The parsed object goes before the content is copied out: a large
    // message then stands in memory once less.
    CMS_ContentInfo_free(holder.cms);
    holder.cms = nullptr;
    if (keyCert == nullptr) {
        if (pcbDecrypted != nullptr)
            *pcbDecrypted = 0;
        SetLastError(error);
        return FALSE;
    }
    return HandOutContentAndCert(content, keyCert, pbDecrypted, pcbDecrypted, ppXchgCert);
}

}  // extern "C"
