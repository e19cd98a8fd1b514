// A test voice whose behaviour the test decides: its PCM format, the events
// and positions it reports, the result of each Speak call. It is registered
// through a voice token like any voice (its "CLSID" names the scripted
// engine), so code under test finds, selects and drives it through the
// ordinary interfaces. Part of the test library orafon_scripted_sapi5, which
// registers its engine class with liborafon_sapi5.so.
//
//   VoiceScript script;
//   script.format = MakeScriptFormat(16000, 1, 16);
//   script.speakResults = {SPERR_XML_BAD_SYNTAX};       // first Speak fails
//   script.steps = {ScriptStep::Audio(3200),
//                   ScriptStep::Event(SPEI_WORD_BOUNDARY, 5, 28),
//                   ScriptStep::Audio(3200)};
//   RegisterScriptedVoice(u"TestVoice", u"Test Voice", script);
//
// A Speak call is first answered from speakResults (and recorded with its
// text and flags); a call the script accepts still goes through the voice's
// markup check, so malformed markup gives SPERR_XML_BAD_SYNTAX as with any
// voice. Every accepted request then produces: SPEI_START_INPUT_STREAM, the steps
// in order (audio written to the voice's output, events queued at their place
// in the audio), SPEI_END_INPUT_STREAM. The output is written from the voice's
// own thread, never from the thread that called Speak.
#pragma once

#include <orafon/win/sapi.h>

#include <string>
#include <vector>

namespace orafon::sapi5 {

struct ScriptStep {
    enum class Kind { Audio, Event, Sleep };
    Kind kind = Kind::Audio;
    ULONG bytes = 0;        // Audio: this many bytes of a square wave in the script's format
    SHORT amplitude = 8000; // Audio
    WORD eventId = 0;       // Event
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::u16string bookmark; // Event SPEI_TTS_BOOKMARK: the mark's name (lParam is then the string)
    DWORD ms = 0;            // Sleep: the engine takes this long before the next step

    static ScriptStep Audio(ULONG bytes, SHORT amplitude = 8000)
    {
        ScriptStep s;
        s.kind = Kind::Audio;
        s.bytes = bytes;
        s.amplitude = amplitude;
        return s;
    }
    static ScriptStep Event(WORD id, WPARAM wParam, LPARAM lParam)
    {
        ScriptStep s;
        s.kind = Kind::Event;
        s.eventId = id;
        s.wParam = wParam;
        s.lParam = lParam;
        return s;
    }
    static ScriptStep Bookmark(std::u16string name, WPARAM number)
    {
        ScriptStep s = Event(SPEI_TTS_BOOKMARK, number, 0);
        s.bookmark = std::move(name);
        return s;
    }
    static ScriptStep Sleep(DWORD ms)
    {
        ScriptStep s;
        s.kind = Kind::Sleep;
        s.ms = ms;
        return s;
    }
};

struct VoiceScript {
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 16000, 32000, 2, 16, 0};
    // The result of the n-th Speak call with text (S_OK past the end). A
    // failing call queues nothing.
    std::vector<HRESULT> speakResults;
    std::vector<ScriptStep> steps;
    // Token attributes.
    std::u16string gender = u"Female";
    std::u16string language = u"409";
    std::u16string age = u"Adult";
};

// One Speak call the voice received, with the text and flags as given.
struct ScriptedCall {
    std::u16string text;
    DWORD flags = 0;
    HRESULT result = S_OK;
};

// How many requests the voice's engine has begun and how many it has left,
// finished or cancelled (its audio and events are then all in the voice's
// hands). A test waits on these instead of a clock.
struct ScriptedRuns {
    size_t started = 0;
    size_t finished = 0;
};

// Writes the token "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Speech\Voices\Tokens\<tokenName>"
// and sets (or replaces) its script for this process.
ORAFON_EXPORT HRESULT RegisterScriptedVoice(const std::u16string &tokenName, const std::u16string &displayName,
                                            const VoiceScript &script);
// The Speak calls the voice has received since it was registered.
ORAFON_EXPORT std::vector<ScriptedCall> ScriptedVoiceCalls(const std::u16string &tokenName);
// The runs of the voice's engine since it was registered.
ORAFON_EXPORT ScriptedRuns ScriptedVoiceRuns(const std::u16string &tokenName);
// Removes the token and forgets the script (or what an observed voice saw).
ORAFON_EXPORT HRESULT UnregisterScriptedVoice(const std::u16string &tokenName);

// An observed voice speaks with the engine of another token (an espeak-ng
// voice, say), unchanged, and lets a test see how far its latest request has
// filled the queue of audio waiting for the voice's output, as the engine
// sees it:
//
//   RegisterObservedVoice(u"Observed", u"eSpeakNG.gmw.en-US");
//   ... a paused voice on "Observed" speaks a long text ...
//   while (!ObservedVoiceHeldBack(u"Observed")) ...
//
// Writes the token "...\Voices\Tokens\<tokenName>" naming the observing
// engine class and the base token's id.
ORAFON_EXPORT HRESULT RegisterObservedVoice(const std::u16string &tokenName, const std::u16string &baseTokenName);
// True while the latest request of the voice's engine, not cancelled, holds
// more than a third of its queue's room: the engine then starts no further
// piece of it until the voice's output takes some.
ORAFON_EXPORT bool ObservedVoiceHeldBack(const std::u16string &tokenName);

} // namespace orafon::sapi5
