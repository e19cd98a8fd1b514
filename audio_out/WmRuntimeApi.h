// The process-wide table of the Windows Media runtime's factories
// ("wmvcore.so"), loaded at run time.
//
// The library is looked for beside the module that contains this code first,
// then by its plain name through the loader's search path. The runtime counts
// as available when "WMCreateWriter", "WMCreateProfileManager" and
// "WMCreateEditor" are all found; without them the FF_WMA catalogue is empty
// and the WMA writer refuses to open (E_NOTIMPL) without calling into it.
#pragma once

#include <orafon/win/winbase.h>
#include <orafon/win/wmsdkidl.h>

struct WmRuntimeApi {
    PFNWMCREATEWRITER WMCreateWriter = nullptr;
    PFNWMCREATEPROFILEMANAGER WMCreateProfileManager = nullptr;
    PFNWMCREATEEDITOR WMCreateEditor = nullptr;
    PFNWMCREATESYNCREADER WMCreateSyncReader = nullptr; // resolved, never called
    HMODULE hModule = nullptr;

    [[nodiscard]] bool IsAvailable() const { return WMCreateWriter && WMCreateProfileManager && WMCreateEditor; }
};

// A copy of the table; entries are null until a successful load. A writer
// keeps the copy it opened with.
WmRuntimeApi WmRuntimeApiGet();
// Loads the library and resolves the names once; later calls do nothing
// while it is loaded. Called when the component's module loads, and by the
// catalogue and the writer while the runtime is not available.
void WmRuntimeApiLoad();
// Releases the library and clears the table (the component's module unload).
void WmRuntimeApiUnload();
// The file name looked for ("wmvcore.so"). Tests point it at a variant or at
// a missing file; takes effect at the next load.
void WmRuntimeApiSetLibraryName(const char *pszName);
