// Speaking through the scripted engines: exact event figures, the markup
// retries, the flag rules, StopTTS, SAPI 4 attribute mapping, re-entrant
// hosts and teardown while speaking.
#include "SpeechTestSupport.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace speechtest {
namespace {

using orafon::sapi5::ScriptedVoiceCalls;
using orafon::sapi5::ScriptStep;

class SpeechScripted : public ScriptedEngines {
protected:
    // A subject with the named entry selected.
    static void Select(Subject &s, const std::u16string &name)
    {
        const LONG index = s.Find(name);
        ASSERT_GE(index, 0);
        ASSERT_EQ(s->put_VoiceIdx(index), S_OK);
    }

    static size_t CountOf(const Subject &s, DISPID id)
    {
        return static_cast<size_t>(std::count_if(s.sink.received.begin(), s.sink.received.end(),
                                                 [id](const ReceivedEvent &e) { return e.id == id; }));
    }
};

// ---- SAPI 5 --------------------------------------------------------------------

struct PitchCase {
    LONG pitch;
    std::u16string prefix;
    LPARAM lParam; // the word "world" in the string the engine was given
    LONG progress;
};

TEST_F(SpeechScripted, Sapi5PitchPrefixShiftsWordPositionsButNotProgress)
{
    const PitchCase cases[] = {
        {0, u"", 6, 54},                              // 600 / 11
        {3, u"<pitch absmiddle=\"3\"/>", 28, 84},     // 2800 / 33
        {-10, u"<pitch absmiddle=\"-10\"/>", 30, 85}, // 3000 / 35
    };
    for (const PitchCase &c : cases) {
        SCOPED_TRACE(c.pitch);
        AddVoice(u"OrafonPitchVoice", u"Orafon Pitch Voice",
                 Script({ScriptStep::Audio(3200), ScriptStep::Event(SPEI_WORD_BOUNDARY, 5, c.lParam),
                         ScriptStep::Audio(3200)}));
        Subject s;
        ASSERT_TRUE(s.tts);
        Select(s, u"Orafon Pitch Voice");
        ASSERT_EQ(s->put_Pitch(c.pitch), S_OK);
        const size_t callsBefore = ScriptedVoiceCalls(u"OrafonPitchVoice").size();
        Bstr text(u"Hello world");
        ASSERT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
        // Synchronous: everything has arrived when Speak returns.
        EXPECT_EQ(s.sink.received,
                  (std::vector<ReceivedEvent>{Start(), Word(6, 5), Progress(c.progress), Progress(100), End()}))
            << Describe(s.sink.received);
        const auto calls = ScriptedVoiceCalls(u"OrafonPitchVoice");
        ASSERT_EQ(calls.size(), callsBefore + 1);
        EXPECT_EQ(calls.back().text, c.prefix + u"Hello world");
        EXPECT_EQ(calls.back().flags, static_cast<DWORD>(SPF_ASYNC | SPF_IS_XML));
        s.Release();
        TearDown();
    }
}

struct RetryCase {
    LONG pitch;
    std::u16string second;
    DWORD secondFlags;
};

TEST_F(SpeechScripted, Sapi5MarkupRefusedIsRetriedOnce)
{
    const RetryCase cases[] = {
        {0, u"Hi <b> bye", SPF_ASYNC},
        {2, u"<pitch absmiddle=\"2\"/>Hi  b  bye", SPF_ASYNC | SPF_IS_XML},
    };
    for (const RetryCase &c : cases) {
        SCOPED_TRACE(c.pitch);
        orafon::sapi5::VoiceScript script = Script({ScriptStep::Audio(1600)});
        script.speakResults = {SPERR_XML_BAD_SYNTAX};
        AddVoice(u"OrafonRetryVoice", u"Orafon Retry Voice", script);
        Subject s;
        ASSERT_TRUE(s.tts);
        Select(s, u"Orafon Retry Voice");
        ASSERT_EQ(s->put_Pitch(c.pitch), S_OK);
        const size_t callsBefore = ScriptedVoiceCalls(u"OrafonRetryVoice").size();
        Bstr text(u"Hi <b> bye");
        EXPECT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
        const auto calls = ScriptedVoiceCalls(u"OrafonRetryVoice");
        ASSERT_EQ(calls.size(), callsBefore + 2);
        EXPECT_EQ(calls[callsBefore].result, SPERR_XML_BAD_SYNTAX);
        EXPECT_EQ(calls[callsBefore + 1].text, c.second);
        EXPECT_EQ(calls[callsBefore + 1].flags, c.secondFlags);
        EXPECT_EQ(s.Ends(), 1u);
        s.Release();
        TearDown();
    }
}

TEST_F(SpeechScripted, Sapi5FailingSpeakEndsTheRequestWithoutEvents)
{
    orafon::sapi5::VoiceScript script = Script({ScriptStep::Audio(1600)});
    script.speakResults = {E_ACCESSDENIED};
    AddVoice(u"OrafonFailVoice", u"Orafon Fail Voice", script);
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Fail Voice");
    Bstr text(u"Hello");
    EXPECT_EQ(s->Speak(text, TF_DEFAULT), E_ACCESSDENIED);
    // The refused call started no run of the engine: nothing can follow.
    EXPECT_EQ(orafon::sapi5::ScriptedVoiceRuns(u"OrafonFailVoice").started, 0u);
    DrainMessages();
    EXPECT_TRUE(s.sink.received.empty()) << Describe(s.sink.received);
    // The next request speaks normally.
    EXPECT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
    EXPECT_EQ(s.sink.received.back(), End());
    EXPECT_EQ(s->Speak(nullptr, TF_DEFAULT), E_INVALIDARG);
}

TEST_F(SpeechScripted, Sapi5StopRightAfterASynchronousRequestLeavesTheNextOneSpeaking)
{
    // StopTTS lands while the voice is still retiring the request whose end
    // was just reported; the device must not be reset under it, or the next
    // synchronous request waits for ever for its audio to be heard.
    AddVoice(u"OrafonStopAfterVoice", u"Orafon Stop After Voice", Script({ScriptStep::Audio(640)}));
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Stop After Voice");
    Bstr text(u"Hello");
    for (size_t round = 1; round <= 20; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
        ASSERT_EQ(s.Ends(), round);
        ASSERT_EQ(s->StopTTS(), S_OK);
    }
}

TEST_F(SpeechScripted, Sapi5OnlyTheDefaultFlagWaits)
{
    AddVoice(u"OrafonFlagVoice", u"Orafon Flag Voice",
             Script({ScriptStep::Audio(1600), ScriptStep::Event(SPEI_WORD_BOUNDARY, 5, 0), ScriptStep::Audio(1600)}));
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Flag Voice");
    Bstr text(u"Hello");
    for (TTSFLAG flag : {TF_WITHTAG, TF_ASYNC, static_cast<TTSFLAG>(TF_ASYNC | TF_WITHTAG)}) {
        SCOPED_TRACE(flag);
        s.sink.received.clear();
        ASSERT_EQ(s->Speak(text, flag), S_OK);
        // Events come only through this thread's messages, none dispatched yet.
        EXPECT_TRUE(s.sink.received.empty()) << Describe(s.sink.received);
        ASSERT_TRUE(PumpUntil([&] { return s.Ends() == 1; }));
        EXPECT_EQ(s.sink.received, (std::vector<ReceivedEvent>{Start(), Word(0, 5), Progress(0), Progress(100), End()}))
            << Describe(s.sink.received);
    }
}

TEST_F(SpeechScripted, Sapi5SentenceEventsAreReportedWithoutThePrefix)
{
    AddVoice(u"OrafonSentenceVoice", u"Orafon Sentence Voice",
             Script({ScriptStep::Event(SPEI_SENTENCE_BOUNDARY, 3, 22), ScriptStep::Audio(800),
                     ScriptStep::Event(SPEI_SENTENCE_BOUNDARY, 4, 26), ScriptStep::Audio(800)}));
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Sentence Voice");
    ASSERT_EQ(s->put_Pitch(5), S_OK);
    Bstr text(u"Hi. Bye.");
    ASSERT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
    EXPECT_EQ(s.sink.received,
              (std::vector<ReceivedEvent>{Start(), Sentence(0, 3), Sentence(4, 4), Progress(100), End()}))
        << Describe(s.sink.received);
}

// ---- SAPI 4 --------------------------------------------------------------------

TEST_F(SpeechScripted, Sapi4WordPositionsGiveStartLengthAndPercent)
{
    OrafonScriptedMode mode = Mode();
    const DWORD offsets[] = {0, 12};
    mode.wordOffsets = offsets;
    mode.wordCount = 2;
    OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Scripted Mode");
    LONG version = -1;
    EXPECT_EQ(s->get_SAPIVersion(&version), S_OK);
    EXPECT_EQ(version, 1);
    Bstr text(u"Hello world");
    ASSERT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
    EXPECT_EQ(s.sink.received, (std::vector<ReceivedEvent>{Start(), Word(0, 6), Progress(0), Word(6, 6), Progress(54),
                                                           Progress(100), End()}))
        << Describe(s.sink.received);
    EXPECT_EQ(CountOf(s, DISPID_TTS_ONTTSSENTENCE), 0u);
}

TEST_F(SpeechScripted, Sapi4TaggedTextWaitsAndOnlyAsyncReturnsAtOnce)
{
    const OrafonScriptedMode mode = Mode();
    const GUID id = OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Scripted Mode");
    Bstr text(u"Hello world");

    struct Case {
        TTSFLAG flag;
        DWORD dataFlags;
        bool waits;
    };
    const Case cases[] = {
        {TF_DEFAULT, 0, true},
        {TF_WITHTAG, TTSDATAF_TAGGED, true},
        {TF_ASYNC, 0, false},
        {static_cast<TTSFLAG>(TF_ASYNC | TF_WITHTAG), TTSDATAF_TAGGED, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.flag);
        s.sink.received.clear();
        ASSERT_EQ(s->Speak(text, c.flag), S_OK);
        EXPECT_EQ(s.Ends(), c.waits ? 1u : 0u) << Describe(s.sink.received);
        EXPECT_EQ(Record(id).lastTextDataFlags, c.dataFlags);
        ASSERT_TRUE(PumpUntil([&] { return s.Ends() == 1; }));
        ASSERT_GE(s.sink.received.size(), 3u);
        // The last word, then 100 % directly before the end.
        const size_t n = s.sink.received.size();
        EXPECT_EQ(s.sink.received[n - 3], Progress(54));
        EXPECT_EQ(s.sink.received[n - 2], Progress(100));
        EXPECT_EQ(s.sink.received[n - 1], End());
    }
}

TEST_F(SpeechScripted, Sapi4StopFiresProgressAndEndBeforeReturning)
{
    OrafonScriptedMode mode = Mode();
    mode.bytesPerWord = 32000;
    const GUID id = OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Scripted Mode");
    Bstr text(u"one two three four five six seven eight nine ten");
    ASSERT_EQ(s->Speak(text, TF_ASYNC), S_OK);
    ASSERT_EQ(s->StopTTS(), S_OK);
    ASSERT_GE(s.sink.received.size(), 2u);
    const size_t n = s.sink.received.size();
    EXPECT_EQ(s.sink.received[n - 2], Progress(100));
    EXPECT_EQ(s.sink.received[n - 1], End());
    // The engine's aborted notification adds no second end.
    ASSERT_TRUE(PumpUntil([&] { return ModeQuiet(id); }));
    EXPECT_EQ(s.Ends(), 1u) << Describe(s.sink.received);
    // Pause and Resume without a request in progress are harmless.
    EXPECT_EQ(s->Pause(), S_OK);
    EXPECT_EQ(s->Resume(), S_OK);
}

TEST_F(SpeechScripted, Sapi4StopAfterTheEngineFinishedEndsOnce)
{
    const OrafonScriptedMode mode = Mode();
    const GUID id = OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Scripted Mode");
    Bstr text(u"Hello world");
    ASSERT_EQ(s->Speak(text, TF_ASYNC), S_OK);
    // The engine finishes and queues its done notification while nothing is
    // dispatched; the host stops before the notification is delivered.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Record(id).doneNotificationsPosted == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_GE(Record(id).doneNotificationsPosted, 1u);
    ASSERT_EQ(s->StopTTS(), S_OK);
    EXPECT_EQ(s.Ends(), 1u);
    ASSERT_TRUE(PumpUntil([&] { return ModeQuiet(id); }));
    // Nothing of the request that was stopped is reported after its end.
    EXPECT_EQ(s.sink.received, (std::vector<ReceivedEvent>{Progress(100), End()})) << Describe(s.sink.received);
}

struct AttributeCase {
    LONG rate, volume, pitch;
    DWORD speed, engineVolume;
    WORD enginePitch;
};

TEST_F(SpeechScripted, Sapi4PropertiesAreMappedOntoTheEngineRanges)
{
    const OrafonScriptedMode mode = Mode();
    const GUID id = OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Scripted Mode");
    // speed 50..350 (150), pitch 60..240 (120), volume 0..65535.
    const AttributeCase cases[] = {
        {0, 100, 0, 150, 65534, 120}, // the single-precision hundredth stays just under the top
        {5, 50, 5, 250, 32767, 180},   {-5, 0, -5, 100, 0, 90},     {10, 1, 10, 350, 655, 240},
        {-10, 99, -10, 50, 64879, 60}, {3, 33, -7, 210, 21626, 78},
    };
    Bstr text(u"Hi");
    for (const AttributeCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << "/" << c.volume << "/" << c.pitch);
        ASSERT_EQ(s->put_Rate(c.rate), S_OK);
        ASSERT_EQ(s->put_Volume(c.volume), S_OK);
        ASSERT_EQ(s->put_Pitch(c.pitch), S_OK);
        LONG rate = 99, volume = 99;
        EXPECT_EQ(s->get_Rate(&rate), S_OK);
        EXPECT_EQ(s->get_Volume(&volume), S_OK);
        EXPECT_EQ(rate, c.rate);
        EXPECT_EQ(volume, c.volume);
        ASSERT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
        const OrafonScriptedRecord record = Record(id);
        EXPECT_EQ(record.lastSpeedSet, c.speed);
        EXPECT_EQ(record.lastVolumeSet, c.engineVolume);
        EXPECT_EQ(record.lastPitchSet, c.enginePitch);
    }
}

