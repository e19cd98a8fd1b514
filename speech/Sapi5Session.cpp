// A SAPI 5 voice: rate and volume are live properties of the voice object,
// pitch is markup in front of the text, and progress arrives as queued events
// that a notification callback drains on the owner's thread.
#include <speech/EngineSession.h>

#include "EngineOutput.h"

#include <orafon/AnsiText.h>
#include <orafon/Holders.h>

#include <cstdio>
#include <cstring>
#include <new>

namespace orafon::speech {
namespace {

// A string the speech platform allocated for the caller to free.
using CCoString = orafon::CComHeapPtr<WCHAR>;

std::string AnsiOf(LPCWSTR text)
{
    std::string out;
    if (!orafon::WideToAnsi(text, out))
        out.clear();
    return out;
}

// The value name under which a token keeps its name in the user's UI
// language: the language id in uppercase hexadecimal, no leading zeros.
std::u16string LanguageValueName()
{
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(GetUserDefaultUILanguage()));
    return std::u16string(hex, hex + std::strlen(hex));
}

std::string StringValue(ISpDataKey *key, LPCWSTR name)
{
    CCoString value;
    if (FAILED(key->GetStringValue(name, value.Out())))
        return {};
    return AnsiOf(value.Get());
}

// The catalogue entry of one token; false when the token has no readable
// name or no "Attributes" key.
bool MakeEntry(ISpObjectToken *token, const std::u16string &languageName, VoiceInfo &voice)
{
    CCoString name;
    HRESULT hr = token->GetStringValue(languageName.c_str(), name.Out());
    if (hr == SPERR_NOT_FOUND)
        hr = token->GetStringValue(nullptr, name.Out());
    if (FAILED(hr))
        return false;
    CComPtr<ISpDataKey> attributes;
    if (FAILED(token->OpenKey(u"Attributes", &attributes)))
        return false;
    voice.EngineKind = ENGINE_SAPI5;
    voice.name = AnsiOf(name.Get());
    voice.gender = StringValue(attributes, u"Gender");
    voice.language = StringValue(attributes, u"Language");
    voice.token = token;
    return true;
}

// Replaces every '<' and '>' after the first `from` characters by a space.
void BlankMarkup(std::u16string &text, size_t from)
{
    for (size_t i = from; i < text.size(); ++i)
        if (text[i] == u'<' || text[i] == u'>')
            text[i] = u' ';
}

} // namespace

// ---- Catalogue and selection ----------------------------------------------------

void CSapi5Session::EnumVoices(std::vector<VoiceInfo> &out)
{
    CComPtr<ISpObjectTokenCategory> category;
    CComPtr<IEnumSpObjectTokens> tokens;
    if (CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                         reinterpret_cast<void **>(&category)) != S_OK ||
        category->SetId(SPCAT_VOICES, FALSE) != S_OK || category->EnumTokens(nullptr, nullptr, &tokens) != S_OK)
        return;
    const std::u16string languageName = LanguageValueName();
    CComPtr<ISpObjectToken> token;
    while (tokens->Next(1, &token, nullptr) == S_OK) {
        VoiceInfo voice;
        if (MakeEntry(token, languageName, voice))
            out.push_back(std::move(voice));
    }
}

