// Certificate stores: in-memory stores and the current user's system stores,
// as crypt32 keeps them: store order, add dispositions, deletion while
// callers still hold a context, enumeration and search. How a system store
// lies on disk is crypt_store_files.cpp's.
#include <string.h>

#include <algorithm>
#include <memory>

#include <openssl/err.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>

#include "crypt_store.h"
#include "api_guard.h"
#include "der_reader.h"

namespace {

std::set<CertStoreImpl*>& LiveStores()
{
    static std::set<CertStoreImpl*> stores;
    return stores;
}

CertStoreImpl* OpenStoreFromHandle(HCERTSTORE handle)
{
    CertStoreImpl* store = static_cast<CertStoreImpl*>(handle);
    if (store == nullptr || LiveStores().count(store) == 0 || store->closed) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    return store;
}

// Takes a context out of the store's list (the caller's references stay valid).
void Unlist(CertStoreImpl* store, CertContextImpl* impl)
{
    auto it = std::find(store->certs.begin(), store->certs.end(), impl);
    if (it == store->certs.end() || store->deleted.count(impl) != 0)
        return;
    store->files.erase(impl);
    if (impl->refCount > 1) {
        store->deleted.insert(impl);
        return;
    }
    store->certs.erase(it);
    ReleaseContextRef(impl);
}

void DestroyStore(CertStoreImpl* store)
{
    LiveStores().erase(store);
    std::vector<CertContextImpl*> certs;
    certs.swap(store->certs);
    for (CertContextImpl* impl : certs)
        ReleaseContextRef(impl);
    delete store;
}

// A reference for the caller to a context of the store.
PCCERT_CONTEXT HandOut(CertContextImpl* impl)
{
    ++impl->refCount;
    if (impl->store != nullptr)
        StoreExternalRefStarted(impl->store);
    return &impl->context;
}

bool Listed(const CertStoreImpl* store, const CertContextImpl* impl)
{
    return store->deleted.count(impl) == 0 &&
           std::find(store->certs.begin(), store->certs.end(), impl) != store->certs.end();
}

// The position after `previous` in the store's list. `foreign` tells of a
// previous context that is not the store's. An enumeration goes on from
// where the last search ended, so that walking the store stays linear.
size_t PositionAfter(CertStoreImpl* store, PCCERT_CONTEXT previous, bool* foreign)
{
    *foreign = false;
    if (previous == nullptr)
        return 0;
    size_t hint = store->lastFound;
    if (hint < store->certs.size() && store->certs[hint] == CertImpl(previous))
        return hint + 1;
    auto it = std::find(store->certs.begin(), store->certs.end(), CertImpl(previous));
    *foreign = it == store->certs.end();
    return *foreign ? store->certs.size() : (size_t)(it - store->certs.begin()) + 1;
}

// Tombstones that no caller holds any more leave the list.
void PurgeTombstones(CertStoreImpl* store)
{
    for (auto it = store->deleted.begin(); it != store->deleted.end();) {
        CertContextImpl* impl = const_cast<CertContextImpl*>(*it);
        if (impl->refCount > 1) {
            ++it;
            continue;
        }
        it = store->deleted.erase(it);
        store->certs.erase(std::find(store->certs.begin(), store->certs.end(), impl));
        ReleaseContextRef(impl);
    }
}

bool SameBlob(const CRYPT_DATA_BLOB& a, const CRYPT_DATA_BLOB& b)
{
    return a.cbData == b.cbData && (a.cbData == 0 || memcmp(a.pbData, b.pbData, a.cbData) == 0);
}

// Integers compare by value: high-order zero bytes (at the end, since
// CryptoAPI keeps them little-endian) do not count.
bool SameInteger(const CRYPT_INTEGER_BLOB& a, const CRYPT_INTEGER_BLOB& b)
{
    DWORD la = a.cbData, lb = b.cbData;
    while (la > 1 && a.pbData[la - 1] == 0)
        --la;
    while (lb > 1 && b.pbData[lb - 1] == 0)
        --lb;
    return la == lb && (la == 0 || memcmp(a.pbData, b.pbData, la) == 0);
}

bool ContainsNoCase(const std::string& text, const std::string& part)
{
    if (part.empty())
        return true;
    auto it = std::search(text.begin(), text.end(), part.begin(), part.end(), [](char x, char y) {
        return tolower((unsigned char)x) == tolower((unsigned char)y);
    });
    return it != text.end();
}

bool Matches(const CertContextImpl* impl, DWORD findType, const void* para)
{
    const CERT_INFO& info = impl->info;
    switch (findType) {
    case CERT_FIND_ANY:
        return true;
    case CERT_FIND_ISSUER_NAME:
        return SameBlob(info.Issuer, *static_cast<const CERT_NAME_BLOB*>(para));
    case CERT_FIND_SUBJECT_NAME:
        return SameBlob(info.Subject, *static_cast<const CERT_NAME_BLOB*>(para));
    case CERT_FIND_EXISTING: {
        PCCERT_CONTEXT other = static_cast<PCCERT_CONTEXT>(para);
        return other->cbCertEncoded == impl->context.cbCertEncoded &&
               memcmp(other->pbCertEncoded, impl->context.pbCertEncoded, other->cbCertEncoded) == 0;
    }
    case CERT_FIND_SUBJECT_STR_A: {
        CERT_NAME_BLOB subject = info.Subject;
        DWORD size = CertNameToStrA(X509_ASN_ENCODING, &subject, CERT_SIMPLE_NAME_STR, nullptr, 0);
        std::string text(size, '\0');
        CertNameToStrA(X509_ASN_ENCODING, &subject, CERT_SIMPLE_NAME_STR, &text[0], size);
        text.resize(strlen(text.c_str()));
        return ContainsNoCase(text, static_cast<const char*>(para));
    }
    default:
        return false;
    }
}

bool SupportedFind(DWORD findType, const void* para)
{
    switch (findType) {
    case CERT_FIND_ANY:
        return true;
    case CERT_FIND_ISSUER_NAME:
    case CERT_FIND_SUBJECT_NAME:
    case CERT_FIND_EXISTING:
    case CERT_FIND_SUBJECT_STR_A:
        return para != nullptr;
    default:
        return false;
    }
}

BOOL AddContext(CertStoreImpl* store, CertContextImpl* source, DWORD disposition,
                PCCERT_CONTEXT* stored)
{
    if (stored != nullptr)
        *stored = nullptr;
    if (disposition < CERT_STORE_ADD_NEW || disposition > CERT_STORE_ADD_ALWAYS) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    // The private key goes with the certificate into memory stores and "MY".
    EVP_PKEY* key = nullptr;
    if (store->dir.empty() || store->personal)
        key = CertPrivateKey(&source->context);

    // Our reference to the key of a context being replaced, which may go.
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> keptKey(nullptr, EVP_PKEY_free);
    // ALWAYS adds to a memory store whatever it holds: no search, so that
    // filling a store (a message's certificates) stays linear.
    bool keepsDuplicates = disposition == CERT_STORE_ADD_ALWAYS && store->dir.empty();
    CertContextImpl* existing =
        keepsDuplicates ? nullptr : FindByThumbprint(store, source->data->thumbprint);
    if (existing != nullptr) {
        if (disposition == CERT_STORE_ADD_NEW) {
            SetLastError(CRYPT_E_EXISTS);
            return FALSE;
        }
        if (disposition == CERT_STORE_ADD_USE_EXISTING) {
            // The existing copy stays; a private key it lacks is taken over.
            if (key != nullptr && CertPrivateKey(&existing->context) == nullptr) {
                if (store->personal && !WriteKeyFile(store, existing, key)) {
                    SetLastError(CRYPT_E_FILE_ERROR);
                    return FALSE;
                }
                EVP_PKEY_up_ref(key);
                existing->privateKey = key;
            }
            if (stored != nullptr)
                *stored = HandOut(existing);
            return TRUE;
        }
        // REPLACE_EXISTING, and ALWAYS in a persisted store, whose files are
        // named by thumbprint and so hold one copy: the old context leaves.
        if (disposition == CERT_STORE_ADD_REPLACE_EXISTING || !store->dir.empty()) {
            // A key-less copy does not take the private key with it: the
            // new context keeps the key, and its file is written again.
            if (key == nullptr && store->personal) {
                EVP_PKEY* old = CertPrivateKey(&existing->context);
                if (old != nullptr && EVP_PKEY_up_ref(old) == 1)
                    keptKey.reset(key = old);
            }
            // A kept key's file stays: the same name holds it for the new context.
            RemoveFiles(store, existing, keptKey != nullptr);
            Unlist(store, existing);  // may destroy `existing`
            if (!store->dir.empty())
                DropFromIndex(store->dir, source->data->thumbprint);
        }
    }

    CertContextImpl* copy = ContextFromEncoded(source->data->encoded.data(),
                                               (DWORD)source->data->encoded.size());
    if (copy == nullptr)
        return FALSE;
    if (key != nullptr && EVP_PKEY_up_ref(key))
        copy->privateKey = key;
    copy->data->keyFileChecked = true;  // its key, if any, is the one given
    AdoptIntoStore(store, copy);
    if (!PersistAdded(store, copy)) {
        // A key that was there before the call is not this failure's to remove.
        RemoveFiles(store, copy, keptKey != nullptr);
        Unlist(store, copy);
        SetLastError(CRYPT_E_FILE_ERROR);
        return FALSE;
    }
    if (stored != nullptr)
        *stored = HandOut(copy);
    return TRUE;
}

}  // namespace

