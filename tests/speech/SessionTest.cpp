// The engine sessions on their own, without the component: the arithmetic
// each generation does on its engine's figures, and requests spoken through
// scripted engines of both generations, one listener per request, so that a
// late notification of an earlier request is seen to reach nobody.
#include <speech/EngineSession.h>
#include <speech/SpeechRequest.h>

#include "support/MessagePump.h"

#include <sapi4/ScriptedMode.h>
#include <sapi5/ScriptedEngine.h>

#include <orafon/win/objbase.h>
#include <orafon/win/winuser.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace orafon::speech {
namespace {

// ---- Arithmetic ------------------------------------------------------------------

struct PrefixCase {
    LONG pitch;
    size_t length;
};

TEST(SpeechSessionArithmetic, Sapi5PitchMarkupLength)
{
    const PrefixCase cases[] = {{0, 0}, {3, 22}, {9, 22}, {10, 23}, {-3, 23}, {-9, 23}, {-10, 24}};
    for (const PrefixCase &c : cases) {
        SCOPED_TRACE(c.pitch);
        EXPECT_EQ(CSapi5Session::PitchPrefix(c.pitch).size(), c.length);
    }
    EXPECT_EQ(CSapi5Session::PitchPrefix(3), u"<pitch absmiddle=\"3\"/>");
    EXPECT_EQ(CSapi5Session::PitchPrefix(-10), u"<pitch absmiddle=\"-10\"/>");
}

struct Sapi5WordCase {
    LPARAM position;
    WPARAM length;
    LONG prefix;
    ULONG textLength;
    WordReport expected;
};

TEST(SpeechSessionArithmetic, Sapi5WordBoundaryDropsThePrefixFromThePositionButNotFromTheProgress)
{
    const Sapi5WordCase cases[] = {
        {6, 5, 0, 11, {6, 5, 54}},    // 600 / 11
        {28, 5, 22, 33, {6, 5, 84}},  // 2800 / 33
        {30, 5, 24, 35, {6, 5, 85}},  // 3000 / 35
        {22, 3, 22, 33, {0, 3, 66}},  // the first word after the markup
        {40, 2, 0, 33, {40, 2, 121}}, // not capped
        {0, 3, 0, 0, {0, 3, {}}},     // no text, no progress
    };
    for (const Sapi5WordCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.position << "/" << c.prefix << "/" << c.textLength);
        const WordReport got = CSapi5Session::WordBoundary(c.position, c.length, c.prefix, c.textLength);
        EXPECT_EQ(got.start, c.expected.start);
        EXPECT_EQ(got.length, c.expected.length);
        EXPECT_EQ(got.percent, c.expected.percent);
    }
    EXPECT_EQ(CSapi5Session::SentenceStart(26, 22), 4);
    EXPECT_EQ(CSapi5Session::SentenceStart(3, 0), 3);
}

struct Sapi4WordCase {
    std::u16string text;
    DWORD byteOffset;
    WordReport expected;
};

TEST(SpeechSessionArithmetic, Sapi4WordPositionCountsTheSeparatorAndCapsTheProgress)
{
    const Sapi4WordCase cases[] = {
        {u"Hello world", 0, {0, 6, 0}},
        {u"Hello world", 12, {6, 6, 54}},
        {u"Hello world", 22, {11, 1, 100}}, // at the end: one past the text
        {u"Hello world", 34, {17, 1, 100}}, // beyond the text: capped
        {u"one\r\ntwo", 0, {0, 4, 0}},      // a carriage return ends a word
        {u"one\r\ntwo", 10, {5, 4, 62}},    // 1000 / 2 / 8
        {u"", 0, {0, 1, {}}},               // no text: length 1, no progress
        {u"a b", 3, {1, 1, 50}},            // an odd offset rounds down to its character
    };
    for (const Sapi4WordCase &c : cases) {
        SCOPED_TRACE(testing::Message() << c.byteOffset << " in " << c.text.size() << " units");
        const WordReport got = CSapi4Session::WordPosition(c.text, c.byteOffset);
        EXPECT_EQ(got.start, c.expected.start);
        EXPECT_EQ(got.length, c.expected.length);
        EXPECT_EQ(got.percent, c.expected.percent);
    }
}

