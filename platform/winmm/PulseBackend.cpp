#include "AudioBackend.h"

#include <cstdlib>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orafon::winmm {

namespace {

// Short server-side buffer, so that pausing and resetting take effect within
// a few tens of milliseconds, as on a sound card.
constexpr unsigned kTargetLatencyMs = 60;

class PulseBackend final : public AudioBackend {
public:
    PulseBackend(pa_simple *s, const PcmFormat &format) : s_(s), format_(format) {}
    ~PulseBackend() override { pa_simple_free(s_); }

    [[nodiscard]] bool Write(const uint8_t *data, size_t size) override
    {
        int error = 0;
        if (pa_simple_write(s_, data, size, &error) < 0)
            return false;
        written_ += size;
        return true;
    }
    // The stream simply runs dry while paused; nothing more is written.
    void Pause() override {}
    void Resume() override {}
    void Flush() override
    {
        int error = 0;
        pa_simple_flush(s_, &error);
    }
    void Drain() override
    {
        int error = 0;
        pa_simple_drain(s_, &error);
    }
    uint64_t PendingBytes() override
    {
        int error = 0;
        const pa_usec_t us = pa_simple_get_latency(s_, &error);
        if (error != 0)
            return 0;
        return us * format_.BytesPerSecond() / 1000000ull;
    }

private:
    pa_simple *s_;
    PcmFormat format_;
    uint64_t written_ = 0;
};

[[nodiscard]] bool Exists(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// Connecting where no server listens can make the client library try to
// start one and complain on stderr; look for a server socket first.
[[nodiscard]] bool ServerLikelyRunning()
{
    if (const char *server = std::getenv("PULSE_SERVER"); server && *server)
        return true;
    if (const char *runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        if (Exists(std::string(runtime) + "/pulse/native"))
            return true;
    if (Exists("/run/user/" + std::to_string(::getuid()) + "/pulse/native"))
        return true;
    return Exists("/run/pulse/native") || Exists("/var/run/pulse/native");
}

} // namespace

[[nodiscard]] std::unique_ptr<AudioBackend> OpenPulseBackend(const PcmFormat &format)
{
    if (!ServerLikelyRunning())
        return nullptr;
    pa_sample_spec spec{};
    spec.format = format.bits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    spec.rate = format.rate;
    spec.channels = static_cast<uint8_t>(format.channels);
    pa_buffer_attr attr{};
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = format.BytesPerSecond() * kTargetLatencyMs / 1000;
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    int error = 0;
    pa_simple *s =
        pa_simple_new(nullptr, "Orafon", PA_STREAM_PLAYBACK, nullptr, "speech", &spec, nullptr, &attr, &error);
    if (!s)
        return nullptr;
    return std::make_unique<PulseBackend>(s, format);
}

} // namespace orafon::winmm