TEST_F(SpeechScripted, Sapi4EngineFailuresEndTheRequestWithTheirCode)
{
    OrafonScriptedMode mode = Mode(u"Orafon Refusing Mode");
    mode.results[ORAFON_SCRIPTED_TEXTDATA] = TTSERR_QUEUEFULL;
    const GUID id = OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Refusing Mode");
    Bstr text(u"Hello");
    EXPECT_EQ(s->Speak(text, TF_DEFAULT), TTSERR_QUEUEFULL);
    // The refused text queued no notification: nothing can follow.
    EXPECT_EQ(Record(id).notificationsPosted, 0u);
    DrainMessages();
    EXPECT_TRUE(s.sink.received.empty()) << Describe(s.sink.received);
    // StopTTS after the failed request fires nothing that was not asked for twice.
    EXPECT_EQ(s->StopTTS(), S_OK);
}

// ---- Re-entrant hosts ----------------------------------------------------------

TEST_F(SpeechScripted, StopFromInsideAWordHandlerEndsTheSynchronousRequest)
{
    const OrafonScriptedMode mode = Mode();
    const GUID id = OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Scripted Mode");
    ITextToSpeech *tts = s.tts.get();
    bool stopped = false;
    s.sink.onEvent = [tts, &stopped](EventSink &, DISPID dispid, EXCEPINFO *) {
        if (dispid == DISPID_TTS_ONTTSWORD && !stopped) {
            stopped = true;
            EXPECT_EQ(tts->StopTTS(), S_OK);
        }
        return S_OK;
    };
    Bstr text(u"one two three four five");
    EXPECT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
    // The stop ended the wait: the end is there when Speak returns.
    EXPECT_EQ(s.Ends(), 1u) << Describe(s.sink.received);
    ASSERT_TRUE(PumpUntil([&] { return ModeQuiet(id); }));
    // Nothing of the stopped text is reported afterwards.
    EXPECT_EQ(s.Ends(), 1u) << Describe(s.sink.received);
    EXPECT_EQ(CountOf(s, DISPID_TTS_ONTTSWORD), 1u) << Describe(s.sink.received);
}

