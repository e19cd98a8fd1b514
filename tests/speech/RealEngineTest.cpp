// The real engines end to end, called through IDispatch as a script host
// calls the object: espeak-ng voices (SAPI 5) and flite modes (SAPI 4).
#include "SpeechTestSupport.h"

#include <audio_out/AudioSink.h>

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <ostream>
#include <sstream>
#include <vector>

namespace speechtest {
namespace {

constexpr DISPID kSpeak = 6;
constexpr DISPID kSpeakToFile = 7;

struct RealVoice {
    const char16_t *name;
    LONG sapiVersion;
};

const RealVoice kVoices[] = {
    {u"eSpeak NG English (America)", 0},
    {u"Flite kal16", 1},
};

std::string Narrow(const std::u16string &s)
{
    return std::string(s.begin(), s.end());
}

void PrintTo(const RealVoice &voice, std::ostream *out)
{
    *out << Narrow(voice.name);
}

class SpeechRealEngine : public testing::TestWithParam<RealVoice> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(subject.tts);
        const LONG index = subject.Find(GetParam().name);
        ASSERT_GE(index, 0) << Narrow(GetParam().name) << " is not installed";
        ASSERT_EQ(subject->put_VoiceIdx(index), S_OK);
        LONG version = -1;
        ASSERT_EQ(subject->get_SAPIVersion(&version), S_OK);
        ASSERT_EQ(version, GetParam().sapiVersion);
    }

    // The words reported, as slices of the text. A SAPI 4 length counts the
    // separator after the word, which is trimmed with any punctuation.
    std::vector<std::string> Words(const std::u16string &text) const
    {
        std::vector<std::string> words;
        for (const ReceivedEvent &e : subject.sink.received) {
            if (e.id != DISPID_TTS_ONTTSWORD)
                continue;
            EXPECT_GE(e.args[0], 0);
            EXPECT_LE(static_cast<size_t>(e.args[0] + e.args[1]), text.size() + 1);
            std::string word = Narrow(text.substr(static_cast<size_t>(e.args[0]), static_cast<size_t>(e.args[1])));
            if (GetParam().sapiVersion == 1)
                while (!word.empty() && !std::isalnum(static_cast<unsigned char>(word.back())))
                    word.pop_back();
            words.push_back(word);
        }
        return words;
    }

    Subject subject;
};

const std::u16string kTwoSentences = u"The quick brown fox jumps. It was very lazy today.";
const std::vector<std::string> kTwoSentencesWords = {"The", "quick", "brown", "fox",  "jumps",
                                                     "It",  "was",   "very",  "lazy", "today"};

TEST_P(SpeechRealEngine, SynchronousSpeakReportsEveryWordOnceInOrder)
{
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(kTwoSentences), Number(TF_DEFAULT)}), S_OK);
    const auto &events = subject.sink.received;
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), Start());
    EXPECT_EQ(events[events.size() - 2], Progress(100));
    EXPECT_EQ(events.back(), End());
    EXPECT_EQ(subject.Ends(), 1u);
    EXPECT_EQ(Words(kTwoSentences), kTwoSentencesWords) << Describe(events);
    if (GetParam().sapiVersion == 0) {
        std::vector<ReceivedEvent> sentences;
        for (const ReceivedEvent &e : events)
            if (e.id == DISPID_TTS_ONTTSSENTENCE)
                sentences.push_back(e);
        ASSERT_EQ(sentences.size(), 2u) << Describe(events);
        EXPECT_EQ(sentences[0].args[0], 0);
        EXPECT_EQ(sentences[1].args[0], 27);
    }
}

TEST_P(SpeechRealEngine, AsynchronousSpeakReturnsAtOnceAndEventsArriveWhilePumping)
{
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(kTwoSentences), Number(TF_ASYNC)}), S_OK);
    EXPECT_EQ(subject.Ends(), 0u);
    ASSERT_TRUE(PumpUntil([&] { return subject.Ends() == 1; }));
    EXPECT_EQ(Words(kTwoSentences), kTwoSentencesWords) << Describe(subject.sink.received);
    EXPECT_EQ(subject.sink.received.back(), End());
}

