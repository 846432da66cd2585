// CryptEncryptMessage and CryptDecryptMessage: PKCS #7 enveloped-data with
// RSA key transport to recipients named by issuer and serial number; read
// back also with RSA-OAEP and EC key agreement recipients.
//
// Every call makes and wraps a content key afresh, a size query too; for the
// same inputs the result has exactly the same length (IV, wrapped keys and
// padded content are all fixed-size), so a fill call after a size query
// fits. The content is encrypted only into a buffer that holds the result,
// and decrypted where it lies.
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

// The certificates as OpenSSL's list (borrowed); null when one is unusable.
STACK_OF(X509)* RecipientList(DWORD count, PCCERT_CONTEXT recipients[])
{
    STACK_OF(X509)* certs = sk_X509_new_null();
    bool ok = certs != nullptr;
    for (DWORD i = 0; ok && i < count; ++i) {
        X509* x = CertX509(recipients[i]);
        ok = x != nullptr && sk_X509_push(certs, x) > 0;
    }
    if (!ok) {
        sk_X509_free(certs);
        return nullptr;
    }
    return certs;
}

// The keyed cipher of a CMS_dataInit chain (the chain's), or null.
EVP_CIPHER_CTX* ChainCipher(BIO* chain)
{
    BIO* cipherBio = BIO_find_type(chain, BIO_TYPE_CIPHER);
    EVP_CIPHER_CTX* keyed = nullptr;
    return cipherBio != nullptr && BIO_get_cipher_ctx(cipherBio, &keyed) == 1 ? keyed : nullptr;
}

// An enveloped message whose content goes straight from the caller's data
// into the caller's buffer. OpenSSL builds all but the encrypted content
// (the wrapped keys, the algorithm and its IV) and gives the keyed cipher;
// the encrypted content, whose padded length is known beforehand, is framed
// by hand at the end of the DER, where it always lies.
class EnvelopeWriter {
public:
    ~EnvelopeWriter()
    {
        BIO_free_all(chain_);
        CMS_ContentInfo_free(cms_);
    }

    // Makes the content key and wraps it for every recipient; the size of
    // the whole message is then known. False with the error set.
    bool Prepare(PCRYPT_ENCRYPT_MESSAGE_PARA para, DWORD recipientCount, PCCERT_CONTEXT recipients[],
                 DWORD contentSize)
    {
        DWORD error = 0;
        const EVP_CIPHER* cipher = ContentCipher(para->ContentEncryptionAlgorithm, &error);
        if (cipher == nullptr)
            return FailWith(error);
        STACK_OF(X509)* certs = RecipientList(recipientCount, recipients);
        if (certs == nullptr)
            return FailWith(E_INVALIDARG);
        // Without content: it is written by hand.
        cms_ = CMS_encrypt(certs, nullptr, cipher, CMS_BINARY | CMS_PARTIAL | CMS_DETACHED);
        sk_X509_free(certs);
        BIO* sink = cms_ != nullptr ? BIO_new(BIO_s_null()) : nullptr;
        chain_ = sink != nullptr ? CMS_dataInit(cms_, sink) : nullptr;
        if (chain_ == nullptr) {
            BIO_free(sink);
            return FailWith(NTE_BAD_KEY);
        }
        keyed_ = ChainCipher(chain_);
        int block = 0;
        if (keyed_ == nullptr || EVP_CIPHER_CTX_get_mode(keyed_) != EVP_CIPH_CBC_MODE ||
            (block = EVP_CIPHER_CTX_get_block_size(keyed_)) <= 0 || CMS_dataFinal(cms_, chain_) != 1)
            return FailWith(CRYPT_E_MSG_ERROR);
        encryptedSize_ = ((size_t)contentSize / (size_t)block + 1) * (size_t)block;  // with its padding
        Bytes header = DerHeader(0x80, encryptedSize_);  // [0] IMPLICIT OCTET STRING
        Bytes der = EncodeContentInfo(cms_);
        EnvelopedPath path;
        if (der.empty() || !ReadEnvelopedPath(der.data(), der.size(), &path))
            return FailWith(CRYPT_E_MSG_ERROR);
        prefix_ = DerGrownPrefix(path.levels, 4, header.size() + encryptedSize_);
        if (prefix_.empty())
            return FailWith(CRYPT_E_MSG_ERROR);
        prefix_.insert(prefix_.end(), header.begin(), header.end());
        return true;
    }

