#include "WaveWriter.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr FOURCC kWave = mmioFOURCC('W', 'A', 'V', 'E');
constexpr FOURCC kFmt = mmioFOURCC('f', 'm', 't', ' ');
constexpr FOURCC kFact = mmioFOURCC('f', 'a', 'c', 't');
constexpr FOURCC kData = mmioFOURCC('d', 'a', 't', 'a');
// The sample count while the file is being written; 0 once it is finished.
constexpr DWORD kSampleCountWhileWriting = 0xFFFFFFFF;

} // namespace

CWaveWriter::~CWaveWriter()
{
    Close();
}

HRESULT CWaveWriter::Open(const char *pszFileName, const WAVEFORMATEX &wfxTarget, DWORD dwMode)
{
    if (m_hmmio)
        Close();
    m_dwMode = dwMode;
    m_hmmio = mmioOpenA(const_cast<LPSTR>(pszFileName), nullptr, MMIO_ALLOCBUF | MMIO_READWRITE | MMIO_CREATE);
    if (!m_hmmio)
        return E_FAIL;
    if (FAILED(WriteHeaderChunks(wfxTarget))) {
        mmioClose(m_hmmio, 0);
        m_hmmio = nullptr;
        return E_FAIL;
    }
    m_ck = {};
    m_ck.ckid = kData;
    if (mmioCreateChunk(m_hmmio, &m_ck, 0) != MMSYSERR_NOERROR ||
        mmioGetInfo(m_hmmio, &m_mmioinfo, 0) != MMSYSERR_NOERROR) {
        // Unlike the header steps, a handle is left here on Windows; release it
        // so that a failed open leaves nothing behind.
        mmioClose(m_hmmio, 0);
        m_hmmio = nullptr;
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CWaveWriter::WriteHeaderChunks(const WAVEFORMATEX &wfx)
{
    m_ckRiff = {};
    m_ckRiff.fccType = kWave;
    if (mmioCreateChunk(m_hmmio, &m_ckRiff, MMIO_CREATERIFF) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (FAILED(WriteFormatChunk(wfx)))
        return E_FAIL;
    return WriteFactChunk(kSampleCountWhileWriting);
}

HRESULT CWaveWriter::WriteFormatChunk(const WAVEFORMATEX &wfx)
{
    m_ck = {};
    m_ck.ckid = kFmt;
    m_ck.cksize = 16;
    if (mmioCreateChunk(m_hmmio, &m_ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    // PCM has no cbSize field; other formats carry cbSize extra bytes after the record.
    const LONG cb = wfx.wFormatTag == WAVE_FORMAT_PCM ? 16 : static_cast<LONG>(sizeof(WAVEFORMATEX)) + wfx.cbSize;
    if (mmioWrite(m_hmmio, reinterpret_cast<const char *>(&wfx), cb) != cb)
        return E_FAIL;
    return mmioAscend(m_hmmio, &m_ck, 0) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT CWaveWriter::WriteFactChunk(DWORD dwSampleCount)
{
    m_ck = {};
    m_ck.ckid = kFact;
    if (mmioCreateChunk(m_hmmio, &m_ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (mmioWrite(m_hmmio, reinterpret_cast<const char *>(&dwSampleCount), 4) != 4)
        return E_FAIL;
    return mmioAscend(m_hmmio, &m_ck, 0) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT CWaveWriter::Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten)
{
    if (!m_hmmio)
        return CO_E_NOTINITIALIZED;
    if (!pb || !pcbWritten)
        return E_INVALIDARG;
    *pcbWritten = 0;
    while (*pcbWritten < cb) {
        if (m_mmioinfo.pchNext == m_mmioinfo.pchEndWrite) {
            m_mmioinfo.dwFlags |= MMIO_DIRTY;
            if (mmioAdvance(m_hmmio, &m_mmioinfo, MMIO_WRITE) != MMSYSERR_NOERROR)
                return E_FAIL;
        }
        // Copy as much as the buffer holds at once; the same bytes in the
        // same places as storing them one at a time.
        const ULONG room = static_cast<ULONG>(m_mmioinfo.pchEndWrite - m_mmioinfo.pchNext);
        const ULONG n = std::min(room, cb - *pcbWritten);
        std::memcpy(m_mmioinfo.pchNext, pb + *pcbWritten, n);
        m_mmioinfo.pchNext += n;
        *pcbWritten += n;
    }
    return S_OK;
}

HRESULT CWaveWriter::Close()
{
    m_mmioinfo.dwFlags |= MMIO_DIRTY;
    if (!m_hmmio)
        return CO_E_NOTINITIALIZED;
    HRESULT hr = FinishChunks();
    // The handle is released even when finishing failed part-way, so that a
    // failed file does not keep its descriptor and buffer for the sink's life.
    if (mmioClose(m_hmmio, 0) != MMSYSERR_NOERROR)
        hr = E_FAIL;
    m_hmmio = nullptr;
    m_mmioinfo = {};
    return hr;
}

HRESULT CWaveWriter::FinishChunks()
{
    if (mmioSetInfo(m_hmmio, &m_mmioinfo, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (mmioAscend(m_hmmio, &m_ck, 0) != MMSYSERR_NOERROR || mmioAscend(m_hmmio, &m_ckRiff, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (mmioSeek(m_hmmio, 0, SEEK_SET) != 0 || mmioDescend(m_hmmio, &m_ckRiff, nullptr, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (FAILED(ClearFactSampleCount()))
        return E_FAIL;
    return mmioAscend(m_hmmio, &m_ckRiff, 0) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT CWaveWriter::ClearFactSampleCount()
{
    m_ck = {};
    m_ck.ckid = kFact;
    if (mmioDescend(m_hmmio, &m_ck, &m_ckRiff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR)
        return S_OK; // no "fact" chunk: nothing to clear
    const DWORD dwZero = 0;
    if (mmioWrite(m_hmmio, reinterpret_cast<const char *>(&dwZero), 4) != 4)
        return E_FAIL;
    return mmioAscend(m_hmmio, &m_ck, 0) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}