// An empty text is a request like any other: a host waiting for its end
// must get one, or a synchronous Speak("") would never return.
TEST_P(SpeechRealEngine, EmptyTextStillEnds)
{
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(u""), Number(TF_ASYNC)}), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return subject.Ends() == 1; })) << Describe(subject.sink.received);
    EXPECT_EQ(subject.sink.received.back(), End());
}

// What followed the first OnTTSEnd.
std::vector<ReceivedEvent> AfterFirstEnd(const std::vector<ReceivedEvent> &events)
{
    const auto end = std::find(events.begin(), events.end(), End());
    return end == events.end() ? std::vector<ReceivedEvent>{} : std::vector<ReceivedEvent>(end + 1, events.end());
}

TEST_P(SpeechRealEngine, StopDuringSpeechEndsWithOneOnTTSEnd)
{
    const std::u16string text = u"This sentence is long enough that it is still being spoken when the host stops it, "
                                u"and goes on for a while longer after that.";
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(text), Number(TF_ASYNC)}), S_OK);
    ASSERT_TRUE(PumpUntil([&] {
        for (const ReceivedEvent &e : subject.sink.received)
            if (e.id == DISPID_TTS_ONTTSWORD)
                return true;
        return false;
    }));
    ASSERT_EQ(subject->StopTTS(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return subject.Ends() >= 1; }));
    EXPECT_EQ(subject.Ends(), 1u) << Describe(subject.sink.received);
    EXPECT_EQ(subject.sink.received.back(), End());
    // A synchronous request afterwards dispatches whatever the stopped one
    // still had queued before its own events: nothing of the stopped request
    // follows its end.
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(u"Hello there"), Number(TF_DEFAULT)}), S_OK);
    const std::vector<ReceivedEvent> next = AfterFirstEnd(subject.sink.received);
    ASSERT_FALSE(next.empty()) << Describe(subject.sink.received);
    EXPECT_EQ(next.front(), Start()) << Describe(subject.sink.received);
    EXPECT_EQ(next.back(), End());
    EXPECT_EQ(subject.Ends(), 2u) << Describe(subject.sink.received);
}

// The other generation's real voice.
LONG OtherVoice(const Subject &subject, LONG sapiVersion)
{
    for (const RealVoice &voice : kVoices)
        if (voice.sapiVersion != sapiVersion)
            return subject.Find(voice.name);
    return -1;
}

TEST_P(SpeechRealEngine, VoiceChangedInAWordHandlerEndsTheSynchronousSpeak)
{
    const LONG other = OtherVoice(subject, GetParam().sapiVersion);
    ASSERT_GE(other, 0);
    ITextToSpeech *tts = subject.tts.get();
    bool changed = false;
    subject.sink.onEvent = [tts, other, &changed](EventSink &, DISPID id, EXCEPINFO *) {
        if (id == DISPID_TTS_ONTTSWORD && !changed) {
            changed = true;
            EXPECT_EQ(tts->put_VoiceIdx(other), S_OK);
        }
        return S_OK;
    };
    {
        QuitGuard guard;
        ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(kTwoSentences), Number(TF_DEFAULT)}), S_OK);
        ASSERT_FALSE(guard.Fired()) << "the wait did not end: " << Describe(subject.sink.received);
    }
    const auto &events = subject.sink.received;
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events[events.size() - 2], Progress(100));
    EXPECT_EQ(events.back(), End());
    EXPECT_EQ(Words(kTwoSentences), std::vector<std::string>{"The"}) << Describe(events);
    // The next request, on the new voice, is all that follows: nothing of
    // the engine let go of arrives after the end.
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(u"Hello there"), Number(TF_DEFAULT)}), S_OK);
    const std::vector<ReceivedEvent> next = AfterFirstEnd(events);
    ASSERT_GE(next.size(), 3u) << Describe(events);
    EXPECT_EQ(next.front(), Start()) << Describe(events);
    EXPECT_EQ(next.back(), End());
    EXPECT_EQ(subject.Ends(), 2u) << Describe(events);
}

