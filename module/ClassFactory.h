// The class factory of a module's class: one per class, cached by the module.
#pragma once

#include "ModuleState.h"

#include <orafon/ComObject.h>

namespace orafon::module {

// Holds a module lock while any reference beyond the module's cached one
// exists: the count rising to 2 takes it, falling back to 1 gives it back.
class CClassFactory final : public ComObject<CClassFactory, IClassFactory> {
public:
    CClassFactory(ModuleState &module, InstanceMaker maker) : module_(module), maker_(maker) {}

    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

    // The FactoryMaker for class table entries.
    static HRESULT Make(ModuleState &module, InstanceMaker maker, IClassFactory **ppFactory);

private:
    ModuleState &module_;
    InstanceMaker maker_;
    // Orders the count's changes with the module lock they take and give back.
    std::mutex refMutex_;
};

} // namespace orafon::module
