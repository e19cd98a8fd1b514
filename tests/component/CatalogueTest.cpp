// The wave-format catalogue: FileFormat, WaveFormatCount, WaveFormatIdx,
// WaveFormatName, and the fixed lists behind them.
#include "TestObjects.h"

#include <orafon/PcmFormat.h>

#include <audio_out/AudioSink.h>
#include <audio_out/WmaWriter.h>
#include <speech/WaveFormatCatalogue.h>

#include <cstring>

using orafon::CBstr;
using namespace orafon::test;

namespace {

LONG Count(ITextToSpeech *tts)
{
    LONG n = -5;
    EXPECT_EQ(tts->get_WaveFormatCount(&n), S_OK);
    return n;
}

LONG Index(ITextToSpeech *tts)
{
    LONG n = -5;
    EXPECT_EQ(tts->get_WaveFormatIdx(&n), S_OK);
    return n;
}

std::u16string NameAt(ITextToSpeech *tts, LONG index)
{
    EXPECT_EQ(tts->put_WaveFormatIdx(index), S_OK);
    CBstr name;
    EXPECT_EQ(tts->get_WaveFormatName(name.Out()), S_OK);
    return ToU16(name.Get());
}

struct FileTypeCase {
    FILEFORMAT format;
    HRESULT put;
    LONG count;
    const char16_t *first;
    const char16_t *last;
};

const FileTypeCase kFileTypes[] = {
    {FF_WAVE, S_OK, 37, u"Voice Default Format", u"48kHz, 16Bit, Stereo"},
    {FF_MP3, S_OK, 22, u"16kBPS, 11kHz, Mono", u"320kBPS, 48kHz, Stereo"},
    {FF_OGG, S_OK, 21, u"16kBPS, 11kHz, Mono", u"320kBPS, 48kHz, Stereo"},
    {FF_VOX, S_OK, 10, u"96kBPS, 6kHz, Mono", u"768kBPS, 48kHz, Mono"},
    {FF_AU, S_OK, 18, u"128kBPS, 8kHz, Mono", u"1536kBPS, 48kHz, Stereo"},
    {FF_AIFF, S_OK, 18, u"128kBPS, 8kHz, Mono", u"1536kBPS, 48kHz, Stereo"},
    {FF_MP4, S_OK, 3, u"33kBPS, 44kHz, Stereo", u"57kBPS, 44kHz, Stereo"},
    {FF_FLAC, S_OK, 36, u"64kBPS, 8kHz, Mono", u"1536kBPS, 48kHz, Stereo"},
};

TEST(ComponentCatalogue, NewObjectHasTheMp3List)
{
    auto tts = MakeTts();
    FILEFORMAT format = FF_WAVE;
    EXPECT_EQ(tts->get_FileFormat(&format), S_OK);
    EXPECT_EQ(format, FF_MP3);
    EXPECT_EQ(Count(tts), 22);
    EXPECT_EQ(Index(tts), 0);
    CBstr name;
    EXPECT_EQ(tts->get_WaveFormatName(name.Out()), S_OK);
    EXPECT_EQ(ToU16(name.Get()), u"16kBPS, 11kHz, Mono");
}

TEST(ComponentCatalogue, EveryFileTypeHasItsCountAndNames)
{
    for (const FileTypeCase &c : kFileTypes) {
        SCOPED_TRACE(static_cast<int>(c.format));
        auto tts = MakeTts();
        ASSERT_EQ(tts->put_WaveFormatIdx(5), S_OK);
        EXPECT_EQ(tts->put_FileFormat(c.format), c.put);
        FILEFORMAT stored = FF_WAVE;
        EXPECT_EQ(tts->get_FileFormat(&stored), S_OK);
        EXPECT_EQ(stored, c.format);
        EXPECT_EQ(Count(tts), c.count);
        if (c.count == 0) {
            EXPECT_EQ(Index(tts), 5); // the old index stays
            CBstr name;
            EXPECT_EQ(tts->get_WaveFormatName(name.Out()), E_INVALIDARG);
            continue;
        }
        EXPECT_EQ(Index(tts), 0);
        EXPECT_EQ(NameAt(tts, 0), c.first);
        EXPECT_EQ(NameAt(tts, c.count - 1), c.last);
        EXPECT_EQ(tts->put_WaveFormatIdx(c.count), E_INVALIDARG);
        EXPECT_EQ(Index(tts), c.count - 1);
    }
}

TEST(ComponentCatalogue, Mp3NamesInOrder)
{
    const char16_t *expected[] = {
        u"16kBPS, 11kHz, Mono",    u"64kBPS, 11kHz, Mono",    u"24kBPS, 22kHz, Mono",    u"32kBPS, 22kHz, Mono",
        u"40kBPS, 22kHz, Mono",    u"48kBPS, 22kHz, Mono",    u"56kBPS, 44kHz, Mono",    u"64kBPS, 44kHz, Mono",
        u"32kBPS, 11kHz, Stereo",  u"64kBPS, 22kHz, Stereo",  u"80kBPS, 22kHz, Stereo",  u"96kBPS, 22kHz, Stereo",
        u"112kBPS, 44kHz, Stereo", u"128kBPS, 44kHz, Stereo", u"128kBPS, 48kHz, Stereo", u"160kBPS, 44kHz, Stereo",
        u"192kBPS, 44kHz, Stereo", u"224kBPS, 44kHz, Stereo", u"256kBPS, 44kHz, Stereo", u"256kBPS, 48kHz, Stereo",
        u"320kBPS, 44kHz, Stereo", u"320kBPS, 48kHz, Stereo",
    };
    auto tts = MakeTts();
    ASSERT_EQ(Count(tts), 22);
    for (LONG i = 0; i < 22; ++i)
        EXPECT_EQ(NameAt(tts, i), expected[i]) << i;

    // The Ogg list is the MP3 list without its second entry.
    ASSERT_EQ(tts->put_FileFormat(FF_OGG), S_OK);
    for (LONG i = 0; i < 21; ++i)
        EXPECT_EQ(NameAt(tts, i), expected[i == 0 ? 0 : i + 1]) << i;
}

TEST(ComponentCatalogue, WaveListStartsWithTheEngineFormat)
{
    auto tts = MakeTts();
    ASSERT_EQ(tts->put_FileFormat(FF_WAVE), S_OK);
    EXPECT_EQ(NameAt(tts, 0), u"Voice Default Format");
    EXPECT_EQ(NameAt(tts, 1), u"8kHz, 8Bit, Mono");
    EXPECT_EQ(NameAt(tts, 2), u"8kHz, 8Bit, Stereo");
    EXPECT_EQ(NameAt(tts, 7), u"11kHz, 16Bit, Mono");
    EXPECT_EQ(NameAt(tts, 32), u"44kHz, 16Bit, Stereo");
}

TEST(ComponentCatalogue, NamedEntriesOfOtherLists)
{
    auto tts = MakeTts();
    EXPECT_EQ(NameAt(tts, 13), u"128kBPS, 44kHz, Stereo");
    ASSERT_EQ(tts->put_FileFormat(FF_FLAC), S_OK);
    EXPECT_EQ(NameAt(tts, 31), u"1411kBPS, 44kHz, Stereo"); // 44100 Hz 16-bit stereo, truncated
    ASSERT_EQ(tts->put_FileFormat(FF_AU), S_OK);
    EXPECT_EQ(NameAt(tts, 3), u"352kBPS, 11kHz, Stereo");
}

TEST(ComponentCatalogue, PuttingTheSameFormatAgainResetsTheIndex)
{
    auto tts = MakeTts();
    ASSERT_EQ(tts->put_WaveFormatIdx(13), S_OK);
    EXPECT_EQ(tts->put_FileFormat(FF_MP3), S_OK);
    EXPECT_EQ(Index(tts), 0);
    EXPECT_EQ(Count(tts), 22);
}

TEST(ComponentCatalogue, ValuesOutsideTheFileTypesEmptyTheList)
{
    for (LONG value : {9, -1, 100, 0x7FFFFFFF}) {
        auto tts = MakeTts();
        ASSERT_EQ(tts->put_WaveFormatIdx(3), S_OK);
        EXPECT_EQ(tts->put_FileFormat(static_cast<FILEFORMAT>(value)), E_INVALIDARG);
        EXPECT_EQ(Count(tts), 0);
        EXPECT_EQ(Index(tts), 3);
        FILEFORMAT stored = FF_WAVE;
        EXPECT_EQ(tts->get_FileFormat(&stored), S_OK);
        EXPECT_EQ(stored, value);
        EXPECT_EQ(tts->put_WaveFormatIdx(0), E_INVALIDARG);
        CBstr name;
        EXPECT_EQ(tts->get_WaveFormatName(name.Out()), E_INVALIDARG);
        // A valid type brings a list back.
        EXPECT_EQ(tts->put_FileFormat(FF_MP4), S_OK);
        EXPECT_EQ(Index(tts), 0);
        EXPECT_EQ(Count(tts), 3);
    }
}

TEST(ComponentCatalogue, IndexOutOfRangeIsRefused)
{
    auto tts = MakeTts();
    for (LONG idx : {-1, 22, 1000, static_cast<LONG>(0x80000000u)})
        EXPECT_EQ(tts->put_WaveFormatIdx(idx), E_INVALIDARG);
    EXPECT_EQ(Index(tts), 0);
    EXPECT_EQ(tts->put_WaveFormatIdx(21), S_OK);
    EXPECT_EQ(Index(tts), 21);
}

// ---- Display names ---------------------------------------------------------------

TEST(ComponentCatalogueNames, DivisionsTruncateAndChannelsAreNamed)
{
    CWaveFormatCatalogue catalogue;
    ASSERT_TRUE(catalogue.Append(orafon::PcmFormat(44100, 2, 16), 31984));
    ASSERT_TRUE(catalogue.Append(orafon::PcmFormat(22050, 1, 8), 999));
    ASSERT_TRUE(catalogue.Append(orafon::PcmFormat(8000, 3, 16), 8000));
    EXPECT_EQ(catalogue.DisplayName(FF_WMA, 0), "31kBPS, 44kHz, Stereo");
    EXPECT_EQ(catalogue.DisplayName(FF_MP3, 1), "0kBPS, 22kHz, Mono");
    EXPECT_EQ(catalogue.DisplayName(FF_WAVE, 0), "Voice Default Format");
    EXPECT_EQ(catalogue.DisplayName(FF_WAVE, 1), "22kHz, 8Bit, Mono");
    // No listed format has another channel count; such a name stays well formed.
    EXPECT_EQ(catalogue.DisplayName(FF_OGG, 2), "8kBPS, 8kHz, ");
    EXPECT_EQ(catalogue.Count(), 3);
    EXPECT_FALSE(catalogue.Contains(3));
    EXPECT_FALSE(catalogue.Contains(-1));
    EXPECT_FALSE(catalogue.Incomplete());
}

TEST(ComponentCatalogueNames, CallbackAppendsAndRefusesBadInput)
{
    CWaveFormatCatalogue catalogue;
    const WAVEFORMATEX f = orafon::PcmFormat(11025, 1, 16);
    EXPECT_EQ(CWaveFormatCatalogue::AddWaveFormat(&f, 16000, &catalogue), 1);
    EXPECT_EQ(CWaveFormatCatalogue::AddWaveFormat(nullptr, 16000, &catalogue), 0);
    EXPECT_EQ(CWaveFormatCatalogue::AddWaveFormat(&f, 16000, nullptr), 0);
    ASSERT_EQ(catalogue.Count(), 1);
    EXPECT_EQ(catalogue.BitRate(0), 16000);
    EXPECT_EQ(std::memcmp(&catalogue.Format(0), &f, sizeof f), 0);
    catalogue.Clear();
    EXPECT_EQ(catalogue.Count(), 0);
}

TEST(ComponentCatalogue, WmaListOnlyWithTheRuntime)
{
    auto tts = MakeTts();
    ASSERT_EQ(tts->put_WaveFormatIdx(5), S_OK);
    if (CWmaWriter::IsRuntimeAvailable()) {
        EXPECT_EQ(tts->put_FileFormat(FF_WMA), S_OK);
        EXPECT_EQ(Count(tts), 71);
        EXPECT_EQ(NameAt(tts, 32), u"31kBPS, 44kHz, Stereo");
        return;
    }
    EXPECT_EQ(tts->put_FileFormat(FF_WMA), E_INVALIDARG);
    EXPECT_EQ(Count(tts), 0);
    EXPECT_EQ(Index(tts), 5);
    FILEFORMAT stored = FF_WAVE;
    EXPECT_EQ(tts->get_FileFormat(&stored), S_OK);
    EXPECT_EQ(stored, FF_WMA);
}

} // namespace
