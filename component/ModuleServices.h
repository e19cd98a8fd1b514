// What CTextToSpeech needs from the module that serves it, handed to each
// object when it is made. The module implements it; the component never
// reaches into the module itself, so the dependency runs one way.
#pragma once

#include <orafon/win/windows.h>

namespace orafon {

class ModuleServices {
public:
    // Each live object holds one lock from construction to destruction, so
    // the module is not unloaded under it. Both return the new count.
    virtual LONG Lock() noexcept = 0;
    virtual LONG Unlock() noexcept = 0;
    // Type information from the module's own type library (by IID or CLSID);
    // a failure when the module has none.
    [[nodiscard]] virtual HRESULT GetTypeInfo(REFGUID guid, ITypeInfo **ppTInfo) noexcept = 0;

protected:
    ModuleServices() = default;
    ModuleServices(const ModuleServices &) = default;
    ModuleServices &operator=(const ModuleServices &) = default;
    // Never destroyed through this interface: the module owns its services
    // and keeps them for as long as any object may call them.
    ~ModuleServices() = default;
};

} // namespace orafon
