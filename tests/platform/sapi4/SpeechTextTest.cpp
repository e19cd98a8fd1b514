// Tag splitting and the UTF-16/UTF-8 offset map of the SAPI 4 engine.
#include "SpeechText.h"

#include <gtest/gtest.h>

namespace orafon::sapi4 {
namespace {

using Kind = TextPiece::Kind;

std::u16string TextOf(std::u16string_view text, const TextPiece &piece)
{
    return std::u16string(text.substr(piece.begin, piece.end - piece.begin));
}

TEST(Sapi4Text, UntaggedTextIsOnePieceEvenWithBackslashes)
{
    std::u16string text = u"a \\Pit=200\\ b";
    auto pieces = SplitText(text, false);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(TextOf(text, pieces[0]), text);
}

struct TagCase {
    std::u16string text;
    std::vector<std::pair<Kind, uint32_t>> controls; // in order, Text pieces left out
    std::u16string spoken;                           // the Text pieces joined with '|'
};

class Sapi4TagTest : public testing::TestWithParam<TagCase> {};

TEST_P(Sapi4TagTest, SplitsKnownTagsAndKeepsTheRest)
{
    const TagCase &c = GetParam();
    auto pieces = SplitText(c.text, true);
    std::vector<std::pair<Kind, uint32_t>> controls;
    std::u16string spoken;
    for (const auto &p : pieces) {
        if (p.kind == Kind::Text) {
            if (!spoken.empty())
                spoken += u'|';
            spoken += TextOf(c.text, p);
        } else {
            controls.emplace_back(p.kind, p.value);
        }
    }
    EXPECT_EQ(controls, c.controls);
    EXPECT_EQ(spoken, c.spoken);
}

INSTANTIATE_TEST_SUITE_P(
    Tags, Sapi4TagTest,
    testing::Values(
        TagCase{u"\\Pit=200\\Hello", {{Kind::Pitch, 200}}, u"Hello"},
        TagCase{u"a \\spd=150\\ b \\Vol=30000\\c", {{Kind::Speed, 150}, {Kind::Volume, 30000}}, u"a | b |c"},
        TagCase{u"x\\Pau=500\\y\\Mrk=7\\z\\Rst\\", {{Kind::Pause, 500}, {Kind::Mark, 7}, {Kind::Reset, 0}}, u"x|y|z"},
        // other engines' tags are skipped, unparsable values too
        TagCase{u"\\Emp\\word \\Pit=abc\\ end", {}, u"word | end"},
        // a backslash that starts no tag is text
        TagCase{u"C:\\dir and \\ alone \\", {}, u"C:\\dir and \\ alone \\"},
        TagCase{u"\\Pit=99999999999\\x", {{Kind::Pitch, 0xFFFFFFFFu}}, u"x"},
        TagCase{u"\\Rst=3\\x \\Pit\\y", {}, u"x |y"}, TagCase{u"", {}, u""}));

TEST(Sapi4Text, MapsEveryByteBackToItsUtf16Index)
{
    std::u16string text = u"Caf\u00e9 \u6771 \U0001F600!";
    MappedText m = MapToUtf8(text, 0, static_cast<uint32_t>(text.size()));
    // é folds to e; the CJK letter stays UTF-8 (3 bytes); the emoji is one
    // surrogate pair (4 bytes).
    EXPECT_EQ(m.utf8, "Cafe \xE6\x9D\xB1 \xF0\x9F\x98\x80!");
    ASSERT_EQ(m.sourceIndex.size(), m.utf8.size() + 1);
    EXPECT_EQ(m.SourceOf(3), 3u);   // e from é
    EXPECT_EQ(m.SourceOf(5), 5u);   // first byte of the CJK letter
    EXPECT_EQ(m.SourceOf(7), 5u);   // its last byte
    EXPECT_EQ(m.SourceOf(9), 7u);   // the emoji starts at index 7
    EXPECT_EQ(m.SourceOf(13), 9u);  // '!'
    EXPECT_EQ(m.SourceOf(14), 10u); // the end
}

TEST(Sapi4Text, FoldsAndUnpairedSurrogatesAndSubranges)
{
    std::u16string text = u"x\u00df\u201cq\u201d\xD800y";
    MappedText m = MapToUtf8(text, 1, static_cast<uint32_t>(text.size()));
    EXPECT_EQ(m.utf8, "ss\"q\"\xEF\xBF\xBDy");
    EXPECT_EQ(m.SourceOf(0), 1u);
    EXPECT_EQ(m.SourceOf(1), 1u);
    EXPECT_EQ(m.SourceOf(2), 2u);
    EXPECT_EQ(m.SourceOf(5), 5u);
    EXPECT_EQ(m.SourceOf(8), 6u);
}

} // namespace
} // namespace orafon::sapi4
