// The files of the current user's system stores.
//
// A system store is a folder under $XDG_DATA_HOME/zsmime/stores/ (by default
// ~/.local/share/zsmime/stores/) named after the store ("MY", "CA", "Root",
// "AddressBook", or any other name given). Each certificate is a DER file
// named after its SHA-1 thumbprint ("<HEX>.cer"). In "MY" a certificate's
// private key lies beside it as "<HEX>.key" (PKCS #8 PEM, mode 0600).
//
// Store order is the order in which certificates were added: the file
// "index" lists the thumbprints one per line and is rewritten on every add.
// Certificate files that the index does not name (copied in by hand) follow
// in file-name order. A store handle reads the folder when it is opened and
// writes every change through at once.
//
// The folders hold private keys, so they are handled as if someone else may
// have planted things in them: a folder that is not the user's own, or that
// others may write to, is refused; every file is written to a fresh
// temporary file (never through an existing name or link) and renamed into
// place; only regular files of sane size are read; and index lines can name
// nothing outside the folder.
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

#include <openssl/pem.h>

#include "crypt_store.h"
#include "fault_injection.h"

namespace {

const char* const kKnownStores[] = {"MY", "CA", "Root", "AddressBook"};

// No certificate, key or index is anywhere near this size.
const off_t kMaxStoreFile = 1024 * 1024;

// The folder of our own under the user's data folder; "" without a home.
std::string AppFolder()
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
    return base + "/zsmime";
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

// Only the user may change what the folder holds.
bool PrivateFolder(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// A file name the index may give: one plain name inside the folder.
bool PlainFileName(const std::string& name)
{
    return !name.empty() && name[0] != '.' && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool WriteAll(int fd, const void* data, size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= (size_t)n;
    }
    return true;
}

// Writes a file as a whole: a temporary file of our own making (O_EXCL, so
// never an existing file or a planted link), synced, then renamed into place.
bool WriteWhole(const std::string& path, const void* data, size_t size, mode_t mode)
{
    std::string temp = path + ".tmp" + std::to_string(getpid());
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    int fd = open(temp.c_str(), flags, 0600);
    if (fd < 0 && errno == EEXIST) {
        // Left over from a crash, or planted: unlinking removes the name
        // only, never what a link points to.
        unlink(temp.c_str());
        fd = open(temp.c_str(), flags, 0600);
    }
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data, size) && fchmod(fd, mode) == 0 && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0) {
        unlink(temp.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> ReadIndex(const std::string& dir)
{
    std::vector<std::string> names;
    std::vector<BYTE> bytes;
    if (!ReadStoreFile(dir + "/index", &bytes))
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
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& name) { return !PlainFileName(name); }),
                names.end());
    return names;
}

bool AppendIndex(const std::string& dir, const std::string& thumbprint)
{
    std::string text;
    for (const std::string& line : ReadIndex(dir))
        text += line + "\n";
    text += thumbprint + "\n";
    return WriteWhole(dir + "/index", text.data(), text.size(), 0600);
}

std::string FileOf(CertStoreImpl* store, const CertContextImpl* impl)
{
    auto it = store->files.find(impl);
    return it != store->files.end() ? it->second : impl->data->thumbprint + ".cer";
}

}  // namespace

bool ReadStoreFile(const std::string& path, std::vector<BYTE>* bytes)
{
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxStoreFile;
    bytes->clear();
    BYTE chunk[8192];
    while (ok) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        bytes->insert(bytes->end(), chunk, chunk + n);
        ok = bytes->size() <= (size_t)kMaxStoreFile;  // grown since fstat
    }
    close(fd);
    return ok;
}

std::string OpenSystemStoreFolder(const char* name, bool* personal)
{
    if (!ValidStoreName(name)) {
        SetLastError(E_INVALIDARG);
        return "";
    }
    std::string app = AppFolder();
    if (app.empty() || FailureDue("CertOpenSystemStoreA")) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return "";
    }
    std::string root = app + "/stores";
    std::string folder = FolderName(root, name);
    std::string dir = root + "/" + folder;
    if (!MakeDirs(dir)) {
        SetLastError(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND);
        return "";
    }
    // The folders we make; those above them are the user's business.
    if (!PrivateFolder(app) || !PrivateFolder(root) || !PrivateFolder(dir)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return "";
    }
    *personal = folder == "MY";
    return dir;
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

    std::set<std::string> loaded;  // thumbprints
    for (const std::string& file : order) {
        std::vector<BYTE> bytes;
        if (!ReadStoreFile(store->dir + "/" + file, &bytes))
            continue;  // named by the index but gone
        CertContextImpl* impl = ContextFromEncoded(bytes.data(), (DWORD)bytes.size());
        if (impl == nullptr)
            continue;  // not a certificate: ignored, as an unreadable entry
        if (!loaded.insert(impl->data->thumbprint).second) {
            DestroyContext(impl);
            continue;
        }
        AdoptIntoStore(store, impl);
        store->files[impl] = file;
    }
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

void RemoveFiles(CertStoreImpl* store, const CertContextImpl* impl, bool keepKey)
{
    if (store->dir.empty())
        return;
    unlink((store->dir + "/" + FileOf(store, impl)).c_str());
    if (store->personal && !keepKey)
        unlink(KeyFileOf(store, impl).c_str());
}
