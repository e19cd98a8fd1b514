// The one way a linear PCM format is described: what the engines offer, the
// writers accept and the tests ask for are all built here.
#pragma once

#include <orafon/win/wintypes.h>

namespace orafon {

// Linear PCM of rate frames per second, each of channels interleaved samples
// of bits bits: a block is channels * bits / 8 bytes.
constexpr WAVEFORMATEX PcmFormat(DWORD rate, WORD channels, WORD bits) noexcept
{
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.cbSize = 0;
    return f;
}

} // namespace orafon
