// The SAPI 4 stand-in through its platform interfaces: the mode enumerator,
// engine instances speaking into an audio object, their attributes, tagged
// text, pause/resume/reset and where notifications arrive.
#include "Sapi4TestSupport.h"
#include <sapi4/ScriptedMode.h>

#include <orafon/win/mmsystem.h>
#include <orafon/win/objbase.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace sapi4test;

namespace {

struct FliteModeInfo {
    std::u16string name;
    WORD gender;
    DWORD rate;
};
const std::vector<FliteModeInfo> kFliteModes{{u"Flite kal", GENDER_MALE, 8000},
                                             {u"Flite kal16", GENDER_MALE, 16000},
                                             {u"Flite awb", GENDER_MALE, 16000},
                                             {u"Flite rms", GENDER_MALE, 16000},
                                             {u"Flite slt", GENDER_FEMALE, 16000}};

std::vector<TTSMODEINFOW> AllModes()
{
    auto enumerator = Create<ITTSEnumW>(CLSID_TTSEnumerator);
    std::vector<TTSMODEINFOW> modes;
    if (!enumerator)
        return modes;
    TTSMODEINFOW info{};
    while (enumerator->Next(1, &info, nullptr) == S_OK)
        modes.push_back(info);
    return modes;
}

GUID ModeId(const std::u16string &name)
{
    for (const auto &m : AllModes())
        if (name == m.szModeName)
            return m.gModeID;
    return GUID_NULL;
}

// One engine of a mode speaking into a TestAudio, selected on this thread.
struct Session {
    CComPtr<ITTSEnumW> enumerator = Create<ITTSEnumW>(CLSID_TTSEnumerator);
    TestAudio *audio = new TestAudio();
    CComPtr<IUnknown> audioRef;
    CComPtr<ITTSCentralW> central;
    TestSink *sink = new TestSink();
    CComPtr<ITTSBufNotifySink> sinkRef;

    Session()
    {
        audioRef.Attach(static_cast<IAudio *>(audio));
        sinkRef.Attach(sink);
    }
    HRESULT Select(const GUID &mode) { return enumerator->Select(mode, &central, audioRef); }
    HRESULT Speak(const std::u16string &text, DWORD flags = 0)
    {
        return central->TextData(CHARSET_TEXT, flags, TextOf(text), sink, IID_ITTSBufNotifySink);
    }
    bool WaitDone(size_t texts = 1)
    {
        return PumpUntil([&] { return sink->DoneCount() >= texts; });
    }
    bool WaitUnclaimed()
    {
        return PumpUntil([&] { return audio->Count("UnClaim") >= 1; });
    }
};

TEST(Sapi4Enumerator, ListsTheFiveFliteModesFirst)
{
    auto modes = AllModes();
    ASSERT_GE(modes.size(), kFliteModes.size());
    for (size_t i = 0; i < kFliteModes.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(std::u16string(modes[i].szModeName), kFliteModes[i].name);
        EXPECT_EQ(modes[i].wGender, kFliteModes[i].gender);
        EXPECT_EQ(modes[i].language.LanguageID, 1033);
        EXPECT_TRUE(modes[i].dwInterfaces & TTSI_ITTSATTRIBUTES);
        EXPECT_TRUE(modes[i].dwFeatures & TTSFEATURE_WORDPOSITION);
        for (size_t j = 0; j < i; ++j)
            EXPECT_NE(modes[i].gModeID, modes[j].gModeID);
    }
    // Mode ids stay the same from one enumerator to the next.
    EXPECT_EQ(AllModes()[1].gModeID, modes[1].gModeID);
}

TEST(Sapi4Enumerator, NextSkipResetClone)
{
    auto e = Create<ITTSEnumW>(CLSID_TTSEnumerator);
    ASSERT_TRUE(e);
    TTSMODEINFOW infos[3]{};
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, infos, &fetched), S_OK);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(std::u16string(infos[2].szModeName), u"Flite awb");
    CComPtr<ITTSEnumW> clone;
    ASSERT_EQ(e->Clone(&clone), S_OK);
    EXPECT_EQ(clone->Next(1, infos, nullptr), S_OK);
    EXPECT_EQ(std::u16string(infos[0].szModeName), u"Flite rms");
    EXPECT_EQ(e->Skip(1000), S_FALSE);
    EXPECT_EQ(e->Next(1, infos, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 0u);
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Next(1, infos, nullptr), S_OK);
    EXPECT_EQ(std::u16string(infos[0].szModeName), u"Flite kal");
    EXPECT_EQ(e->Next(2, infos, nullptr), E_INVALIDARG); // a count above one needs the fetched count
    EXPECT_EQ(e->Next(1, nullptr, nullptr), E_INVALIDARG);
}

