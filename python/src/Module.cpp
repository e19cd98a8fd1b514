// The native half of the orafon package: automation objects reached by name
// through IDispatch, their type information, events and the message queue.
// The package (orafon/__init__.py) builds the Python classes on top.
#include "ComError.h"
#include "DispatchObject.h"
#include "MessagePump.h"

#include <orafon/win/windows.h>

#include <pybind11/pybind11.h>

namespace py = pybind11;
using namespace orafon::python;

namespace {

// What regsvr32 does: loads the module and calls its registration entry.
void CallRegistrationEntry(const std::string &path, const char *entry)
{
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module)
        ThrowComError(CO_E_DLLNOTFOUND, path, "cannot load the module " + path);
    auto function = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, entry));
    HRESULT hr = function ? function() : CO_E_ERRORINDLL;
    FreeLibrary(module);
    if (FAILED(hr))
        ThrowComError(hr, path, std::string(entry) + " failed: " + DescribeHresult(hr));
}

} // namespace

PYBIND11_MODULE(_orafon, m)
{
    m.doc() = "Native part of the orafon package.";
    RecordMainThread();

    m.attr("DISPATCH_METHOD") = DISPATCH_METHOD;
    m.attr("DISPATCH_PROPERTYGET") = DISPATCH_PROPERTYGET;
    m.attr("DISPATCH_PROPERTYPUT") = DISPATCH_PROPERTYPUT;
    m.attr("DISPATCH_PROPERTYPUTREF") = DISPATCH_PROPERTYPUTREF;
    m.attr("DISPID_UNKNOWN") = DISPID_UNKNOWN;

    py::class_<DispatchObject>(m, "Object", "An IDispatch reference.")
        .def("id_of", &DispatchObject::IdOf, py::arg("name"))
        .def("invoke", &DispatchObject::Invoke, py::arg("dispid"), py::arg("flags"), py::arg("args"), py::arg("member"))
        .def("describe", &DispatchObject::Describe)
        .def("describe_events", &DispatchObject::DescribeEvents)
        .def("enums", &DispatchObject::Enums)
        .def("advise", &DispatchObject::Advise, py::arg("handler_ref"))
        .def("set_interrupt_member", &DispatchObject::SetInterruptMember, py::arg("dispid"))
        .def("release", &DispatchObject::Release)
        .def_property_readonly("released", &DispatchObject::Released)
        .def("same_object", &DispatchObject::SameObject);

    m.def("create", &DispatchObject::Create, py::arg("progid"));
    m.def("pump_until", &PumpUntil, py::arg("pred"), py::arg("timeout") = py::none());
    m.def("set_error_type", &SetComErrorType);
    m.def(
        "register_server", [](const std::string &path) { CallRegistrationEntry(path, "DllRegisterServer"); },
        py::arg("path"));
    m.def(
        "unregister_server", [](const std::string &path) { CallRegistrationEntry(path, "DllUnregisterServer"); },
        py::arg("path"));
}
