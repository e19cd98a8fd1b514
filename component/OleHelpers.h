// Conversions between UTF-16 strings and the 8-bit text of the calling
// thread's ANSI code page. The BSTR and VARIANT holders are in <orafon/Holders.h>.
#pragma once

#include <orafon/Holders.h>
#include <orafon/win/windows.h>

#include <string>

namespace orafon {

// UTF-16 → 8-bit text in the calling thread's ANSI code page. Returns false
// when the text cannot be converted.
bool WideToAnsi(const OLECHAR *text, std::string &out);

// 8-bit text in the calling thread's ANSI code page → a new BSTR in *pOut.
// E_OUTOFMEMORY when the string cannot be allocated.
HRESULT AnsiToBstr(const std::string &text, BSTR *pOut);

} // namespace orafon
