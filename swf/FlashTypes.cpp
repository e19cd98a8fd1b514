#include "FlashTypes.h"

#include "FlashIO.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

using namespace flashio;

void FlashBitBuffer::Write(uint32_t value, int bitCount)
{
    for (int bit = bitCount - 1; bit >= 0; --bit) {
        if (bitCount_ % 8 == 0) {
            bytes_.push_back(0);
        }
        const uint8_t mask = static_cast<uint8_t>(1u << (7 - bitCount_ % 8));
        if ((value >> bit) & 1u) {
            bytes_[bitCount_ / 8] |= mask;
        } else {
            bytes_[bitCount_ / 8] &= static_cast<uint8_t>(~mask);
        }
        ++bitCount_;
    }
}

std::ostream &operator<<(std::ostream &out, const FlashBitBuffer &bits)
{
    WriteBytes(out, bits.Bytes().data(), bits.Bytes().size());
    return out;
}

namespace {

[[nodiscard]] int BitLength(uint32_t magnitude)
{
    int bits = 0;
    while (magnitude != 0) {
        ++bits;
        magnitude >>= 1;
    }
    return bits;
}

uint32_t Magnitude(int32_t value)
{
    // Computed in 64 bits so INT32_MIN does not overflow.
    return static_cast<uint32_t>(std::llabs(static_cast<long long>(value)));
}

// Sign-extends the low bitCount bits of raw.
int32_t SignExtend(uint32_t raw, int bitCount)
{
    if (bitCount == 0) {
        return 0;
    }
    if (bitCount < 32 && (raw & (1u << (bitCount - 1)))) {
        raw |= ~((1u << bitCount) - 1u);
    }
    return static_cast<int32_t>(raw);
}

} // namespace

int FlashRect::BitsPerValue() const
{
    const int widest = std::max({BitLength(Magnitude(xmin_)), BitLength(Magnitude(xmax_)), BitLength(Magnitude(ymin_)),
                                 BitLength(Magnitude(ymax_))});
    // Five bits hold the count, so 31 is the most a rectangle can carry.
    return std::min(widest + 1, 31);
}

uint32_t FlashRect::EncodedSize() const
{
    return (5 + 4 * static_cast<uint32_t>(BitsPerValue()) + 7) / 8;
}

void FlashRect::Write(std::ostream &out) const
{
    const int nbits = BitsPerValue();
    FlashBitBuffer bits;
    bits.Write(static_cast<uint32_t>(nbits), 5);
    bits.Write(static_cast<uint32_t>(xmin_), nbits);
    bits.Write(static_cast<uint32_t>(xmax_), nbits);
    bits.Write(static_cast<uint32_t>(ymin_), nbits);
    bits.Write(static_cast<uint32_t>(ymax_), nbits);
    out << bits;
}

void FlashRect::Read(std::istream &in)
{
    uint8_t first = 0;
    if (!ReadU8(in, first)) {
        return;
    }
    const int nbits = first >> 3;
    const size_t totalBytes = (5 + 4 * static_cast<size_t>(nbits) + 7) / 8;
    std::vector<uint8_t> bytes;
    if (!ReadBytes(in, bytes, totalBytes - 1)) {
        return;
    }
    bytes.insert(bytes.begin(), first);
    size_t bitPos = 5;
    auto take = [&]() {
        uint32_t raw = 0;
        for (int i = 0; i < nbits; ++i, ++bitPos) {
            raw = (raw << 1) | ((bytes[bitPos / 8] >> (7 - bitPos % 8)) & 1u);
        }
        return SignExtend(raw, nbits);
    };
    xmin_ = take();
    xmax_ = take();
    ymin_ = take();
    ymax_ = take();
}

std::ostream &operator<<(std::ostream &out, const FlashRect &rect)
{
    rect.Write(out);
    return out;
}

FlashFixed::FlashFixed(double x)
{
    if (!std::isfinite(x)) {
        return;
    }
    const double whole = std::floor(x);
    // Only the low 8 bits of the integer part are representable; reduce before
    // converting so that no out-of-range double reaches an integer conversion.
    const double wrapped = whole - 256.0 * std::floor(whole / 256.0);
    integer_ = static_cast<uint8_t>(static_cast<int>(wrapped));
    fraction_ = static_cast<uint8_t>(static_cast<int>((x - whole) * 256.0));
}

void FlashFixed::Write(std::ostream &out) const
{
    WriteU8(out, fraction_);
    WriteU8(out, integer_);
}

void FlashFixed::Read(std::istream &in)
{
    uint8_t fraction = 0;
    uint8_t integer = 0;
    if (ReadU8(in, fraction) && ReadU8(in, integer)) {
        fraction_ = fraction;
        integer_ = integer;
    }
}

std::ostream &operator<<(std::ostream &out, const FlashFixed &fixed)
{
    fixed.Write(out);
    return out;
}

FlashHeader::FlashHeader(uint8_t version, uint32_t bodyLength, int32_t width, int32_t height, double frameRate,
                         uint16_t frameCount)
    : version_(version), bodyLength_(bodyLength), frameSize_(0, 0, width, height), frameRate_(frameRate),
      frameCount_(frameCount)
{
}

