// Feeds arbitrary UTF-16 text to the tagged-text splitter and maps every text
// piece to UTF-8 as the engine does. Pieces must lie inside the text, in
// order, and every byte of the UTF-8 must map back inside its piece.
#include "SpeechText.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace orafon::sapi4;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool tagged = (data[0] & 1) != 0;
    std::u16string text((size - 1) / 2, u'\0');
    std::memcpy(text.data(), data + 1, text.size() * 2);
    uint32_t previousEnd = 0;
    for (const TextPiece &piece : SplitText(text, tagged)) {
        if (piece.kind != TextPiece::Kind::Text)
            continue;
        Require(piece.begin < piece.end && piece.end <= text.size());
        Require(piece.begin >= previousEnd);
        previousEnd = piece.end;
        const MappedText mapped = MapToUtf8(text, piece.begin, piece.end);
        Require(mapped.sourceIndex.size() == mapped.utf8.size() + 1);
        for (uint32_t source : mapped.sourceIndex)
            Require(source >= piece.begin && source <= piece.end);
        Require(mapped.sourceIndex.back() == piece.end);
    }
    if (!tagged) {
        // Untagged text is one piece (none when empty), whatever backslashes it holds.
        const auto pieces = SplitText(text, false);
        Require(pieces.size() <= 1);
    }
    return 0;
}