TEST(Sapi4Select, RefusesUnknownModesAndBadArguments)
{
    Session s;
    const GUID unknown{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(s.Select(unknown), TTSERR_INVALIDMODE);
    EXPECT_FALSE(s.central);
    const GUID kal = ModeId(u"Flite kal");
    EXPECT_EQ(s.enumerator->Select(kal, nullptr, s.audioRef), E_INVALIDARG);
    EXPECT_EQ(s.enumerator->Select(kal, &s.central, nullptr), E_INVALIDARG);
    s.audio->hideDest = true; // an IAudio that cannot take data
    EXPECT_EQ(s.Select(kal), E_NOINTERFACE);
    s.audio->hideDest = false;
    s.audio->formatSetResult = AUDERR_WAVEFORMATNOTSUPPORTED;
    EXPECT_EQ(s.Select(kal), AUDERR_WAVEFORMATNOTSUPPORTED);
    EXPECT_FALSE(s.audio->HasSink()); // a failed selection takes its sink back
}

class Sapi4Speak : public testing::TestWithParam<FliteModeInfo> {};

TEST_P(Sapi4Speak, DrivesTheAudioObjectAndReportsWords)
{
    const FliteModeInfo &mode = GetParam();
    Session s;
    ASSERT_EQ(s.Select(ModeId(mode.name)), S_OK);
    // Selection: the sink, a format question that gets no answer, the format.
    EXPECT_EQ(s.audio->Calls(), (std::vector<std::string>{"PassNotify", "WaveFormatGet", "WaveFormatSet"}));
    EXPECT_EQ(s.audio->notifyIid, IID_IAudioDestNotifySink);
    EXPECT_EQ(s.audio->formatSize, sizeof(WAVEFORMATEX));
    EXPECT_EQ(+s.audio->format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(+s.audio->format.nSamplesPerSec, mode.rate);
    EXPECT_EQ(+s.audio->format.wBitsPerSample, 16);
    EXPECT_EQ(+s.audio->format.nChannels, 1);
    EXPECT_EQ(+s.audio->format.nAvgBytesPerSec, mode.rate * 2);

    const std::u16string text = u"Hello world. This is a test.";
    ASSERT_EQ(s.Speak(text), S_OK);
    ASSERT_TRUE(s.WaitDone());
    ASSERT_TRUE(s.WaitUnclaimed());

    auto calls = s.audio->Calls();
    std::vector<std::string> order;
    for (const auto &c : calls)
        if (order.empty() || order.back() != c)
            order.push_back(c);
    ASSERT_GE(order.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(order.begin() + 3, order.begin() + 6),
              (std::vector<std::string>{"Claim", "Start", "FreeSpace"}));
    EXPECT_EQ(std::vector<std::string>(order.end() - 2, order.end()), (std::vector<std::string>{"Stop", "UnClaim"}));
    EXPECT_EQ(s.audio->Count("BookMark"), 7u); // six words and the end of the text

    auto pcm = s.audio->Pcm();
    const double seconds = pcm.size() / 2.0 / mode.rate;
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 5.0);
    EXPECT_GT(Rms(pcm), 300.0);

    const auto &n = s.sink->notices;
    ASSERT_FALSE(n.empty());
    EXPECT_EQ(n.front().kind, Notice::Started);
    EXPECT_EQ(n.back().kind, Notice::Done);
    EXPECT_EQ(n.back().value, 0u);
    EXPECT_EQ(s.sink->Values(Notice::Word), (std::vector<DWORD>{0, 12, 26, 36, 42, 46}));
    for (const auto &notice : n)
        EXPECT_EQ(notice.thread, std::this_thread::get_id());
    // Times follow the audio.
    for (size_t i = 1; i < n.size(); ++i)
        EXPECT_LE(n[i - 1].time, n[i].time);
}

INSTANTIATE_TEST_SUITE_P(Modes, Sapi4Speak, testing::ValuesIn(kFliteModes),
                         [](const auto &row) { return std::string(row.param.name.begin() + 6, row.param.name.end()); });

TEST(Sapi4Speak, WordOffsetsCountUtf16UnitsOfAccentedText)
{
    Session s;
    ASSERT_EQ(s.Select(ModeId(u"Flite kal16")), S_OK);
    const std::u16string text = u"\u00c9l\u00e8ve na\u00efve \U0001D11E r\u00e9sum\u00e9.";
    ASSERT_EQ(s.Speak(text), S_OK);
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ(s.sink->Values(Notice::Word), (std::vector<DWORD>{0, 12, 24, 30}));
    EXPECT_GT(Rms(s.audio->Pcm()), 300.0);
}

TEST(Sapi4Speak, WordsFollowTheDestinationsBookmarks)
{
    Session s;
    s.audio->holdMarks = true; // a device that has not played anything yet
    ASSERT_EQ(s.Select(ModeId(u"Flite kal")), S_OK);
    ASSERT_EQ(s.Speak(u"Wait for it."), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return s.audio->Count("BookMark") == 4; }));
    PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    // Data went out, but no word was reported before playback got there.
    EXPECT_TRUE(s.sink->Values(Notice::Word).empty());
    EXPECT_EQ(s.sink->DoneCount(), 0u);
    EXPECT_EQ(s.audio->Count("UnClaim"), 0u);
    s.audio->ReleaseMarks();
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ(s.sink->Values(Notice::Word), (std::vector<DWORD>{0, 10, 18}));
    ASSERT_TRUE(s.WaitUnclaimed());
}

