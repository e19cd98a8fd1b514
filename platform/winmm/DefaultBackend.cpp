#include "AudioBackend.h"

#include <cstdlib>
#include <cstring>

namespace orafon::winmm {

namespace {

const char *Env(const char *name)
{
    const char *v = std::getenv(name);
    return v && *v ? v : nullptr;
}

[[nodiscard]] bool Paced()
{
    const char *fast = Env("ORAFON_AUDIO_FAST");
    return !(fast && std::strcmp(fast, "0") != 0);
}

// The outputs to try, in order, as the environment asks.
struct Preference {
    bool capture = false;
    bool pulse = false;
    bool alsa = false;
    bool alsaWithoutCard = false;
};

Preference Preferred()
{
    Preference p;
    if (Env("ORAFON_AUDIO_CAPTURE")) {
        p.capture = true;
        return p;
    }
    const char *device = Env("ORAFON_AUDIO_DEVICE");
    p.pulse = !device || std::strcmp(device, "pulse") == 0;
    p.alsa = !device || std::strcmp(device, "alsa") == 0;
    p.alsaWithoutCard = device != nullptr;
    return p;
}

[[nodiscard]] bool SilentChosen()
{
    const char *device = Env("ORAFON_AUDIO_DEVICE");
    return device && std::strcmp(device, "silent") == 0;
}

} // namespace

// ORAFON_AUDIO_CAPTURE=<file.wav>  write what would be played into that file instead
// ORAFON_AUDIO_DEVICE=silent|pulse|alsa  force one output (default: the first that works)
// ORAFON_AUDIO_FAST=1              the silent and capture outputs do not keep the real-time pace
[[nodiscard]] std::unique_ptr<AudioBackend> OpenDefaultBackend(const PcmFormat &format)
{
    const Preference p = Preferred();
    if (p.capture) {
        // A capture that cannot be written must still not play aloud.
        if (auto backend = OpenCaptureBackend(format, Env("ORAFON_AUDIO_CAPTURE"), Paced()))
            return backend;
        return OpenSilentBackend(format, Paced());
    }
    if (p.pulse)
        if (auto backend = OpenPulseBackend(format))
            return backend;
    if (p.alsa)
        if (auto backend = OpenAlsaBackend(format, p.alsaWithoutCard))
            return backend;
    return OpenSilentBackend(format, Paced());
}

std::string DefaultOutputName()
{
    const Preference p = Preferred();
    if (p.capture)
        return "WAV capture";
    // What is heard is found by opening it, as waveOutOpen would.
    const PcmFormat probe{22050, 1, 16};
    if (p.pulse && OpenPulseBackend(probe))
        return "PulseAudio";
    if (p.alsa && OpenAlsaBackend(probe, p.alsaWithoutCard))
        return "ALSA";
    return SilentChosen() ? "Silent output" : "";
}

} // namespace orafon::winmm
