#include "AacEncoderApi.h"

#include "RuntimeLibrary.h"

#include <mutex>
#include <string>

namespace {

std::mutex g_apiLock;
AacEncoderApi g_api;
std::string g_libraryName = "aac_enc.so";

template <typename F> void Resolve(HMODULE h, const char *name, F &entry)
{
    entry = reinterpret_cast<F>(GetProcAddress(h, name));
}

} // namespace

AacEncoderApi AacEncoderApiGet()
{
    std::lock_guard lock(g_apiLock);
    return g_api;
}

void AacEncoderApiLoad()
{
    std::lock_guard lock(g_apiLock);
    if (g_api.hModule)
        return;
    HMODULE h = LoadLibraryBesideModule(g_libraryName);
    if (!h)
        return;
    AacEncoderApi api;
    api.hModule = h;
    Resolve(h, TEXT_FAACENCOPEN, api.faacEncOpen);
    Resolve(h, TEXT_FAACENCGETCURRENTCONFIGURATION, api.faacEncGetCurrentConfiguration);
    Resolve(h, TEXT_FAACENCSETCONFIGURATION, api.faacEncSetConfiguration);
    Resolve(h, TEXT_FAACENCGETDECODERSPECIFICINFO, api.faacEncGetDecoderSpecificInfo);
    Resolve(h, TEXT_FAACENCENCODE, api.faacEncEncode);
    Resolve(h, TEXT_FAACENCCLOSE, api.faacEncClose);
    Resolve(h, TEXT_FAACENCFREEDECODERSPECIFICINFO, api.faacEncFreeDecoderSpecificInfo);
    g_api = api;
}

void AacEncoderApiUnload()
{
    std::lock_guard lock(g_apiLock);
    if (g_api.hModule)
        FreeLibrary(g_api.hModule);
    g_api = {};
}

void AacEncoderApiSetLibraryName(const char *pszName)
{
    std::lock_guard lock(g_apiLock);
    g_libraryName = pszName ? pszName : "";
}
