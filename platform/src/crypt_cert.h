// Internals of the certificate side of crypt32: contexts, stores and the
// glue between them. Not part of the contract with the message side.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "crypt_internal.h"

// wincrypt.h's structure-type constant X509_NAME hides OpenSSL's type of the
// same name; the certificate side needs only the type.
#undef X509_NAME

// The storage a context's CERT_INFO points into.
struct CertContextData {
    std::vector<BYTE> encoded;       // the certificate, DER
    std::vector<BYTE> serial;        // little-endian, as CryptoAPI keeps integers
    std::vector<BYTE> issuer;        // DER of the issuer name
    std::vector<BYTE> subject;       // DER of the subject name
    std::string signatureOid;
    std::vector<BYTE> signatureParams;
    std::string publicKeyOid;
    std::vector<BYTE> publicKeyParams;
    std::vector<BYTE> publicKey;     // contents of the subjectPublicKey bit string
    std::vector<std::string> extensionOids;
    std::vector<std::vector<BYTE>> extensionValues;
    std::vector<CERT_EXTENSION> extensions;
    std::string thumbprint;          // SHA-1 of `encoded`, upper-case hex
    bool keyFileChecked = false;     // "MY": the key file was looked for
};

// One lock for every reference count and store list of the layer: contexts
// are shared between stores and callers.
std::recursive_mutex& CryptLock();

// A context for the encoded certificate (refcount 1, no store), or null with
// the last error set.
CertContextImpl* ContextFromEncoded(const BYTE* encoded, DWORD size);
// The same for a certificate already decoded, without decoding it again: the
// context holds a reference of its own to `x509`.
CertContextImpl* ContextFromX509(X509* x509);
// Releases one reference; destroys the context at zero. Caller holds the lock.
void ReleaseContextRef(CertContextImpl* impl);
void DestroyContext(CertContextImpl* impl);

// The store side: a reference handed out to a caller ends (CertFree...).
void StoreExternalRefEnded(CertStoreImpl* store);
// The store side: a reference to one of its contexts is handed out.
void StoreExternalRefStarted(CertStoreImpl* store);
// The store's private key file for a context of a persisted "MY" store, or "".
std::string StoreKeyFile(CertStoreImpl* store, const CertContextImpl* impl);

// The CRYPT_E_ASN1_* code for the decoding failure that OpenSSL's error
// queue reports (the queue is cleared).
DWORD Asn1DecodeError();

// Converts between FILETIME (100 ns since 1601) and seconds since 1970.
FILETIME FileTimeFromUnix(long long seconds);
long long UnixFromFileTime(const FILETIME& time);

// Text of an OpenSSL ASN.1 string in UTF-8 (UTF8String, BMPString,
// UniversalString decoded; other types taken byte for byte as Latin-1
// unless they are valid UTF-8).
std::string Asn1StringToUtf8(const ASN1_STRING* value);
// UTF-8 to the ANSI code page (932); unrepresentable characters become '?'.
std::string Utf8ToAnsi(const std::string& utf8);
