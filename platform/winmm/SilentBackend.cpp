#include "AudioBackend.h"

#include <chrono>
#include <thread>

namespace orafon::winmm {

namespace {

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A device with no output: it consumes audio as fast as a sound card would.
class SilentBackend final : public AudioBackend {
public:
    SilentBackend(const PcmFormat &format, bool paced) : pacer_(format), paced_(paced) {}

    [[nodiscard]] bool Write(const uint8_t *, size_t size) override
    {
        if (paced_)
            pacer_.Consume(size);
        return true;
    }
    void Pause() override {}
    void Resume() override { pacer_.Restart(); }
    void Flush() override { pacer_.Restart(); }
    void Drain() override {}
    uint64_t PendingBytes() override { return 0; }

private:
    PlaybackPacer pacer_;
    bool paced_;
};

} // namespace

void PlaybackPacer::Consume(size_t size)
{
    if (!started_)
        Restart();
    bytes_ += size;
    const unsigned bps = format_.BytesPerSecond();
    if (bps == 0)
        return;
    const int64_t due = anchorNs_ + static_cast<int64_t>(bytes_ * 1000000000ull / bps);
    const int64_t wait = due - NowNs();
    if (wait > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(wait));
}

void PlaybackPacer::Restart()
{
    started_ = true;
    anchorNs_ = NowNs();
    bytes_ = 0;
}

[[nodiscard]] std::unique_ptr<AudioBackend> OpenSilentBackend(const PcmFormat &format, bool paced)
{
    return std::make_unique<SilentBackend>(format, paced);
}

} // namespace orafon::winmm
