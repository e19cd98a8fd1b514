#include "AnsiText.h"

namespace orafon::speech {

bool ToAnsi(const OLECHAR *text, std::string &out)
{
    out.clear();
    if (!text || !*text)
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

} // namespace orafon::speech
