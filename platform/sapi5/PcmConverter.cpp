#include "PcmConverter.h"

#include <algorithm>
#include <cmath>

namespace orafon::sapi5 {

PcmConverter::PcmConverter(const WAVEFORMATEX &from, const WAVEFORMATEX &to)
    : from_(from), to_(to), same_(from.nSamplesPerSec == to.nSamplesPerSec && from.nChannels == to.nChannels &&
                                  from.wBitsPerSample == to.wBitsPerSample),
      step_(to.nSamplesPerSec ? static_cast<double>(from.nSamplesPerSec) / to.nSamplesPerSec : 1.0)
{
}

[[nodiscard]] bool PcmConverter::Supported(const WAVEFORMATEX &f)
{
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= 1000 &&
           f.nSamplesPerSec <= 384000 && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8;
}

int PcmConverter::ReadSample(const uint8_t *frame) const
{
    int sum = 0;
    for (unsigned c = 0; c < from_.nChannels; ++c) {
        if (from_.wBitsPerSample == 16)
            sum += static_cast<int16_t>(frame[2 * c] | (frame[2 * c + 1] << 8));
        else
            sum += (static_cast<int>(frame[c]) - 128) * 256;
    }
    return sum / static_cast<int>(from_.nChannels);
}

void PcmConverter::WriteSample(int value, std::vector<uint8_t> &out) const
{
    value = std::clamp(value, -32768, 32767);
    for (unsigned c = 0; c < to_.nChannels; ++c) {
        if (to_.wBitsPerSample == 16) {
            out.push_back(static_cast<uint8_t>(value & 0xFF));
            out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
        } else {
            out.push_back(static_cast<uint8_t>(std::clamp((value >> 8) + 128, 0, 255)));
        }
    }
}

void PcmConverter::Convert(const uint8_t *data, size_t size, int gainPercent, std::vector<uint8_t> &out)
{
    const int gain = std::clamp(gainPercent, 0, 100);
    if (same_ && from_.wBitsPerSample == 16 && partial_.empty() && size % from_.nBlockAlign == 0) {
        if (gain == 100) {
            out.insert(out.end(), data, data + size);
            return;
        }
        out.reserve(out.size() + size);
        for (size_t i = 0; i + 1 < size; i += 2) {
            const int s = static_cast<int16_t>(data[i] | (data[i + 1] << 8)) * gain / 100;
            out.push_back(static_cast<uint8_t>(s & 0xFF));
            out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
        }
        return;
    }
    // General path: gather whole source frames, then resample to the output rate.
    std::vector<uint8_t> bytes(partial_);
    bytes.insert(bytes.end(), data, data + size);
    const size_t block = from_.nBlockAlign;
    const size_t frames = bytes.size() / block;
    partial_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(frames * block), bytes.end());
    if (frames == 0)
        return;
    std::vector<int> samples;
    samples.reserve(frames + 1);
    // Index 0 is the last sample of the previous call, so interpolation runs across calls.
    samples.push_back(havePrevious_ ? previous_ : ReadSample(bytes.data()));
    for (size_t f = 0; f < frames; ++f)
        samples.push_back(ReadSample(bytes.data() + f * block));
    if (!havePrevious_)
        position_ = 1.0;
    const double last = static_cast<double>(samples.size() - 1);
    while (position_ <= last) {
        const size_t i = static_cast<size_t>(position_);
        const double frac = position_ - static_cast<double>(i);
        const double a = samples[i];
        const double b = i + 1 < samples.size() ? samples[i + 1] : a;
        WriteSample(static_cast<int>(std::lround((a + (b - a) * frac) * gain / 100.0)), out);
        position_ += step_;
    }
    position_ -= last;
    previous_ = samples.back();
    havePrevious_ = true;
}

} // namespace orafon::sapi5
