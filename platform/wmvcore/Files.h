// File names and system errors as the runtime reports them.
#pragma once

#include <orafon/win/wintypes.h>

#include <string>

namespace orafon::wmvcore {

// UTF-16 to UTF-8; false for an unpaired surrogate or an embedded NUL.
[[nodiscard]] bool ToUtf8(const WCHAR *text, std::string &out);
// An errno value as an HRESULT: E_ACCESSDENIED, the Win32 disk-full and
// path codes, E_OUTOFMEMORY, or E_FAIL.
[[nodiscard]] HRESULT ErrnoToHresult(int error);

} // namespace orafon::wmvcore
