// The scripted SAPI 4 modes: a 440 Hz tone per word, with the format,
// attribute ranges, word positions and call results a test sets. They join
// the mode enumerator's list through the platform's mode providers, after
// the flite modes.
#include "ScriptedMode.h"

#include <sapi4/EngineMode.h>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace orafon::sapi4 {

namespace {

// {2D7E0F40-8C1B-4A57-9F3E-6B1C0A5E01xx}
GUID ScriptedGuid(uint32_t n)
{
    return {0x2D7E0F40, 0x8C1B, 0x4A57, {0x9F, 0x3E, 0x6B, 0x1C, 0x0A, 0x5E, BYTE(0x01 + (n >> 8)), BYTE(n)}};
}

struct ScriptedDescription {
    OrafonScriptedMode mode{};
    std::u16string name;
    std::vector<DWORD> offsets;
    bool explicitOffsets = false;
    GUID id{};
    mutable std::mutex recordMutex;
    mutable OrafonScriptedRecord record{};
};

std::mutex gScriptedMutex;
std::vector<std::shared_ptr<const ScriptedDescription>> gScripted;
uint32_t gScriptedCounter = 0;

// A tone of the mode's format, one stretch per word.
class ScriptedSource final : public SpeechSource {
public:
    ScriptedSource(std::shared_ptr<const ScriptedDescription> d, std::vector<DWORD> offsets)
        : d_(std::move(d)), offsets_(std::move(offsets))
    {
    }

    HRESULT Next(SpeechChunk &chunk, bool &done) override
    {
        chunk = {};
        done = next_ >= offsets_.size();
        if (done)
            return S_OK;
        chunk.events.push_back({0, SpeechEvent::Kind::Word, offsets_[next_++]});
        chunk.pcm = Tone();
        return S_OK;
    }

private:
    std::vector<uint8_t> Tone()
    {
        const WAVEFORMATEX &f = d_->mode.format;
        const DWORD align = std::max<DWORD>(f.nBlockAlign, 1);
        const DWORD frames = d_->mode.bytesPerWord / align;
        std::vector<uint8_t> pcm;
        pcm.reserve(static_cast<size_t>(frames) * align);
        for (DWORD i = 0; i < frames; ++i, ++phase_) {
            const double s = std::sin(2 * M_PI * 440.0 * phase_ / std::max<DWORD>(f.nSamplesPerSec, 1)) * 0.5;
            for (WORD c = 0; c < f.nChannels; ++c) {
                if (f.wBitsPerSample == 8) {
                    pcm.push_back(static_cast<uint8_t>(128 + std::lround(s * 127)));
                } else {
                    const auto v = static_cast<uint16_t>(static_cast<int16_t>(std::lround(s * 32767)));
                    pcm.push_back(static_cast<uint8_t>(v & 0xFF));
                    pcm.push_back(static_cast<uint8_t>(v >> 8));
                }
            }
        }
        return pcm;
    }

    std::shared_ptr<const ScriptedDescription> d_;
    std::vector<DWORD> offsets_;
    size_t next_ = 0;
    uint64_t phase_ = 0;
};

class ScriptedMode final : public EngineMode {
public:
    explicit ScriptedMode(std::shared_ptr<const ScriptedDescription> d) : d_(std::move(d))
    {
        info_.gEngineID = {0x2D7E0F40, 0x8C1B, 0x4A57, {0x9F, 0x3E, 0x6B, 0x1C, 0x0A, 0x5E, 0x01, 0xFF}};
        CopyName(info_.szMfgName, u"Orafon");
        CopyName(info_.szProductName, u"Scripted test engine");
        info_.gModeID = d_->id;
        CopyName(info_.szModeName, d_->name);
        info_.language.LanguageID = d_->mode.language;
        CopyName(info_.szSpeaker, u"Scripted");
        CopyName(info_.szStyle, u"Tone");
        info_.wGender = d_->mode.gender;
        info_.wAge = TTSAGE_ADULT;
        info_.dwFeatures = TTSFEATURE_VOLUME | TTSFEATURE_SPEED | TTSFEATURE_PITCH | TTSFEATURE_WORDPOSITION;
        info_.dwInterfaces = TTSI_ITTSATTRIBUTES | TTSI_ITTSCENTRAL;
    }

    const TTSMODEINFOW &Info() const override { return info_; }
    HRESULT Prepare() override { return S_OK; }
    WAVEFORMATEX Format() const override { return d_->mode.format; }

    AttributeRanges Ranges() const override
    {
        const OrafonScriptedMode &m = d_->mode;
        return {{m.speedMin, m.speedMax, m.speedDefault},
                {m.pitchMin, m.pitchMax, m.pitchDefault},
                {m.volumeMin, m.volumeMax, m.volumeDefault}};
    }

