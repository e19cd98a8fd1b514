// The process-wide table of the AAC encoder library's entry points
// ("aac_enc.so", the libfaac-style interface of <orafon/win/faac.h>), loaded
// at run time.
//
// The library is looked for beside the module that contains this code first,
// then by its plain name through the loader's search path. Without it (or
// without any of its entries) MP4 output reports E_NOTIMPL; nothing else
// depends on it.
#pragma once

#include <orafon/win/faac.h>
#include <orafon/win/winbase.h>

struct AacEncoderApi {
    FAACENCOPEN faacEncOpen = nullptr;
    FAACENCGETCURRENTCONFIGURATION faacEncGetCurrentConfiguration = nullptr;
    FAACENCSETCONFIGURATION faacEncSetConfiguration = nullptr;
    FAACENCGETDECODERSPECIFICINFO faacEncGetDecoderSpecificInfo = nullptr;
    FAACENCENCODE faacEncEncode = nullptr;
    FAACENCCLOSE faacEncClose = nullptr;
    FAACENCFREEDECODERSPECIFICINFO faacEncFreeDecoderSpecificInfo = nullptr;
    HMODULE hModule = nullptr;

    // Every entry a file needs is there.
    [[nodiscard]] bool IsComplete() const
    {
        return faacEncOpen && faacEncGetCurrentConfiguration && faacEncSetConfiguration &&
               faacEncGetDecoderSpecificInfo && faacEncEncode && faacEncClose && faacEncFreeDecoderSpecificInfo;
    }
};

// A copy of the table; entries are null until a successful load. A writer
// keeps the copy it opened with, so a later load elsewhere never changes the
// entry points under an encoder in use.
AacEncoderApi AacEncoderApiGet();
// Loads the library and resolves the names once; later calls do nothing
// while it is loaded. Called when the component's module loads and again by
// the MP4 writer while the table is incomplete.
void AacEncoderApiLoad();
// Releases the library and clears the table (the component's module unload).
void AacEncoderApiUnload();
// The file name looked for ("aac_enc.so"). Tests point it at a missing file;
// takes effect at the next load.
void AacEncoderApiSetLibraryName(const char *pszName);
