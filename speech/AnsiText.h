// The bridge's 8-bit texts (voice names, file names) are in the calling
// thread's ANSI code page.
#pragma once

#include <orafon/win/windows.h>

#include <string>

namespace orafon::speech {

// UTF-16 up to its first NUL to 8-bit text; false when it cannot be
// converted. A null text converts to an empty one.
[[nodiscard]] bool ToAnsi(const OLECHAR *text, std::string &out);

} // namespace orafon::speech
