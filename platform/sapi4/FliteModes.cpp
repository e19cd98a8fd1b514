// The flite voices as engine modes, speaking a sentence at a time.
#include "EngineMode.h"
#include "FliteWorker.h"

#include <orafon/CatchAtEdge.h>

// flite's headers are C without linkage markers of their own.
extern "C" {
#include <flite/cst_cg.h>
#include <flite/flite.h>
}

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

static_assert(std::endian::native == std::endian::little, "PCM is copied as it is in memory");

extern "C" {
cst_voice *register_cmu_us_kal(const char *voxdir);
cst_voice *register_cmu_us_kal16(const char *voxdir);
cst_voice *register_cmu_us_awb(const char *voxdir);
cst_voice *register_cmu_us_rms(const char *voxdir);
cst_voice *register_cmu_us_slt(const char *voxdir);
}

namespace orafon::sapi4 {
namespace {

// {2D7E0F40-8C1B-4A57-9F3E-6B1C0A5E00xx}: the engine (00) and its modes.
constexpr GUID FliteGuid(BYTE n)
{
    return {0x2D7E0F40, 0x8C1B, 0x4A57, {0x9F, 0x3E, 0x6B, 0x1C, 0x0A, 0x5E, 0x00, n}};
}

constexpr uint32_t kDefaultSpeed = 160; // words per minute at flite's own pace
constexpr uint32_t kMinSpeed = 40;
constexpr uint32_t kMaxSpeed = 400;
constexpr uint32_t kMaxPauseMs = 60000;
// flite's own upper bound on tokens per utterance.
constexpr int kMaxTokensPerUtterance = 500;

struct VoiceEntry {
    const char *speaker;
    cst_voice *(*registerVoice)(const char *);
    BYTE modeNumber;
    WORD gender;
    DWORD sampleRate;
    const char16_t *dialect;
    const char16_t *style;
};

// time_awb is left out: it fails on ordinary text.
constexpr std::array<VoiceEntry, 5> kVoices{{
    {"kal", register_cmu_us_kal, 1, GENDER_MALE, 8000, u"US English", u"Diphone"},
    {"kal16", register_cmu_us_kal16, 2, GENDER_MALE, 16000, u"US English", u"Diphone"},
    {"awb", register_cmu_us_awb, 3, GENDER_MALE, 16000, u"Scottish English", u"Statistical"},
    {"rms", register_cmu_us_rms, 4, GENDER_MALE, 16000, u"US English", u"Statistical"},
    {"slt", register_cmu_us_slt, 5, GENDER_FEMALE, 16000, u"US English", u"Statistical"},
}};

// Loaded voices, touched only on the flite thread.
struct LoadedVoice {
    cst_voice *voice = nullptr;
    uint32_t meanPitch = 0;
    float stretch = 1.0f; // the voice's own pace at the default speed
};

uint32_t MeanPitchOf(cst_voice *voice)
{
    float mean = 0;
    if (feat_present(voice->features, "cg_db")) {
        const cst_cg_db *db = val_cg_db(feat_val(voice->features, "cg_db"));
        mean = db ? db->f0_mean : 0;
    }
    if (mean <= 0)
        mean = get_param_float(voice->features, "int_f0_target_mean", 100.0f);
    return static_cast<uint32_t>(std::lround(std::clamp(mean, 40.0f, 400.0f)));
}

LoadedVoice LoadOnWorker(const VoiceEntry &entry)
{
    static bool initialised = false;
    static std::array<LoadedVoice, kVoices.size()> loaded;
    if (!initialised) {
        flite_init();
        initialised = true;
    }
    LoadedVoice &slot = loaded[entry.modeNumber - 1];
    if (!slot.voice) {
        slot.voice = entry.registerVoice(nullptr);
        if (slot.voice) {
            slot.meanPitch = MeanPitchOf(slot.voice);
            slot.stretch = get_param_float(slot.voice->features, "duration_stretch", 1.0f);
        }
    }
    return slot;
}

std::u16string Widen(const char *s)
{
    return std::u16string(s, s + std::strlen(s));
}

// When a word starts: the end of the segment before its first one (0 for the
// utterance's first), or the fallback for a word without segments. Walked
// directly: flite's path strings are parsed anew on every lookup.
float WordStart(const cst_item *word, float fallback)
{
    const cst_item *inSylStructure = word ? item_as(word, "SylStructure") : nullptr;
    const cst_item *syllable = inSylStructure ? item_daughter(inSylStructure) : nullptr;
    const cst_item *segment = syllable ? item_daughter(syllable) : nullptr;
    const cst_item *inSegments = segment ? item_as(segment, "Segment") : nullptr;
    if (!inSegments)
        return fallback;
    const cst_item *previous = item_prev(inSegments);
    return previous ? item_feat_float(previous, "end") : 0.0f;
}

// The PCM and word events of one synthesised utterance.
void AppendUtterance(cst_utterance *utt, const MappedText &mapped, uint32_t gainNumerator, SpeechChunk &chunk)
{
    const cst_wave *wave = utt_wave(utt);
    if (!wave || wave->num_samples <= 0)
        return;
    const size_t samples = static_cast<size_t>(wave->num_samples);
    const size_t base = chunk.pcm.size();
    if (gainNumerator == 65535) {
        // Unity gain: the samples are already 16-bit little-endian PCM.
        const auto *bytes = reinterpret_cast<const uint8_t *>(wave->samples);
        chunk.pcm.insert(chunk.pcm.end(), bytes, bytes + samples * 2);
    } else {
        chunk.pcm.resize(base + samples * 2);
        for (size_t i = 0; i < samples; ++i) {
            const auto s = static_cast<int32_t>(static_cast<int64_t>(wave->samples[i]) * gainNumerator / 65535);
            const auto v = static_cast<uint16_t>(static_cast<int16_t>(s));
            chunk.pcm[base + 2 * i] = static_cast<uint8_t>(v & 0xFF);
            chunk.pcm[base + 2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
    }

    // Segment end times are the model's; scale them onto the samples made.
    const cst_item *lastSeg = relation_tail(utt_relation(utt, "Segment"));
    const float total = lastSeg ? item_feat_float(lastSeg, "end") : 0.0f;
    const double scale = total > 0 ? samples / static_cast<double>(total) : wave->sample_rate;
    size_t previous = 0;
    float lastStart = 0;
    for (const cst_item *token = relation_head(utt_relation(utt, "Token")); token; token = item_next(token)) {
        const float start = WordStart(item_daughter(token), lastStart);
        lastStart = start;
        size_t sample = std::min(samples, static_cast<size_t>(std::max(0.0, start * scale)));
        sample = std::max(sample, previous);
        previous = sample;
        const uint32_t utf16Index = mapped.SourceOf(static_cast<size_t>(item_feat_int(token, "orafon_pos")));
        chunk.events.push_back({base + sample * 2, SpeechEvent::Kind::Word, utf16Index * 2});
    }
}

// Reads one text piece's tokens and cuts them into utterances the way
// flite's own text reader does. Lives on the flite thread.
class UtteranceReader {
public:
    UtteranceReader(cst_voice *voice, MappedText mapped) : voice_(voice), mapped_(std::move(mapped))
    {
        ts_ = ts_open_string(mapped_.utf8.c_str(), get_param_string(voice->features, "text_whitespace", nullptr),
                             get_param_string(voice->features, "text_singlecharsymbols", nullptr),
                             get_param_string(voice->features, "text_prepunctuation", nullptr),
                             get_param_string(voice->features, "text_postpunctuation", nullptr));
        if (feat_present(voice->features, "utt_break"))
            breakFunc_ = val_breakfunc(feat_val(voice->features, "utt_break"));
    }
    ~UtteranceReader()
    {
        if (utt_)
            delete_utterance(utt_);
        if (ts_)
            ts_close(ts_);
    }
    UtteranceReader(const UtteranceReader &) = delete;
    UtteranceReader &operator=(const UtteranceReader &) = delete;

    const MappedText &Mapped() const { return mapped_; }

    // The next utterance with its tokens, owned by the caller; null at the end.
    cst_utterance *Next()
    {
        if (!ts_)
            return nullptr;
        for (;;) {
            if (ts_eof(ts_) && tokens_ == 0)
                return nullptr;
            if (!utt_)
                Begin();
            const char *token = ts_get(ts_);
            const bool empty = !token || !*token;
            const bool cut = empty || tokens_ > kMaxTokensPerUtterance ||
                             (relation_head(tokenRel_) && breakFunc_(ts_, token, tokenRel_));
            if (!cut) {
                Append(token);
                continue;
            }
            cst_utterance *done = tokens_ > 0 ? utt_ : nullptr;
            if (!done)
                delete_utterance(utt_);
            utt_ = nullptr;
            tokens_ = 0;
            if (!empty) {
                Begin();
                Append(token);
            }
            if (done)
                return done;
        }
    }

private:
    void Begin()
    {
        utt_ = new_utterance();
        tokenRel_ = utt_relation_create(utt_, "Token");
        tokens_ = 0;
    }

    void Append(const char *token)
    {
        cst_item *t = relation_append(tokenRel_, nullptr);
        item_set_string(t, "name", token);
        item_set_string(t, "whitespace", ts_->whitespace);
        item_set_string(t, "prepunctuation", ts_->prepunctuation);
        item_set_string(t, "punc", ts_->postpunctuation);
        item_set_int(t, "orafon_pos", static_cast<int>(Locate(token)));
        ++tokens_;
    }

    // The token's byte offset: the reader reports the whitespace and
    // punctuation around it, so it follows on from the previous one.
    size_t Locate(const char *token)
    {
        const std::string &text = mapped_.utf8;
        const size_t tokenLength = std::strlen(token);
        size_t pos = cursor_ + std::strlen(ts_->whitespace) + std::strlen(ts_->prepunctuation);
        if (pos > text.size() || text.compare(pos, tokenLength, token) != 0) {
            const size_t found = text.find(token, cursor_);
            pos = found == std::string::npos ? std::min(cursor_, text.size()) : found;
        }
        cursor_ = std::min(text.size(), pos + tokenLength + std::strlen(ts_->postpunctuation));
        return pos;
    }

    cst_voice *voice_;
    MappedText mapped_;
    cst_tokenstream *ts_ = nullptr;
    cst_breakfunc breakFunc_ = default_utt_break;
    cst_utterance *utt_ = nullptr;
    cst_relation *tokenRel_ = nullptr;
    int tokens_ = 0;
    size_t cursor_ = 0;
};

// Makes a text's sentences on the flite thread, keeping a few ahead of the
// engine so the flite thread does not wait for each hand-over. The PCM
// buffers go round between the two threads instead of being allocated per
// sentence: freeing a large block makes glibc consolidate the flite heap.
class SentenceProducer : public std::enable_shared_from_this<SentenceProducer> {
public:
    SentenceProducer(LoadedVoice voice, DWORD sampleRate, std::u16string text, std::vector<TextPiece> pieces,
                     ProsodyReader prosody)
        : voice_(voice), sampleRate_(sampleRate), text_(std::move(text)), pieces_(std::move(pieces)),
          prosody_(std::move(prosody))
    {
    }

    [[nodiscard]] HRESULT Next(SpeechChunk &chunk, bool &done)
    {
        std::unique_lock lock(mutex_);
        Schedule();
        changed_.wait(lock, [&] { return !ready_.empty() || (finished_ && !producing_); });
        if (ready_.empty()) {
            chunk = {};
            done = true;
            return S_OK;
        }
        Produced produced = std::move(ready_.front());
        ready_.pop_front();
        chunk.pcm.swap(produced.chunk.pcm);
        chunk.events = std::move(produced.chunk.events);
        if (produced.chunk.pcm.capacity() > 0 && spare_.size() < kSentencesAhead + 1)
            spare_.push_back(std::move(produced.chunk.pcm)); // the caller's spent buffer
        done = produced.done;
        Schedule();
        return produced.result;
    }

    // Waits out a sentence in the making (it reads the engine's attributes)
    // and lets go of the flite objects on the flite thread.
    void Stop()
    {
        {
            std::unique_lock lock(mutex_);
            stopping_ = true;
            changed_.wait(lock, [&] { return !producing_; });
        }
        // Waited for, so no flite work of this text is left once it is reported done.
        FliteWorker::Instance().Call([this] { reader_.reset(); });
    }

private:
    static constexpr size_t kSentencesAhead = 2;

    struct Produced {
        SpeechChunk chunk;
        bool done = false;
        HRESULT result = S_OK;
    };

    // Under mutex_.
    void Schedule()
    {
        if (producing_ || finished_ || stopping_ || ready_.size() >= kSentencesAhead)
            return;
        producing_ = true;
        FliteWorker::Instance().Post([self = shared_from_this()] { self->ProduceOne(); });
    }

    // Runs on the flite thread.
    void ProduceOne()
    {
        std::vector<uint8_t> buffer;
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                producing_ = false;
                changed_.notify_all();
                return;
            }
            if (!spare_.empty()) {
                buffer = std::move(spare_.back());
                spare_.pop_back();
            }
        }
        buffer.clear();
        // The flite thread is an edge: a sentence that cannot be made (out
        // of memory) ends the text with that as its result.
        Produced produced;
        if (const HRESULT hr = orafon::CatchAtEdge([&] { produced = Produce(std::move(buffer)); }); FAILED(hr))
            produced.result = hr;
        std::lock_guard lock(mutex_);
        producing_ = false;
        finished_ = produced.done || FAILED(produced.result);
        ready_.push_back(std::move(produced));
        Schedule(); // behind whatever other engines queued meanwhile
        changed_.notify_all();
    }

    Prosody Current() const
    {
        Prosody p = prosody_();
        if (speed_)
            p.speed = *speed_;
        if (pitch_)
            p.pitch = *pitch_;
        if (volume_)
            p.volume = *volume_;
        return p;
    }

    static uint32_t GainOf(uint32_t volume) { return ((volume & 0xFFFF) + (volume >> 16)) / 2; }

    // Runs on the flite thread.
    Produced Produce(std::vector<uint8_t> buffer)
    {
        Produced out;
        out.chunk.pcm = std::move(buffer);
        while (index_ < pieces_.size()) {
            const TextPiece &piece = pieces_[index_];
            switch (piece.kind) {
            case TextPiece::Kind::Text:
                if (SpeakFrom(piece, out.chunk))
                    return out;
                break;
            case TextPiece::Kind::Pitch:
                pitch_ = std::clamp<uint32_t>(piece.value, 1, 0xFFFF);
                break;
            case TextPiece::Kind::Speed:
                speed_ = std::clamp(piece.value, kMinSpeed, kMaxSpeed);
                break;
            case TextPiece::Kind::Volume: {
                const uint32_t v = std::min<uint32_t>(piece.value, 0xFFFF);
                volume_ = v | (v << 16);
                break;
            }
            case TextPiece::Kind::Reset:
                speed_.reset();
                pitch_.reset();
                volume_.reset();
                break;
            case TextPiece::Kind::Pause: {
                const uint64_t ms = std::min(piece.value, kMaxPauseMs);
                out.chunk.pcm.assign(static_cast<size_t>(sampleRate_ * ms / 1000) * 2, 0);
                ++index_;
                return out;
            }
            case TextPiece::Kind::Mark:
                out.chunk.events.push_back({0, SpeechEvent::Kind::Mark, piece.value});
                ++index_;
                return out;
            }
            ++index_;
        }
        out.done = true;
        return out;
    }

    // Synthesises the next utterance of a text piece; false when the piece is spent.
    [[nodiscard]] bool SpeakFrom(const TextPiece &piece, SpeechChunk &chunk)
    {
        if (!reader_)
            reader_ = std::make_unique<UtteranceReader>(voice_.voice, MapToUtf8(text_, piece.begin, piece.end));
        while (cst_utterance *utt = reader_->Next()) {
            const Prosody p = Current();
            utt_init(utt, voice_.voice);
            feat_set_float(utt->features, "duration_stretch",
                           voice_.stretch * static_cast<float>(kDefaultSpeed) /
                               static_cast<float>(std::max(p.speed, 1u)));
            feat_set_float(utt->features, "int_f0_target_mean", static_cast<float>(p.pitch));
            cst_utterance *spoken = utt_synth_tokens(utt);
            if (spoken)
                AppendUtterance(spoken, reader_->Mapped(), GainOf(p.volume), chunk);
            delete_utterance(utt);
            if (!chunk.pcm.empty() || !chunk.events.empty())
                return true;
        }
        reader_.reset();
        return false;
    }

    // Touched on the flite thread only, one sentence at a time.
    LoadedVoice voice_;
    DWORD sampleRate_;
    std::u16string text_;
    std::vector<TextPiece> pieces_;
    ProsodyReader prosody_;
    size_t index_ = 0;
    std::unique_ptr<UtteranceReader> reader_;
    std::optional<uint32_t> speed_, pitch_, volume_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Produced> ready_;
    std::vector<std::vector<uint8_t>> spare_;
    bool producing_ = false; // a ProduceOne is queued or running
    bool finished_ = false;
    bool stopping_ = false;
};

class FliteSource final : public SpeechSource {
public:
    explicit FliteSource(std::shared_ptr<SentenceProducer> producer) : producer_(std::move(producer)) {}
    ~FliteSource() override { producer_->Stop(); }
    FliteSource(const FliteSource &) = delete;
    FliteSource &operator=(const FliteSource &) = delete;