TEST_P(SpeechRealEngine, StopInAWordHandlerReportsNothingOfTheRequestAfterItsEnd)
{
    ITextToSpeech *tts = subject.tts.get();
    bool stopped = false;
    subject.sink.onEvent = [tts, &stopped](EventSink &, DISPID id, EXCEPINFO *) {
        if (id == DISPID_TTS_ONTTSWORD && !stopped) {
            stopped = true;
            EXPECT_EQ(tts->StopTTS(), S_OK);
        }
        return S_OK;
    };
    {
        QuitGuard guard;
        ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(kTwoSentences), Number(TF_DEFAULT)}), S_OK);
        ASSERT_FALSE(guard.Fired()) << "the wait did not end: " << Describe(subject.sink.received);
    }
    const auto &events = subject.sink.received;
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[events.size() - 2], Progress(100));
    EXPECT_EQ(events.back(), End());
    if (GetParam().sapiVersion == 1) { // stopped at once: that word's progress is not reported either
        EXPECT_EQ(events, (std::vector<ReceivedEvent>{Start(), events[1], Progress(100), End()})) << Describe(events);
    }
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(u"Hello there"), Number(TF_DEFAULT)}), S_OK);
    const std::vector<ReceivedEvent> next = AfterFirstEnd(events);
    ASSERT_GE(next.size(), 3u) << Describe(events);
    EXPECT_EQ(next.front(), Start()) << Describe(events);
    EXPECT_EQ(subject.Ends(), 2u) << Describe(events);
}

TEST_P(SpeechRealEngine, RateAndVolumeReadBackWhatTheEngineHolds)
{
    const struct {
        LONG rate, volume;
    } cases[] = {{3, 40}, {-10, 0}, {10, 100}, {0, 100}};
    for (const auto &c : cases) {
        ASSERT_EQ(subject->put_Rate(c.rate), S_OK);
        ASSERT_EQ(subject->put_Volume(c.volume), S_OK);
        LONG rate = 99, volume = 99;
        EXPECT_EQ(subject->get_Rate(&rate), S_OK);
        EXPECT_EQ(subject->get_Volume(&volume), S_OK);
        EXPECT_EQ(rate, c.rate);
        EXPECT_EQ(volume, c.volume);
    }
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeak, {Text(u"Fine."), Number(TF_DEFAULT)}), S_OK);
    EXPECT_EQ(subject.Ends(), 1u);
}

// Every WAV catalogue entry: entry 0 is the engine's own format, the others
// the sink's fixed list in order.
std::vector<WAVEFORMATEX> WaveTargets()
{
    std::vector<WAVEFORMATEX> targets(1, WAVEFORMATEX{});
    EXPECT_EQ(S_OK, CAudioSink::EnumFormats(
                        FF_WAVE,
                        [](const WAVEFORMATEX *format, LONG, void *context) {
                            static_cast<std::vector<WAVEFORMATEX> *>(context)->push_back(*format);
                            return 1;
                        },
                        &targets));
    return targets;
}