struct MappingCase {
    LONG value;
    DWORD speed;
    DWORD volume;
    WORD pitch;
};

TEST(SpeechSessionArithmetic, Sapi4PropertiesMapOntoTheEngineRanges)
{
    // speed 50..350 (150), pitch 60..240 (120), volume 0..65535.
    const CSapi4Session::Range speed{50, 350}, pitch{60, 240}, volume{0, 65535};
    const MappingCase rates[] = {{0, 150, 65534, 120}, {5, 250, 32767, 180}, {-5, 100, 0, 90},
                                 {10, 350, 655, 240},  {-10, 50, 64879, 60}, {3, 210, 21626, 156}};
    const LONG volumes[] = {100, 50, 0, 1, 99, 33};
    for (size_t i = 0; i < std::size(rates); ++i) {
        const MappingCase &c = rates[i];
        SCOPED_TRACE(c.value);
        EXPECT_EQ(CSapi4Session::MapSpeed(c.value, 150, speed), c.speed);
        EXPECT_EQ(CSapi4Session::MapVolume(volumes[i], volume), c.volume);
        EXPECT_EQ(CSapi4Session::MapPitch(c.value, 120, pitch), c.pitch);
    }
    // Ranges that do not start at 0, and a pitch below the default.
    EXPECT_EQ(CSapi4Session::MapVolume(100, {1000, 2000}), 1999u);
    EXPECT_EQ(CSapi4Session::MapVolume(0, {1000, 2000}), 1000u);
    EXPECT_EQ(CSapi4Session::MapPitch(-7, 120, pitch), 78);
}

// ---- Requests through scripted engines ----------------------------------------------

struct Report {
    char kind; // S start, E end, W word, T sentence, P progress
    LONG a = 0;
    LONG b = 0;
    bool operator==(const Report &o) const = default;
};

std::ostream &operator<<(std::ostream &out, const Report &r)
{
    return out << r.kind << "(" << r.a << "," << r.b << ")";
}

class Recorder final : public ISpeechListener {
public:
    void OnSpeechStart() override { reports.push_back({'S'}); }
    void OnSpeechEnd() override { reports.push_back({'E'}); }
    void OnSpeechWord(LONG nStart, LONG nLength) override
    {
        reports.push_back({'W', nStart, nLength});
        if (onWord)
            onWord();
    }
    void OnSpeechSentence(LONG nStart, LONG nLength) override { reports.push_back({'T', nStart, nLength}); }
    void OnSpeechProgress(LONG nPercent) override { reports.push_back({'P', nPercent}); }

    std::vector<Report> reports;
    std::function<void()> onWord;
};

// A file output that only counts.
class CountingHost final : public IRequestHost {
public:
    HRESULT OpenSink(const std::string &, const WAVEFORMATEX &, const FileTarget &) override
    {
        ++opens;
        return S_OK;
    }
    HRESULT CloseSink() noexcept override
    {
        ++closes;
        return S_OK;
    }
    int opens = 0;
    int closes = 0;
};

class DroppingTarget final : public IEngineAudioTarget {
public:
    bool EngineAudio(ULONG, const void *, ULONG) noexcept override { return false; }
};

using orafon::test::PumpUntil;

// Waits, without dispatching anything, until done() holds.
bool WaitWithoutPumping(const std::function<bool()> &done)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

OrafonScriptedRecord RecordOf(const GUID &mode)
{
    OrafonScriptedRecord record{};
    EXPECT_EQ(OrafonSapi4_GetScriptedRecord(&mode, &record), S_OK);
    return record;
}

