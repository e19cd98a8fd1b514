// The voice catalogue: every SAPI 5 voice token and every SAPI 4 engine mode,
// listed once when the object is made, and the selection of one of them.
#include <component/TextToSpeech.h>

#include <cstdio>
#include <cstring>

namespace {

// A CoTaskMem string from a token read, freed on scope exit.
class CCoString {
public:
    ~CCoString() { CoTaskMemFree(m_psz); }
    LPWSTR *Out() { return &m_psz; }
    LPCWSTR Get() const { return m_psz; }

private:
    LPWSTR m_psz = nullptr;
};

std::string AnsiOf(LPCWSTR text)
{
    std::string out;
    if (text)
        orafon::WideToAnsi(text, out);
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

} // namespace

HRESULT CTextToSpeech::EnumVoices()
{
    m_aVoices.clear();

    CComPtr<ISpObjectTokenCategory> category;
    CComPtr<IEnumSpObjectTokens> tokens;
    if (CoCreateInstance(CLSID_SpObjectTokenCategory, nullptr, CLSCTX_ALL, IID_ISpObjectTokenCategory,
                         reinterpret_cast<void **>(&category)) == S_OK &&
        category->SetId(SPCAT_VOICES, FALSE) == S_OK && category->EnumTokens(nullptr, nullptr, &tokens) == S_OK) {
        const std::u16string languageName = LanguageValueName();
        CComPtr<ISpObjectToken> token;
        while (tokens->Next(1, &token, nullptr) == S_OK) {
            VoiceInfo voice;
            voice.EngineKind = ENGINE_SAPI5;
            CCoString name;
            HRESULT hr = token->GetStringValue(languageName.c_str(), name.Out());
            if (hr == SPERR_NOT_FOUND)
                hr = token->GetStringValue(nullptr, name.Out());
            if (FAILED(hr))
                continue;
            CComPtr<ISpDataKey> attributes;
            if (FAILED(token->OpenKey(u"Attributes", &attributes)))
                continue;
            voice.name = AnsiOf(name.Get());
            voice.gender = StringValue(attributes, u"Gender");
            voice.language = StringValue(attributes, u"Language");
            voice.token = token;
            m_aVoices.push_back(std::move(voice));
        }
    }

    CComPtr<ITTSEnumW> modes;
    if (SUCCEEDED(CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumW,
                                   reinterpret_cast<void **>(&modes)))) {
        TTSMODEINFOW info{};
        while (modes->Next(1, &info, nullptr) == S_OK) {
            VoiceInfo voice;
            voice.EngineKind = ENGINE_SAPI4;
            voice.name = AnsiOf(info.szModeName);
            voice.gender = "Gender:" + std::to_string(info.wGender);
            voice.language = "Lang:" + std::to_string(info.language.LanguageID);
            voice.modeId = info.gModeID;
            m_aVoices.push_back(std::move(voice));
        }
    }
    return S_OK;
}

HRESULT CTextToSpeech::SelectVoice(LONG index)
{
    if (index < 0 || index >= static_cast<LONG>(m_aVoices.size()))
        return E_INVALIDARG;
    const VoiceInfo &voice = m_aVoices[static_cast<size_t>(index)];
    return voice.EngineKind == ENGINE_SAPI5 ? SelectSapi5Voice(voice) : SelectSapi4Mode(voice);
}

HRESULT CTextToSpeech::SelectSapi5Voice(const VoiceInfo &voice)
{
    HRESULT hr =
        CoCreateInstance(CLSID_SpVoice, nullptr, CLSCTX_ALL, IID_ISpVoice, reinterpret_cast<void **>(&m_spVoice));
    if (FAILED(hr))
        return hr;
    hr = m_spVoice->SetVoice(voice.token);
    if (FAILED(hr)) {
        m_spVoice.Release();
        return hr;
    }
    hr = m_spVoice->SetOutput(nullptr, FALSE);
    if (FAILED(hr))
        return hr;
    CComPtr<ISpStreamFormat> stream;
    hr = m_spVoice->GetOutputStream(&stream);
    if (FAILED(hr))
        return hr;
    GUID formatId{};
    WAVEFORMATEX *format = nullptr;
    hr = stream->GetFormat(&formatId, &format);
    if (FAILED(hr))
        return hr;
    if (format) {
        std::lock_guard guard(m_link->Lock());
        std::memcpy(&m_wfxEngine, format, sizeof(WAVEFORMATEX));
        m_streamFormatId = SPDFID_WaveFormatEx;
        m_streamFormatWfx = m_wfxEngine;
        m_streamFormatWfx->cbSize = 0;
    }
    CoTaskMemFree(format);
    return S_OK;
}

HRESULT CTextToSpeech::SelectSapi4Mode(const VoiceInfo &voice)
{
    CComPtr<ITTSEnumW> modes;
    HRESULT hr =
        CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumW, reinterpret_cast<void **>(&modes));
    if (FAILED(hr))
        return hr;
    m_wfxEngine = WAVEFORMATEX{};
    // The engine announces its format through the audio object's
    // WaveFormatSet; the instance itself is not kept.
    hr = modes->Select(voice.modeId, &m_spCentral, static_cast<IAudio *>(m_spAudioDest.get()));
    m_spCentral.Release();
    if (SUCCEEDED(hr)) {
        hr = CoCreateInstance(CLSID_MMAudioDest, nullptr, CLSCTX_ALL, IID_IAudioMultiMediaDevice,
                              reinterpret_cast<void **>(&m_spDevice));
        if (SUCCEEDED(hr))
            m_spDevice->DeviceNumSet(WAVE_MAPPER);
    }
    m_bDeviceEngine = true;
    return hr;
}

HRESULT CTextToSpeech::ReleaseVoice(LONG index)
{
    if (index < 0 || index >= static_cast<LONG>(m_aVoices.size()))
        return S_OK;
    if (m_aVoices[static_cast<size_t>(index)].EngineKind == ENGINE_SAPI5) {
        if (m_spVoice)
            m_spVoice->SetNotifyCallbackInterface(nullptr, 0, 0);
        m_spVoice.Release();
    } else {
        if (m_spCentral)
            m_spCentral->AudioReset();
        m_spDevice.Release();
        m_spCentral.Release();
    }
    return S_OK;
}

void CTextToSpeech::ReleaseVoiceCatalogue() noexcept
{
    // Engines first: they stop speaking and let go of the output objects.
    if (m_spVoice) {
        m_spVoice->SetNotifyCallbackInterface(nullptr, 0, 0);
        m_spVoice->Speak(u"", SPF_PURGEBEFORESPEAK, nullptr);
    }
    m_spVoice.Release();
    if (m_spCentral)
        m_spCentral->AudioReset();
    m_spCentral.Release();
    m_spDevice.Release();
    m_aVoices.clear();
}
