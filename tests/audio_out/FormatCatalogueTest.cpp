// The fixed target-format lists each file type offers.
#include "AudioSink.h"
#include "WmaWriter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Entry {
    WAVEFORMATEX wfx;
    LONG nBitRate;
};

int Collect(const WAVEFORMATEX *pwfx, LONG nBitRate, void *pContext)
{
    static_cast<std::vector<Entry> *>(pContext)->push_back({*pwfx, nBitRate});
    return 1;
}

std::vector<Entry> List(LONG nFileFormat)
{
    std::vector<Entry> entries;
    EXPECT_EQ(S_OK, CAudioSink::EnumFormats(nFileFormat, Collect, &entries));
    return entries;
}

struct Expected {
    DWORD nSampleRate;
    WORD nChannels;
    WORD wBits;
    LONG nBitRate;
};

void ExpectEntry(const Entry &e, const Expected &x, size_t i)
{
    SCOPED_TRACE(testing::Message() << "entry " << i);
    EXPECT_EQ(WAVE_FORMAT_PCM, e.wfx.wFormatTag);
    EXPECT_EQ(x.nSampleRate, e.wfx.nSamplesPerSec);
    EXPECT_EQ(x.nChannels, e.wfx.nChannels);
    EXPECT_EQ(x.wBits, e.wfx.wBitsPerSample);
    EXPECT_EQ(x.nChannels * x.wBits / 8, e.wfx.nBlockAlign);
    EXPECT_EQ(x.nSampleRate * e.wfx.nBlockAlign, e.wfx.nAvgBytesPerSec);
    EXPECT_EQ(0, e.wfx.cbSize);
    EXPECT_EQ(x.nBitRate, e.nBitRate);
}

void ExpectList(LONG nFileFormat, const std::vector<Expected> &expected)
{
    const std::vector<Entry> entries = List(nFileFormat);
    ASSERT_EQ(expected.size(), entries.size());
    for (size_t i = 0; i < expected.size(); ++i)
        ExpectEntry(entries[i], expected[i], i);
}

constexpr DWORD kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

std::vector<Expected> PcmGrid(std::initializer_list<std::pair<WORD, WORD>> shapes, std::vector<DWORD> rates)
{
    std::vector<Expected> v;
    for (DWORD r : rates)
        for (auto [ch, bits] : shapes)
            v.push_back({r, ch, bits, static_cast<LONG>(r * ch * bits)});
    return v;
}

const std::vector<Expected> kMp3 = {
    {11025, 1, 16, 16000},  {11025, 1, 16, 64000},  {22050, 1, 16, 24000},  {22050, 1, 16, 32000},
    {22050, 1, 16, 40000},  {22050, 1, 16, 48000},  {44100, 1, 16, 56000},  {44100, 1, 16, 64000},
    {11025, 2, 16, 32000},  {22050, 2, 16, 64000},  {22050, 2, 16, 80000},  {22050, 2, 16, 96000},
    {44100, 2, 16, 112000}, {44100, 2, 16, 128000}, {48000, 2, 16, 128000}, {44100, 2, 16, 160000},
    {44100, 2, 16, 192000}, {44100, 2, 16, 224000}, {44100, 2, 16, 256000}, {48000, 2, 16, 256000},
    {44100, 2, 16, 320000}, {48000, 2, 16, 320000},
};

TEST(AudioSinkFormats, WaveAndFlacAreTheFullPcmGrid)
{
    const auto grid = PcmGrid({{1, 8}, {2, 8}, {1, 16}, {2, 16}}, {std::begin(kRates), std::end(kRates)});
    ASSERT_EQ(36u, grid.size());
    ExpectList(FF_WAVE, grid);
    ExpectList(FF_FLAC, grid);
    // The first WAV catalogue entry after the engine's own: 8 kHz 8-bit mono.
    EXPECT_EQ(64000, List(FF_WAVE)[0].nBitRate);
    // Catalogue index 32 (list index 31): 44.1 kHz 16-bit stereo.
    EXPECT_EQ(44100u, List(FF_WAVE)[31].wfx.nSamplesPerSec);
    EXPECT_EQ(2, List(FF_WAVE)[31].wfx.nChannels);
}

TEST(AudioSinkFormats, AuAndAiffAreSixteenBitOnly)
{
    const auto grid = PcmGrid({{1, 16}, {2, 16}}, {std::begin(kRates), std::end(kRates)});
    ExpectList(FF_AU, grid);
    ExpectList(FF_AIFF, grid);
}

