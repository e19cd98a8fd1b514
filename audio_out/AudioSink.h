// CAudioSink: the one road from the speech engine's PCM to an audio file.
//
// Calling order for one file: SetFileFormat (any time before), Open, any
// number of Write, Close. The calls for one file must not overlap; the sink
// has no lock. When the engine's format differs from the target format, the
// PCM is converted through the audio compression manager in 10000-byte
// source pieces before it reaches the writer of the selected file type.
//
// Failures are never swallowed: a Write that could not store every byte
// returns a failure, and Close returns a failure when the file could not be
// finished or when any Write since Open failed to store its data, so a
// caller that only looks at Close still learns the file is incomplete.
//
// Which writer serves a file type, and how Open's arguments reach it, is the
// file type's row in the table of FileType.h; the sink makes one object per
// writer class of that table when it is constructed.
//
// Speaking to a file with it:
//   sink.SetFileFormat(format);                 // when FileFormat is put
//   hr = sink.Open(ansiPath, &engineFormat, &catalogueEntry, entryBitRate);
//   ... every PCM block the engine delivers:   sink.Write(pb, cb);
//   hr = sink.Close();                          // at the end of the speech
// Open fails without leaving anything open (E_NOTIMPL when the file type has
// no writer in this build or, for MP3, no encoder library). Close drains the
// converter, so the last milliseconds of a resampled file are not lost, and
// its result is the file's verdict: S_OK only for a complete file.
// The MP3 encoder library is loaded by Mp3EncoderApiLoad (Mp3EncoderApi.h),
// which the component's module calls when it loads (the MP3 writer also
// loads it on first use) and releases with Mp3EncoderApiUnload.
#pragma once

#include "FileType.h"
#include "FileWriter.h"

#include <orafon/OrafonIds.h>
#include <orafon/win/msacm.h>
#include <orafon/win/wintypes.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

// Receives one catalogue entry: the target PCM format and its nominal bit rate
// in bits per second. The return value is not examined (every entry is given).
typedef int (*PFNADDWAVEFORMAT)(const WAVEFORMATEX *pwfx, LONG nBitRate, void *pContext);

class CAudioSink {
public:
    // Source bytes per conversion piece.
    static constexpr DWORD kSourcePieceSize = 10000;

    CAudioSink();
    ~CAudioSink();
    CAudioSink(const CAudioSink &) = delete;
    CAudioSink &operator=(const CAudioSink &) = delete;

    // Selects the writer of the next Open (a FILEFORMAT value; not checked:
    // a value without a row in the file-type table makes Open succeed without
    // a file and Write fail).
    void SetFileFormat(LONG nFileFormat) { m_nFileFormat = nFileFormat; }
    [[nodiscard]] LONG GetFileFormat() const { return m_nFileFormat; }

    // Calls pfnAdd once per entry of nFileFormat's fixed list of target
    // formats, in list order. E_INVALIDARG when pfnAdd is null. The FF_WMA list
    // is empty unless the Windows Media runtime is available.
    [[nodiscard]] static HRESULT EnumFormats(LONG nFileFormat, PFNADDWAVEFORMAT pfnAdd, void *pContext);

    // Starts a file: pszFileName (8-bit text), the engine's format, the target
    // format and the target's nominal bit rate (bit/s). A sink still open is
    // closed first. Codes: E_INVALIDARG (null format, empty name), the
    // writer's code when it cannot start the file (E_FAIL, E_ACCESSDENIED,
    // E_NOTIMPL, ...), E_FAIL when the formats cannot be converted,
    // E_UNEXPECTED, E_OUTOFMEMORY (also when the sink could not make its
    // writers). After a failure the sink is idle.
    [[nodiscard]] HRESULT Open(const char *pszFileName, const WAVEFORMATEX *pwfxSource, const WAVEFORMATEX *pwfxTarget,
                               LONG nBitRate);
    // PCM bytes in the source format, any count (partial sample frames are
    // kept until the next Write). A zero-byte Write while converting returns
    // E_FAIL and changes nothing. E_FAIL also when no writer is selected.
    [[nodiscard]] HRESULT Write(const void *pData, ULONG cb);
    // Drains the converter into the writer, finishes the file and releases
    // the conversion. S_OK on an idle sink. Any state, any number of times.
    [[nodiscard]] HRESULT Close();