void AdoptIntoStore(CertStoreImpl* store, CertContextImpl* impl)
{
    impl->store = store;
    impl->context.hCertStore = store;
    store->certs.push_back(impl);
}

CertContextImpl* FindByThumbprint(CertStoreImpl* store, const std::string& thumbprint)
{
    for (CertContextImpl* impl : store->certs)
        if (impl->data->thumbprint == thumbprint && store->deleted.count(impl) == 0)
            return impl;
    return nullptr;
}

void StoreExternalRefStarted(CertStoreImpl* store)
{
    ++store->externalRefs;
}

void StoreExternalRefEnded(CertStoreImpl* store)
{
    if (--store->externalRefs <= 0 && store->closed)
        DestroyStore(store);
    else if (!store->deleted.empty())
        PurgeTombstones(store);
}

std::string StoreKeyFile(CertStoreImpl* store, const CertContextImpl* impl)
{
    if (!store->personal || store->dir.empty())
        return "";
    return KeyFileOf(store, impl);
}

HCERTSTORE OpenMemoryStore()
{
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertStoreImpl* store = new CertStoreImpl();
    LiveStores().insert(store);
    return store;
}

BOOL AddX509ToMemoryStore(HCERTSTORE handle, X509* x509)
{
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertStoreImpl* store = OpenStoreFromHandle(handle);
    if (store == nullptr || !store->dir.empty()) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    // The store takes the decoded certificate as it is: no copy to decode again.
    CertContextImpl* impl = ContextFromX509(x509);
    if (impl == nullptr)
        return FALSE;
    impl->data->keyFileChecked = true;
    AdoptIntoStore(store, impl);
    return TRUE;
}

