// Speaking: one request driver for both engine generations, the wait for the
// end of speech, stop, pause, resume and the engine's rate and volume.
#include <component/TextToSpeech.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

// Keeps the object alive while a request runs: event handlers may drop the
// host's last reference from inside the wait.
class CSelfReference {
public:
    explicit CSelfReference(IUnknown *self) : m_self(self) { m_self->AddRef(); }
    ~CSelfReference() { m_self->Release(); }

private:
    IUnknown *m_self;
};

// Replaces every '<' and '>' after the first `from` characters by a space.
void BlankMarkup(BSTR text, UINT from)
{
    const UINT length = SysStringLen(text);
    for (UINT i = from; i < length; ++i)
        if (text[i] == u'<' || text[i] == u'>')
            text[i] = u' ';
}

BSTR CopyText(BSTR text)
{
    return SysAllocStringLen(text, SysStringLen(text));
}

} // namespace

void CTextToSpeech::ClearTextState() noexcept
{
    m_nTextLen = 0;
    m_bstrText.Reset();
}

HRESULT CTextToSpeech::SpeakRequest(BSTR text, BSTR file, TTSFLAG flags)
{
    CSelfReference hold(static_cast<ITextToSpeech *>(this));
    if (m_bSpeaking) {
        const bool writesFile =
            HasVoice() && (CurrentVoice().EngineKind == ENGINE_SAPI5 ? m_bToFile.load() : !m_bDeviceEngine);
        if (writesFile)
            CloseFileOutput();
        m_bSpeaking = false;
    }
    if (!HasVoice()) {
        ClearTextState();
        return E_FAIL;
    }
    m_bstrText.Reset();
    HRESULT hr =
        CurrentVoice().EngineKind == ENGINE_SAPI5 ? Sapi5Speak(text, file, flags) : Sapi4Speak(text, file, flags);
    if (FAILED(hr)) {
        m_bSpeaking = false;
        ClearTextState();
    }
    return hr;
}

HRESULT CTextToSpeech::Sapi5Speak(BSTR text, BSTR file, TTSFLAG flags)
{
    if (SUCCEEDED(m_spVoice->SetNotifyCallbackInterface(this, 0, 0)))
        m_spVoice->SetInterest(SPFEI_ALL_TTS_EVENTS, SPFEI_ALL_TTS_EVENTS);
    HRESULT hr = m_spVoice->SetOutput(nullptr, FALSE);
    if (FAILED(hr))
        return hr;

    if (file) {
        hr = m_spVoice->SetOutput(static_cast<ISpStreamFormat *>(m_spOutputStream.get()), TRUE);
        if (FAILED(hr))
            return hr;
        hr = OpenFileOutput(file);
        if (FAILED(hr))
            return hr;
        m_bToFile = true;
    } else {
        m_bToFile = false;
    }

    SPEVENT event;
    ULONG fetched = 0;
    while (m_spVoice->GetEvents(1, &event, &fetched) == S_OK && fetched == 1)
        ReleaseSpeechEvent(event);

    m_bSpeaking = true;
    m_nPrefixLen = 0;
    if (m_nPitch != 0) {
        char prefix[40];
        std::snprintf(prefix, sizeof prefix, "<pitch absmiddle=\"%d\"/>", static_cast<int>(m_nPitch));
        const UINT prefixLen = static_cast<UINT>(std::strlen(prefix));
        const UINT textLen = SysStringLen(text);
        m_bstrText.Reset(SysAllocStringLen(nullptr, prefixLen + textLen));
        if (!m_bstrText.Get()) {
            hr = E_OUTOFMEMORY;
        } else {
            for (UINT i = 0; i < prefixLen; ++i)
                m_bstrText.Get()[i] = static_cast<OLECHAR>(prefix[i]);
            std::memcpy(m_bstrText.Get() + prefixLen, text, textLen * sizeof(OLECHAR));
            m_nPrefixLen = static_cast<LONG>(prefixLen);
            m_nTextLen = m_bstrText.Length();
            hr = m_spVoice->Speak(m_bstrText.Get(), SPF_ASYNC | SPF_IS_XML, nullptr);
            if (hr == SPERR_XML_BAD_SYNTAX) {
                BlankMarkup(m_bstrText.Get(), prefixLen);
                hr = m_spVoice->Speak(m_bstrText.Get(), SPF_ASYNC | SPF_IS_XML, nullptr);
            }
        }
    } else {
        m_bstrText.Reset(CopyText(text));
        m_nTextLen = m_bstrText.Length();
        hr = m_bstrText.Get() ? m_spVoice->Speak(m_bstrText.Get(), SPF_ASYNC | SPF_IS_XML, nullptr) : E_OUTOFMEMORY;
        if (hr == SPERR_XML_BAD_SYNTAX)
            hr = m_spVoice->Speak(text, SPF_ASYNC, nullptr);
    }
    if (FAILED(hr)) {
        // Nothing will be spoken, so nothing would ever close the file.
        if (file)
            CloseFileOutput();
        return hr;
    }
    if (flags == TF_DEFAULT) {
        HRESULT waited = WaitForEndOfSpeech();
        if (file && FAILED(waited))
            return waited;
    }
    return hr;
}

