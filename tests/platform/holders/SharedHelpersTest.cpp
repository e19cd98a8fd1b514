// The small helpers everything shares: letter case as the platform ignores
// it, the PCM format builder and the 8-bit text of names and paths.
#include <orafon/AnsiText.h>
#include <orafon/CaseFold.h>
#include <orafon/PcmFormat.h>

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace {

TEST(AnsiTextTest, WideTextBecomesAnsiUpToItsFirstNulAndNullIsRefused)
{
    const struct {
        const char16_t *text;
        bool converted;
        std::string_view ansi;
    } cases[] = {
        {nullptr, false, ""},
        {u"", true, ""},
        {u"voice.wav", true, "voice.wav"},
        {u"\u00E9t\u00E9 \u0416", true, "\xC3\xA9t\xC3\xA9 \xD0\x96"}, // the ANSI code page is UTF-8
        {u"a\0b", true, "a"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text ? testing::PrintToString(std::u16string(c.text)) : std::string("null"));
        std::string out = "left over";
        EXPECT_EQ(orafon::WideToAnsi(c.text, out), c.converted);
        EXPECT_EQ(out, c.ansi);
    }
}

TEST(CaseFoldTest, WideNamesCompareByOneRule)
{
    const struct {
        std::u16string_view a, b;
        bool equal;
    } cases[] = {
        {u"Speak", u"SPEAK", true},    {u"", u"", true},
        {u"speak", u"speaks", false},  {u"\u00E9cole", u"\u00C9COLE", true}, // Latin-1
        {u"\u00FF", u"\u0178", true},  // y with diaeresis, whose capital is outside Latin-1
        {u"\u00D7", u"\u00F7", false}, // the multiplication and division signs are no letters
        {u"\u0101", u"\u0100", true},  // Latin Extended-A pairs
        {u"\u017E", u"\u017D", true},  {u"\u03C9", u"\u03A9", true}, // Greek
        {u"\u0436", u"\u0416", true},                                // Cyrillic
        {u"\u0451", u"\u0401", true},  {u"\u0150", u"P", false},     // no letter folds onto the one its low byte names
        {u"\u00DF", u"SS", false},                                   // one character never matches two
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::u16string(c.a)));
        EXPECT_EQ(c.equal, orafon::EqualsIgnoringCase(c.a, c.b));
        EXPECT_EQ(c.equal, orafon::EqualsIgnoringCase(c.b, c.a));
    }
}

TEST(CaseFoldTest, PrefixesCompareByTheSameRule)
{
    EXPECT_TRUE(orafon::StartsWithIgnoringCase(u"get_Rate", u"GET_"));
    EXPECT_TRUE(orafon::StartsWithIgnoringCase(u"\u0416\u0416x", u"\u0436\u0436"));
    EXPECT_FALSE(orafon::StartsWithIgnoringCase(u"ge", u"get_"));
    EXPECT_FALSE(orafon::StartsWithIgnoringCase(u"pet_", u"get_"));
}

TEST(CaseFoldTest, Utf8NamesCompareByTheSameRule)
{
    const struct {
        std::string_view a, b;
        bool equal;
    } cases[] = {
        {"ClassName", "CLASSNAME", true},
        {"Orafon.dll", "ORAFON.DLL", true},
        {"\xC3\xA9"
         "cole",
         "\xC3\x89"
         "COLE",
         true},                         // école, ÉCOLE
        {"\xD0\xB6", "\xD0\x96", true}, // ж, Ж
        {"\xE9", "\xC3\xA9", false},    // a stray Latin-1 byte is not é
        {"\xE9", "\xE9", true},         // but it is itself
        {"\xC3", "\xC3\x89", false},    // a cut sequence
        {"a", "ab", false},
        {"", "", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + std::string(c.b));
        EXPECT_EQ(c.equal, orafon::EqualsIgnoringCase(c.a, c.b));
        EXPECT_EQ(c.equal, orafon::EqualsIgnoringCase(c.b, c.a));
    }
}

TEST(PcmFormatTest, BlockAndRateFollowFromTheShape)
{
    const struct {
        DWORD rate;
        WORD channels, bits, block;
        DWORD bytesPerSecond;
    } cases[] = {
        {22050, 1, 16, 2, 44100},  {44100, 2, 16, 4, 176400}, {8000, 1, 8, 1, 8000},
        {48000, 2, 24, 6, 288000}, {11025, 3, 16, 6, 66150},
    };
    for (const auto &c : cases) {
        const WAVEFORMATEX f = orafon::PcmFormat(c.rate, c.channels, c.bits);
        SCOPED_TRACE(testing::Message() << c.rate << " Hz " << c.channels << " ch " << c.bits << " bit");
        EXPECT_EQ(WAVE_FORMAT_PCM, f.wFormatTag);
        EXPECT_EQ(c.channels, f.nChannels);
        EXPECT_EQ(c.rate, f.nSamplesPerSec);
        EXPECT_EQ(c.bits, f.wBitsPerSample);
        EXPECT_EQ(c.block, f.nBlockAlign);
        EXPECT_EQ(c.bytesPerSecond, f.nAvgBytesPerSec);
        EXPECT_EQ(0, f.cbSize);
    }
}

} // namespace