TEST_P(SpeechRealEngine, SpeakToFileWritesEveryWaveCatalogueEntry)
{
    const std::vector<WAVEFORMATEX> targets = WaveTargets();
    ASSERT_EQ(targets.size(), 37u);
    const std::u16string text = u"Testing one two three.";
    double reference = 0;
    for (LONG index = 0; index < static_cast<LONG>(targets.size()); ++index) {
        SCOPED_TRACE(index);
        ASSERT_EQ(subject->put_FileFormat(FF_WAVE), S_OK);
        ASSERT_EQ(subject->put_WaveFormatIdx(index), S_OK);
        const std::string path =
            TempPath("real-" + std::to_string(GetParam().sapiVersion) + "-" + std::to_string(index) + ".wav");
        const size_t endsBefore = subject.Ends();
        ASSERT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(path)), Number(TF_DEFAULT)}), S_OK);
        EXPECT_EQ(subject.Ends(), endsBefore + 1);

        std::istringstream probe(CommandOutput("ffprobe -v error -show_entries stream=sample_rate,channels,codec_name "
                                               "-show_entries format=duration -of default=nw=1 '" +
                                               path + "'"));
        int rate = 0, channels = 0;
        double duration = 0;
        std::string codec;
        for (std::string line; std::getline(probe, line);) {
            if (line.rfind("sample_rate=", 0) == 0)
                rate = std::atoi(line.c_str() + 12);
            else if (line.rfind("channels=", 0) == 0)
                channels = std::atoi(line.c_str() + 9);
            else if (line.rfind("duration=", 0) == 0)
                duration = std::atof(line.c_str() + 9);
            else if (line.rfind("codec_name=", 0) == 0)
                codec = line.substr(11);
        }
        if (index == 0) {
            // espeak-ng speaks 16-bit mono at 22050 Hz, flite's kal16 at 16000 Hz.
            EXPECT_EQ(rate, GetParam().sapiVersion == 0 ? 22050 : 16000);
            EXPECT_EQ(channels, 1);
            EXPECT_EQ(codec, "pcm_s16le");
            reference = duration;
            EXPECT_GT(duration, 0.5);
            EXPECT_LT(duration, 5.0);
        } else {
            const WAVEFORMATEX &target = targets[static_cast<size_t>(index)];
            EXPECT_EQ(rate, static_cast<int>(target.nSamplesPerSec));
            EXPECT_EQ(channels, target.nChannels);
            EXPECT_EQ(codec, target.wBitsPerSample == 8 ? "pcm_u8" : "pcm_s16le");
            EXPECT_NEAR(duration, reference, reference * 0.02);
        }
        const std::string soxRate = CommandOutput("sox --i -r '" + path + "'");
        EXPECT_EQ(std::atoi(soxRate.c_str()), rate);
        const std::string soxChannels = CommandOutput("sox --i -c '" + path + "'");
        EXPECT_EQ(std::atoi(soxChannels.c_str()), channels);
    }
}

// Every MP3 catalogue entry through a real voice: the file has the entry's
// rate, channels and bit rate, and decodes without an error.
TEST_P(SpeechRealEngine, SpeakToFileWritesEveryMp3CatalogueEntry)
{
    struct Entry {
        WAVEFORMATEX format;
        LONG bitRate;
    };
    std::vector<Entry> entries;
    EXPECT_EQ(S_OK, CAudioSink::EnumFormats(
                        FF_MP3,
                        [](const WAVEFORMATEX *format, LONG bitRate, void *context) {
                            static_cast<std::vector<Entry> *>(context)->push_back({*format, bitRate});
                            return 1;
                        },
                        &entries));
    ASSERT_EQ(entries.size(), 22u);
    ASSERT_EQ(subject->put_FileFormat(FF_MP3), S_OK);
    const std::u16string text = u"Testing one two three.";
    for (LONG index = 0; index < static_cast<LONG>(entries.size()); ++index) {
        SCOPED_TRACE(index);
        ASSERT_EQ(subject->put_WaveFormatIdx(index), S_OK);
        const std::string path =
            TempPath("real-" + std::to_string(GetParam().sapiVersion) + "-" + std::to_string(index) + ".mp3");
        ASSERT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(path)), Number(TF_DEFAULT)}), S_OK);
        const std::string probe = CommandOutput("ffprobe -v error -show_entries stream=sample_rate,channels,bit_rate "
                                                "-of default=nw=1 '" +
                                                path + "'");
        const Entry &e = entries[static_cast<size_t>(index)];
        EXPECT_NE(probe.find("sample_rate=" + std::to_string(e.format.nSamplesPerSec)), std::string::npos) << probe;
        EXPECT_NE(probe.find("channels=" + std::to_string(e.format.nChannels)), std::string::npos) << probe;
        EXPECT_NE(probe.find("bit_rate=" + std::to_string(e.bitRate)), std::string::npos) << probe;
        EXPECT_EQ(CommandOutput("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
    }
}

