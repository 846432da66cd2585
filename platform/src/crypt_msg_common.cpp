// Shared helpers of the message functions (see crypt_msg_common.h).
#include "crypt_msg_common.h"

#include <stdlib.h>
#include <string.h>

#include <algorithm>

#include "der_reader.h"

namespace {

OSSL_PROVIDER* g_defaultProvider = nullptr;
OSSL_PROVIDER* g_legacyProvider = nullptr;

// Runs before OpenSSL's own exit clean-up (registered later), which then
// frees everything the providers held.
void UnloadCryptoProviders()
{
    OSSL_PROVIDER_unload(g_legacyProvider);
    OSSL_PROVIDER_unload(g_defaultProvider);
}

}  // namespace

void EnsureCryptoProviders()
{
    // Loading "legacy" explicitly stops the implicit "default" from loading,
    // so both are named.
    static const bool loaded = [] {
        g_defaultProvider = OSSL_PROVIDER_load(nullptr, "default");
        g_legacyProvider = OSSL_PROVIDER_load(nullptr, "legacy");
        atexit(UnloadCryptoProviders);
        return true;
    }();
    (void)loaded;
}

BOOL CopyToCaller(const void* data, size_t size, void* out, DWORD* outSize)
{
    if (outSize == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (size > 0xFFFFFFFFu) {
        SetLastError(NTE_NO_MEMORY);
        return FALSE;
    }
    if (out == nullptr) {
        *outSize = (DWORD)size;
        return TRUE;
    }
    if (*outSize < size) {
        *outSize = (DWORD)size;
        SetLastError(ERROR_MORE_DATA);
        return FALSE;
    }
    if (size > 0)
        memcpy(out, data, size);
    *outSize = (DWORD)size;
    return TRUE;
}

bool FailWith(DWORD error)
{
    ERR_clear_error();
    SetLastError(error);
    return false;
}

BOOL HandOutContentAndCert(ByteSpan content, PCCERT_CONTEXT cert, BYTE* out, DWORD* outSize,
                           PCCERT_CONTEXT* certOut)
{
    bool inPlace = out != nullptr && content.data == out && outSize != nullptr && content.size <= *outSize;
    if (inPlace) {
        *outSize = (DWORD)content.size;
    } else if (outSize != nullptr && !CopyToCaller(content.data, content.size, out, outSize)) {
        DWORD error = GetLastError();
        CertFreeCertificateContext(cert);
        SetLastError(error);
        return FALSE;
    }
    if (certOut != nullptr)
        *certOut = cert;
    else
        CertFreeCertificateContext(cert);
    return TRUE;
}

namespace {

DWORD Asn1ErrorFromOpenSsl()
{
    unsigned long error = ERR_peek_error();
    ERR_clear_error();
    if (ERR_GET_LIB(error) != ERR_LIB_ASN1)
        return CRYPT_E_ASN1_CORRUPT;
    switch (ERR_GET_REASON(error)) {
    case ASN1_R_WRONG_TAG:
    case ASN1_R_BAD_OBJECT_HEADER:
        return CRYPT_E_ASN1_BADTAG;
    case ASN1_R_TOO_LONG:
    case ASN1_R_HEADER_TOO_LONG:
    case ASN1_R_NOT_ENOUGH_DATA:
    case ASN1_R_MISSING_EOC:
        return CRYPT_E_ASN1_EOD;
    default:
        return CRYPT_E_ASN1_CORRUPT;
    }
}

}  // namespace

CMS_ContentInfo* ParseContentInfo(const uint8_t* data, size_t size)
{
    EnsureCryptoProviders();
    // The outer header decides the error Windows reports for non-messages:
    // a wrong first tag, or a length running past the data.
    DWORD headerError = CheckOuterSequence(data, size);
    if (headerError != 0) {
        SetLastError(headerError);
        return nullptr;
    }
    // Windows refuses an unknown content type before looking at the content.
    DerTlv oid;
    if (ReadContentTypeOid(data, size, &oid)) {
        DWORD type = Pkcs7ContentType(oid);
        bool known = type == CMSG_DATA || type == CMSG_SIGNED || type == CMSG_ENVELOPED ||
                     type == CMSG_HASHED || type == CMSG_ENCRYPTED;
        if (!known) {
            SetLastError(CRYPT_E_INVALID_MSG_TYPE);
            return nullptr;
        }
    }
    if (size > 0x7FFFFFFF) {
        SetLastError(CRYPT_E_ASN1_LARGE);
        return nullptr;
    }
    ERR_clear_error();
    const unsigned char* p = data;
    CMS_ContentInfo* cms = d2i_CMS_ContentInfo(nullptr, &p, (long)size);
    if (cms == nullptr) {
        SetLastError(Asn1ErrorFromOpenSsl());
        return nullptr;
    }
    ERR_clear_error();
    return cms;
}

// The PKCS #7 content types are 1.2.840.113549.1.7.<type>, type being the CMSG_* value.
static const uint8_t kPkcs7Arc[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07};

DWORD Pkcs7ContentType(const DerTlv& oid)
{
    if (oid.length != sizeof kPkcs7Arc + 1 || memcmp(oid.value, kPkcs7Arc, sizeof kPkcs7Arc) != 0)
        return 0;
    return oid.value[sizeof kPkcs7Arc];
}

Bytes Pkcs7ContentTypeOid(DWORD type)
{
    Bytes oid(kPkcs7Arc, kPkcs7Arc + sizeof kPkcs7Arc);
    oid.push_back((uint8_t)type);
    return oid;
}

DWORD CmsMessageType(const CMS_ContentInfo* cms)
{
    switch (OBJ_obj2nid(CMS_get0_type(cms))) {
    case NID_pkcs7_data:
        return CMSG_DATA;
    case NID_pkcs7_signed:
        return CMSG_SIGNED;
    case NID_pkcs7_enveloped:
        return CMSG_ENVELOPED;
    case NID_pkcs7_digest:
        return CMSG_HASHED;
    case NID_pkcs7_encrypted:
        return CMSG_ENCRYPTED;
    default:
        return 0;
    }
}

Bytes EncodeContentInfo(CMS_ContentInfo* cms)
{
    int length = i2d_CMS_ContentInfo(cms, nullptr);
    if (length <= 0)
        return {};
    Bytes der((size_t)length);
    unsigned char* p = der.data();
    if (i2d_CMS_ContentInfo(cms, &p) != length)
        return {};
    return der;
}

bool ReadContentInfoLevels(const uint8_t* der, size_t size, DerTlv levels[3], DerTlv* type)
{
    // ContentInfo { contentType, [0] EXPLICIT SEQUENCE { ... } }
    DerReader top(der, size);
    if (!top.Read(0x30, &levels[0]))
        return false;
    DerReader ci(levels[0]);
    if (!ci.Read(0x06, type) || !ci.Read(0xA0, &levels[1]))
        return false;
    DerReader explicitContent(levels[1]);
    return explicitContent.Read(0x30, &levels[2]);
}

bool ReadEnvelopedPath(const uint8_t* contentInfoDer, size_t size, EnvelopedPath* path)
{
    // EnvelopedData { version, [0] originatorInfo OPTIONAL, recipientInfos SET,
    // encryptedContentInfo { contentType, contentEncryptionAlgorithm, ... } }
    DerTlv* level = path->levels;
    DerTlv type, version;
    if (!ReadContentInfoLevels(contentInfoDer, size, level, &type))
        return false;
    DerReader env(level[2]);
    DerTlv* recipients = &path->recipients;
    if (!env.Read(0x02, &version) || !env.ReadAny(recipients))
        return false;
    if (recipients->tag == 0xA0 && !env.ReadAny(recipients))
        return false;
    return recipients->tag == 0x31 && env.Read(0x30, &level[3]);
}

// An enveloped ContentInfo in DER without its encrypted content, and where
// that content lies in `der`. False for any other form (BER, constructed
// content, no content).
static bool SplitEnvelopedContent(const uint8_t* der, size_t size, Bytes* rest, ByteSpan* encrypted)
{
    EnvelopedPath path;
    DerTlv type, algorithm, content;
    if (!ReadEnvelopedPath(der, size, &path) || path.levels[0].total != size)
        return false;
    DerReader info(path.levels[3]);
    if (!info.Read(0x06, &type) || !info.Read(0x30, &algorithm) || !info.Read(0x80, &content) || !info.AtEnd())
        return false;
    *rest = DerWithout(path.levels, 4, content);
    encrypted->data = content.value;
    encrypted->size = content.length;
    return true;
}

CMS_ContentInfo* ParseAroundContent(const uint8_t* blob, size_t size, ContentSplitter split, ByteSpan* content)
{
    Bytes rest;
    if (split != nullptr && split(blob, size, &rest, content)) {
        CMS_ContentInfo* cms = ParseContentInfo(rest.data(), rest.size());
        if (cms != nullptr)
            return cms;
    }
    *content = ByteSpan();
    CMS_ContentInfo* cms = ParseContentInfo(blob, size);
    ASN1_OCTET_STRING** inner = cms != nullptr ? CMS_get0_content(cms) : nullptr;
    if (inner != nullptr && *inner != nullptr) {
        content->data = ASN1_STRING_get0_data(*inner);
        content->size = (size_t)ASN1_STRING_length(*inner);
    }
    return cms;
}

CMS_ContentInfo* ParseEnvelopedMessage(const uint8_t* blob, size_t size, ByteSpan* encrypted)
{
    return ParseAroundContent(blob, size, SplitEnvelopedContent, encrypted);
}

Bytes EnvelopedContentAlgorithm(const uint8_t* contentInfoDer, size_t size)
{
    EnvelopedPath path;
    DerTlv eciType, algorithm;
    if (!ReadEnvelopedPath(contentInfoDer, size, &path))
        return {};
    DerReader info(path.levels[3]);
    if (!info.Read(0x06, &eciType) || !info.Read(0x30, &algorithm))
        return {};
    return Bytes(algorithm.start, algorithm.start + algorithm.total);
}

Bytes KeyTransportEncryptedKey(const uint8_t* contentInfoDer, size_t size, int index)
{
    EnvelopedPath path;
    DerTlv recipient, version, id, algorithm, key;
    if (!ReadEnvelopedPath(contentInfoDer, size, &path))
        return {};
    DerReader list(path.recipients);
    for (int i = 0; i <= index; ++i)
        if (!list.ReadAny(&recipient))
            return {};
    if (recipient.tag != 0x30)
        return {};  // not key transport
    DerReader fields(recipient);
    if (!fields.Read(0x02, &version) || !fields.ReadAny(&id) || !fields.Read(0x30, &algorithm) ||
        !fields.Read(0x04, &key))
        return {};
    return Bytes(key.value, key.value + key.length);
}

BOOL CopyAlgorithmToCaller(const Bytes& algorithmDer, void* out, DWORD* outSize)
{
    DerReader top(algorithmDer.data(), algorithmDer.size());
    DerTlv sequence, oid;
    if (!top.Read(0x30, &sequence)) {
        SetLastError(CRYPT_E_ASN1_BADTAG);
        return FALSE;
    }
    DerReader inner(sequence);
    if (!inner.Read(0x06, &oid)) {
        SetLastError(CRYPT_E_ASN1_BADTAG);
        return FALSE;
    }
    const unsigned char* p = oid.start;
    ASN1_OBJECT* object = d2i_ASN1_OBJECT(nullptr, &p, (long)oid.total);
    if (object == nullptr) {
        ERR_clear_error();
        SetLastError(CRYPT_E_ASN1_CORRUPT);
        return FALSE;
    }
    int textLength = OBJ_obj2txt(nullptr, 0, object, 1);
    std::string text(textLength > 0 ? (size_t)textLength : 0, '\0');
    if (textLength > 0)
        OBJ_obj2txt(&text[0], textLength + 1, object, 1);
    ASN1_OBJECT_free(object);
    if (textLength <= 0) {
        SetLastError(CRYPT_E_OID_FORMAT);
        return FALSE;
    }

    const uint8_t* parameters = oid.start + oid.total;
    size_t parametersSize = (size_t)(sequence.value + sequence.length - parameters);
    size_t needed = sizeof(CRYPT_ALGORITHM_IDENTIFIER) + text.size() + 1 + parametersSize;
    if (outSize == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    if (out == nullptr || *outSize < needed) {
        BOOL ok = CopyToCaller(nullptr, needed, out, outSize);
        return out == nullptr ? ok : FALSE;
    }
    auto* algorithm = (CRYPT_ALGORITHM_IDENTIFIER*)out;
    char* oidText = (char*)out + sizeof(CRYPT_ALGORITHM_IDENTIFIER);
    memcpy(oidText, text.c_str(), text.size() + 1);
    BYTE* parameterBytes = (BYTE*)oidText + text.size() + 1;
    if (parametersSize > 0)
        memcpy(parameterBytes, parameters, parametersSize);
    algorithm->pszObjId = oidText;
    algorithm->Parameters.cbData = (DWORD)parametersSize;
    algorithm->Parameters.pbData = parametersSize > 0 ? parameterBytes : nullptr;
    *outSize = (DWORD)needed;
    return TRUE;
}

BOOL CopyAlgorithmToCaller(const X509_ALGOR* algorithm, void* out, DWORD* outSize)
{
    int length = i2d_X509_ALGOR(algorithm, nullptr);
    if (length <= 0) {
        SetLastError(CRYPT_E_ASN1_CORRUPT);
        return FALSE;
    }
    Bytes der((size_t)length);
    unsigned char* p = der.data();
    i2d_X509_ALGOR(algorithm, &p);
    return CopyAlgorithmToCaller(der, out, outSize);
}

namespace {

// The Windows key-identifier form of a signer id: a name with one attribute,
// szOID_KEYID_RDN, holding the key identifier as an octet string.
Bytes KeyIdName(const ASN1_OCTET_STRING* keyId)
{
    static const uint8_t kKeyIdRdnOid[] = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04, 0x01,
                                           0x82, 0x37, 0x0A, 0x07, 0x01};
    Bytes value = DerEncode(0x04, Bytes(keyId->data, keyId->data + keyId->length));
    Bytes attribute(kKeyIdRdnOid, kKeyIdRdnOid + sizeof kKeyIdRdnOid);
    for (uint8_t byte : value)
        attribute.push_back(byte);
    return DerEncode(0x30, DerEncode(0x31, DerEncode(0x30, attribute)));
}

}  // namespace

bool MakeSignerId(CMS_SignerInfo* signer, SignerId* id)
{
    ASN1_OCTET_STRING* keyId = nullptr;
    X509_name_st* issuer = nullptr;  // X509_NAME is a wincrypt constant here
    ASN1_INTEGER* serial = nullptr;
    memset(&id->info, 0, sizeof id->info);
    id->issuer.clear();
    id->serial.clear();
    if (CMS_SignerInfo_get0_signer_id(signer, &keyId, &issuer, &serial) != 1)
        return false;
    if (issuer != nullptr && serial != nullptr) {
        int length = i2d_X509_NAME(issuer, nullptr);
        if (length <= 0)
            return false;
        id->issuer.resize((size_t)length);
        unsigned char* p = id->issuer.data();
        i2d_X509_NAME(issuer, &p);
        // CryptoAPI integers are little-endian: the DER content octets reversed.
        int serialLength = i2d_ASN1_INTEGER(serial, nullptr);
        if (serialLength <= 0)
            return false;
        Bytes der((size_t)serialLength);
        p = der.data();
        i2d_ASN1_INTEGER(serial, &p);
        DerReader reader(der.data(), der.size());
        DerTlv integer;
        if (!reader.Read(0x02, &integer))
            return false;
        id->serial.assign(integer.value, integer.value + integer.length);
        std::reverse(id->serial.begin(), id->serial.end());
    } else if (keyId != nullptr) {
        id->issuer = KeyIdName(keyId);
    } else {
        return false;
    }
    id->info.Issuer.cbData = (DWORD)id->issuer.size();
    id->info.Issuer.pbData = id->issuer.data();
    id->info.SerialNumber.cbData = (DWORD)id->serial.size();
    id->info.SerialNumber.pbData = id->serial.empty() ? nullptr : id->serial.data();
    return true;
}

bool IsPkcs7Encoding(DWORD encodingType)
{
    return (encodingType & PKCS_7_ASN_ENCODING) != 0;
}
