// What every object of the library shares: it tells the hooks (Hooks.h) of
// its making and its end, which a test build counts to see that nothing
// leaks and that a refused request made nothing. The objects' IUnknown is
// orafon::ComObject's.
#pragma once

#include "Hooks.h"

#include <orafon/ComObject.h>
#include <orafon/win/unknwn.h>

namespace orafon::wmvcore {

// Reports itself to the hooks while it exists. Objects list it as a base
// after their orafon::ComObject.
class WmObject {
public:
    WmObject() { ObjectMade(); }
    WmObject(const WmObject &) = delete;
    WmObject &operator=(const WmObject &) = delete;
    ~WmObject() { ObjectGone(); }
};

// Hands a held object out through an out parameter as interface I.
template <typename I, typename T> [[nodiscard]] HRESULT HandOut(CComPtr<T> &held, I **ppOut)
{
    *ppOut = static_cast<I *>(held.Detach());
    return S_OK;
}

} // namespace orafon::wmvcore
