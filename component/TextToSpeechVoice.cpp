// The object's side of the speech bridge: the voice catalogue, voice
// selection, speaking and the engine's rate and volume.
//
// No speech engine is connected in this build, so the catalogue is empty and
// the object behaves as on a machine with no voice installed. Every member
// that needs a voice checks HasVoice() first, so the engine calls below are
// reached only once EnumVoices lists voices.
#include "TextToSpeech.h"

HRESULT CTextToSpeech::EnumVoices()
{
    m_aVoices.clear();
    return S_OK;
}

HRESULT CTextToSpeech::SelectVoice(LONG index)
{
    if (index < 0 || index >= static_cast<LONG>(m_aVoices.size()))
        return E_INVALIDARG;
    // Without an engine a listed voice cannot be made ready.
    return E_FAIL;
}

HRESULT CTextToSpeech::ReleaseVoice(LONG)
{
    return S_OK;
}

HRESULT CTextToSpeech::SpeakRequest(BSTR, BSTR, TTSFLAG)
{
    // A request still marked as running is ended first; with no voice to
    // speak with, the text state is cleared and the request fails.
    m_bSpeaking = false;
    m_nTextLen = 0;
    m_bstrText.Reset();
    return E_FAIL;
}

HRESULT CTextToSpeech::StopSpeaking()
{
    m_bSpeaking = false;
    return S_OK;
}

HRESULT CTextToSpeech::PauseSpeaking()
{
    return S_OK;
}

HRESULT CTextToSpeech::ResumeSpeaking()
{
    return S_OK;
}

HRESULT CTextToSpeech::EngineGetRate(LONG *pRate)
{
    *pRate = m_nRate;
    return S_OK;
}

HRESULT CTextToSpeech::EngineSetRate(LONG)
{
    return S_OK;
}

HRESULT CTextToSpeech::EngineGetVolume(LONG *pVolume)
{
    *pVolume = m_nVolume;
    return S_OK;
}

HRESULT CTextToSpeech::EngineSetVolume(LONG)
{
    return S_OK;
}

void CTextToSpeech::ReleaseVoiceCatalogue() noexcept
{
    m_aVoices.clear();
}