// ffprobe's entries of a file as key=value lines, collected into a map.
std::map<std::string, std::string> ProbeEntries(const std::string &path, const std::string &entries)
{
    std::istringstream probe(
        CommandOutput("ffprobe -v error -select_streams a:0 " + entries + " -of default=nw=1 '" + path + "'"));
    std::map<std::string, std::string> values;
    for (std::string line; std::getline(probe, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// Every MP4 catalogue entry through a real voice: AAC LC, 44.1 kHz stereo,
// as long as the engine's own audio, and a higher quality level costs more bits.
TEST_P(SpeechRealEngine, SpeakToFileWritesEveryMp4CatalogueEntry)
{
    const std::u16string text = u"Testing one two three. The quick brown fox jumps over the lazy dog.";
    const std::string tag = std::to_string(GetParam().sapiVersion);
    ASSERT_EQ(subject->put_FileFormat(FF_WAVE), S_OK);
    ASSERT_EQ(subject->put_WaveFormatIdx(0), S_OK);
    const std::string wav = TempPath("real-mp4-reference-" + tag + ".wav");
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(wav)), Number(TF_DEFAULT)}), S_OK);
    const double reference = std::atof(ProbeEntries(wav, "-show_entries format=duration")["duration"].c_str());
    ASSERT_GT(reference, 1.0);

    ASSERT_EQ(subject->put_FileFormat(FF_MP4), S_OK);
    LONG count = 0;
    ASSERT_EQ(subject->get_WaveFormatCount(&count), S_OK);
    ASSERT_EQ(count, 3);
    std::vector<long> bitRates;
    for (LONG index = 0; index < count; ++index) {
        SCOPED_TRACE(index);
        ASSERT_EQ(subject->put_WaveFormatIdx(index), S_OK);
        const std::string path = TempPath("real-" + tag + "-" + std::to_string(index) + ".m4a");
        const size_t endsBefore = subject.Ends();
        ASSERT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(path)), Number(TF_DEFAULT)}), S_OK);
        EXPECT_EQ(subject.Ends(), endsBefore + 1);
        auto v = ProbeEntries(path, "-show_entries stream=codec_name,profile,sample_rate,channels,bit_rate "
                                    "-show_entries format=duration");
        EXPECT_EQ(v["codec_name"], "aac");
        EXPECT_EQ(v["profile"], "LC");
        EXPECT_EQ(v["sample_rate"], "44100");
        EXPECT_EQ(v["channels"], "2");
        EXPECT_NEAR(std::atof(v["duration"].c_str()), reference, reference * 0.02);
        EXPECT_EQ(CommandOutput("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
        bitRates.push_back(std::atol(v["bit_rate"].c_str()));
    }
    std::cout << Narrow(GetParam().name) << " MP4 bit rates: " << bitRates[0] << ", " << bitRates[1] << ", "
              << bitRates[2] << "\n";
    EXPECT_LT(bitRates[0], bitRates[1]);
    EXPECT_LT(bitRates[1], bitRates[2]);
}

