// The in-process server's entry points: class objects for the mode
// enumerator and the multimedia audio destination.
#include "ClassObjects.h"
#include "ComSupport.h"

#include <orafon/win/objbase.h>
#include <orafon/win/speech.h>

namespace orafon::sapi4 {

std::atomic<long> &LiveObjects()
{
    static std::atomic<long> count{0};
    return count;
}

std::atomic<long> &ServerLocks()
{
    static std::atomic<long> count{0};
    return count;
}

namespace {

using Creator = HRESULT (*)(REFIID, void **);

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(Creator create) : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    // Class objects are static; they count as server locks only.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        return create_(riid, ppv);
    }

    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ++ServerLocks();
        else
            --ServerLocks();
        return S_OK;
    }

private:
    Creator create_;
};

ClassFactory gEnumeratorFactory(CreateTtsEnumerator);
ClassFactory gAudioDestFactory(CreateMMAudioDest);

} // namespace
} // namespace orafon::sapi4

using namespace orafon::sapi4;

EXTERN_C ORAFON_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    IClassFactory *factory = nullptr;
    if (rclsid == CLSID_TTSEnumerator)
        factory = &gEnumeratorFactory;
    else if (rclsid == CLSID_MMAudioDest)
        factory = &gAudioDestFactory;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    return factory->QueryInterface(riid, ppv);
}

EXTERN_C ORAFON_EXPORT HRESULT DllCanUnloadNow(void)
{
    return LiveObjects() == 0 && ServerLocks() == 0 ? S_OK : S_FALSE;
}