class SpeechSession : public testing::Test {
protected:
    void SetUp() override { link = std::make_shared<CEngineLink>(&target); }
    void TearDown() override
    {
        for (const std::u16string &token : tokens)
            sapi5::UnregisterScriptedVoice(token);
        OrafonSapi4_RemoveScriptedModes();
    }

    VoiceInfo Sapi5Voice(const std::u16string &token, const std::u16string &name, std::vector<sapi5::ScriptStep> steps)
    {
        sapi5::VoiceScript script;
        script.steps = std::move(steps);
        EXPECT_EQ(sapi5::RegisterScriptedVoice(token, name, script), S_OK);
        tokens.push_back(token);
        return Entry(name, ENGINE_SAPI5);
    }

    VoiceInfo Sapi4Mode(const char16_t *name, DWORD bytesPerWord, GUID *id = nullptr)
    {
        OrafonScriptedMode m = OrafonScriptedStandardMode(name, bytesPerWord);
        const GUID made = OrafonSapi4_AddScriptedMode(&m);
        if (id)
            *id = made;
        return Entry(name, ENGINE_SAPI4);
    }

    // A SAPI 4 session speaking aloud through a device of its own.
    std::unique_ptr<CSapi4Session> SelectMode(const VoiceInfo &mode)
    {
        CComPtr<IAudioMultiMediaDevice> device;
        EXPECT_EQ(CoCreateInstance(CLSID_MMAudioDest, nullptr, CLSCTX_ALL, IID_IAudioMultiMediaDevice,
                                   reinterpret_cast<void **>(&device)),
                  S_OK);
        std::unique_ptr<CSapi4Session> session;
        EXPECT_EQ(CSapi4Session::Select(mode, link, device, session), S_OK);
        return session;
    }

    // The catalogue entry of that name, as the generation lists it.
    static VoiceInfo Entry(const std::u16string &name, LONG kind)
    {
        std::vector<VoiceInfo> all;
        if (kind == ENGINE_SAPI5)
            CSapi5Session::EnumVoices(all);
        else
            CSapi4Session::EnumModes(all);
        const std::string narrow(name.begin(), name.end());
        for (const VoiceInfo &voice : all)
            if (voice.name == narrow && voice.EngineKind == kind)
                return voice;
        ADD_FAILURE() << narrow << " is not listed";
        return {};
    }

    std::shared_ptr<CSpeechRequest> Request(const std::u16string &text, Recorder &listener, TTSFLAG flags = TF_ASYNC)
    {
        auto request = std::make_shared<CSpeechRequest>(++serial, text.c_str(), static_cast<UINT>(text.size()), nullptr,
                                                        std::nullopt, flags);
        request->Attach(&host, &listener);
        return request;
    }

    DroppingTarget target;
    CountingHost host;
    std::shared_ptr<CEngineLink> link;
    std::vector<std::u16string> tokens;
    ULONG serial = 0;
};

TEST_F(SpeechSession, Sapi5ReportsInTheCallersTerms)
{
    using sapi5::ScriptStep;
    const VoiceInfo voice = Sapi5Voice(u"OrafonSessionVoice", u"Orafon Session Voice",
                                       {ScriptStep::Audio(1600), ScriptStep::Event(SPEI_SENTENCE_BOUNDARY, 11, 22),
                                        ScriptStep::Event(SPEI_WORD_BOUNDARY, 5, 28), ScriptStep::Audio(1600)});
    std::shared_ptr<CSapi5Session> session;
    ASSERT_EQ(CSapi5Session::Select(voice, link, session), S_OK);
    EXPECT_EQ(session->Kind(), ENGINE_SAPI5);
    EXPECT_TRUE(session->WaitsFor(TF_DEFAULT));
    EXPECT_FALSE(session->WaitsFor(TF_WITHTAG));
    {
        std::lock_guard guard(link->Lock());
        EXPECT_EQ(link->engineFormat.nSamplesPerSec, 16000u);
        ASSERT_TRUE(link->streamFormat.has_value());
    }
    Recorder listener;
    const auto request = Request(u"Hello world", listener);
    ASSERT_EQ(session->Speak(request, {0, 100, 3}), S_OK);
    EXPECT_EQ(request->EngineText(), u"<pitch absmiddle=\"3\"/>Hello world");
    ASSERT_TRUE(PumpUntil([&] { return request->Over(); }));
    EXPECT_EQ(listener.reports, (std::vector<Report>{{'S'}, {'T', 0, 11}, {'W', 6, 5}, {'P', 84}, {'P', 100}, {'E'}}));
    EXPECT_EQ(request->CurrentState(), CSpeechRequest::State::Ended);
}