TEST(Sapi4Speak, AudioObjectsNeedNotHoldTheEnginesSink)
{
    Session s;
    s.audio->weakSink = true;
    ASSERT_EQ(s.Select(ModeId(u"Flite kal16")), S_OK);
    ASSERT_EQ(s.Speak(u"Still here."), S_OK);
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ(s.sink->Values(Notice::Word), (std::vector<DWORD>{0, 12}));
    ASSERT_TRUE(s.WaitUnclaimed());
    s.central.Release();
    EXPECT_FALSE(s.audio->HasSink());
}

TEST(Sapi4Speak, QueuedTextsAreSpokenInOrder)
{
    Session s;
    ASSERT_EQ(s.Select(ModeId(u"Flite kal16")), S_OK);
    ASSERT_EQ(s.Speak(u"First."), S_OK);
    ASSERT_EQ(s.Speak(u"And second."), S_OK);
    ASSERT_TRUE(s.WaitDone(2));
    EXPECT_EQ(s.sink->Values(Notice::Word), (std::vector<DWORD>{0, 0, 8}));
    EXPECT_EQ(s.sink->Values(Notice::Done), (std::vector<DWORD>{0, 0}));
}

// ---- Attributes -------------------------------------------------------------

TEST(Sapi4Attributes, AnswerBothInterfaceIdsAndClampToTheRange)
{
    Session s;
    ASSERT_EQ(s.Select(ModeId(u"Flite slt")), S_OK);
    CComPtr<ITTSAttributesW> attrs;
    ASSERT_EQ(s.central->QueryInterface(IID_ITTSAttributesA, reinterpret_cast<void **>(&attrs)), S_OK);
    CComPtr<ITTSAttributesW> wide;
    ASSERT_EQ(s.central->QueryInterface(IID_ITTSAttributesW, reinterpret_cast<void **>(&wide)), S_OK);

    DWORD speed = 0, minSpeed = 0, maxSpeed = 0, volume = 0, minVolume = 1, maxVolume = 0;
    WORD pitch = 0, minPitch = 0, maxPitch = 0;
    ASSERT_EQ(attrs->SpeedGet(&speed), S_OK);
    ASSERT_EQ(attrs->PitchGet(&pitch), S_OK);
    ASSERT_EQ(attrs->VolumeGet(&volume), S_OK);
    attrs->SpeedSet(0);
    attrs->SpeedGet(&minSpeed);
    attrs->SpeedSet(0xFFFFFFFF);
    attrs->SpeedGet(&maxSpeed);
    attrs->PitchSet(0);
    attrs->PitchGet(&minPitch);
    attrs->PitchSet(0xFFFF);
    wide->PitchGet(&maxPitch);
    attrs->VolumeSet(0);
    attrs->VolumeGet(&minVolume);
    attrs->VolumeSet(0xFFFFFFFF);
    attrs->VolumeGet(&maxVolume);
    EXPECT_LT(minSpeed, speed);
    EXPECT_LT(speed, maxSpeed);
    EXPECT_GT(minSpeed, 0u);
    EXPECT_LT(minPitch, pitch);
    EXPECT_LT(pitch, maxPitch);
    EXPECT_GT(minPitch, 0u);
    EXPECT_EQ(minVolume, 0u);
    EXPECT_EQ(maxVolume, 0xFFFFFFFFu);
    EXPECT_EQ(volume, 0xFFFFFFFFu);
    attrs->SpeedSet(speed + 1);
    DWORD back = 0;
    attrs->SpeedGet(&back);
    EXPECT_EQ(back, speed + 1);
    EXPECT_EQ(attrs->SpeedGet(nullptr), E_INVALIDARG);
}

// Speaks one sentence with one attribute changed, returns the PCM.
std::vector<uint8_t> SpeakWith(const std::u16string &mode, const std::function<void(ITTSAttributesW *)> &set)
{
    Session s;
    EXPECT_EQ(s.Select(ModeId(mode)), S_OK);
    CComPtr<ITTSAttributesW> attrs;
    EXPECT_EQ(s.central->QueryInterface(IID_ITTSAttributesW, reinterpret_cast<void **>(&attrs)), S_OK);
    set(attrs);
    EXPECT_EQ(s.Speak(u"The quick brown fox jumps over the lazy dog."), S_OK);
    EXPECT_TRUE(s.WaitDone());
    return s.audio->Pcm();
}

class Sapi4AttributeEffect : public testing::TestWithParam<std::u16string> {};

