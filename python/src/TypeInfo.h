// What the type library says about an object: its members with their
// arguments and help strings, the enumerations of its library, and the
// interface its events come through.
#pragma once

#include <orafon/win/windows.h>

#include <pybind11/pybind11.h>

#include <map>
#include <string>

namespace orafon::python {

// {"name", "doc", "iid", "members": [{"name", "dispid", "kind", "params",
// "returns", "doc"}]}, kind being "get", "put", "putref" or "method" and each
// param a (name, type, optional) tuple.
pybind11::dict DescribeInterface(ITypeInfo *info);

// [(enum name, enum doc, [(constant, value, doc)])] of the library holding info.
pybind11::list EnumsOfLibrary(ITypeInfo *info);

// The default source interface of the object's class: from IProvideClassInfo,
// else from the class in the interface's own library that implements it.
[[nodiscard]] HRESULT FindSourceInterface(IDispatch *object, ITypeInfo **source);

// DISPID to member name of an (event) interface.
std::map<DISPID, std::string> MemberNames(ITypeInfo *info);

[[nodiscard]] std::string GuidText(const GUID &guid);

} // namespace orafon::python
