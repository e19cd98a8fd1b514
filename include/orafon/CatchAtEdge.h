// The one place a C++ exception is turned into an HRESULT. Every COM method
// and C entry point whose body can throw runs it through CatchAtEdge, so no
// exception crosses an interface: running out of memory answers
// E_OUTOFMEMORY, anything else E_UNEXPECTED.
#pragma once

#include <orafon/win/wintypes.h>

#include <new>
#include <type_traits>
#include <utility>

namespace orafon {

// Runs |body| and answers its HRESULT (S_OK for a body returning nothing).
template <typename Body> [[nodiscard]] HRESULT CatchAtEdge(Body &&body) noexcept
{
    try {
        if constexpr (std::is_void_v<std::invoke_result_t<Body>>) {
            std::forward<Body>(body)();
            return S_OK;
        } else {
            return std::forward<Body>(body)();
        }
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// The same for an entry point whose failures are not HRESULTs (a registry
// status, an MMRESULT, a null handle): runs |body| and answers its result,
// |outOfMemory| when it runs out of memory, |unexpected| for anything else
// it throws.
template <typename Result, typename Body>
[[nodiscard]] Result CatchAtEdgeOr(Result outOfMemory, Result unexpected, Body &&body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc &) {
        return outOfMemory;
    } catch (...) {
        return unexpected;
    }
}

} // namespace orafon
