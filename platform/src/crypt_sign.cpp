// CryptSignMessage: PKCS #7 signed-data with one signer, made with
// OpenSSL's CMS functions. RSA PKCS #1 v1.5 signatures are deterministic and
// no signing time is added without authenticated attributes, so the size
// query and the fill call produce the same bytes.
#include <string.h>


#include "crypt_msg_common.h"  // first: OpenSSL before wincrypt
#include "crypt_internal.h"
#include "api_guard.h"

namespace {

struct DigestOid {
    const char* oid;
    const EVP_MD* (*md)();
};

const DigestOid kDigests[] = {
    {szOID_OIWSEC_sha1, EVP_sha1},      {szOID_RSA_MD5, EVP_md5},
    {szOID_NIST_sha256, EVP_sha256},    {szOID_NIST_sha384, EVP_sha384},
    {szOID_NIST_sha512, EVP_sha512},
};

const EVP_MD* DigestForOid(const char* oid)
{
    if (oid == nullptr)
        return nullptr;
    for (const DigestOid& d : kDigests)
        if (strcmp(d.oid, oid) == 0)
            return d.md();
    return nullptr;
}

Bytes JoinPieces(DWORD count, const BYTE* pieces[], DWORD sizes[], bool* ok)
{
    Bytes all;
    *ok = true;
    for (DWORD i = 0; i < count; ++i) {
        if (sizes == nullptr || pieces == nullptr || (sizes[i] > 0 && pieces[i] == nullptr)) {
            *ok = false;
            return {};
        }
        all.insert(all.end(), pieces[i], pieces[i] + sizes[i]);
    }
    return all;
}

bool AddAuthAttributes(CMS_SignerInfo* signer, DWORD count, const CRYPT_ATTRIBUTE* attributes,
                       bool authenticated)
{
    for (DWORD i = 0; i < count; ++i) {
        const CRYPT_ATTRIBUTE& attribute = attributes[i];
        ASN1_OBJECT* oid = OBJ_txt2obj(attribute.pszObjId, 1);
        if (oid == nullptr)
            return false;
        bool ok = true;
        for (DWORD v = 0; ok && v < attribute.cValue; ++v) {
            const unsigned char* p = attribute.rgValue[v].pbData;
            ASN1_TYPE* value = d2i_ASN1_TYPE(nullptr, &p, (long)attribute.rgValue[v].cbData);
            if (value == nullptr) {
                ok = false;
                break;
            }
            // The union member is the object the type needs (string, object, ...).
            X509_ATTRIBUTE* x = X509_ATTRIBUTE_create_by_OBJ(nullptr, oid, value->type,
                                                              value->value.ptr, -1);
            ok = x != nullptr && (authenticated ? CMS_signed_add1_attr(signer, x)
                                                : CMS_unsigned_add1_attr(signer, x)) == 1;
            X509_ATTRIBUTE_free(x);
            ASN1_TYPE_free(value);
        }
        ASN1_OBJECT_free(oid);
        if (!ok)
            return false;
    }
    return true;
}

// A signed message. Its content, when it carries one, is the caller's bytes,
// borrowed: they are taken out again before the message is freed. The
// message is encoded straight into the caller's buffer.
class SignedMessage {
public:
    ~SignedMessage()
    {
        if (inner_ != nullptr && *inner_ != nullptr) {
            (*inner_)->data = nullptr;  // set0 would have them freed with the message
            (*inner_)->length = 0;
        }
        CMS_ContentInfo_free(cms_);
    }

