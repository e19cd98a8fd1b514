#include "WmRuntimeApi.h"

#include "RuntimeLibrary.h"

#include <mutex>
#include <string>

namespace {

std::mutex g_apiLock;
WmRuntimeApi g_api;
std::string g_libraryName = "wmvcore.so";

HMODULE LoadRuntimeLibrary()
{
    return LoadLibraryBesideModule(g_libraryName);
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