TEST_F(SpeechScripted, SpeakFromInsideAStartHandlerIsServed)
{
    AddVoice(u"OrafonNestVoice", u"Orafon Nest Voice",
             Script({ScriptStep::Audio(1600), ScriptStep::Event(SPEI_WORD_BOUNDARY, 2, 0), ScriptStep::Audio(1600)}));
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Nest Voice");
    ITextToSpeech *tts = s.tts.get();
    bool nested = false;
    s.sink.onEvent = [tts, &nested](EventSink &, DISPID id, EXCEPINFO *) {
        if (id == DISPID_TTS_ONTTSSTART && !nested) {
            nested = true;
            Bstr again(u"Again");
            EXPECT_EQ(tts->Speak(again, TF_ASYNC), S_OK);
        }
        return S_OK;
    };
    Bstr text(u"Hi");
    EXPECT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
    // The nested Speak drops the voice's events still queued: when the first
    // text's end was queued already (a busy machine), it is never reported.
    ASSERT_TRUE(PumpUntil([&] { return CountOf(s, DISPID_TTS_ONTTSSTART) == 2 && s.sink.received.back() == End(); }))
        << Describe(s.sink.received);
    ASSERT_TRUE(PumpUntil([&] { return VoiceQuiet(u"OrafonNestVoice"); }));
    DrainMessages();
    EXPECT_TRUE(nested);
    EXPECT_EQ(CountOf(s, DISPID_TTS_ONTTSSTART), 2u) << Describe(s.sink.received);
    EXPECT_GE(s.Ends(), 1u);
    EXPECT_LE(s.Ends(), 2u);
    EXPECT_EQ(s.sink.received.back(), End());
}

