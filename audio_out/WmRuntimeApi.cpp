#include "WmRuntimeApi.h"

#include <mutex>
#include <string>

namespace {

std::mutex g_apiLock;
WmRuntimeApi g_api;
std::string g_libraryName = "wmvcore.so";

// The folder of the module this code is linked into, with a trailing slash.
std::string OwnModuleFolder()
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

HMODULE LoadRuntimeLibrary()
{
    const std::string folder = OwnModuleFolder();
    if (!folder.empty()) {
        if (HMODULE h = LoadLibraryA((folder + g_libraryName).c_str()))
            return h;
    }
    return LoadLibraryA(g_libraryName.c_str());
}

template <typename F> void Resolve(HMODULE h, const char *name, F &entry)
{
    entry = reinterpret_cast<F>(GetProcAddress(h, name));
}

} // namespace

WmRuntimeApi WmRuntimeApiGet()
{
    std::lock_guard lock(g_apiLock);
    return g_api;
}

void WmRuntimeApiLoad()
{
    std::lock_guard lock(g_apiLock);
    if (g_api.hModule)
        return;
    HMODULE h = LoadRuntimeLibrary();
    if (!h)
        return;
    WmRuntimeApi api;
    api.hModule = h;
    Resolve(h, TEXT_WMCREATEWRITER, api.WMCreateWriter);
    Resolve(h, TEXT_WMCREATEPROFILEMANAGER, api.WMCreateProfileManager);
    Resolve(h, TEXT_WMCREATEEDITOR, api.WMCreateEditor);
    Resolve(h, TEXT_WMCREATESYNCREADER, api.WMCreateSyncReader);
    g_api = api;
}

void WmRuntimeApiUnload()
{
    std::lock_guard lock(g_apiLock);
    if (g_api.hModule)
        FreeLibrary(g_api.hModule);
    g_api = {};
}

void WmRuntimeApiSetLibraryName(const char *pszName)
{
    std::lock_guard lock(g_apiLock);
    g_libraryName = pszName ? pszName : "";
}
