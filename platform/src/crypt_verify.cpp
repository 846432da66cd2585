// CryptVerifyMessageSignature, CryptVerifyDetachedMessageSignature and
// CryptGetMessageCertificates (a message's own certificates as a store). The
// signer's certificate comes only from the caller's callback (or, without
// one, from the message's own certificates); no chain is built here.
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


// The signer's digest. Some signers name the signature algorithm there
// (dsaWithSHA1, 1.3.14.3.2.27); the entry is rewritten to the digest it
// implies, so that OpenSSL's own checks find it too.
const EVP_MD* SignerDigest(CMS_SignerInfo* signer)
{
    X509_ALGOR* digestAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digestAlgorithm, nullptr);
    if (digestAlgorithm == nullptr)
        return nullptr;
    const ASN1_OBJECT* oid = nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, digestAlgorithm);
    int digestNid = NID_undef, keyNid = NID_undef;
    if (OBJ_find_sigid_algs(OBJ_obj2nid(oid), &digestNid, &keyNid) && digestNid != NID_undef &&
        X509_ALGOR_set0(digestAlgorithm, OBJ_nid2obj(digestNid), V_ASN1_UNDEF, nullptr) == 1)
        return EVP_get_digestbynid(digestNid);
    return EVP_get_digestbyobj(oid);
}

// Whether the message's digestAlgorithms set lists the signer's digest
// algorithm (compared as written, before SignerDigest reads it).
bool DigestListed(const BYTE* blob, DWORD blobSize, CMS_SignerInfo* signer)
{
    X509_ALGOR* digestAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digestAlgorithm, nullptr);
    const ASN1_OBJECT* oid = nullptr;
    DerTlv set, algorithm, listed;
    if (digestAlgorithm == nullptr || !ReadSignedDigestSet(blob, blobSize, &set))
        return false;
    X509_ALGOR_get0(&oid, nullptr, nullptr, digestAlgorithm);
    size_t oidLength = (size_t)OBJ_length(oid);
    DerReader entries(set);
    while (entries.Read(0x30, &algorithm)) {
        DerReader inner(algorithm);
        if (inner.Read(0x06, &listed) && listed.length == oidLength &&
            memcmp(listed.value, OBJ_get0_data(oid), oidLength) == 0)
            return true;
    }
    return false;
}

bool Digest(const EVP_MD* md, const ByteSpan& content, Bytes* digest)
{
    digest->resize(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(content.data, content.size, digest->data(), &length, md, nullptr) != 1)
        return false;
    digest->resize(length);
    return true;
}

// Whether the signature is one this key made over some digest: then a
// failed check means the content changed, not the signature.
bool SignatureRecoverable(EVP_PKEY* key, const ASN1_OCTET_STRING* signature)
{
    if (!EVP_PKEY_is_a(key, "RSA"))
        return false;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = ctx != nullptr && EVP_PKEY_verify_recover_init(ctx) == 1 &&
              EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1;
    size_t length = 0;
    ok = ok && EVP_PKEY_verify_recover(ctx, nullptr, &length, signature->data,
                                       (size_t)signature->length) == 1;
    Bytes recovered(length);
    ok = ok && EVP_PKEY_verify_recover(ctx, recovered.data(), &length, signature->data,
                                       (size_t)signature->length) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

// Verifies one signer with the certificate's public key; 0 or the error code.
DWORD VerifySigner(CMS_SignerInfo* signer, X509* cert, const ByteSpan& content)
{
    const EVP_MD* md = SignerDigest(signer);
    if (md == nullptr)
        return CRYPT_E_UNKNOWN_ALGO;
    Bytes digest;
    if (!Digest(md, content, &digest))
        return CRYPT_E_UNKNOWN_ALGO;
    EVP_PKEY* key = X509_get0_pubkey(cert);
    if (key == nullptr)
        return NTE_BAD_KEY;

    if (CMS_signed_get_attr_count(signer) > 0) {
        // The signature covers the attributes; the content is bound by messageDigest.
        ASN1_OCTET_STRING* messageDigest = (ASN1_OCTET_STRING*)CMS_signed_get0_data_by_OBJ(
            signer, OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING);
        if (messageDigest == nullptr)
            return CRYPT_E_AUTH_ATTR_MISSING;
        if ((size_t)messageDigest->length != digest.size() ||
            memcmp(messageDigest->data, digest.data(), digest.size()) != 0)
            return CRYPT_E_HASH_VALUE;
        CMS_SignerInfo_set1_signer_cert(signer, cert);
        return CMS_SignerInfo_verify(signer) == 1 ? 0 : NTE_BAD_SIGNATURE;
    }

    ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(signer);
    if (signature == nullptr)
        return NTE_BAD_SIGNATURE;
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
    bool ok = ctx != nullptr && EVP_PKEY_verify_init(ctx) == 1 &&
              EVP_PKEY_CTX_set_signature_md(ctx, md) == 1;
    if (ok && EVP_PKEY_is_a(key, "RSA"))
        ok = EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) == 1;
    ok = ok && EVP_PKEY_verify(ctx, signature->data, (size_t)signature->length, digest.data(),
                               digest.size()) == 1;
    EVP_PKEY_CTX_free(ctx);
    if (ok)
        return 0;
    return SignatureRecoverable(key, signature) ? CRYPT_E_HASH_VALUE : NTE_BAD_SIGNATURE;
}

