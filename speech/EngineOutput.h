// The objects through which the speech engines reach the bridge: the SAPI 5
// output stream, the SAPI 4 audio destination and the SAPI 4 buffer
// notification sink. Each is an object of its own (orafon::ComObject), with
// its own reference count, since an engine may
// hold it longer than the bridge lives; they reach the bridge only through a
// CEngineLink (EngineLink.h).
//
// The stream and the audio destination made for a file request carry its
// serial number and hand PCM to that request's file only; the pair the owner
// answers QueryInterface with carries 0 and serves whichever request is
// current. A buffer notification sink belongs to one request.
#pragma once

#include <speech/EngineLink.h>
#include <speech/SpeechRequest.h>

#include <orafon/ComObject.h>
#include <orafon/win/sapi.h>
#include <orafon/win/speech.h>
#include <orafon/win/windows.h>

#include <atomic>
#include <memory>

namespace orafon::speech {

// Frees what a SAPI 5 event carries (a string, a token or an object).
void ReleaseSpeechEvent(SPEVENT &event) noexcept;

// The stream a SAPI 5 voice writes a file request's PCM into.
class CSpeechOutputStream final
    : public ComObject<CSpeechOutputStream, ISpStreamFormat, ComAlias<IStream, ISpStreamFormat>,
                       ComAlias<ISequentialStream, ISpStreamFormat>> {
public:
    CSpeechOutputStream(std::shared_ptr<CEngineLink> link, ULONG serial) : m_link(std::move(link)), m_nSerial(serial) {}

    STDMETHODIMP Read(void *pv, ULONG cb, ULONG *pcbRead) override;
    STDMETHODIMP Write(const void *pv, ULONG cb, ULONG *pcbWritten) override;
    STDMETHODIMP Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER *plibNewPosition) override;
    STDMETHODIMP SetSize(ULARGE_INTEGER libNewSize) override;
    STDMETHODIMP CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override;
    STDMETHODIMP Commit(DWORD) override;
    STDMETHODIMP Revert() override;
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override;
    STDMETHODIMP Stat(STATSTG *, DWORD) override;
    STDMETHODIMP Clone(IStream **) override;
    STDMETHODIMP GetFormat(GUID *pguidFormatId, WAVEFORMATEX **ppCoMemWaveFormatEx) override;

private:
    std::shared_ptr<CEngineLink> m_link;
    const ULONG m_nSerial;
};

// The audio destination a SAPI 4 engine made for a file request speaks into.
class CSpeechAudioDest final : public ComObject<CSpeechAudioDest, IAudio, IAudioDest> {
public:
    CSpeechAudioDest(std::shared_ptr<CEngineLink> link, ULONG serial) : m_link(std::move(link)), m_nSerial(serial) {}

    // IAudio
    STDMETHODIMP Flush() override { return S_OK; }
    STDMETHODIMP LevelGet(DWORD *) override { return S_OK; }
    STDMETHODIMP LevelSet(DWORD) override { return S_OK; }
    STDMETHODIMP PassNotify(PVOID pNotifyInterface, IID iid) override;
    STDMETHODIMP PosnGet(PQWORD) override { return S_OK; }
    STDMETHODIMP Claim() override { return S_OK; }
    STDMETHODIMP UnClaim() override { return S_OK; }
    STDMETHODIMP Start() override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP TotalGet(PQWORD pqwTotal) override;
    STDMETHODIMP ToFileTime(PQWORD, FILETIME *) override { return S_OK; }
    STDMETHODIMP WaveFormatGet(PSDATA pFormat) override;
    STDMETHODIMP WaveFormatSet(SDATA format) override;
    // IAudioDest
    STDMETHODIMP FreeSpace(DWORD *pdwBytes, BOOL *pfEOF) override;
    STDMETHODIMP DataSet(PVOID pBuffer, DWORD dwSize) override;
    STDMETHODIMP BookMark(DWORD dwMarkID) override;

private:
    std::shared_ptr<CEngineLink> m_link;
    const ULONG m_nSerial;
    // The engine's sink; the engine holds its own reference (no reference here).
    std::atomic<IAudioDestNotifySink *> m_pDestNotify{nullptr};
};

// The notification sink a SAPI 4 engine calls, on the thread that selected
// it, as the text of one request is spoken. Called on that thread only.
class CSpeechBufNotify final : public ComObject<CSpeechBufNotify, ITTSBufNotifySink> {
public:
    explicit CSpeechBufNotify(std::weak_ptr<CSpeechRequest> request) : m_request(std::move(request)) {}

    STDMETHODIMP TextDataDone(QWORD qTimeStamp, DWORD dwFlags) override;
    STDMETHODIMP TextDataStarted(QWORD qTimeStamp) override;
    STDMETHODIMP BookMark(QWORD qTimeStamp, DWORD dwMarkNum) override;
    STDMETHODIMP WordPosition(QWORD qTimeStamp, DWORD dwByteOffset) override;

private:
    // Gone or over once the request ended or was replaced: then nothing
    // the engine reports reaches anyone.
    std::weak_ptr<CSpeechRequest> m_request;
};

} // namespace orafon::speech
