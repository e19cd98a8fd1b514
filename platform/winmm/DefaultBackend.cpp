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

bool Paced()
{
    const char *fast = Env("ORAFON_AUDIO_FAST");
    return !(fast && std::strcmp(fast, "0") != 0);
}

} // namespace

// ORAFON_AUDIO_CAPTURE=<file.wav>  write what would be played into that file instead
// ORAFON_AUDIO_DEVICE=silent|pulse|alsa  force one output (default: the first that works)
// ORAFON_AUDIO_FAST=1              the silent and capture outputs do not keep the real-time pace
std::unique_ptr<AudioBackend> OpenDefaultBackend(const PcmFormat &format)
{
    if (const char *capture = Env("ORAFON_AUDIO_CAPTURE")) {
        // A capture that cannot be written must still not play aloud.
        if (auto backend = OpenCaptureBackend(format, capture, Paced()))
            return backend;
        return OpenSilentBackend(format, Paced());
    }
    const char *device = Env("ORAFON_AUDIO_DEVICE");
    const bool any = !device;
    if (any || std::strcmp(device, "pulse") == 0)
        if (auto backend = OpenPulseBackend(format))
            return backend;
    if (any || std::strcmp(device, "alsa") == 0)
        if (auto backend = OpenAlsaBackend(format, !any))
            return backend;
    return OpenSilentBackend(format, Paced());
}

} // namespace orafon::winmm
