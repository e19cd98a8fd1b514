// The speech markup the voice accepts, reduced to what the engine needs:
// runs of plain text with their prosody, silences and bookmarks. Every
// character of a run remembers where it came from in the caller's string, so
// that engine positions can be reported in the caller's terms.
#pragma once

#include <orafon/win/wintypes.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orafon::sapi5 {

// Prosody relative to the voice: rate and pitch are added to the voice's own
// (-10..10 each), volume is a percentage of the voice's volume.
struct Prosody {
    int rate = 0;
    int pitch = 0;
    int volume = 100;

    bool operator==(const Prosody &) const = default;
};

struct TextRun {
    std::u16string text;
    // For text[i]: the range [begin[i], end[i]) of the caller's string it came
    // from (more than one unit for an entity such as "&amp;").
    std::vector<uint32_t> begin;
    std::vector<uint32_t> end;
    Prosody prosody;

    // The caller's range for run units [first, last).
    uint32_t OriginBegin(size_t first) const { return begin[first]; }
    uint32_t OriginEnd(size_t last) const { return end[last - 1]; }
};

struct SpeechItem {
    enum class Kind { Text, Silence, Bookmark };
    Kind kind = Kind::Text;
    TextRun run;               // Kind::Text
    uint32_t silenceMs = 0;    // Kind::Silence
    std::u16string mark;       // Kind::Bookmark
    uint32_t markPosition = 0; // Kind::Bookmark: where the tag starts in the caller's string
};

// Parses text of the given length. With xml false the whole text is one run
// spoken as written. A malformed document gives SPERR_XML_BAD_SYNTAX and no
// items. Unknown but well-formed tags are ignored.
[[nodiscard]] HRESULT ParseSpeech(const char16_t *text, size_t length, bool xml, std::vector<SpeechItem> &items);

// Decides between markup and plain text the way the voice does when the
// caller says neither: text whose first non-blank character is '<' is markup.
[[nodiscard]] bool LooksLikeMarkup(const char16_t *text, size_t length);

// A run as UTF-8 for the engine, with the map back from engine character
// positions (code points, counted from 1) to run units. Unpaired surrogates
// become U+FFFD so that the engine sees valid text and the count still holds.
struct EngineText {
    std::string utf8;
    std::vector<uint32_t> unitOfCodePoint; // index = code point number - 1; one extra entry = run length
};
EngineText ToEngineText(const std::u16string &text);

// The end (exclusive, in run units) of the sentence that starts at unit start:
// just after the first '.', '!' or '?' followed by a blank or the end of the
// run, else the end of the run without trailing blanks.
size_t SentenceEnd(const std::u16string &text, size_t start);

// Cuts a run into pieces of whole sentences, each as long as the sentences
// that fit in about pieceUnits (a longer sentence is a piece of its own).
// The pieces keep the run's prosody and every unit's origin.
std::vector<TextRun> SplitAtSentences(const TextRun &run, size_t pieceUnits);

} // namespace orafon::sapi5
