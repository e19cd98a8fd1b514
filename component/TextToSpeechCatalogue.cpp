// FileFormat put: rebuilding the wave-format catalogue for a file type.
#include "TextToSpeech.h"

HRESULT CTextToSpeech::RebuildWaveFormats(LONG fileFormat)
{
    m_waveFormats.Clear();
    if (fileFormat == FF_WAVE) {
        // The engine's own format comes first; the copy is taken now, so a
        // later voice change does not alter it.
        const LONG bitRate = static_cast<LONG>(m_wfxEngine.nAvgBytesPerSec * 8);
        m_waveFormats.Append(m_wfxEngine, bitRate);
    }

    HRESULT hr = S_OK;
    if (FAILED(m_sink->EnumFormats(fileFormat, &CWaveFormatCatalogue::AddWaveFormat, &m_waveFormats))) {
        hr = E_UNEXPECTED;
    } else if (m_waveFormats.Incomplete()) {
        // A list with holes would shift every index; offer none of it.
        m_waveFormats.Clear();
        return E_OUTOFMEMORY;
    } else {
        put_WaveFormatIdx(0); // refused when the list is empty: the old index stays
        m_nFileFormat = fileFormat;
        m_sink->SetFileFormat(fileFormat);
    }
    if (m_waveFormats.Count() == 0)
        return E_INVALIDARG;
    return hr;
}
