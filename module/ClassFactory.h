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

    // A mutex that cannot be locked (std::system_error) has no answer in a
    // reference count: it ends the process rather than cross the interface.
    STDMETHODIMP_(ULONG) AddRef() noexcept override;
    STDMETHODIMP_(ULONG) Release() noexcept override;
    STDMETHODIMP CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

    // The FactoryMaker for class table entries.
    [[nodiscard]] static HRESULT Make(ModuleState &module, InstanceMaker maker, IClassFactory **ppFactory);

private:
    ModuleState &module_;
    InstanceMaker maker_;
    // Orders the count's changes with the module lock they take and give back.
    std::mutex refMutex_;
};

} // namespace orafon::module
