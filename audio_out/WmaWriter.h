// CWmaWriter: FF_WMA files through the Windows Media runtime.
// This build has no encoder for the type yet: open reports E_NOTIMPL and
// creates no file, so every other file type keeps working.
#pragma once

#include "FileWriter.h"

#include <orafon/win/wintypes.h>

class CWmaWriter final : public CFileWriter {
public:
    // Whether the Windows Media runtime's factories were found; the FF_WMA
    // list of target formats is offered only then.
    static bool IsRuntimeAvailable() { return false; }
    HRESULT Open(LONG /*nBitRate*/, DWORD /*nSampleRate*/, WORD /*nChannels*/, const char * /*pszFileName*/)
    {
        return E_NOTIMPL;
    }
    HRESULT Write(ULONG, const BYTE *, ULONG *pcbWritten) override
    {
        if (pcbWritten)
            *pcbWritten = 0;
        return CO_E_NOTINITIALIZED;
    }
    HRESULT Close() override { return S_OK; }
};
