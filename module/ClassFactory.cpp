#include "ClassFactory.h"

#include <new>

namespace orafon::module {

HRESULT CClassFactory::Make(ModuleState &module, InstanceMaker maker, IClassFactory **ppFactory)
{
    *ppFactory = new (std::nothrow) CClassFactory(module, maker);
    return *ppFactory ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
        *ppv = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef()
{
    std::lock_guard lock(refMutex_);
    if (++refs_ == 2)
        module_.Lock();
    return refs_;
}

STDMETHODIMP_(ULONG) CClassFactory::Release()
{
    ULONG left;
    {
        std::lock_guard lock(refMutex_);
        left = --refs_;
        if (left == 1)
            module_.Unlock();
    }
    if (left == 0)
        delete this;
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
    HRESULT hr = maker_(pUnkOuter, riid, ppv);
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
