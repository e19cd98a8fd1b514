// A SAPI 4 engine mode: every request gets an engine instance of its own,
// with the properties mapped onto the engine's ranges, and progress arrives
// as calls on a notification sink made for that request.
#include <speech/EngineSession.h>

#include "EngineOutput.h"

#include <orafon/AnsiText.h>
#include <orafon/win/mmsystem.h>

#include <algorithm>
#include <cmath>
#include <new>
#include <string>

namespace orafon::speech {
namespace {

HRESULT CreateModeEnumerator(CComPtr<ITTSEnumW> &modes)
{
    return CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumW, reinterpret_cast<void **>(&modes));
}

std::string AnsiOf(LPCWSTR text)
{
    std::string out;
    if (!orafon::WideToAnsi(text, out))
        out.clear();
    return out;
}

// The range an attribute reaches: set to its lowest, read, set to its
// highest, read.
template <typename T, typename Set, typename Get> CSapi4Session::Range ProbeRange(T highest, Set set, Get get)
{
    T low = 0, high = 0;
    set(T{0});
    get(&low);
    set(highest);
    get(&high);
    return {static_cast<DWORD>(low), static_cast<DWORD>(high)};
}

} // namespace

// ---- Catalogue and selection ----------------------------------------------------

void CSapi4Session::EnumModes(std::vector<VoiceInfo> &out)
{
    CComPtr<ITTSEnumW> modes;
    if (FAILED(CreateModeEnumerator(modes)))
        return;
    TTSMODEINFOW info{};
    while (modes->Next(1, &info, nullptr) == S_OK) {
        VoiceInfo voice;
        voice.EngineKind = ENGINE_SAPI4;
        voice.name = AnsiOf(info.szModeName);
        voice.gender = "Gender:" + std::to_string(info.wGender);
        voice.language = "Lang:" + std::to_string(info.language.LanguageID);
        voice.modeId = info.gModeID;
        out.push_back(std::move(voice));
    }
}

HRESULT CSapi4Session::Select(const VoiceInfo &voice, const std::shared_ptr<CEngineLink> &link, IUnknown *audio,
                              std::unique_ptr<CSapi4Session> &out)
{
    CComPtr<ITTSEnumW> modes;
    HRESULT hr = CreateModeEnumerator(modes);
    if (FAILED(hr))
        return hr;
    {
        std::lock_guard guard(link->Lock());
        link->engineFormat = WAVEFORMATEX{};
    }
    // The engine announces its format through the audio object's
    // WaveFormatSet; the instance itself is not kept.
    CComPtr<ITTSCentralW> central;
    hr = modes->Select(voice.modeId, &central, audio);
    central.Release();
    if (FAILED(hr))
        return hr;
    CComPtr<IAudioMultiMediaDevice> device;
    hr = CoCreateInstance(CLSID_MMAudioDest, nullptr, CLSCTX_ALL, IID_IAudioMultiMediaDevice,
                          reinterpret_cast<void **>(&device));
    if (FAILED(hr))
        return hr;
    device->DeviceNumSet(WAVE_MAPPER);
    out.reset(new (std::nothrow) CSapi4Session(voice.modeId, std::move(device), link));
    return out ? S_OK : E_OUTOFMEMORY;
}

CSapi4Session::CSapi4Session(GUID modeId, CComPtr<IAudioMultiMediaDevice> device, std::shared_ptr<CEngineLink> link)
    : m_modeId(modeId), m_spDevice(std::move(device)), m_link(std::move(link))
{
}

CSapi4Session::~CSapi4Session()
{
    Release();
}

void CSapi4Session::Release() noexcept
{
    if (m_spCentral)
        m_spCentral->AudioReset();
    m_spCentral.Release();
    m_spDevice.Release();
}

// ---- Arithmetic ----------------------------------------------------------------------

DWORD CSapi4Session::MapSpeed(LONG rate, DWORD defaultSpeed, Range range) noexcept
{
    // Unsigned 32-bit arithmetic, as the engine's values are.
    if (rate >= 0)
        return defaultSpeed + (range.max - defaultSpeed) * static_cast<DWORD>(rate) / 10u;
    return defaultSpeed - (defaultSpeed - range.min) * static_cast<DWORD>(-rate) / 10u;
}

DWORD CSapi4Session::MapVolume(LONG volume, Range range) noexcept
{
    // The hundredth is the single-precision constant: a full range of
    // 0..65535 at volume 100 gives 65534.
    const double value =
        static_cast<double>(static_cast<DWORD>(range.max - range.min)) * volume * static_cast<double>(0.01f) +
        static_cast<double>(range.min);
    return static_cast<DWORD>(static_cast<ULONGLONG>(std::trunc(value)));
}

WORD CSapi4Session::MapPitch(LONG pitch, WORD defaultPitch, Range range) noexcept
{
    const LONG def = defaultPitch;
    const LONG span = pitch >= 0 ? static_cast<LONG>(range.max) - def : def - static_cast<LONG>(range.min);
    return static_cast<WORD>(def + (span * pitch) / 10);
}