TEST_P(Sapi4AttributeEffect, SpeedPitchAndVolumeAreHeard)
{
    const std::u16string mode = GetParam();
    const unsigned rate = mode == u"Flite kal" ? 8000 : 16000;
    auto slow = SpeakWith(mode, [](ITTSAttributesW *a) { a->SpeedSet(0); });
    auto fast = SpeakWith(mode, [](ITTSAttributesW *a) { a->SpeedSet(0xFFFFFFFF); });
    EXPECT_GT(slow.size(), 4 * fast.size());

    auto low = SpeakWith(mode, [](ITTSAttributesW *a) { a->PitchSet(0); });
    auto high = SpeakWith(mode, [](ITTSAttributesW *a) { a->PitchSet(0xFFFF); });
    const double lowPitch = MedianPitch(low, rate), highPitch = MedianPitch(high, rate);
    EXPECT_GT(lowPitch, 0);
    EXPECT_GT(highPitch, 1.5 * lowPitch) << lowPitch << " Hz against " << highPitch << " Hz";

    auto loud = SpeakWith(mode, [](ITTSAttributesW *a) { a->VolumeSet(0xFFFFFFFF); });
    auto quiet = SpeakWith(mode, [](ITTSAttributesW *a) { a->VolumeSet(0x40004000); });
    auto mute = SpeakWith(mode, [](ITTSAttributesW *a) { a->VolumeSet(0); });
    EXPECT_NEAR(Rms(quiet) / Rms(loud), 0.25, 0.02);
    EXPECT_EQ(Rms(mute), 0.0);
    EXPECT_EQ(mute.size(), loud.size());
}

INSTANTIATE_TEST_SUITE_P(Modes, Sapi4AttributeEffect, testing::Values(u"Flite kal", u"Flite slt"),
                         [](const auto &row) { return std::string(row.param.begin() + 6, row.param.end()); });

// ---- Tagged text --------------------------------------------------------------

TEST(Sapi4Tagged, TagsAreObeyedNotSpoken)
{
    Session plain, tagged, untagged;
    const GUID kal = ModeId(u"Flite kal");
    ASSERT_EQ(plain.Select(kal), S_OK);
    ASSERT_EQ(tagged.Select(kal), S_OK);
    ASSERT_EQ(untagged.Select(kal), S_OK);
    const std::u16string text = u"\\Mrk=7\\Hello \\Pau=1000\\there.\\Mrk=8\\";
    ASSERT_EQ(plain.Speak(u"Hello there."), S_OK);
    ASSERT_EQ(tagged.Speak(text, TTSDATAF_TAGGED), S_OK);
    ASSERT_EQ(untagged.Speak(text, 0), S_OK);
    ASSERT_TRUE(plain.WaitDone() && tagged.WaitDone() && untagged.WaitDone());
    EXPECT_EQ(tagged.sink->Values(Notice::Mark), (std::vector<DWORD>{7, 8}));
    EXPECT_EQ(tagged.sink->Values(Notice::Word), (std::vector<DWORD>{14, 46}));
    // One second of pause at 8000 Hz, 16-bit, and the pauses around the
    // words the tag split into two utterances.
    const auto extra = static_cast<long>(tagged.audio->Pcm().size()) - static_cast<long>(plain.audio->Pcm().size());
    EXPECT_GE(extra, 16000);
    EXPECT_LT(extra, 16000 + 8000);
    EXPECT_TRUE(untagged.sink->Values(Notice::Mark).empty());
}

TEST(Sapi4Tagged, PitchSpeedVolumeTagsAndReset)
{
    auto pcmOf = [](const std::u16string &text) {
        Session s;
        EXPECT_EQ(s.Select(ModeId(u"Flite kal16")), S_OK);
        EXPECT_EQ(s.Speak(text, TTSDATAF_TAGGED), S_OK);
        EXPECT_TRUE(s.WaitDone());
        return s.audio->Pcm();
    };
    const std::u16string sentence = u"A sentence spoken by the engine.";
    auto normal = pcmOf(sentence);
    auto slow = pcmOf(u"\\Spd=60\\" + sentence);
    auto quiet = pcmOf(u"\\Vol=16384\\" + sentence);
    auto high = pcmOf(u"\\Pit=180\\" + sentence);
    auto reset = pcmOf(u"\\Spd=60\\\\Vol=0\\\\Rst\\" + sentence);
    EXPECT_GT(slow.size(), 2 * normal.size());
    EXPECT_NEAR(Rms(quiet) / Rms(normal), 0.25, 0.02);
    EXPECT_GT(MedianPitch(high, 16000), 1.4 * MedianPitch(normal, 16000));
    EXPECT_EQ(reset, normal);
}

TEST(Sapi4Tagged, MalformedTagsNeverBreakSpeaking)
{
    Session s;
    ASSERT_EQ(s.Select(ModeId(u"Flite kal")), S_OK);
    const std::u16string texts[] = {u"\\",
                                    u"\\\\\\",
                                    u"a\\Pit=\\b",
                                    u"\\Pit=-5\\x",
                                    u"\\Spd=99999999999999\\fast",
                                    u"\\Vol=abc\\ \\Pau=99999999\\",
                                    u"\\Unknown=1\\word\\",
                                    u"\\Mrk\\"};
    for (const auto &text : texts)
        ASSERT_EQ(s.Speak(text, TTSDATAF_TAGGED), S_OK);
    ASSERT_TRUE(s.WaitDone(std::size(texts)));
    EXPECT_EQ(s.sink->Values(Notice::Done), std::vector<DWORD>(std::size(texts), 0));
}

// ---- Pause, resume, reset -------------------------------------------------------