void CTextToSpeech::ApplySapi4Attributes(ITTSAttributesA *attributes)
{
    DWORD minSpeed = 0, maxSpeed = 0;
    attributes->SpeedSet(0);
    attributes->SpeedGet(&minSpeed);
    attributes->SpeedSet(0xFFFFFFFF);
    attributes->SpeedGet(&maxSpeed);
    ULONG speed;
    if (m_nRate >= 0)
        speed = m_nDefSpeed + (maxSpeed - m_nDefSpeed) * static_cast<ULONG>(m_nRate) / 10u;
    else
        speed = m_nDefSpeed - (m_nDefSpeed - minSpeed) * static_cast<ULONG>(-m_nRate) / 10u;
    attributes->SpeedSet(speed);

    DWORD minVolume = 0, maxVolume = 0;
    attributes->VolumeSet(0);
    attributes->VolumeGet(&minVolume);
    attributes->VolumeSet(0xFFFFFFFF);
    attributes->VolumeGet(&maxVolume);
    // The hundredth is the single-precision constant: a full range of
    // 0..65535 at volume 100 gives 65534.
    const double volume =
        static_cast<double>(static_cast<ULONG>(maxVolume - minVolume)) * m_nVolume * static_cast<double>(0.01f) +
        static_cast<double>(minVolume);
    attributes->VolumeSet(static_cast<ULONG>(static_cast<ULONGLONG>(std::trunc(volume))));

    WORD minPitch = 0, maxPitch = 0;
    attributes->PitchSet(0);
    attributes->PitchGet(&minPitch);
    attributes->PitchSet(0xFFFF);
    attributes->PitchGet(&maxPitch);
    const LONG def = m_nDefPitch;
    const LONG range = m_nPitch >= 0 ? static_cast<LONG>(maxPitch) - def : def - static_cast<LONG>(minPitch);
    attributes->PitchSet(static_cast<WORD>(def + (range * m_nPitch) / 10));
}

