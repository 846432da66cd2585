// Low-level message decoding: CryptMsgOpenToDecode, CryptMsgUpdate,
// CryptMsgGetParam and CryptMsgClose over OpenSSL's CMS parser.
#include <string.h>

#include "crypt_msg_common.h"
#include "der_reader.h"
#include "api_guard.h"

namespace {

const uint32_t kDecodeMessageMagic = 0x444D5347;  // "DMSG"

struct DecodeMessage {
    uint32_t magic = kDecodeMessageMagic;
    DWORD expectedType = 0;  // 0: taken from the data
    Bytes data;              // accumulated until the final update
    bool final = false;
    CMS_ContentInfo* cms = nullptr;
    DWORD type = 0;
    Bytes envelopeAlgorithm;  // DER AlgorithmIdentifier of an enveloped message's content
};

DecodeMessage* FromHandle(HCRYPTMSG handle)
{
    auto* message = (DecodeMessage*)handle;
    if (message == nullptr || message->magic != kDecodeMessageMagic) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    return message;
}

Bytes WrapInContentInfo(DWORD type, const Bytes& content)
{
    Bytes inner = DerEncode(0x06, Pkcs7ContentTypeOid(type));
    Bytes explicitContent = DerEncode(0xA0, content);
    inner.insert(inner.end(), explicitContent.begin(), explicitContent.end());
    return DerEncode(0x30, inner);
}

BOOL CopyDword(DWORD value, void* out, DWORD* outSize)
{
    return CopyToCaller(&value, sizeof value, out, outSize);
}

CMS_SignerInfo* SignerAt(DecodeMessage* message, DWORD index)
{
    STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(message->cms);
    if (signers == nullptr || index >= (DWORD)sk_CMS_SignerInfo_num(signers))
        return nullptr;
    return sk_CMS_SignerInfo_value(signers, (int)index);
}

BOOL GetContent(DecodeMessage* message, void* out, DWORD* outSize)
{
    if (message->type == CMSG_ENVELOPED || message->type == CMSG_ENCRYPTED) {
        // Their content is readable only once decrypted, which this handle never does.
        SetLastError(CRYPT_E_NOT_DECRYPTED);
        return FALSE;
    }
    if (message->type != CMSG_DATA && message->type != CMSG_SIGNED && message->type != CMSG_HASHED) {
        SetLastError(CRYPT_E_INVALID_MSG_TYPE);
        return FALSE;
    }
    ASN1_OCTET_STRING** content = CMS_get0_content(message->cms);
    if (content == nullptr || *content == nullptr)
        return CopyToCaller(nullptr, 0, out, outSize);
    return CopyToCaller(ASN1_STRING_get0_data(*content), (size_t)ASN1_STRING_length(*content), out,
                        outSize);
}

}  // namespace

