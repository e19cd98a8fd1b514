// The espeak-ng engine as the voices use it: audio and events through a pipe.
#include "sapi5/Engine.h"
#include "sapi5/EspeakEngine.h"
#include "sapi5/PcmConverter.h"

#include <orafon/PcmFormat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>

namespace orafon::sapi5 {
namespace {

struct Heard {
    std::vector<int16_t> samples;
    struct Event {
        WORD id;
        uint32_t position;
        uint32_t length;
        size_t atSample;
    };
    std::vector<Event> events;
    HRESULT result = E_FAIL;
};

Heard Synthesize(const std::u16string &text, bool xml, LONG rate = 0, const std::string &voice = "gmw/en-US")
{
    auto job = std::make_shared<SynthesisJob>();
    EXPECT_EQ(S_OK, ParseSpeech(text.data(), text.size(), xml, job->items));
    job->text = text;
    job->rate = [rate] { return rate; };
    job->pipe = std::make_shared<SpeechPipe>();
    CreateEspeakEngine(voice)->Start(job);
    Heard heard;
    PipeItem item;
    while (job->pipe->Pop(item, std::chrono::seconds(30))) {
        if (item.kind == PipeItem::Kind::Done) {
            heard.result = item.result;
            break;
        }
        if (item.kind == PipeItem::Kind::Event) {
            heard.events.push_back({item.eventId, static_cast<uint32_t>(item.lParam),
                                    static_cast<uint32_t>(item.wParam), heard.samples.size()});
            continue;
        }
        for (size_t i = 0; i + 1 < item.pcm.size(); i += 2)
            heard.samples.push_back(static_cast<int16_t>(item.pcm[i] | (item.pcm[i + 1] << 8)));
    }
    return heard;
}

std::vector<std::u16string> Slices(const Heard &h, const std::u16string &text, WORD id)
{
    std::vector<std::u16string> out;
    for (const auto &e : h.events)
        if (e.id == id)
            out.push_back(text.substr(e.position, e.length));
    return out;
}

double Peak(const std::vector<int16_t> &s)
{
    int peak = 0;
    for (int16_t v : s)
        peak = std::max(peak, std::abs(static_cast<int>(v)));
    return peak;
}

// The median fundamental of the voiced frames: per 40 ms frame, the shortest
// period whose autocorrelation comes close to the best, so that multiples of
// the period are not taken for it.
double FundamentalHz(const std::vector<int16_t> &s, int rate)
{
    const size_t frame = static_cast<size_t>(rate) * 40 / 1000;
    const int minLag = rate / 500, maxLag = rate / 50;
    std::vector<double> found;
    for (size_t start = 0; start + frame + static_cast<size_t>(maxLag) < s.size(); start += frame) {
        double energy = 0;
        for (size_t i = start; i < start + frame; ++i)
            energy += static_cast<double>(s[i]) * s[i];
        if (energy / frame < 1000.0 * 1000.0)
            continue; // silence or breath
        std::vector<double> r(static_cast<size_t>(maxLag) + 1, 0.0);
        double best = 0;
        for (int lag = minLag; lag <= maxLag; ++lag) {
            double sum = 0;
            for (size_t i = start; i < start + frame; ++i)
                sum += static_cast<double>(s[i]) * s[i + static_cast<size_t>(lag)];
            r[static_cast<size_t>(lag)] = sum / energy;
            best = std::max(best, r[static_cast<size_t>(lag)]);
        }
        if (best < 0.5)
            continue; // not voiced
        for (int lag = minLag + 1; lag < maxLag; ++lag) {
            const double v = r[static_cast<size_t>(lag)];
            if (v >= 0.85 * best && v >= r[static_cast<size_t>(lag) - 1] && v >= r[static_cast<size_t>(lag) + 1]) {
                found.push_back(static_cast<double>(rate) / lag);
                break;
            }
        }
    }
    if (found.empty())
        return 0;
    std::sort(found.begin(), found.end());
    return found[found.size() / 2];
}

// How alike two utterances sound: the correlation of their loudness
// contours (RMS per 10 ms).
double Similarity(const std::vector<int16_t> &a, const std::vector<int16_t> &b)
{
    auto envelope = [](const std::vector<int16_t> &s) {
        std::vector<double> e;
        for (size_t i = 0; i + 220 <= s.size(); i += 220) {
            double sum = 0;
            for (size_t k = i; k < i + 220; ++k)
                sum += static_cast<double>(s[k]) * s[k];
            e.push_back(std::sqrt(sum / 220));
        }
        return e;
    };
    const auto ea = envelope(a), eb = envelope(b);
    const size_t n = std::min(ea.size(), eb.size());
    double ma = 0, mb = 0;
    for (size_t i = 0; i < n; ++i) {
        ma += ea[i] / n;
        mb += eb[i] / n;
    }
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < n; ++i) {
        ab += (ea[i] - ma) * (eb[i] - mb);
        aa += (ea[i] - ma) * (ea[i] - ma);
        bb += (eb[i] - mb) * (eb[i] - mb);
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

TEST(Sapi5Espeak, ListsTheInstalledVoices)
{
    const auto voices = ListEspeakVoices();
    EXPECT_GT(voices.size(), 50u);
    bool english = false;
    for (const auto &v : voices)
        english = english || v.identifier == "gmw/en-US";
    EXPECT_TRUE(english);
    EXPECT_EQ(22050, EspeakSampleRate());
}

TEST(Sapi5Espeak, WordsAndSentencesSliceTheText)
{
    const std::u16string text = u"Hello world. This is a test.";
    const Heard h = Synthesize(text, false);
    ASSERT_EQ(S_OK, h.result);
    EXPECT_EQ((std::vector<std::u16string>{u"Hello", u"world", u"This", u"is", u"a", u"test"}),
              Slices(h, text, SPEI_WORD_BOUNDARY));
    EXPECT_EQ((std::vector<std::u16string>{u"Hello world.", u"This is a test."}),
              Slices(h, text, SPEI_SENTENCE_BOUNDARY));
    // Events arrive in order of the audio, words after the audio before them.
    for (size_t i = 1; i < h.events.size(); ++i)
        EXPECT_LE(h.events[i - 1].atSample, h.events[i].atSample);
    EXPECT_GT(h.events.back().atSample, h.samples.size() / 2);
    EXPECT_GT(Peak(h.samples), 3000);
}

TEST(Sapi5Espeak, PositionsAreUtf16UnitsAcrossAccentsAndAstralCharacters)
{
    const std::u16string text = u"Z\u00fcrich caf\u00e9 \U0001F600 na\u00efve d\u00e9j\u00e0 vu.";
    const Heard h = Synthesize(text, false);
    ASSERT_EQ(S_OK, h.result);
    const auto words = Slices(h, text, SPEI_WORD_BOUNDARY);
    for (const auto &w : {u"Z\u00fcrich", u"caf\u00e9", u"na\u00efve", u"d\u00e9j\u00e0", u"vu"})
        EXPECT_NE(words.end(), std::find(words.begin(), words.end(), std::u16string(w)))
            << std::string(w, w + std::char_traits<char16_t>::length(w)).size();
    // The astral character is one word of two units.
    EXPECT_NE(words.end(), std::find(words.begin(), words.end(), std::u16string(u"\U0001F600")));
    for (const auto &w : words) {
        EXPECT_FALSE(w.empty());
        EXPECT_EQ(std::u16string::npos, w.find(u' '));
        // Never half of a surrogate pair.
        EXPECT_FALSE(w.front() >= 0xDC00 && w.front() <= 0xDFFF);
        EXPECT_FALSE(w.back() >= 0xD800 && w.back() <= 0xDBFF);
    }
}

TEST(Sapi5Espeak, PositionsCountTheMarkupPrefix)
{
    const std::u16string text = u"<pitch absmiddle=\"3\"/>Hello world";
    const Heard h = Synthesize(text, true);
    ASSERT_EQ(S_OK, h.result);
    ASSERT_GE(h.events.size(), 2u);
    const auto words = Slices(h, text, SPEI_WORD_BOUNDARY);
    EXPECT_EQ((std::vector<std::u16string>{u"Hello", u"world"}), words);
    for (const auto &e : h.events) {
        if (e.id == SPEI_WORD_BOUNDARY && text.substr(e.position, e.length) == u"world") {
            EXPECT_EQ(28u, e.position);
        }
    }
}

TEST(Sapi5Espeak, RateTenIsAtLeastOnePointEightTimesShorter)
{
    const std::u16string text = u"The quick brown fox jumps over the lazy dog.";
    const Heard normal = Synthesize(text, false, 0);
    const Heard fast = Synthesize(text, false, 10);
    ASSERT_GT(fast.samples.size(), 0u);
    EXPECT_GE(static_cast<double>(normal.samples.size()) / fast.samples.size(), 1.8);
}

TEST(Sapi5Espeak, PitchMarkupMovesTheFundamental)
{
    const Heard low = Synthesize(u"<pitch absmiddle=\"-10\">Ahhhhh aaaah.</pitch>", true);
    const Heard high = Synthesize(u"<pitch absmiddle=\"10\">Ahhhhh aaaah.</pitch>", true);
    const double f0Low = FundamentalHz(low.samples, 22050), f0High = FundamentalHz(high.samples, 22050);
    EXPECT_GT(f0High, f0Low * 1.3) << f0Low << " " << f0High;
}

TEST(Sapi5Espeak, SilenceAndBookmarksKeepTheirPlace)
{
    const std::u16string text = u"One.<silence msec=\"500\"/><bookmark mark=\"7\"/>Two.";
    const Heard with = Synthesize(text, true);
    const Heard one = Synthesize(u"One.", false), two = Synthesize(u"Two.", false);
    const size_t halfSecond = 22050 / 2;
    EXPECT_NEAR(static_cast<double>(one.samples.size() + two.samples.size() + halfSecond),
                static_cast<double>(with.samples.size()), 22050 * 0.02);
    size_t bookmarks = 0;
    for (const auto &e : with.events)
        if (e.id == SPEI_TTS_BOOKMARK) {
            ++bookmarks;
            EXPECT_EQ(7u, e.length); // the mark's number travels in wParam
        }
    EXPECT_EQ(1u, bookmarks);
}

TEST(Sapi5Espeak, ConcurrentRequestsGiveTheSameAudioAsOneAtATime)
{
    const std::u16string a = u"First voice speaking here.", b = u"Second voice says something else.";
    const Heard soloA = Synthesize(a, false), soloB = Synthesize(b, false);
    Heard bothA, bothB;
    std::thread ta([&] { bothA = Synthesize(a, false); });
    std::thread tb([&] { bothB = Synthesize(b, false); });
    ta.join();
    tb.join();
    // espeak-ng carries a little state from one utterance to the next, so
    // the same text is not bit-identical twice; interleaved synthesis would
    // make it a different signal altogether.
    EXPECT_NEAR(static_cast<double>(soloA.samples.size()), static_cast<double>(bothA.samples.size()), 50.0);
    EXPECT_NEAR(static_cast<double>(soloB.samples.size()), static_cast<double>(bothB.samples.size()), 50.0);
    EXPECT_GT(Similarity(soloA.samples, bothA.samples), 0.97);
    EXPECT_GT(Similarity(soloB.samples, bothB.samples), 0.97);
    // And the check tells different utterances apart.
    EXPECT_LT(Similarity(soloA.samples, soloB.samples), 0.8);
}

TEST(Sapi5Espeak, CancelStopsTheEngineAndFreesTheWorker)
{
    std::u16string longText;
    for (int i = 0; i < 200; ++i)
        longText += u"This sentence is repeated to make a long text. ";
    auto job = std::make_shared<SynthesisJob>();
    ASSERT_EQ(S_OK, ParseSpeech(longText.data(), longText.size(), false, job->items));
    job->pipe = std::make_shared<SpeechPipe>(22050 * 2); // one second ahead at most
    CreateEspeakEngine("gmw/en-US")->Start(job);
    PipeItem item;
    ASSERT_TRUE(job->pipe->Pop(item, std::chrono::seconds(10)));
    job->pipe->Cancel();
    // The worker is free for the next request right away.
    const Heard next = Synthesize(u"Next.", false);
    EXPECT_EQ(S_OK, next.result);
    EXPECT_GT(next.samples.size(), 1000u);
}

PipeItem AudioItem(size_t bytes, uint8_t fill)
{
    PipeItem item;
    item.pcm.assign(bytes, fill);
    return item;
}

// A consumer that asked for batches gets a whole batch once it is queued,
// or what there is at the end, and takes the rest without waiting again.
TEST(Sapi5Pipe, BatchedConsumerWakesForABatchOrTheEndAndDrainsInOrder)
{
    struct Case {
        size_t items;
        bool done;
    };
    for (const Case c : {Case{10, false}, Case{3, true}}) {
        SpeechPipe pipe;
        pipe.SetBatchBytes(1000);
        std::vector<uint8_t> fills;
        std::thread consumer([&] {
            PipeItem item;
            // A long timeout: only a batch or the end can wake it in time.
            if (!pipe.Pop(item, std::chrono::seconds(60)))
                return;
            fills.push_back(item.kind == PipeItem::Kind::Done ? 0xFF : item.pcm[0]);
            while (pipe.Pop(item, std::chrono::milliseconds(0)))
                fills.push_back(item.kind == PipeItem::Kind::Done ? 0xFF : item.pcm[0]);
        });
        for (size_t i = 0; i < c.items; ++i)
            ASSERT_TRUE(pipe.Push(AudioItem(100, static_cast<uint8_t>(i))));
        if (c.done) {
            PipeItem done;
            done.kind = PipeItem::Kind::Done;
            ASSERT_TRUE(pipe.Push(std::move(done)));
        }
        consumer.join();
        std::vector<uint8_t> expected;
        for (size_t i = 0; i < c.items; ++i)
            expected.push_back(static_cast<uint8_t>(i));
        if (c.done)
            expected.push_back(0xFF);
        EXPECT_EQ(expected, fills) << c.items << " items";
    }
}

struct ConversionCase {
    WAVEFORMATEX to;
    int gain;
};

TEST(Sapi5Pcm, ConvertsRateChannelsWidthAndGain)
{
    const WAVEFORMATEX from = orafon::PcmFormat(22050, 1, 16);
    std::vector<uint8_t> tone;
    for (int i = 0; i < 22050; ++i) {
        const auto v = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 440 * i / 22050.0));
        tone.push_back(static_cast<uint8_t>(v & 0xFF));
        tone.push_back(static_cast<uint8_t>((v >> 8) & 0xFF));
    }
    const ConversionCase cases[] = {{orafon::PcmFormat(22050, 1, 16), 50},
                                    {orafon::PcmFormat(44100, 2, 16), 100},
                                    {orafon::PcmFormat(8000, 1, 8), 100},
                                    {orafon::PcmFormat(16000, 1, 16), 25}};
    for (const auto &c : cases) {
        PcmConverter converter(from, c.to);
        std::vector<uint8_t> out;
        // In odd pieces, as the engine delivers it.
        for (size_t i = 0; i < tone.size(); i += 883)
            converter.Convert(tone.data() + i, std::min<size_t>(883, tone.size() - i), c.gain, out);
        const size_t frames = out.size() / c.to.nBlockAlign;
        EXPECT_NEAR(static_cast<double>(c.to.nSamplesPerSec), static_cast<double>(frames), 3.0);
        int peak = 0;
        for (size_t f = 0; f < frames; ++f) {
            const uint8_t *p = out.data() + f * c.to.nBlockAlign;
            const int v = c.to.wBitsPerSample == 16 ? static_cast<int16_t>(p[0] | (p[1] << 8)) : (p[0] - 128) * 256;
            peak = std::max(peak, std::abs(v));
        }
        EXPECT_NEAR(10000.0 * c.gain / 100, peak, 10000.0 * c.gain / 100 * 0.05 + 256);
    }
}

} // namespace
} // namespace orafon::sapi5
