// The instance maker of CTextToSpeech, called by the module's class factory.
#pragma once

#include "ModuleServices.h"

#include <orafon/win/windows.h>

// Makes a CTextToSpeech (aggregated when pUnkOuter is given; then riid must be
// IUnknown and the non-delegating IUnknown is returned), runs its
// construction and InitObject, and asks it for riid. A failure destroys the
// half-made object and is returned. The object uses module for its module
// lock and type information; module must outlive it.
[[nodiscard]] HRESULT CTextToSpeech_CreateInstance(orafon::ModuleServices &module, IUnknown *pUnkOuter, REFIID riid,
                                                   void **ppv);
