#include "SndFileWriter.h"

#include <orafon/OrafonIds.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// Samples copied per call when the caller's bytes are not aligned for 16-bit access.
constexpr size_t kAlignedChunkSamples = 4096;

// The most channels a catalogue entry of these types has; a frame fits the carry buffer.
constexpr WORD kMaxChannels = 2;

[[nodiscard]] bool IsSixteenBitPcm(const WAVEFORMATEX &wfx)
{
    return wfx.wFormatTag == WAVE_FORMAT_PCM && wfx.wBitsPerSample == 16 && wfx.nChannels >= 1 &&
           wfx.nChannels <= kMaxChannels;
}

} // namespace

int CSndFileWriter::SndFileFormatOf(LONG nFileFormat)
{
    switch (nFileFormat) {
    case FF_VOX:
        return SF_FORMAT_RAW | SF_FORMAT_VOX_ADPCM;
    case FF_AU:
        return SF_FORMAT_AU | SF_FORMAT_PCM_16;
    case FF_AIFF:
        return SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
    default:
        return 0;
    }
}

CSndFileWriter::~CSndFileWriter()
{
    // A file still open is finished; nobody is left to hear its verdict.
    static_cast<void>(Close());
}

HRESULT CSndFileWriter::Open(const WAVEFORMATEX &wfxTarget, const char *pszFileName, LONG nFileFormat)
{
    if (m_file)
        static_cast<void>(Close()); // the earlier file's verdict is not this open's
    const int format = SndFileFormatOf(nFileFormat);
    if (format == 0)
        return E_INVALIDARG;
    if (!pszFileName)
        return E_INVALIDARG;
    // Samples are handed over as 16-bit items; any other width would be misread.
    if (!IsSixteenBitPcm(wfxTarget))
        return E_FAIL;
    SF_INFO info{};
    info.samplerate = static_cast<int>(wfxTarget.nSamplesPerSec);
    info.channels = wfxTarget.nChannels;
    info.format = format;
    // Checked before the file is created, so a refused format leaves no empty file behind.
    if (!sf_format_check(&info))
        return E_FAIL;
    m_file.reset(sf_open(pszFileName, SFM_WRITE, &info));
    if (!m_file)
        return E_FAIL;
    m_wfxTarget = wfxTarget;
    m_cbFrame = static_cast<ULONG>(wfxTarget.nChannels) * 2;
    // libsndfile's VOX coder pads an odd sample count with a silent sample on
    // every call, which would put clicks between writes: it gets pairs only.
    m_cbUnit = nFileFormat == FF_VOX ? 2 * m_cbFrame : m_cbFrame;
    m_cbCarry = 0;
    m_bWriteFailed = false;
    return S_OK;
}

HRESULT CSndFileWriter::Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten)
{
    if (pcbWritten)
        *pcbWritten = 0;
    if (!m_file)
        return CO_E_NOTINITIALIZED;
    if (!pcbWritten || (!pb && cb > 0))
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    // A frame begun by the last Write is completed first.
    if (m_cbCarry > 0) {
        const ULONG taken = FillCarry(pb, cb);
        pb += taken;
        cb -= taken;
        *pcbWritten += taken;
        if (m_cbCarry == m_cbUnit) {
            m_cbCarry = 0;
            hr = WriteFrames(m_abCarry.data(), m_cbUnit);
        }
    }
    const ULONG cbWhole = cb - cb % m_cbUnit;
    if (cbWhole > 0) {
        const HRESULT hrFrames = WriteFrames(pb, cbWhole);
        if (SUCCEEDED(hr))
            hr = hrFrames;
    }
    *pcbWritten += cbWhole;
    const ULONG cbRest = cb - cbWhole;
    if (cbRest > 0) {
        std::memcpy(m_abCarry.data(), pb + cbWhole, cbRest);
        m_cbCarry = cbRest;
        *pcbWritten += cbRest;
    }
    if (FAILED(hr))
        m_bWriteFailed = true;
    return hr;
}

ULONG CSndFileWriter::FillCarry(const BYTE *pb, ULONG cb)
{
    const ULONG take = std::min(cb, m_cbUnit - m_cbCarry);
    std::memcpy(m_abCarry.data() + m_cbCarry, pb, take);
    m_cbCarry += take;
    return take;
}

HRESULT CSndFileWriter::WriteFrames(const BYTE *pb, ULONG cbFrames)
{
    const sf_count_t nSamples = cbFrames / 2;
    if (reinterpret_cast<uintptr_t>(pb) % alignof(short) == 0)
        return WriteSamples(reinterpret_cast<const short *>(pb), nSamples);
    // An odd address (a Write that completed a carried frame): copy through
    // an aligned buffer, whole frames at a time.
    short chunk[kAlignedChunkSamples];
    const sf_count_t perChunk = static_cast<sf_count_t>(kAlignedChunkSamples - kAlignedChunkSamples % (m_cbUnit / 2));
    for (sf_count_t done = 0; done < nSamples;) {
        const sf_count_t n = std::min(perChunk, nSamples - done);
        std::memcpy(chunk, pb + done * 2, static_cast<size_t>(n) * 2);
        const HRESULT hr = WriteSamples(chunk, n);
        if (FAILED(hr))
            return hr;
        done += n;
    }
    return S_OK;
}

HRESULT CSndFileWriter::WriteSamples(const short *ps, sf_count_t nSamples)
{
    // The VOX coder counts a padding sample and notes a short file write only
    // as an error state, so both the count and the state are looked at.
    const sf_count_t stored = sf_write_short(m_file.get(), ps, nSamples);
    return stored >= nSamples && sf_error(m_file.get()) == SF_ERR_NO_ERROR ? S_OK : E_FAIL;
}

HRESULT CSndFileWriter::WriteCarriedFrames()
{
    const ULONG cbFrames = m_cbCarry - m_cbCarry % m_cbFrame;
    m_cbCarry = 0;
    return cbFrames > 0 ? WriteFrames(m_abCarry.data(), cbFrames) : S_OK;
}

HRESULT CSndFileWriter::Close()
{
    if (!m_file)
        return S_OK;
    // Whole frames still held (a VOX sample without its pair) belong to the file.
    if (FAILED(WriteCarriedFrames()))
        m_bWriteFailed = true;
    const int closeError = sf_close(m_file.release());
    const bool failed = m_bWriteFailed || closeError != 0;
    m_bWriteFailed = false;
    return failed ? E_FAIL : S_OK;
}
