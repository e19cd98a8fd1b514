// Speaking aloud with a real voice of each generation through a real sound
// server: PulseAudio, and ALSA whose default device (a configuration of the
// test's own) copies the PCM into a file on its way to the same server. The
// server's sink is recorded, and what is heard is compared with what the
// same voice writes to a file.
#include "SpeechTestSupport.h"

#include "support/SoundServer.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace speechtest {
namespace {

using orafon::test::Loudness;
using orafon::test::MonitorRecording;
using orafon::test::SoundServer;
using orafon::test::sound_detail::EnvOverride;
using Clock = std::chrono::steady_clock;

constexpr DISPID kSpeak = 6;
constexpr DISPID kSpeakToFile = 7;
constexpr unsigned kRate = SoundServer::kRate;
// Waits for completion are a guard against a hang, not a speed limit.
constexpr auto kGuard = std::chrono::seconds(60);

struct Case {
    const char16_t *voice;
    const char *output;
    unsigned voiceRate; // the sample rate the voice plays at
};

void PrintTo(const Case &c, std::ostream *out)
{
    *out << std::string(c.voice, c.voice + std::char_traits<char16_t>::length(c.voice)) << " via " << c.output;
}

// Ends the process with a message when a call that must return does not:
// a hang would otherwise only show as the test run's time-out.
class Watchdog {
public:
    explicit Watchdog(const char *what)
        : thread_([this, what] {
              std::unique_lock lock(mutex_);
              if (!cv_.wait_for(lock, kGuard, [&] { return done_; })) {
                  std::fprintf(stderr, "%s did not return within %lld s\n", what,
                               static_cast<long long>(kGuard.count()));
                  std::abort();
              }
          })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

const std::u16string kSentence = u"The quick brown fox jumps over the lazy dog.";

std::u16string LongText()
{
    std::u16string text;
    for (int i = 0; i < 12; ++i)
        text += u"This sentence keeps the voice busy for a good while. ";
    return text;
}

class SpeakThroughServer : public testing::TestWithParam<Case> {
protected:
    void SetUp() override
    {
        server_ = &SoundServer::Shared();
        ASSERT_TRUE(server_->ok()) << server_->error();
        device_ = std::make_unique<EnvOverride>("ORAFON_AUDIO_DEVICE", GetParam().output);
        paced_ = std::make_unique<EnvOverride>("ORAFON_AUDIO_FAST", "0");
        if (std::string(GetParam().output) == "alsa") {
            copy_ = TempPath("alsa-copy-" + std::to_string(++copies_) + ".raw");
            alsa_ = std::make_unique<EnvOverride>("ALSA_CONFIG_PATH", server_->AlsaConfiguration(copy_));
        }
        ASSERT_TRUE(subject.tts);
        const LONG index = subject.Find(GetParam().voice);
        ASSERT_GE(index, 0) << "the voice is not installed";
        ASSERT_EQ(subject->put_VoiceIdx(index), S_OK);
        recording_ = std::make_unique<MonitorRecording>(*server_);
        ASSERT_TRUE(recording_->ok()) << "parec did not start";
    }
    void TearDown() override
    {
        // Every request the test began has ended before the object goes.
        if (subject.tts) {
            subject->StopTTS();
            EXPECT_TRUE(PumpUntil([&] { return Starts() == subject.Ends(); })) << Describe(subject.sink.received);
        }
        subject.Release();
        recording_.reset();
    }

    // Seconds of loud audio the voice makes for the text, written to a file.
    double ReferenceSeconds(const std::u16string &text)
    {
        const std::string path = TempPath("reference-" + std::to_string(++copies_) + ".wav");
        EXPECT_EQ(subject->put_FileFormat(FF_WAVE), S_OK);
        EXPECT_EQ(subject->put_WaveFormatIdx(19), S_OK); // 22 kHz, 16-bit, mono
        EXPECT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(path)), Number(TF_DEFAULT)}), S_OK);
        const WaveFile wave = ReadWave(path);
        EXPECT_TRUE(wave.valid);
        EXPECT_EQ(16, wave.format.wBitsPerSample);
        std::vector<int16_t> samples(wave.data.size() / 2);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<int16_t>(wave.data[2 * i] | (wave.data[2 * i + 1] << 8));
        return Loudness(samples, wave.format.nSamplesPerSec).LoudSeconds();
    }

    size_t Starts() const
    {
        size_t starts = 0;
        for (const ReceivedEvent &e : subject.sink.received)
            starts += e.id == DISPID_TTS_ONTTSSTART;
        return starts;
    }

    // Records until done holds for the recording; false when it still does
    // not at the guard. The recording is looked at again each time it has
    // grown by a few windows.
    bool RecordUntil(const std::function<bool(const std::vector<int16_t> &)> &done)
    {
        size_t looked = 0;
        bool reached = false;
        const bool ok = PumpUntil(
            [&] {
                const size_t bytes = recording_->Bytes();
                if (bytes >= looked + kRate / 25) { // 20 ms of samples
                    looked = bytes;
                    reached = done(recording_->Samples());
                }
                return reached;
            },
            kGuard);
        return ok && reached;
    }

    // Records until the recording holds this much loud audio.
    bool RecordUntilLoud(double seconds)
    {
        return RecordUntil(
            [&](const std::vector<int16_t> &samples) { return Loudness(samples, kRate).LoudSeconds() >= seconds; });
    }

    // Records until the sound has stopped: the recording goes on quiet for
    // half a second past its last loud window and past the sample fromSample
    // (a moment by which the sound is to be over or stopping). Speech pauses
    // between words and sentences for less.
    bool RecordUntilQuietAfter(size_t fromSample)
    {
        return RecordUntil([&](const std::vector<int16_t> &samples) {
            const auto span = Loudness(samples, kRate).Span();
            const size_t from = std::max(fromSample, span ? span->second : 0);
            return samples.size() >= from + kRate / 2;
        });
    }

    std::vector<int16_t> Recorded() const { return recording_->Samples(); }

    size_t RecordedSamples() const { return recording_->SampleNow(); }

    Subject subject;
    SoundServer *server_ = nullptr;
    std::unique_ptr<EnvOverride> device_, paced_, alsa_;
    std::unique_ptr<MonitorRecording> recording_;
    std::string copy_;
    static inline int copies_ = 0;
};

