// Orafon.so: the module's load and unload work, its exported entry points and
// the module-wide services of Module.h.
#include "Module.h"

#include "ClassFactory.h"
#include "ModuleState.h"
#include "Registration.h"
#include "audio_out/AacEncoderApi.h"
#include "audio_out/Mp3EncoderApi.h"
#include "audio_out/WmRuntimeApi.h"
#include "component/TextToSpeechFactory.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/OrafonIds.h>

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <string>

// The type library bytes, generated at build time (orafon_tlbgen).
extern const unsigned char kOrafonTypeLibBytes[];
extern const std::size_t kOrafonTypeLibSize;

namespace {

using orafon::module::CClassFactory;
using orafon::module::ClassEntry;
using orafon::module::ModuleState;

ModuleState *g_state = nullptr;

// What the module hands each object it makes: its lock and its type library.
// Lives as long as the module's code, and so outlives every object.
class OrafonServices final : public orafon::ModuleServices {
public:
    LONG Lock() noexcept override { return ModuleLock(); }
    LONG Unlock() noexcept override { return ModuleUnlock(); }
    HRESULT GetTypeInfo(REFGUID guid, ITypeInfo **ppTInfo) noexcept override
    {
        return orafon::CatchAtEdge([&] { return ModuleGetTypeInfo(guid, ppTInfo); });
    }
};

constinit OrafonServices g_services;

[[nodiscard]] HRESULT CreateTextToSpeech(IUnknown *pUnkOuter, REFIID riid, void **ppv)
{
    return CTextToSpeech_CreateInstance(g_services, pUnkOuter, riid, ppv);
}

ClassEntry g_classes[] = {
    {&CLSID_TextToSpeech, orafon::module::UpdateTextToSpeechRegistry, CClassFactory::Make, CreateTextToSpeech},
};

// Made by the load work, before any entry point can be called. The unload
// work frees it only when nothing holds the module any more: objects still
// alive then may call in late.
[[nodiscard]] ModuleState &State()
{
    if (!g_state)
        g_state = new ModuleState(g_classes, LIBID_Orafon);
    return *g_state;
}

// This file's absolute path, resolved from an address inside it.
[[nodiscard]] std::string FindModulePath()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<const void *>(&FindModulePath), &info) || !info.dli_fname)
        return {};
    char resolved[PATH_MAX];
    if (!realpath(info.dli_fname, resolved))
        return {};
    return resolved;
}

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1

// What DllMain does on Windows: attach builds the module state and loads the
// MP3 and AAC encoder libraries and the Windows Media runtime (a missing one
// only makes its file type unavailable), detach tears them down (cached class
// factory and type information released) unless objects still alive may call
// in late.
[[nodiscard]] BOOL ModuleMain(DWORD reason)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Mp3EncoderApiLoad();
        AacEncoderApiLoad();
        WmRuntimeApiLoad();
        return State().Attach(FindModulePath().c_str()) ? TRUE : FALSE;
    }
    if (reason == DLL_PROCESS_DETACH) {
        State().Detach();
        if (State().LockCount() == 0) {
            delete g_state;
            g_state = nullptr;
            Mp3EncoderApiUnload();
            AacEncoderApiUnload();
            WmRuntimeApiUnload();
        }
    }
    return TRUE;
}

// The loader calls these; nothing thrown may reach it.
__attribute__((constructor)) void OnProcessAttach()
{
    // A failed attach cannot refuse the load here; the module stays loaded
    // and every entry point that needs the state answers E_UNEXPECTED.
    static_cast<void>(orafon::CatchAtEdge([] { static_cast<void>(ModuleMain(DLL_PROCESS_ATTACH)); }));
}

__attribute__((destructor)) void OnProcessDetach()
{
    static_cast<void>(orafon::CatchAtEdge([] { static_cast<void>(ModuleMain(DLL_PROCESS_DETACH)); }));
}

} // namespace

LONG ModuleLock()
{
    return State().Lock();
}
LONG ModuleUnlock()
{
    return State().Unlock();
}
HRESULT ModuleGetTypeInfo(REFGUID guid, ITypeInfo **ppTInfo)
{
    return State().GetTypeInfo(guid, ppTInfo);
}

extern "C" {

ORAFON_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv)
{
    return orafon::CatchAtEdge([&] { return State().GetClassObject(rclsid, riid, ppv); });
}

ORAFON_EXPORT HRESULT DllCanUnloadNow()
{
    return orafon::CatchAtEdge([] { return State().CanUnloadNow(); });
}

ORAFON_EXPORT HRESULT DllRegisterServer()
{
    return orafon::CatchAtEdge([] { return State().RegisterServer(); });
}

ORAFON_EXPORT HRESULT DllUnregisterServer()
{
    return orafon::CatchAtEdge([] { return State().UnregisterServer(); });
}

// Type library resource 1.
ORAFON_EXPORT HRESULT DllGetTypeLibResource(INT id, const void **ppData, SIZE_T *pcbData)
{
    if (!ppData || !pcbData)
        return E_POINTER;
    *ppData = nullptr;
    *pcbData = 0;
    if (id != 1)
        return TYPE_E_ELEMENTNOTFOUND;
    *ppData = kOrafonTypeLibBytes;
    *pcbData = kOrafonTypeLibSize;
    return S_OK;
}

} // extern "C"

// Keeps the exported signatures in step with the platform's declarations.
static_assert(std::is_same_v<decltype(&DllGetClassObject), LPFNGETCLASSOBJECT>);
static_assert(std::is_same_v<decltype(&DllCanUnloadNow), LPFNCANUNLOADNOW>);
static_assert(std::is_same_v<decltype(&DllGetTypeLibResource), LPFNGETTYPELIBRESOURCE>);