    std::unique_ptr<SpeechSource> CreateSource(std::u16string text, std::vector<TextPiece> pieces,
                                               ProsodyReader) override
    {
        std::vector<DWORD> offsets = d_->offsets;
        if (!d_->explicitOffsets)
            offsets = WordStarts(text, pieces);
        return std::make_unique<ScriptedSource>(d_, std::move(offsets));
    }

    void Observe(ModeCall call, uint32_t argument, uint32_t size) override
    {
        std::lock_guard lock(d_->recordMutex);
        OrafonScriptedRecord &r = d_->record;
        switch (call) {
        case ModeCall::TextData:
            ++r.textDataCalls;
            r.lastTextDataFlags = argument;
            r.lastTextDataSize = size;
            break;
        case ModeCall::SpeedSet:
            ++r.speedSetCalls;
            r.lastSpeedSet = argument;
            break;
        case ModeCall::PitchSet:
            ++r.pitchSetCalls;
            r.lastPitchSet = static_cast<WORD>(argument);
            break;
        case ModeCall::VolumeSet:
            ++r.volumeSetCalls;
            r.lastVolumeSet = argument;
            break;
        default:
            break;
        }
    }

    void Notice(ModeNotice notice) override
    {
        std::lock_guard lock(d_->recordMutex);
        OrafonScriptedRecord &r = d_->record;
        switch (notice) {
        case ModeNotice::Posted:
            ++r.notificationsPosted;
            break;
        case ModeNotice::DonePosted:
            ++r.notificationsPosted;
            ++r.doneNotificationsPosted;
            break;
        case ModeNotice::Delivered:
            ++r.notificationsDelivered;
            break;
        }
    }

    HRESULT Outcome(ModeCall call) const override
    {
        const auto i = static_cast<size_t>(call);
        return i < std::size(d_->mode.results) ? d_->mode.results[i] : S_OK;
    }

private:
    static std::vector<DWORD> WordStarts(const std::u16string &text, const std::vector<TextPiece> &pieces)
    {
        std::vector<DWORD> starts;
        for (const TextPiece &piece : pieces) {
            if (piece.kind != TextPiece::Kind::Text)
                continue;
            bool inWord = false;
            for (uint32_t i = piece.begin; i < piece.end; ++i) {
                const bool space = text[i] == u' ' || text[i] == u'\t' || text[i] == u'\r' || text[i] == u'\n';
                if (!space && !inWord)
                    starts.push_back(i * 2);
                inWord = !space;
            }
        }
        return starts;
    }

    std::shared_ptr<const ScriptedDescription> d_;
    TTSMODEINFOW info_{};
};

std::vector<std::shared_ptr<EngineMode>> ScriptedModes()
{
    std::vector<std::shared_ptr<EngineMode>> modes;
    std::lock_guard lock(gScriptedMutex);
    for (const auto &d : gScripted)
        modes.push_back(std::make_shared<ScriptedMode>(d));
    return modes;
}

} // namespace

} // namespace orafon::sapi4

using namespace orafon::sapi4;

EXTERN_C ORAFON_EXPORT GUID OrafonSapi4_AddScriptedMode(const OrafonScriptedMode *mode)
{
    if (!mode)
        return GUID_NULL;
    auto d = std::make_shared<ScriptedDescription>();
    d->mode = *mode;
    d->name = mode->name ? std::u16string(mode->name) : std::u16string(u"Scripted");
    d->mode.name = nullptr;
    if (mode->wordOffsets) {
        d->offsets.assign(mode->wordOffsets, mode->wordOffsets + mode->wordCount);
        d->explicitOffsets = true;
    }
    d->mode.wordOffsets = nullptr;
    AddModeProvider(&ScriptedModes);
    std::lock_guard lock(gScriptedMutex);
    d->id = ScriptedGuid(++gScriptedCounter);
    gScripted.push_back(d);
    return d->id;
}

EXTERN_C ORAFON_EXPORT HRESULT OrafonSapi4_GetScriptedRecord(const GUID *modeId, OrafonScriptedRecord *record)
{
    if (!modeId || !record)
        return E_INVALIDARG;
    std::lock_guard lock(gScriptedMutex);
    for (const auto &d : gScripted) {
        if (d->id == *modeId) {
            std::lock_guard recordLock(d->recordMutex);
            *record = d->record;
            return S_OK;
        }
    }
    return E_INVALIDARG;
}

EXTERN_C ORAFON_EXPORT void OrafonSapi4_RemoveScriptedModes(void)
{
    std::lock_guard lock(gScriptedMutex);
    gScripted.clear();
}
