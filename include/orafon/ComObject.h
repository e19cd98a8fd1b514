// IUnknown, written once. An object lists the interfaces it answers as
// template arguments; QueryInterface is a lookup in the table made from that
// list, so adding an interface to an object is adding one argument.
//
//   class Voice final
//       : public orafon::ComObject<Voice, ISpVoice, orafon::ComAlias<ISpEventSource, ISpVoice>> { ... };
//
// The first entry answers IUnknown. An interface that another listed one
// derives from is a ComAlias entry, not a second base.
//
// Every shape keeps the rules callers rely on: a null out pointer is
// E_POINTER; an IID not in the table sets *ppv to null and is E_NOINTERFACE;
// IUnknown always yields the same pointer (the object's identity); every
// interface of the table answers for every other, so QueryInterface is
// reflexive, symmetric and transitive.
//
// Three shapes share the table:
// - ComObject: an object of its own, with one atomic reference count;
// - ComAggregatable: the same, which an outer object may aggregate;
// - ComContained: an object with its own identity whose lifetime is its
//   owner's (a connection point that keeps its container alive).
#pragma once

#include <orafon/win/unknwn.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

namespace orafon {

// A table entry that answers the IID of As with the object's Via interface
// and adds no base class: IDispatch answered by a dual interface, the older
// IIDs of an interface that extends them, or a private IID by which an
// object recognises its own kind behind an interface pointer.
template <typename As, typename Via> struct ComAlias {
    static_assert(!std::is_base_of_v<IUnknown, As> || std::is_base_of_v<As, Via>,
                  "an interface can only be answered by an interface derived from it");
};

namespace detail {

// What one entry of an interface list contributes: the base class it adds,
// the IID it answers and the interface that answers it.
template <typename Entry> struct ComEntry {
    static_assert(std::is_base_of_v<IUnknown, Entry>, "interface lists hold COM interfaces and ComAlias entries");
    using Base = Entry;
    using Answer = Entry;
    static constexpr const IID &iid = InterfaceId<Entry>::value;
};
template <typename As, typename Via> struct ComEntry<ComAlias<As, Via>> {
    using Base = ComAlias<As, Via>;
    using Answer = Via;
    static constexpr const IID &iid = InterfaceId<As>::value;
};

template <typename First, typename...> struct FirstOf {
    using Type = First;
};

// Derives from every interface of the list and finds the one for an IID.
template <typename... Entries> class ComInterfaces : public ComEntry<Entries>::Base... {
    static_assert(sizeof...(Entries) > 0, "an object answers at least one interface");

public:
    // The interface that answers IUnknown: the first of the list.
    using Primary = typename ComEntry<typename FirstOf<Entries...>::Type>::Answer;

    IUnknown *Identity() noexcept { return static_cast<Primary *>(this); }

    // The interface for riid without a reference added, or null. IUnknown
    // is not in the table; each shape answers it itself.
    IUnknown *FindInterface(REFIID riid) noexcept
    {
        for (const Row &row : kTable) {
            if (IsEqualIID(riid, *row.iid))
                return row.cast(this);
        }
        return nullptr;
    }

protected:
    ComInterfaces() = default;
    ~ComInterfaces() = default;

private:
    struct Row {
        const IID *iid;
        IUnknown *(*cast)(ComInterfaces *);
    };
    template <typename Interface> static IUnknown *CastTo(ComInterfaces *self) noexcept
    {
        return static_cast<Interface *>(self);
    }
    static constexpr Row kTable[] = {{&ComEntry<Entries>::iid, &CastTo<typename ComEntry<Entries>::Answer>}...};
};

// Hands out found (a reference added) through ppv.
inline HRESULT Answer(IUnknown *found, void **ppv) noexcept
{
    *ppv = found;
    if (!found)
        return E_NOINTERFACE;
    found->AddRef();
    return S_OK;
}

// One reference count. When the count reaches 0 it is set far below zero, so
// references that members take and drop while the object is torn down
// cannot start a second destruction.
class ComRefCount {
public:
    explicit ComRefCount(ULONG initial) noexcept : count_(initial) {}

    ULONG Increment() noexcept { return count_.fetch_add(1, std::memory_order_relaxed) + 1; }
    // The count left; at 0 the caller destroys the object.
    ULONG Decrement() noexcept
    {
        const ULONG left = count_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0)
            count_.store(kDestroying, std::memory_order_relaxed);
        return left;
    }

private:
    static constexpr ULONG kDestroying = 0xC0000001u;
    std::atomic<ULONG> count_;
};

} // namespace detail

