// Reference counting and QueryInterface for the platform's objects, and the
// module's count of live objects that decides DllCanUnloadNow.
#pragma once

#include <orafon/win/unknwn.h>

#include <atomic>
#include <initializer_list>
#include <new>
#include <string>
#include <utility>

namespace orafon::sapi5 {

void ModuleAddRef();
void ModuleRelease();
long ModuleCount();

// Implements IUnknown for a class deriving from the interfaces it answers.
// Derived classes list their interfaces in Interfaces(): pairs of IID and the
// pointer for it, checked in order.
template <typename Derived, typename Primary> class ComObject : public Primary {
public:
    ComObject() { ModuleAddRef(); }
    virtual ~ComObject() { ModuleRelease(); }
    ComObject(const ComObject &) = delete;
    ComObject &operator=(const ComObject &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown *>(static_cast<Primary *>(this));
        } else {
            *ppv = static_cast<Derived *>(this)->Find(riid);
        }
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

private:
    std::atomic<ULONG> refs_{1};
};

// Copies text into task memory for an out parameter.
HRESULT CoMemString(const char16_t *text, size_t length, LPWSTR *out);
inline HRESULT CoMemString(const std::u16string &text, LPWSTR *out)
{
    return CoMemString(text.c_str(), text.size(), out);
}

} // namespace orafon::sapi5
