// Module services over the dynamic loader: LoadLibraryA calls the module
// entry with process attach and refuses the load when it returns FALSE.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>
#include <zplatform.h>

namespace {

// What an HMODULE points to.
struct LoadedModule {
    void* handle;
    std::string path;
    LoadedModule* next;
};

typedef BOOL(WINAPI* DllEntry)(HINSTANCE, DWORD, LPVOID);

std::mutex g_modulesLock;
LoadedModule* g_modules = nullptr;
std::atomic<unsigned> g_lookups{0};

std::string ExecutablePath()
{
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n < 0)
        return std::string();
    return std::string(buffer, (size_t)n);
}

LoadedModule* Executable()
{
    static LoadedModule executable = {dlopen(nullptr, RTLD_LAZY), ExecutablePath(), nullptr};
    return &executable;
}

bool IsRegistered(LoadedModule* module)
{
    std::lock_guard<std::mutex> lock(g_modulesLock);
    for (LoadedModule* m = g_modules; m != nullptr; m = m->next)
        if (m == module)
            return true;
    return false;
}

void Unregister(LoadedModule* module)
{
    std::lock_guard<std::mutex> lock(g_modulesLock);
    for (LoadedModule** link = &g_modules; *link != nullptr; link = &(*link)->next) {
        if (*link == module) {
            *link = module->next;
            return;
        }
    }
}

LoadedModule* FromHandle(HMODULE module)
{
    LoadedModule* m = reinterpret_cast<LoadedModule*>(module);
    if (m == Executable() || IsRegistered(m))
        return m;
    return nullptr;
}

// The absolute form of a path as Windows makes it: "." and ".." are resolved
// by their names alone and symbolic links are kept, so that a module knows
// itself by the path it was loaded from, not by where a link points.
std::string FullPath(const char* path)
{
    std::string whole = path;
    if (whole.empty() || whole[0] != '/') {
        char cwd[PATH_MAX];
        whole = std::string(getcwd(cwd, sizeof cwd) != nullptr ? cwd : "") + "/" + whole;
    }
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= whole.size()) {
        size_t end = whole.find('/', start);
        if (end == std::string::npos)
            end = whole.size();
        std::string part = whole.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string full;
    for (const std::string& part : parts)
        full += "/" + part;
    return full.empty() ? "/" : full;
}

}  // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR name)
{
    if (name == nullptr)
        return reinterpret_cast<HMODULE>(Executable());
    std::lock_guard<std::mutex> lock(g_modulesLock);
    for (LoadedModule* m = g_modules; m != nullptr; m = m->next) {
        const char* base = strrchr(m->path.c_str(), '/');
        base = base != nullptr ? base + 1 : m->path.c_str();
        if (strcasecmp(base, name) == 0)
            return reinterpret_cast<HMODULE>(m);
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
{
    ++g_lookups;
    LoadedModule* m = FromHandle(module);
    if (m == nullptr || m->handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(m->handle, name);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size)
{
    LoadedModule* m = module == nullptr ? Executable() : FromHandle(module);
    if (m == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    if (size == 0)
        return 0;
    // Like Windows: a path that does not fit is cut and still terminated.
    size_t length = m->path.size();
    if (length >= size) {
        memcpy(buffer, m->path.data(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    memcpy(buffer, m->path.c_str(), length + 1);
    return (DWORD)length;
}

HMODULE WINAPI LoadLibraryA(LPCSTR path)
{
    struct stat st;
    if (path == nullptr || stat(path, &st) != 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    std::string resolved = FullPath(path);
    void* handle = dlopen(resolved.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        SetLastError(ERROR_BAD_EXE_FORMAT);
        return nullptr;
    }
    LoadedModule* module = new LoadedModule{handle, resolved, nullptr};
    {
        std::lock_guard<std::mutex> lock(g_modulesLock);
        module->next = g_modules;
        g_modules = module;
    }
    DllEntry entry = reinterpret_cast<DllEntry>(dlsym(handle, "DllMain"));
    if (entry != nullptr && !entry(reinterpret_cast<HINSTANCE>(module), DLL_PROCESS_ATTACH, nullptr)) {
        Unregister(module);
        dlclose(handle);
        delete module;
        SetLastError(ERROR_DLL_INIT_FAILED);
        return nullptr;
    }
    return reinterpret_cast<HMODULE>(module);
}

BOOL WINAPI FreeLibrary(HMODULE handle)
{
    LoadedModule* module = reinterpret_cast<LoadedModule*>(handle);
    if (module == Executable() || !IsRegistered(module)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    DllEntry entry = reinterpret_cast<DllEntry>(dlsym(module->handle, "DllMain"));
    if (entry != nullptr)
        entry(reinterpret_cast<HINSTANCE>(module), DLL_PROCESS_DETACH, nullptr);
    Unregister(module);
    dlclose(module->handle);
    delete module;
    return TRUE;
}

const ZModuleResources* ZPlatformModuleResourcesOf(HINSTANCE module)
{
    LoadedModule* m = module == nullptr ? Executable() : FromHandle(module);
    if (m == nullptr || m->handle == nullptr)
        return nullptr;
    return static_cast<const ZModuleResources*>(dlsym(m->handle, ZPLATFORM_RESOURCES_SYMBOL));
}

unsigned ZPlatformProcLookupCount(void)
{
    return g_lookups.load();
}

}  // extern "C"