TEST(AudioSinkFormats, VoxIsSixteenBitMonoFrom6000)
{
    const auto list = PcmGrid({{1, 16}}, {6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000});
    ExpectList(FF_VOX, list);
    EXPECT_EQ(96000, List(FF_VOX)[0].nBitRate);
}

TEST(AudioSinkFormats, Mp3HasTwentyTwoEntries)
{
    ExpectList(FF_MP3, kMp3);
}

TEST(AudioSinkFormats, OggIsMp3WithoutItsSecondEntry)
{
    std::vector<Expected> ogg = kMp3;
    ogg.erase(ogg.begin() + 1);
    ExpectList(FF_OGG, ogg);
}

TEST(AudioSinkFormats, Mp4HasThreeStereoEntries)
{
    ExpectList(FF_MP4, {{44100, 2, 16, 33000}, {44100, 2, 16, 47000}, {44100, 2, 16, 57000}});
}

TEST(AudioSinkFormats, WmaHasItsSeventyOneEntriesWithTheRuntime)
{
    ASSERT_TRUE(CWmaWriter::IsRuntimeAvailable());
    ExpectList(FF_WMA, {{8000, 1, 16, 8000},    {8000, 1, 16, 6000},    {8000, 1, 16, 5000},    {8000, 2, 16, 12000},
                        {11025, 1, 16, 10016},  {11025, 1, 16, 8016},   {16000, 1, 16, 16000},  {16000, 1, 16, 12000},
                        {16000, 1, 16, 10000},  {16000, 2, 16, 20000},  {16000, 2, 16, 16000},  {22050, 1, 16, 20008},
                        {22050, 1, 16, 16024},  {22050, 2, 16, 32024},  {22050, 2, 16, 22008},  {22050, 2, 16, 20008},
                        {32000, 1, 16, 20000},  {32000, 2, 16, 48000},  {32000, 2, 16, 40000},  {32000, 2, 16, 32000},
                        {44100, 1, 16, 48024},  {44100, 1, 16, 32024},  {44100, 1, 16, 20008},  {44100, 2, 16, 320008},
                        {44100, 2, 16, 256016}, {44100, 2, 16, 192016}, {44100, 2, 16, 160016}, {44100, 2, 16, 128016},
                        {44100, 2, 16, 96024},  {44100, 2, 16, 80024},  {44100, 2, 16, 64024},  {44100, 2, 16, 48024},
                        {44100, 2, 16, 31984},  {48000, 2, 16, 192000}, {48000, 2, 16, 160008}, {48000, 2, 16, 128016},
                        {48000, 2, 16, 96000},  {48000, 2, 16, 64008},  {8000, 1, 16, 8000},    {8000, 1, 16, 6000},
                        {8000, 1, 16, 5000},    {8000, 2, 16, 12000},   {11025, 1, 16, 10024},  {11025, 1, 16, 8024},
                        {22050, 1, 16, 20008},  {22050, 1, 16, 16024},  {22050, 2, 16, 32048},  {22050, 2, 16, 22008},
                        {22050, 2, 16, 20008},  {32000, 1, 16, 20000},  {32000, 2, 16, 48000},  {32000, 2, 16, 40000},
                        {32000, 2, 16, 32000},  {44100, 1, 16, 48024},  {44100, 1, 16, 32048},  {44100, 1, 16, 20008},
                        {44100, 2, 16, 320032}, {44100, 2, 16, 256032}, {44100, 2, 16, 192040}, {44100, 2, 16, 160040},
                        {44100, 2, 16, 128040}, {44100, 2, 16, 96040},  {44100, 2, 16, 80024},  {44100, 2, 16, 64040},
                        {44100, 2, 16, 48024},  {44100, 2, 16, 31960},  {48000, 2, 16, 192000}, {48000, 2, 16, 160032},
                        {48000, 2, 16, 128016}, {48000, 2, 16, 96000},  {48000, 2, 16, 64032}});
}

TEST(AudioSinkFormats, UnknownFileFormatsGiveNoEntries)
{
    EXPECT_TRUE(List(9).empty());
    EXPECT_TRUE(List(-1).empty());
}

TEST(AudioSinkFormats, NullCallbackIsRefused)
{
    EXPECT_EQ(E_INVALIDARG, CAudioSink::EnumFormats(FF_MP3, nullptr, nullptr));
}

} // namespace
