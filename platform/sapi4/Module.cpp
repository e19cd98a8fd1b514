// The in-process server's entry points: class objects for the mode
// enumerator and the multimedia audio destination.
#include "ClassObjects.h"
#include "ComSupport.h"

#include <orafon/CatchAtEdge.h>
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

// A class object: a new one for each request, counted among the module's
// live objects while a client holds it.
class ClassFactory final : public orafon::ComObject<ClassFactory, IClassFactory>, private ModuleObject {
public:
    explicit ClassFactory(Creator create) : create_(create) {}

    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        return orafon::CatchAtEdge([&]() -> HRESULT {
            if (!ppv)
                return E_POINTER;
            *ppv = nullptr;
            if (outer)
                return CLASS_E_NOAGGREGATION;
            return create_(riid, ppv);
        });
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

} // namespace
} // namespace orafon::sapi4

using namespace orafon::sapi4;

EXTERN_C ORAFON_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (rclsid == CLSID_TTSEnumerator)
        return ClassFactory::CreateInterface(riid, ppv, &CreateTtsEnumerator);
    if (rclsid == CLSID_MMAudioDest)
        return ClassFactory::CreateInterface(riid, ppv, &CreateMMAudioDest);
    return CLASS_E_CLASSNOTAVAILABLE;
}

EXTERN_C ORAFON_EXPORT HRESULT DllCanUnloadNow(void)
{
    return LiveObjects() == 0 && ServerLocks() == 0 ? S_OK : S_FALSE;
}
