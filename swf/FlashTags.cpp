#include "FlashTags.h"

#include "FlashActions.h"
#include "FlashIO.h"

using namespace flashio;

std::ostream &operator<<(std::ostream &out, const FlashTag &tag)
{
    tag.Write(out);
    return out;
}

bool FlashTag::ReadBody(std::istream &in, std::vector<uint8_t> &body) const
{
    FlashTagHeader header;
    header.Read(in);
    if (!in) {
        return false;
    }
    if (header.Code() != Code()) {
        in.setstate(std::ios::failbit);
        return false;
    }
    return ReadBytes(in, body, header.Length());
}

void FlashTag::WriteWithBody(std::ostream &out, const std::vector<uint8_t> &body) const
{
    FlashTagHeader(Code(), static_cast<uint32_t>(body.size())).Write(out);
    WriteBytes(out, body.data(), body.size());
}

void FlashTagShowFrame::Write(std::ostream &out) const
{
    FlashTagHeader(Code(), 0).Write(out);
}

void FlashTagShowFrame::Read(std::istream &in)
{
    std::vector<uint8_t> body;
    // A failed read leaves the stream failed, which the caller checks.
    static_cast<void>(ReadBody(in, body));
}

void FlashTagEnd::Write(std::ostream &out) const
{
    FlashTagHeader(Code(), 0).Write(out);
}

void FlashTagEnd::Read(std::istream &in)
{
    std::vector<uint8_t> body;
    // A failed read leaves the stream failed, which the caller checks.
    static_cast<void>(ReadBody(in, body));
}

void FlashTagBackgroundColor::Write(std::ostream &out) const
{
    FlashTagHeader(Code(), 3).Write(out);
    WriteU8(out, red_);
    WriteU8(out, green_);
    WriteU8(out, blue_);
}

void FlashTagBackgroundColor::Read(std::istream &in)
{
    std::vector<uint8_t> body;
    if (!ReadBody(in, body)) {
        return;
    }
    ByteCursor cursor(body);
    if (!cursor.U8(red_) || !cursor.U8(green_) || !cursor.U8(blue_)) {
        in.setstate(std::ios::failbit);
    }
}

void FlashTagStartSound::Write(std::ostream &out) const
{
    VectorOStream body;
    WriteU16(body, soundId_);
    soundInfo_.Write(body);
    WriteWithBody(out, body.Bytes());
}

void FlashTagStartSound::Read(std::istream &in)
{
    std::vector<uint8_t> body;
    if (!ReadBody(in, body)) {
        return;
    }
    MemoryIStream bodyIn(body);
    if (!ReadU16(bodyIn, soundId_)) {
        in.setstate(std::ios::failbit);
        return;
    }
    soundInfo_.Read(bodyIn);
    if (!bodyIn) {
        in.setstate(std::ios::failbit);
    }
}

FlashTagSoundStreamHead2::FlashTagSoundStreamHead2(uint8_t playbackRate, uint8_t playback16Bit, uint8_t playbackStereo,
                                                   uint8_t compression, uint8_t streamRate, uint8_t stream16Bit,
                                                   uint8_t streamStereo, uint16_t sampleCount, int16_t latencySeek)
    : playbackRate_(playbackRate), playback16Bit_(playback16Bit), playbackStereo_(playbackStereo),
      compression_(compression), streamRate_(streamRate), stream16Bit_(stream16Bit), streamStereo_(streamStereo),
      sampleCount_(sampleCount), latencySeek_(latencySeek)
{
}

void FlashTagSoundStreamHead2::Write(std::ostream &out) const
{
    FlashTagHeader(Code(), HasLatencySeek() ? 6 : 4).Write(out);
    WriteU8(out,
            static_cast<uint8_t>(((playbackRate_ & 3) << 2) | ((playback16Bit_ & 1) << 1) | (playbackStereo_ & 1)));
    WriteU8(out, static_cast<uint8_t>(((compression_ & 0xF) << 4) | ((streamRate_ & 3) << 2) |
                                      ((stream16Bit_ & 1) << 1) | (streamStereo_ & 1)));
    WriteU16(out, sampleCount_);
    if (HasLatencySeek()) {
        WriteU16(out, static_cast<uint16_t>(latencySeek_));
    }
}

void FlashTagSoundStreamHead2::Read(std::istream &in)
{
    std::vector<uint8_t> body;
    if (!ReadBody(in, body)) {
        return;
    }
    ByteCursor cursor(body);
    uint8_t playback = 0;
    uint8_t stream = 0;
    if (!cursor.U8(playback) || !cursor.U8(stream) || !cursor.U16(sampleCount_)) {
        in.setstate(std::ios::failbit);
        return;
    }
    playbackRate_ = (playback >> 2) & 3;
    playback16Bit_ = (playback >> 1) & 1;
    playbackStereo_ = playback & 1;
    compression_ = stream >> 4;
    streamRate_ = (stream >> 2) & 3;
    stream16Bit_ = (stream >> 1) & 1;
    streamStereo_ = stream & 1;
    latencySeek_ = 0;
    uint16_t latency = 0;
    // Older writers left the latency seek out even for MP3; accept both.
    if (HasLatencySeek() && cursor.U16(latency)) {
        latencySeek_ = static_cast<int16_t>(latency);
    }
}

