#include <speech/SpeechBridge.h>

#include "EngineOutput.h"

#include <orafon/CatchAtEdge.h>

#include <new>

namespace orafon::speech {

HRESULT CSpeechBridge::Create(ISpeechListener *listener, std::shared_ptr<CSpeechBridge> &out) noexcept
{
    out.reset();
    return CatchAtEdge([&] {
        std::shared_ptr<CSpeechBridge> bridge(new CSpeechBridge(listener));
        bridge->m_link = std::make_shared<CEngineLink>(bridge.get());
        if (HRESULT hr = bridge->MakeOutputObjects(); FAILED(hr))
            return hr;
        if (!bridge->m_sink.HasSink())
            return E_OUTOFMEMORY;
        out = std::move(bridge);
        return S_OK;
    });
}

CSpeechBridge::CSpeechBridge(ISpeechListener *listener) : m_listener(listener) {}

CSpeechBridge::~CSpeechBridge()
{
    Shutdown();
}

HRESULT CSpeechBridge::MakeOutputObjects() noexcept
{
    m_spOutputStream.Attach(new (std::nothrow) CSpeechOutputStream(m_link, 0));
    m_spAudioDest.Attach(new (std::nothrow) CSpeechAudioDest(m_link, 0));
    return m_spOutputStream && m_spAudioDest ? S_OK : E_OUTOFMEMORY;
}

void CSpeechBridge::Shutdown() noexcept
{
    if (m_bShutDown)
        return;
    m_bShutDown = true;
    m_listener = nullptr;
    // Engines may still call the output objects from their own threads: cut
    // them off before anything they could reach goes away.
    if (m_link)
        m_link->Detach();
    if (m_request)
        m_request->Abandon();
    // Nobody is left to hear how a file still open ended.
    static_cast<void>(m_sink.Close());
    // Engines next: they stop speaking and let go of the output objects.
    if (m_session)
        m_session->Release();
    m_session.reset();
    m_aVoices.clear();
}

// ---- Voice catalogue ------------------------------------------------------------------

HRESULT CSpeechBridge::EnumVoices()
{
    m_aVoices.clear();
    CSapi5Session::EnumVoices(m_aVoices);
    CSapi4Session::EnumModes(m_aVoices);
    return S_OK;
}

HRESULT CSpeechBridge::SelectVoice(LONG index)
{
    if (index < 0 || index >= static_cast<LONG>(m_aVoices.size()) || m_bShutDown)
        return E_INVALIDARG;
    const VoiceInfo &voice = m_aVoices[static_cast<size_t>(index)];
    if (voice.EngineKind == ENGINE_SAPI5) {
        std::shared_ptr<CSapi5Session> session;
        const HRESULT hr = CSapi5Session::Select(voice, m_link, session);
        if (SUCCEEDED(hr))
            m_session = std::move(session);
        return hr;
    }
    std::unique_ptr<CSapi4Session> session;
    const HRESULT hr = CSapi4Session::Select(voice, m_link, static_cast<IAudio *>(m_spAudioDest.get()), session);
    if (SUCCEEDED(hr))
        m_session = std::move(session);
    return hr;
}

HRESULT CSpeechBridge::ReleaseVoice(LONG)
{
    if (!m_session)
        return S_OK;
    const std::shared_ptr<CSpeechBridge> hold = shared_from_this();
    const std::shared_ptr<CEngineSession> session = std::move(m_session);
    session->Release();
    // The engine is gone, so nothing will end its request: end it here, as a
    // stop would, so that a wait for it returns.
    if (const std::shared_ptr<CSpeechRequest> request = session->Current())
        request->Finish();
    return S_OK;
}

WAVEFORMATEX CSpeechBridge::EngineFormat() const
{
    std::lock_guard guard(m_link->Lock());
    return m_link->engineFormat;
}

// ---- Speaking ----------------------------------------------------------------------------

std::shared_ptr<CSpeechRequest> CSpeechBridge::CurrentRequest() const
{
    return m_request;
}

void CSpeechBridge::SetCurrent(std::shared_ptr<CSpeechRequest> request)
{
    std::lock_guard guard(m_link->Lock());
    m_request = std::move(request);
}

void CSpeechBridge::EndPrevious() noexcept
{
    // Whatever voice speaks now: the request knows whether it has a file.
    if (m_request && !m_request->Over())
        m_request->Abandon();
}

HRESULT CSpeechBridge::Speak(const OLECHAR *text, UINT textLength, const OLECHAR *file,
                             std::optional<FileTarget> target, TTSFLAG flags, const SpeechSettings &settings)
{
    const std::shared_ptr<CSpeechBridge> hold = shared_from_this();
    EndPrevious();
    if (!m_session || m_bShutDown)
        return E_FAIL;
    std::shared_ptr<CSpeechRequest> request;
    if (const HRESULT hr = CatchAtEdge(
            [&] { request = std::make_shared<CSpeechRequest>(++m_nSerial, text, textLength, file, target, flags); });
        FAILED(hr))
        return hr;
    request->Attach(this, m_listener);
    SetCurrent(request);
    // The session may go (a handler changes the voice) while the request is
    // waited for.
    const std::shared_ptr<CEngineSession> session = m_session;
    const HRESULT hr = session->Speak(request, settings);
    if (FAILED(hr)) {
        request->Abandon();
        return hr;
    }
    if (session->WaitsFor(flags)) {
        const HRESULT waited = WaitForEnd(*request);
        if (request->WritesFile() && FAILED(waited))
            return waited;
    }
    return hr;
}

HRESULT CSpeechBridge::WaitForEnd(const CSpeechRequest &request)
{
    // The engines' notifications arrive as this thread's messages. A request
    // that starts from a handler meanwhile is waited for too.
    MSG message;
    while (m_request && m_request->Speaking()) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return request.FileResult();
}

void CSpeechBridge::Stop()
{
    if (m_session) {
        const std::shared_ptr<CSpeechBridge> hold = shared_from_this();
        const std::shared_ptr<CEngineSession> session = m_session;
        session->Stop();
    }
}

void CSpeechBridge::Pause()
{
    if (m_session)
        m_session->Pause();
}

void CSpeechBridge::Resume()
{
    if (m_session)
        m_session->Resume();
}

HRESULT CSpeechBridge::GetRate(LONG stored, LONG *pRate)
{
    return m_session ? m_session->GetRate(stored, pRate) : E_FAIL;
}

void CSpeechBridge::SetRate(LONG rate)
{
    if (m_session)
        m_session->SetRate(rate);
}

HRESULT CSpeechBridge::GetVolume(LONG stored, LONG *pVolume)
{
    return m_session ? m_session->GetVolume(stored, pVolume) : E_FAIL;
}

void CSpeechBridge::SetVolume(LONG volume)
{
    if (m_session)
        m_session->SetVolume(volume);
}

// ---- File output ---------------------------------------------------------------------------

HRESULT CSpeechBridge::EnumFormats(LONG fileFormat, PFNADDWAVEFORMAT pfnAdd, void *pContext)
{
    return CAudioSink::EnumFormats(fileFormat, pfnAdd, pContext);
}

IUnknown *CSpeechBridge::OutputObject(REFIID riid) const noexcept
{
    if (m_spOutputStream && (riid == IID_ISpStreamFormat || riid == IID_IStream || riid == IID_ISequentialStream))
        return static_cast<ISpStreamFormat *>(m_spOutputStream.get());
    if (m_spAudioDest && riid == IID_IAudio)
        return static_cast<IAudio *>(m_spAudioDest.get());
    if (m_spAudioDest && riid == IID_IAudioDest)
        return static_cast<IAudioDest *>(m_spAudioDest.get());
    return nullptr;
}

HRESULT CSpeechBridge::OpenSink(const std::string &path, const WAVEFORMATEX &source, const FileTarget &target)
{
    std::lock_guard guard(m_link->Lock());
    // The type chosen when this file starts stays the file's to its end.
    m_sink.SetFileFormat(m_nFileFormat);
    return m_sink.Open(path.c_str(), &source, &target.format, target.bitRate);
}

HRESULT CSpeechBridge::CloseSink() noexcept
{
    std::lock_guard guard(m_link->Lock());
    return m_sink.Close();
}

bool CSpeechBridge::EngineAudio(ULONG serial, const void *pData, ULONG cb) noexcept
{
    const std::shared_ptr<CSpeechRequest> &request = m_request;
    if (!request || !request->Speaking() || !request->WritesFile())
        return false;
    if (serial != 0 && serial != request->Serial())
        return false;
    const HRESULT hr = m_sink.Write(pData, cb);
    if (FAILED(hr)) {
        request->NoteFileFailure(hr);
        return false;
    }
    return true;
}

} // namespace orafon::speech
