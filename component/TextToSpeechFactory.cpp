#include "TextToSpeechFactory.h"

#include "TextToSpeech.h"

[[nodiscard]] HRESULT CTextToSpeech_CreateInstance(orafon::ModuleServices &module, IUnknown *pUnkOuter, REFIID riid,
                                                   void **ppv)
{
    return CTextToSpeech::CreateInstance(module, pUnkOuter, riid, ppv);
}