void FlashHeader::Write(std::ostream &out) const
{
    WriteBytes(out, "FWS", 3);
    WriteU8(out, version_);
    WriteU32(out, bodyLength_ + Size());
    frameSize_.Write(out);
    frameRate_.Write(out);
    WriteU16(out, frameCount_);
}

void FlashHeader::Read(std::istream &in)
{
    char signature[3] = {};
    uint32_t fileLength = 0;
    if (!in.read(signature, 3) || signature[0] != 'F' || signature[1] != 'W' || signature[2] != 'S') {
        in.setstate(std::ios::failbit);
        return;
    }
    if (!ReadU8(in, version_) || !ReadU32(in, fileLength)) {
        return;
    }
    frameSize_.Read(in);
    frameRate_.Read(in);
    if (!ReadU16(in, frameCount_)) {
        return;
    }
    if (fileLength < Size()) {
        in.setstate(std::ios::failbit);
        return;
    }
    bodyLength_ = fileLength - Size();
}

std::ostream &operator<<(std::ostream &out, const FlashHeader &header)
{
    header.Write(out);
    return out;
}

void FlashTagHeader::Write(std::ostream &out) const
{
    // Ten bits hold the code; SWF defines none beyond that.
    const uint16_t code = static_cast<uint16_t>((code_ & 0x3FF) << 6);
    if (length_ < kLongFormThreshold) {
        WriteU16(out, static_cast<uint16_t>(code | length_));
    } else {
        WriteU16(out, static_cast<uint16_t>(code | 0x3F));
        WriteU32(out, length_);
    }
}

void FlashTagHeader::Read(std::istream &in)
{
    uint16_t value = 0;
    if (!ReadU16(in, value)) {
        return;
    }
    code_ = value >> 6;
    if ((value & 0x3F) == 0x3F) {
        // A failed read leaves the stream failed, which the caller checks.
        static_cast<void>(ReadU32(in, length_));
    } else {
        length_ = value & 0x3F;
    }
}

std::ostream &operator<<(std::ostream &out, const FlashTagHeader &header)
{
    header.Write(out);
    return out;
}

void FlashSoundInfo::SetInPoint(uint32_t value)
{
    inPoint_ = value;
    flags_ |= kHasInPoint;
}

void FlashSoundInfo::SetOutPoint(uint32_t value)
{
    outPoint_ = value;
    flags_ |= kHasOutPoint;
}

void FlashSoundInfo::SetLoopCount(uint16_t value)
{
    loopCount_ = value;
    flags_ |= kHasLoops;
}

bool FlashSoundInfo::AddEnvelopePoint(const FlashSoundEnvelope &point)
{
    if (envelope_.size() >= kMaxEnvelopePoints) {
        return false;
    }
    envelope_.push_back(point);
    flags_ |= kHasEnvelope;
    return true;
}

uint32_t FlashSoundInfo::EncodedSize() const
{
    uint32_t size = 1;
    size += (flags_ & kHasInPoint) ? 4 : 0;
    size += (flags_ & kHasOutPoint) ? 4 : 0;
    size += (flags_ & kHasLoops) ? 2 : 0;
    size += (flags_ & kHasEnvelope) ? 1 + 8 * static_cast<uint32_t>(envelope_.size()) : 0;
    return size;
}

void FlashSoundInfo::Write(std::ostream &out) const
{
    WriteU8(out, flags_);
    if (flags_ & kHasInPoint) {
        WriteU32(out, inPoint_);
    }
    if (flags_ & kHasOutPoint) {
        WriteU32(out, outPoint_);
    }
    if (flags_ & kHasLoops) {
        WriteU16(out, loopCount_);
    }
    if (flags_ & kHasEnvelope) {
        WriteU8(out, static_cast<uint8_t>(envelope_.size()));
        for (const auto &point : envelope_) {
            WriteU32(out, point.position);
            WriteU16(out, point.leftLevel);
            WriteU16(out, point.rightLevel);
        }
    }
}

void FlashSoundInfo::Read(std::istream &in)
{
    envelope_.clear();
    if (!ReadU8(in, flags_)) {
        return;
    }
    if ((flags_ & kHasInPoint) && !ReadU32(in, inPoint_)) {
        return;
    }
    if ((flags_ & kHasOutPoint) && !ReadU32(in, outPoint_)) {
        return;
    }
    if ((flags_ & kHasLoops) && !ReadU16(in, loopCount_)) {
        return;
    }
    uint8_t points = 0;
    if (!(flags_ & kHasEnvelope) || !ReadU8(in, points)) {
        return;
    }
    for (uint8_t i = 0; i < points; ++i) {
        FlashSoundEnvelope point;
        if (!ReadU32(in, point.position) || !ReadU16(in, point.leftLevel) || !ReadU16(in, point.rightLevel)) {
            return;
        }
        envelope_.push_back(point);
    }
}

std::ostream &operator<<(std::ostream &out, const FlashSoundInfo &info)
{
    info.Write(out);
    return out;
}
