// Engine notifications turned into the object's events.
#include <component/TextToSpeech.h>

#include <algorithm>
#include <cstring>

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

STDMETHODIMP CTextToSpeech::NotifyCallback(WPARAM, LPARAM)
{
    OnSapi5Events();
    return S_OK;
}

void CTextToSpeech::OnSapi5Events()
{
    // Handlers may change the voice or drop the last reference to this object.
    CComPtr<ITextToSpeech> hold(static_cast<ITextToSpeech *>(this));
    CComPtr<ISpVoice> voice = m_spVoice;
    if (!voice)
        return;
    SPEVENT event;
    ULONG fetched = 0;
    while (voice->GetEvents(1, &event, &fetched) == S_OK && fetched == 1) {
        const LONG position = static_cast<LONG>(event.lParam);
        const LONG length = static_cast<LONG>(event.wParam);
        const WORD id = event.eEventId;
        ReleaseSpeechEvent(event);
        switch (id) {
        case SPEI_START_INPUT_STREAM:
            FireOnTTSStart();
            break;
        case SPEI_END_INPUT_STREAM:
            EndOfSpeech(m_bToFile);
            break;
        case SPEI_WORD_BOUNDARY:
            FireOnTTSWord(position - m_nPrefixLen, length);
            if (m_nTextLen > 0)
                FireOnTTSProgress(static_cast<LONG>(static_cast<LONGLONG>(position) * 100 / m_nTextLen));
            break;
        case SPEI_SENTENCE_BOUNDARY:
            FireOnTTSSentence(position - m_nPrefixLen, length);
            break;
        default:
            break;
        }
    }
}

void CTextToSpeech::OnTextDataStarted()
{
    if (m_bSpeaking)
        FireOnTTSStart();
}

void CTextToSpeech::OnTextDataDone(DWORD flags)
{
    if (flags == 0 && m_bSpeaking)
        EndOfSpeech(!m_bDeviceEngine);
}

void CTextToSpeech::OnWordPosition(DWORD byteOffset)
{
    if (!m_bSpeaking)
        return;
    CComPtr<ITextToSpeech> hold(static_cast<ITextToSpeech *>(this));
    const ULONG start = byteOffset / 2;
    const OLECHAR *text = m_bstrText.Get();
    ULONG stop = start;
    while (text && stop < m_nTextLen && text[stop] != u' ' && text[stop] != u'\r' && text[stop] != u'\n')
        ++stop;
    // The length counts the separator after the word (one past the text at its end).
    const LONG length = text ? static_cast<LONG>(stop - start + 1) : 1;
    FireOnTTSWord(static_cast<LONG>(start), length);
    if (m_nTextLen > 0) {
        const ULONGLONG percent = (static_cast<ULONGLONG>(byteOffset) * 100 / 2) / m_nTextLen;
        FireOnTTSProgress(static_cast<LONG>(std::min<ULONGLONG>(percent, 100)));
    }
}