    // Diagnostics: pfn is told the byte count of every Write handed to the
    // selected writer (converted pieces, or the caller's writes unchanged).
    typedef void (*PFNWRITEOBSERVER)(ULONG cb, void *pContext);
    void SetWriteObserver(PFNWRITEOBSERVER pfn, void *pContext)
    {
        m_pfnObserver = pfn;
        m_pObserverContext = pContext;
    }

    // Test and diagnostic views of the open state.
    [[nodiscard]] bool IsConverting() const { return m_hStream != nullptr; }
    [[nodiscard]] DWORD GetDestinationBufferSize() const { return m_cbDst; }
    const std::string &GetFileName() const { return m_strFileName; }
    [[nodiscard]] LONG GetBitRate() const { return m_nBitRate; }

private:
    void MakeWriters() noexcept;
    // The writer of the selected file type; null without a row (or without
    // writers, when they could not be made).
    CFileWriter *SelectedWriter() const;
    [[nodiscard]] HRESULT OpenConversion(const WAVEFORMATEX &src, const WAVEFORMATEX &dst);
    void ReleaseConversion();
    [[nodiscard]] HRESULT ConvertPiece(const BYTE *pb, DWORD cb, DWORD fdwConvert, DWORD *pcbUsed, CFileWriter &writer);
    [[nodiscard]] HRESULT WriteConverted(const BYTE *pb, ULONG cb, CFileWriter &writer);
    [[nodiscard]] HRESULT DrainConversion(CFileWriter &writer);
    [[nodiscard]] HRESULT WriteToWriter(CFileWriter &writer, ULONG cb, const BYTE *pb);

    std::string m_strFileName;
    LONG m_nFileFormat = FF_WAVE;
    LONG m_nBitRate = 0;

    // One object per writer class of the file-type table, and for each row
    // (indexed by FILEFORMAT) the object that serves it.
    std::vector<std::unique_ptr<CFileWriter>> m_writers;
    std::vector<CFileWriter *> m_writerOfType;

    HACMSTREAM m_hStream = nullptr;
    const DWORD m_cbSrcPiece = kSourcePieceSize;
    DWORD m_cbDst = 0;
    std::unique_ptr<BYTE[]> m_pbDst;
    // Bytes of an incomplete source sample frame, put in front of the next Write.
    std::array<BYTE, 8> m_abCarry{};
    DWORD m_cbCarry = 0;
    DWORD m_cbSrcBlock = 1;
    // A Write since Open that failed to store data; Close reports it.
    HRESULT m_hrWriteFailure = S_OK;

    PFNWRITEOBSERVER m_pfnObserver = nullptr;
    void *m_pObserverContext = nullptr;

    WAVEFORMATEX m_wfxSource{};
    WAVEFORMATEX m_wfxTarget{};
};

// The owning handle through which the component reaches its sink. Each
// operation forwards to the sink when it exists (it may not, when memory ran
// out at construction) and otherwise returns S_OK or does nothing.
class CAudioSinkHandle {
public:
    CAudioSinkHandle();
    ~CAudioSinkHandle();
    CAudioSinkHandle(const CAudioSinkHandle &) = delete;
    CAudioSinkHandle &operator=(const CAudioSinkHandle &) = delete;

    [[nodiscard]] bool HasSink() const { return m_pSink != nullptr; }
    CAudioSink *operator->() const { return m_pSink.get(); }

    void SetFileFormat(LONG nFileFormat);
    [[nodiscard]] HRESULT EnumFormats(LONG nFileFormat, PFNADDWAVEFORMAT pfnAdd, void *pContext) const;
    [[nodiscard]] HRESULT Open(const char *pszFileName, const WAVEFORMATEX *pwfxSource, const WAVEFORMATEX *pwfxTarget,
                               LONG nBitRate);
    [[nodiscard]] HRESULT Write(const void *pData, ULONG cb);
    [[nodiscard]] HRESULT Close();

private:
    std::unique_ptr<CAudioSink> m_pSink;
};
