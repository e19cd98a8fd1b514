// Test modes for the SAPI 4 stand-in: an engine mode whose format, attribute
// ranges, word positions and failures a test defines. Scripted modes are
// listed after the flite modes by the mode enumerator and selected like any
// other; they speak a 440 Hz tone instead of a voice.
#pragma once

#include <orafon/win/speech.h>

struct OrafonScriptedMode {
    const char16_t *name; // szModeName
    WORD gender;          // GENDER_*
    LANGID language;
    WAVEFORMATEX format; // PCM, 8 or 16 bits
    DWORD speedMin, speedMax, speedDefault;
    WORD pitchMin, pitchMax, pitchDefault;
    DWORD volumeMin, volumeMax, volumeDefault;
    // WordPosition byte offsets to report, in order, each followed by
    // bytesPerWord of PCM; when wordOffsets is null, the start of every
    // space-separated word of the text is reported.
    const DWORD *wordOffsets;
    DWORD wordCount;
    DWORD bytesPerWord;
    // Results of the engine calls (S_OK for none); indexed by OrafonScriptedCall.
    HRESULT results[8];
};

enum OrafonScriptedCall {
    ORAFON_SCRIPTED_SELECT = 0,
    ORAFON_SCRIPTED_TEXTDATA,
    ORAFON_SCRIPTED_SPEEDGET,
    ORAFON_SCRIPTED_SPEEDSET,
    ORAFON_SCRIPTED_PITCHGET,
    ORAFON_SCRIPTED_PITCHSET,
    ORAFON_SCRIPTED_VOLUMEGET,
    ORAFON_SCRIPTED_VOLUMESET,
};

// What the engines of a scripted mode were asked, over all its engines.
struct OrafonScriptedRecord {
    DWORD textDataCalls;
    DWORD lastTextDataFlags;
    DWORD lastTextDataSize; // dwSize, in bytes
    DWORD speedSetCalls, pitchSetCalls, volumeSetCalls;
    // The last values asked for, before they were clamped to the range.
    DWORD lastSpeedSet;
    WORD lastPitchSet;
    DWORD lastVolumeSet;
    // Notifications the engines queued for the caller's thread, those of them
    // that announce the end of a text (finished or aborted), and those
    // delivered to their sink: a test waits on these instead of a clock.
    DWORD notificationsPosted;
    DWORD doneNotificationsPosted;
    DWORD notificationsDelivered;
};

// Adds a scripted mode; returns its mode id. The description is copied.
EXTERN_C ORAFON_EXPORT GUID OrafonSapi4_AddScriptedMode(const OrafonScriptedMode *mode);
// The record of a scripted mode; E_INVALIDARG for an unknown mode id.
EXTERN_C ORAFON_EXPORT HRESULT OrafonSapi4_GetScriptedRecord(const GUID *modeId, OrafonScriptedRecord *record);
// Removes every scripted mode (engines already selected keep theirs) and their records.
EXTERN_C ORAFON_EXPORT void OrafonSapi4_RemoveScriptedModes(void);
