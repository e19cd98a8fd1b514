// The in-process server: class objects for the classes this module provides.
#include "ComObject.h"
#include "Tokens.h"
#include "Voice.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/win/objbase.h>

namespace orafon::sapi5 {

namespace {

std::atomic<long> g_objects{0};

// A class object: a new one for each request, counted among the module's
// live objects while a client holds it.
template <typename T>
class ClassFactory final : public orafon::ComObject<ClassFactory<T>, IClassFactory>, private ModuleObject {
public:
    STDMETHODIMP CreateInstance(IUnknown *outer, REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        // A constructor may allocate.
        return orafon::CatchAtEdge([&] { return T::CreateInterface(riid, ppv); });
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
    if (IsEqualCLSID(rclsid, CLSID_SpVoice))
        return ClassFactory<SpVoice>::CreateInterface(riid, ppv);
    if (IsEqualCLSID(rclsid, CLSID_SpObjectTokenCategory))
        return ClassFactory<TokenCategory>::CreateInterface(riid, ppv);
    if (IsEqualCLSID(rclsid, CLSID_SpObjectToken))
        return ClassFactory<ObjectToken>::CreateInterface(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI ORAFON_EXPORT DllCanUnloadNow(void)
{
    return ModuleCount() == 0 ? S_OK : S_FALSE;
}