extern "C" {

HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol)
{
    API_GUARD_BEGIN
    bool personal = false;
    std::string dir = OpenSystemStoreFolder(szSubsystemProtocol, &personal);
    if (dir.empty())
        return nullptr;
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertStoreImpl* store = new CertStoreImpl();
    store->dir = dir;
    store->personal = personal;
    LiveStores().insert(store);
    LoadFolder(store);
    return store;
    API_GUARD_END(nullptr, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD dwFlags)
{
    if (hCertStore == nullptr)
        return TRUE;
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertStoreImpl* store = OpenStoreFromHandle(hCertStore);
    if (store == nullptr)
        return FALSE;
    store->closed = true;
    if (store->externalRefs <= 0) {
        DestroyStore(store);
        return TRUE;
    }
    // Contexts taken from the store keep it alive until they are freed (also
    // with CERT_CLOSE_STORE_FORCE_FLAG: freeing them under the caller would
    // leave it dangling pointers).
    if (dwFlags & CERT_CLOSE_STORE_CHECK_FLAG) {
        SetLastError(CRYPT_E_PENDING_CLOSE);
        return FALSE;
    }
    return TRUE;
}

PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore,
                                                  PCCERT_CONTEXT pPrevCertContext)
{
    return CertFindCertificateInStore(hCertStore, X509_ASN_ENCODING, 0, CERT_FIND_ANY, nullptr,
                                      pPrevCertContext);
}

