#include "AudioBackend.h"

#include <alsa/asoundlib.h>
#include <mutex>

namespace orafon::winmm {

namespace {

constexpr unsigned kLatencyUs = 60000;

// alsa-lib reports failures on stderr by default; a device that is not there
// is an expected answer here, not something to print.
void QuietAlsaError(const char *, int, const char *, int, const char *, ...) {}

void SilenceAlsa()
{
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(QuietAlsaError); });
}

[[nodiscard]] bool HasSoundCard()
{
    int card = -1;
    return snd_card_next(&card) == 0 && card >= 0;
}

class AlsaBackend final : public AudioBackend {
public:
    AlsaBackend(snd_pcm_t *pcm, const PcmFormat &format) : pcm_(pcm), format_(format) {}
    ~AlsaBackend() override { snd_pcm_close(pcm_); }

    [[nodiscard]] bool Write(const uint8_t *data, size_t size) override
    {
        const unsigned frameBytes = format_.BlockAlign();
        snd_pcm_uframes_t frames = size / frameBytes;
        while (frames > 0) {
            snd_pcm_sframes_t n = snd_pcm_writei(pcm_, data, frames);
            if (n < 0)
                n = snd_pcm_recover(pcm_, static_cast<int>(n), 1);
            if (n < 0)
                return false;
            data += static_cast<size_t>(n) * frameBytes;
            frames -= static_cast<snd_pcm_uframes_t>(n);
        }
        return true;
    }
    void Pause() override { paused_ = snd_pcm_pause(pcm_, 1) == 0; }
    void Resume() override
    {
        if (paused_)
            snd_pcm_pause(pcm_, 0);
        paused_ = false;
    }
    void Flush() override
    {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
        paused_ = false;
    }
    void Drain() override
    {
        // A PCM below its start threshold (a short sound, or the tail after
        // an underrun) starts playing only when asked to.
        if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED)
            snd_pcm_start(pcm_);
        snd_pcm_drain(pcm_);
        // Drained leaves the PCM set up but not ready for the next write.
        snd_pcm_prepare(pcm_);
        paused_ = false;
    }
    uint64_t PendingBytes() override
    {
        snd_pcm_sframes_t delay = 0;
        if (snd_pcm_delay(pcm_, &delay) < 0 || delay < 0)
            return 0;
        return static_cast<uint64_t>(delay) * format_.BlockAlign();
    }

private:
    snd_pcm_t *pcm_;
    PcmFormat format_;
    bool paused_ = false;
};

} // namespace

[[nodiscard]] std::unique_ptr<AudioBackend> OpenAlsaBackend(const PcmFormat &format, bool anyDefault)
{
    SilenceAlsa();
    if (!anyDefault && !HasSoundCard())
        return nullptr;
    snd_pcm_t *pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, 0) < 0)
        return nullptr;
    const snd_pcm_format_t sampleFormat = format.bits == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
    if (snd_pcm_set_params(pcm, sampleFormat, SND_PCM_ACCESS_RW_INTERLEAVED, format.channels, format.rate, 1,
                           kLatencyUs) < 0) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    return std::make_unique<AlsaBackend>(pcm, format);
}

} // namespace orafon::winmm
