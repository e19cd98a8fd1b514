// Connection points of CTextToSpeech: the sink bookkeeping (SinkSlots and
// cookies), IConnectionPoint and the two enumerators.
#pragma once

#include <orafon/ComObject.h>
#include <orafon/win/windows.h>

#include <memory>
#include <vector>

namespace orafon {

// One advised sink and its cookie.
struct AdvisedSink {
    DWORD cookie;
    CComPtr<IUnknown> sink;
};

// A growable array of sink slots, each holding one reference. Empty: size 0;
// one sink: size 1; a second sink makes 4 slots (the first stays in slot 0);
// a full array doubles. A cookie is slot index + 1 and the lowest empty slot
// is reused. Removing the only sink of a size-1 array returns it to size 0.
class CSinkSlots {
public:
    // Stores sink (a reference is added) in the lowest empty slot, growing
    // the array when every slot is taken. CONNECT_E_ADVISELIMIT when the
    // array cannot grow.
    [[nodiscard]] HRESULT Add(IUnknown *sink, DWORD *pdwCookie);
    // Empties the slot named by cookie; the removed reference is handed to the
    // caller so that it is released only after the slots are consistent.
    // CONNECT_E_NOCONNECTION for a cookie that names no sink.
    [[nodiscard]] HRESULT Remove(DWORD cookie, CComPtr<IUnknown> &removed);
    // The sink in the slot named by cookie, or null.
    IUnknown *Find(DWORD cookie) const noexcept;
    // The occupied slots in slot order, each with a reference added.
    std::vector<AdvisedSink> Snapshot() const;
    // Releases every sink, then the slot array.
    void ReleaseAll() noexcept;

    size_t SlotCount() const noexcept { return m_slots.size(); }

private:
    std::vector<CComPtr<IUnknown>> m_slots;
};

// A connection point for one outgoing interface: an object of its own that
// shares the reference count of the container that owns it, so a client
// holding the point keeps the object alive.
class CConnectionPoint final : public ComContained<IConnectionPoint> {
public:
    CConnectionPoint(IConnectionPointContainer *container, REFIID iid) noexcept
        : ComContained(*container), m_container(container), m_iid(iid)
    {
    }

    STDMETHODIMP GetConnectionInterface(IID *pIID) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer **ppCPC) override;
    STDMETHODIMP Advise(IUnknown *pUnkSink, DWORD *pdwCookie) override;
    STDMETHODIMP Unadvise(DWORD dwCookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections **ppEnum) override;

    REFIID Iid() const noexcept { return m_iid; }
    CSinkSlots &Slots() noexcept { return m_slots; }
    const CSinkSlots &Slots() const noexcept { return m_slots; }

private:
    IConnectionPointContainer *m_container;
    const IID m_iid;
    CSinkSlots m_slots;
};

// Makes an IEnumConnections over a copy of the given connections.
[[nodiscard]] HRESULT CreateConnectionEnumerator(std::vector<AdvisedSink> connections, IEnumConnections **ppEnum);
// Makes an IEnumConnectionPoints over the given points, in the order given.
[[nodiscard]] HRESULT CreateConnectionPointEnumerator(std::vector<CComPtr<IConnectionPoint>> points,
                                                      IEnumConnectionPoints **ppEnum);

} // namespace orafon
