#include "ComError.h"

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

std::string DescribeHresult(HRESULT hr)
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

std::string Utf8FromWide(const char16_t *text, size_t length)
{
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string WideFromUtf8(const std::string &text)
{
    // Python hands over valid UTF-8 (str.encode), so only the decoding is needed.
    std::u16string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        char32_t c;
        int extra;
        if (b < 0x80) {
            c = b;
            extra = 0;
        } else if ((b >> 5) == 6) {
            c = b & 0x1F;
            extra = 1;
        } else if ((b >> 4) == 14) {
            c = b & 0x0F;
            extra = 2;
        } else {
            c = b & 0x07;
            extra = 3;
        }
        ++i;
        for (int k = 0; k < extra && i < text.size(); ++k, ++i)
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

} // namespace orafon::python
