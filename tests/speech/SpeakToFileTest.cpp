// Speaking to a file through the scripted engines: refused names and empty
// lists, the engine's own format passed through unchanged, conversion, the
// file complete at OnTTSEnd, a full disk and teardown while writing.
#include "SpeechTestSupport.h"

#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace speechtest {
namespace {

using orafon::sapi5::ScriptStep;

bool Exists(const std::string &path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// One engine of each generation, scripted: 16 kHz mono 16-bit. The SAPI 5
// voice writes 6400 bytes of a +-8000 square wave, the SAPI 4 mode 2000
// bytes per word of a tone.
enum class Generation { Sapi5, Sapi4 };

class SpeechToFile : public ScriptedEngines, public testing::WithParamInterface<Generation> {
protected:
    void SetUp() override
    {
        AddVoice(
            u"OrafonFileVoice", u"Orafon File Voice",
            Script({ScriptStep::Audio(3200), ScriptStep::Event(SPEI_WORD_BOUNDARY, 5, 0), ScriptStep::Audio(3200)}));
        const OrafonScriptedMode mode = Mode(u"Orafon File Mode");
        modeId = OrafonSapi4_AddScriptedMode(&mode);
        subject = std::make_unique<Subject>();
        ASSERT_TRUE(subject->tts);
        const LONG index = subject->Find(GetParam() == Generation::Sapi5 ? u"Orafon File Voice" : u"Orafon File Mode");
        ASSERT_GE(index, 0);
        ASSERT_EQ((*subject)->put_VoiceIdx(index), S_OK);
    }
    void TearDown() override
    {
        subject.reset();
        ScriptedEngines::TearDown();
    }

    // What the engine produces for the text below.
    static size_t EngineBytes() { return GetParam() == Generation::Sapi5 ? 6400u : 4000u; }

    Subject &s() { return *subject; }

    // The Speak calls and texts the engine under test has been given.
    size_t EngineTexts() const
    {
        return GetParam() == Generation::Sapi5 ? orafon::sapi5::ScriptedVoiceCalls(u"OrafonFileVoice").size()
                                               : Record(modeId).textDataCalls;
    }
    // Every request the engine under test began is over and everything it
    // queued for this thread has been handed over.
    bool EngineQuiet() const
    {
        return GetParam() == Generation::Sapi5 ? VoiceQuiet(u"OrafonFileVoice") : ModeQuiet(modeId);
    }
    // A refused request reported nothing: a synchronous Speak afterwards
    // dispatches whatever was queued before its own events, and its events
    // are all that arrive.
    void ExpectOnlyTheNextRequestReports()
    {
        EXPECT_EQ(EngineTexts(), 0u);
        ASSERT_EQ(s()->Speak(text, TF_DEFAULT), S_OK);
        EXPECT_EQ(EngineTexts(), 1u);
        const auto &events = s().sink.received;
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.front(), Start()) << Describe(events);
        EXPECT_EQ(events.back(), End()) << Describe(events);
        EXPECT_EQ(s().Ends(), 1u) << Describe(events);
    }

    std::unique_ptr<Subject> subject;
    GUID modeId{};
    const Bstr text{u"Hello world"};
};

TEST_P(SpeechToFile, EmptyFileNameFailsWithoutEvents)
{
    ASSERT_EQ(s()->put_FileFormat(FF_WAVE), S_OK);
    Bstr empty(u"");
    EXPECT_EQ(s()->SpeakToFile(text, empty, TF_DEFAULT), E_FAIL);
    EXPECT_TRUE(s().sink.received.empty()) << Describe(s().sink.received);
    Bstr file(U16(TempPath("after-empty.wav")));
    EXPECT_EQ(s()->SpeakToFile(nullptr, file, TF_DEFAULT), E_INVALIDARG);
    EXPECT_EQ(s()->SpeakToFile(text, nullptr, TF_DEFAULT), E_INVALIDARG);
    EXPECT_FALSE(Exists(TempPath("after-empty.wav")));
    // The refused requests leave the voice able to speak aloud.
    ExpectOnlyTheNextRequestReports();
}

TEST_P(SpeechToFile, EmptyFormatListFailsAndOpensNothing)
{
    LONG count = -1;
    const HRESULT put = s()->put_FileFormat(FF_WMA);
    ASSERT_EQ(s()->get_WaveFormatCount(&count), S_OK);
    if (count > 0)
        GTEST_SKIP() << "a Windows Media writer is available here";
    EXPECT_EQ(put, E_INVALIDARG);
    const std::string path = TempPath("wma-empty.wma");
    Bstr file(U16(path));
    EXPECT_EQ(s()->SpeakToFile(text, file, TF_DEFAULT), E_INVALIDARG);
    EXPECT_TRUE(s().sink.received.empty()) << Describe(s().sink.received);
    EXPECT_FALSE(Exists(path));
    ExpectOnlyTheNextRequestReports();
}

TEST_P(SpeechToFile, EngineFormatFileIsCompleteAtOnTTSEndAndHoldsTheEnginePcm)
{
    ASSERT_EQ(s()->put_FileFormat(FF_WAVE), S_OK);
    ASSERT_EQ(s()->put_WaveFormatIdx(0), S_OK);
    const std::string path = TempPath("engine-format.wav");
    WaveFile atEnd;
    s().sink.onEvent = [&](EventSink &, DISPID id, EXCEPINFO *) {
        if (id == DISPID_TTS_ONTTSEND)
            atEnd = ReadWave(path);
        return S_OK;
    };
    Bstr file(U16(path));
    ASSERT_EQ(s()->SpeakToFile(text, file, TF_DEFAULT), S_OK);
    ASSERT_EQ(s().Ends(), 1u);
    const size_t n = s().sink.received.size();
    ASSERT_GE(n, 2u);
    EXPECT_EQ(s().sink.received[n - 2], Progress(100));

    ASSERT_TRUE(atEnd.valid) << "the file was not complete when OnTTSEnd fired";
    EXPECT_EQ(atEnd.format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(atEnd.format.nSamplesPerSec, 16000u);
    EXPECT_EQ(atEnd.format.nChannels, 1);
    EXPECT_EQ(atEnd.format.wBitsPerSample, 16);
    ASSERT_EQ(atEnd.data.size(), EngineBytes());
    EXPECT_EQ(atEnd.riffSize + 8, atEnd.fileSize);
    const WaveFile after = ReadWave(path);
    EXPECT_EQ(after.data, atEnd.data);
    if (GetParam() == Generation::Sapi5) {
        // Passed through unchanged: every sample is the scripted square wave.
        for (size_t i = 0; i + 1 < atEnd.data.size(); i += 2) {
            const int16_t sample = static_cast<int16_t>(atEnd.data[i] | (atEnd.data[i + 1] << 8));
            ASSERT_TRUE(sample == 8000 || sample == -8000) << "sample " << i / 2 << " is " << sample;
        }
    }
    // Speaking aloud afterwards leaves the finished file alone.
    ASSERT_EQ(s()->Speak(text, TF_DEFAULT), S_OK);
    EXPECT_EQ(ReadWave(path).data, atEnd.data);
}

struct Target {
    LONG index;
    DWORD rate;
    WORD channels, bits;
};

TEST_P(SpeechToFile, ConvertedFilesKeepTheWholeDuration)
{
    const Target targets[] = {
        {1, 8000, 1, 8}, {14, 16000, 2, 8}, {17, 22050, 1, 8}, {32, 44100, 2, 16}, {36, 48000, 2, 16}};
    const double seconds = static_cast<double>(EngineBytes()) / 32000.0;
    for (const Target &t : targets) {
        SCOPED_TRACE(t.index);
        ASSERT_EQ(s()->put_FileFormat(FF_WAVE), S_OK);
        ASSERT_EQ(s()->put_WaveFormatIdx(t.index), S_OK);
        const std::string path = TempPath("converted-" + std::to_string(t.index) + ".wav");
        Bstr file(U16(path));
        ASSERT_EQ(s()->SpeakToFile(text, file, TF_DEFAULT), S_OK);
        const WaveFile wave = ReadWave(path);
        ASSERT_TRUE(wave.valid);
        EXPECT_EQ(wave.format.nSamplesPerSec, t.rate);
        EXPECT_EQ(wave.format.nChannels, t.channels);
        EXPECT_EQ(wave.format.wBitsPerSample, t.bits);
        const double expected = seconds * t.rate * t.channels * t.bits / 8;
        EXPECT_NEAR(static_cast<double>(wave.data.size()), expected, expected * 0.02);
        const std::string probe = CommandOutput("ffprobe -v error -show_entries stream=sample_rate,channels -of "
                                                "default=nw=1 '" +
                                                path + "'");
        EXPECT_NE(probe.find("sample_rate=" + std::to_string(t.rate)), std::string::npos) << probe;
        EXPECT_NE(probe.find("channels=" + std::to_string(t.channels)), std::string::npos) << probe;
    }
}

TEST_P(SpeechToFile, FullDiskIsAFailureAfterTheEvents)
{
    ASSERT_EQ(s()->put_FileFormat(FF_WAVE), S_OK);
    ASSERT_EQ(s()->put_WaveFormatIdx(32), S_OK);
    Bstr file(u"/dev/full");
    const HRESULT hr = s()->SpeakToFile(text, file, TF_DEFAULT);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(s().Ends(), 1u) << Describe(s().sink.received);
    // The failure belongs to that request only.
    const std::string path = TempPath("after-full.wav");
    Bstr good(U16(path));
    EXPECT_EQ(s()->SpeakToFile(text, good, TF_DEFAULT), S_OK);
    EXPECT_TRUE(ReadWave(path).valid);
}

TEST_P(SpeechToFile, ReleasingWhileWritingAsynchronouslyReachesNothingLater)
{
    ASSERT_EQ(s()->put_FileFormat(FF_WAVE), S_OK);
    ASSERT_EQ(s()->put_WaveFormatIdx(32), S_OK);
    Bstr file(U16(TempPath("released.wav")));
    ASSERT_EQ(s()->SpeakToFile(text, file, TF_ASYNC), S_OK);
    s().Release();
    const size_t seen = s().sink.received.size();
    ASSERT_TRUE(PumpUntil([&] { return EngineQuiet(); }));
    DrainMessages();
    EXPECT_EQ(s().sink.received.size(), seen) << Describe(s().sink.received);
    EXPECT_EQ(s().sink.refCount, 1u);
}

TEST_P(SpeechToFile, StopWhileWritingLeavesAValidFileAndOneEnd)
{
    ASSERT_EQ(s()->put_FileFormat(FF_WAVE), S_OK);
    ASSERT_EQ(s()->put_WaveFormatIdx(0), S_OK);
    const std::string path = TempPath("stopped.wav");
    Bstr file(U16(path));
    ASSERT_EQ(s()->SpeakToFile(text, file, TF_ASYNC), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return !s().sink.received.empty(); }));
    ASSERT_EQ(s()->StopTTS(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return s().Ends() >= 1; }));
    ASSERT_TRUE(PumpUntil([&] { return EngineQuiet(); }));
    DrainMessages();
    EXPECT_EQ(s().Ends(), 1u) << Describe(s().sink.received);
    const WaveFile wave = ReadWave(path);
    ASSERT_TRUE(wave.valid);
    EXPECT_EQ(wave.riffSize + 8, wave.fileSize);
    EXPECT_LE(wave.data.size(), EngineBytes());
}

