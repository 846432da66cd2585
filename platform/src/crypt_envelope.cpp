// CryptEncryptMessage and CryptDecryptMessage: PKCS #7 enveloped-data with
// RSA key transport to recipients named by issuer and serial number; read
// back also with RSA-OAEP and EC key agreement recipients.
//
// Every call encrypts afresh, a size query too; for the same inputs the
// result has exactly the same length (IV, wrapped keys and padded content
// are all fixed-size), so a fill call after a size query fits.
#include <string.h>


#include "crypt_msg_common.h"  // first: OpenSSL before wincrypt
#include "crypt_internal.h"
#include "api_guard.h"
#include "der_reader.h"

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

// A wrong content key shows, with near certainty, in the padding of the
// last block. Checking that first keeps a message with many entries that
// open a wrong key from being decrypted in full for each of them.
bool LastBlockPadded(const EVP_CIPHER_CTX* keyed, const ASN1_OCTET_STRING* encrypted)
{
    int block = EVP_CIPHER_CTX_get_block_size(keyed);
    int size = ASN1_STRING_length(encrypted);
    const uint8_t* data = ASN1_STRING_get0_data(encrypted);
    if (block <= 1 || block > 32 || EVP_CIPHER_CTX_get_mode(keyed) != EVP_CIPH_CBC_MODE ||
        size < 2 * block || size % block != 0)
        return true;  // the full pass decides
    EVP_CIPHER_CTX* copy = EVP_CIPHER_CTX_new();
    uint8_t out[64];
    int written = 0, last = 0;
    bool ok = copy != nullptr && EVP_CIPHER_CTX_copy(copy, keyed) == 1 &&
              EVP_DecryptInit_ex(copy, nullptr, nullptr, nullptr, data + size - 2 * block) == 1 &&
              EVP_DecryptUpdate(copy, out, &written, data + size - block, block) == 1 &&
              EVP_DecryptFinal_ex(copy, out + written, &last) == 1;
    EVP_CIPHER_CTX_free(copy);
    return ok;
}

// The content key of one recipient entry has been opened: decrypts the
// content with it into `content`. A key of the wrong length fails here
// (CMS_DEBUG_DECRYPT is set on the message), never a random key.
bool DecryptContent(CMS_ContentInfo* cms, Bytes* content)
{
    ASN1_OCTET_STRING** encrypted = CMS_get0_content(cms);
    if (encrypted == nullptr || *encrypted == nullptr)
        return false;
    BIO* chain = CMS_dataInit(cms, nullptr);
    if (chain == nullptr)
        return false;
    EVP_CIPHER_CTX* keyed = nullptr;
    bool ok = BIO_get_cipher_ctx(chain, &keyed) == 1 && LastBlockPadded(keyed, *encrypted);
    content->clear();
    if (ok)
        content->reserve((size_t)ASN1_STRING_length(*encrypted));  // never longer
    uint8_t buffer[16384];
    int got = 0;
    while (ok && (got = BIO_read(chain, buffer, sizeof buffer)) > 0)
        content->insert(content->end(), buffer, buffer + got);
    ok = ok && BIO_get_cipher_status(chain) > 0;
    BIO_free_all(chain);
    if (!ok)
        content->clear();
    return ok;
}

// RC2 with 56 effective bits (parameter version 52, as Windows sends it).
// OpenSSL's CMS decoder knows only 40, 64 and 128 bits, so such a message is
// opened here, for RSA key-transport recipients.
struct Rc2Version52 {
    Bytes der;  // the whole message as DER
    uint8_t iv[8];
};

bool FindRc2Version52(CMS_ContentInfo* cms, const BYTE* blob, DWORD size, Rc2Version52* rc2)
{
    static const uint8_t kRc2Oid[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x03, 0x02};
    Bytes converted;
    Bytes algorithm = EnvelopedContentAlgorithm(blob, size);
    if (algorithm.empty()) {  // BER: read the DER form
        converted = EncodeContentInfo(cms);
        algorithm = EnvelopedContentAlgorithm(converted.data(), converted.size());
    }
    DerReader top(algorithm.data(), algorithm.size());
    DerTlv sequence, oid, parameters;
    if (!top.Read(0x30, &sequence))
        return false;
    DerReader fields(sequence);
    CRYPT_RC2_CBC_PARAMETERS decoded;
    DWORD decodedSize = sizeof decoded;
    if (!fields.Read(0x06, &oid) || oid.length != sizeof kRc2Oid ||
        memcmp(oid.value, kRc2Oid, sizeof kRc2Oid) != 0 || !fields.ReadAny(&parameters) ||
        !CryptDecodeObject(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, PKCS_RC2_CBC_PARAMETERS,
                           parameters.start, (DWORD)parameters.total, 0, &decoded, &decodedSize) ||
        decoded.dwVersion != CRYPT_RC2_56BIT_VERSION || !decoded.fIV)
        return false;
    memcpy(rc2->iv, decoded.rgbIV, sizeof rc2->iv);
    rc2->der = converted.empty() ? Bytes(blob, blob + size) : std::move(converted);
    return true;
}

