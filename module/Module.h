// Module-wide state of Orafon.so that the objects it serves share. Objects
// reach it only through the ModuleServices the module hands each of them
// (component/ModuleServices.h); the component never includes this header.
#pragma once

#include <orafon/win/windows.h>

// ModuleLockCount: each live object holds one lock from construction to
// destruction. Both change the count atomically and return the new value.
LONG ModuleLock();
LONG ModuleUnlock();

// Type information from the module's own type library, loaded once and cached
// until the module unloads.
[[nodiscard]] HRESULT ModuleGetTypeInfo(REFGUID guid, ITypeInfo **ppTInfo);
