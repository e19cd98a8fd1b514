// One class per SWF tag the movie writer uses, each able to write itself to and
// read itself back from a byte stream.
#pragma once

#include "FlashTypes.h"

#include <cstdint>
#include <istream>
#include <memory>
#include <ostream>
#include <vector>

class FlashActionRecord;

enum FlashTagCode : uint16_t {
    kFlashTagEnd = 0,
    kFlashTagShowFrame = 1,
    kFlashTagSetBackgroundColor = 9,
    kFlashTagDoAction = 12,
    kFlashTagStartSound = 15,
    kFlashTagSoundStreamBlock = 19,
    kFlashTagSoundStreamHead2 = 45,
};

class FlashTag {
public:
    virtual ~FlashTag() = default;
    [[nodiscard]] virtual bool EndsFrame() const { return false; }
    virtual uint16_t Code() const = 0;
    virtual void Write(std::ostream &out) const = 0;
    // Reads the tag, header included. A header with another code, or a body that
    // ends early, fails the stream; the tag keeps what was read so far.
    virtual void Read(std::istream &in) = 0;

protected:
    // Reads the record header and exactly its declared body. False (stream
    // failed) when the code is not this tag's or the input ends first.
    [[nodiscard]] bool ReadBody(std::istream &in, std::vector<uint8_t> &body) const;
    void WriteWithBody(std::ostream &out, const std::vector<uint8_t> &body) const;
};

std::ostream &operator<<(std::ostream &out, const FlashTag &tag);

// Marks the tags that may also appear inside a sprite.
class FlashSpriteEnabled : public FlashTag {};

class FlashTagShowFrame : public FlashSpriteEnabled {
public:
    [[nodiscard]] bool EndsFrame() const override { return true; }
    uint16_t Code() const override { return kFlashTagShowFrame; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;
};

class FlashTagEnd : public FlashSpriteEnabled {
public:
    uint16_t Code() const override { return kFlashTagEnd; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;
};

class FlashTagBackgroundColor : public FlashTag {
public:
    FlashTagBackgroundColor(uint8_t r = 0, uint8_t g = 0, uint8_t b = 0) : red_(r), green_(g), blue_(b) {}

    uint8_t Red() const { return red_; }
    uint8_t Green() const { return green_; }
    uint8_t Blue() const { return blue_; }

    uint16_t Code() const override { return kFlashTagSetBackgroundColor; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    uint8_t red_;
    uint8_t green_;
    uint8_t blue_;
};

class FlashTagStartSound : public FlashSpriteEnabled {
public:
    FlashTagStartSound(uint16_t soundId = 0, const FlashSoundInfo &info = FlashSoundInfo())
        : soundId_(soundId), soundInfo_(info)
    {
    }

    uint16_t SoundId() const { return soundId_; }
    const FlashSoundInfo &SoundInfo() const { return soundInfo_; }

    uint16_t Code() const override { return kFlashTagStartSound; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    uint16_t soundId_;
    FlashSoundInfo soundInfo_;
};

class FlashTagSoundStreamHead2 : public FlashSpriteEnabled {
public:
    static constexpr uint8_t kCompressionMp3 = 2;

    FlashTagSoundStreamHead2() = default;
    // The latency seek is written only for MP3 streams, where the format requires it.
    FlashTagSoundStreamHead2(uint8_t playbackRate, uint8_t playback16Bit, uint8_t playbackStereo, uint8_t compression,
                             uint8_t streamRate, uint8_t stream16Bit, uint8_t streamStereo, uint16_t sampleCount,
                             int16_t latencySeek = 0);

    uint8_t PlaybackRate() const { return playbackRate_; }
    uint8_t Playback16Bit() const { return playback16Bit_; }
    uint8_t PlaybackStereo() const { return playbackStereo_; }
    uint8_t Compression() const { return compression_; }
    uint8_t StreamRate() const { return streamRate_; }
    uint8_t Stream16Bit() const { return stream16Bit_; }
    uint8_t StreamStereo() const { return streamStereo_; }
    uint16_t SampleCount() const { return sampleCount_; }
    int16_t LatencySeek() const { return latencySeek_; }
    [[nodiscard]] bool HasLatencySeek() const { return compression_ == kCompressionMp3; }

    uint16_t Code() const override { return kFlashTagSoundStreamHead2; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    uint8_t playbackRate_ = 0;
    uint8_t playback16Bit_ = 0;
    uint8_t playbackStereo_ = 0;
    uint8_t compression_ = 0;
    uint8_t streamRate_ = 0;
    uint8_t stream16Bit_ = 0;
    uint8_t streamStereo_ = 0;
    uint16_t sampleCount_ = 0;
    int16_t latencySeek_ = 0;
};

// Stream data for one movie frame. Data given by the caller is not copied and
// must outlive the tag; data read from a stream is owned by the tag.
class FlashTagSoundStreamBlock : public FlashSpriteEnabled {
public:
    FlashTagSoundStreamBlock() = default;
    FlashTagSoundStreamBlock(const uint8_t *data, uint32_t length) : data_(data), length_(length) {}
    FlashTagSoundStreamBlock(const FlashTagSoundStreamBlock &) = delete;
    FlashTagSoundStreamBlock &operator=(const FlashTagSoundStreamBlock &) = delete;

    const uint8_t *Data() const { return data_; }
    uint32_t DataLength() const { return length_; }

    uint16_t Code() const override { return kFlashTagSoundStreamBlock; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

protected:
    void TakeData(std::vector<uint8_t> &&bytes, size_t offset);

    const uint8_t *data_ = nullptr;
    uint32_t length_ = 0;
    std::vector<uint8_t> owned_;
};

class FlashTagSoundStreamBlockMP3 : public FlashTagSoundStreamBlock {
public:
    FlashTagSoundStreamBlockMP3() = default;
    FlashTagSoundStreamBlockMP3(uint16_t sampleCount, int16_t seekSamples, const uint8_t *data, uint32_t length)
        : FlashTagSoundStreamBlock(data, length), sampleCount_(sampleCount), seekSamples_(seekSamples)
    {
    }

    uint16_t SampleCount() const { return sampleCount_; }
    int16_t SeekSamples() const { return seekSamples_; }

    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    uint16_t sampleCount_ = 0;
    int16_t seekSamples_ = 0;
};

// A frame's action list. Records added by the caller stay the caller's; records
// created by reading belong to the tag.
class FlashTagDoAction : public FlashSpriteEnabled {
public:
    FlashTagDoAction();
    ~FlashTagDoAction() override;
    FlashTagDoAction(const FlashTagDoAction &) = delete;
    FlashTagDoAction &operator=(const FlashTagDoAction &) = delete;

    void Add(FlashActionRecord *action) { records_.push_back(action); }
    const std::vector<FlashActionRecord *> &Records() const { return records_; }

    uint16_t Code() const override { return kFlashTagDoAction; }
    void Write(std::ostream &out) const override;
    void Read(std::istream &in) override;

private:
    std::vector<FlashActionRecord *> records_;
    std::vector<std::unique_ptr<FlashActionRecord>> owned_;
};

// A movie read back from bytes: the header and the tags this library models.
// Tags of other codes are skipped by their length and listed by code.
struct FlashMovie {
    FlashHeader header;
    std::vector<std::unique_ptr<FlashTag>> tags;
    std::vector<uint16_t> skippedCodes;
    bool complete = false; // an End tag was reached with every tag intact
};

// Reads a whole movie. Stops cleanly at the End tag or at the first damaged tag.
FlashMovie FlashReadMovie(std::istream &in);