// The content key of the index-th entry, unwrapped with RSA PKCS #1 v1.5.
Bytes UnwrapContentKey(const Rc2Version52& rc2, int index, CMS_RecipientInfo* recipient, EVP_PKEY* key)
{
    X509_ALGOR* algorithm = nullptr;
    const ASN1_OBJECT* oid = nullptr;
    CMS_RecipientInfo_ktri_get0_algs(recipient, nullptr, nullptr, &algorithm);
    if (algorithm != nullptr)
        X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    Bytes wrapped = KeyTransportEncryptedKey(rc2.der.data(), rc2.der.size(), index);
    if (OBJ_obj2nid(oid) != NID_rsaEncryption || !EVP_PKEY_is_a(key, "RSA") || wrapped.empty())
        return {};
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    size_t length = 0;
    bool ok = ctx != nullptr && EVP_PKEY_decrypt_init(ctx) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1 &&
              EVP_PKEY_decrypt(ctx, nullptr, &length, wrapped.data(), wrapped.size()) == 1;
    Bytes contentKey(ok ? length : 0);
    ok = ok && EVP_PKEY_decrypt(ctx, contentKey.data(), &length, wrapped.data(), wrapped.size()) == 1;
    contentKey.resize(ok ? length : 0);
    EVP_PKEY_CTX_free(ctx);
    return contentKey;
}

bool DecryptRc2Version52(const Rc2Version52& rc2, const Bytes& contentKey, CMS_ContentInfo* cms,
                         Bytes* content)
{
    ASN1_OCTET_STRING** encrypted = CMS_get0_content(cms);
    if (encrypted == nullptr || *encrypted == nullptr || contentKey.empty() || contentKey.size() > 128)
        return false;
    const uint8_t* data = ASN1_STRING_get0_data(*encrypted);
    int size = ASN1_STRING_length(*encrypted);
    content->assign((size_t)size + 8, 0);
    int written = 0, last = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    bool ok = ctx != nullptr && EVP_DecryptInit_ex(ctx, EVP_rc2_cbc(), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_key_length(ctx, (int)contentKey.size()) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_RC2_KEY_BITS, 56, nullptr) == 1 &&
              EVP_DecryptInit_ex(ctx, nullptr, nullptr, contentKey.data(), rc2.iv) == 1 &&
              LastBlockPadded(ctx, *encrypted) &&
              EVP_DecryptUpdate(ctx, content->data(), &written, data, size) == 1 &&
              EVP_DecryptFinal_ex(ctx, content->data() + written, &last) == 1;
    EVP_CIPHER_CTX_free(ctx);
    content->resize(ok ? (size_t)(written + last) : 0);
    return ok;
}

// Opens the content key of one recipient entry (key transport, or one key
// of a key agreement) with the certificate's private key, then the content.
bool DecryptAsRecipient(CMS_ContentInfo* cms, const Rc2Version52* rc2, int index,
                        CMS_RecipientInfo* recipient, CMS_RecipientEncryptedKey* agreedKey,
                        PCCERT_CONTEXT cert, Bytes* content)
{
    EVP_PKEY* key = CertPrivateKey(cert);
    if (key == nullptr)
        return false;
    if (rc2 != nullptr) {
        bool ok = agreedKey == nullptr &&
                  DecryptRc2Version52(*rc2, UnwrapContentKey(*rc2, index, recipient, key), cms, content);
        ERR_clear_error();
        return ok;
    }
    bool opened;
    if (agreedKey == nullptr) {
        // The entry takes a reference, which it drops when the key is taken away again.
        opened = EVP_PKEY_up_ref(key) == 1 && CMS_RecipientInfo_set0_pkey(recipient, key) == 1 &&
                 CMS_RecipientInfo_decrypt(cms, recipient) == 1;
        CMS_RecipientInfo_set0_pkey(recipient, nullptr);
    } else {
        opened = CMS_RecipientInfo_kari_set0_pkey(recipient, key) == 1 &&
                 CMS_RecipientInfo_kari_decrypt(cms, recipient, agreedKey) == 1;
        CMS_RecipientInfo_kari_set0_pkey(recipient, nullptr);
    }
    bool ok = opened && DecryptContent(cms, content);
    ERR_clear_error();
    return ok;
}