    HRESULT Next(SpeechChunk &chunk, bool &done) override { return producer_->Next(chunk, done); }

private:
    std::shared_ptr<SentenceProducer> producer_;
};

class FliteMode final : public EngineMode {
public:
    explicit FliteMode(const VoiceEntry &entry) : entry_(entry)
    {
        info_.gEngineID = FliteGuid(0);
        CopyName(info_.szMfgName, u"Carnegie Mellon University");
        CopyName(info_.szProductName, u"Flite");
        info_.gModeID = FliteGuid(entry.modeNumber);
        CopyName(info_.szModeName, u"Flite " + Widen(entry.speaker));
        info_.language.LanguageID = 1033;
        std::u16string_view dialect(entry.dialect);
        std::copy_n(dialect.begin(), std::min<size_t>(dialect.size(), LANG_LEN - 1), info_.language.szDialect);
        CopyName(info_.szSpeaker, Widen(entry.speaker));
        CopyName(info_.szStyle, entry.style);
        info_.wGender = entry.gender;
        info_.wAge = TTSAGE_ADULT;
        info_.dwFeatures = TTSFEATURE_VOLUME | TTSFEATURE_SPEED | TTSFEATURE_PITCH | TTSFEATURE_TAGGED |
                           TTSFEATURE_WORDPOSITION | TTSFEATURE_PCOPTIMIZED;
        info_.dwInterfaces = TTSI_ITTSATTRIBUTES | TTSI_ITTSCENTRAL;
    }

