#include "sapi5/Markup.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace orafon::sapi5 {
namespace {

std::u16string Slice(const std::u16string &s, uint32_t begin, uint32_t end)
{
    return s.substr(begin, end - begin);
}

std::vector<SpeechItem> Parse(const std::u16string &text, bool xml = true)
{
    std::vector<SpeechItem> items;
    EXPECT_EQ(S_OK, ParseSpeech(text.data(), text.size(), xml, items)) << std::string(text.begin(), text.end());
    return items;
}

TEST(Sapi5Markup, PlainTextIsOneRunWithItsOwnPositions)
{
    const std::u16string text = u"a <b> & c";
    const auto items = Parse(text, false);
    ASSERT_EQ(1u, items.size());
    EXPECT_EQ(text, items[0].run.text);
    EXPECT_EQ(4u, items[0].run.begin[4]);
    EXPECT_EQ(Prosody{}, items[0].run.prosody);
}

TEST(Sapi5Markup, TextPositionsPointIntoTheCallersString)
{
    const std::u16string text = u"<pitch absmiddle=\"3\"/>Hello &amp; world";
    const auto items = Parse(text);
    ASSERT_EQ(1u, items.size());
    const TextRun &run = items[0].run;
    EXPECT_EQ(u"Hello & world", run.text);
    EXPECT_EQ(3, run.prosody.pitch);
    EXPECT_EQ(u"Hello", Slice(text, run.OriginBegin(0), run.OriginEnd(5)));
    EXPECT_EQ(u"&amp;", Slice(text, run.OriginBegin(6), run.OriginEnd(7)));
    EXPECT_EQ(u"world", Slice(text, run.OriginBegin(8), run.OriginEnd(13)));
}

struct ProsodyCase {
    const char16_t *markup;
    std::vector<Prosody> runs;
};

TEST(Sapi5Markup, ProsodyTagsAsEmptyAndContainerTags)
{
    const ProsodyCase cases[] = {
        {u"<pitch absmiddle=\"-4\"/>x", {{0, -4, 100}}},
        {u"<pitch absmiddle='2'>x</pitch>y", {{0, 2, 100}, {0, 0, 100}}},
        {u"<pitch middle=\"3\"><pitch middle=\"3\">x</pitch>y</pitch>", {{0, 6, 100}, {0, 3, 100}}},
        {u"<pitch absmiddle=\"25\"/>x", {{0, 10, 100}}},
        {u"<rate absspeed=\"5\"/>x", {{5, 0, 100}}},
        {u"<rate speed=\"-3\">x</rate>y", {{-3, 0, 100}, {0, 0, 100}}},
        {u"<volume level=\"50\">x</volume>y", {{0, 0, 50}, {0, 0, 100}}},
        {u"<VOLUME LEVEL=\"150\"/>x", {{0, 0, 100}}},
        {u"<emph>x</emph> y <voice required=\"Gender=Female\">z</voice>", {{0, 0, 100}}},
        {u"<?xml version=\"1.0\"?><!-- note --><sapi>x</sapi>", {{0, 0, 100}}},
    };
    for (const auto &c : cases) {
        const auto items = Parse(c.markup);
        std::vector<Prosody> got;
        for (const auto &i : items)
            got.push_back(i.run.prosody);
        ASSERT_EQ(c.runs.size(), got.size())
            << std::string(c.markup, c.markup + std::char_traits<char16_t>::length(c.markup));
        for (size_t k = 0; k < got.size(); ++k)
            EXPECT_EQ(c.runs[k], got[k]) << k;
    }
}

TEST(Sapi5Markup, SilenceAndBookmarkItems)
{
    const std::u16string text = u"One<silence msec=\"250\"/>two<bookmark mark=\"42x\"/>three";
    const auto items = Parse(text);
    ASSERT_EQ(5u, items.size());
    EXPECT_EQ(SpeechItem::Kind::Silence, items[1].kind);
    EXPECT_EQ(250u, items[1].silenceMs);
    EXPECT_EQ(SpeechItem::Kind::Bookmark, items[3].kind);
    EXPECT_EQ(u"42x", items[3].mark);
    EXPECT_EQ(text.find(u"<bookmark"), items[3].markPosition);
    EXPECT_EQ(u"three", items[4].run.text);
}

TEST(Sapi5Markup, MalformedDocumentsAreRefused)
{
    const char16_t *bad[] = {
        u"<pitch absmiddle=\"3\">unclosed",
        u"text </pitch>",
        u"<pitch middle=3/>x",
        u"<pitch",
        u"<>x",
        u"a & b",
        u"&bogus;",
        u"<a></b>",
        u"<!-- no end",
        u"<rate speed=\"1\"",
        u"&#xD800;",
        u"<a b=\"1\"c=\"2\"/>",
    };
    for (const char16_t *text : bad) {
        std::vector<SpeechItem> items(1);
        const std::u16string s(text);
        EXPECT_EQ(SPERR_XML_BAD_SYNTAX, ParseSpeech(s.data(), s.size(), true, items))
            << std::string(s.begin(), s.end());
        EXPECT_TRUE(items.empty());
    }
}

TEST(Sapi5Markup, MarkupIsDetectedByItsFirstCharacter)
{
    const std::u16string a = u"  <pitch middle=\"1\"/>x", b = u"x <b>";
    EXPECT_TRUE(LooksLikeMarkup(a.data(), a.size()));
    EXPECT_FALSE(LooksLikeMarkup(b.data(), b.size()));
}

TEST(Sapi5Markup, EngineTextCountsCodePoints)
{
    std::u16string text = u"a\U0001F600b?c";
    text[4] = 0xD800; // an unpaired surrogate
    const EngineText t = ToEngineText(text);
    EXPECT_EQ("a\xF0\x9F\x98\x80"
              "b\xEF\xBF\xBD"
              "c",
              t.utf8);
    EXPECT_EQ((std::vector<uint32_t>{0, 1, 3, 4, 5, 6}), t.unitOfCodePoint);
}

TEST(Sapi5Markup, SentenceEndsAtTerminatorFollowedByBlank)
{
    const std::u16string text = u"Dr.Smith went home. Then 3.5 more!  ";
    EXPECT_EQ(19u, SentenceEnd(text, 0));
    EXPECT_EQ(text.find(u'!') + 1, SentenceEnd(text, 20));
    EXPECT_EQ(4u, SentenceEnd(u"tail  ", 0));
}

TEST(Sapi5Markup, ArbitraryInputGivesValidRunsOrBadSyntax)
{
    const char16_t *pieces[] = {u"<",
                                u">",
                                u"/",
                                u"=",
                                u"\"",
                                u"'",
                                u"&",
                                u"amp;",
                                u"#x41;",
                                u"pitch",
                                u"rate",
                                u"volume",
                                u" ",
                                u"word",
                                u"<pitch absmiddle=\"2\">",
                                u"</pitch>",
                                u"<silence msec=\"5\"/>",
                                u"<!--",
                                u"-->",
                                u"\xe9",
                                u"\U0001F600",
                                u"<bookmark mark=\"m\"/>",
                                u"?",
                                u"!",
                                u"\n"};
    std::mt19937 rng(12345);
    size_t accepted = 0, refused = 0;
    for (int round = 0; round < 20000; ++round) {
        std::u16string text;
        const int count = static_cast<int>(rng() % 12);
        for (int i = 0; i < count; ++i)
            text += pieces[rng() % (sizeof pieces / sizeof *pieces)];
        if (rng() % 4 == 0 && !text.empty())
            text[rng() % text.size()] = static_cast<char16_t>(0xD800 + rng() % 0x800); // a stray surrogate
        std::vector<SpeechItem> items;
        const HRESULT hr = ParseSpeech(text.data(), text.size(), true, items);
        if (hr == SPERR_XML_BAD_SYNTAX) {
            ++refused;
            EXPECT_TRUE(items.empty());
            continue;
        }
        ASSERT_EQ(S_OK, hr);
        ++accepted;
        uint32_t previous = 0;
        for (const auto &item : items) {
            if (item.kind != SpeechItem::Kind::Text)
                continue;
            const TextRun &run = item.run;
            ASSERT_EQ(run.text.size(), run.begin.size());
            ASSERT_EQ(run.text.size(), run.end.size());
            for (size_t i = 0; i < run.text.size(); ++i) {
                ASSERT_LT(run.begin[i], run.end[i]);
                ASSERT_LE(run.end[i], text.size());
                ASSERT_LE(previous, run.begin[i]);
                previous = run.begin[i];
            }
            const EngineText engine = ToEngineText(run.text);
            ASSERT_EQ(run.text.size(), engine.unitOfCodePoint.back());
        }
    }
    EXPECT_GT(accepted, 1000u);
    EXPECT_GT(refused, 1000u);
}

TEST(Sapi5Markup, LongRunsSplitAtSentenceEndsKeepingOrigins)
{
    std::vector<SpeechItem> items;
    const std::u16string text =
        u"<prosody rate=\"2\">One two. Three four five! &amp; six?  Seven eight nine ten</prosody>";
    ASSERT_EQ(S_OK, ParseSpeech(text.data(), text.size(), true, items));
    ASSERT_EQ(1u, items.size());
    const TextRun &run = items[0].run;
    struct Case {
        size_t pieceUnits;
        std::vector<std::u16string> pieces;
    };
    const Case cases[] = {
        {1, {u"One two.", u" Three four five!", u" & six?", u"  Seven eight nine ten"}},
        {12, {u"One two. Three four five!", u" & six?  Seven eight nine ten"}},
        {1000, {u"One two. Three four five! & six?  Seven eight nine ten"}},
    };
    for (const Case &c : cases) {
        const std::vector<TextRun> pieces = SplitAtSentences(run, c.pieceUnits);
        std::vector<std::u16string> texts;
        size_t at = 0;
        for (const TextRun &piece : pieces) {
            texts.push_back(piece.text);
            EXPECT_EQ(run.prosody, piece.prosody);
            ASSERT_EQ(piece.text.size(), piece.begin.size());
            // Every unit still points where it came from in the caller's string.
            for (size_t i = 0; i < piece.text.size(); ++i) {
                EXPECT_EQ(run.begin[at + i], piece.begin[i]);
                EXPECT_EQ(run.end[at + i], piece.end[i]);
            }
            at += piece.text.size();
        }
        EXPECT_EQ(c.pieces, texts) << c.pieceUnits;
        EXPECT_EQ(run.text.size(), at);
    }
    // The entity's unit covers all five characters of "&amp;".
    const std::vector<TextRun> pieces = SplitAtSentences(run, 1);
    EXPECT_EQ(5u, pieces[2].end[1] - pieces[2].begin[1]);
}

} // namespace
} // namespace orafon::sapi5
