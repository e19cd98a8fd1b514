// CWaveWriter: FF_WAVE files. A RIFF/WAVE file with "fmt ", "fact" and "data"
// chunks written through the platform's buffered multimedia file I/O; the
// PCM goes byte for byte straight into the I/O buffer.
#pragma once

#include "FileWriter.h"

#include <orafon/Holders.h>
#include <orafon/win/mmio.h>
#include <orafon/win/wintypes.h>

#include <string>

class CWaveWriter final : public CFileWriter {
public:
    static constexpr DWORD kModeWrite = 2;

    CWaveWriter() = default;
    ~CWaveWriter() override;

    // Creates the file and writes the header chunks. E_FAIL when the file
    // cannot be created or a header chunk cannot be written.
    [[nodiscard]] HRESULT Open(const char *pszFileName, const WAVEFORMATEX &wfxTarget, DWORD dwMode);
    // CO_E_NOTINITIALIZED without an open file, E_INVALIDARG for null
    // pointers, E_FAIL when the buffer cannot be flushed (*pcbWritten tells
    // how many bytes were stored).
    [[nodiscard]] HRESULT Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten) override;
    // Fixes the chunk sizes, sets the "fact" sample count to 0 and closes the
    // file. CO_E_NOTINITIALIZED when idle; E_FAIL when the file could not be
    // finished (the handle is released anyway). After a failed write (a full
    // disk) the header is still made to describe the whole sample frames that
    // reached the file, so what is left is a valid, shorter file.
    [[nodiscard]] HRESULT Close() override;

    [[nodiscard]] bool IsOpen() const { return static_cast<bool>(m_hmmio); }

private:
    [[nodiscard]] HRESULT WriteHeaderChunks(const WAVEFORMATEX &wfx);
    [[nodiscard]] HRESULT WriteFormatChunk(const WAVEFORMATEX &wfx);
    [[nodiscard]] HRESULT WriteFactChunk(DWORD dwSampleCount);
    [[nodiscard]] HRESULT FinishChunks();
    [[nodiscard]] HRESULT ClearFactSampleCount();
    [[nodiscard]] bool DescribeWhatWasWritten() const;

    orafon::CMmioFile m_hmmio;
    MMCKINFO m_ckRiff{};
    MMCKINFO m_ck{};
    MMIOINFO m_mmioinfo{};
    DWORD m_dwMode = 0;
    std::string m_strFileName;
    DWORD m_dwDataOffset = 0; // where the data chunk's bytes start
    DWORD m_dwFactOffset = 0; // where the "fact" sample count is
    DWORD m_dwBlockAlign = 1;
    bool m_bWriteFailed = false;
};
