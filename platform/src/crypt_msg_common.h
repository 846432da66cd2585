// Helpers shared by the message functions of the crypt32 layer: OpenSSL
// provider set-up, the size-query output pattern, DER checks with the
// Windows ASN.1 error codes, and conversions between OpenSSL objects and the
// CryptoAPI structures.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Every OpenSSL header the message side uses comes before <wincrypt.h>,
// whose X509_NAME structure-type constant would hide OpenSSL's type name.
#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <windows.h>
#include <wincrypt.h>

#include "crypt_internal.h"
#include "der_reader.h"

using Bytes = std::vector<uint8_t>;

// The size-query pattern: with a null buffer store the size and succeed; with a
// too-small buffer fail with ERROR_MORE_DATA and the needed size; else copy.
BOOL CopyToCaller(const void* data, size_t size, void* out, DWORD* outSize);

// Bytes that lie where someone else keeps them (the caller's blob, a parsed object).
struct ByteSpan {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// The end of a call that returns content and a certificate (decryption,
// verification): the content by the size-query pattern when outSize is not
// null (content already in `out` is not copied), then the certificate to
// certOut (or released). A content that does not fit fails with
// ERROR_MORE_DATA and hands out no certificate. `cert` is taken over.
BOOL HandOutContentAndCert(ByteSpan content, PCCERT_CONTEXT cert, BYTE* out, DWORD* outSize,
                           PCCERT_CONTEXT* certOut);

// The failure path of a message function: OpenSSL's error queue cleared, the
// last error set; returns false.
bool FailWith(DWORD error);

// Parses a DER/BER ContentInfo. On failure returns null and sets the last
// error to the CRYPT_E_ASN1_* code Windows gives for such input.
CMS_ContentInfo* ParseContentInfo(const uint8_t* data, size_t size);

// The CMSG_* type of a parsed ContentInfo, or 0 for a type Windows does not know.
DWORD CmsMessageType(const CMS_ContentInfo* cms);

// The CMSG_* number of a PKCS #7 content-type OID (its value bytes), or 0 for
// any other OID; and the value bytes of the OID of a CMSG_* type.
DWORD Pkcs7ContentType(const DerTlv& oid);
Bytes Pkcs7ContentTypeOid(DWORD type);

// The CMS object as DER (indefinite lengths made definite); empty on failure.
Bytes EncodeContentInfo(CMS_ContentInfo* cms);

// The outer levels of a ContentInfo in DER: the ContentInfo, its [0] and the
// SEQUENCE in that (levels 0 to 2), and the contentType OID. False when the
// DER does not have that shape.
bool ReadContentInfoLevels(const uint8_t* der, size_t size, DerTlv levels[3], DerTlv* type);

// The way into an enveloped ContentInfo in DER: the ContentInfo, its [0],
// the EnvelopedData and its EncryptedContentInfo (levels 0 to 3), and the
// recipientInfos SET. False when the DER does not have that shape.
struct EnvelopedPath {
    DerTlv levels[4];
    DerTlv recipients;
};
bool ReadEnvelopedPath(const uint8_t* contentInfoDer, size_t size, EnvelopedPath* path);

// Cuts the content out of a ContentInfo in DER: `rest` is the ContentInfo
// without it, and `content` where it lies in der. False for a form it does
// not cut.
typedef bool (*ContentSplitter)(const uint8_t* der, size_t size, Bytes* rest, ByteSpan* content);

// Parses a ContentInfo without copying its content where `split` (or null)
// cuts it out: OpenSSL then reads only the small rest, and *content is where
// the content lies in blob. Any other form, and a failure of that way, is
// parsed whole, and *content points into the parsed object (empty when it has
// no content). Null with the error set on failure.
CMS_ContentInfo* ParseAroundContent(const uint8_t* blob, size_t size, ContentSplitter split, ByteSpan* content);

// ParseAroundContent for enveloped messages, whose encrypted content it cuts out.
CMS_ContentInfo* ParseEnvelopedMessage(const uint8_t* blob, size_t size, ByteSpan* encrypted);

// The content-encryption AlgorithmIdentifier of an enveloped ContentInfo, as
// DER bytes found by walking the DER form; empty when it cannot be found.
Bytes EnvelopedContentAlgorithm(const uint8_t* contentInfoDer, size_t size);

// The encryptedKey of the index-th RecipientInfo of an enveloped ContentInfo
// (DER) when that entry is key transport; empty otherwise.
Bytes KeyTransportEncryptedKey(const uint8_t* contentInfoDer, size_t size, int index);

// Writes an AlgorithmIdentifier in the CryptoAPI layout: the structure,
// then the dotted identifier and the parameter bytes in the same buffer.
BOOL CopyAlgorithmToCaller(const Bytes& algorithmDer, void* out, DWORD* outSize);
BOOL CopyAlgorithmToCaller(const X509_ALGOR* algorithm, void* out, DWORD* outSize);

// A CERT_INFO naming a signer (issuer and serial, or the key identifier in
// the Windows key-id form) with its blobs pointing into `storage`.
struct SignerId {
    CERT_INFO info;
    Bytes issuer;
    Bytes serial;
};
bool MakeSignerId(CMS_SignerInfo* signer, SignerId* id);

// Encoding types the message functions accept (PKCS #7 must be among them).
bool IsPkcs7Encoding(DWORD encodingType);