// A store with the message's own certificates, for the callback.
HCERTSTORE MessageStore(CMS_ContentInfo* cms)
{
    HCERTSTORE store = OpenMemoryStore();
    if (store == nullptr)
        return nullptr;
    STACK_OF(X509)* certs = CMS_get1_certs(cms);
    for (int i = 0; i < sk_X509_num(certs); ++i)
        AddX509ToMemoryStore(store, sk_X509_value(certs, i));
    sk_X509_pop_free(certs, X509_free);
    return store;
}

// Without a callback, a signer named by key identifier is looked up among
// the message's certificates directly.
PCCERT_CONTEXT MessageCertByKeyId(CMS_ContentInfo* cms, CMS_SignerInfo* signer)
{
    PCCERT_CONTEXT found = nullptr;
    STACK_OF(X509)* certs = CMS_get1_certs(cms);
    for (int i = 0; found == nullptr && i < sk_X509_num(certs); ++i)
        if (CMS_SignerInfo_cert_cmp(signer, sk_X509_value(certs, i)) == 0)
            found = NewCertContext(sk_X509_value(certs, i), nullptr);
    sk_X509_pop_free(certs, X509_free);
    return found;
}

// A signed ContentInfo in DER without its encapsulated content, and where
// that content lies in `der`: OpenSSL then parses only the small rest (a
// detached signature), and the content is digested and handed out where it
// lies. False for any other form (BER, constructed content, no content).
bool SplitSignedContent(const uint8_t* der, size_t size, Bytes* rest, ByteSpan* content)
{
    // ContentInfo { signedData, [0] { SignedData { version, digestAlgorithms,
    // encapContentInfo { eContentType, [0] { OCTET STRING } }, ... } } }
    DerTlv path[4], type, version, digests, encapType, wrapper, octets;
    if (!ReadContentInfoLevels(der, size, path, &type) || path[0].total != size ||
        Pkcs7ContentType(type) != CMSG_SIGNED)
        return false;
    DerReader signedData(path[2]);
    if (!signedData.Read(0x02, &version) || !signedData.Read(0x31, &digests) ||
        !signedData.Read(0x30, &path[3]))
        return false;
    DerReader encap(path[3]);
    if (!encap.Read(0x06, &encapType) || !encap.Read(0xA0, &wrapper) || !encap.AtEnd())
        return false;
    DerReader inner(wrapper);
    if (!inner.Read(0x04, &octets) || !inner.AtEnd())
        return false;
    *rest = DerWithout(path, 4, wrapper);
    content->data = octets.value;
    content->size = octets.length;
    return true;
}

// Shared body of both functions: the verified signer's certificate (a new
// reference), or null with the error set. `detachedContent` null: the
// content is taken from the message, and `content` tells where it lies (in
// the blob or in holder's object).
PCCERT_CONTEXT VerifySignedMessage(PCRYPT_VERIFY_MESSAGE_PARA para, DWORD signerIndex, const BYTE* blob,
                                   DWORD blobSize, const ByteSpan* detachedContent, CmsHolder* holder,
                                   ByteSpan* content)
{
    EnsureCryptoProviders();
    if (para == nullptr || !IsPkcs7Encoding(para->dwMsgAndCertEncodingType) ||
        (blob == nullptr && blobSize > 0)) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    holder->cms = ParseAroundContent(blob, blobSize, detachedContent == nullptr ? SplitSignedContent : nullptr,
                                     content);
    if (holder->cms == nullptr)
        return nullptr;
    if (CmsMessageType(holder->cms) != CMSG_SIGNED) {
        SetLastError(CRYPT_E_UNEXPECTED_MSG_TYPE);
        return nullptr;
    }
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(holder->cms);
    if (signers == nullptr || signerIndex >= (DWORD)sk_CMS_SignerInfo_num(signers)) {
        SetLastError(CRYPT_E_NO_SIGNER);
        return nullptr;
    }
    CMS_SignerInfo* signer = sk_CMS_SignerInfo_value(signers, (int)signerIndex);
    if (!DigestListed(blob, blobSize, signer)) {
        SetLastError(CRYPT_E_UNKNOWN_ALGO);
        return nullptr;
    }

    if (detachedContent != nullptr)
        *content = *detachedContent;

    SignerId id;
    if (!MakeSignerId(signer, &id)) {
        SetLastError(CRYPT_E_ASN1_CORRUPT);
        return nullptr;
    }
    HCERTSTORE store = MessageStore(holder->cms);
    if (store == nullptr) {
        SetLastError(NTE_NO_MEMORY);
        return nullptr;
    }
    PCCERT_CONTEXT cert = nullptr;
    if (para->pfnGetSignerCertificate != nullptr)
        cert = para->pfnGetSignerCertificate(para->pvGetArg, para->dwMsgAndCertEncodingType,
                                             &id.info, store);
    else
        cert = CertGetSubjectCertificateFromStore(store, para->dwMsgAndCertEncodingType, &id.info);
    CertCloseStore(store, 0);
    if (cert == nullptr && para->pfnGetSignerCertificate == nullptr && id.serial.empty())
        cert = MessageCertByKeyId(holder->cms, signer);
    if (cert == nullptr) {
        SetLastError(CRYPT_E_NOT_FOUND);
        return nullptr;
    }
    X509* x509 = CertX509(cert);
    DWORD error = x509 != nullptr ? VerifySigner(signer, x509, *content) : NTE_BAD_KEY;
    ERR_clear_error();
    if (error != 0) {
        CertFreeCertificateContext(cert);
        SetLastError(error);
        return nullptr;
    }
    return cert;
}

}  // namespace

