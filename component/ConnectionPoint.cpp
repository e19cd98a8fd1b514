#include "ConnectionPoint.h"

#include <orafon/CatchAtEdge.h>

#include <utility>

namespace orafon {

// ---- CSinkSlots -----------------------------------------------------------

namespace {

constexpr size_t kFirstArraySize = 4;
// Cookies are 32-bit and slot index + 1, so the array never outgrows them.
constexpr size_t kMaxSlots = size_t{1} << 30;

DWORD CookieOf(size_t slot)
{
    return static_cast<DWORD>(slot + 1);
}

} // namespace

HRESULT CSinkSlots::Add(IUnknown *sink, DWORD *pdwCookie)
{
    size_t slot = 0;
    while (slot < m_slots.size() && m_slots[slot])
        ++slot;
    if (slot == m_slots.size()) {
        const size_t grown = m_slots.empty() ? 1 : m_slots.size() == 1 ? kFirstArraySize : m_slots.size() * 2;
        if (grown > kMaxSlots)
            return CONNECT_E_ADVISELIMIT;
        // An array that cannot grow holds no more sinks, whatever the reason.
        if (FAILED(CatchAtEdge([&] { m_slots.resize(grown); })))
            return CONNECT_E_ADVISELIMIT;
    }
    m_slots[slot] = sink;
    *pdwCookie = CookieOf(slot);
    return S_OK;
}

HRESULT CSinkSlots::Remove(DWORD cookie, CComPtr<IUnknown> &removed)
{
    if (cookie == 0 || cookie > m_slots.size() || !m_slots[cookie - 1])
        return CONNECT_E_NOCONNECTION;
    removed = std::move(m_slots[cookie - 1]);
    if (m_slots.size() == 1)
        m_slots.clear();
    return S_OK;
}

IUnknown *CSinkSlots::Find(DWORD cookie) const noexcept
{
    if (cookie == 0 || cookie > m_slots.size())
        return nullptr;
    return m_slots[cookie - 1].get();
}

std::vector<AdvisedSink> CSinkSlots::Snapshot() const
{
    std::vector<AdvisedSink> occupied;
    for (size_t slot = 0; slot < m_slots.size(); ++slot) {
        if (m_slots[slot])
            occupied.push_back({CookieOf(slot), m_slots[slot]});
    }
    return occupied;
}

void CSinkSlots::ReleaseAll() noexcept
{
    // Detach the array first: a sink's Release may call back into this point.
    std::vector<CComPtr<IUnknown>> released;
    released.swap(m_slots);
    for (CComPtr<IUnknown> &sink : released)
        sink.Release();
}

// ---- CConnectionPoint -----------------------------------------------------

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID *pIID)
{
    if (!pIID)
        return E_POINTER;
    *pIID = m_iid;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer **ppCPC)
{
    if (!ppCPC)
        return E_POINTER;
    *ppCPC = m_container;
    m_container->AddRef();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown *pUnkSink, DWORD *pdwCookie)
{
    if (pdwCookie)
        *pdwCookie = 0;
    if (!pUnkSink || !pdwCookie)
        return E_POINTER;
    void *pv = nullptr;
    HRESULT hr = pUnkSink->QueryInterface(m_iid, &pv);
    if (hr == E_NOINTERFACE)
        return CONNECT_E_CANNOTCONNECT;
    if (FAILED(hr))
        return hr;
    if (!pv)
        return CONNECT_E_CANNOTCONNECT;
    // Adopt the reference QueryInterface added; the slot keeps its own.
    CComPtr<IUnknown> sink;
    sink.Attach(static_cast<IUnknown *>(pv));
    return m_slots.Add(sink, pdwCookie);
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD dwCookie)
{
    CComPtr<IUnknown> removed;
    return m_slots.Remove(dwCookie, removed);
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections **ppEnum)
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    return CatchAtEdge([&] { return CreateConnectionEnumerator(m_slots.Snapshot(), ppEnum); });
}

// ---- Enumerators ----------------------------------------------------------

namespace {

// Hands out entries of a shared, immutable list; clones share the list and
// copy the position.
template <typename Interface, typename Stored, typename Item, void (*CopyOut)(const Stored &, Item *)>
class CEnumOnList final : public ComObject<CEnumOnList<Interface, Stored, Item, CopyOut>, Interface> {
public:
    using List = std::vector<Stored>;

    CEnumOnList(std::shared_ptr<const List> items, size_t position) noexcept
        : m_items(std::move(items)), m_position(position)
    {
    }

    STDMETHODIMP Next(ULONG count, Item *items, ULONG *pFetched) override
    {
        if (pFetched)
            *pFetched = 0;
        if (!items || (count != 1 && !pFetched))
            return E_POINTER;
        ULONG fetched = 0;
        while (fetched < count && m_position < m_items->size())
            CopyOut((*m_items)[m_position++], &items[fetched++]);
        if (pFetched)
            *pFetched = fetched;
        return fetched == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override
    {
        const size_t left = m_items->size() - m_position;
        if (count > left) {
            m_position = m_items->size();
            return S_FALSE;
        }
        m_position += count;
        return S_OK;
    }
    STDMETHODIMP Reset() override
    {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface **ppEnum) override
    {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = nullptr;
        CComPtr<CEnumOnList> clone;
        if (HRESULT hr = this->Create(clone, m_items, m_position); FAILED(hr))
            return hr;
        *ppEnum = clone.Detach();
        return S_OK;
    }

    // An enumerator over items, from the start.
    [[nodiscard]] static HRESULT MakeOver(List items, Interface **ppEnum)
    {
        if (!ppEnum)
            return E_POINTER;
        *ppEnum = nullptr;
        return CatchAtEdge([&] {
            CComPtr<CEnumOnList> enumerator;
            if (HRESULT hr = CEnumOnList::Create(enumerator, std::make_shared<const List>(std::move(items)), size_t{0});
                FAILED(hr))
                return hr;
            *ppEnum = enumerator.Detach();
            return S_OK;
        });
    }

private:
    std::shared_ptr<const List> m_items;
    size_t m_position;
};

void CopyConnection(const AdvisedSink &from, CONNECTDATA *to)
{
    to->pUnk = from.sink.get();
    if (to->pUnk)
        to->pUnk->AddRef();
    to->dwCookie = from.cookie;
}

void CopyPoint(const CComPtr<IConnectionPoint> &from, IConnectionPoint **to)
{
    *to = from.get();
    if (*to)
        (*to)->AddRef();
}

using CEnumConnections = CEnumOnList<IEnumConnections, AdvisedSink, CONNECTDATA, &CopyConnection>;
using CEnumConnectionPoints =
    CEnumOnList<IEnumConnectionPoints, CComPtr<IConnectionPoint>, IConnectionPoint *, &CopyPoint>;

} // namespace

HRESULT CreateConnectionEnumerator(std::vector<AdvisedSink> connections, IEnumConnections **ppEnum)
{
    return CEnumConnections::MakeOver(std::move(connections), ppEnum);
}

HRESULT CreateConnectionPointEnumerator(std::vector<CComPtr<IConnectionPoint>> points, IEnumConnectionPoints **ppEnum)
{
    return CEnumConnectionPoints::MakeOver(std::move(points), ppEnum);
}

} // namespace orafon
