// INSSBuffer: the sample buffers of the Windows Media Format runtime.
// Implemented by platform/wmvcore (wmvcore.so, loaded at run time).
#pragma once

#include <orafon/win/unknwn.h>

DEFINE_GUID(IID_INSSBuffer, 0xE1CD3524, 0x03D7, 0x11D2, 0x9E, 0xED, 0x00, 0x60, 0x97, 0xD2, 0xD7, 0xCF);

// A block of memory with a maximum length fixed when it is allocated and a
// length of bytes in use, which the holder sets.
struct INSSBuffer : public IUnknown {
    STDMETHOD(GetLength)(DWORD *pdwLength) PURE;
    // E_INVALIDARG beyond the maximum length.
    STDMETHOD(SetLength)(DWORD dwLength) PURE;
    STDMETHOD(GetMaxLength)(DWORD *pdwLength) PURE;
    STDMETHOD(GetBuffer)(BYTE **ppdwBuffer) PURE;
    STDMETHOD(GetBufferAndLength)(BYTE **ppdwBuffer, DWORD *pdwLength) PURE;
};
ORAFON_DECLARE_IID(INSSBuffer, IID_INSSBuffer);
