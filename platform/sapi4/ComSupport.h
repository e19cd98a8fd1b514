// Reference counting and the module's count of live objects for the
// in-process server's COM objects.
#pragma once

#include <orafon/win/unknwn.h>

#include <atomic>

namespace orafon::sapi4 {

// Live objects and server locks; DllCanUnloadNow answers from them.
std::atomic<long> &LiveObjects();
std::atomic<long> &ServerLocks();

// Counts itself among the module's live objects while it exists.
class ModuleObject {
public:
    ModuleObject() { ++LiveObjects(); }
    ModuleObject(const ModuleObject &) : ModuleObject() {}
    ModuleObject &operator=(const ModuleObject &) = default;
    ~ModuleObject() { --LiveObjects(); }
};

// A thread-safe reference count that deletes its owner at zero.
class RefCount {
public:
    ULONG AddRef() { return ++count_; }
    // True when the count reached zero.
    bool Release(ULONG &after)
    {
        after = --count_;
        return after == 0;
    }

private:
    std::atomic<ULONG> count_{1};
};

#define ORAFON_IMPLEMENT_REFCOUNT(Class)                                                                               \
    STDMETHODIMP_(ULONG) AddRef() override                                                                             \
    {                                                                                                                  \
        return refs_.AddRef();                                                                                         \
    }                                                                                                                  \
    STDMETHODIMP_(ULONG) Release() override                                                                            \
    {                                                                                                                  \
        ULONG after = 0;                                                                                               \
        if (refs_.Release(after))                                                                                      \
            delete this;                                                                                               \
        return after;                                                                                                  \
    }

} // namespace orafon::sapi4
