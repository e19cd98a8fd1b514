// wmvcore.so's exported names: the runtime's factories.
#include "Codecs.h"
#include "Editor.h"
#include "Profile.h"
#include "Writer.h"

#include <orafon/CatchAtEdge.h>

#include <type_traits>

namespace orafon::wmvcore {

namespace {

template <typename T, typename I> [[nodiscard]] HRESULT Make(I **pp)
{
    if (!pp)
        return E_POINTER;
    *pp = nullptr;
    CComPtr<T> object;
    const HRESULT hr = T::Create(object);
    return FAILED(hr) ? hr : HandOut(object, pp);
}

} // namespace

} // namespace orafon::wmvcore

using namespace orafon::wmvcore;

extern "C" {

ORAFON_EXPORT HRESULT STDAPICALLTYPE WMCreateWriter(IUnknown *, IWMWriter **ppWriter)
{
    return orafon::CatchAtEdge([&] { return Make<Writer>(ppWriter); });
}

ORAFON_EXPORT HRESULT STDAPICALLTYPE WMCreateProfileManager(IWMProfileManager **ppProfileManager)
{
    return orafon::CatchAtEdge([&] { return Make<ProfileManager>(ppProfileManager); });
}

#ifndef ORAFON_WMVCORE_WITHOUT_EDITOR
ORAFON_EXPORT HRESULT STDAPICALLTYPE WMCreateEditor(IWMMetadataEditor **ppEditor)
{
    return orafon::CatchAtEdge([&] { return Make<Editor>(ppEditor); });
}
#endif

// Reading is not offered: files are only written here.
ORAFON_EXPORT HRESULT STDAPICALLTYPE WMCreateSyncReader(IUnknown *, DWORD, IWMSyncReader **ppSyncReader)
{
    if (ppSyncReader)
        *ppSyncReader = nullptr;
    return E_NOTIMPL;
}

} // extern "C"

// Keeps the exported signatures in step with the declarations the component resolves them by.
static_assert(std::is_same_v<decltype(&WMCreateWriter), PFNWMCREATEWRITER>);
static_assert(std::is_same_v<decltype(&WMCreateProfileManager), PFNWMCREATEPROFILEMANAGER>);
static_assert(std::is_same_v<decltype(&WMCreateSyncReader), PFNWMCREATESYNCREADER>);