PCCERT_CONTEXT WINAPI CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                                 DWORD dwFindFlags, DWORD dwFindType,
                                                 const void* pvFindPara,
                                                 PCCERT_CONTEXT pPrevCertContext)
{
    API_GUARD_BEGIN
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertStoreImpl* store = OpenStoreFromHandle(hCertStore);
    if (store == nullptr) {
        CertFreeCertificateContext(pPrevCertContext);
        return nullptr;
    }
    if (!SupportedFind(dwFindType, pvFindPara)) {
        CertFreeCertificateContext(pPrevCertContext);
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    bool foreign = false;
    size_t position = PositionAfter(store, pPrevCertContext, &foreign);
    PCCERT_CONTEXT found = nullptr;
    for (; found == nullptr && position < store->certs.size(); ++position) {
        CertContextImpl* impl = store->certs[position];
        if (store->deleted.count(impl) == 0 && Matches(impl, dwFindType, pvFindPara)) {
            found = HandOut(impl);
            store->lastFound = position;
        }
    }
    // Freed only now: freeing may shorten the list.
    CertFreeCertificateContext(pPrevCertContext);
    if (found == nullptr)
        SetLastError(foreign ? E_INVALIDARG : CRYPT_E_NOT_FOUND);
    return found;
    API_GUARD_END(nullptr, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                             DWORD dwAddDisposition,
                                             PCCERT_CONTEXT* ppStoreContext)
{
    API_GUARD_BEGIN
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    if (ppStoreContext != nullptr)
        *ppStoreContext = nullptr;
    CertStoreImpl* store = OpenStoreFromHandle(hCertStore);
    if (store == nullptr)
        return FALSE;
    if (pCertContext == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    return AddContext(store, CertImpl(pCertContext), dwAddDisposition, ppStoreContext);
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                             const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                             DWORD dwAddDisposition,
                                             PCCERT_CONTEXT* ppCertContext)
{
    API_GUARD_BEGIN
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    if (ppCertContext != nullptr)
        *ppCertContext = nullptr;
    CertStoreImpl* store = OpenStoreFromHandle(hCertStore);
    if (store == nullptr)
        return FALSE;
    CertContextImpl* decoded = ContextFromEncoded(pbCertEncoded, cbCertEncoded);
    if (decoded == nullptr)
        return FALSE;
    BOOL ok = AddContext(store, decoded, dwAddDisposition, ppCertContext);
    ReleaseContextRef(decoded);
    return ok;
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

BOOL WINAPI CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext)
{
    API_GUARD_BEGIN
    if (pCertContext == nullptr) {
        SetLastError(E_INVALIDARG);
        return FALSE;
    }
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertContextImpl* impl = CertImpl(pCertContext);
    CertStoreImpl* store = impl->store;
    BOOL ok = TRUE;
    if (store == nullptr) {
        SetLastError(E_INVALIDARG);
        ok = FALSE;
    } else if (Listed(store, impl)) {
        RemoveFiles(store, impl);
        Unlist(store, impl);  // the caller's reference keeps `impl` alive
        if (!store->dir.empty() && !DropFromIndex(store->dir, impl->data->thumbprint)) {
            SetLastError(CRYPT_E_FILE_ERROR);
            ok = FALSE;
        }
    }
    // Like Windows, the context passed in is freed whatever the outcome.
    CertFreeCertificateContext(pCertContext);
    return ok;
    API_GUARD_END(FALSE, CRYPT_MEMORY_ERROR)
}

}  // extern "C"

namespace {

// A signer named by key identifier comes as a name with a single
// szOID_KEYID_RDN attribute holding the identifier as an OCTET STRING.
bool KeyIdFromName(const CERT_NAME_BLOB& name, DerTlv* keyId)
{
    static const uint8_t kKeyIdRdnOid[] = {0x2B, 0x06, 0x01, 0x04, 0x01, 0x82, 0x37, 0x0A, 0x07, 0x01};
    if (name.pbData == nullptr || name.cbData == 0)
        return false;
    DerReader top(name.pbData, name.cbData);
    DerTlv sequence, set, attribute, oid;
    if (!top.Read(0x30, &sequence) || !top.AtEnd())
        return false;
    DerReader rdns(sequence);
    if (!rdns.Read(0x31, &set) || !rdns.AtEnd())
        return false;
    DerReader attributes(set);
    if (!attributes.Read(0x30, &attribute) || !attributes.AtEnd())
        return false;
    DerReader parts(attribute);
    return parts.Read(0x06, &oid) && oid.length == sizeof kKeyIdRdnOid &&
           memcmp(oid.value, kKeyIdRdnOid, sizeof kKeyIdRdnOid) == 0 && parts.Read(0x04, keyId) &&
           parts.AtEnd();
}

// The certificate's key identifier: its subjectKeyIdentifier extension, or
// else the SHA-1 of its encoded SubjectPublicKeyInfo.
bool HasKeyId(CertContextImpl* impl, const DerTlv& keyId)
{
    const ASN1_OCTET_STRING* extension = X509_get0_subject_key_id(impl->x509);
    if (extension != nullptr)
        return (size_t)ASN1_STRING_length(extension) == keyId.length &&
               memcmp(ASN1_STRING_get0_data(extension), keyId.value, keyId.length) == 0;
    ERR_clear_error();
    unsigned char* spki = nullptr;
    int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(impl->x509), &spki);
    unsigned char digest[SHA_DIGEST_LENGTH];
    bool ok = length > 0 && SHA1(spki, (size_t)length, digest) != nullptr;
    OPENSSL_free(spki);
    return ok && keyId.length == sizeof digest && memcmp(digest, keyId.value, sizeof digest) == 0;
}

}  // namespace

extern "C" {

PCCERT_CONTEXT WINAPI CertGetSubjectCertificateFromStore(HCERTSTORE hCertStore,
                                                         DWORD dwCertEncodingType,
                                                         PCERT_INFO pCertId)
{
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertStoreImpl* store = OpenStoreFromHandle(hCertStore);
    if (store == nullptr)
        return nullptr;
    if (pCertId == nullptr) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    DerTlv keyId;
    bool byKeyId = pCertId->SerialNumber.cbData == 0 && KeyIdFromName(pCertId->Issuer, &keyId);
    for (CertContextImpl* impl : store->certs) {
        if (store->deleted.count(impl) != 0)
            continue;
        bool match = byKeyId ? HasKeyId(impl, keyId)
                             : SameBlob(impl->info.Issuer, pCertId->Issuer) &&
                                   SameInteger(impl->info.SerialNumber, pCertId->SerialNumber);
        if (match)
            return HandOut(impl);
    }
    SetLastError(CRYPT_E_NOT_FOUND);
    return nullptr;
}

}  // extern "C"
