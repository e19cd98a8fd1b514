// The target wave formats offered for the current output file type: the
// list behind WaveFormatCount, WaveFormatIdx and WaveFormatName.
#pragma once

#include <orafon/win/windows.h>

#include <string>
#include <vector>

class CWaveFormatCatalogue {
public:
    // Empties the list and forgets an earlier allocation failure.
    void Clear() noexcept;
    // Appends a copy of the 18-byte format and its bit rate. False when out
    // of memory; the list is unchanged then and Incomplete() reports it.
    [[nodiscard]] bool Append(const WAVEFORMATEX &format, LONG bitRate) noexcept;
    // The enumeration callback that fills the catalogue; context is the
    // catalogue. Returns 1, or 0 when the entry could not be stored.
    [[nodiscard]] static int AddWaveFormat(const WAVEFORMATEX *format, LONG bitRate, void *context);
    // An entry was lost to an allocation failure since the last Clear: the
    // enumeration does not look at the callback's answer, so this is how a
    // short list is noticed.
    [[nodiscard]] bool Incomplete() const noexcept { return m_bIncomplete; }

    [[nodiscard]] LONG Count() const noexcept { return static_cast<LONG>(m_aWaveFormats.size()); }
    [[nodiscard]] bool Contains(LONG index) const noexcept { return index >= 0 && index < Count(); }
    // Valid for Contains(index) only.
    const WAVEFORMATEX &Format(LONG index) const { return m_aWaveFormats[static_cast<size_t>(index)]; }
    [[nodiscard]] LONG BitRate(LONG index) const { return m_aBitRates[static_cast<size_t>(index)]; }

    // The display text of entry index for the given file type: "Voice Default
    // Format" for the engine's own format (entry 0 of the WAVE list),
    // "<kHz>kHz, <bits>Bit, <channels>" for the other WAVE entries and
    // "<kbps>kBPS, <kHz>kHz, <channels>" for every other file type. Divisions
    // truncate. Valid for Contains(index) only.
    [[nodiscard]] std::string DisplayName(LONG fileFormat, LONG index) const;

private:
    std::vector<WAVEFORMATEX> m_aWaveFormats;
    std::vector<LONG> m_aBitRates;
    bool m_bIncomplete = false;
};
