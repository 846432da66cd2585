// What the certificate-store side and the message side of the crypt32
// layer share. A PCCERT_CONTEXT handed out by this layer always points at
// the `context` member of a CertContextImpl.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <windows.h>
#include <wincrypt.h>

struct CertStoreImpl;
struct CertContextData;

// `info` follows CryptoAPI: SerialNumber little-endian (the INTEGER's content
// octets reversed), Issuer and Subject the DER of the names as encoded in the
// certificate, extension values the contents of their OCTET STRINGs.
struct CertContextImpl {
    CERT_CONTEXT context;   // first member: PCCERT_CONTEXT points here
    CERT_INFO info;         // context.pCertInfo points here; its blobs point into `data`
    X509* x509;             // one reference held (the certificate may be shared)
    EVP_PKEY* privateKey;   // owned; null when no private key is associated
    int refCount;
    CertStoreImpl* store;   // the store the context was taken from, or null
    CertContextData* data;  // owned: the encoded bytes and what `info` points into
};

CertContextImpl* CertImpl(PCCERT_CONTEXT context);

// The OpenSSL certificate behind a context (borrowed).
X509* CertX509(PCCERT_CONTEXT context);

// The private key associated with the certificate, or null (borrowed).
// For a certificate of "MY" it is read from the store's key file on first use.
EVP_PKEY* CertPrivateKey(PCCERT_CONTEXT context);

// A new context for the certificate (refcount 1, no store), or null.
PCCERT_CONTEXT NewCertContext(X509* x509, EVP_PKEY* privateKey);

// An in-memory store (nothing persisted), as a message's own certificate store.
HCERTSTORE OpenMemoryStore();
// Adds the certificate to a memory store (as CERT_STORE_ADD_ALWAYS would);
// returns FALSE on failure.
BOOL AddX509ToMemoryStore(HCERTSTORE store, X509* x509);

// Loads the "default" and "legacy" providers once (RC2, DES and the old
// PKCS #12 encryption live in the latter).
void EnsureCryptoProviders();
