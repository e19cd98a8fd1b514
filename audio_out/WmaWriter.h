// CWmaWriter: FF_WMA files through the Windows Media runtime (WmRuntimeApi.h).
//
// Open builds a one-stream audio profile around the Windows Media Audio codec
// format that best fits the target (the highest bit rate not above the one
// asked for, at the target's rate and channel count), feeds the runtime's
// writer 16-bit PCM in samples of 10000 bytes stamped with their presentation
// times, and Close writes the file's "Duration" with the metadata editor.
//
// Failures are never swallowed: a sample the runtime could not take makes
// Write fail, and Close fails when any write since Open failed or the file
// could not be finished, so a full disk is never reported as a good file.
// The only text the writer prints is the editor's three diagnostics, on
// standard error.
#pragma once

#include "FileWriter.h"
#include "WmRuntimeApi.h"

#include <orafon/win/wintypes.h>
#include <orafon/win/wmsdkidl.h>

#include <memory>
#include <string>

class CWmaWriter final : public CFileWriter {
public:
    // Bytes per sample handed to the runtime.
    static constexpr DWORD kSampleCapacity = 10000;

    // Whether the Windows Media runtime's factories were found (loading it
    // when it is not yet loaded); the FF_WMA list of target formats is
    // offered only then.
    [[nodiscard]] static bool IsRuntimeAvailable();

    // COM is initialised on the thread of the first open, not at
    // construction: making a sink must not by itself put the thread that
    // makes the component into an apartment. The destructor undoes it there.
    CWmaWriter();
    ~CWmaWriter() override;

    // nBitRate in bit/s. E_NOTIMPL without the runtime (nothing is called);
    // E_INVALIDARG when the codec has no format at or below nBitRate for the
    // rate and channel count, or a null name; E_OUTOFMEMORY; otherwise the
    // failing runtime call's code (E_ACCESSDENIED, path not found, ... when
    // the file cannot be created). A writer still open is closed first.
    [[nodiscard]] HRESULT Open(LONG nBitRate, DWORD nSampleRate, WORD nChannels, const char *pszFileName);
    // 16-bit interleaved PCM at the target format. CO_E_NOTINITIALIZED when
    // idle; the runtime's code when a sample could not be delivered.
    [[nodiscard]] HRESULT Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten) override;
    // Delivers the last, shorter sample, finishes the file and writes its
    // "Duration" (100-ns units). S_OK when idle; a failure when the file is
    // not complete.
    [[nodiscard]] HRESULT Close() override;

    // The stream configuration of the codec with subtype whose format best
    // fits wfxInput and nBitRate. E_INVALIDARG when no codec has that subtype
    // or no format fits; E_UNEXPECTED when a format block is shorter than a
    // WAVEFORMATEX; E_OUTOFMEMORY; a failing runtime call's code.
    [[nodiscard]] HRESULT FindWmaStreamConfig(REFGUID subtype, const WAVEFORMATEX &wfxInput, DWORD nBitRate,
                                              IWMStreamConfig **ppConfig);
    // Sets a WMT_TYPE_QWORD attribute, given as decimal text, in a finished
    // file through the metadata editor. E_INVALIDARG for null arguments or a
    // value that is not a decimal number.
    [[nodiscard]] HRESULT SetFileAttribute(const WCHAR *pwszFileName, WORD wStreamNum, const WCHAR *pwszAttribName,
                                           const char *pszAttribValue);

    [[nodiscard]] bool IsOpen() const { return m_spWriter != nullptr; }
    // 100-ns time of the next sample.
    QWORD GetNextSampleTime() const { return m_qwNextSampleTime; }

private:
    [[nodiscard]] HRESULT CreateProfile(DWORD nBitRate, CComPtr<IWMProfile> &spProfile);
    [[nodiscard]] HRESULT ConfigureInputs();
    [[nodiscard]] HRESULT DeliverSample(const BYTE *pb, DWORD cb);
    // Takes the runtime table when none is held yet (calls made before any open).
    void UseLoadedRuntime();
    void InitializeCom();
    void NoteFailure(HRESULT hr);
    void Release();

    WmRuntimeApi m_api;
    CComPtr<IWMWriter> m_spWriter;
    QWORD m_qwNextSampleTime = 0;
    DWORD m_dwInputBytesPerSec = 0;
    WAVEFORMATEX m_wfxInput{};
    // The file written since the last successful open (empty otherwise).
    std::u16string m_strFileName;
    std::unique_ptr<BYTE[]> m_pbSample;
    DWORD m_cbFill = 0;
    // The first failure since open: a sample not delivered or not written.
    HRESULT m_hrWriteFailure = S_OK;
    bool m_bComTried = false;
    bool m_bComInitialized = false;
    DWORD m_dwComThread = 0;
};
