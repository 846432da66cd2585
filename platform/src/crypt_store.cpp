// Certificate stores: in-memory stores and the current user's system stores.
//
// A system store is a folder under $XDG_DATA_HOME/zsmime/stores/ (by default
// ~/.local/share/zsmime/stores/) named after the store ("MY", "CA", "Root",
// "AddressBook", or any other name given). Each certificate is a DER file
// named after its SHA-1 thumbprint ("<HEX>.cer"). In "MY" a certificate's
// private key lies beside it as "<HEX>.key" (PKCS #8 PEM, mode 0600).
//
// Store order is the order in which certificates were added: the file
// "index" lists the thumbprints one per line, appended on every add.
// Certificate files that the index does not name (copied in by hand) follow
// in file-name order. A store handle reads the folder when it is opened and
// writes every change through at once.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <set>

#include <openssl/pem.h>
#include <openssl/err.h>
#include <openssl/sha.h>
#include <openssl/x509v3.h>

#include "fault_injection.h"
#include "crypt_cert.h"
#include "der_reader.h"

struct CertStoreImpl {
    std::string dir;                      // the folder of a system store; empty in memory
    bool personal = false;                // "MY": private keys are persisted
    std::vector<CertContextImpl*> certs;  // the store's own references, in store order
    // Deleted contexts that callers still hold stay in `certs` as tombstones,
    // so that an enumeration can go on from one of them, as on Windows.
    std::set<const CertContextImpl*> deleted;
    std::map<const CertContextImpl*, std::string> files;  // file name of each, when persisted
    int externalRefs = 0;                 // references to its contexts held by callers
    bool closed = false;
};

namespace {

const char* const kKnownStores[] = {"MY", "CA", "Root", "AddressBook"};

std::set<CertStoreImpl*>& LiveStores()
{
    static std::set<CertStoreImpl*> stores;
    return stores;
}

// A closed store lives on while contexts taken from it are held, and can
// still be read then (as the store of a verified message's signer is, through
// the signer's hCertStore), as on Windows; it can no longer be changed.
CertStoreImpl* OpenStoreFromHandle(HCERTSTORE handle, bool reading = false)
{
    CertStoreImpl* store = static_cast<CertStoreImpl*>(handle);
    if (store == nullptr || LiveStores().count(store) == 0 || (store->closed && !reading)) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    return store;
}

std::string StoresRoot()
{
    const char* data = getenv("XDG_DATA_HOME");
    std::string base;
    if (data != nullptr && data[0] == '/') {
        base = data;
    } else {
        const char* home = getenv("HOME");
        if (home == nullptr || home[0] == '\0')
            return "";
        base = std::string(home) + "/.local/share";
    }
    return base + "/zsmime/stores";
}

bool MakeDirs(const std::string& path)
{
    std::string partial;
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        partial = path.substr(0, pos);
        if (mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Store names compare without regard to case, as on Windows.
std::string FolderName(const std::string& root, const std::string& name)
{
    for (const char* known : kKnownStores)
        if (strcasecmp(known, name.c_str()) == 0)
            return known;
    DIR* dir = opendir(root.c_str());
    std::string found = name;
    if (dir != nullptr) {
        while (struct dirent* entry = readdir(dir))
            if (strcasecmp(entry->d_name, name.c_str()) == 0) {
                found = entry->d_name;
                break;
            }
        closedir(dir);
    }
    return found;
}

bool ValidStoreName(const char* name)
{
    if (name == nullptr || name[0] == '\0' || name[0] == '.')
        return false;
    return strchr(name, '/') == nullptr;
}

bool ReadBytes(const std::string& path, std::vector<BYTE>* bytes)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (f == nullptr)
        return false;
    bytes->clear();
    BYTE chunk[8192];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    fclose(f);
    return true;
}

// Writes a file as a whole: a temporary file renamed into place.
bool WriteWhole(const std::string& path, const void* data, size_t size, mode_t mode)
{
    std::string temp = path + ".tmp" + std::to_string(getpid());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0)
        return false;
    const char* p = static_cast<const char*>(data);
    size_t left = size;
    while (left > 0) {
        ssize_t n = write(fd, p, left);
        if (n <= 0) {
            close(fd);
            unlink(temp.c_str());
            return false;
        }
        p += n;
        left -= (size_t)n;
    }
    if (close(fd) != 0 || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> ReadIndex(const std::string& dir)
{
    std::vector<std::string> names;
    std::vector<BYTE> bytes;
    if (!ReadBytes(dir + "/index", &bytes))
        return names;
    std::string line;
    for (BYTE b : bytes) {
        if (b == '\n') {
            if (!line.empty())
                names.push_back(line);
            line.clear();
        } else if (b != '\r') {
            line += (char)b;
        }
    }
    if (!line.empty())
        names.push_back(line);
    return names;
}

bool AppendIndex(const std::string& dir, const std::string& thumbprint)
{
    int fd = open((dir + "/index").c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (fd < 0)
        return false;
    std::string line = thumbprint + "\n";
    bool ok = write(fd, line.data(), line.size()) == (ssize_t)line.size();
    return close(fd) == 0 && ok;
}

// Takes a certificate out of the index as it is on disk now, so that what
// other handles (or processes) added since this one was opened stays listed.
bool DropFromIndex(const std::string& dir, const std::string& thumbprint)
{
    std::string text;
    for (const std::string& line : ReadIndex(dir))
        if (line != thumbprint)
            text += line + "\n";
    return WriteWhole(dir + "/index", text.data(), text.size(), 0600);
}

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

void LoadFolder(CertStoreImpl* store)
{
    std::vector<std::string> order;
    std::set<std::string> listed;
    for (const std::string& thumbprint : ReadIndex(store->dir)) {
        std::string file = thumbprint + ".cer";
        if (listed.insert(file).second)
            order.push_back(file);
    }
    std::vector<std::string> unlisted;
    if (DIR* dir = opendir(store->dir.c_str())) {
        while (struct dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cer") == 0 &&
                listed.count(name) == 0)
                unlisted.push_back(name);
        }
        closedir(dir);
    }
    std::sort(unlisted.begin(), unlisted.end());
    order.insert(order.end(), unlisted.begin(), unlisted.end());

    for (const std::string& file : order) {
        std::vector<BYTE> bytes;
        if (!ReadBytes(store->dir + "/" + file, &bytes))
            continue;  // named by the index but gone
        CertContextImpl* impl = ContextFromEncoded(bytes.data(), (DWORD)bytes.size());
        if (impl == nullptr)
            continue;  // not a certificate: ignored, as an unreadable entry
        if (FindByThumbprint(store, impl->data->thumbprint) != nullptr) {
            DestroyContext(impl);
            continue;
        }
        AdoptIntoStore(store, impl);
        store->files[impl] = file;
    }
}

std::string FileOf(CertStoreImpl* store, const CertContextImpl* impl)
{
    auto it = store->files.find(impl);
    return it != store->files.end() ? it->second : impl->data->thumbprint + ".cer";
}

std::string KeyFileOf(CertStoreImpl* store, const CertContextImpl* impl)
{
    return store->dir + "/" + impl->data->thumbprint + ".key";
}

bool WriteKeyFile(CertStoreImpl* store, const CertContextImpl* impl, EVP_PKEY* key)
{
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr)
        return false;
    bool ok = PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    char* pem = nullptr;
    long length = BIO_get_mem_data(bio, &pem);
    ok = ok && WriteWhole(KeyFileOf(store, impl), pem, (size_t)length, 0600);
    BIO_free(bio);
    return ok;
}

// Writes a newly added certificate (and, in "MY", its key) to the folder.
bool PersistAdded(CertStoreImpl* store, CertContextImpl* impl)
{
    if (store->dir.empty())
        return true;
    const std::string file = impl->data->thumbprint + ".cer";
    store->files[impl] = file;
    if (!WriteWhole(store->dir + "/" + file, impl->data->encoded.data(), impl->data->encoded.size(),
                    0644))
        return false;
    if (store->personal && impl->privateKey != nullptr && !WriteKeyFile(store, impl, impl->privateKey))
        return false;
    return AppendIndex(store->dir, impl->data->thumbprint);
}

void RemoveFiles(CertStoreImpl* store, const CertContextImpl* impl)
{
    if (store->dir.empty())
        return;
    unlink((store->dir + "/" + FileOf(store, impl)).c_str());
    if (store->personal)
        unlink(KeyFileOf(store, impl).c_str());
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
// previous context that is not the store's.
size_t PositionAfter(CertStoreImpl* store, PCCERT_CONTEXT previous, bool* foreign)
{
    *foreign = false;
    if (previous == nullptr)
        return 0;
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

    CertContextImpl* existing = FindByThumbprint(store, source->data->thumbprint);
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
            RemoveFiles(store, existing);
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
        RemoveFiles(store, copy);
        Unlist(store, copy);
        SetLastError(CRYPT_E_FILE_ERROR);
        return FALSE;
    }
    if (stored != nullptr)
        *stored = HandOut(copy);
    return TRUE;
}

}  // namespace

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
    PCCERT_CONTEXT context = NewCertContext(x509, nullptr);
    if (context == nullptr)
        return FALSE;
    BOOL ok = CertAddCertificateContextToStore(handle, context, CERT_STORE_ADD_ALWAYS, nullptr);
    CertFreeCertificateContext(context);
    return ok;
}

