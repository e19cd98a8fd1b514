// Converts the engine's 16-bit mono PCM to the output's PCM format (rate by
// linear interpolation, channels, sample width) and applies the volume.
#pragma once

#include <orafon/win/wintypes.h>

#include <cstdint>
#include <vector>

namespace orafon::sapi5 {

class PcmConverter {
public:
    PcmConverter(const WAVEFORMATEX &from, const WAVEFORMATEX &to);

    // gainPercent 0..100 scales the samples. Appends the result to out.
    void Convert(const uint8_t *data, size_t size, int gainPercent, std::vector<uint8_t> &out);

    // True when the source format is one this converter reads (PCM 8/16 bit, 1-2 channels).
    [[nodiscard]] static bool Supported(const WAVEFORMATEX &f);

private:
    int ReadSample(const uint8_t *frame) const; // the source frame mixed to mono, 16-bit range
    void WriteSample(int value, std::vector<uint8_t> &out) const;

    WAVEFORMATEX from_;
    WAVEFORMATEX to_;
    bool same_;
    double step_;         // source frames per output frame
    double position_ = 0; // of the next output frame, relative to the first frame of the pending data
    int previous_ = 0;    // the last source sample of the previous call
    bool havePrevious_ = false;
    std::vector<uint8_t> partial_; // a source frame split between calls
};

} // namespace orafon::sapi5
