// One request per Speak through the object, with scripted engines of both
// generations: a voice changed from a handler ends the request it was
// speaking, a new request finishes the previous file whatever the voice is
// now, FileFormat put during a file request leaves its writer alone, and
// nothing of a request (nor of an engine let go of) is reported after its end.
#include "SpeechTestSupport.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace speechtest {
namespace {

using orafon::sapi5::ScriptedVoiceRuns;
using orafon::sapi5::ScriptStep;

enum class Generation { Sapi5, Sapi4 };

const char *Name(Generation g)
{
    return g == Generation::Sapi5 ? "Sapi5" : "Sapi4";
}

size_t CountOf(const std::vector<ReceivedEvent> &events, DISPID id)
{
    return static_cast<size_t>(
        std::count_if(events.begin(), events.end(), [id](const ReceivedEvent &e) { return e.id == id; }));
}

// A complete WAV file: its RIFF size counts the whole file.
void ExpectFinishedWave(const std::string &path, size_t dataBytes)
{
    const WaveFile wave = ReadWave(path);
    ASSERT_TRUE(wave.valid) << path;
    EXPECT_EQ(static_cast<uint64_t>(wave.riffSize) + 8, wave.fileSize) << path;
    EXPECT_EQ(wave.data.size(), dataBytes) << path;
    // sox reads the same length from the header.
    EXPECT_EQ(CommandOutput("soxi -s '" + path + "' 2>&1"), std::to_string(dataBytes / 2) + "\n");
}

// One scripted engine of each generation (16 kHz mono 16-bit), and a second
// one of each to switch to.
class SpeechRequests : public ScriptedEngines, public testing::WithParamInterface<Generation> {
protected:
    void SetUp() override
    {
        // 3 words, 3200 bytes each, the engine taking its time.
        std::vector<ScriptStep> steps;
        for (LPARAM at : {0, 4, 8}) {
            steps.push_back(ScriptStep::Event(SPEI_WORD_BOUNDARY, 3, at));
            steps.push_back(ScriptStep::Audio(3200));
            steps.push_back(ScriptStep::Sleep(30));
        }
        AddVoice(u"OrafonRequestVoice", u"Orafon Request Voice", Script(steps));
        AddVoice(u"OrafonOtherVoice", u"Orafon Other Voice",
                 Script({ScriptStep::Event(SPEI_WORD_BOUNDARY, 2, 0), ScriptStep::Audio(1600)}));
        OrafonScriptedMode mode = Mode(u"Orafon Request Mode");
        mode.bytesPerWord = 3200;
        m_modeId = OrafonSapi4_AddScriptedMode(&mode);
        const OrafonScriptedMode other = Mode(u"Orafon Other Mode");
        m_otherModeId = OrafonSapi4_AddScriptedMode(&other);
        subject = std::make_unique<Subject>();
        ASSERT_TRUE(subject->tts);
        ASSERT_EQ(s()->put_VoiceIdx(Index(First())), S_OK);
    }
    void TearDown() override
    {
        subject.reset();
        ScriptedEngines::TearDown();
    }

    Subject &s() { return *subject; }
    LONG Index(const std::u16string &name) { return subject->Find(name); }
    static std::u16string First()
    {
        return GetParam() == Generation::Sapi5 ? u"Orafon Request Voice" : u"Orafon Request Mode";
    }
    // The other generation's second engine.
    static std::u16string OtherGeneration()
    {
        return GetParam() == Generation::Sapi5 ? u"Orafon Other Mode" : u"Orafon Other Voice";
    }

    // True once the first engine has nothing more on its way to this thread.
    bool FirstEngineQuiet()
    {
        if (GetParam() == Generation::Sapi5) {
            const auto runs = ScriptedVoiceRuns(u"OrafonRequestVoice");
            return runs.started == runs.finished;
        }
        const OrafonScriptedRecord r = Record(m_modeId);
        return r.doneNotificationsPosted >= 1 && r.notificationsDelivered == r.notificationsPosted;
    }

    // Dispatches until the first engine is quiet, then what is still queued.
    void SettleFirstEngine()
    {
        ASSERT_TRUE(PumpUntil([&] { return FirstEngineQuiet(); }));
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }

    // Puts VoiceIdx to `target` from inside the first OnTTSWord.
    void ChangeVoiceAtFirstWord(LONG target)
    {
        ITextToSpeech *tts = subject->tts.get();
        subject->sink.onEvent = [tts, target, done = false](EventSink &, DISPID id, EXCEPINFO *) mutable {
            if (id == DISPID_TTS_ONTTSWORD && !done) {
                done = true;
                EXPECT_EQ(tts->put_VoiceIdx(target), S_OK);
            }
            return S_OK;
        };
    }

