// What an engine mode is to the engine: its description, its audio format,
// the ranges of its attributes, and a source of PCM for a text.
#pragma once

#include "SpeechText.h"

#include <orafon/PcmFormat.h>
#include <orafon/win/speech.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orafon::sapi4 {

struct AttributeRange {
    uint32_t min = 0;
    uint32_t max = 0;
    uint32_t def = 0;

    uint32_t Clamp(uint32_t v) const { return v < min ? min : (v > max ? max : v); }
};

struct AttributeRanges {
    AttributeRange speed;  // words per minute
    AttributeRange pitch;  // Hz, 16-bit
    AttributeRange volume; // low word left, high word right
};

// The speaking attributes in force for a stretch of text.
struct Prosody {
    uint32_t speed = 0;
    uint32_t pitch = 0;
    uint32_t volume = 0;
};

// A point in a chunk's PCM, as a byte offset into it.
struct SpeechEvent {
    enum class Kind { Word, Mark };
    size_t byte = 0;
    Kind kind = Kind::Word;
    uint32_t value = 0; // Word: byte offset in the caller's UTF-16 text; Mark: the mark number
};

struct SpeechChunk {
    std::vector<uint8_t> pcm;
    std::vector<SpeechEvent> events; // in order of their byte offsets
};

// Produces the PCM of one text, a sentence or a pause at a time.
class SpeechSource {
public:
    virtual ~SpeechSource() = default;
    // Replaces the chunk with the next one; done = true (and an empty chunk)
    // at the end. The chunk passed in is spent: a source may keep its buffer.
    [[nodiscard]] virtual HRESULT Next(SpeechChunk &chunk, bool &done) = 0;
};

// The engine's current attributes; read by a source for each sentence.
using ProsodyReader = std::function<Prosody()>;

// The engine calls a mode may be asked to fail (scripted modes only).
enum class ModeCall { Select, TextData, SpeedGet, SpeedSet, PitchGet, PitchSet, VolumeGet, VolumeSet, Count };
// What became of an engine's notifications (scripted modes count them).
enum class ModeNotice { Posted, DonePosted, Delivered };

class EngineMode {
public:
    virtual ~EngineMode() = default;
    virtual const TTSMODEINFOW &Info() const = 0;
    // Loads what speaking needs; a failure makes Select fail.
    [[nodiscard]] virtual HRESULT Prepare() = 0;
    // Valid after Prepare.
    virtual WAVEFORMATEX Format() const = 0;
    virtual AttributeRanges Ranges() const = 0;
    virtual std::unique_ptr<SpeechSource> CreateSource(std::u16string text, std::vector<TextPiece> pieces,
                                                       ProsodyReader prosody) = 0;
    // S_OK unless a test made this call fail.
    virtual HRESULT Outcome(ModeCall) const { return S_OK; }
    // A call an engine of this mode received, with its argument (the value
    // asked for, the TextData flags); scripted modes keep a record of them.
    virtual void Observe(ModeCall, uint32_t /*argument*/, uint32_t /*size*/ = 0) {}
    // A notification of an engine of this mode was queued or delivered.
    virtual void Notice(ModeNotice) {}
};

// Modes a process adds beside the flite voices (the scripted modes of
// tests): each provider is asked for its current modes whenever the modes
// are listed. Adding a provider twice adds it once.
using ModeProvider = std::vector<std::shared_ptr<EngineMode>> (*)();
ORAFON_EXPORT void AddModeProvider(ModeProvider provider);

// Every mode: the flite voices, then those of the providers in the order
// they were added.
std::vector<std::shared_ptr<EngineMode>> AllModes();
// The flite voices alone, one mode per voice and sample rate.
std::vector<std::shared_ptr<EngineMode>> FliteModes();
std::shared_ptr<EngineMode> FindMode(const GUID &modeId);

// Fills the text fields of a mode record.
inline void CopyName(WCHAR (&dest)[TTSI_NAMELEN], std::u16string_view name)
{
    const size_t n = std::min<size_t>(name.size(), TTSI_NAMELEN - 1);
    std::copy_n(name.begin(), n, dest);
    std::fill(dest + n, dest + TTSI_NAMELEN, u'\0');
}

using orafon::PcmFormat;

} // namespace orafon::sapi4