TEST_F(SpeechSession, Sapi4ReportsInTheCallersTerms)
{
    GUID id{};
    const VoiceInfo mode = Sapi4Mode(u"Orafon Session Mode", 2000, &id);
    std::unique_ptr<CSapi4Session> session = SelectMode(mode);
    ASSERT_TRUE(session);
    EXPECT_EQ(session->Kind(), ENGINE_SAPI4);
    EXPECT_TRUE(session->WaitsFor(TF_WITHTAG));
    EXPECT_FALSE(session->WaitsFor(TF_ASYNC));
    LONG rate = 0;
    EXPECT_EQ(session->GetRate(7, &rate), S_OK);
    EXPECT_EQ(rate, 7); // no live rate: the stored one
    Recorder listener;
    const auto request = Request(u"Hello world", listener);
    ASSERT_EQ(session->Speak(request, {5, 50, -7}), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return request->Over(); }));
    EXPECT_EQ(listener.reports,
              (std::vector<Report>{{'S'}, {'W', 0, 6}, {'P', 0}, {'W', 6, 6}, {'P', 54}, {'P', 100}, {'E'}}));
    const OrafonScriptedRecord record = RecordOf(id);
    EXPECT_EQ(record.lastSpeedSet, 250u);
    EXPECT_EQ(record.lastVolumeSet, 32767u);
    EXPECT_EQ(record.lastPitchSet, 78);
}

// An earlier request's engine has notifications queued when the next request
// starts: they reach neither the new request's listener nor the old one's.
TEST_F(SpeechSession, Sapi4LateNotificationsOfAReplacedRequestReachNobody)
{
    GUID id{};
    const VoiceInfo mode = Sapi4Mode(u"Orafon Late Mode", 320, &id);
    std::unique_ptr<CSapi4Session> session = SelectMode(mode);
    ASSERT_TRUE(session);
    Recorder first, second;
    const auto old = Request(u"one two three four five six seven eight nine ten", first);
    ASSERT_EQ(session->Speak(old, {}), S_OK);
    // The first engine finishes with its words still queued for this thread.
    ASSERT_TRUE(WaitWithoutPumping([&] { return RecordOf(id).doneNotificationsPosted >= 1; }));
    EXPECT_TRUE(first.reports.empty());
    old->Abandon(); // what the bridge does to the request a new one replaces
    const auto next = Request(u"Hi", second);
    ASSERT_EQ(session->Speak(next, {}), S_OK);
    ASSERT_TRUE(PumpUntil([&] {
        const OrafonScriptedRecord r = RecordOf(id);
        return next->Over() && r.notificationsDelivered == r.notificationsPosted;
    }));
    EXPECT_TRUE(first.reports.empty());
    EXPECT_EQ(second.reports, (std::vector<Report>{{'S'}, {'W', 0, 3}, {'P', 0}, {'P', 100}, {'E'}}));
}