    const TTSMODEINFOW &Info() const override { return info_; }

    [[nodiscard]] HRESULT Prepare() override
    {
        loaded_ = FliteWorker::Instance().Call([this] { return LoadOnWorker(entry_); });
        return loaded_.voice ? S_OK : E_FAIL;
    }

    WAVEFORMATEX Format() const override { return PcmFormat(entry_.sampleRate, 1, 16); }

    AttributeRanges Ranges() const override
    {
        const uint32_t pitch = loaded_.meanPitch ? loaded_.meanPitch : 100;
        return {{kMinSpeed, kMaxSpeed, kDefaultSpeed}, {pitch / 2, pitch * 2, pitch}, {0, 0xFFFFFFFF, 0xFFFFFFFF}};
    }

    std::unique_ptr<SpeechSource> CreateSource(std::u16string text, std::vector<TextPiece> pieces,
                                               ProsodyReader prosody) override
    {
        return std::make_unique<FliteSource>(std::make_shared<SentenceProducer>(
            loaded_, entry_.sampleRate, std::move(text), std::move(pieces), std::move(prosody)));
    }

private:
    const VoiceEntry &entry_;
    TTSMODEINFOW info_{};
    LoadedVoice loaded_;
};

} // namespace

std::vector<std::shared_ptr<EngineMode>> FliteModes()
{
    std::vector<std::shared_ptr<EngineMode>> modes;
    for (const VoiceEntry &entry : kVoices)
        modes.push_back(std::make_shared<FliteMode>(entry));
    return modes;
}

} // namespace orafon::sapi4
