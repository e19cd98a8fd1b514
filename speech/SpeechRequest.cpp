#include <speech/SpeechRequest.h>

#include <orafon/AnsiText.h>

#include <string>
#include <utility>

namespace orafon::speech {
CSpeechRequest::CSpeechRequest(ULONG serial, const OLECHAR *text, UINT textLength, const OLECHAR *file,
                               std::optional<FileTarget> target, TTSFLAG flags)
    : m_nSerial(serial), m_nFlags(flags), m_bWritesFile(file != nullptr),
      m_callerText(text ? std::u16string(text, textLength) : std::u16string()),
      m_fileName(file ? std::u16string(file) : std::u16string()), m_target(target)
{
}

void CSpeechRequest::SetEngineText(std::u16string text, LONG prefixLength)
{
    m_engineText = std::move(text);
    m_nPrefixLen = prefixLength;
}

bool CSpeechRequest::Over() const noexcept
{
    const State state = m_state.load();
    return state == State::Stopped || state == State::Ended;
}

void CSpeechRequest::Attach(IRequestHost *host, ISpeechListener *listener) noexcept
{
    m_host = host;
    m_listener = listener;
}

HRESULT CSpeechRequest::OpenFile(const WAVEFORMATEX &engineFormat)
{
    std::string path;
    SetLastError(ERROR_SUCCESS);
    if (!orafon::WideToAnsi(m_fileName.c_str(), path)) {
        const DWORD error = GetLastError();
        return error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ? E_OUTOFMEMORY : E_FAIL;
    }
    if (!m_target)
        return E_INVALIDARG;
    if (!m_host)
        return E_FAIL;
    // Running out of memory is told as such; any other reason the file
    // cannot be started is E_FAIL.
    if (const HRESULT hr = m_host->OpenSink(path, engineFormat, *m_target); FAILED(hr))
        return hr == E_OUTOFMEMORY ? hr : E_FAIL;
    m_bFileOpen = true;
    return S_OK;
}

void CSpeechRequest::BeginSpeaking() noexcept
{
    m_state = State::Speaking;
}

void CSpeechRequest::ReportStart()
{
    if (Speaking() && m_listener)
        m_listener->OnSpeechStart();
}

void CSpeechRequest::ReportWord(LONG nStart, LONG nLength, std::optional<LONG> percent)
{
    if (!Speaking() || !m_listener)
        return;
    m_listener->OnSpeechWord(nStart, nLength);
    // A handler may have stopped the request: its end was the last report.
    if (percent && Speaking() && m_listener)
        m_listener->OnSpeechProgress(*percent);
}

void CSpeechRequest::ReportSentence(LONG nStart, LONG nLength)
{
    if (Speaking() && m_listener)
        m_listener->OnSpeechSentence(nStart, nLength);
}

void CSpeechRequest::Finish()
{
    State expected = State::Speaking;
    if (!m_state.compare_exchange_strong(expected, State::Ended))
        return;
    // Audio stops reaching the file before it is finished, and the file is
    // finished before the host hears of the end, so it may open it then.
    CloseFile();
    if (m_listener)
        m_listener->OnSpeechProgress(100);
    if (m_listener)
        m_listener->OnSpeechEnd();
}

void CSpeechRequest::Abandon() noexcept
{
    if (m_state.load() != State::Ended)
        m_state = State::Stopped;
    CloseFile();
    m_listener = nullptr;
}

void CSpeechRequest::NoteFileFailure(HRESULT hr) noexcept
{
    HRESULT expected = S_OK;
    m_hrFile.compare_exchange_strong(expected, hr);
}

void CSpeechRequest::CloseFile() noexcept
{
    if (!m_bFileOpen)
        return;
    m_bFileOpen = false;
    if (m_host) {
        const HRESULT hr = m_host->CloseSink();
        if (FAILED(hr))
            NoteFileFailure(hr);
    }
}

} // namespace orafon::speech
