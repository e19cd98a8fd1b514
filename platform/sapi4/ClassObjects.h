// The classes the server's class objects make, each created for one
// interface of the caller's choice.
#pragma once

#include <orafon/win/objbase.h>

namespace orafon::sapi4 {

[[nodiscard]] HRESULT CreateTtsEnumerator(REFIID riid, void **ppv);
HRESULT CreateMMAudioDest(REFIID riid, void **ppv);

} // namespace orafon::sapi4