HRESULT CTextToSpeech::Sapi4Speak(BSTR text, BSTR file, TTSFLAG flags)
{
    m_spCentral.Release();
    CComPtr<ITTSEnumW> modes;
    HRESULT hr =
        CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumW, reinterpret_cast<void **>(&modes));
    if (FAILED(hr))
        return hr;
    IUnknown *audio = file ? static_cast<IUnknown *>(static_cast<IAudio *>(m_spAudioDest.get()))
                           : static_cast<IUnknown *>(m_spDevice.get());
    hr = modes->Select(CurrentVoice().modeId, &m_spCentral, audio);
    modes.Release();
    m_bDeviceEngine = (file == nullptr);
    if (FAILED(hr))
        return hr;

    CComPtr<ITTSAttributesA> attributes;
    m_spCentral->QueryInterface(IID_ITTSAttributesA, reinterpret_cast<void **>(&attributes));
    if (attributes) {
        m_nDefSpeed = 0;
        m_nDefPitch = 0;
        m_nDefVolume = 100;
        attributes->SpeedGet(&m_nDefSpeed);
        attributes->PitchGet(&m_nDefPitch);
        attributes->VolumeGet(&m_nDefVolume);
    }
    if (file) {
        hr = OpenFileOutput(file);
        if (FAILED(hr))
            return hr == E_INVALIDARG ? E_INVALIDARG : E_FAIL;
    }
    if (attributes)
        ApplySapi4Attributes(attributes);

    m_bstrText.Reset(CopyText(text));
    if (!m_bstrText.Get()) {
        if (file)
            CloseFileOutput();
        return E_OUTOFMEMORY;
    }
    m_nTextLen = m_bstrText.Length();
    CComPtr<CSpeechBufNotify> notify;
    notify.Attach(new (std::nothrow) CSpeechBufNotify(m_link, m_nSapi4Request + 1));
    if (!notify) {
        if (file)
            CloseFileOutput();
        return E_OUTOFMEMORY;
    }
    ++m_nSapi4Request;
    m_spBufNotify = notify;
    m_bSpeaking = true;

    // The text goes with its terminating NUL inside the size: the engine reads
    // no further than the size it is given.
    const UINT units = static_cast<UINT>(std::char_traits<OLECHAR>::length(text));
    SDATA data{text, (units + 1) * static_cast<DWORD>(sizeof(OLECHAR))};
    hr = m_spCentral->TextData(CHARSET_TEXT, (flags & TF_WITHTAG) ? TTSDATAF_TAGGED : 0, data,
                               static_cast<ITTSBufNotifySink *>(m_spBufNotify.get()), IID_ITTSBufNotifySink);
    if (FAILED(hr)) {
        if (file)
            CloseFileOutput();
        return hr;
    }
    if (!(flags & TF_ASYNC)) {
        HRESULT waited = WaitForEndOfSpeech();
        if (file && FAILED(waited))
            return waited;
    }
    return hr;
}

HRESULT CTextToSpeech::WaitForEndOfSpeech()
{
    MSG message;
    while (m_bSpeaking) {
        const BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return m_hrFileResult;
}

void CTextToSpeech::EndOfSpeech(bool closeFile)
{
    if (closeFile)
        CloseFileOutput();
    m_bSpeaking = false;
    FireOnTTSProgress(100);
    FireOnTTSEnd();
}

HRESULT CTextToSpeech::StopSpeaking()
{
    if (CurrentVoice().EngineKind == ENGINE_SAPI5) {
        m_spVoice->Speak(u"", SPF_PURGEBEFORESPEAK, nullptr);
        return S_OK;
    }
    if (m_spCentral) {
        CSelfReference hold(static_cast<ITextToSpeech *>(this));
        m_spCentral->AudioReset();
        EndOfSpeech(!m_bDeviceEngine);
    }
    return S_OK;
}

HRESULT CTextToSpeech::PauseSpeaking()
{
    if (CurrentVoice().EngineKind == ENGINE_SAPI5)
        m_spVoice->Pause();
    else if (m_spCentral)
        m_spCentral->AudioPause();
    return S_OK;
}

HRESULT CTextToSpeech::ResumeSpeaking()
{
    if (CurrentVoice().EngineKind == ENGINE_SAPI5)
        m_spVoice->Resume();
    else if (m_spCentral)
        m_spCentral->AudioResume();
    return S_OK;
}

HRESULT CTextToSpeech::EngineGetRate(LONG *pRate)
{
    return m_spVoice->GetRate(pRate);
}

HRESULT CTextToSpeech::EngineSetRate(LONG rate)
{
    return m_spVoice->SetRate(rate);
}

HRESULT CTextToSpeech::EngineGetVolume(LONG *pVolume)
{
    USHORT volume = 0;
    HRESULT hr = m_spVoice->GetVolume(&volume);
    if (SUCCEEDED(hr))
        *pVolume = volume;
    return hr;
}

HRESULT CTextToSpeech::EngineSetVolume(LONG volume)
{
    return m_spVoice->SetVolume(static_cast<USHORT>(volume));
}
