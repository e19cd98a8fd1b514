// The process-wide table of the MP3 encoder library's entry points
// ("lame_enc.so", the BladeEnc-style interface), loaded at run time.
//
// The library is looked for beside the module that contains this code first,
// then by its plain name through the loader's search path. Without it (or
// without "beInitStream") MP3 output reports E_NOTIMPL; nothing else depends on it.
#pragma once

#include <orafon/win/BladeMP3EncDLL.h>
#include <orafon/win/winbase.h>

struct Mp3EncoderApi {
    BEINITSTREAM beInitStream = nullptr;
    BEENCODECHUNK beEncodeChunk = nullptr;
    BEDEINITSTREAM beDeinitStream = nullptr;
    BECLOSESTREAM beCloseStream = nullptr;
    BEVERSION beVersion = nullptr;
    BEWRITEVBRHEADER beWriteVBRHeader = nullptr;
    BEWRITEINFOTAG beWriteInfoTag = nullptr;
    HMODULE hModule = nullptr;
};

// A copy of the table; entries are null until a successful load. A writer
// keeps the copy it opened with, so a later load elsewhere never changes the
// entry points under a stream in use.
Mp3EncoderApi Mp3EncoderApiGet();
// Loads the library and resolves the names once; later calls do nothing
// while it is loaded. Called when the component's module loads and again by
// the MP3 writer while "beInitStream" is missing.
void Mp3EncoderApiLoad();
// Releases the library and clears the table (the component's module unload).
void Mp3EncoderApiUnload();
// The file name looked for ("lame_enc.so"). Tests point it at a variant or at
// a missing file; takes effect at the next load.
void Mp3EncoderApiSetLibraryName(const char *pszName);
