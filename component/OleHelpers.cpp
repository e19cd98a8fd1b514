#include "OleHelpers.h"

#include <climits>

namespace orafon {

[[nodiscard]] HRESULT AnsiToBstr(const std::string &text, BSTR *pOut)
{
    *pOut = nullptr;
    if (text.size() > static_cast<size_t>(INT_MAX))
        return E_OUTOFMEMORY;
    const int length = static_cast<int>(text.size());
    int wide = 0;
    SetLastError(ERROR_SUCCESS);
    if (length > 0) {
        wide = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
        if (wide <= 0)
            return ConversionFailure(E_FAIL);
    }
    CBstr result(SysAllocStringLen(nullptr, static_cast<UINT>(wide)));
    if (!result.Get())
        return E_OUTOFMEMORY;
    if (wide > 0 && MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.Get(), wide) != wide)
        return ConversionFailure(E_FAIL);
    *pOut = result.Detach();
    return S_OK;
}

HRESULT ConversionFailure(HRESULT otherwise) noexcept
{
    const DWORD error = GetLastError();
    return error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ? E_OUTOFMEMORY : otherwise;
}

} // namespace orafon
