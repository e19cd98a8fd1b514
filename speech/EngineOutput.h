// The objects through which the speech engines reach a CTextToSpeech:
// the SAPI 5 output stream, the SAPI 4 audio destination and the SAPI 4
// buffer notification sink.
//
// An engine keeps references to these objects and may call them on threads of
// its own, possibly after the CTextToSpeech that made them is gone (a host may
// drop its last reference while an asynchronous request is speaking). So they
// are small objects of their own, each with its own reference count, that
// reach their owner through one CEngineLink: the owner detaches the link
// first thing when it is destroyed, and from then on every call is answered
// without touching it. Engine-thread calls that touch the owner's file state
// hold the link's lock, which also orders them against the owner's own opening
// and closing of the file.
#pragma once

#include <orafon/win/sapi.h>
#include <orafon/win/speech.h>
#include <orafon/win/windows.h>

#include <atomic>
#include <memory>
#include <mutex>

class CTextToSpeech;

// Frees what a SAPI 5 event carries (a string, a token or an object).
void ReleaseSpeechEvent(SPEVENT &event) noexcept;

class CEngineLink {
public:
    explicit CEngineLink(CTextToSpeech *owner) : m_owner(owner) {}

    // Serialises the engines' audio calls with the owner's sink use.
    std::mutex &Lock() { return m_mutex; }
    // Valid while the lock is held, or on the owner's thread.
    CTextToSpeech *Owner() const { return m_owner; }
    // Waits for an audio call in progress, then cuts the link.
    void Detach()
    {
        std::lock_guard guard(m_mutex);
        m_owner = nullptr;
    }

private:
    std::mutex m_mutex;
    CTextToSpeech *m_owner;
};

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
    explicit CSpeechOutputStream(std::shared_ptr<CEngineLink> link) : CEngineOutputBase(std::move(link)) {}

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
};

// The audio destination a SAPI 4 engine made for a file request speaks into.
class CSpeechAudioDest final : public IAudio, public IAudioDest, private CEngineOutputBase {
public:
    explicit CSpeechAudioDest(std::shared_ptr<CEngineLink> link) : CEngineOutputBase(std::move(link)) {}

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
    // The engine's sink; the engine holds its own reference (no reference here).
    std::atomic<IAudioDestNotifySink *> m_pDestNotify{nullptr};
};

// The notification sink a SAPI 4 engine calls, on the owner's thread, as a
// text is spoken.
class CSpeechBufNotify final : public ITTSBufNotifySink, private CEngineOutputBase {
public:
    // One sink per request: notifications of an earlier request's engine that
    // arrive late are told apart by the request number and ignored.
    CSpeechBufNotify(std::shared_ptr<CEngineLink> link, ULONG request)
        : CEngineOutputBase(std::move(link)), m_nRequest(request)
    {
    }

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefImpl(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseOf(this); }

    STDMETHODIMP TextDataDone(QWORD qTimeStamp, DWORD dwFlags) override;
    STDMETHODIMP TextDataStarted(QWORD qTimeStamp) override;
    STDMETHODIMP BookMark(QWORD qTimeStamp, DWORD dwMarkNum) override;
    STDMETHODIMP WordPosition(QWORD qTimeStamp, DWORD dwByteOffset) override;

private:
    // The owner when this sink belongs to its current request, else null.
    CTextToSpeech *CurrentOwner() const;

    const ULONG m_nRequest;
};
