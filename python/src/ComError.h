// How a failed HRESULT reaches Python: as orafon.ComError with the code, the
// member it came from and the description of the object's IErrorInfo.
#pragma once

#include <orafon/win/windows.h>

#include <pybind11/pybind11.h>

#include <string>

namespace orafon::python {

#ifndef CO_E_OBJNOTCONNECTED
#define CO_E_OBJNOTCONNECTED _HR(0x800401FD)
#endif
#ifndef RPC_E_WRONG_THREAD
#define RPC_E_WRONG_THREAD _HR(0x8001010E)
#endif

// The exception class, set by the package when it loads.
void SetComErrorType(pybind11::object type);

// Raises ComError(hresult, member, description) as a C++ exception that
// pybind11 turns into the Python one.
[[noreturn]] void ThrowComError(HRESULT hr, const std::string &member, std::string description);

// The description the platform gives for a well-known code, for failures
// that come without an error object.
[[nodiscard]] std::string DescribeHresult(HRESULT hr);

[[nodiscard]] std::string Utf8FromWide(const char16_t *text, size_t length);
[[nodiscard]] std::u16string WideFromUtf8(const std::string &text);

} // namespace orafon::python
