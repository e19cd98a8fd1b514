// Speaking into a file: the output objects the engines write into, and the
// object's side of them. Engine calls arrive on engine threads; they take the
// link's lock before they touch the sink or the flags.
#include <component/TextToSpeech.h>

#include <cstring>
#include <new>

HRESULT CTextToSpeech::CreateEngineOutput() noexcept
{
    if (m_link)
        return S_OK;
    try {
        m_link = std::make_shared<CEngineLink>(this);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    m_spOutputStream.Attach(new (std::nothrow) CSpeechOutputStream(m_link));
    m_spAudioDest.Attach(new (std::nothrow) CSpeechAudioDest(m_link));
    m_spBufNotify.Attach(new (std::nothrow) CSpeechBufNotify(m_link, m_nSapi4Request));
    if (!m_spOutputStream || !m_spAudioDest || !m_spBufNotify)
        return E_OUTOFMEMORY;
    return S_OK;
}

// ---- The object's side --------------------------------------------------------

HRESULT CTextToSpeech::OpenFileOutput(BSTR file)
{
    std::string path;
    if (!orafon::WideToAnsi(file, path))
        return E_FAIL;
    if (!m_waveFormats.Contains(m_nWaveFormatIdx))
        return E_INVALIDARG;
    const WAVEFORMATEX target = m_waveFormats.Format(m_nWaveFormatIdx);
    const LONG bitRate = m_waveFormats.BitRate(m_nWaveFormatIdx);
    std::lock_guard guard(m_link->Lock());
    m_hrFileResult = S_OK;
    if (FAILED(m_sink->Open(path.c_str(), &m_wfxEngine, &target, bitRate)))
        return E_FAIL;
    return S_OK;
}

void CTextToSpeech::CloseFileOutput() noexcept
{
    std::lock_guard guard(m_link->Lock());
    HRESULT hr = m_sink->Close();
    if (FAILED(hr) && SUCCEEDED(m_hrFileResult))
        m_hrFileResult = hr;
    m_bToFile = false;
}

HRESULT CTextToSpeech::StreamWrite(const void *pv, ULONG cb, ULONG *pcbWritten)
{
    if (!m_bToFile || !m_bSpeaking)
        return S_FALSE; // dropped: the voice only needs a success code
    HRESULT hr = m_sink->Write(pv, cb);
    if (FAILED(hr)) {
        if (SUCCEEDED(m_hrFileResult))
            m_hrFileResult = hr;
        return S_FALSE;
    }
    if (pcbWritten)
        *pcbWritten = cb;
    return S_OK;
}

HRESULT CTextToSpeech::StreamFormat(GUID *pguidFormatId, WAVEFORMATEX **ppwfx)
{
    *pguidFormatId = m_streamFormatId;
    *ppwfx = nullptr;
    if (!m_streamFormatWfx)
        return S_OK;
    const size_t size = sizeof(WAVEFORMATEX) + m_streamFormatWfx->cbSize;
    auto *copy = static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(size));
    if (!copy) {
        *pguidFormatId = GUID_NULL;
        return E_OUTOFMEMORY;
    }
    std::memset(copy, 0, size);
    std::memcpy(copy, &*m_streamFormatWfx, sizeof(WAVEFORMATEX));
    *ppwfx = copy;
    return S_OK;
}

void CTextToSpeech::AudioFormatSet(const WAVEFORMATEX &format)
{
    m_wfxEngine = format;
}

void CTextToSpeech::AudioData(const void *pData, DWORD cb)
{
    if (!m_bSpeaking)
        return;
    HRESULT hr = m_sink->Write(pData, cb);
    if (SUCCEEDED(hr))
        m_qwBytes += cb;
    else if (SUCCEEDED(m_hrFileResult))
        m_hrFileResult = hr;
}

// ---- CSpeechOutputStream ----------------------------------------------------------