    size_t size() const { return prefix_.size() + encryptedSize_; }

    // Writes the message to out (size() bytes).
    bool Write(const BYTE* content, DWORD contentSize, BYTE* out)
    {
        BYTE* encrypted = out + prefix_.size();
        int written = 0, last = 0;
        static const BYTE kNothing = 0;
        bool ok = EVP_EncryptUpdate(keyed_, encrypted, &written, content != nullptr ? content : &kNothing,
                                    (int)contentSize) == 1 &&
                  EVP_EncryptFinal_ex(keyed_, encrypted + written, &last) == 1 &&
                  (size_t)written + (size_t)last == encryptedSize_;
        if (!ok)
            return FailWith(CRYPT_E_MSG_ERROR);
        memcpy(out, prefix_.data(), prefix_.size());
        return true;
    }

private:
    CMS_ContentInfo* cms_ = nullptr;
    BIO* chain_ = nullptr;
    EVP_CIPHER_CTX* keyed_ = nullptr;  // the chain's
    Bytes prefix_;                     // everything before the encrypted bytes
    size_t encryptedSize_ = 0;
};

// Where decrypted content goes: the caller's buffer when it holds the
// encrypted size (the content is never longer), else a buffer of our own.
struct ContentOut {
    BYTE* caller = nullptr;
    size_t capacity = 0;
    Bytes own;
    ByteSpan content;  // the result, in one of the two

    uint8_t* Room(size_t needed)
    {
        if (caller != nullptr && needed <= capacity)
            return caller;
        own.resize(needed);
        return own.data();
    }
};

