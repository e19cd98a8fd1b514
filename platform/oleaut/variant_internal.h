// Helpers shared by the VARIANT functions of this folder.
#pragma once

#include <orafon/win/oleauto.h>

namespace orafon::oleaut {

// True for the base types a VARIANT can hold by value here.
[[nodiscard]] bool IsValueType(VARTYPE vt);

// True when vt (with its VT_BYREF flag) is a type a VARIANT may hold.
[[nodiscard]] bool IsValidVariantType(VARTYPE vt);

// The value a by-reference VARIANT points at, as a by-value VARIANT that
// borrows (does not own) any string or interface. A by-value source is
// returned as is. Fails with E_INVALIDARG for a null reference or a
// reference to a reference.
[[nodiscard]] HRESULT Dereference(const VARIANT &src, VARIANT &value);

} // namespace orafon::oleaut
