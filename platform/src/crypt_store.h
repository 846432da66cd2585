// Internals of the certificate stores: the store record, shared by the store
// semantics (crypt_store.cpp) and the files of the system stores
// (crypt_store_files.cpp).
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "crypt_cert.h"

struct CertStoreImpl {
    std::string dir;                      // the folder of a system store; empty in memory
    bool personal = false;                // "MY": private keys are persisted
    std::vector<CertContextImpl*> certs;  // the store's own references, in store order
    // Deleted contexts that callers still hold stay in `certs` as tombstones,
    // so that an enumeration can go on from one of them, as on Windows.
    std::set<const CertContextImpl*> deleted;
    std::map<const CertContextImpl*, std::string> files;  // file name of each, when persisted
    int externalRefs = 0;                 // references to its contexts held by callers
    size_t lastFound = 0;                 // position of the last context a search found
    bool closed = false;
};

// Store semantics that the file side builds on; the caller holds CryptLock().
void AdoptIntoStore(CertStoreImpl* store, CertContextImpl* impl);
// The listed (not deleted) context with that thumbprint, or null.
CertContextImpl* FindByThumbprint(CertStoreImpl* store, const std::string& thumbprint);

// The folder of the named system store, made when missing; "" with the last
// error set when the name or the folder is not usable (ERROR_ACCESS_DENIED
// when it, or a folder above it up to "zsmime", is not the user's own or
// others may write to it). *personal tells "MY".
std::string OpenSystemStoreFolder(const char* name, bool* personal);
// Reads a regular file of at most 1 MB without following a link; false for
// anything else (a FIFO, a device, a link, a huge file).
bool ReadStoreFile(const std::string& path, std::vector<BYTE>* bytes);
// Reads the store's folder into the newly opened (empty) store, in store order.
void LoadFolder(CertStoreImpl* store);
// Writes a newly added certificate (and, in "MY", its key) to the folder.
// True at once for a memory store.
bool PersistAdded(CertStoreImpl* store, CertContextImpl* impl);
// Writes the private key file of a context of "MY".
bool WriteKeyFile(CertStoreImpl* store, const CertContextImpl* impl, EVP_PKEY* key);
// Removes the context's files (nothing for a memory store); in "MY" its
// private key file too unless `keepKey`.
void RemoveFiles(CertStoreImpl* store, const CertContextImpl* impl, bool keepKey = false);
// Takes a certificate out of the index as it is on disk now.
bool DropFromIndex(const std::string& dir, const std::string& thumbprint);
// The path of the context's private key file in the store's folder.
std::string KeyFileOf(CertStoreImpl* store, const CertContextImpl* impl);
