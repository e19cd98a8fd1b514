// The members of ITextToSpeech: argument checks, property storage and the
// hand-over to the speech bridge (speech/SpeechBridge.h) and the SWF
// converter.
#include "TextToSpeech.h"

#include <orafon/AnsiText.h>
#include <orafon/CatchAtEdge.h>

#include <algorithm>
#include <optional>
#include <string>

#include <swf/Mp3ToSwf.h>

namespace {

constexpr LONG kMinRate = -10, kMaxRate = 10;
constexpr LONG kMinVolume = 0, kMaxVolume = 100;
constexpr LONG kMinPitch = -10, kMaxPitch = 10;

// Converts an argument path to 8-bit text. A path that cannot be represented
// exactly (an embedded NUL would name another file) is refused.
[[nodiscard]] bool PathToAnsi(BSTR path, std::string &out)
{
    const UINT length = SysStringLen(path);
    for (UINT i = 0; i < length; ++i) {
        if (path[i] == 0)
            return false;
    }
    return orafon::WideToAnsi(path, out);
}

} // namespace

// ---- Voices ------------------------------------------------------------------

HRESULT CTextToSpeech::EnumVoices()
{
    return m_bridge->EnumVoices();
}

HRESULT CTextToSpeech::SelectVoice(LONG index)
{
    return m_bridge->SelectVoice(index);
}

HRESULT CTextToSpeech::ReleaseVoice(LONG index)
{
    // A request the voice is speaking ends here, its end reported.
    CComPtr<ITextToSpeech> hold(this);
    return m_bridge->ReleaseVoice(index);
}

STDMETHODIMP CTextToSpeech::get_VoiceCount(LONG *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = static_cast<LONG>(Voices().size());
    return S_OK;
}

STDMETHODIMP CTextToSpeech::get_VoiceIdx(LONG *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = m_nVoiceIdx;
    return S_OK;
}

STDMETHODIMP CTextToSpeech::put_VoiceIdx(LONG newVal)
{
    if (newVal < 0 || newVal >= static_cast<LONG>(Voices().size()))
        return E_INVALIDARG;
    if (newVal == m_nVoiceIdx)
        return S_OK;
    if (m_nVoiceIdx != -1) {
        const LONG current = m_nVoiceIdx;
        m_nVoiceIdx = -1;
        HRESULT hr = orafon::CatchAtEdge([&] { return ReleaseVoice(current); });
        if (FAILED(hr))
            return hr;
    }
    HRESULT hr = orafon::CatchAtEdge([&] { return SelectVoice(newVal); });
    if (FAILED(hr))
        return hr;
    m_nVoiceIdx = newVal;
    return S_OK;
}

HRESULT CTextToSpeech::VoiceText(const std::string VoiceInfo::*field, BSTR *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    if (!HasVoice())
        return E_FAIL;
    const std::string &text = CurrentVoice().*field;
    if (text.empty()) {
        *pVal = nullptr;
        return S_OK;
    }
    return orafon::AnsiToBstr(text, pVal);
}

STDMETHODIMP CTextToSpeech::get_VoiceName(BSTR *pVal)
{
    return VoiceText(&VoiceInfo::name, pVal);
}

STDMETHODIMP CTextToSpeech::get_VoiceGender(BSTR *pVal)
{
    return VoiceText(&VoiceInfo::gender, pVal);
}

STDMETHODIMP CTextToSpeech::get_VoiceLanguage(BSTR *pVal)
{
    return VoiceText(&VoiceInfo::language, pVal);
}

STDMETHODIMP CTextToSpeech::GetVoiceName(LONG nIndex, BSTR *strName)
{
    if (!strName)
        return E_INVALIDARG;
    if (nIndex < 0 || nIndex >= static_cast<LONG>(Voices().size()))
        return E_INVALIDARG;
    const std::string &name = Voices()[static_cast<size_t>(nIndex)].name;
    if (name.empty()) {
        *strName = nullptr;
        return S_OK;
    }
    return orafon::AnsiToBstr(name, strName);
}

STDMETHODIMP CTextToSpeech::get_SAPIVersion(LONG *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    // No voice: the call succeeds and reports -1, like VoiceIdx, so that the
    // caller never reads an unset value.
    *pVal = HasVoice() ? CurrentVoice().EngineKind : -1;
    return S_OK;
}

// ---- Speaking ------------------------------------------------------------------

