#include "ClassFactory.h"

#include <orafon/CatchAtEdge.h>

namespace orafon::module {

HRESULT CClassFactory::Make(ModuleState &module, InstanceMaker maker, IClassFactory **ppFactory)
{
    *ppFactory = nullptr;
    CComPtr<CClassFactory> factory;
    if (HRESULT hr = Create(factory, module, maker); FAILED(hr))
        return hr;
    *ppFactory = factory.Detach();
    return S_OK;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef() noexcept
{
    std::lock_guard lock(refMutex_);
    const ULONG count = IncrementReferences();
    if (count == 2)
        module_.Lock();
    return count;
}

STDMETHODIMP_(ULONG) CClassFactory::Release() noexcept
{
    ULONG left;
    {
        std::lock_guard lock(refMutex_);
        left = DecrementReferences();
        if (left == 1)
            module_.Unlock();
    }
    if (left == 0)
        Destroy();
    return left;
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    // An aggregated object hands its outer object the non-delegating
    // IUnknown; no other interface can be asked for.
    if (pUnkOuter && riid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;
    HRESULT hr = CatchAtEdge([&] { return maker_(pUnkOuter, riid, ppv); });
    if (FAILED(hr))
        *ppv = nullptr;
    return hr;
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock)
{
    if (fLock)
        module_.Lock();
    else
        module_.Unlock();
    return S_OK;
}

} // namespace orafon::module
