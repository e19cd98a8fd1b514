// Feeds arbitrary UTF-16 text to the voice's markup parser. Whatever it makes
// of the text, every position it reports must lie inside the caller's string,
// and the engine text and sentence pieces made from each run must keep to it.
#include "sapi5/Markup.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace orafon::sapi5;

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckRun(const TextRun &run, size_t length)
{
    Require(run.begin.size() == run.text.size() && run.end.size() == run.text.size());
    for (size_t i = 0; i < run.text.size(); ++i) {
        Require(run.begin[i] < run.end[i]);
        Require(run.end[i] <= length);
    }
    const EngineText engine = ToEngineText(run.text);
    Require(!engine.unitOfCodePoint.empty() && engine.unitOfCodePoint.back() == run.text.size());
    for (uint32_t unit : engine.unitOfCodePoint)
        Require(unit <= run.text.size());
    for (size_t start = 0; start < run.text.size();) {
        const size_t end = SentenceEnd(run.text, start);
        Require(end >= start && end <= run.text.size());
        if (end == start)
            break; // only blanks are left
        start = end;
    }
    size_t total = 0;
    for (const TextRun &piece : SplitAtSentences(run, 64)) {
        Require(piece.prosody == run.prosody && piece.begin.size() == piece.text.size());
        total += piece.text.size();
    }
    Require(total == run.text.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks markup, plain text or the voice's own guess.
    const uint8_t mode = data[0] % 3;
    std::u16string text((size - 1) / 2, u'\0');
    std::memcpy(text.data(), data + 1, text.size() * 2);
    const bool xml = mode == 0 || (mode == 2 && LooksLikeMarkup(text.data(), text.size()));
    std::vector<SpeechItem> items;
    const HRESULT hr = ParseSpeech(text.data(), text.size(), xml, items);
    if (FAILED(hr)) {
        Require(items.empty());
        return 0;
    }
    for (const SpeechItem &item : items) {
        if (item.kind == SpeechItem::Kind::Text)
            CheckRun(item.run, text.size());
        else if (item.kind == SpeechItem::Kind::Bookmark)
            Require(item.markPosition < text.size());
    }
    return 0;
}
