#include "ComError.h"

#include "kernel/TextCodec.h"

#include <cstdio>

namespace py = pybind11;

namespace orafon::python {

namespace {

py::object &ComErrorType()
{
    static py::object *type = new py::object(); // outlives interpreter teardown on purpose
    return *type;
}

} // namespace

void SetComErrorType(py::object type)
{
    ComErrorType() = std::move(type);
}

[[nodiscard]] std::string DescribeHresult(HRESULT hr)
{
    switch (hr) {
    case DISP_E_UNKNOWNNAME:
        return "unknown name";
    case DISP_E_MEMBERNOTFOUND:
        return "member not found";
    case DISP_E_BADPARAMCOUNT:
        return "wrong number of arguments";
    case DISP_E_TYPEMISMATCH:
        return "type mismatch";
    case DISP_E_PARAMNOTOPTIONAL:
        return "a required argument is missing";
    case DISP_E_OVERFLOW:
        return "value out of range";
    case E_INVALIDARG:
        return "invalid argument";
    case E_NOTIMPL:
        return "not implemented";
    case E_OUTOFMEMORY:
        return "out of memory";
    case E_FAIL:
        return "unspecified failure";
    case REGDB_E_CLASSNOTREG:
        return "class not registered";
    case CO_E_CLASSSTRING:
        return "invalid class string (the ProgID is not registered)";
    case CO_E_OBJNOTCONNECTED:
        return "the object was released";
    case RPC_E_WRONG_THREAD:
        return "the object belongs to another thread";
    default: {
        char text[48];
        std::snprintf(text, sizeof text, "error 0x%08X", static_cast<unsigned>(hr));
        return text;
    }
    }
}

void ThrowComError(HRESULT hr, const std::string &member, std::string description)
{
    if (description.empty())
        description = DescribeHresult(hr);
    if (!ComErrorType())
        throw std::runtime_error(member + ": " + description);
    py::object error = ComErrorType()(static_cast<long>(hr), member, description);
    PyErr_SetObject(ComErrorType().ptr(), error.ptr());
    throw py::error_already_set();
}

[[nodiscard]] std::string Utf8FromWide(const char16_t *text, size_t length)
{
    return orafon::text::ToUtf8(std::u16string_view(text, length));
}

[[nodiscard]] std::u16string WideFromUtf8(const std::string &text)
{
    return orafon::text::ToUtf16(text);
}

} // namespace orafon::python