// Stopping from a word handler ends the request there: the word's progress
// and the engine's later words are not reported after the end.
TEST_F(SpeechSession, Sapi4StopInsideAWordReportEndsTheRequestThere)
{
    GUID id{};
    const VoiceInfo mode = Sapi4Mode(u"Orafon Stop Mode", 2000, &id);
    std::unique_ptr<CSapi4Session> session = SelectMode(mode);
    ASSERT_TRUE(session);
    Recorder listener;
    listener.onWord = [&] { session->Stop(); };
    const auto request = Request(u"one two three", listener);
    ASSERT_EQ(session->Speak(request, {}), S_OK);
    ASSERT_TRUE(PumpUntil([&] {
        const OrafonScriptedRecord r = RecordOf(id);
        return request->Over() && r.doneNotificationsPosted >= 1 && r.notificationsDelivered == r.notificationsPosted;
    }));
    EXPECT_EQ(listener.reports, (std::vector<Report>{{'S'}, {'W', 0, 4}, {'P', 100}, {'E'}}));
}

TEST_F(SpeechSession, FileRequestsOpenBeforeSpeakingAndCloseBeforeTheEnd)
{
    using sapi5::ScriptStep;
    const VoiceInfo voice =
        Sapi5Voice(u"OrafonSessionFileVoice", u"Orafon Session File Voice", {ScriptStep::Audio(3200)});
    std::shared_ptr<CSapi5Session> session;
    ASSERT_EQ(CSapi5Session::Select(voice, link, session), S_OK);
    Recorder listener;
    int closesAtEnd = -1;
    struct EndWatch final : ISpeechListener {
        Recorder *inner;
        std::function<void()> atEnd;
        void OnSpeechStart() override { inner->OnSpeechStart(); }
        void OnSpeechEnd() override
        {
            atEnd();
            inner->OnSpeechEnd();
        }
        void OnSpeechWord(LONG a, LONG b) override { inner->OnSpeechWord(a, b); }
        void OnSpeechSentence(LONG a, LONG b) override { inner->OnSpeechSentence(a, b); }
        void OnSpeechProgress(LONG p) override { inner->OnSpeechProgress(p); }
    } watch;
    watch.inner = &listener;
    watch.atEnd = [&] { closesAtEnd = host.closes; };
    const std::u16string text = u"Hi";
    const std::u16string file = u"/nonexistent/out.wav";
    FileTarget entry;
    entry.format = {WAVE_FORMAT_PCM, 1, 16000, 32000, 2, 16, 0};
    entry.bitRate = 256000;
    auto request = std::make_shared<CSpeechRequest>(1, text.c_str(), 2, file.c_str(), entry, TF_ASYNC);
    request->Attach(&host, &watch);
    ASSERT_EQ(session->Speak(request, {}), S_OK);
    EXPECT_EQ(host.opens, 1);
    EXPECT_EQ(host.closes, 0);
    ASSERT_TRUE(PumpUntil([&] { return request->Over(); }));
    EXPECT_EQ(closesAtEnd, 1);
    EXPECT_EQ(listener.reports, (std::vector<Report>{{'S'}, {'P', 100}, {'E'}}));

    // Without a catalogue entry nothing is opened.
    auto refused = std::make_shared<CSpeechRequest>(2, text.c_str(), 2, file.c_str(), std::nullopt, TF_ASYNC);
    refused->Attach(&host, &listener);
    EXPECT_EQ(session->Speak(refused, {}), E_INVALIDARG);
    EXPECT_EQ(host.opens, 1);
}

} // namespace
} // namespace orafon::speech

int main(int argc, char **argv)
{
    char pattern[] = "/tmp/orafon-session-XXXXXX";
    const char *dir = ::mkdtemp(pattern);
    const std::string registry = std::string(dir ? dir : "/tmp") + "/registry.db";
    ::setenv("ORAFON_REGISTRY", registry.c_str(), 1);
    ::setenv("ORAFON_AUDIO_DEVICE", "silent", 1);
    ::setenv("ORAFON_AUDIO_FAST", "1", 1);
    ::testing::InitGoogleTest(&argc, argv);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    if (dir) {
        const std::string remove = "rm -rf '" + std::string(dir) + "'";
        if (std::system(remove.c_str()) != 0)
            std::fprintf(stderr, "could not remove %s\n", dir);
    }
    return result;
}