TEST_P(SpeakThroughServer, SpeakReturnsOnceAllIsHeard)
{
    const double expected = ReferenceSeconds(kSentence);
    ASSERT_GT(expected, 1.0);
    const size_t endsBefore = subject.Ends();
    {
        Watchdog watchdog("a synchronous Speak");
        ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(kSentence), Number(TF_DEFAULT)}), S_OK);
    }
    EXPECT_EQ(subject.Ends(), endsBefore + 1);
    // All was heard when the call returned: the recording, which lags
    // behind the sink, is waited for until it shows the sound is over.
    ASSERT_TRUE(RecordUntilQuietAfter(RecordedSamples()));
    const Loudness heard(Recorded(), kRate);
    EXPECT_NEAR(expected, heard.LoudSeconds(), 0.15 + expected * 0.1);
    if (!copy_.empty()) {
        // What ALSA was given, read back from its copy.
        const Loudness copied(orafon::test::ReadPcm16(copy_), GetParam().voiceRate);
        EXPECT_NEAR(expected, copied.LoudSeconds(), 0.05 + expected * 0.05);
    }
}

TEST_P(SpeakThroughServer, PauseHoldsAndResumeGoesOn)
{
    const size_t endsBefore = subject.Ends();
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(LongText()), Number(TF_ASYNC)}), S_OK);
    ASSERT_TRUE(RecordUntilLoud(0.5));
    ASSERT_EQ(subject->Pause(), S_OK);
    const size_t pausedAt = RecordedSamples();
    ASSERT_TRUE(RecordUntilQuietAfter(pausedAt)) << "the paused voice was never silent";
    const Loudness held(Recorded(), kRate);
    // What the output already held may still sound for a moment, then nothing.
    EXPECT_EQ(0.0, held.LoudSeconds(pausedAt + kRate / 5));
    EXPECT_EQ(endsBefore, subject.Ends());
    ASSERT_EQ(subject->Resume(), S_OK);
    const size_t resumedAt = RecordedSamples();
    ASSERT_TRUE(RecordUntilLoud(held.LoudSeconds() + 1.0));
    EXPECT_GT(Loudness(recording_->Samples(), kRate).LoudSeconds(resumedAt), 0.9);
    EXPECT_EQ(endsBefore, subject.Ends());
}

TEST_P(SpeakThroughServer, StopSilencesWithinATenthOfASecond)
{
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(LongText()), Number(TF_ASYNC)}), S_OK);
    ASSERT_TRUE(RecordUntilLoud(0.5));
    ASSERT_EQ(subject->StopTTS(), S_OK);
    const size_t stoppedAt = RecordedSamples();
    ASSERT_TRUE(PumpUntil([&] { return subject.Ends() == 1; }));
    ASSERT_TRUE(RecordUntilQuietAfter(stoppedAt)) << "the stopped voice was never silent";
    const Loudness heard(Recorded(), kRate);
    const auto span = heard.Span();
    ASSERT_TRUE(span);
    EXPECT_LT(heard.Seconds(span->second) - heard.Seconds(stoppedAt), 0.1);
    EXPECT_LT(heard.LoudSeconds(), 5.0);
}

TEST_P(SpeakThroughServer, ManyShortSpeaksAllEnd)
{
    constexpr size_t kCount = 8;
    for (size_t i = 1; i <= kCount; ++i) {
        Watchdog watchdog("one of many short Speak calls");
        ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(u"Hi."), Number(TF_DEFAULT)}), S_OK);
        ASSERT_EQ(subject.Ends(), i);
    }
    ASSERT_TRUE(RecordUntilQuietAfter(RecordedSamples()));
    const Loudness heard(Recorded(), kRate);
    EXPECT_GT(heard.LoudSeconds(), 0.1 * kCount);
}

INSTANTIATE_TEST_SUITE_P(Voices, SpeakThroughServer,
                         testing::Values(Case{u"eSpeak NG English (America)", "pulse", 22050},
                                         Case{u"Flite kal16", "pulse", 16000},
                                         Case{u"eSpeak NG English (America)", "alsa", 22050},
                                         Case{u"Flite kal16", "alsa", 16000}),
                         [](const testing::TestParamInfo<Case> &row) {
                             return std::string(row.param.voice[0] == u'e' ? "espeak_" : "flite_") + row.param.output;
                         });

} // namespace
} // namespace speechtest
