// What the speech engines' output objects share with the bridge that made
// them. An engine keeps references to those objects and may call them on
// threads of its own, possibly after the bridge is gone (a host may drop its
// last reference while an asynchronous request is speaking), so they reach
// the bridge only through this link: the bridge detaches it first thing when
// it shuts down, and from then on every call is answered without touching it.
// Engine-thread calls hold the link's lock, which also orders them against the
// bridge's own opening and closing of the file.
#pragma once

#include <orafon/win/windows.h>

#include <mutex>
#include <optional>

namespace orafon::speech {

// Where an engine's PCM goes.
class IEngineAudioTarget {
public:
    // PCM for the file of request `serial` (0: whichever request is
    // current). True when the file took it. Called with the link's lock held.
    [[nodiscard]] virtual bool EngineAudio(ULONG serial, const void *pData, ULONG cb) noexcept = 0;

protected:
    ~IEngineAudioTarget() = default;
};

class CEngineLink {
public:
    explicit CEngineLink(IEngineAudioTarget *owner) : m_owner(owner) {}

    std::mutex &Lock() { return m_mutex; }
    // Valid while the lock is held.
    IEngineAudioTarget *Owner() const { return m_owner; }
    // Waits for an audio call in progress, then cuts the link.
    void Detach()
    {
        std::lock_guard guard(m_mutex);
        m_owner = nullptr;
    }

    // Read and written with the lock held: the PCM format of the selected
    // engine (all zero until a selection fills it), and the format the SAPI 5
    // output stream reports.
    WAVEFORMATEX engineFormat{};
    GUID streamFormatId = GUID_NULL;
    std::optional<WAVEFORMATEX> streamFormat;

private:
    std::mutex m_mutex;
    IEngineAudioTarget *m_owner;
};

} // namespace orafon::speech