INSTANTIATE_TEST_SUITE_P(Generations, SpeechToFile, testing::Values(Generation::Sapi5, Generation::Sapi4),
                         [](const testing::TestParamInfo<Generation> &row) {
                             return row.param == Generation::Sapi5 ? "Sapi5" : "Sapi4";
                         });

} // namespace
} // namespace speechtest

namespace speechtest {
namespace {

class SpeechToFileVoiceChange : public ScriptedEngines {};

TEST_F(SpeechToFileVoiceChange, EntryZeroKeepsTheFormatOfTheVoiceWhenFileFormatWasPut)
{
    AddVoice(u"OrafonFirstVoice", u"Orafon First Voice", Script({ScriptStep::Audio(6400)}));
    OrafonScriptedMode mode = Mode(u"Orafon Second Mode");
    mode.format = {WAVE_FORMAT_PCM, 2, 22050, 44100, 2, 8, 0};
    mode.bytesPerWord = 4410; // 0.1 s a word
    OrafonSapi4_AddScriptedMode(&mode);
    Subject s;
    ASSERT_TRUE(s.tts);
    ASSERT_EQ(s->put_VoiceIdx(s.Find(u"Orafon First Voice")), S_OK);
    ASSERT_EQ(s->put_FileFormat(FF_WAVE), S_OK);
    ASSERT_EQ(s->put_VoiceIdx(s.Find(u"Orafon Second Mode")), S_OK);
    ASSERT_EQ(s->put_WaveFormatIdx(0), S_OK);
    const std::string path = TempPath("voice-changed.wav");
    Bstr file(U16(path));
    Bstr text(u"Hello world");
    ASSERT_EQ(s->SpeakToFile(text, file, TF_DEFAULT), S_OK);
    const WaveFile wave = ReadWave(path);
    ASSERT_TRUE(wave.valid);
    // The first voice's format, converted from the mode's 0.2 s of audio.
    EXPECT_EQ(wave.format.nSamplesPerSec, 16000u);
    EXPECT_EQ(wave.format.nChannels, 1);
    EXPECT_EQ(wave.format.wBitsPerSample, 16);
    EXPECT_NEAR(static_cast<double>(wave.data.size()), 6400.0, 6400.0 * 0.02);
}

} // namespace
} // namespace speechtest