// A wrong content key shows, with near certainty, in the padding of the
// last block. Checking that first keeps a message with many entries that
// open a wrong key from being decrypted in full for each of them.
bool LastBlockPadded(const EVP_CIPHER_CTX* keyed, ByteSpan encrypted)
{
    int block = EVP_CIPHER_CTX_get_block_size(keyed);
    size_t size = encrypted.size;
    const uint8_t* data = encrypted.data;
    if (block <= 1 || block > 32 || EVP_CIPHER_CTX_get_mode(keyed) != EVP_CIPH_CBC_MODE ||
        size < 2 * (size_t)block || size % (size_t)block != 0)
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

// Decrypts with a keyed cipher, the padding check first.
bool DecryptSpan(EVP_CIPHER_CTX* keyed, ByteSpan encrypted, ContentOut* out)
{
    if (encrypted.data == nullptr || encrypted.size > 0x7FFFFFFF || !LastBlockPadded(keyed, encrypted))
        return false;
    // OpenSSL asks for a block more than the content can take.
    uint8_t* room = out->Room(encrypted.size + (size_t)EVP_CIPHER_CTX_get_block_size(keyed));
    int written = 0, last = 0;
    bool ok = EVP_DecryptUpdate(keyed, room, &written, encrypted.data, (int)encrypted.size) == 1 &&
              EVP_DecryptFinal_ex(keyed, room + written, &last) == 1;
    out->content.data = room;
    out->content.size = ok ? (size_t)written + (size_t)last : 0;
    return ok;
}

// The content key of one recipient entry has been opened: decrypts the
// content with it. A key of the wrong length fails here (CMS_DEBUG_DECRYPT
// is set on the message), never a random key.
bool DecryptContent(CMS_ContentInfo* cms, ByteSpan encrypted, ContentOut* out)
{
    BIO* chain = CMS_dataInit(cms, nullptr);
    if (chain == nullptr)
        return false;
    EVP_CIPHER_CTX* keyed = ChainCipher(chain);
    bool ok = keyed != nullptr && DecryptSpan(keyed, encrypted, out);
    BIO_free_all(chain);
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

bool DecryptRc2Version52(const Rc2Version52& rc2, const Bytes& contentKey, ByteSpan encrypted, ContentOut* out)
{
    if (contentKey.empty() || contentKey.size() > 128)
        return false;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    bool ok = ctx != nullptr && EVP_DecryptInit_ex(ctx, EVP_rc2_cbc(), nullptr, nullptr, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_key_length(ctx, (int)contentKey.size()) == 1 &&
              EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_SET_RC2_KEY_BITS, 56, nullptr) == 1 &&
              EVP_DecryptInit_ex(ctx, nullptr, nullptr, contentKey.data(), rc2.iv) == 1 &&
              DecryptSpan(ctx, encrypted, out);
    EVP_CIPHER_CTX_free(ctx);
    return ok;
}

// Opens the content key of one recipient entry (key transport, or one key
// of a key agreement) with the certificate's private key, then the content.
bool DecryptAsRecipient(CMS_ContentInfo* cms, ByteSpan encrypted, const Rc2Version52* rc2, int index,
                        CMS_RecipientInfo* recipient, CMS_RecipientEncryptedKey* agreedKey,
                        PCCERT_CONTEXT cert, ContentOut* content)
{
    EVP_PKEY* key = CertPrivateKey(cert);
    if (key == nullptr)
        return false;
    if (rc2 != nullptr) {
        bool ok = agreedKey == nullptr &&
                  DecryptRc2Version52(*rc2, UnwrapContentKey(*rc2, index, recipient, key), encrypted, content);
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
    bool ok = opened && DecryptContent(cms, encrypted, content);
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
PCCERT_CONTEXT DecryptWithStores(CMS_ContentInfo* cms, ByteSpan encrypted, const BYTE* blob, DWORD size,
                                 PCRYPT_DECRYPT_MESSAGE_PARA para, ContentOut* content, DWORD* error)
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
                if (DecryptAsRecipient(cms, encrypted, isRc2Version52 ? &rc2 : nullptr, r, recipient,
                                       agreedKey, cert, content)) {
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
    EnvelopeWriter writer;
    if (!writer.Prepare(pEncryptPara, cRecipientCert, rgpRecipientCert, cbToBeEncrypted)) {
        *pcbEncryptedBlob = 0;
        return FALSE;
    }
    // A size query or a short buffer learns the size; nothing is encrypted.
    if (pbEncryptedBlob == nullptr || *pcbEncryptedBlob < writer.size())
        return CopyToCaller(nullptr, writer.size(), pbEncryptedBlob, pcbEncryptedBlob);
    if (!writer.Write(pbToBeEncrypted, cbToBeEncrypted, pbEncryptedBlob)) {
        *pcbEncryptedBlob = 0;
        return FALSE;
    }
    *pcbEncryptedBlob = (DWORD)writer.size();
    return TRUE;
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
    ByteSpan encrypted;
    ContentOut content;
    if (pbDecrypted != nullptr && pcbDecrypted != nullptr) {
        content.caller = pbDecrypted;
        content.capacity = *pcbDecrypted;
    }
    PCCERT_CONTEXT keyCert = nullptr;
    if (pDecryptPara == nullptr || !IsPkcs7Encoding(pDecryptPara->dwMsgAndCertEncodingType) ||
        (pbEncryptedBlob == nullptr && cbEncryptedBlob > 0)) {
        error = E_INVALIDARG;
    } else if ((holder.cms = ParseEnvelopedMessage(pbEncryptedBlob, cbEncryptedBlob, &encrypted)) == nullptr) {
        error = GetLastError();
    } else if (CmsMessageType(holder.cms) != CMSG_ENVELOPED) {
        error = CRYPT_E_UNEXPECTED_MSG_TYPE;
    } else {
        keyCert = DecryptWithStores(holder.cms, encrypted, pbEncryptedBlob, cbEncryptedBlob, pDecryptPara,
                                    &content, &error);
    }
    // The parsed object goes before the content is handed out: a large
    // message read whole then stands in memory once less.
    CMS_ContentInfo_free(holder.cms);
    holder.cms = nullptr;
    if (keyCert == nullptr) {
        if (pcbDecrypted != nullptr)
            *pcbDecrypted = 0;
        SetLastError(error);
        return FALSE;
    }
    return HandOutContentAndCert(content.content, keyCert, pbDecrypted, pcbDecrypted, ppXchgCert);
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

}  // extern "C"
