// Reference counting and QueryInterface for the runtime's objects, and the
// library's counts of its objects (live and ever made), which tests read to
// see that nothing leaks and that a refused request made nothing.
#pragma once

#include <orafon/win/unknwn.h>

#include <atomic>
#include <new>
#include <utility>

namespace orafon::wmvcore {

void ObjectMade();
void ObjectGone();

// Implements IUnknown for a class deriving from the interfaces it answers.
// Derived classes answer Find(riid) with the pointer for each further IID.
template <typename Derived, typename Primary> class WmObject : public Primary {
public:
    WmObject() { ObjectMade(); }
    virtual ~WmObject() { ObjectGone(); }
    WmObject(const WmObject &) = delete;
    WmObject &operator=(const WmObject &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, __uuidof(Primary)))
            *ppv = static_cast<Primary *>(this);
        else
            *ppv = static_cast<Derived *>(this)->Find(riid);
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --refs_;
        if (left == 0)
            delete static_cast<Derived *>(this);
        return left;
    }

    // A new object with one reference, handed to a holder.
    template <typename... Args> static HRESULT Create(CComPtr<Derived> &out, Args &&...args)
    {
        Derived *p = new (std::nothrow) Derived(std::forward<Args>(args)...);
        if (!p)
            return E_OUTOFMEMORY;
        out.Attach(p);
        return S_OK;
    }

protected:
    // No further interfaces by default.
    void *Find(REFIID) { return nullptr; }

private:
    std::atomic<ULONG> refs_{1};
};

// Hands a held object out through an out parameter as interface I.
template <typename I, typename T> HRESULT HandOut(CComPtr<T> &held, I **ppOut)
{
    *ppOut = static_cast<I *>(held.Detach());
    return S_OK;
}

} // namespace orafon::wmvcore
