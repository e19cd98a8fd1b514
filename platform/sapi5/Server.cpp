// The in-process server: class objects for the classes this module provides.
#include "ComObject.h"
#include "Tokens.h"
#include "Voice.h"

#include <orafon/win/objbase.h>

namespace orafon::sapi5 {

namespace {

std::atomic<long> g_objects{0};

template <typename T> class ClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory))
            return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory *>(this);
        AddRef();
        return S_OK;
    }
    // Static objects: the count only keeps the module loaded while held.
    STDMETHODIMP_(ULONG) AddRef() override
    {
        ModuleAddRef();
        return 2;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        ModuleRelease();
        return 1;
    }
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        CComPtr<T> object;
        const HRESULT hr = T::Create(object);
        if (FAILED(hr))
            return hr;
        return object->QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        lock ? ModuleAddRef() : ModuleRelease();
        return S_OK;
    }
};

} // namespace

void ModuleAddRef()
{
    ++g_objects;
}
void ModuleRelease()
{
    --g_objects;
}
long ModuleCount()
{
    return g_objects.load();
}

} // namespace orafon::sapi5

using namespace orafon::sapi5;

STDAPI ORAFON_EXPORT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    static ClassFactory<SpVoice> voiceFactory;
    static ClassFactory<TokenCategory> categoryFactory;
    static ClassFactory<ObjectToken> tokenFactory;
    IClassFactory *factory = nullptr;
    if (IsEqualCLSID(rclsid, CLSID_SpVoice))
        factory = &voiceFactory;
    else if (IsEqualCLSID(rclsid, CLSID_SpObjectTokenCategory))
        factory = &categoryFactory;
    else if (IsEqualCLSID(rclsid, CLSID_SpObjectToken))
        factory = &tokenFactory;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, ppv);
}

STDAPI ORAFON_EXPORT DllCanUnloadNow(void)
{
    return ModuleCount() == 0 ? S_OK : S_FALSE;
}
