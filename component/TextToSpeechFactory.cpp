#include "TextToSpeechFactory.h"

#include "TextToSpeech.h"

HRESULT CTextToSpeech_CreateInstance(IUnknown *pUnkOuter, REFIID riid, void **ppv)
{
    return CTextToSpeech::CreateInstance(pUnkOuter, riid, ppv);
}