// A COM object with one reference count, deleted as Derived when the count
// reaches 0. A new object starts with one reference, its maker's.
template <typename Derived, typename... Entries> class ComObject : public detail::ComInterfaces<Entries...> {
public:
    ComObject(const ComObject &) = delete;
    ComObject &operator=(const ComObject &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown))
            return detail::Answer(this->Identity(), ppv);
        IUnknown *found = this->FindInterface(riid);
        return detail::Answer(found ? found : static_cast<Derived *>(this)->OtherInterface(riid), ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return refs_.Increment(); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = refs_.Decrement();
        if (left == 0)
            delete static_cast<Derived *>(this);
        return left;
    }

    // A new object, its one reference given to out.
    template <typename... Args> static HRESULT Create(CComPtr<Derived> &out, Args &&...args)
    {
        Derived *object = new (std::nothrow) Derived(std::forward<Args>(args)...);
        if (!object)
            return E_OUTOFMEMORY;
        out.Attach(object);
        return S_OK;
    }
    // A new object asked for riid; the object is gone again when that fails.
    template <typename... Args> static HRESULT CreateInterface(REFIID riid, void **ppv, Args &&...args)
    {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        CComPtr<Derived> object;
        if (HRESULT hr = Create(object, std::forward<Args>(args)...); FAILED(hr))
            return hr;
        return object->QueryInterface(riid, ppv);
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

    // What Derived answers beyond its table, for IIDs known only at run time
    // (an event sink answers the source interface it was made for). Derived
    // hides this to answer any. None by default.
    IUnknown *OtherInterface(REFIID) noexcept { return nullptr; }

    // For an object whose references change something else as well (a class
    // factory that holds a module lock while clients hold it): the count
    // without the deletion, and the deletion.
    ULONG IncrementReferences() noexcept { return refs_.Increment(); }
    ULONG DecrementReferences() noexcept { return refs_.Decrement(); }
    void Destroy() noexcept { delete static_cast<Derived *>(this); }

private:
    detail::ComRefCount refs_{1};
};

// A COM object that an outer object may aggregate. Its own IUnknown (what
// InnerUnknown returns) keeps the count and answers QueryInterface from the
// table; the IUnknown methods of its interfaces go to the controlling
// unknown: the outer object when aggregated, else that inner IUnknown. A new
// object starts with one reference on its inner IUnknown, its maker's.
template <typename Derived, typename... Entries> class ComAggregatable : public detail::ComInterfaces<Entries...> {
public:
    ComAggregatable(const ComAggregatable &) = delete;
    ComAggregatable &operator=(const ComAggregatable &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override { return controlling_->QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return controlling_->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return controlling_->Release(); }

    // The non-delegating IUnknown: the object's identity when it stands
    // alone, and what an aggregating outer object holds.
    IUnknown *InnerUnknown() noexcept { return &inner_; }

protected:
    explicit ComAggregatable(IUnknown *outer) noexcept : inner_(*this), controlling_(outer ? outer : &inner_) {}
    virtual ~ComAggregatable() = default;

    // What Derived answers beyond its table: IIDs known only at run time,
    // or an interface of another object, which is then not part of this
    // identity (Derived says why where it does so). Derived hides this to
    // answer any. None by default.
    IUnknown *OtherInterface(REFIID) noexcept { return nullptr; }

private:
    class Inner final : public IUnknown {
    public:
        explicit Inner(ComAggregatable &owner) noexcept : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
        {
            if (!ppv)
                return E_POINTER;
            if (IsEqualIID(riid, IID_IUnknown))
                return detail::Answer(this, ppv);
            return detail::Answer(owner_.Find(riid), ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return refs.Increment(); }
        STDMETHODIMP_(ULONG) Release() override
        {
            const ULONG left = refs.Decrement();
            if (left == 0)
                delete static_cast<Derived *>(&owner_);
            return left;
        }

        detail::ComRefCount refs{1};

    private:
        ComAggregatable &owner_;
    };

    IUnknown *Find(REFIID riid) noexcept
    {
        if (IUnknown *found = this->FindInterface(riid))
            return found;
        return static_cast<Derived *>(this)->OtherInterface(riid);
    }

    Inner inner_;
    IUnknown *controlling_;
};

// A COM object with an identity and a table of its own whose references are
// its owner's: holding it keeps the owner alive, and it lives as long as the
// owner does (the owner holds it as a member).
template <typename... Entries> class ComContained : public detail::ComInterfaces<Entries...> {
public:
    explicit ComContained(IUnknown &owner) noexcept : owner_(owner) {}
    ComContained(const ComContained &) = delete;
    ComContained &operator=(const ComContained &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (!ppv)
            return E_POINTER;
        return detail::Answer(IsEqualIID(riid, IID_IUnknown) ? this->Identity() : this->FindInterface(riid), ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return owner_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return owner_.Release(); }

protected:
    ~ComContained() = default;
    IUnknown &Owner() const noexcept { return owner_; }

private:
    IUnknown &owner_;
};

} // namespace orafon