// A disk that fills up while the file is written: the synchronous call fails.
TEST_P(SpeechRealEngine, SpeakToFileOnAFullDiskFails)
{
    const std::string mount = TempPath("small-disk-" + std::to_string(GetParam().sapiVersion));
    ASSERT_EQ(std::system(("mkdir -p '" + mount + "'").c_str()), 0);
    if (geteuid() != 0 || std::system(("mount -t tmpfs -o size=32k tmpfs '" + mount + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "mounting a 32 kB tmpfs was refused (needs root and the right to mount)";
    const std::u16string text = u"The quick brown fox jumps over the lazy dog. It was very lazy today, and the fox "
                                u"ran on and on over the green hills under the grey clouds.";
    ASSERT_EQ(subject->put_FileFormat(FF_MP4), S_OK);
    ASSERT_EQ(subject->put_WaveFormatIdx(2), S_OK);
    const std::string path = mount + "/speech.m4a";
    const HRESULT hr = InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(path)), Number(TF_DEFAULT)});
    std::system(("umount '" + mount + "'").c_str());
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
}

// The WMA catalogue entries and the durations of the text they are checked with.
struct WmaEntry {
    WAVEFORMATEX format;
    LONG bitRate;
};

std::vector<WmaEntry> WmaEntries()
{
    std::vector<WmaEntry> entries;
    EXPECT_EQ(S_OK, CAudioSink::EnumFormats(
                        FF_WMA,
                        [](const WAVEFORMATEX *format, LONG bitRate, void *context) {
                            static_cast<std::vector<WmaEntry> *>(context)->push_back({*format, bitRate});
                            return 1;
                        },
                        &entries));
    return entries;
}

double ProbedDuration(const std::string &path)
{
    return std::atof(
        CommandOutput("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + path + "'").c_str());
}

// Every WMA catalogue entry the runtime's encoder serves (24 kbit/s and more)
// through a real voice: the entry's rate, channels and bit rate, a clean
// decode, and the spoken duration.
TEST_P(SpeechRealEngine, SpeakToFileWritesEveryWmaCatalogueEntryOfTheEncoder)
{
    const std::vector<WmaEntry> entries = WmaEntries();
    ASSERT_EQ(entries.size(), 71u);
    const std::u16string text = u"Testing one two three.";
    const std::string wave = TempPath("real-wma-reference-" + std::to_string(GetParam().sapiVersion) + ".wav");
    ASSERT_EQ(subject->put_FileFormat(FF_WAVE), S_OK);
    ASSERT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(wave)), Number(TF_DEFAULT)}), S_OK);
    const double reference = ProbedDuration(wave);
    ASSERT_GT(reference, 0.5);

    ASSERT_EQ(subject->put_FileFormat(FF_WMA), S_OK);
    int written = 0;
    for (LONG index = 0; index < static_cast<LONG>(entries.size()); ++index) {
        const WmaEntry &e = entries[static_cast<size_t>(index)];
        if (e.bitRate < 24000)
            continue;
        SCOPED_TRACE(index);
        ASSERT_EQ(subject->put_WaveFormatIdx(index), S_OK);
        const std::string path =
            TempPath("real-" + std::to_string(GetParam().sapiVersion) + "-" + std::to_string(index) + ".wma");
        const size_t endsBefore = subject.Ends();
        ASSERT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(path)), Number(TF_DEFAULT)}), S_OK);
        EXPECT_EQ(subject.Ends(), endsBefore + 1);
        // One ffprobe that decodes every frame (-count_frames): a decoding
        // error shows as a line that is not a key=value entry.
        const std::string probe =
            CommandOutput("ffprobe -v error -count_frames -show_entries stream=codec_name,sample_rate,channels,"
                          "bit_rate,nb_read_frames -show_entries format=duration -of default=nw=1 '" +
                          path + "' 2>&1");
        EXPECT_NE(probe.find("codec_name=wmav2"), std::string::npos) << probe;
        EXPECT_NE(probe.find("sample_rate=" + std::to_string(e.format.nSamplesPerSec)), std::string::npos) << probe;
        EXPECT_NE(probe.find("channels=" + std::to_string(e.format.nChannels)), std::string::npos) << probe;
        EXPECT_NE(probe.find("bit_rate=" + std::to_string(e.bitRate)), std::string::npos) << probe;
        std::istringstream lines(probe);
        for (std::string line; std::getline(lines, line);)
            EXPECT_NE(line.find('='), std::string::npos) << "ffprobe reported: " << line;
        const size_t frames = probe.find("nb_read_frames=");
        ASSERT_NE(frames, std::string::npos) << probe;
        EXPECT_GT(std::atoi(probe.c_str() + frames + 15), 0) << probe;
        const size_t at = probe.find("duration=");
        ASSERT_NE(at, std::string::npos) << probe;
        EXPECT_NEAR(std::atof(probe.c_str() + at + 9), reference, reference * 0.02 + 0.002) << probe;
        ++written;
    }
    EXPECT_EQ(written, 42);
}

