// One entry of the voice catalogue.
#pragma once

#include <orafon/win/sapi.h>
#include <orafon/win/windows.h>

#include <string>

// Which engine generation serves a voice; SAPIVersion reports this value.
enum VoiceEngineKind : LONG {
    ENGINE_SAPI5 = 0,
    ENGINE_SAPI4 = 1,
};

// Texts are 8-bit, in the ANSI code page of the thread that built the
// catalogue; they are widened on every read. The engine key is the SAPI 5
// voice token (kind 0; copying an entry takes a further reference) or the
// SAPI 4 mode id (kind 1).
struct VoiceInfo {
    LONG EngineKind = ENGINE_SAPI5;
    std::string name;
    std::string gender;
    std::string language;
    CComPtr<ISpObjectToken> token;
    GUID modeId = GUID_NULL;
};