TEST(Sapi4Control, PauseStopsTheAudioUntilResume)
{
    Session s;
    s.audio->dataSetBudget = 2; // the destination fills up after two blocks
    ASSERT_EQ(s.Select(ModeId(u"Flite kal16")), S_OK);
    ASSERT_EQ(s.Speak(u"One. Two. Three. Four. Five. Six."), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return s.audio->Count("DataSet") == 2 && s.audio->Count("FreeSpace") > 2; }));
    ASSERT_EQ(s.central->AudioPause(), S_OK);
    EXPECT_EQ(s.central->AudioPause(), TTSERR_ALREADYPAUSED);
    ASSERT_TRUE(PumpUntil([&] { return s.audio->Count("Stop") == 1; }));
    s.audio->dataSetBudget = -1; // room again, but the engine is paused
    PumpUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_EQ(s.audio->Count("DataSet"), 2u);
    EXPECT_EQ(s.sink->DoneCount(), 0u);
    ASSERT_EQ(s.central->AudioResume(), S_OK);
    EXPECT_EQ(s.central->AudioResume(), TTSERR_NOTPAUSED);
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ(s.sink->Values(Notice::Done), std::vector<DWORD>{0});
    EXPECT_EQ(s.sink->Values(Notice::Word).size(), 6u);
    // After the pause's Stop the audio is started again before more data.
    auto calls = s.audio->Calls();
    auto stop = std::find(calls.begin(), calls.end(), "Stop");
    auto next = std::find_if(stop, calls.end(), [](const auto &c) { return c == "DataSet" || c == "Start"; });
    ASSERT_NE(next, calls.end());
    EXPECT_EQ(*next, "Start");
}

TEST(Sapi4Control, ResetAbortsEveryQueuedText)
{
    Session s;
    s.audio->holdMarks = true;
    ASSERT_EQ(s.Select(ModeId(u"Flite kal16")), S_OK);
    ASSERT_EQ(s.Speak(u"A first long text that is being spoken. It goes on."), S_OK);
    ASSERT_EQ(s.Speak(u"A second text."), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return s.audio->Count("DataSet") > 0; }));
    ASSERT_EQ(s.central->AudioReset(), S_OK);
    EXPECT_GE(s.audio->Count("Flush"), 1u);
    EXPECT_GE(s.audio->Count("UnClaim"), 1u);
    ASSERT_TRUE(s.WaitDone(2));
    PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(s.sink->Values(Notice::Done), (std::vector<DWORD>{TTSBNS_ABORTED, TTSBNS_ABORTED}));
    EXPECT_TRUE(s.sink->Values(Notice::Word).empty());
    // Marks of thrown-away audio that arrive late report nothing.
    s.audio->ReleaseMarks();
    PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_TRUE(s.sink->Values(Notice::Word).empty());

    // The engine speaks again afterwards.
    s.audio->holdMarks = false;
    s.sink->notices.clear();
    ASSERT_EQ(s.Speak(u"Again."), S_OK);
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ(s.sink->Values(Notice::Done), std::vector<DWORD>{0});
    EXPECT_EQ(s.sink->Values(Notice::Word), std::vector<DWORD>{0});
}

TEST(Sapi4Control, ResetWhilePausedAndWhenIdle)
{
    Session s;
    ASSERT_EQ(s.Select(ModeId(u"Flite kal")), S_OK);
    EXPECT_EQ(s.central->AudioReset(), S_OK);
    ASSERT_EQ(s.central->AudioPause(), S_OK);
    ASSERT_EQ(s.Speak(u"Never heard."), S_OK);
    ASSERT_EQ(s.central->AudioReset(), S_OK);
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ(s.sink->Values(Notice::Done), std::vector<DWORD>{TTSBNS_ABORTED});
    EXPECT_EQ(s.audio->Count("DataSet"), 0u);
    // Reset also ends the pause.
    ASSERT_EQ(s.Speak(u"Heard."), S_OK);
    ASSERT_TRUE(s.WaitDone(2));
}

// ---- Threads ----------------------------------------------------------------------

TEST(Sapi4Threads, NotificationsArriveOnTheSelectingThread)
{
    std::thread::id selector;
    std::vector<Notice> notices;
    std::thread worker([&] {
        selector = std::this_thread::get_id();
        Session s;
        ASSERT_EQ(s.Select(ModeId(u"Flite rms")), S_OK);
        ASSERT_EQ(s.Speak(u"From another thread."), S_OK);
        ASSERT_TRUE(s.WaitDone());
        notices = s.sink->notices;
    });
    worker.join();
    ASSERT_GE(notices.size(), 5u);
    for (const auto &n : notices)
        EXPECT_EQ(n.thread, selector);
    EXPECT_NE(selector, std::this_thread::get_id());
}

