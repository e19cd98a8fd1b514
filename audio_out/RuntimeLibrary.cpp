#include "RuntimeLibrary.h"

namespace {

// The folder of the module this code is linked into, with a trailing slash.
[[nodiscard]] std::string OwnModuleFolder()
{
    HMODULE hSelf = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(&OwnModuleFolder), &hSelf))
        return {};
    char path[MAX_PATH * 4] = {};
    const DWORD n = GetModuleFileNameA(hSelf, path, sizeof(path));
    if (n == 0 || n >= sizeof(path))
        return {};
    std::string folder(path, n);
    const size_t slash = folder.find_last_of('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

} // namespace

HMODULE LoadLibraryBesideModule(const std::string &name)
{
    if (name.empty())
        return nullptr;
    const std::string folder = OwnModuleFolder();
    if (!folder.empty()) {
        if (HMODULE h = LoadLibraryA((folder + name).c_str()))
            return h;
    }
    return LoadLibraryA(name.c_str());
}
