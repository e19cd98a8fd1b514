// Module loading over the dynamic linker. A module handle is the dynamic
// linker's own handle (its link map), so handles from LoadLibraryA and from
// GetModuleHandleExA compare equal for the same module.
#include <orafon/LastErrorEdge.h>

#include <orafon/CaseFold.h>
#include <orafon/win/winbase.h>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstring>
#include <string>

namespace {

std::string MainProgramPath()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    if (n <= 0)
        return {};
    return std::string(buf, static_cast<size_t>(n));
}

std::string DirectoryOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

[[nodiscard]] bool EndsWithDll(const std::string &name)
{
    return name.size() >= 4 && orafon::EqualsIgnoringCase(std::string_view(name).substr(name.size() - 4), ".dll");
}

void *OpenOne(const std::string &name)
{
    return dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
}

// A bare name is looked up as the dynamic linker does (from this library, so
// modules beside liborafon_platform.so are found through its $ORIGIN run
// path), then beside the main program.
void *OpenBareName(const std::string &name)
{
    if (void *h = OpenOne(name))
        return h;
    const std::string dir = DirectoryOf(MainProgramPath());
    if (!dir.empty())
        return OpenOne(dir + "/" + name);
    return nullptr;
}

// Windows module names ("lame_enc.dll") stand for the shared libraries built
// here under the platform's own naming ("lame_enc.so", "liblame_enc.so").
void *OpenModule(const std::string &name)
{
    const bool hasPath = name.find('/') != std::string::npos;
    if (hasPath) {
        if (void *h = OpenOne(name))
            return h;
    } else if (void *h = OpenBareName(name)) {
        return h;
    }
    if (!EndsWithDll(name))
        return nullptr;
    const std::string stem = name.substr(0, name.size() - 4);
    const size_t slash = stem.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : stem.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? stem : stem.substr(slash + 1);
    for (const std::string &candidate : {dir + base + ".so", dir + "lib" + base + ".so"}) {
        void *h = hasPath ? OpenOne(candidate) : OpenBareName(candidate);
        if (h)
            return h;
    }
    return nullptr;
}

// Tells whether h is one of the modules currently loaded, so a stale or
// made-up handle gives ERROR_INVALID_HANDLE instead of a crash in the
// dynamic linker.
[[nodiscard]] bool IsLoadedModule(HMODULE h)
{
    if (!h)
        return false;
    void *self = dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
    if (!self)
        return false;
    bool found = false;
    struct link_map *map = nullptr;
    if (dlinfo(self, RTLD_DI_LINKMAP, &map) == 0) {
        while (map && map->l_prev)
            map = map->l_prev;
        for (; map && !found; map = map->l_next)
            found = static_cast<void *>(map) == static_cast<void *>(h);
    }
    dlclose(self);
    return found;
}

DWORD CopyTruncated(const std::string &path, LPSTR out, DWORD size)
{
    if (size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (path.size() >= size) {
        // As Windows: the name is cut to fit with its NUL, the full size is
        // returned and the caller learns of it from the last error.
        std::memcpy(out, path.data(), size - 1);
        out[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(out, path.c_str(), path.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(path.size());
}

std::string ModulePath(HMODULE h)
{
    struct link_map *map = nullptr;
    if (dlinfo(h, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return {};
    if (!map->l_name || !*map->l_name)
        return MainProgramPath();
    char resolved[PATH_MAX];
    if (realpath(map->l_name, resolved))
        return resolved;
    return map->l_name;
}

} // namespace

STDAPI_(HMODULE) LoadLibraryA(LPCSTR lpLibFileName)
{
    return orafon::AtLastErrorEdge<HMODULE>(nullptr, [&]() -> HMODULE {
        if (!lpLibFileName || !*lpLibFileName) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        void *h = OpenModule(lpLibFileName);
        if (!h) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        return static_cast<HMODULE>(h);
    });
}

STDAPI_(BOOL) FreeLibrary(HMODULE hLibModule)
{
    if (!IsLoadedModule(hLibModule)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (dlclose(hLibModule) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

STDAPI_(FARPROC) GetProcAddress(HMODULE hModule, LPCSTR lpProcName)
{
    if (!IsLoadedModule(hModule)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    // Names only: an ordinal (a value below 64K in place of the pointer) has
    // no meaning for a shared object.
    if (reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void *sym = dlsym(hModule, lpProcName);
    if (!sym) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(sym);
}

STDAPI_(DWORD) GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize)
{
    return orafon::AtLastErrorEdge<DWORD>(0, [&]() -> DWORD {
        if (!lpFilename && nSize > 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        std::string path;
        if (!hModule) {
            path = MainProgramPath();
        } else {
            if (!IsLoadedModule(hModule)) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return 0;
            }
            path = ModulePath(hModule);
        }
        if (path.empty()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        return CopyTruncated(path, lpFilename, nSize);
    });
}

STDAPI_(BOOL) GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE *phModule)
{
    return orafon::AtLastErrorEdge<BOOL>(FALSE, [&]() -> BOOL {
        if (!phModule) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *phModule = nullptr;
        constexpr DWORD known =
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT | 0x1 /* PIN */;
        if ((dwFlags & ~known) != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        const bool keepCount = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) != 0;
        void *h = nullptr;
        if (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) {
            Dl_info info;
            struct link_map *map = nullptr;
            if (!lpModuleName || !dladdr1(lpModuleName, &info, reinterpret_cast<void **>(&map), RTLD_DL_LINKMAP) ||
                !map) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return FALSE;
            }
            h = map;
            if (!keepCount) {
                // Take the reference Windows takes, so FreeLibrary balances it.
                const bool isMain = !map->l_name || !*map->l_name;
                void *again = dlopen(isMain ? nullptr : map->l_name, RTLD_NOW | RTLD_NOLOAD);
                if (!again) {
                    SetLastError(ERROR_MOD_NOT_FOUND);
                    return FALSE;
                }
            }
        } else {
            if (!lpModuleName) {
                h = dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
            } else {
                h = dlopen(lpModuleName, RTLD_NOW | RTLD_NOLOAD);
                if (!h && EndsWithDll(lpModuleName)) {
                    const std::string stem(lpModuleName, std::strlen(lpModuleName) - 4);
                    h = dlopen((stem + ".so").c_str(), RTLD_NOW | RTLD_NOLOAD);
                    if (!h)
                        h = dlopen(("lib" + stem + ".so").c_str(), RTLD_NOW | RTLD_NOLOAD);
                }
            }
            if (!h) {
                SetLastError(ERROR_MOD_NOT_FOUND);
                return FALSE;
            }
            if (keepCount)
                dlclose(h);
        }
        *phModule = static_cast<HMODULE>(h);
        return TRUE;
    });
}
