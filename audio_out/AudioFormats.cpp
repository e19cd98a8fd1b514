// The wave-format catalogue: each file type's fixed list of target formats
// and nominal bit rates, as its row of the file-type table gives it.
#include "AudioSink.h"
#include "FileType.h"

HRESULT CAudioSink::EnumFormats(LONG nFileFormat, PFNADDWAVEFORMAT pfnAdd, void *pContext)
{
    if (!pfnAdd)
        return E_INVALIDARG;
    const FileTypeDescriptor *type = FindFileType(nFileFormat);
    // No row, or a writer missing on this machine: the catalogue comes out empty.
    if (!type || !IsFileTypeAvailable(*type))
        return S_OK;
    for (const FormatEntry &entry : type->formats) {
        const WAVEFORMATEX wfx = TargetFormatOf(entry);
        pfnAdd(&wfx, BitRateOf(entry), pContext);
    }
    return S_OK;
}
