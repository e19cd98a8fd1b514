// IUnknown, IClassFactory and the reference holder every caller uses.
#pragma once

#include <orafon/win/wintypes.h>

#include <memory>
#include <utility>

// A COM interface is a class of pure virtual functions whose first three
// entries are those of IUnknown: the same function-table layout the Itanium
// C++ ABI gives single-inheritance classes, so interfaces can be implemented
// and called from C++ exactly as on Windows.
#define MIDL_INTERFACE(x) struct
#define DECLARE_INTERFACE(iface) struct iface
#define DECLARE_INTERFACE_(iface, base) struct iface : public base

DEFINE_GUID(IID_IUnknown, 0x00000000, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);
DEFINE_GUID(IID_IClassFactory, 0x00000001, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46);

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void **ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)() PURE;
    STDMETHOD_(ULONG, Release)() PURE;

protected:
    // Objects are destroyed through Release, never through an interface pointer.
    ~IUnknown() = default;
};
typedef IUnknown *LPUNKNOWN;

struct IClassFactory : public IUnknown {
    STDMETHOD(CreateInstance)(IUnknown *pUnkOuter, REFIID riid, void **ppvObject) PURE;
    STDMETHOD(LockServer)(BOOL fLock) PURE;
};
typedef IClassFactory *LPCLASSFACTORY;

// Maps an interface type to its IID: each interface header specialises this
// next to the interface, so CComPtr::QueryInterface needs no IID argument.
template <typename T> struct InterfaceId;
template <> struct InterfaceId<IUnknown> {
    static constexpr const IID &value = IID_IUnknown;
};
template <> struct InterfaceId<IClassFactory> {
    static constexpr const IID &value = IID_IClassFactory;
};
#define ORAFON_DECLARE_IID(Interface, iid)                \
    template <> struct InterfaceId<Interface> {           \
        static constexpr const IID &value = iid;          \
    }
#define __uuidof(T) (InterfaceId<T>::value)

// Holds one reference to an interface pointer for its lifetime.
template <typename T> class CComPtr {
public:
    CComPtr() noexcept = default;
    CComPtr(std::nullptr_t) noexcept {}
    // Takes a new reference to p.
    CComPtr(T *p) noexcept : p_(p)
    {
        if (p_)
            p_->AddRef();
    }
    CComPtr(const CComPtr &o) noexcept : CComPtr(o.p_) {}
    CComPtr(CComPtr &&o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    ~CComPtr() { Release(); }

    CComPtr &operator=(const CComPtr &o) noexcept { return *this = o.p_; }
    CComPtr &operator=(CComPtr &&o) noexcept
    {
        if (this != std::addressof(o)) {
            Release();
            p_ = std::exchange(o.p_, nullptr);
        }
        return *this;
    }
    CComPtr &operator=(T *p) noexcept
    {
        if (p)
            p->AddRef();
        T *old = std::exchange(p_, p);
        if (old)
            old->Release();
        return *this;
    }
    CComPtr &operator=(std::nullptr_t) noexcept
    {
        Release();
        return *this;
    }

    // Adopts a reference the caller already owns.
    void Attach(T *p) noexcept
    {
        Release();
        p_ = p;
    }
    [[nodiscard]] T *Detach() noexcept { return std::exchange(p_, nullptr); }
    void Release() noexcept
    {
        if (T *old = std::exchange(p_, nullptr))
            old->Release();
    }
    // For out parameters: the holder must be empty.
    T **operator&() noexcept
    {
        Release();
        return &p_;
    }
    T *operator->() const noexcept { return p_; }
    operator T *() const noexcept { return p_; }
    T *get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }

    HRESULT CopyTo(T **pp) const noexcept
    {
        if (!pp)
            return E_POINTER;
        *pp = p_;
        if (p_)
            p_->AddRef();
        return S_OK;
    }
    template <typename Q> HRESULT QueryInterface(Q **pp) const noexcept
    {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        if (!p_)
            return E_POINTER;
        return p_->QueryInterface(__uuidof(Q), reinterpret_cast<void **>(pp));
    }

private:
    T *p_ = nullptr;
};
