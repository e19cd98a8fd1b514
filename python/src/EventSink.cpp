#include "EventSink.h"

#include "MessagePump.h"
#include "Variants.h"

#include <orafon/CatchAtEdge.h>

namespace py = pybind11;

namespace orafon::python {

EventSink::EventSink(const IID &source, std::map<DISPID, std::string> names, py::object handlerRef)
    : source_(source), names_(std::move(names)), handlerRef_(new py::object(std::move(handlerRef)))
{
}

EventSink::~EventSink()
{
    if (Py_IsInitialized()) {
        py::gil_scoped_acquire locked;
        delete handlerRef_;
    }
    // After interpreter teardown the reference is left to the process' end.
}

IUnknown *EventSink::OtherInterface(REFIID riid) noexcept
{
    return riid == source_ ? static_cast<IDispatch *>(this) : nullptr;
}

STDMETHODIMP EventSink::GetTypeInfoCount(UINT *count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP EventSink::GetTypeInfo(UINT, LCID, ITypeInfo **info)
{
    if (info)
        *info = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP EventSink::GetIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *)
{
    return DISP_E_UNKNOWNNAME;
}

void EventSink::CallHandler(const std::string &name, DISPPARAMS *params)
{
    py::object handler = (*handlerRef_)();
    if (handler.is_none())
        return;
    py::object method = py::getattr(handler, name.c_str(), py::none());
    if (method.is_none())
        return;
    py::tuple args(params ? params->cArgs : 0);
    for (UINT i = 0; params && i < params->cArgs; ++i)
        args[i] = FromVariant(params->rgvarg[params->cArgs - 1 - i], name);
    method(*args);
}

STDMETHODIMP EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS *params, VARIANT *result, EXCEPINFO *, UINT *)
{
    if (result)
        VariantInit(result);
    // A handler's Python exception is reported below; nothing else thrown
    // (running out of memory while reporting) goes back into the object.
    return orafon::CatchAtEdge([&] { Dispatch(id, params); });
}

void EventSink::Dispatch(DISPID id, DISPPARAMS *params)
{
    auto found = names_.find(id);
    if (found == names_.end())
        return; // an event this handler was not told of
    if (!Py_IsInitialized())
        return;
    py::gil_scoped_acquire locked;
    try {
        CallHandler(found->second, params);
    } catch (py::error_already_set &error) {
        if (error.matches(PyExc_KeyboardInterrupt))
            NoteHandlerInterrupt();
        else
            error.discard_as_unraisable(("orafon: event handler " + found->second).c_str());
    } catch (std::exception &error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        py::error_already_set wrapped;
        wrapped.discard_as_unraisable(("orafon: event handler " + found->second).c_str());
    }
}

} // namespace orafon::python