    // False with the last error set.
    bool Build(const CRYPT_SIGN_MESSAGE_PARA* para, bool detached, const BYTE* content, size_t contentSize)
    {
        const EVP_MD* md = DigestForOid(para->HashAlgorithm.pszObjId);
        if (md == nullptr)
            return FailWith(CRYPT_E_UNKNOWN_ALGO);
        X509* signerCert = CertX509(para->pSigningCert);
        EVP_PKEY* key = CertPrivateKey(para->pSigningCert);
        if (signerCert == nullptr || key == nullptr)
            return FailWith(CRYPT_E_NO_KEY_PROPERTY);
        // Signed as detached: CMS_final then only digests the content, where
        // the opaque form would gather a copy of it in a growing memory BIO.
        // The content is put in afterwards.
        const unsigned int flags = CMS_BINARY | CMS_PARTIAL | CMS_DETACHED;
        cms_ = CMS_sign(nullptr, nullptr, nullptr, nullptr, flags);
        if (cms_ == nullptr)
            return FailWith(NTE_NO_MEMORY);
        // Only the certificates asked for go in: the signer's is not implied.
        for (DWORD i = 0; i < para->cMsgCert; ++i) {
            X509* x = para->rgpMsgCert ? CertX509(para->rgpMsgCert[i]) : nullptr;
            if (x == nullptr || CMS_add1_cert(cms_, x) != 1)
                return FailWith(E_INVALIDARG);
        }
        unsigned int signerFlags = CMS_BINARY | CMS_NOCERTS | CMS_PARTIAL | CMS_NOSMIMECAP;
        if (para->cAuthAttr == 0)
            signerFlags |= CMS_NOATTR;
        CMS_SignerInfo* signer = CMS_add1_signer(cms_, signerCert, key, md, signerFlags);
        if (signer == nullptr)
            return FailWith(NTE_BAD_KEY);
        if (!AddAuthAttributes(signer, para->cAuthAttr, para->rgAuthAttr, true) ||
            !AddAuthAttributes(signer, para->cUnauthAttr, para->rgUnauthAttr, false))
            return FailWith(CRYPT_E_BAD_ENCODE);
        BIO* in = BIO_new_mem_buf(content ? content : (const BYTE*)"", (int)contentSize);
        bool ok = in != nullptr && CMS_final(cms_, in, nullptr, flags) == 1;
        BIO_free(in);
        if (ok && !detached) {
            ok = CMS_set_detached(cms_, 0) == 1 && (inner_ = CMS_get0_content(cms_)) != nullptr &&
                 *inner_ != nullptr;
            if (ok) {
                (*inner_)->flags &= ~ASN1_STRING_FLAG_CONT;  // not a placeholder any more
                ASN1_STRING_set0(*inner_, (void*)(content ? content : (const BYTE*)""), (int)contentSize);
            }
        }
        if (!ok)
            return FailWith(CRYPT_E_MSG_ERROR);
        return true;
    }

    // The size-query rules, with the encoding written where the caller wants it.
    BOOL EncodeTo(BYTE* out, DWORD* outSize)
    {
        int length = i2d_CMS_ContentInfo(cms_, nullptr);
        if (length <= 0)
            return FailWith(CRYPT_E_MSG_ERROR);
        if (out == nullptr || *outSize < (DWORD)length)
            return CopyToCaller(nullptr, (size_t)length, out, outSize);
        unsigned char* p = out;
        if (i2d_CMS_ContentInfo(cms_, &p) != length)
            return FailWith(CRYPT_E_MSG_ERROR);
        *outSize = (DWORD)length;
        return TRUE;
    }

private:
    CMS_ContentInfo* cms_ = nullptr;
    ASN1_OCTET_STRING** inner_ = nullptr;  // the borrowed content's place
};

}  // namespace

extern "C" {

BOOL WINAPI CryptSignMessage(PCRYPT_SIGN_MESSAGE_PARA pSignPara, BOOL fDetachedSignature,
                             DWORD cToBeSigned, const BYTE* rgpbToBeSigned[],
                             DWORD rgcbToBeSigned[], BYTE* pbSignedBlob, DWORD* pcbSignedBlob)
{
    API_GUARD_BEGIN
    EnsureCryptoProviders();
    if (pSignPara == nullptr || pcbSignedBlob == nullptr ||
        !IsPkcs7Encoding(pSignPara->dwMsgEncodingType) || pSignPara->pSigningCert == nullptr ||
        pSignPara->cMsgCrl != 0 ||
        (pSignPara->dwInnerContentType != 0 && pSignPara->dwInnerContentType != CMSG_DATA) ||
        (!fDetachedSignature && cToBeSigned != 1)) {
        if (pcbSignedBlob)
            *pcbSignedBlob = 0;
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    {
        bool piecesOk = false;
        // One piece (the usual case) is signed where it lies.
        Bytes joined;
        const BYTE* content = nullptr;
        size_t contentSize = 0;
        if (cToBeSigned == 1 && rgpbToBeSigned != nullptr && rgcbToBeSigned != nullptr &&
            (rgcbToBeSigned[0] == 0 || rgpbToBeSigned[0] != nullptr)) {
            piecesOk = true;
            content = rgpbToBeSigned[0];
            contentSize = rgcbToBeSigned[0];
        } else {
            joined = JoinPieces(cToBeSigned, rgpbToBeSigned, rgcbToBeSigned, &piecesOk);
            content = joined.data();
            contentSize = joined.size();
        }
        if (!piecesOk || contentSize > 0x7FFFFFFF) {
            *pcbSignedBlob = 0;
            SetLastError(E_INVALIDARG);
            return FALSE;
        }
        SignedMessage message;
        if (!message.Build(pSignPara, fDetachedSignature != FALSE, content, contentSize)) {
            *pcbSignedBlob = 0;
            return FALSE;
        }
        BOOL encoded = message.EncodeTo(pbSignedBlob, pcbSignedBlob);
        if (!encoded && GetLastError() != ERROR_MORE_DATA)
            *pcbSignedBlob = 0;
        return encoded;
    }
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

}  // extern "C"