HRESULT CTextToSpeech::SpeakRequest(BSTR text, BSTR file, TTSFLAG flags)
{
    // Event handlers may drop the host's last reference from inside the wait.
    CComPtr<ITextToSpeech> hold(this);
    std::optional<orafon::speech::FileTarget> target;
    if (file && m_waveFormats.Contains(m_nWaveFormatIdx))
        target =
            orafon::speech::FileTarget{m_waveFormats.Format(m_nWaveFormatIdx), m_waveFormats.BitRate(m_nWaveFormatIdx)};
    const orafon::speech::SpeechSettings settings{m_nRate, m_nVolume, m_nPitch};
    return m_bridge->Speak(text, SysStringLen(text), file, target, flags, settings);
}

STDMETHODIMP CTextToSpeech::Speak(BSTR strText, TTSFLAG nFlag)
{
    if (!strText)
        return E_INVALIDARG;
    return orafon::CatchAtEdge([&] { return SpeakRequest(strText, nullptr, nFlag); });
}

STDMETHODIMP CTextToSpeech::SpeakToFile(BSTR strText, BSTR strFile, TTSFLAG nFlag)
{
    if (!strText || !strFile)
        return E_INVALIDARG;
    return orafon::CatchAtEdge([&] { return SpeakRequest(strText, strFile, nFlag); });
}

STDMETHODIMP CTextToSpeech::StopTTS()
{
    if (!HasVoice())
        return E_FAIL;
    CComPtr<ITextToSpeech> hold(this);
    return orafon::CatchAtEdge([&] { m_bridge->Stop(); });
}

STDMETHODIMP CTextToSpeech::Pause()
{
    if (!HasVoice())
        return E_FAIL;
    return orafon::CatchAtEdge([&] { m_bridge->Pause(); });
}

STDMETHODIMP CTextToSpeech::Resume()
{
    if (!HasVoice())
        return E_FAIL;
    return orafon::CatchAtEdge([&] { m_bridge->Resume(); });
}

STDMETHODIMP CTextToSpeech::get_Rate(LONG *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = 0;
    if (!HasVoice())
        return E_FAIL;
    return orafon::CatchAtEdge([&] { return m_bridge->GetRate(m_nRate, pVal); });
}

STDMETHODIMP CTextToSpeech::put_Rate(LONG newVal)
{
    newVal = std::clamp(newVal, kMinRate, kMaxRate);
    if (!HasVoice())
        return E_FAIL;
    // The engine's answer is not reported.
    return orafon::CatchAtEdge([&] {
        m_bridge->SetRate(newVal);
        m_nRate = newVal;
    });
}

STDMETHODIMP CTextToSpeech::get_Volume(LONG *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    if (!HasVoice())
        return E_FAIL;
    return orafon::CatchAtEdge([&] { return m_bridge->GetVolume(m_nVolume, pVal); });
}

STDMETHODIMP CTextToSpeech::put_Volume(LONG newVal)
{
    newVal = std::clamp(newVal, kMinVolume, kMaxVolume);
    if (!HasVoice())
        return S_OK;
    // The engine's answer is not reported.
    return orafon::CatchAtEdge([&] {
        m_bridge->SetVolume(newVal);
        m_nVolume = newVal;
    });
}

STDMETHODIMP CTextToSpeech::get_Pitch(LONG *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    if (!HasVoice())
        return E_FAIL;
    *pVal = m_nPitch;
    return S_OK;
}

STDMETHODIMP CTextToSpeech::put_Pitch(LONG newVal)
{
    if (HasVoice())
        m_nPitch = std::clamp(newVal, kMinPitch, kMaxPitch);
    return S_OK;
}

// ---- The bridge's reports: fired to the event sinks, results ignored ------------------

// A failing sink stops the walk and leaves its error object on the thread;
// the speech goes on whatever a host's handler answers.

void CTextToSpeech::OnSpeechStart()
{
    static_cast<void>(FireOnTTSStart());
}

void CTextToSpeech::OnSpeechEnd()
{
    static_cast<void>(FireOnTTSEnd());
}

void CTextToSpeech::OnSpeechWord(LONG nStart, LONG nLength)
{
    static_cast<void>(FireOnTTSWord(nStart, nLength));
}

void CTextToSpeech::OnSpeechSentence(LONG nStart, LONG nLength)
{
    static_cast<void>(FireOnTTSSentence(nStart, nLength));
}