// An entry below what the encoder makes: SpeakToFile fails at once, no
// OnTTSEnd says a file is done, and no file is left.
TEST_P(SpeechRealEngine, SpeakToFileBelowTheWmaEncoderFailsClearly)
{
    ASSERT_EQ(subject->put_FileFormat(FF_WMA), S_OK);
    ASSERT_EQ(subject->put_WaveFormatIdx(11), S_OK); // 22050 Hz mono, 20008 bit/s
    const std::string path = TempPath("real-low-" + std::to_string(GetParam().sapiVersion) + ".wma");
    EXPECT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(u"Too low."), Text(U16(path)), Number(TF_DEFAULT)}),
              E_FAIL);
    EXPECT_EQ(subject.Ends(), 0u) << Describe(subject.sink.received);
    EXPECT_FALSE(std::ifstream(path).good());
    // The voice still writes a file the encoder serves, and that request's
    // events are all that arrive: the synchronous call dispatches whatever
    // the failed one might have queued before them.
    ASSERT_EQ(subject->put_WaveFormatIdx(20), S_OK); // 44100 Hz mono, 48024 bit/s
    EXPECT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(u"Fine."), Text(U16(path)), Number(TF_DEFAULT)}), S_OK);
    EXPECT_GT(ProbedDuration(path), 0.2);
    ASSERT_FALSE(subject.sink.received.empty());
    EXPECT_EQ(subject.sink.received.front(), Start()) << Describe(subject.sink.received);
    EXPECT_EQ(subject.Ends(), 1u) << Describe(subject.sink.received);
}

// A file system that fills up while the file is written: a failure, not S_OK.
TEST_P(SpeechRealEngine, SpeakToFileIntoAFullFileSystemFails)
{
    const std::string folder = TempPath("full-tmpfs-" + std::to_string(GetParam().sapiVersion));
    ASSERT_EQ(std::system(("mkdir -p '" + folder + "'").c_str()), 0);
    if (std::system(("mount -t tmpfs -o size=32k orafon-full '" + folder + "' 2>/dev/null").c_str()) != 0) {
        std::system(("rmdir '" + folder + "'").c_str());
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root with CAP_SYS_ADMIN)";
    }
    ASSERT_EQ(subject->put_FileFormat(FF_WMA), S_OK);
    ASSERT_EQ(subject->put_WaveFormatIdx(23), S_OK); // 44100 Hz stereo, 320008 bit/s
    const std::u16string text = u"This sentence is long enough to fill a very small file system with compressed "
                                u"audio, and then it goes on for a while longer so that there is no doubt about it.";
    const std::string path = folder + "/full.wma";
    const HRESULT hr = InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(path)), Number(TF_DEFAULT)});
    std::system(("umount '" + folder + "' && rmdir '" + folder + "'").c_str());
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
}

INSTANTIATE_TEST_SUITE_P(Voices, SpeechRealEngine, testing::ValuesIn(kVoices),
                         [](const testing::TestParamInfo<RealVoice> &param) {
                             return param.param.sapiVersion == 0 ? std::string("Espeak") : std::string("Flite");
                         });

} // namespace
} // namespace speechtest
