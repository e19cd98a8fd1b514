#include "OleHelpers.h"

#include <climits>

namespace orafon {

bool WideToAnsi(const OLECHAR *text, std::string &out)
{
    out.clear();
    if (!text || !*text)
        return text != nullptr;
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return false;
    std::string buffer(static_cast<size_t>(needed), '\0');
    const int written = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), needed, nullptr, nullptr);
    if (written <= 0)
        return false;
    // The count includes the terminating NUL.
    buffer.resize(static_cast<size_t>(written - 1));
    out = std::move(buffer);
    return true;
}

HRESULT AnsiToBstr(const std::string &text, BSTR *pOut)
{
    *pOut = nullptr;
    if (text.size() > static_cast<size_t>(INT_MAX))
        return E_OUTOFMEMORY;
    const int length = static_cast<int>(text.size());
    int wide = 0;
    if (length > 0) {
        wide = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
        if (wide <= 0)
            return E_FAIL;
    }
    CBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(wide)));
    if (!result.Get())
        return E_OUTOFMEMORY;
    if (wide > 0 && MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.Get(), wide) != wide)
        return E_FAIL;
    *pOut = result.Detach();
    return S_OK;
}

} // namespace orafon
