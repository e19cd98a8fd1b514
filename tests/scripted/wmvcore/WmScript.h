// The controls of the Windows Media runtime's test build
// ("wmvcore_scripted.so": the runtime's sources with the hooks of
// ScriptedRuntime.cpp), exported next to its factories. Tests load that
// build in place of wmvcore.so (WmRuntimeApiSetLibraryName) and resolve the
// controls from the loaded library (GetProcAddress on the handle the
// component's runtime table holds), so they steer the very instance the
// component calls:
//
//   OrafonWmScriptedFormat formats[] = {{2, 22050, 16, 20008 / 8, 0}};
//   OrafonWmScriptedCodec codec = {WMMEDIASUBTYPE_WMAudioV8, formats, 1};
//   setCodecs(&codec, 1);      // profile managers now list this codec only
//   ...
//   setCodecs(nullptr, 0);     // back to the real codec list
#pragma once

#include <orafon/win/wmsdkidl.h>

extern "C" {

// One format of a scripted codec: PCM-like WAVEFORMATEX fields. cbFormat 0
// gives the usual 18-byte block; a smaller value cuts the block short.
struct OrafonWmScriptedFormat {
    WORD nChannels;
    DWORD nSamplesPerSec;
    WORD wBitsPerSample;
    DWORD nAvgBytesPerSec;
    ULONG cbFormat;
};

struct OrafonWmScriptedCodec {
    GUID subtype;
    const OrafonWmScriptedFormat *formats;
    DWORD formatCount;
};

// Replaces the audio codec list of every profile manager made afterwards
// (and of those alive: they read the list at each call); null or 0 restores
// the real list. The writer encodes only the real codec's formats.
typedef void (*PFNORAFONWMSETSCRIPTEDCODECS)(const OrafonWmScriptedCodec *codecs, DWORD count);
// Objects of the runtime alive now, and made since the library was loaded.
typedef LONG (*PFNORAFONWMOBJECTCOUNT)(void);
// Records the size and time of every sample writers are given, from now on.
typedef void (*PFNORAFONWMSTARTSAMPLELOG)(void);
typedef DWORD (*PFNORAFONWMSAMPLELOGCOUNT)(void);
typedef BOOL (*PFNORAFONWMSAMPLELOGENTRY)(DWORD index, DWORD *pcb, QWORD *pcnsTime);
// While set, AllocateSample fails with E_OUTOFMEMORY.
typedef void (*PFNORAFONWMFAILALLOCATIONS)(BOOL fail);

#define TEXT_ORAFONWM_SETSCRIPTEDCODECS "OrafonWm_SetScriptedAudioCodecs"
#define TEXT_ORAFONWM_LIVEOBJECTS "OrafonWm_LiveObjects"
#define TEXT_ORAFONWM_OBJECTSMADE "OrafonWm_ObjectsMade"
#define TEXT_ORAFONWM_STARTSAMPLELOG "OrafonWm_StartSampleLog"
#define TEXT_ORAFONWM_SAMPLELOGCOUNT "OrafonWm_SampleLogCount"
#define TEXT_ORAFONWM_SAMPLELOGENTRY "OrafonWm_SampleLogEntry"
#define TEXT_ORAFONWM_FAILALLOCATIONS "OrafonWm_FailAllocations"

void OrafonWm_SetScriptedAudioCodecs(const OrafonWmScriptedCodec *codecs, DWORD count);
LONG OrafonWm_LiveObjects(void);
LONG OrafonWm_ObjectsMade(void);
void OrafonWm_StartSampleLog(void);
DWORD OrafonWm_SampleLogCount(void);
BOOL OrafonWm_SampleLogEntry(DWORD index, DWORD *pcb, QWORD *pcnsTime);
void OrafonWm_FailAllocations(BOOL fail);
}
