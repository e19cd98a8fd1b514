#include "SpeechText.h"

#include <orafon/CaseFold.h>

#include <array>
#include <cctype>

namespace orafon::sapi4 {
namespace {

struct TagName {
    const char16_t *name;
    TextPiece::Kind kind;
    bool hasValue;
};
constexpr std::array<TagName, 6> kTags{{
    {u"pit", TextPiece::Kind::Pitch, true},
    {u"spd", TextPiece::Kind::Speed, true},
    {u"vol", TextPiece::Kind::Volume, true},
    {u"pau", TextPiece::Kind::Pause, true},
    {u"mrk", TextPiece::Kind::Mark, true},
    {u"rst", TextPiece::Kind::Reset, false},
}};

constexpr size_t kMaxTagLength = 80;

[[nodiscard]] bool IsAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// A decimal number, saturating at the 32-bit maximum; false when not one.
[[nodiscard]] bool ParseNumber(std::u16string_view s, uint32_t &value)
{
    while (!s.empty() && s.front() == u' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == u' ')
        s.remove_suffix(1);
    if (s.empty())
        return false;
    uint64_t v = 0;
    for (char16_t c : s) {
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
        if (v > 0xFFFFFFFFull)
            v = 0xFFFFFFFFull + 1; // keep saturated without overflowing
    }
    value = v > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(v);
    return true;
}

// A well-formed tag at text[pos] (a backslash): its length, or 0.
size_t TagLength(std::u16string_view text, size_t pos, std::u16string_view &name, std::u16string_view &value,
                 bool &hasValue)
{
    size_t i = pos + 1;
    while (i < text.size() && IsAsciiLetter(text[i]) && i - pos <= kMaxTagLength)
        ++i;
    if (i == pos + 1 || i >= text.size())
        return 0;
    name = text.substr(pos + 1, i - pos - 1);
    hasValue = text[i] == u'=';
    size_t valueStart = i + (hasValue ? 1 : 0);
    size_t j = valueStart;
    while (j < text.size() && text[j] != u'\\' && text[j] != u'\n' && text[j] != u'\r' && j - pos <= kMaxTagLength)
        ++j;
    if (j >= text.size() || text[j] != u'\\')
        return 0;
    if (!hasValue && j != i)
        return 0; // letters followed by something else: not a tag
    value = text.substr(valueStart, j - valueStart);
    return j - pos + 1;
}

const TagName *FindTag(std::u16string_view name)
{
    for (const TagName &tag : kTags) {
        if (orafon::EqualsIgnoringCase(name, tag.name))
            return &tag;
    }
    return nullptr;
}

void AppendText(std::vector<TextPiece> &pieces, uint32_t begin, uint32_t end)
{
    if (end <= begin)
        return;
    if (!pieces.empty() && pieces.back().kind == TextPiece::Kind::Text && pieces.back().end == begin) {
        pieces.back().end = end;
        return;
    }
    pieces.push_back({TextPiece::Kind::Text, begin, end, 0});
}

// ASCII spellings of the Latin-1 letters U+00C0..U+00FF.
constexpr std::array<const char *, 64> kLatin1Fold{
    "A", "A", "A", "A", "A", "A", "AE", "C", "E",  "E",  "E", "E", "I", "I", "I", "I", "D",  "N", "O",  "O", "O", "O",
    "O", "x", "O", "U", "U", "U", "U",  "Y", "Th", "ss", "a", "a", "a", "a", "a", "a", "ae", "c", "e",  "e", "e", "e",
    "i", "i", "i", "i", "d", "n", "o",  "o", "o",  "o",  "o", "/", "o", "u", "u", "u", "u",  "y", "th", "y"};

const char *Fold(char32_t c)
{
    if (c >= 0xC0 && c <= 0xFF)
        return kLatin1Fold[c - 0xC0];
    switch (c) {
    case 0xA0:
        return " ";
    case 0x2018:
    case 0x2019:
    case 0x201A:
        return "'";
    case 0x201C:
    case 0x201D:
    case 0x201E:
        return "\"";
    case 0x2013:
    case 0x2014:
        return " - ";
    case 0x2026:
        return "...";
    case 0x0152:
        return "OE";
    case 0x0153:
        return "oe";
    default:
        return nullptr;
    }
}

void AppendUtf8(std::string &out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

std::vector<TextPiece> SplitText(std::u16string_view text, bool tagged)
{
    std::vector<TextPiece> pieces;
    const auto size = static_cast<uint32_t>(text.size());
    if (!tagged) {
        AppendText(pieces, 0, size);
        return pieces;
    }
    uint32_t textStart = 0;
    uint32_t pos = 0;
    while (pos < size) {
        if (text[pos] != u'\\') {
            ++pos;
            continue;
        }
        std::u16string_view name, value;
        bool hasValue = false;
        size_t length = TagLength(text, pos, name, value, hasValue);
        if (length == 0) {
            ++pos; // a lone backslash stays text
            continue;
        }
        AppendText(pieces, textStart, pos);
        pos += static_cast<uint32_t>(length);
        textStart = pos;
        const TagName *tag = FindTag(name);
        if (!tag || tag->hasValue != hasValue)
            continue;
        TextPiece piece{tag->kind, 0, 0, 0};
        if (tag->hasValue && !ParseNumber(value, piece.value))
            continue;
        pieces.push_back(piece);
    }
    AppendText(pieces, textStart, size);
    return pieces;
}

MappedText MapToUtf8(std::u16string_view text, uint32_t begin, uint32_t end)
{
    MappedText out;
    out.utf8.reserve(end - begin + 8);
    out.sourceIndex.reserve(end - begin + 9);
    for (uint32_t i = begin; i < end;) {
        const uint32_t at = i;
        char32_t c = text[i++];
        if (c >= 0xD800 && c <= 0xDBFF && i < end && text[i] >= 0xDC00 && text[i] <= 0xDFFF)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i++] - 0xDC00);
        else if (c >= 0xD800 && c <= 0xDFFF)
            c = 0xFFFD; // an unpaired surrogate
        if (c == 0)
            c = ' ';
        const size_t before = out.utf8.size();
        if (const char *folded = Fold(c))
            out.utf8 += folded;
        else
            AppendUtf8(out.utf8, c);
        out.sourceIndex.insert(out.sourceIndex.end(), out.utf8.size() - before, at);
    }
    out.sourceIndex.push_back(end);
    return out;
}

} // namespace orafon::sapi4