WordReport CSapi4Session::WordPosition(const std::u16string &text, DWORD byteOffset)
{
    const ULONG textLength = static_cast<ULONG>(text.size());
    const ULONG start = byteOffset / 2;
    ULONG stop = start;
    while (stop < textLength && text[stop] != u' ' && text[stop] != u'\r' && text[stop] != u'\n')
        ++stop;
    WordReport word;
    word.start = static_cast<LONG>(start);
    // The length counts the separator after the word (one past the text at its end).
    word.length = static_cast<LONG>(stop - start + 1);
    if (textLength > 0) {
        const ULONGLONG percent = (static_cast<ULONGLONG>(byteOffset) * 100 / 2) / textLength;
        word.percent = static_cast<LONG>(std::min<ULONGLONG>(percent, 100));
    }
    return word;
}

// ---- Speaking ----------------------------------------------------------------------------

HRESULT CSapi4Session::SelectEngine(IUnknown *audio)
{
    m_spCentral.Release();
    CComPtr<ITTSEnumW> modes;
    const HRESULT hr = CreateModeEnumerator(modes);
    if (FAILED(hr))
        return hr;
    return modes->Select(m_modeId, &m_spCentral, audio);
}

void CSapi4Session::ApplyAttributes(ITTSAttributesA *attributes, const SpeechSettings &settings)
{
    const Range speed = ProbeRange<DWORD>(
        0xFFFFFFFF, [&](DWORD v) { attributes->SpeedSet(v); }, [&](DWORD *v) { attributes->SpeedGet(v); });
    attributes->SpeedSet(MapSpeed(settings.rate, m_nDefSpeed, speed));
    const Range volume = ProbeRange<DWORD>(
        0xFFFFFFFF, [&](DWORD v) { attributes->VolumeSet(v); }, [&](DWORD *v) { attributes->VolumeGet(v); });
    attributes->VolumeSet(MapVolume(settings.volume, volume));
    const Range pitch = ProbeRange<WORD>(
        0xFFFF, [&](WORD v) { attributes->PitchSet(v); }, [&](WORD *v) { attributes->PitchGet(v); });
    attributes->PitchSet(MapPitch(settings.pitch, m_nDefPitch, pitch));
}

HRESULT CSapi4Session::Speak(const std::shared_ptr<CSpeechRequest> &request, const SpeechSettings &settings)
{
    m_request = request;
    CComPtr<CSpeechAudioDest> fileAudio;
    if (request->WritesFile()) {
        fileAudio.Attach(new (std::nothrow) CSpeechAudioDest(m_link, request->Serial()));
        if (!fileAudio)
            return E_OUTOFMEMORY;
    }
    IUnknown *audio = fileAudio ? static_cast<IUnknown *>(static_cast<IAudio *>(fileAudio.get()))
                                : static_cast<IUnknown *>(m_spDevice.get());
    HRESULT hr = SelectEngine(audio);
    if (FAILED(hr))
        return hr;

    CComPtr<ITTSAttributesA> attributes;
    m_spCentral->QueryInterface(IID_ITTSAttributesA, reinterpret_cast<void **>(&attributes));
    if (attributes) {
        m_nDefSpeed = 0;
        m_nDefPitch = 0;
        attributes->SpeedGet(&m_nDefSpeed);
        attributes->PitchGet(&m_nDefPitch);
    }
    if (request->WritesFile()) {
        WAVEFORMATEX engineFormat;
        {
            std::lock_guard guard(m_link->Lock());
            engineFormat = m_link->engineFormat;
        }
        hr = request->OpenFile(engineFormat);
        if (FAILED(hr))
            return hr;
    }
    if (attributes)
        ApplyAttributes(attributes, settings);

    try {
        request->SetEngineText(request->CallerText(), 0);
    } catch (const std::bad_alloc &) {
        return E_OUTOFMEMORY;
    }
    CComPtr<CSpeechBufNotify> notify;
    notify.Attach(new (std::nothrow) CSpeechBufNotify(request));
    if (!notify)
        return E_OUTOFMEMORY;
    request->BeginSpeaking();

    // The engine reads the text up to its first NUL, which goes inside the
    // size: it reads no further than the size it is given.
    const std::u16string &text = request->CallerText();
    const size_t units = std::char_traits<char16_t>::length(text.c_str());
    SDATA data{const_cast<char16_t *>(text.c_str()), static_cast<DWORD>((units + 1) * sizeof(OLECHAR))};
    return m_spCentral->TextData(CHARSET_TEXT, (request->Flags() & TF_WITHTAG) ? TTSDATAF_TAGGED : 0, data,
                                 static_cast<ITTSBufNotifySink *>(notify.get()), IID_ITTSBufNotifySink);
}

void CSapi4Session::Stop()
{
    if (!m_spCentral)
        return;
    m_spCentral->AudioReset();
    // The engine's own notice of the stop (aborted text) ends nothing; the
    // request ends here, before StopTTS returns.
    if (const std::shared_ptr<CSpeechRequest> request = m_request)
        request->Finish();
}

void CSapi4Session::Pause()
{
    if (m_spCentral)
        m_spCentral->AudioPause();
}

void CSapi4Session::Resume()
{
    if (m_spCentral)
        m_spCentral->AudioResume();
}

HRESULT CSapi4Session::GetRate(LONG stored, LONG *pRate)
{
    *pRate = stored;
    return S_OK;
}

HRESULT CSapi4Session::GetVolume(LONG stored, LONG *pVolume)
{
    *pVolume = stored;
    return S_OK;
}

} // namespace orafon::speech
