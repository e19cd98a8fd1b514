#include "Variants.h"

#include "ComError.h"
#include "DispatchObject.h"

#include <climits>

namespace py = pybind11;

namespace orafon::python {

namespace {

void IntegerToVariant(py::handle value, VARIANT &out, const std::string &what)
{
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0)
        throw py::value_error(what + ": the integer does not fit in 64 bits");
    if (n == -1 && PyErr_Occurred())
        throw py::error_already_set();
    if (n >= INT32_MIN && n <= INT32_MAX) {
        out.vt = VT_I4;
        out.lVal = static_cast<LONG>(n);
    } else {
        out.vt = VT_I8;
        out.llVal = n;
    }
}

py::object ConvertedFrom(const VARIANT &v, VARTYPE vt, const std::string &member)
{
    OwnedVariant converted;
    HRESULT hr = VariantChangeType(converted.get(), &v, 0, vt);
    if (FAILED(hr))
        ThrowComError(hr, member, "cannot convert a value of VARIANT type " + std::to_string(v.vt));
    return FromVariant(*converted.get(), member);
}

} // namespace

void ToVariant(py::handle value, VARIANT &out, const std::string &what)
{
    VariantInit(&out);
    if (value.is_none()) {
        out.vt = VT_NULL;
    } else if (PyBool_Check(value.ptr())) {
        out.vt = VT_BOOL;
        out.boolVal = value.ptr() == Py_True ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (PyLong_Check(value.ptr())) {
        IntegerToVariant(value, out, what);
    } else if (PyFloat_Check(value.ptr())) {
        out.vt = VT_R8;
        out.dblVal = PyFloat_AsDouble(value.ptr());
    } else if (PyUnicode_Check(value.ptr())) {
        std::u16string text = WideFromUtf8(value.cast<std::string>());
        out.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        if (!out.bstrVal)
            throw std::bad_alloc();
        out.vt = VT_BSTR;
    } else if (py::isinstance<DispatchObject>(value)) {
        IDispatch *object = value.cast<DispatchObject &>().Pointer(what);
        object->AddRef();
        out.vt = VT_DISPATCH;
        out.pdispVal = object;
    } else {
        throw py::type_error(what + ": cannot pass a value of type " +
                             py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>() +
                             " (int, float, bool, str, None or an automation object)");
    }
}

py::object FromVariant(const VARIANT &v, const std::string &member)
{
    if (v.vt & VT_BYREF) {
        OwnedVariant direct;
        HRESULT hr = VariantCopyInd(direct.get(), &v);
        if (FAILED(hr))
            ThrowComError(hr, member, {});
        return FromVariant(*direct.get(), member);
    }
    switch (v.vt) {
    case VT_EMPTY:
    case VT_NULL:
        return py::none();
    case VT_BOOL:
        return py::bool_(v.boolVal != VARIANT_FALSE);
    case VT_I1:
        return py::int_(static_cast<long>(v.cVal));
    case VT_UI1:
        return py::int_(static_cast<long>(v.bVal));
    case VT_I2:
        return py::int_(static_cast<long>(v.iVal));
    case VT_UI2:
        return py::int_(static_cast<long>(v.uiVal));
    case VT_I4:
    case VT_INT:
        return py::int_(static_cast<long>(v.lVal));
    case VT_UI4:
    case VT_UINT:
        return py::int_(static_cast<unsigned long>(v.ulVal));
    case VT_I8:
        return py::int_(static_cast<long long>(v.llVal));
    case VT_UI8:
        return py::int_(static_cast<unsigned long long>(v.ullVal));
    case VT_R4:
        return py::float_(v.fltVal);
    case VT_R8:
        return py::float_(v.dblVal);
    case VT_CY:
    case VT_DATE:
    case VT_DECIMAL:
        return ConvertedFrom(v, VT_R8, member);
    case VT_BSTR:
        return py::str(Utf8FromWide(v.bstrVal ? v.bstrVal : u"", v.bstrVal ? SysStringLen(v.bstrVal) : 0));
    case VT_ERROR:
        ThrowComError(v.scode, member, {});
    case VT_DISPATCH:
        if (!v.pdispVal)
            return py::none();
        return py::cast(DispatchObject(v.pdispVal));
    case VT_UNKNOWN: {
        if (!v.punkVal)
            return py::none();
        CComPtr<IDispatch> dispatch;
        if (SUCCEEDED(v.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&dispatch))))
            return py::cast(DispatchObject(dispatch));
        break;
    }
    default:
        break;
    }
    throw py::type_error(member + ": returned a VARIANT of type " + std::to_string(v.vt) +
                         ", which has no Python equivalent here");
}

} // namespace orafon::python
