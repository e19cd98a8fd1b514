// CatchAtEdge for the functions that fail with a value and say why through
// the thread's last error (the kernel's and the window manager's).
#pragma once

#include <orafon/CatchAtEdge.h>
#include <orafon/win/winbase.h>

namespace orafon {

// Runs |body| and answers its result; when it throws, answers |failed| with
// ERROR_NOT_ENOUGH_MEMORY (running out of memory) or ERROR_INTERNAL_ERROR as
// the last error.
template <typename Result, typename Body> [[nodiscard]] Result AtLastErrorEdge(Result failed, Body &&body) noexcept
{
    Result result = failed;
    const HRESULT hr = CatchAtEdge([&] { result = body(); });
    if (SUCCEEDED(hr))
        return result;
    SetLastError(hr == E_OUTOFMEMORY ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INTERNAL_ERROR);
    return failed;
}

} // namespace orafon