TEST(Sapi4Threads, NotificationsNeverDispatchedAreReleasedWithTheThread)
{
    auto *sink = new TestSink();
    CComPtr<ITTSBufNotifySink> sinkRef;
    sinkRef.Attach(sink);
    std::thread worker([&] {
        Session s;
        ASSERT_EQ(s.Select(ModeId(u"Flite kal")), S_OK);
        ASSERT_EQ(s.central->TextData(CHARSET_TEXT, 0, TextOf(u"Nobody listens."), sink, IID_ITTSBufNotifySink), S_OK);
        // Wait for the engine without processing any message.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (s.audio->Count("UnClaim") == 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_GT(s.audio->Count("UnClaim"), 0u) << "the engine never let the device go";
    });
    worker.join();
    EXPECT_TRUE(sink->notices.empty());
    // Only this test's reference is left.
    EXPECT_EQ(sink->AddRef(), 2u);
    sink->Release();
}

TEST(Sapi4Threads, EnginesOfDifferentVoicesSpeakAtOnce)
{
    std::vector<std::unique_ptr<Session>> sessions;
    for (const auto &mode : kFliteModes) {
        sessions.push_back(std::make_unique<Session>());
        ASSERT_EQ(sessions.back()->Select(ModeId(mode.name)), S_OK);
        ASSERT_EQ(sessions.back()->Speak(u"Everyone speaks. All together now."), S_OK);
    }
    for (auto &s : sessions) {
        ASSERT_TRUE(s->WaitDone());
        EXPECT_EQ(s->sink->Values(Notice::Word).size(), 5u);
        EXPECT_GT(Rms(s->audio->Pcm()), 300.0);
    }
}

// ---- Bad input ----------------------------------------------------------------------

TEST(Sapi4BadInput, TextDataRefusesWhatItCannotRead)
{
    Session s;
    ASSERT_EQ(s.Select(ModeId(u"Flite kal")), S_OK);
    const char16_t text[] = u"ok";
    struct Case {
        VOICECHARSET charset;
        DWORD flags;
        SDATA data;
        IID iid;
        HRESULT expected;
    };
    const Case cases[] = {
        {CHARSET_TEXT, 0, {nullptr, 6}, IID_ITTSBufNotifySink, E_INVALIDARG},
        {CHARSET_TEXT, 0, {nullptr, 0}, IID_ITTSBufNotifySink, E_INVALIDARG},
        {CHARSET_TEXT, 0, {const_cast<char16_t *>(text), 5}, IID_ITTSBufNotifySink, E_INVALIDARG},
        {CHARSET_TEXT, 0x80, {const_cast<char16_t *>(text), sizeof(text)}, IID_ITTSBufNotifySink, E_INVALIDARG},
        {CHARSET_IPAPHONETIC, 0, {const_cast<char16_t *>(text), sizeof(text)}, IID_ITTSBufNotifySink, E_NOTIMPL},
        {CHARSET_TEXT, 0, {const_cast<char16_t *>(text), sizeof(text)}, IID_ITTSNotifySinkW, E_NOINTERFACE},
    };
    for (const auto &c : cases)
        EXPECT_EQ(s.central->TextData(c.charset, c.flags, c.data, s.sink, c.iid), c.expected);
    EXPECT_EQ(s.audio->Count("DataSet"), 0u);
    // A text without a sink is spoken all the same.
    ASSERT_EQ(s.central->TextData(CHARSET_TEXT, 0, TextOf(u"Quiet."), nullptr, IID_ITTSBufNotifySink), S_OK);
    ASSERT_TRUE(s.WaitUnclaimed());
    EXPECT_GT(s.audio->Count("DataSet"), 0u);
    EXPECT_TRUE(s.sink->notices.empty());
}

TEST(Sapi4BadInput, TheSizeBoundsTheTextWithOrWithoutItsTerminator)
{
    Session s;
    ASSERT_EQ(s.Select(ModeId(u"Flite kal16")), S_OK);
    // Without a terminator in the size (as a host counting characters
    // passes it); only the first two words are inside the size.
    const char16_t text[] = {u'o', u'n', u'e', u' ', u't', u'w', u'o', u' ', u'x', u'x', u'x'};
    ASSERT_EQ(
        s.central->TextData(CHARSET_TEXT, 0, SDATA{const_cast<char16_t *>(text), 14}, s.sink, IID_ITTSBufNotifySink),
        S_OK);
    // A NUL inside the size ends the text there.
    const char16_t early[] = u"three\0four";
    ASSERT_EQ(s.central->TextData(CHARSET_TEXT, 0, SDATA{const_cast<char16_t *>(early), sizeof(early)}, s.sink,
                                  IID_ITTSBufNotifySink),
              S_OK);
    // An empty text is a text.
    ASSERT_EQ(
        s.central->TextData(CHARSET_TEXT, 0, SDATA{const_cast<char16_t *>(early), 0}, s.sink, IID_ITTSBufNotifySink),
        S_OK);
    ASSERT_TRUE(s.WaitDone(3));
    EXPECT_EQ(s.sink->Values(Notice::Word), (std::vector<DWORD>{0, 8, 0}));
    EXPECT_EQ(s.sink->Values(Notice::Done), (std::vector<DWORD>{0, 0, 0}));
}

TEST(Sapi4BadInput, AFailingDestinationAbortsTheTextOnly)
{
    Session s;
    s.audio->failDataSetAfter = 2;
    ASSERT_EQ(s.Select(ModeId(u"Flite kal16")), S_OK);
    ASSERT_EQ(s.Speak(u"This text cannot be written out completely."), S_OK);
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ(s.sink->Values(Notice::Done), std::vector<DWORD>{TTSBNS_ABORTED});
    ASSERT_TRUE(s.WaitUnclaimed());
}