// ---- Teardown while speaking ---------------------------------------------------

TEST_F(SpeechScripted, ReleasingWhileASapi5RequestSpeaksReachesNothingLater)
{
    std::vector<ScriptStep> steps;
    for (int i = 0; i < 8; ++i) {
        steps.push_back(ScriptStep::Audio(1600));
        steps.push_back(ScriptStep::Event(SPEI_WORD_BOUNDARY, 2, 0));
        steps.push_back(ScriptStep::Sleep(20));
    }
    AddVoice(u"OrafonTeardownVoice", u"Orafon Teardown Voice", Script(steps));
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Teardown Voice");
    Bstr text(u"Hi");
    ASSERT_EQ(s->Speak(text, TF_ASYNC), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return CountOf(s, DISPID_TTS_ONTTSWORD) >= 1; }));
    const size_t seen = s.sink.received.size();
    s.Release();
    ASSERT_TRUE(PumpUntil([&] { return VoiceQuiet(u"OrafonTeardownVoice"); }));
    DrainMessages();
    EXPECT_EQ(s.sink.received.size(), seen) << Describe(s.sink.received);
    EXPECT_EQ(s.sink.refCount, 1u);
}

TEST_F(SpeechScripted, ReleasingWhileASapi4RequestSpeaksReachesNothingLater)
{
    OrafonScriptedMode mode = Mode();
    mode.bytesPerWord = 16000;
    const GUID id = OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    Select(s, u"Orafon Scripted Mode");
    Bstr text(u"one two three four five six");
    ASSERT_EQ(s->Speak(text, TF_ASYNC), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return CountOf(s, DISPID_TTS_ONTTSSTART) >= 1; }));
    const size_t seen = s.sink.received.size();
    s.Release();
    ASSERT_TRUE(PumpUntil([&] { return ModeQuiet(id); }));
    DrainMessages();
    EXPECT_EQ(s.sink.received.size(), seen) << Describe(s.sink.received);
    EXPECT_EQ(s.sink.refCount, 1u);
}

} // namespace
} // namespace speechtest
