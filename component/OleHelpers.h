// 8-bit text of the calling thread's ANSI code page to UTF-16 (the other
// way is <orafon/AnsiText.h>). The BSTR and VARIANT holders are in <orafon/Holders.h>.
#pragma once

#include <orafon/Holders.h>
#include <orafon/win/windows.h>

#include <string>

namespace orafon {

// 8-bit text in the calling thread's ANSI code page → a new BSTR in *pOut.
// E_OUTOFMEMORY when the string cannot be allocated.
[[nodiscard]] HRESULT AnsiToBstr(const std::string &text, BSTR *pOut);

// What a text conversion that just failed answers: E_OUTOFMEMORY when the
// platform ran out of memory (the thread's last error says so), else
// |otherwise|. The caller clears the last error before converting.
[[nodiscard]] HRESULT ConversionFailure(HRESULT otherwise) noexcept;

} // namespace orafon