TEST(Sapi4BadInput, EmptyAndSilentTextsStillFinish)
{
    Session s;
    ASSERT_EQ(s.Select(ModeId(u"Flite awb")), S_OK);
    ASSERT_EQ(s.Speak(u""), S_OK);
    ASSERT_EQ(s.Speak(u"   ...  "), S_OK);
    ASSERT_TRUE(s.WaitDone(2));
    EXPECT_EQ(s.sink->Values(Notice::Done), (std::vector<DWORD>{0, 0}));
}

// ---- Scripted modes -------------------------------------------------------------------

OrafonScriptedMode ScriptedDescription()
{
    OrafonScriptedMode m{};
    m.name = u"Scripted test voice";
    m.gender = GENDER_MALE;
    m.language = 1033;
    m.format = {WAVE_FORMAT_PCM, 2, 22050, 22050 * 2, 2, 8, 0};
    m.speedMin = 50;
    m.speedMax = 350;
    m.speedDefault = 150;
    m.pitchMin = 60;
    m.pitchMax = 240;
    m.pitchDefault = 120;
    m.volumeMin = 0;
    m.volumeMax = 65535;
    m.volumeDefault = 32768;
    m.bytesPerWord = 2000;
    return m;
}

class Sapi4Scripted : public testing::Test {
protected:
    void TearDown() override { OrafonSapi4_RemoveScriptedModes(); }
};

TEST_F(Sapi4Scripted, IsEnumeratedAndSpeaksItsFormatAndOffsets)
{
    OrafonScriptedMode m = ScriptedDescription();
    const DWORD offsets[] = {0, 12};
    m.wordOffsets = offsets;
    m.wordCount = 2;
    const GUID id = OrafonSapi4_AddScriptedMode(&m);
    auto modes = AllModes();
    ASSERT_EQ(modes.size(), kFliteModes.size() + 1);
    EXPECT_EQ(modes.back().gModeID, id);
    EXPECT_EQ(std::u16string(modes.back().szModeName), u"Scripted test voice");

    Session s;
    ASSERT_EQ(s.Select(id), S_OK);
    EXPECT_EQ(+s.audio->format.nSamplesPerSec, 22050u);
    EXPECT_EQ(+s.audio->format.nChannels, 2);
    EXPECT_EQ(+s.audio->format.wBitsPerSample, 8);
    CComPtr<ITTSAttributesW> attrs;
    ASSERT_EQ(s.central->QueryInterface(IID_ITTSAttributesA, reinterpret_cast<void **>(&attrs)), S_OK);
    DWORD v = 0;
    attrs->VolumeGet(&v);
    EXPECT_EQ(v, 32768u);
    attrs->VolumeSet(0xFFFFFFFF);
    attrs->VolumeGet(&v);
    EXPECT_EQ(v, 65535u);
    attrs->SpeedSet(0);
    attrs->SpeedGet(&v);
    EXPECT_EQ(v, 50u);
    WORD p = 0;
    attrs->PitchSet(0xFFFF);
    attrs->PitchGet(&p);
    EXPECT_EQ(p, 240);

    ASSERT_EQ(s.Speak(u"Hello world"), S_OK);
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ(s.sink->Values(Notice::Word), (std::vector<DWORD>{0, 12}));
    EXPECT_EQ(s.audio->Pcm().size(), 4000u);
}

TEST_F(Sapi4Scripted, FailsTheCallsATestAsksFor)
{
    OrafonScriptedMode m = ScriptedDescription();
    m.results[ORAFON_SCRIPTED_SPEEDGET] = E_FAIL;
    m.results[ORAFON_SCRIPTED_TEXTDATA] = TTSERR_QUEUEFULL;
    const GUID talks = OrafonSapi4_AddScriptedMode(&m);
    m.results[ORAFON_SCRIPTED_SELECT] = AUDERR_WAVEDEVICEBUSY;
    const GUID refuses = OrafonSapi4_AddScriptedMode(&m);

    Session bad;
    EXPECT_EQ(bad.Select(refuses), AUDERR_WAVEDEVICEBUSY);
    Session s;
    ASSERT_EQ(s.Select(talks), S_OK);
    CComPtr<ITTSAttributesW> attrs;
    ASSERT_EQ(s.central->QueryInterface(IID_ITTSAttributesW, reinterpret_cast<void **>(&attrs)), S_OK);
    DWORD speed = 7;
    EXPECT_EQ(attrs->SpeedGet(&speed), E_FAIL);
    EXPECT_EQ(speed, 7u);
    WORD pitch = 0;
    EXPECT_EQ(attrs->PitchGet(&pitch), S_OK);
    EXPECT_EQ(s.Speak(u"Hello"), TTSERR_QUEUEFULL);
}

