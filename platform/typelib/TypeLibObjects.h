// ITypeLib and ITypeInfo over a loaded Library model.
#pragma once

#include "TypeLibModel.h"

#include <memory>
#include <span>

namespace orafon::typelib {

// An ITypeLib over lib (held for as long as the object or any of its type
// infos live).
ORAFON_EXPORT HRESULT CreateTypeLib(std::shared_ptr<const Library> lib, ITypeLib **pptlib);
// Parses the binary form and wraps it (Parse's failures).
ORAFON_EXPORT HRESULT CreateTypeLibFromBytes(std::span<const BYTE> bytes, ITypeLib **pptlib);

} // namespace orafon::typelib