void CTextToSpeech::OnSpeechProgress(LONG nPercent)
{
    static_cast<void>(FireOnTTSProgress(nPercent));
}

// ---- Wave-format catalogue ------------------------------------------------------

STDMETHODIMP CTextToSpeech::get_WaveFormatCount(LONG *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = m_waveFormats.Count();
    return S_OK;
}

STDMETHODIMP CTextToSpeech::get_WaveFormatIdx(LONG *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = m_nWaveFormatIdx;
    return S_OK;
}

STDMETHODIMP CTextToSpeech::put_WaveFormatIdx(LONG newVal)
{
    if (!m_waveFormats.Contains(newVal))
        return E_INVALIDARG;
    m_nWaveFormatIdx = newVal;
    return S_OK;
}

STDMETHODIMP CTextToSpeech::get_WaveFormatName(BSTR *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    // Before the first list is made there is nothing to name.
    if (m_nWaveFormatIdx == -1)
        return S_OK;
    // After a FileFormat put that left the list empty the old index remains;
    // it names no entry.
    if (!m_waveFormats.Contains(m_nWaveFormatIdx))
        return E_INVALIDARG;
    return orafon::CatchAtEdge(
        [&] { return orafon::AnsiToBstr(m_waveFormats.DisplayName(m_nFileFormat, m_nWaveFormatIdx), pVal); });
}

STDMETHODIMP CTextToSpeech::get_FileFormat(FILEFORMAT *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = static_cast<FILEFORMAT>(m_nFileFormat);
    return S_OK;
}

STDMETHODIMP CTextToSpeech::put_FileFormat(FILEFORMAT newVal)
{
    return orafon::CatchAtEdge([&] { return RebuildWaveFormats(newVal); });
}

// ---- MP3 to SWF -------------------------------------------------------------------

namespace {

// Makes text the thread's error object, as a failing member of ITextToSpeech.
void SetErrorDescription(const char *text)
{
    CComPtr<ICreateErrorInfo> create;
    if (FAILED(CreateErrorInfo(&create)) || !create)
        return;
    std::u16string wide;
    for (const char *p = text; *p; ++p)
        wide.push_back(static_cast<unsigned char>(*p)); // the descriptions are ASCII
    create->SetGUID(IID_ITextToSpeech);
    create->SetSource(const_cast<LPOLESTR>(u"Orafon.TextToSpeech"));
    create->SetDescription(const_cast<LPOLESTR>(wide.c_str()));
    CComPtr<IErrorInfo> error;
    if (SUCCEEDED(create.QueryInterface(&error)))
        SetErrorInfo(0, error);
}

} // namespace

STDMETHODIMP CTextToSpeech::Mp3ToSWF(BSTR strMp3, BSTR strSWF, VARIANT_BOOL bLoop)
{
    if (!strMp3 || !strSWF)
        return E_INVALIDARG;
    return orafon::CatchAtEdge([&] { return ConvertToSwf(strMp3, strSWF, bLoop); });
}

HRESULT CTextToSpeech::ConvertToSwf(BSTR strMp3, BSTR strSWF, VARIANT_BOOL bLoop)
{
    std::string mp3Path, swfPath;
    SetLastError(ERROR_SUCCESS);
    if (!PathToAnsi(strMp3, mp3Path) || !PathToAnsi(strSWF, swfPath))
        return orafon::ConversionFailure(E_INVALIDARG);
    const bool loop = (static_cast<uint16_t>(bLoop) & 0xFFFFu) != 0;
    Mp3ToSwfFailure why = Mp3ToSwfFailure::None;
    if (ConvertMp3ToSwf(mp3Path.c_str(), swfPath.c_str(), loop, m_nSWFFrameRate, &why) == -1) {
        // The result stays E_UNEXPECTED; the error object says which of the
        // many reasons it was, for a host that shows it.
        SetErrorDescription(DescribeMp3ToSwfFailure(why));
        return E_UNEXPECTED;
    }
    return S_OK;
}

STDMETHODIMP CTextToSpeech::get_SWFFrameRate(LONG *pVal)
{
    if (!pVal)
        return E_INVALIDARG;
    *pVal = m_nSWFFrameRate;
    return S_OK;
}

STDMETHODIMP CTextToSpeech::put_SWFFrameRate(LONG newVal)
{
    if (newVal < 0)
        return E_INVALIDARG;
    m_nSWFFrameRate = newVal;
    return S_OK;
}