    std::unique_ptr<Subject> subject;
    GUID m_modeId{};
    GUID m_otherModeId{};
};

// ---- A voice changed from a handler ------------------------------------------------------

TEST_P(SpeechRequests, VoiceChangedInAWordHandlerEndsTheSynchronousSpeak)
{
    const LONG other = Index(OtherGeneration());
    ChangeVoiceAtFirstWord(other);
    Bstr text(u"one two three");
    {
        QuitGuard guard;
        EXPECT_EQ(s()->Speak(text, TF_DEFAULT), S_OK);
        ASSERT_FALSE(guard.Fired()) << "the wait did not end: " << Describe(s().sink.received);
    }
    // Ended as a stop ends it: the word, then 100 % and the end, once. (A
    // SAPI 4 word length counts the space after it.)
    const ReceivedEvent word = GetParam() == Generation::Sapi5 ? Word(0, 3) : Word(0, 4);
    EXPECT_EQ(s().sink.received, (std::vector<ReceivedEvent>{Start(), word, Progress(100), End()}))
        << Describe(s().sink.received);
    LONG index = -1;
    EXPECT_EQ(s()->get_VoiceIdx(&index), S_OK);
    EXPECT_EQ(index, other);
    SettleFirstEngine();
    EXPECT_EQ(s().Ends(), 1u) << Describe(s().sink.received);
    EXPECT_EQ(s().sink.received.back(), End());
}

TEST_P(SpeechRequests, VoiceChangedInAWordHandlerFinishesTheSynchronousFile)
{
    ASSERT_EQ(s()->put_FileFormat(FF_WAVE), S_OK);
    ChangeVoiceAtFirstWord(Index(OtherGeneration()));
    const std::string path = TempPath(std::string("changed-in-handler-") + Name(GetParam()) + ".wav");
    Bstr file(U16(path));
    Bstr text(u"one two three");
    bool fileCompleteAtEnd = false;
    auto changeVoice = s().sink.onEvent;
    s().sink.onEvent = [&, changeVoice](EventSink &sink, DISPID id, EXCEPINFO *info) {
        if (id == DISPID_TTS_ONTTSEND) {
            const WaveFile wave = ReadWave(path);
            fileCompleteAtEnd = wave.valid && static_cast<uint64_t>(wave.riffSize) + 8 == wave.fileSize;
        }
        return changeVoice(sink, id, info);
    };
    {
        QuitGuard guard;
        EXPECT_EQ(s()->SpeakToFile(text, file, TF_DEFAULT), S_OK);
        ASSERT_FALSE(guard.Fired()) << "the wait did not end: " << Describe(s().sink.received);
    }
    EXPECT_TRUE(fileCompleteAtEnd);
    EXPECT_EQ(s().Ends(), 1u) << Describe(s().sink.received);
    const WaveFile wave = ReadWave(path);
    ASSERT_TRUE(wave.valid);
    EXPECT_EQ(static_cast<uint64_t>(wave.riffSize) + 8, wave.fileSize);
    // Whatever the engine had made by the first word, and nothing after.
    EXPECT_LE(wave.data.size(), 9600u);
    SettleFirstEngine();
    EXPECT_EQ(ReadWave(path).data.size(), wave.data.size());
    EXPECT_EQ(s().Ends(), 1u) << Describe(s().sink.received);
}

TEST_P(SpeechRequests, VoiceChangedDuringAnAsynchronousRequestReportsItsEnd)
{
    Bstr text(u"one two three");
    ASSERT_EQ(s()->Speak(text, TF_ASYNC), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return CountOf(s().sink.received, DISPID_TTS_ONTTSWORD) >= 1; }));
    ASSERT_EQ(s()->put_VoiceIdx(Index(OtherGeneration())), S_OK);
    // Before the put returns.
    ASSERT_GE(s().sink.received.size(), 2u);
    EXPECT_EQ(s().sink.received.back(), End());
    EXPECT_EQ(s().sink.received[s().sink.received.size() - 2], Progress(100));
    SettleFirstEngine();
    EXPECT_EQ(s().Ends(), 1u) << Describe(s().sink.received);
    EXPECT_EQ(s().sink.received.back(), End());
}

// ---- The previous request's file ------------------------------------------------------------

TEST_P(SpeechRequests, ANewRequestOnTheOtherGenerationLeavesThePreviousFileFinished)
{
    ASSERT_EQ(s()->put_FileFormat(FF_WAVE), S_OK);
    const std::string path = TempPath(std::string("previous-") + Name(GetParam()) + ".wav");
    Bstr file(U16(path));
    Bstr text(u"one two three");
    ASSERT_EQ(s()->SpeakToFile(text, file, TF_ASYNC), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return CountOf(s().sink.received, DISPID_TTS_ONTTSSTART) >= 1; }));
    ASSERT_EQ(s()->put_VoiceIdx(Index(OtherGeneration())), S_OK);
    Bstr next(u"Hi");
    ASSERT_EQ(s()->Speak(next, TF_DEFAULT), S_OK);
    // With the object still alive the earlier file is complete.
    const WaveFile wave = ReadWave(path);
    ASSERT_TRUE(wave.valid);
    EXPECT_EQ(static_cast<uint64_t>(wave.riffSize) + 8, wave.fileSize);
    EXPECT_NE(wave.riffSize, 0u);
    SettleFirstEngine();
    EXPECT_EQ(ReadWave(path).fileSize, wave.fileSize);
}