HRESULT CSapi5Session::Select(const VoiceInfo &voice, const std::shared_ptr<CEngineLink> &link,
                              std::shared_ptr<CSapi5Session> &out)
{
    CComPtr<ISpVoice> spVoice;
    HRESULT hr =
        CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice, reinterpret_cast<void **>(&spVoice));
    if (FAILED(hr))
        return hr;
    hr = spVoice->SetVoice(voice.token);
    if (FAILED(hr))
        return hr;
    hr = spVoice->SetOutput(nullptr, FALSE);
    if (FAILED(hr))
        return hr;
    CComPtr<ISpStreamFormat> stream;
    hr = spVoice->GetOutputStream(&stream);
    if (FAILED(hr))
        return hr;
    GUID formatId{};
    orafon::CComHeapPtr<WAVEFORMATEX> format;
    hr = stream->GetFormat(&formatId, format.Out());
    if (FAILED(hr))
        return hr;
    if (format) {
        std::lock_guard guard(link->Lock());
        std::memcpy(&link->engineFormat, format.Get(), sizeof(WAVEFORMATEX));
        link->streamFormatId = SPDFID_WaveFormatEx;
        link->streamFormat = link->engineFormat;
        link->streamFormat->cbSize = 0;
    }
    format.Reset();
    try {
        out = std::make_shared<CSapi5Session>(std::move(spVoice), link);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

CSapi5Session::CSapi5Session(CComPtr<ISpVoice> voice, std::shared_ptr<CEngineLink> link)
    : m_spVoice(std::move(voice)), m_link(std::move(link))
{
}

CSapi5Session::~CSapi5Session()
{
    Release();
}

void CSapi5Session::Release() noexcept
{
    if (!m_spVoice)
        return;
    // No notification reaches this session after this, and a text still
    // being spoken is dropped with the voice.
    m_spVoice->SetNotifyCallbackInterface(nullptr, 0, 0);
    if (m_request && m_request->Speaking())
        m_spVoice->Speak(u"", SPF_PURGEBEFORESPEAK, nullptr);
    m_spVoice.Release();
}

// ---- Arithmetic ----------------------------------------------------------------------

std::u16string CSapi5Session::PitchPrefix(LONG pitch)
{
    if (pitch == 0)
        return {};
    char prefix[40];
    std::snprintf(prefix, sizeof prefix, "<pitch absmiddle=\"%d\"/>", static_cast<int>(pitch));
    return std::u16string(prefix, prefix + std::strlen(prefix));
}

WordReport CSapi5Session::WordBoundary(LPARAM position, WPARAM length, LONG prefixLength, ULONG textLength)
{
    WordReport word;
    const LONG at = static_cast<LONG>(position);
    word.start = at - prefixLength;
    word.length = static_cast<LONG>(length);
    // The position counts the markup and the percentage is not capped.
    if (textLength > 0)
        word.percent = static_cast<LONG>(static_cast<LONGLONG>(at) * 100 / textLength);
    return word;
}

LONG CSapi5Session::SentenceStart(LPARAM position, LONG prefixLength) noexcept
{
    return static_cast<LONG>(position) - prefixLength;
}

// ---- Speaking ----------------------------------------------------------------------------

HRESULT CSapi5Session::Speak(const std::shared_ptr<CSpeechRequest> &request, const SpeechSettings &settings)
{
    if (!m_spVoice)
        return E_FAIL;
    m_request = request;
    if (SUCCEEDED(m_spVoice->SetNotifyCallbackInterface(this, 0, 0)))
        m_spVoice->SetInterest(SPFEI_ALL_TTS_EVENTS, SPFEI_ALL_TTS_EVENTS);
    HRESULT hr = m_spVoice->SetOutput(nullptr, FALSE);
    if (FAILED(hr))
        return hr;
    if (request->WritesFile()) {
        CComPtr<CSpeechOutputStream> stream;
        stream.Attach(new (std::nothrow) CSpeechOutputStream(m_link, request->Serial()));
        if (!stream)
            return E_OUTOFMEMORY;
        hr = m_spVoice->SetOutput(static_cast<ISpStreamFormat *>(stream.get()), TRUE);
        if (FAILED(hr))
            return hr;
        WAVEFORMATEX engineFormat;
        {
            std::lock_guard guard(m_link->Lock());
            engineFormat = m_link->engineFormat;
        }
        hr = request->OpenFile(engineFormat);
        if (FAILED(hr))
            return hr;
    }
    DiscardQueuedEvents();
    request->BeginSpeaking();
    return SpeakText(*request, settings.pitch);
}

void CSapi5Session::DiscardQueuedEvents()
{
    SPEVENT event;
    ULONG fetched = 0;
    while (m_spVoice->GetEvents(1, &event, &fetched) == S_OK && fetched == 1)
        ReleaseSpeechEvent(event);
}

HRESULT CSapi5Session::SpeakText(CSpeechRequest &request, LONG pitch)
{
    const std::u16string prefix = PitchPrefix(pitch);
    try {
        request.SetEngineText(prefix + request.CallerText(), static_cast<LONG>(prefix.size()));
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    // The voice numbers its texts; the events it reports carry the number.
    m_nStream = 0;
    HRESULT hr = m_spVoice->Speak(request.EngineText().c_str(), SPF_ASYNC | SPF_IS_XML, &m_nStream);
    if (hr != SPERR_XML_BAD_SYNTAX)
        return hr;
    if (pitch != 0) {
        BlankMarkup(request.MutableEngineText(), prefix.size());
        return m_spVoice->Speak(request.EngineText().c_str(), SPF_ASYNC | SPF_IS_XML, &m_nStream);
    }
    // Without markup of its own the text goes once more as plain text.
    return m_spVoice->Speak(request.CallerText().c_str(), SPF_ASYNC, &m_nStream);
}

void CSapi5Session::Stop()
{
    // Only the text is purged: the end comes from the engine.
    if (m_spVoice)
        m_spVoice->Speak(u"", SPF_PURGEBEFORESPEAK, nullptr);
}

void CSapi5Session::Pause()
{
    if (m_spVoice)
        m_spVoice->Pause();
}

void CSapi5Session::Resume()
{
    if (m_spVoice)
        m_spVoice->Resume();
}

HRESULT CSapi5Session::GetRate(LONG, LONG *pRate)
{
    return m_spVoice ? m_spVoice->GetRate(pRate) : E_FAIL;
}

void CSapi5Session::SetRate(LONG rate)
{
    if (m_spVoice)
        m_spVoice->SetRate(rate);
}

HRESULT CSapi5Session::GetVolume(LONG, LONG *pVolume)
{
    if (!m_spVoice)
        return E_FAIL;
    USHORT volume = 0;
    const HRESULT hr = m_spVoice->GetVolume(&volume);
    if (SUCCEEDED(hr))
        *pVolume = volume;
    return hr;
}

void CSapi5Session::SetVolume(LONG volume)
{
    if (m_spVoice)
        m_spVoice->SetVolume(static_cast<USHORT>(volume));
}

// ---- Events ------------------------------------------------------------------------------

HRESULT STDMETHODCALLTYPE CSapi5Session::NotifyCallback(WPARAM, LPARAM)
{
    OnEvents();
    return S_OK;
}

void CSapi5Session::OnEvents()
{
    // Handlers may change the voice, which releases this session.
    const std::shared_ptr<CSapi5Session> hold = shared_from_this();
    SPEVENT event;
    ULONG fetched = 0;
    while (m_spVoice) {
        CComPtr<ISpVoice> voice = m_spVoice;
        if (voice->GetEvents(1, &event, &fetched) != S_OK || fetched != 1)
            break;
        const LPARAM position = event.lParam;
        const WPARAM length = event.wParam;
        const WORD id = event.eEventId;
        const ULONG stream = event.ulStreamNum;
        ReleaseSpeechEvent(event);
        // Events of an earlier text (a request replaced while the voice
        // still speaks it) belong to no request any more.
        if (stream == m_nStream)
            OnEvent(id, position, length);
    }
}

void CSapi5Session::OnEvent(WORD id, LPARAM position, WPARAM length)
{
    // Its own reference: a handler may start the next request.
    const std::shared_ptr<CSpeechRequest> request = m_request;
    if (!request)
        return;
    switch (id) {
    case SPEI_START_INPUT_STREAM:
        request->ReportStart();
        break;
    case SPEI_END_INPUT_STREAM:
        request->Finish();
        break;
    case SPEI_WORD_BOUNDARY: {
        const WordReport word = WordBoundary(position, length, request->PrefixLength(), request->TextLength());
        request->ReportWord(word.start, word.length, word.percent);
        break;
    }
    case SPEI_SENTENCE_BOUNDARY:
        request->ReportSentence(SentenceStart(position, request->PrefixLength()), static_cast<LONG>(length));
        break;
    default:
        break;
    }
}

} // namespace orafon::speech
