// FileFormat put: rebuilding the wave-format catalogue for a file type.
#include "TextToSpeech.h"

HRESULT CTextToSpeech::RebuildWaveFormats(LONG fileFormat)
{
    m_waveFormats.Clear();
    if (fileFormat == FF_WAVE) {
        // The engine's own format comes first; the copy is taken now, so a
        // later voice change does not alter it.
        const WAVEFORMATEX engineFormat = m_bridge->EngineFormat();
        const LONG bitRate = static_cast<LONG>(engineFormat.nAvgBytesPerSec * 8);
        // A failed append marks the list incomplete, which is checked below.
        static_cast<void>(m_waveFormats.Append(engineFormat, bitRate));
    }

    HRESULT hr = S_OK;
    if (FAILED(orafon::speech::CSpeechBridge::EnumFormats(fileFormat, &CWaveFormatCatalogue::AddWaveFormat,
                                                          &m_waveFormats))) {
        hr = E_UNEXPECTED;
    } else if (m_waveFormats.Incomplete()) {
        // A list with holes would shift every index; offer none of it.
        m_waveFormats.Clear();
        return E_OUTOFMEMORY;
    } else {
        put_WaveFormatIdx(0); // refused when the list is empty: the old index stays
        m_nFileFormat = fileFormat;
        // A file being written keeps its type; this one is the next file's.
        m_bridge->SetFileFormat(fileFormat);
    }
    if (m_waveFormats.Count() == 0)
        return E_INVALIDARG;
    return hr;
}