TEST_F(Sapi4Scripted, RecordsWhatItsEnginesWereAsked)
{
    const GUID id = OrafonSapi4_AddScriptedMode(&(const OrafonScriptedMode &)ScriptedDescription());
    OrafonScriptedRecord record{};
    ASSERT_EQ(OrafonSapi4_GetScriptedRecord(&id, &record), S_OK);
    EXPECT_EQ(record.textDataCalls, 0u);
    Session s;
    ASSERT_EQ(s.Select(id), S_OK);
    CComPtr<ITTSAttributesW> attrs;
    ASSERT_EQ(s.central->QueryInterface(IID_ITTSAttributesA, reinterpret_cast<void **>(&attrs)), S_OK);
    attrs->SpeedSet(1000);
    attrs->PitchSet(0xFFFF);
    attrs->VolumeSet(65534);
    attrs->VolumeSet(7);
    ASSERT_EQ(s.Speak(u"Hello world", TTSDATAF_TAGGED), S_OK);
    ASSERT_TRUE(s.WaitDone());
    ASSERT_EQ(OrafonSapi4_GetScriptedRecord(&id, &record), S_OK);
    EXPECT_EQ(record.textDataCalls, 1u);
    EXPECT_EQ(record.lastTextDataFlags, TTSDATAF_TAGGED);
    EXPECT_EQ(record.lastTextDataSize, 24u);
    EXPECT_EQ(record.speedSetCalls, 1u);
    EXPECT_EQ(record.lastSpeedSet, 1000u); // as asked; the engine holds 350
    EXPECT_EQ(record.lastPitchSet, 0xFFFF);
    EXPECT_EQ(record.volumeSetCalls, 2u);
    EXPECT_EQ(record.lastVolumeSet, 7u);
    const GUID unknown{9, 9, 9, {9, 9, 9, 9, 9, 9, 9, 9}};
    EXPECT_EQ(OrafonSapi4_GetScriptedRecord(&unknown, &record), E_INVALIDARG);
}

TEST_F(Sapi4Scripted, ReportsEveryWordOfTheTextWithoutGivenOffsets)
{
    const GUID id = OrafonSapi4_AddScriptedMode(&(const OrafonScriptedMode &)ScriptedDescription());
    Session s;
    ASSERT_EQ(s.Select(id), S_OK);
    ASSERT_EQ(s.Speak(u"  one two\tthree"), S_OK);
    ASSERT_TRUE(s.WaitDone());
    EXPECT_EQ(s.sink->Values(Notice::Word), (std::vector<DWORD>{4, 12, 20}));
}

// ---- The module -----------------------------------------------------------------------

TEST(Sapi4Module, UnloadsOnlyWithoutLiveObjects)
{
    {
        Session s;
        ASSERT_EQ(s.Select(ModeId(u"Flite kal")), S_OK);
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    CComPtr<IClassFactory> factory;
    const GUID other{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    EXPECT_EQ(DllGetClassObject(other, IID_IClassFactory, reinterpret_cast<void **>(&factory)),
              CLASS_E_CLASSNOTAVAILABLE);
}

} // namespace

// ---- Through the COM runtime --------------------------------------------------------

class Sapi4Com : public testing::Test {
protected:
    void SetUp() override
    {
        // A registry of this test's own unless the run already has one.
        registry_ = testing::TempDir() + "sapi4-com-registry.db";
        setenv("ORAFON_REGISTRY", registry_.c_str(), 0);
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    }
    void TearDown() override { CoUninitialize(); }
    std::string registry_;
};

TEST_F(Sapi4Com, TheRuntimeFindsBothClassesBesideThePlatform)
{
    CComPtr<ITTSEnumW> enumerator;
    ASSERT_EQ(CoCreateInstance(CLSID_TTSEnumerator, nullptr, CLSCTX_ALL, IID_ITTSEnumW,
                               reinterpret_cast<void **>(&enumerator)),
              S_OK);
    TTSMODEINFOW info{};
    ASSERT_EQ(enumerator->Next(1, &info, nullptr), S_OK);
    EXPECT_EQ(std::u16string(info.szModeName), u"Flite kal");

    CComPtr<IAudioMultiMediaDevice> device;
    ASSERT_EQ(CoCreateInstance(CLSID_MMAudioDest, nullptr, CLSCTX_ALL, IID_IAudioMultiMediaDevice,
                               reinterpret_cast<void **>(&device)),
              S_OK);
    EXPECT_EQ(device->DeviceNumSet(WAVE_MAPPER), S_OK);
    CComPtr<IAudio> audio;
    ASSERT_EQ(device.QueryInterface(&audio), S_OK);

    // A host's whole path: select with the device, speak, hear the end.
    CComPtr<ITTSCentralW> central;
    ASSERT_EQ(enumerator->Select(info.gModeID, &central, audio), S_OK);
    auto *sink = new TestSink();
    CComPtr<ITTSBufNotifySink> sinkRef;
    sinkRef.Attach(sink);
    ASSERT_EQ(central->TextData(CHARSET_TEXT, 0, TextOf(u"Hi."), sink, IID_ITTSBufNotifySink), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return sink->DoneCount() == 1; }));
    EXPECT_EQ(sink->Values(Notice::Done), std::vector<DWORD>{0});
}
