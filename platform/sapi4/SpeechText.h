// The text an engine is given: control tags split out, and UTF-8 for the
// synthesiser with a way back to the caller's UTF-16 offsets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orafon::sapi4 {

// One piece of the caller's text: a stretch to speak, or one control tag.
struct TextPiece {
    enum class Kind { Text, Pitch, Speed, Volume, Pause, Mark, Reset };
    Kind kind = Kind::Text;
    uint32_t begin = 0; // UTF-16 index range in the caller's text (Text only)
    uint32_t end = 0;
    uint32_t value = 0; // the tag's number
};

// Splits tagged text at \Pit=n\ \Spd=n\ \Vol=n\ \Pau=n\ \Mrk=n\ \Rst\.
// Other well-formed tags (\Name\ or \Name=value\) are skipped, as are known
// tags whose value is not a number; a backslash that starts no tag is text.
// Untagged text is one Text piece.
std::vector<TextPiece> SplitText(std::u16string_view text, bool tagged);

// UTF-8 for a stretch of UTF-16 text. Letters with accents are folded to
// their base letters and typographic punctuation to ASCII, which the
// synthesiser pronounces better; sourceIndex[i] is the UTF-16 index that
// byte i came from, with one extra entry for the end of the stretch.
struct MappedText {
    std::string utf8;
    std::vector<uint32_t> sourceIndex;

    uint32_t SourceOf(size_t byte) const
    {
        return sourceIndex[byte < sourceIndex.size() ? byte : sourceIndex.size() - 1];
    }
};
MappedText MapToUtf8(std::u16string_view text, uint32_t begin, uint32_t end);

} // namespace orafon::sapi4