extern "C" {

HCERTSTORE WINAPI CertOpenSystemStoreA(HCRYPTPROV_LEGACY hProv, LPCSTR szSubsystemProtocol)
{
    if (!ValidStoreName(szSubsystemProtocol)) {
        SetLastError(E_INVALIDARG);
        return nullptr;
    }
    std::string root = StoresRoot();
    if (root.empty() || FailureDue("CertOpenSystemStoreA")) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::string folder = FolderName(root, szSubsystemProtocol);
    std::string dir = root + "/" + folder;
    if (!MakeDirs(dir)) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertStoreImpl* store = new CertStoreImpl();
    store->dir = dir;
    store->personal = folder == "MY";
    LiveStores().insert(store);
    LoadFolder(store);
    return store;
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
    std::lock_guard<std::recursive_mutex> guard(CryptLock());
    CertStoreImpl* store = OpenStoreFromHandle(hCertStore, true);
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
        if (store->deleted.count(impl) == 0 && Matches(impl, dwFindType, pvFindPara))
            found = HandOut(impl);
    }
    // Freed only now: freeing may shorten the list.
    CertFreeCertificateContext(pPrevCertContext);
    if (found == nullptr)
        SetLastError(foreign ? E_INVALIDARG : CRYPT_E_NOT_FOUND);
    return found;
}

BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext,
                                             DWORD dwAddDisposition,
                                             PCCERT_CONTEXT* ppStoreContext)
{
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
}

BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType,
                                             const BYTE* pbCertEncoded, DWORD cbCertEncoded,
                                             DWORD dwAddDisposition,
                                             PCCERT_CONTEXT* ppCertContext)
{
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
}

BOOL WINAPI CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext)
{
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
    CertStoreImpl* store = OpenStoreFromHandle(hCertStore, true);
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
