// CSndFileWriter: FF_VOX, FF_AU and FF_AIFF files, told apart by the file format index.
// This build has no encoder for the type yet: open reports E_NOTIMPL and
// creates no file, so every other file type keeps working.
#pragma once

#include "FileWriter.h"

#include <orafon/win/wintypes.h>

class CSndFileWriter final : public CFileWriter {
public:
    HRESULT Open(const WAVEFORMATEX & /*wfxTarget*/, const char * /*pszFileName*/, LONG /*nFileFormat*/)
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
