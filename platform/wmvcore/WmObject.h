// The library's counts of its objects (live and ever made), which tests read
// to see that nothing leaks and that a refused request made nothing. The
// objects' IUnknown is orafon::ComObject's.
#pragma once

#include <orafon/ComObject.h>
#include <orafon/win/unknwn.h>

namespace orafon::wmvcore {

void ObjectMade();
void ObjectGone();

// Counts itself among the library's objects while it exists. Objects list it
// as a base after their orafon::ComObject.
class WmObject {
public:
    WmObject() { ObjectMade(); }
    WmObject(const WmObject &) = delete;
    WmObject &operator=(const WmObject &) = delete;
    ~WmObject() { ObjectGone(); }
};

// Hands a held object out through an out parameter as interface I.
template <typename I, typename T> HRESULT HandOut(CComPtr<T> &held, I **ppOut)
{
    *ppOut = static_cast<I *>(held.Detach());
    return S_OK;
}

} // namespace orafon::wmvcore
