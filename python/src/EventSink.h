// The IDispatch an object's events arrive at: each event becomes a call of
// the handler's method of the same name, on the thread that created the
// object, with the arguments converted. A handler that raises is reported
// through sys.unraisablehook; nothing of it crosses back into the object.
#pragma once

#include <orafon/win/windows.h>

#include <pybind11/pybind11.h>

#include <atomic>
#include <map>
#include <string>

namespace orafon::python {

class EventSink final : public IDispatch {
public:
    EventSink(const IID &source, std::map<DISPID, std::string> names, pybind11::object handlerRef);

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT *count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *result, EXCEPINFO *,
                        UINT *) override;

private:
    ~EventSink();
    void CallHandler(const std::string &name, DISPPARAMS *params);

    std::atomic<ULONG> refs_{1};
    IID source_;
    std::map<DISPID, std::string> names_;
    pybind11::object *handlerRef_; // released with the GIL held
};

} // namespace orafon::python