extern "C" {

HCRYPTMSG WINAPI CryptMsgOpenToDecode(DWORD dwMsgEncodingType, DWORD dwFlags, DWORD dwMsgType,
                                      HCRYPTPROV_LEGACY hCryptProv, PCERT_INFO pRecipientInfo,
                                      PCMSG_STREAM_INFO pStreamInfo)
{
    API_GUARD_BEGIN
    if (!IsPkcs7Encoding(dwMsgEncodingType)) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    if (pStreamInfo != nullptr || dwMsgType > CMSG_ENCRYPTED) {
        SetLastError(CRYPT_E_INVALID_MSG_TYPE);
        return nullptr;
    }
    auto* message = new DecodeMessage;
    message->expectedType = dwMsgType;
    return message;
    API_GUARD_END(nullptr, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CryptMsgUpdate(HCRYPTMSG hCryptMsg, const BYTE* pbData, DWORD cbData, BOOL fFinal)
{
    API_GUARD_BEGIN
    DecodeMessage* message = FromHandle(hCryptMsg);
    if (message == nullptr)
        return FALSE;
    if (message->final) {
        SetLastError(CRYPT_E_MSG_ERROR);
        return FALSE;
    }
    if (cbData > 0 && pbData == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    // A whole message in one final update is parsed where it lies; pieces are gathered first.
    const BYTE* whole = pbData;
    size_t wholeSize = cbData;
    bool gathered = !message->data.empty() || !fFinal || message->expectedType != 0;
    if (gathered && cbData > 0)
        message->data.insert(message->data.end(), pbData, pbData + cbData);
    if (!fFinal)
        return TRUE;
    message->final = true;
    if (message->expectedType != 0) {
        // A type given up front means the data is the bare content, without
        // the ContentInfo around it.
        message->data = WrapInContentInfo(message->expectedType, message->data);
    }
    if (gathered) {
        whole = message->data.data();
        wholeSize = message->data.size();
    }
    // An enveloped message's content is never read through this handle, so
    // it is left out of the parse where the DER allows.
    DerTlv oid;
    ByteSpan encrypted;
    bool enveloped = ReadContentTypeOid(whole, wholeSize, &oid) && Pkcs7ContentType(oid) == CMSG_ENVELOPED;
    message->cms =
        enveloped ? ParseEnvelopedMessage(whole, wholeSize, &encrypted) : ParseContentInfo(whole, wholeSize);
    if (message->cms == nullptr)
        return FALSE;
    message->type = CmsMessageType(message->cms);
    if (message->type == 0) {
        SetLastError(CRYPT_E_INVALID_MSG_TYPE);
        return FALSE;
    }
    if (message->expectedType != 0 && message->type != message->expectedType) {
        SetLastError(CRYPT_E_UNEXPECTED_MSG_TYPE);
        return FALSE;
    }
    if (message->type == CMSG_ENVELOPED) {
        // Only the content algorithm is read by hand, from the DER form; BER
        // input is re-encoded for it.
        message->envelopeAlgorithm = EnvelopedContentAlgorithm(whole, wholeSize);
        if (message->envelopeAlgorithm.empty()) {
            Bytes der = EncodeContentInfo(message->cms);
            message->envelopeAlgorithm = EnvelopedContentAlgorithm(der.data(), der.size());
        }
    }
    message->data = Bytes();
    return TRUE;
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CryptMsgGetParam(HCRYPTMSG hCryptMsg, DWORD dwParamType, DWORD dwIndex, void* pvData,
                             DWORD* pcbData)
{
    API_GUARD_BEGIN
    DecodeMessage* message = FromHandle(hCryptMsg);
    if (message == nullptr)
        return FALSE;
    if (pcbData == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (message->cms == nullptr || message->type == 0) {
        // Nothing decoded yet (or the data was refused).
        SetLastError(CRYPT_E_STREAM_MSG_NOT_READY);
        return FALSE;
    }
    switch (dwParamType) {
    case CMSG_TYPE_PARAM:
        return CopyDword(message->type, pvData, pcbData);
    case CMSG_CONTENT_PARAM:
        return GetContent(message, pvData, pcbData);
    case CMSG_SIGNER_COUNT_PARAM: {
        if (message->type != CMSG_SIGNED) {
            SetLastError(CRYPT_E_INVALID_MSG_TYPE);
            return FALSE;
        }
        STACK_OF(CMS_SignerInfo)* signers = CMS_get0_SignerInfos(message->cms);
        return CopyDword(signers ? (DWORD)sk_CMS_SignerInfo_num(signers) : 0, pvData, pcbData);
    }
    case CMSG_SIGNER_HASH_ALGORITHM_PARAM: {
        if (message->type != CMSG_SIGNED) {
            SetLastError(CRYPT_E_INVALID_MSG_TYPE);
            return FALSE;
        }
        CMS_SignerInfo* signer = SignerAt(message, dwIndex);
        if (signer == nullptr) {
            SetLastError(CRYPT_E_INVALID_INDEX);
            return FALSE;
        }
        X509_ALGOR* digest = nullptr;
        CMS_SignerInfo_get0_algs(signer, nullptr, nullptr, &digest, nullptr);
        if (digest == nullptr) {
            SetLastError(CRYPT_E_INVALID_INDEX);
            return FALSE;
        }
        return CopyAlgorithmToCaller(digest, pvData, pcbData);
    }
    case CMSG_CERT_COUNT_PARAM:
    case CMSG_CERT_PARAM: {
        if (message->type != CMSG_SIGNED) {
            SetLastError(CRYPT_E_INVALID_MSG_TYPE);
            return FALSE;
        }
        STACK_OF(X509)* certs = CMS_get1_certs(message->cms);
        int count = certs ? sk_X509_num(certs) : 0;
        BOOL ok = FALSE;
        if (dwParamType == CMSG_CERT_COUNT_PARAM) {
            ok = CopyDword((DWORD)count, pvData, pcbData);
        } else if (dwIndex >= (DWORD)count) {
            SetLastError(CRYPT_E_INVALID_INDEX);
        } else {
            unsigned char* der = nullptr;
            int length = i2d_X509(sk_X509_value(certs, (int)dwIndex), &der);
            if (length > 0)
                ok = CopyToCaller(der, (size_t)length, pvData, pcbData);
            else
                SetLastError(CRYPT_E_ASN1_CORRUPT);
            OPENSSL_free(der);
        }
        sk_X509_pop_free(certs, X509_free);
        return ok;
    }
    case CMSG_RECIPIENT_COUNT_PARAM: {
        if (message->type != CMSG_ENVELOPED) {
            SetLastError(CRYPT_E_INVALID_MSG_TYPE);
            return FALSE;
        }
        STACK_OF(CMS_RecipientInfo)* recipients = CMS_get0_RecipientInfos(message->cms);
        return CopyDword(recipients ? (DWORD)sk_CMS_RecipientInfo_num(recipients) : 0, pvData,
                         pcbData);
    }
    case CMSG_ENVELOPE_ALGORITHM_PARAM: {
        if (message->type != CMSG_ENVELOPED) {
            SetLastError(CRYPT_E_INVALID_MSG_TYPE);
            return FALSE;
        }
        if (message->envelopeAlgorithm.empty()) {
            SetLastError(CRYPT_E_ASN1_CORRUPT);
            return FALSE;
        }
        return CopyAlgorithmToCaller(message->envelopeAlgorithm, pvData, pcbData);
    }
    default:
        SetLastError(CRYPT_E_INVALID_MSG_TYPE);
        return FALSE;
    }
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CryptMsgClose(HCRYPTMSG hCryptMsg)
{
    if (hCryptMsg == nullptr)
        return TRUE;
    DecodeMessage* message = FromHandle(hCryptMsg);
    if (message == nullptr)
        return FALSE;
    CMS_ContentInfo_free(message->cms);
    message->magic = 0;
    delete message;
    return TRUE;
}

}  // extern "C"
