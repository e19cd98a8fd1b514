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

// The mode most tests speak with: 16 kHz mono 16-bit; speed 50..350 (150),
// pitch 60..240 (120), volume 0..65535 (32768); every word reported,
// bytesPerWord each.
inline OrafonScriptedMode OrafonScriptedStandardMode(const char16_t *name, DWORD bytesPerWord = 2000)
{
    OrafonScriptedMode m{};
    m.name = name;
    m.gender = 2;
    m.language = 1033;
    m.format = {WAVE_FORMAT_PCM, 1, 16000, 32000, 2, 16, 0};
    m.speedMin = 50;
    m.speedMax = 350;
    m.speedDefault = 150;
    m.pitchMin = 60;
    m.pitchMax = 240;
    m.pitchDefault = 120;
    m.volumeMin = 0;
    m.volumeMax = 65535;
    m.volumeDefault = 32768;
    m.bytesPerWord = bytesPerWord;
    return m;
}

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
