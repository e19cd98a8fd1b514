// Apartments (per-thread initialisation counts) and task memory.
#include "Apartment.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/win/objbase.h>

#include <atomic>
#include <cstdlib>

namespace orafon::com {
namespace {

enum class Model { None, SingleThreaded, MultiThreaded };

// Threads in the multithreaded apartment. While there is one, threads that
// never initialised COM belong to it implicitly, as on Windows.
std::atomic<int> g_mtaThreads{0};

struct ThreadApartment {
    ULONG count = 0;
    Model model = Model::None;
    // A thread that ends without balancing its CoInitialize calls still
    // leaves the multithreaded apartment.
    ~ThreadApartment()
    {
        if (count > 0 && model == Model::MultiThreaded)
            g_mtaThreads.fetch_sub(1);
    }
};

thread_local ThreadApartment t_apartment;

} // namespace

[[nodiscard]] bool IsInitialized()
{
    return t_apartment.count > 0 || g_mtaThreads.load() > 0;
}

} // namespace orafon::com

using orafon::com::g_mtaThreads;
using orafon::com::Model;
using orafon::com::t_apartment;

STDAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit)
{
    constexpr DWORD known = COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE | COINIT_SPEED_OVER_MEMORY;
    if (pvReserved || (dwCoInit & ~known) != 0)
        return E_INVALIDARG;
    const Model model = (dwCoInit & COINIT_APARTMENTTHREADED) ? Model::SingleThreaded : Model::MultiThreaded;
    if (t_apartment.count > 0) {
        if (t_apartment.model != model)
            return RPC_E_CHANGED_MODE;
        ++t_apartment.count;
        return S_FALSE;
    }
    t_apartment.count = 1;
    t_apartment.model = model;
    if (model == Model::MultiThreaded)
        g_mtaThreads.fetch_add(1);
    return S_OK;
}

STDAPI CoInitialize(LPVOID pvReserved)
{
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

STDAPI_(void) CoUninitialize(void)
{
    if (t_apartment.count == 0)
        return;
    if (--t_apartment.count > 0)
        return;
    // Class objects this thread registered leave with its apartment; short
    // of memory to list them, they stay registered (and referenced).
    static_cast<void>(orafon::CatchAtEdge([] { orafon::com::RevokeThreadRegistrations(); }));
    if (t_apartment.model == Model::MultiThreaded)
        g_mtaThreads.fetch_sub(1);
    t_apartment.model = Model::None;
}

STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb)
{
    // A zero-byte request still gives a distinct pointer, as on Windows.
    return std::malloc(cb ? cb : 1);
}

STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb)
{
    if (pv && cb == 0) {
        std::free(pv);
        return nullptr;
    }
    return std::realloc(pv, cb ? cb : 1);
}

STDAPI_(void) CoTaskMemFree(LPVOID pv)
{
    std::free(pv);
}
