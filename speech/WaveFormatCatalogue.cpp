#include <speech/WaveFormatCatalogue.h>

#include <orafon/CatchAtEdge.h>

#include <orafon/OrafonIds.h>

#include <array>
#include <cstdio>
#include <new>

namespace {

// Indexed by channel count; no listed format has another count.
constexpr std::array<const char *, 3> kChannelNames = {"", "Mono", "Stereo"};

const char *ChannelName(WORD channels)
{
    return channels < kChannelNames.size() ? kChannelNames[channels] : "";
}

} // namespace

void CWaveFormatCatalogue::Clear() noexcept
{
    m_aWaveFormats.clear();
    m_aBitRates.clear();
    m_bIncomplete = false;
}

bool CWaveFormatCatalogue::Append(const WAVEFORMATEX &format, LONG bitRate) noexcept
{
    if (FAILED(orafon::CatchAtEdge([this] {
            m_aWaveFormats.reserve(m_aWaveFormats.size() + 1);
            m_aBitRates.reserve(m_aBitRates.size() + 1);
        }))) {
        m_bIncomplete = true;
        return false;
    }
    // Both have room now, so the two lists stay the same length.
    m_aWaveFormats.push_back(format);
    m_aBitRates.push_back(bitRate);
    return true;
}

int CWaveFormatCatalogue::AddWaveFormat(const WAVEFORMATEX *format, LONG bitRate, void *context)
{
    auto *catalogue = static_cast<CWaveFormatCatalogue *>(context);
    if (!catalogue || !format)
        return 0;
    return catalogue->Append(*format, bitRate) ? 1 : 0;
}

std::string CWaveFormatCatalogue::DisplayName(LONG fileFormat, LONG index) const
{
    const WAVEFORMATEX &format = Format(index);
    char text[64];
    if (fileFormat == FF_WAVE) {
        if (index == 0)
            return "Voice Default Format";
        std::snprintf(text, sizeof text, "%dkHz, %dBit, %s", static_cast<int>(format.nSamplesPerSec / 1000),
                      static_cast<int>(format.wBitsPerSample), ChannelName(format.nChannels));
    } else {
        std::snprintf(text, sizeof text, "%dkBPS, %dkHz, %s", static_cast<int>(BitRate(index) / 1000),
                      static_cast<int>(format.nSamplesPerSec / 1000), ChannelName(format.nChannels));
    }
    return text;
}
