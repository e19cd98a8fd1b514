// The flite modes' sources: sentence-at-a-time PCM and word offsets.
#include "EngineMode.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orafon::sapi4 {
namespace {

struct Spoken {
    std::vector<SpeechChunk> chunks;
    std::vector<uint32_t> wordOffsets;
    std::vector<uint32_t> marks;
    size_t bytes = 0;
};

std::shared_ptr<EngineMode> FliteMode(const char16_t *speaker)
{
    for (auto &mode : AllModes())
        if (std::u16string(mode->Info().szSpeaker) == speaker && mode->Info().gEngineID.Data4[7] == 0)
            return mode;
    return nullptr;
}

Spoken Speak(EngineMode &mode, const std::u16string &text, bool tagged, Prosody prosody)
{
    Spoken out;
    auto source = mode.CreateSource(text, SplitText(text, tagged), [prosody] { return prosody; });
    for (;;) {
        SpeechChunk chunk;
        bool done = false;
        EXPECT_EQ(source->Next(chunk, done), S_OK);
        if (done)
            break;
        for (const auto &e : chunk.events) {
            EXPECT_LE(e.byte, chunk.pcm.size());
            (e.kind == SpeechEvent::Kind::Word ? out.wordOffsets : out.marks).push_back(e.value);
        }
        out.bytes += chunk.pcm.size();
        out.chunks.push_back(std::move(chunk));
    }
    return out;
}

double Rms(const Spoken &s)
{
    double sum = 0;
    size_t n = 0;
    for (const auto &c : s.chunks)
        for (size_t i = 0; i + 1 < c.pcm.size(); i += 2, ++n) {
            const auto v = static_cast<int16_t>(c.pcm[i] | (c.pcm[i + 1] << 8));
            sum += double(v) * v;
        }
    return n ? std::sqrt(sum / n) : 0;
}

Prosody Defaults(const EngineMode &mode)
{
    const AttributeRanges r = mode.Ranges();
    return {r.speed.def, r.pitch.def, r.volume.def};
}

TEST(Sapi4FliteSource, SpeaksSentenceBySentenceWithWordOffsets)
{
    auto mode = FliteMode(u"kal16");
    ASSERT_TRUE(mode);
    ASSERT_EQ(mode->Prepare(), S_OK);
    const std::u16string text = u"Hello world. This is a test.";
    Spoken s = Speak(*mode, text, false, Defaults(*mode));
    EXPECT_EQ(s.chunks.size(), 2u);
    EXPECT_EQ(s.wordOffsets, (std::vector<uint32_t>{0, 12, 26, 36, 42, 46}));
    const double seconds = s.bytes / 2.0 / mode->Format().nSamplesPerSec;
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 5.0);
    EXPECT_GT(Rms(s), 300.0);
}

TEST(Sapi4FliteSource, AccentedAndWideLettersKeepUtf16Offsets)
{
    auto mode = FliteMode(u"kal");
    ASSERT_TRUE(mode);
    ASSERT_EQ(mode->Prepare(), S_OK);
    const std::u16string text = u"Caf\u00e9 na\u00efve \U0001F600 Z\u00fcrich end.";
    Spoken s = Speak(*mode, text, false, Defaults(*mode));
    // Every reported word starts where its word starts in the UTF-16 text.
    std::vector<uint32_t> expected{0, 10, 22, 28, 42};
    EXPECT_EQ(s.wordOffsets, expected);
}

TEST(Sapi4FliteSource, TagsChangeProsodyPauseAndMark)
{
    auto mode = FliteMode(u"kal16");
    ASSERT_TRUE(mode);
    ASSERT_EQ(mode->Prepare(), S_OK);
    const std::u16string plain = u"One two three.";
    const std::u16string tagged = u"\\Spd=80\\One two three.\\Pau=500\\\\Mrk=42\\";
    Spoken a = Speak(*mode, plain, true, Defaults(*mode));
    Spoken b = Speak(*mode, tagged, true, Defaults(*mode));
    // Half speed and a 500 ms pause: well over twice the samples.
    EXPECT_GT(b.bytes, 2 * a.bytes);
    EXPECT_EQ(b.marks, std::vector<uint32_t>{42});
    // Offsets count the tag in front of the words.
    EXPECT_EQ(b.wordOffsets, (std::vector<uint32_t>{16, 24, 32}));
}

TEST(Sapi4FliteSource, EveryVoiceSpeaks)
{
    for (const char16_t *speaker : {u"kal", u"kal16", u"awb", u"rms", u"slt"}) {
        auto mode = FliteMode(speaker);
        ASSERT_TRUE(mode);
        ASSERT_EQ(mode->Prepare(), S_OK);
        Spoken s = Speak(*mode, u"Good morning.", false, Defaults(*mode));
        EXPECT_GT(Rms(s), 300.0) << std::string(speaker, speaker + 3);
        EXPECT_EQ(s.wordOffsets, (std::vector<uint32_t>{0, 10}));
    }
}

} // namespace
} // namespace orafon::sapi4
