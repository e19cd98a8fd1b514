// The engines' output objects: where their PCM and their notifications enter
// the bridge.
#include "EngineOutput.h"

#include <speech/EngineSession.h>

#include <orafon/CatchAtEdge.h>

#include <cstring>

namespace orafon::speech {

void ReleaseSpeechEvent(SPEVENT &event) noexcept
{
    switch (event.elParamType) {
    case SPET_LPARAM_IS_STRING:
    case SPET_LPARAM_IS_POINTER:
        CoTaskMemFree(reinterpret_cast<void *>(event.lParam));
        break;
    case SPET_LPARAM_IS_TOKEN:
    case SPET_LPARAM_IS_OBJECT:
        if (auto *object = reinterpret_cast<IUnknown *>(event.lParam))
            object->Release();
        break;
    default:
        break;
    }
    std::memset(&event, 0, sizeof event);
}

// ---- CSpeechOutputStream ----------------------------------------------------------

STDMETHODIMP CSpeechOutputStream::Read(void *, ULONG, ULONG *)
{
    return STG_E_ACCESSDENIED;
}

STDMETHODIMP CSpeechOutputStream::Write(const void *pv, ULONG cb, ULONG *pcbWritten)
{
    std::lock_guard guard(m_link->Lock());
    IEngineAudioTarget *owner = m_link->Owner();
    // Dropped bytes get a success code: the voice only needs one.
    if (!owner || !pv || !owner->EngineAudio(m_nSerial, pv, cb))
        return S_FALSE;
    if (pcbWritten)
        *pcbWritten = cb;
    return S_OK;
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
    *pguidFormatId = GUID_NULL;
    *ppCoMemWaveFormatEx = nullptr;
    std::lock_guard guard(m_link->Lock());
    if (!m_link->Owner())
        return E_UNEXPECTED;
    if (!m_link->streamFormat) {
        *pguidFormatId = m_link->streamFormatId;
        return S_OK;
    }
    const size_t size = sizeof(WAVEFORMATEX) + m_link->streamFormat->cbSize;
    auto *copy = static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(size));
    if (!copy)
        return E_OUTOFMEMORY;
    std::memset(copy, 0, size);
    std::memcpy(copy, &*m_link->streamFormat, sizeof(WAVEFORMATEX));
    *pguidFormatId = m_link->streamFormatId;
    *ppCoMemWaveFormatEx = copy;
    return S_OK;
}

// ---- CSpeechAudioDest ---------------------------------------------------------------

STDMETHODIMP CSpeechAudioDest::PassNotify(PVOID pNotifyInterface, IID)
{
    m_pDestNotify = static_cast<IAudioDestNotifySink *>(pNotifyInterface);
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::Start()
{
    if (IAudioDestNotifySink *notify = m_pDestNotify)
        notify->AudioStart();
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
    if (m_link->Owner())
        m_link->engineFormat = wfx;
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
    if (IEngineAudioTarget *owner = m_link->Owner())
        owner->EngineAudio(m_nSerial, pBuffer, dwSize);
    return S_OK;
}

STDMETHODIMP CSpeechAudioDest::BookMark(DWORD dwMarkID)
{
    if (IAudioDestNotifySink *notify = m_pDestNotify)
        notify->BookMark(dwMarkID, FALSE);
    return S_OK;
}

// ---- CSpeechBufNotify ---------------------------------------------------------------

// The reports reach the host's event handlers; nothing they throw goes back
// into the engine.

STDMETHODIMP CSpeechBufNotify::TextDataDone(QWORD, DWORD dwFlags)
{
    // Aborted text (nonzero flags) ends nothing: a stop already did.
    if (dwFlags != 0)
        return S_OK;
    return CatchAtEdge([this] {
        if (std::shared_ptr<CSpeechRequest> request = m_request.lock())
            request->Finish();
    });
}

STDMETHODIMP CSpeechBufNotify::TextDataStarted(QWORD)
{
    return CatchAtEdge([this] {
        if (std::shared_ptr<CSpeechRequest> request = m_request.lock())
            request->ReportStart();
    });
}

STDMETHODIMP CSpeechBufNotify::BookMark(QWORD, DWORD)
{
    return S_OK;
}

STDMETHODIMP CSpeechBufNotify::WordPosition(QWORD, DWORD dwByteOffset)
{
    return CatchAtEdge([&] {
        std::shared_ptr<CSpeechRequest> request = m_request.lock();
        if (!request || !request->Speaking())
            return;
        const WordReport word = CSapi4Session::WordPosition(request->EngineText(), dwByteOffset);
        request->ReportWord(word.start, word.length, word.percent);
    });
}

} // namespace orafon::speech
