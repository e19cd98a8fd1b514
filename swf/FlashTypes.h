// The SWF building blocks below the tag level: file header, rectangles, fixed-point
// numbers, bit packing, tag record headers and sound-info records.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <vector>

// Packs values most significant bit first, as SWF bit fields are laid out.
class FlashBitBuffer {
public:
    // Appends the low bitCount bits of value, most significant first.
    void Write(uint32_t value, int bitCount);
    const std::vector<uint8_t> &Bytes() const { return bytes_; }
    uint32_t BitCount() const { return bitCount_; }

private:
    std::vector<uint8_t> bytes_;
    uint32_t bitCount_ = 0;
};

std::ostream &operator<<(std::ostream &out, const FlashBitBuffer &bits);

// Rectangle in twips (1/20 pixel).
class FlashRect {
public:
    FlashRect() = default;
    FlashRect(int32_t xmin, int32_t ymin, int32_t xmax, int32_t ymax)
        : xmin_(xmin), ymin_(ymin), xmax_(xmax), ymax_(ymax)
    {
    }

    int32_t XMin() const { return xmin_; }
    int32_t YMin() const { return ymin_; }
    int32_t XMax() const { return xmax_; }
    int32_t YMax() const { return ymax_; }
    // Bits per coordinate: the widest magnitude plus a sign bit (at least 1).
    [[nodiscard]] int BitsPerValue() const;
    // Byte count of the encoded rectangle.
    uint32_t EncodedSize() const;

    void Write(std::ostream &out) const;
    void Read(std::istream &in);

    bool operator==(const FlashRect &) const = default;

private:
    int32_t xmin_ = 0;
    int32_t ymin_ = 0;
    int32_t xmax_ = 0;
    int32_t ymax_ = 0;
};

std::ostream &operator<<(std::ostream &out, const FlashRect &rect);

// 8.8 fixed-point number, as used for the movie frame rate.
class FlashFixed {
public:
    FlashFixed() = default;
    explicit FlashFixed(double x);
    FlashFixed(uint8_t integerPart, uint8_t fraction) : integer_(integerPart), fraction_(fraction) {}

    uint8_t IntegerPart() const { return integer_; }
    uint8_t Fraction() const { return fraction_; }
    uint16_t Encoded() const { return static_cast<uint16_t>((integer_ << 8) | fraction_); }
    double Value() const { return integer_ + fraction_ / 256.0; }

    void Write(std::ostream &out) const;
    void Read(std::istream &in);

private:
    uint8_t integer_ = 0;
    uint8_t fraction_ = 0;
};

std::ostream &operator<<(std::ostream &out, const FlashFixed &fixed);

// The file header: "FWS", version, file length, stage rectangle, rate, frame count.
class FlashHeader {
public:
    FlashHeader() = default;
    FlashHeader(uint8_t version, uint32_t bodyLength, int32_t width, int32_t height, double frameRate,
                uint16_t frameCount);

    uint8_t Version() const { return version_; }
    uint32_t BodyLength() const { return bodyLength_; }
    const FlashRect &FrameSize() const { return frameSize_; }
    const FlashFixed &FrameRate() const { return frameRate_; }
    uint16_t FrameCount() const { return frameCount_; }
    // The header's own byte count: 12 plus the encoded rectangle.
    uint32_t Size() const { return 12 + frameSize_.EncodedSize(); }

    void Write(std::ostream &out) const;
    // Fails the stream on a bad signature or a file length shorter than the header.
    void Read(std::istream &in);

private:
    uint8_t version_ = 0;
    uint32_t bodyLength_ = 0;
    FlashRect frameSize_;
    FlashFixed frameRate_;
    uint16_t frameCount_ = 0;
};

std::ostream &operator<<(std::ostream &out, const FlashHeader &header);

// Tag record header: short form (2 bytes) below 63 body bytes, long form (6 bytes) from 63 on.
class FlashTagHeader {
public:
    static constexpr uint32_t kLongFormThreshold = 63;

    FlashTagHeader() = default;
    FlashTagHeader(uint16_t code, uint32_t length) : code_(code), length_(length) {}
    virtual ~FlashTagHeader() = default;

    uint16_t Code() const { return code_; }
    uint32_t Length() const { return length_; }

    virtual void Write(std::ostream &out) const;
    virtual void Read(std::istream &in);

private:
    uint16_t code_ = 0;
    uint32_t length_ = 0;
};

std::ostream &operator<<(std::ostream &out, const FlashTagHeader &header);

struct FlashSoundEnvelope {
    uint32_t position = 0; // in 44 kHz samples
    uint16_t leftLevel = 0;
    uint16_t rightLevel = 0;
    bool operator==(const FlashSoundEnvelope &) const = default;
};

// How an event sound is played. The low four flag bits say which optional values
// follow; they are derived from what has been set rather than taken from the caller.
class FlashSoundInfo {
public:
    static constexpr uint8_t kHasInPoint = 0x01;
    static constexpr uint8_t kHasOutPoint = 0x02;
    static constexpr uint8_t kHasLoops = 0x04;
    static constexpr uint8_t kHasEnvelope = 0x08;
    static constexpr uint8_t kSyncNoMultiple = 0x10;
    static constexpr uint8_t kSyncStop = 0x20;
    static constexpr size_t kMaxEnvelopePoints = 255;

    explicit FlashSoundInfo(uint8_t flags = 0) : flags_(flags & 0xF0) {}

    uint8_t Flags() const { return flags_; }
    uint32_t InPoint() const { return inPoint_; }
    uint32_t OutPoint() const { return outPoint_; }
    uint16_t LoopCount() const { return loopCount_; }
    const std::vector<FlashSoundEnvelope> &Envelope() const { return envelope_; }

    void SetInPoint(uint32_t value);
    void SetOutPoint(uint32_t value);
    void SetLoopCount(uint16_t value);
    // False (and nothing added) once the 8-bit point count is full.
    [[nodiscard]] bool AddEnvelopePoint(const FlashSoundEnvelope &point);

    uint32_t EncodedSize() const;
    void Write(std::ostream &out) const;
    void Read(std::istream &in);

private:
    uint8_t flags_ = 0;
    uint32_t inPoint_ = 0;
    uint32_t outPoint_ = 0;
    uint16_t loopCount_ = 0;
    std::vector<FlashSoundEnvelope> envelope_;
};

std::ostream &operator<<(std::ostream &out, const FlashSoundInfo &info);