extern "C" {

BOOL WINAPI CryptVerifyMessageSignature(PCRYPT_VERIFY_MESSAGE_PARA pVerifyPara,
                                        DWORD dwSignerIndex, const BYTE* pbSignedBlob,
                                        DWORD cbSignedBlob, BYTE* pbDecoded, DWORD* pcbDecoded,
                                        PCCERT_CONTEXT* ppSignerCert)
{
    API_GUARD_BEGIN
    if (ppSignerCert != nullptr)
        *ppSignerCert = nullptr;
    CmsHolder holder;
    ByteSpan content;
    // The content is copied from where it lies (mostly the caller's blob).
    PCCERT_CONTEXT signer = VerifySignedMessage(pVerifyPara, dwSignerIndex, pbSignedBlob, cbSignedBlob,
                                                nullptr, &holder, &content);
    if (signer == nullptr) {
        DWORD error = GetLastError();
        if (pcbDecoded != nullptr)
            *pcbDecoded = 0;
        SetLastError(error);
        return FALSE;
    }
    return HandOutContentAndCert(content, signer, pbDecoded, pcbDecoded, ppSignerCert);
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

HCERTSTORE WINAPI CryptGetMessageCertificates(DWORD dwMsgAndCertEncodingType, HCRYPTPROV_LEGACY hCryptProv,
                                              DWORD dwFlags, const BYTE* pbSignedBlob, DWORD cbSignedBlob)
{
    API_GUARD_BEGIN
    EnsureCryptoProviders();
    if (!IsPkcs7Encoding(dwMsgAndCertEncodingType) || (pbSignedBlob == nullptr && cbSignedBlob > 0)) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    CmsHolder holder;
    ByteSpan content;  // not read: only the certificates are wanted
    holder.cms = ParseAroundContent(pbSignedBlob, cbSignedBlob, SplitSignedContent, &content);
    if (holder.cms == nullptr)
        return nullptr;
    HCERTSTORE store = MessageStore(holder.cms);
    if (store == nullptr)
        SetLastError(NTE_NO_MEMORY);
    return store;
    API_GUARD_END(nullptr, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CryptVerifyDetachedMessageSignature(PCRYPT_VERIFY_MESSAGE_PARA pVerifyPara,
                                                DWORD dwSignerIndex,
                                                const BYTE* pbDetachedSignBlob,
                                                DWORD cbDetachedSignBlob, DWORD cToBeSigned,
                                                const BYTE* rgpbToBeSigned[],
                                                DWORD rgcbToBeSigned[],
                                                PCCERT_CONTEXT* ppSignerCert)
{
    API_GUARD_BEGIN
    if (ppSignerCert != nullptr)
        *ppSignerCert = nullptr;
    // One piece (the usual case) is verified where it lies.
    Bytes joined;
    ByteSpan detached;
    for (DWORD i = 0; i < cToBeSigned; ++i) {
        if (rgpbToBeSigned == nullptr || rgcbToBeSigned == nullptr ||
            (rgcbToBeSigned[i] > 0 && rgpbToBeSigned[i] == nullptr)) {
            SetLastError(E_INVALIDARG);
            return FALSE;
        }
    }
    if (cToBeSigned == 1) {
        detached.data = rgpbToBeSigned[0];
        detached.size = rgcbToBeSigned[0];
    } else {
        for (DWORD i = 0; i < cToBeSigned; ++i)
            joined.insert(joined.end(), rgpbToBeSigned[i], rgpbToBeSigned[i] + rgcbToBeSigned[i]);
        detached.data = joined.data();
        detached.size = joined.size();
    }
    CmsHolder holder;
    ByteSpan content;
    PCCERT_CONTEXT signer = VerifySignedMessage(pVerifyPara, dwSignerIndex, pbDetachedSignBlob,
                                                cbDetachedSignBlob, &detached, &holder, &content);
    return signer != nullptr ? HandOutContentAndCert(content, signer, nullptr, nullptr, ppSignerCert) : FALSE;
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

}  // extern "C"
