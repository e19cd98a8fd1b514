// The default audio device as the voice uses it: buffers go to the wave
// device a little ahead of playback, so pause and purge act at once, and the
// played position tells when each event is heard.
#pragma once

#include <orafon/win/mmsystem.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace orafon::sapi5 {

class DeviceOutput {
public:
    ~DeviceOutput() { Close(); }

    [[nodiscard]] HRESULT Open(const WAVEFORMATEX &format);
    bool IsOpen() const { return handle_ != nullptr; }
    const WAVEFORMATEX &Format() const { return format_; }
    void Close();

    // Queues the bytes once the device is less than the lead ahead; while
    // waiting, calls tick and gives up when stop() says so.
    void Write(const std::vector<uint8_t> &bytes, const std::function<bool()> &stop, const std::function<void()> &tick);
    // Waits until all written audio has been heard (or stop()).
    void Drain(const std::function<bool()> &stop, const std::function<void()> &tick);
    // Stops playback at once and forgets the queued audio (owner thread).
    void Reset();
    // Stops playback at once; safe from any thread while the device is open.
    void Interrupt()
    {
        if (handle_)
            waveOutReset(handle_);
    }
    void SetPaused(bool paused);

    uint64_t Written() const { return written_; }
    uint64_t Played() const;

private:
    struct Buffer {
        std::vector<uint8_t> data;
        WAVEHDR header{};
    };
    static void CALLBACK OnDone(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR);
    void ReapDone();

    HWAVEOUT handle_ = nullptr;
    WAVEFORMATEX format_{};
    std::deque<std::unique_ptr<Buffer>> buffers_;
    uint64_t written_ = 0;
    std::mutex mutex_;
    std::condition_variable done_;
    size_t inFlight_ = 0;
};

} // namespace orafon::sapi5
