#include "WaveWriter.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
    // A file still open is finished; nobody is left to hear its verdict.
    static_cast<void>(Close());
}

HRESULT CWaveWriter::Open(const char *pszFileName, const WAVEFORMATEX &wfxTarget, DWORD dwMode)
{
    if (m_hmmio)
        static_cast<void>(Close()); // the earlier file's verdict is not this open's
    m_dwMode = dwMode;
    m_strFileName = pszFileName ? pszFileName : "";
    m_dwBlockAlign = wfxTarget.nBlockAlign ? wfxTarget.nBlockAlign : 1;
    m_bWriteFailed = false;
    MMIOINFO opened{}; // for the reason an open fails
    m_hmmio.Reset(mmioOpenA(const_cast<LPSTR>(pszFileName), &opened, MMIO_ALLOCBUF | MMIO_READWRITE | MMIO_CREATE));
    if (!m_hmmio)
        return opened.wErrorRet == MMIOERR_OUTOFMEMORY ? E_OUTOFMEMORY : E_FAIL;
    if (FAILED(WriteHeaderChunks(wfxTarget))) {
        m_hmmio.Reset();
        return E_FAIL;
    }
    m_ck = {};
    m_ck.ckid = kData;
    if (mmioCreateChunk(m_hmmio.Get(), &m_ck, 0) != MMSYSERR_NOERROR ||
        mmioGetInfo(m_hmmio.Get(), &m_mmioinfo, 0) != MMSYSERR_NOERROR) {
        // Unlike the header steps, a handle is left here on Windows; release it
        // so that a failed open leaves nothing behind.
        m_hmmio.Reset();
        return E_FAIL;
    }
    m_dwDataOffset = m_ck.dwDataOffset;
    return S_OK;
}

HRESULT CWaveWriter::WriteHeaderChunks(const WAVEFORMATEX &wfx)
{
    m_ckRiff = {};
    m_ckRiff.fccType = kWave;
    if (mmioCreateChunk(m_hmmio.Get(), &m_ckRiff, MMIO_CREATERIFF) != MMSYSERR_NOERROR)
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
    if (mmioCreateChunk(m_hmmio.Get(), &m_ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    // PCM has no cbSize field; other formats carry cbSize extra bytes after the record.
    const LONG cb = wfx.wFormatTag == WAVE_FORMAT_PCM ? 16 : static_cast<LONG>(sizeof(WAVEFORMATEX)) + wfx.cbSize;
    if (mmioWrite(m_hmmio.Get(), reinterpret_cast<const char *>(&wfx), cb) != cb)
        return E_FAIL;
    return mmioAscend(m_hmmio.Get(), &m_ck, 0) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT CWaveWriter::WriteFactChunk(DWORD dwSampleCount)
{
    m_ck = {};
    m_ck.ckid = kFact;
    if (mmioCreateChunk(m_hmmio.Get(), &m_ck, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    m_dwFactOffset = m_ck.dwDataOffset;
    if (mmioWrite(m_hmmio.Get(), reinterpret_cast<const char *>(&dwSampleCount), 4) != 4)
        return E_FAIL;
    return mmioAscend(m_hmmio.Get(), &m_ck, 0) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
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
            if (mmioAdvance(m_hmmio.Get(), &m_mmioinfo, MMIO_WRITE) != MMSYSERR_NOERROR) {
                m_bWriteFailed = true;
                return E_FAIL;
            }
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
    if (m_hmmio.Close() != MMSYSERR_NOERROR)
        hr = E_FAIL;
    m_mmioinfo = {};
    if (FAILED(hr) || m_bWriteFailed) {
        // The file is reported failed either way; the fix-up only makes what
        // reached it readable.
        static_cast<void>(DescribeWhatWasWritten());
        hr = E_FAIL;
    }
    return hr;
}

// The buffered I/O could not store everything, so the header sizes still say
// "being written". Make them describe the file as it is: the whole sample
// frames that reached it, with nothing after them.
bool CWaveWriter::DescribeWhatWasWritten() const
{
    const int fd = open(m_strFileName.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool described = false;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size >= static_cast<off_t>(m_dwDataOffset) &&
        m_dwDataOffset >= 8) {
        const uint64_t stored = static_cast<uint64_t>(info.st_size) - m_dwDataOffset;
        const uint64_t limit = 0xFFFFFFFFull - m_dwDataOffset;
        uint64_t data = std::min(stored, limit);
        data -= data % m_dwBlockAlign;
        const DWORD dataSize = static_cast<DWORD>(data);
        const DWORD riffSize = m_dwDataOffset - 8 + dataSize;
        const DWORD zero = 0;
        // Shrinking needs no space, and the header bytes overwritten are already on disk.
        described = ftruncate(fd, static_cast<off_t>(m_dwDataOffset + data)) == 0 && pwrite(fd, &riffSize, 4, 4) == 4 &&
                    pwrite(fd, &dataSize, 4, m_dwDataOffset - 4) == 4 &&
                    (m_dwFactOffset == 0 || pwrite(fd, &zero, 4, m_dwFactOffset) == 4);
    }
    close(fd);
    return described;
}

HRESULT CWaveWriter::FinishChunks()
{
    if (mmioSetInfo(m_hmmio.Get(), &m_mmioinfo, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (mmioAscend(m_hmmio.Get(), &m_ck, 0) != MMSYSERR_NOERROR ||
        mmioAscend(m_hmmio.Get(), &m_ckRiff, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (mmioSeek(m_hmmio.Get(), 0, SEEK_SET) != 0 ||
        mmioDescend(m_hmmio.Get(), &m_ckRiff, nullptr, 0) != MMSYSERR_NOERROR)
        return E_FAIL;
    if (FAILED(ClearFactSampleCount()))
        return E_FAIL;
    return mmioAscend(m_hmmio.Get(), &m_ckRiff, 0) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}

HRESULT CWaveWriter::ClearFactSampleCount()
{
    m_ck = {};
    m_ck.ckid = kFact;
    if (mmioDescend(m_hmmio.Get(), &m_ck, &m_ckRiff, MMIO_FINDCHUNK) != MMSYSERR_NOERROR)
        return S_OK; // no "fact" chunk: nothing to clear
    const DWORD dwZero = 0;
    if (mmioWrite(m_hmmio.Get(), reinterpret_cast<const char *>(&dwZero), 4) != 4)
        return E_FAIL;
    return mmioAscend(m_hmmio.Get(), &m_ck, 0) == MMSYSERR_NOERROR ? S_OK : E_FAIL;
}