// Every certificate of the caller's stores (new references, in store order).
std::vector<PCCERT_CONTEXT> StoreCertificates(PCRYPT_DECRYPT_MESSAGE_PARA para)
{
    std::vector<PCCERT_CONTEXT> certs;
    for (DWORD s = 0; s < para->cCertStore && para->rghCertStore != nullptr; ++s) {
        PCCERT_CONTEXT cert = nullptr;
        while (para->rghCertStore[s] != nullptr &&
               (cert = CertEnumCertificatesInStore(para->rghCertStore[s], cert)) != nullptr)
            certs.push_back(CertDuplicateCertificateContext(cert));
    }
    return certs;
}

// Tries every recipient entry that names one of the stores' certificates,
// in message order, until one opens the content: an entry that does not
// open (stale, or planted by anyone who has the public certificate) does
// not hide a later one. Returns the certificate used (a new reference).
PCCERT_CONTEXT DecryptWithStores(CMS_ContentInfo* cms, const BYTE* blob, DWORD size,
                                 PCRYPT_DECRYPT_MESSAGE_PARA para, Bytes* content, DWORD* error)
{
    *error = CRYPT_E_NO_DECRYPT_CERT;
    CMS_decrypt(cms, nullptr, nullptr, nullptr, nullptr, CMS_DEBUG_DECRYPT);  // sets the flag only
    Rc2Version52 rc2;
    bool isRc2Version52 = FindRc2Version52(cms, blob, size, &rc2);
    std::vector<PCCERT_CONTEXT> certs = StoreCertificates(para);
    PCCERT_CONTEXT found = nullptr;
    STACK_OF(CMS_RecipientInfo)* recipients = CMS_get0_RecipientInfos(cms);
    for (int r = 0; found == nullptr && r < sk_CMS_RecipientInfo_num(recipients); ++r) {
        CMS_RecipientInfo* recipient = sk_CMS_RecipientInfo_value(recipients, r);
        int type = CMS_RecipientInfo_type(recipient);
        STACK_OF(CMS_RecipientEncryptedKey)* agreed =
            type == CMS_RECIPINFO_AGREE ? CMS_RecipientInfo_kari_get0_reks(recipient) : nullptr;
        int entries = type == CMS_RECIPINFO_TRANS ? 1 : sk_CMS_RecipientEncryptedKey_num(agreed);
        for (int e = 0; found == nullptr && e < entries; ++e) {
            CMS_RecipientEncryptedKey* agreedKey =
                agreed != nullptr ? sk_CMS_RecipientEncryptedKey_value(agreed, e) : nullptr;
            for (PCCERT_CONTEXT cert : certs) {
                X509* x509 = CertX509(cert);
                bool named = x509 != nullptr &&
                             (agreedKey != nullptr
                                  ? CMS_RecipientEncryptedKey_cert_cmp(agreedKey, x509) == 0
                                  : CMS_RecipientInfo_ktri_cert_cmp(recipient, x509) == 0);
                if (!named || CertPrivateKey(cert) == nullptr)
                    continue;
                if (DecryptAsRecipient(cms, isRc2Version52 ? &rc2 : nullptr, r, recipient, agreedKey,
                                       cert, content)) {
                    found = CertDuplicateCertificateContext(cert);
                    *error = 0;
                    break;
                }
                *error = NTE_BAD_DATA;  // the key is there but does not open the message
            }
        }
    }
    for (PCCERT_CONTEXT cert : certs)
        CertFreeCertificateContext(cert);
    ERR_clear_error();
    return found;
}

}  // namespace

extern "C" {

BOOL WINAPI CryptEncryptMessage(PCRYPT_ENCRYPT_MESSAGE_PARA pEncryptPara, DWORD cRecipientCert,
                                PCCERT_CONTEXT rgpRecipientCert[], const BYTE* pbToBeEncrypted,
                                DWORD cbToBeEncrypted, BYTE* pbEncryptedBlob,
                                DWORD* pcbEncryptedBlob)
{
    API_GUARD_BEGIN
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
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CryptDecryptMessage(PCRYPT_DECRYPT_MESSAGE_PARA pDecryptPara,
                                const BYTE* pbEncryptedBlob, DWORD cbEncryptedBlob,
                                BYTE* pbDecrypted, DWORD* pcbDecrypted,
                                PCCERT_CONTEXT* ppXchgCert)
{
    API_GUARD_BEGIN
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
        keyCert = DecryptWithStores(holder.cms, pbEncryptedBlob, cbEncryptedBlob, pDecryptPara, &content, &error);
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
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

}  // extern "C"
