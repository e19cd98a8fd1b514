// The IDispatch an object's events arrive at: each event becomes a call of
// the handler's method of the same name, on the thread that created the
// object, with the arguments converted. A handler that raises is reported
// through sys.unraisablehook; nothing of it crosses back into the object.
#pragma once

#include <orafon/ComObject.h>
#include <orafon/win/windows.h>

#include <pybind11/pybind11.h>

#include <atomic>
#include <map>
#include <string>

namespace orafon::python {

class EventSink final : public orafon::ComObject<EventSink, IDispatch> {
public:
    EventSink(const IID &source, std::map<DISPID, std::string> names, pybind11::object handlerRef);
    ~EventSink() override;

    // The source interface the sink was made for, which it answers as its
    // IDispatch (a dispinterface has IDispatch's function table).
    IUnknown *OtherInterface(REFIID riid) noexcept;
    STDMETHODIMP GetTypeInfoCount(UINT *count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo **info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *result, EXCEPINFO *,
                        UINT *) override;

private:
    void Dispatch(DISPID id, DISPPARAMS *params);
    void CallHandler(const std::string &name, DISPPARAMS *params);

    IID source_;
    std::map<DISPID, std::string> names_;
    pybind11::object *handlerRef_; // released with the GIL held
};

} // namespace orafon::python
