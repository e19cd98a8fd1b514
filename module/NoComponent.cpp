// Built into Orafon.so only while the component library is not part of the
// build: the class factory then has no object to make and says so.
#include "component/TextToSpeechFactory.h"

HRESULT CTextToSpeech_CreateInstance(orafon::ModuleServices &, IUnknown *, REFIID, void **ppv)
{
    if (ppv)
        *ppv = nullptr;
    return E_NOTIMPL;
}
