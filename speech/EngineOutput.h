// The objects through which the speech engines reach the bridge: the SAPI 5
// output stream, the SAPI 4 audio destination and the SAPI 4 buffer
// notification sink. Each has its own reference count, since an engine may
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

#include <orafon/win/sapi.h>
#include <orafon/win/speech.h>
#include <orafon/win/windows.h>

#include <atomic>
#include <memory>

namespace orafon::speech {

// Frees what a SAPI 5 event carries (a string, a token or an object).
void ReleaseSpeechEvent(SPEVENT &event) noexcept;

// Reference counting shared by the three objects below.
class CEngineOutputBase {
protected:
    explicit CEngineOutputBase(std::shared_ptr<CEngineLink> link) : m_link(std::move(link)) {}
    ~CEngineOutputBase() = default;
    ULONG AddRefImpl() { return ++m_refs; }
    // Drops one reference and deletes the most derived object at 0.
    template <typename T> ULONG ReleaseOf(T *self)
    {
        const ULONG left = --m_refs;
        if (left == 0)
            delete self;
        return left;
    }

    std::shared_ptr<CEngineLink> m_link;

private:
    std::atomic<ULONG> m_refs{1};
};

// The stream a SAPI 5 voice writes a file request's PCM into.
class CSpeechOutputStream final : public ISpStreamFormat, private CEngineOutputBase {
public:
    CSpeechOutputStream(std::shared_ptr<CEngineLink> link, ULONG serial)
        : CEngineOutputBase(std::move(link)), m_nSerial(serial)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseOf(this); }

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
    const ULONG m_nSerial;
};

// The audio destination a SAPI 4 engine made for a file request speaks into.
class CSpeechAudioDest final : public IAudio, public IAudioDest, private CEngineOutputBase {
public:
    CSpeechAudioDest(std::shared_ptr<CEngineLink> link, ULONG serial)
        : CEngineOutputBase(std::move(link)), m_nSerial(serial)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseOf(this); }

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
    const ULONG m_nSerial;
    // The engine's sink; the engine holds its own reference (no reference here).
    std::atomic<IAudioDestNotifySink *> m_pDestNotify{nullptr};
};

// The notification sink a SAPI 4 engine calls, on the thread that selected
// it, as the text of one request is spoken. Called on that thread only.
class CSpeechBufNotify final : public ITTSBufNotifySink {
public:
    explicit CSpeechBufNotify(std::weak_ptr<CSpeechRequest> request) : m_request(std::move(request)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP TextDataDone(QWORD qTimeStamp, DWORD dwFlags) override;
    STDMETHODIMP TextDataStarted(QWORD qTimeStamp) override;
    STDMETHODIMP BookMark(QWORD qTimeStamp, DWORD dwMarkNum) override;
    STDMETHODIMP WordPosition(QWORD qTimeStamp, DWORD dwByteOffset) override;

private:
    std::atomic<ULONG> m_refs{1};
    // Gone or over once the request ended or was replaced: then nothing
    // the engine reports reaches anyone.
    std::weak_ptr<CSpeechRequest> m_request;
};

} // namespace orafon::speech