STDMETHODIMP CSpeechOutputStream::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream || riid == IID_ISpStreamFormat) {
        *ppv = static_cast<ISpStreamFormat *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP CSpeechOutputStream::Read(void *, ULONG, ULONG *)
{
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP CSpeechOutputStream::Write(const void *pv, ULONG cb, ULONG *pcbWritten)
{
    std::lock_guard guard(m_link->Lock());
    CTextToSpeech *owner = m_link->Owner();
    if (!owner)
        return S_FALSE;
    return owner->StreamWrite(pv, cb, pcbWritten);
}

STDMETHODIMP CSpeechOutputStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER *plibNewPosition)
{
    if (dwOrigin != STREAM_SEEK_CUR || dlibMove.QuadPart != 0)
        return E_INVALIDARG;
    if (!plibNewPosition)
        return E_POINTER;
    plibNewPosition->QuadPart = 0;
    return S_OK;
}

STDMETHODIMP CSpeechOutputStream::SetSize(ULARGE_INTEGER)
{
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP CSpeechOutputStream::CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *)
{
    return E_NOTIMPL;
}

STDMETHODIMP CSpeechOutputStream::Commit(DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CSpeechOutputStream::Revert()
{
    return E_NOTIMPL;
}

STDMETHODIMP CSpeechOutputStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CSpeechOutputStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CSpeechOutputStream::Stat(STATSTG *, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CSpeechOutputStream::Clone(IStream **)
{
    return E_NOTIMPL;
}

STDMETHODIMP CSpeechOutputStream::GetFormat(GUID *pguidFormatId, WAVEFORMATEX **ppCoMemWaveFormatEx)
{
    if (!pguidFormatId || !ppCoMemWaveFormatEx)
        return E_POINTER;
    std::lock_guard guard(m_link->Lock());
    CTextToSpeech *owner = m_link->Owner();
    if (!owner) {
        *pguidFormatId = GUID_NULL;
        *ppCoMemWaveFormatEx = nullptr;
        return E_UNEXPECTED;
    }
    return owner->StreamFormat(pguidFormatId, ppCoMemWaveFormatEx);
}

// ---- CSpeechAudioDest ---------------------------------------------------------------

STDMETHODIMP CSpeechAudioDest::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IAudio) {
        *ppv = static_cast<IAudio *>(this);
    } else if (riid == IID_IAudioDest) {
        *ppv = static_cast<IAudioDest *>(this);
    } else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::PassNotify(PVOID pNotifyInterface, IID)
{
    m_pDestNotify = static_cast<IAudioDestNotifySink *>(pNotifyInterface);
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::Start()
{
    if (IAudioDestNotifySink *notify = m_pDestNotify)
        notify->AudioStart();
    std::lock_guard guard(m_link->Lock());
    if (CTextToSpeech *owner = m_link->Owner())
        owner->m_qwBytes = 0;
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::Stop()
{
    if (IAudioDestNotifySink *notify = m_pDestNotify)
        notify->AudioStop(0);
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::TotalGet(PQWORD pqwTotal)
{
    if (pqwTotal)
        *pqwTotal = 0;
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::WaveFormatGet(PSDATA)
{
    return AUDERR_NEEDWAVEFORMAT;
}

STDMETHODIMP CSpeechAudioDest::WaveFormatSet(SDATA format)
{
    // Fewer than 18 bytes cannot be a wave format; reading them would run off
    // the engine's buffer.
    if (!format.pData || format.dwSize < sizeof(WAVEFORMATEX))
        return E_INVALIDARG;
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, format.pData, sizeof wfx);
    std::lock_guard guard(m_link->Lock());
    if (CTextToSpeech *owner = m_link->Owner())
        owner->AudioFormatSet(wfx);
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::FreeSpace(DWORD *pdwBytes, BOOL *pfEOF)
{
    if (pdwBytes)
        *pdwBytes = 0xFFFFFFFF;
    if (pfEOF)
        *pfEOF = FALSE;
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::DataSet(PVOID pBuffer, DWORD dwSize)
{
    if (!pBuffer || dwSize == 0)
        return S_OK;
    std::lock_guard guard(m_link->Lock());
    if (CTextToSpeech *owner = m_link->Owner())
        owner->AudioData(pBuffer, dwSize);
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::BookMark(DWORD dwMarkID)
{
    if (IAudioDestNotifySink *notify = m_pDestNotify)
        notify->BookMark(dwMarkID, FALSE);
    return S_OK;
}

// ---- CSpeechBufNotify: called on the thread that selected the engine ------------------

STDMETHODIMP CSpeechBufNotify::QueryInterface(REFIID riid, void **ppv)
{
    if (!ppv)
        return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITTSBufNotifySink) {
        *ppv = static_cast<ITTSBufNotifySink *>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

CTextToSpeech *CSpeechBufNotify::CurrentOwner() const
{
    CTextToSpeech *owner = m_link->Owner();
    return owner && owner->m_nSapi4Request == m_nRequest ? owner : nullptr;
}

STDMETHODIMP CSpeechBufNotify::TextDataDone(QWORD, DWORD dwFlags)
{
    if (CTextToSpeech *owner = CurrentOwner())
        owner->OnTextDataDone(dwFlags);
    return S_OK;
}

STDMETHODIMP CSpeechBufNotify::TextDataStarted(QWORD)
{
    if (CTextToSpeech *owner = CurrentOwner())
        owner->OnTextDataStarted();
    return S_OK;
}

STDMETHODIMP CSpeechBufNotify::BookMark(QWORD, DWORD)
{
    return S_OK;
}

STDMETHODIMP CSpeechBufNotify::WordPosition(QWORD, DWORD dwByteOffset)
{
    if (CTextToSpeech *owner = CurrentOwner())
        owner->OnWordPosition(dwByteOffset);
    return S_OK;
}
