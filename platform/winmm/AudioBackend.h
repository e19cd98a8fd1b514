// Where the wave device's PCM goes: the sound server, the sound card, a WAV
// file, or nowhere at the pace of a real device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace orafon::winmm {

struct PcmFormat {
    unsigned rate = 0;
    unsigned channels = 0;
    unsigned bits = 0;

    unsigned BlockAlign() const { return channels * bits / 8; }
    unsigned BytesPerSecond() const { return rate * BlockAlign(); }
};

// All calls come from the one device thread that owns the backend, so
// implementations need no locks of their own.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;
    // Blocks until the output has room for the bytes; false when the output failed.
    [[nodiscard]] virtual bool Write(const uint8_t *data, size_t size) = 0;
    // Playback stops taking data until Resume.
    virtual void Pause() = 0;
    virtual void Resume() = 0;
    // Drops whatever was written but not yet heard.
    virtual void Flush() = 0;
    // Waits until everything written has been heard.
    virtual void Drain() = 0;
    // Bytes written but not yet heard.
    virtual uint64_t PendingBytes() = 0;
};

// Keeps a writer to the pace of real playback: each Write returns when the
// bytes written so far would have finished playing.
class PlaybackPacer {
public:
    explicit PlaybackPacer(const PcmFormat &format) : format_(format) {}
    void Consume(size_t size);
    // Playback restarts from now (after a pause or a flush).
    void Restart();

private:
    PcmFormat format_;
    bool started_ = false;
    int64_t anchorNs_ = 0;
    uint64_t bytes_ = 0;
};

[[nodiscard]] std::unique_ptr<AudioBackend> OpenPulseBackend(const PcmFormat &format);
// Without anyDefault, only a machine with a sound card is worth the try;
// with it, whatever the ALSA configuration calls "default" is used.
[[nodiscard]] std::unique_ptr<AudioBackend> OpenAlsaBackend(const PcmFormat &format, bool anyDefault);
std::unique_ptr<AudioBackend> OpenSilentBackend(const PcmFormat &format, bool paced);
[[nodiscard]] std::unique_ptr<AudioBackend> OpenCaptureBackend(const PcmFormat &format, const std::string &path,
                                                               bool paced);

// Chooses the output from the environment and what the machine has; never
// prints anything and never fails (the silent device is always there).
[[nodiscard]] std::unique_ptr<AudioBackend> OpenDefaultBackend(const PcmFormat &format);

// The name of the output OpenDefaultBackend would use now, found the same
// way; empty when nothing would be heard but the silent stand-in. Opens
// nothing that would change (a capture file is not truncated).
std::string DefaultOutputName();

} // namespace orafon::winmm
