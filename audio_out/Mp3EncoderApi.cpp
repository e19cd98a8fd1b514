#include "Mp3EncoderApi.h"

#include <mutex>
#include <string>

namespace {

std::mutex g_apiLock;
Mp3EncoderApi g_api;
std::string g_libraryName = "lame_enc.so";

// The folder of the module this code is linked into (the component's module,
// or a program that links the sink directly), with a trailing slash.
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

HMODULE LoadEncoderLibrary()
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

Mp3EncoderApi Mp3EncoderApiGet()
{
    std::lock_guard lock(g_apiLock);
    return g_api;
}

void Mp3EncoderApiLoad()
{
    std::lock_guard lock(g_apiLock);
    if (g_api.hModule)
        return;
    HMODULE h = LoadEncoderLibrary();
    if (!h)
        return;
    Mp3EncoderApi api;
    api.hModule = h;
    Resolve(h, TEXT_BEINITSTREAM, api.beInitStream);
    Resolve(h, TEXT_BEENCODECHUNK, api.beEncodeChunk);
    Resolve(h, TEXT_BEDEINITSTREAM, api.beDeinitStream);
    Resolve(h, TEXT_BECLOSESTREAM, api.beCloseStream);
    Resolve(h, TEXT_BEVERSION, api.beVersion);
    Resolve(h, TEXT_BEWRITEVBRHEADER, api.beWriteVBRHeader);
    Resolve(h, TEXT_BEWRITEINFOTAG, api.beWriteInfoTag);
    g_api = api;
}

void Mp3EncoderApiUnload()
{
    std::lock_guard lock(g_apiLock);
    if (g_api.hModule)
        FreeLibrary(g_api.hModule);
    g_api = {};
}

void Mp3EncoderApiSetLibraryName(const char *pszName)
{
    std::lock_guard lock(g_apiLock);
    g_libraryName = pszName ? pszName : "";
}
