// A second interface of a runtime object: its IUnknown is the object's own,
// so one reference count and one QueryInterface serve every interface.
#pragma once

#include <orafon/win/unknwn.h>

namespace orafon::wmvcore {

template <typename Outer, typename Interface> class Facet : public Interface {
public:
    explicit Facet(Outer &outer) : outer_(outer) {}
    Facet(const Facet &) = delete;
    Facet &operator=(const Facet &) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override { return outer_.QueryInterface(riid, ppv); }
    STDMETHODIMP_(ULONG) AddRef() override { return outer_.AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return outer_.Release(); }

protected:
    Outer &outer_;
};

} // namespace orafon::wmvcore
