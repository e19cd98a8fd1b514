#include "Mp3EncoderApi.h"

#include "RuntimeLibrary.h"

#include <mutex>
#include <string>

namespace {

std::mutex g_apiLock;
Mp3EncoderApi g_api;
std::string g_libraryName = "lame_enc.so";

HMODULE LoadEncoderLibrary()
{
    return LoadLibraryBesideModule(g_libraryName);
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
