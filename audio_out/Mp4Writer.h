// CMp4Writer: FF_MP4 files (an AAC track in an MP4 file).
// This build has no encoder for the type yet: open reports E_NOTIMPL and
// creates no file, so every other file type keeps working.
#pragma once

#include "FileWriter.h"

#include <orafon/win/wintypes.h>

class CMp4Writer final : public CFileWriter {
public:
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
