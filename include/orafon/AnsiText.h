// The 8-bit text of names and paths the platform hands to C libraries and
// the file system: the calling thread's ANSI code page.
#pragma once

#include <orafon/win/windows.h>

#include <string>

namespace orafon {

// UTF-16 up to its first NUL to 8-bit text in the calling thread's ANSI code
// page. False when it cannot be converted, and for a null text: a caller
// that takes null for empty says so itself.
[[nodiscard]] inline bool WideToAnsi(const OLECHAR *text, std::string &out)
{
    out.clear();
    if (!text)
        return false;
    if (!*text)
        return true;
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return false;
    std::string buffer(static_cast<size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), needed, nullptr, nullptr);
    if (written <= 0)
        return false;
    buffer.resize(static_cast<size_t>(written - 1)); // the count includes the NUL
    out = std::move(buffer);
    return true;
}

} // namespace orafon