void FlashTagSoundStreamBlock::TakeData(std::vector<uint8_t> &&bytes, size_t offset)
{
    owned_ = std::move(bytes);
    data_ = owned_.data() + offset;
    length_ = static_cast<uint32_t>(owned_.size() - offset);
}

void FlashTagSoundStreamBlock::Write(std::ostream &out) const
{
    FlashTagHeader(Code(), length_).Write(out);
    WriteBytes(out, data_, length_);
}

void FlashTagSoundStreamBlock::Read(std::istream &in)
{
    std::vector<uint8_t> body;
    if (ReadBody(in, body)) {
        TakeData(std::move(body), 0);
    }
}

void FlashTagSoundStreamBlockMP3::Write(std::ostream &out) const
{
    FlashTagHeader(Code(), length_ + 4).Write(out);
    WriteU16(out, sampleCount_);
    WriteU16(out, static_cast<uint16_t>(seekSamples_));
    WriteBytes(out, data_, length_);
}

void FlashTagSoundStreamBlockMP3::Read(std::istream &in)
{
    std::vector<uint8_t> body;
    if (!ReadBody(in, body)) {
        return;
    }
    ByteCursor cursor(body);
    uint16_t seek = 0;
    if (!cursor.U16(sampleCount_) || !cursor.U16(seek)) {
        in.setstate(std::ios::failbit);
        return;
    }
    seekSamples_ = static_cast<int16_t>(seek);
    TakeData(std::move(body), 4);
}

FlashTagDoAction::FlashTagDoAction() = default;
FlashTagDoAction::~FlashTagDoAction() = default;

void FlashTagDoAction::Write(std::ostream &out) const
{
    VectorOStream body;
    for (const FlashActionRecord *record : records_) {
        record->Write(body);
    }
    WriteU8(body, 0);
    if (!body) {
        // A record that cannot be encoded spoils the whole list.
        out.setstate(std::ios::failbit);
        return;
    }
    WriteWithBody(out, body.Bytes());
}

void FlashTagDoAction::Read(std::istream &in)
{
    std::vector<uint8_t> body;
    if (!ReadBody(in, body)) {
        return;
    }
    MemoryIStream bodyIn(body);
    if (!FlashActionVectorImporter().Import(bodyIn, records_, owned_)) {
        in.setstate(std::ios::failbit);
    }
}

namespace {

[[nodiscard]] std::unique_ptr<FlashTag> CreateTag(uint16_t code, uint8_t streamCompression)
{
    switch (code) {
    case kFlashTagEnd:
        return std::make_unique<FlashTagEnd>();
    case kFlashTagShowFrame:
        return std::make_unique<FlashTagShowFrame>();
    case kFlashTagSetBackgroundColor:
        return std::make_unique<FlashTagBackgroundColor>();
    case kFlashTagDoAction:
        return std::make_unique<FlashTagDoAction>();
    case kFlashTagStartSound:
        return std::make_unique<FlashTagStartSound>();
    case kFlashTagSoundStreamBlock:
        if (streamCompression == FlashTagSoundStreamHead2::kCompressionMp3) {
            return std::make_unique<FlashTagSoundStreamBlockMP3>();
        }
        return std::make_unique<FlashTagSoundStreamBlock>();
    case kFlashTagSoundStreamHead2:
        return std::make_unique<FlashTagSoundStreamHead2>();
    default:
        return nullptr;
    }
}

} // namespace

FlashMovie FlashReadMovie(std::istream &in)
{
    FlashMovie movie;
    movie.header.Read(in);
    uint8_t compression = 0xFF;
    while (in) {
        // Keep the header's own bytes so the tag can read itself from them.
        std::vector<uint8_t> record(2);
        if (!in.read(reinterpret_cast<char *>(record.data()), 2)) {
            return movie;
        }
        const uint16_t value = static_cast<uint16_t>(record[0] | (record[1] << 8));
        uint32_t length = value & 0x3F;
        if (length == 0x3F) {
            if (!ReadU32(in, length)) {
                return movie;
            }
            for (int shift = 0; shift < 32; shift += 8) {
                record.push_back(static_cast<uint8_t>(length >> shift));
            }
        }
        std::vector<uint8_t> body;
        if (!ReadBytes(in, body, length)) {
            return movie;
        }
        const uint16_t code = value >> 6;
        auto tag = CreateTag(code, compression);
        if (!tag) {
            movie.skippedCodes.push_back(code);
            continue;
        }
        record.insert(record.end(), body.begin(), body.end());
        MemoryIStream tagIn(record);
        tag->Read(tagIn);
        if (!tagIn) {
            return movie;
        }
        if (auto *head = dynamic_cast<FlashTagSoundStreamHead2 *>(tag.get())) {
            compression = head->Compression();
        }
        movie.tags.push_back(std::move(tag));
        if (code == kFlashTagEnd) {
            movie.complete = true;
            return movie;
        }
    }
    return movie;
}