// ---- FileFormat put while a file is written --------------------------------------------------

TEST_P(SpeechRequests, FileFormatPutDuringAFileRequestKeepsItsWriter)
{
    ASSERT_EQ(s()->put_FileFormat(FF_WAVE), S_OK);
    ASSERT_EQ(s()->put_WaveFormatIdx(0), S_OK); // the engine's own format
    const std::string path = TempPath(std::string("type-kept-") + Name(GetParam()) + ".wav");
    Bstr file(U16(path));
    Bstr text(u"one two three");
    ASSERT_EQ(s()->SpeakToFile(text, file, TF_ASYNC), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return CountOf(s().sink.received, DISPID_TTS_ONTTSWORD) >= 1; }));
    ASSERT_EQ(s()->put_FileFormat(FF_AU), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return s().Ends() == 1; })) << Describe(s().sink.received);
    // All three words' audio, in a finished WAV file.
    ExpectFinishedWave(path, 9600);
    EXPECT_EQ(CommandOutput("soxi -t '" + path + "' 2>&1"), "wav\n");

    // The new type is the next file's.
    const std::string next = TempPath(std::string("type-next-") + Name(GetParam()) + ".au");
    Bstr nextFile(U16(next));
    ASSERT_EQ(s()->SpeakToFile(text, nextFile, TF_DEFAULT), S_OK);
    EXPECT_EQ(CommandOutput("soxi -t '" + next + "' 2>/dev/null"), "au\n");
}

// ---- Nothing after the end ------------------------------------------------------------------------

class SpeechScriptedEnd : public ScriptedEngines {};

// A SAPI 4 mode's queued word positions, after the switch to a SAPI 5 voice,
// are not reported against the new text.
TEST_F(SpeechScriptedEnd, ReleasedEngineNotificationsReachNothing)
{
    OrafonScriptedMode mode = Mode(u"Orafon Released Mode");
    mode.bytesPerWord = 320;
    const GUID id = OrafonSapi4_AddScriptedMode(&mode);
    AddVoice(u"OrafonAfterVoice", u"Orafon After Voice",
             Script({ScriptStep::Event(SPEI_WORD_BOUNDARY, 2, 0), ScriptStep::Audio(1600)}));
    Subject s;
    ASSERT_TRUE(s.tts);
    ASSERT_EQ(s->put_VoiceIdx(s.Find(u"Orafon Released Mode")), S_OK);
    Bstr text(u"one two three four five six seven eight");
    ASSERT_EQ(s->Speak(text, TF_ASYNC), S_OK);
    // The engine is done and its notifications wait in this thread's queue.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Record(id).doneNotificationsPosted == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_GE(Record(id).doneNotificationsPosted, 1u);
    ASSERT_EQ(s->put_VoiceIdx(s.Find(u"Orafon After Voice")), S_OK);
    Bstr hi(u"Hi");
    ASSERT_EQ(s->Speak(hi, TF_DEFAULT), S_OK);
    ASSERT_TRUE(PumpUntil([&] {
        const OrafonScriptedRecord r = Record(id);
        return r.notificationsDelivered == r.notificationsPosted;
    }));
    EXPECT_EQ(s.sink.received, (std::vector<ReceivedEvent>{Progress(100), End(), Start(), Word(0, 2), Progress(0),
                                                           Progress(100), End()}))
        << Describe(s.sink.received);
}

TEST_F(SpeechScriptedEnd, StopInAWordHandlerReportsNothingOfThatWordAfterTheEnd)
{
    const OrafonScriptedMode mode = Mode();
    const GUID id = OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    ASSERT_EQ(s->put_VoiceIdx(s.Find(u"Orafon Scripted Mode")), S_OK);
    ITextToSpeech *tts = s.tts.get();
    s.sink.onEvent = [tts](EventSink &sink, DISPID dispid, EXCEPINFO *) {
        if (dispid == DISPID_TTS_ONTTSWORD && CountOf(sink.received, DISPID_TTS_ONTTSWORD) == 1) {
            EXPECT_EQ(tts->StopTTS(), S_OK);
        }
        return S_OK;
    };
    Bstr text(u"one two three four five");
    ASSERT_EQ(s->Speak(text, TF_DEFAULT), S_OK);
    ASSERT_TRUE(PumpUntil([&] {
        const OrafonScriptedRecord r = Record(id);
        return r.doneNotificationsPosted >= 1 && r.notificationsDelivered == r.notificationsPosted;
    }));
    EXPECT_EQ(s.sink.received, (std::vector<ReceivedEvent>{Start(), Word(0, 4), Progress(100), End()}))
        << Describe(s.sink.received);
}

INSTANTIATE_TEST_SUITE_P(BothGenerations, SpeechRequests, testing::Values(Generation::Sapi5, Generation::Sapi4),
                         [](const testing::TestParamInfo<Generation> &param) { return Name(param.param); });

} // namespace
} // namespace speechtest
