// Reads the Layer III frames of an MPEG-1, 2 or 2.5 audio file and hands them out
// as the sound stream of a SWF movie, one stream block per movie frame. Frames are
// copied whole, never decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <vector>

class Mp3SoundStream {
public:
    // Loads the file. A file that cannot be read, or that holds no acceptable frame,
    // leaves the stream empty (duration 0); ReadFailed() tells the first case.
    Mp3SoundStream(const char *path, int32_t frameRate);
    // Same, from the file's bytes already in memory.
    Mp3SoundStream(std::vector<uint8_t> fileBytes, int32_t frameRate);

    Mp3SoundStream(const Mp3SoundStream &) = delete;
    Mp3SoundStream &operator=(const Mp3SoundStream &) = delete;

    // Playing time of all accepted frames in seconds, each frame counting its
    // samples at its own sample rate.
    double GetDuration() const { return durationSeconds_; }
    // Movie frames needed at the stream's frame rate to carry every accepted frame
    // (the duration times the rate, rounded up); 0 for an empty stream or a rate below 1.
    int64_t MovieFramesNeeded() const;

    void WriteStreamHead(std::ostream &out) const;
    // Writes the stream block for the next movie frame, or nothing once every frame
    // has been emitted.
    void WriteStreamBlock(std::ostream &out);

    [[nodiscard]] bool ReadFailed() const { return readFailed_; }
    // No frame was accepted because the stream is free-format (bitrate index
    // 0), which this reader cannot cut into frames.
    [[nodiscard]] bool FreeFormat() const { return freeFormat_; }
    [[nodiscard]] bool Finished() const { return finished_; }
    size_t FrameCount() const { return frameSizes_.size(); }
    const std::vector<int32_t> &FrameSizes() const { return frameSizes_; }
    // The bytes of accepted frame i, header included.
    const uint8_t *FrameData(size_t i) const { return bytes_ + frameOffsets_[i]; }

    int32_t LayerIndex() const { return layerIndex_; }
    int32_t VersionIndex() const { return versionIndex_; }
    int32_t SampleRate() const { return sampleRate_; }
    int32_t Stereo() const { return stereo_; }
    int32_t Bitrate() const { return bitrate_; }
    int32_t SamplesPerFrame() const { return samplesPerFrame_; }
    int32_t SeekSamples() const { return seekSamples_; }
    uint32_t NextFrame() const { return nextFrame_; }
    int32_t BlocksWritten() const { return blocksWritten_; }

    // The stream-head rate code for a sample rate (3 = 44.1 kHz, 2 = 22.05, 1 = 11.025, else 0).
    static uint8_t RateCode(int32_t sampleRate);
    // Unpadded frame size in bytes, as the header's bitrate and sample rate give it.
    static int32_t UnpaddedFrameSize(int32_t versionIndex, int32_t bitrate, int32_t sampleRate);

private:
    struct FrameHeader {
        int32_t layerIndex = 3;
        int32_t versionIndex = 3;
        int32_t stereo = 0;
        int32_t sampleRate = 0;
        int32_t bitrate = 0;
        int32_t rateIndex = 3;
        bool padded = false;
    };

    // Decodes a 4-byte window; false unless it is an acceptable Layer III header.
    [[nodiscard]] static bool DecodeHeader(const uint8_t *b, FrameHeader &header);
    // Finds the next acceptable header at or after pos, before audioEnd_.
    [[nodiscard]] bool FindFrameHeader(size_t &pos, FrameHeader &header) const;
    // Whether a frame ending at next is followed by another header, or ends the audio.
    [[nodiscard]] bool NextFrameFollows(size_t next) const;
    // Whether the bytes from pos hold free-format Layer III headers.
    [[nodiscard]] bool LooksFreeFormat(size_t pos) const;
    // The full size of the frame at pos, or 0 when the file ends inside it.
    int32_t ReadFrame(size_t pos, const FrameHeader &header) const;
    // Where audio may start: past any ID3v2 tags at the front of the file.
    size_t SkipLeadingTags() const;
    // Where audio must end: before an ID3v1 tag at the end of the file.
    size_t AudioEnd() const;
    void Scan();
    // Milliseconds per MP3 frame, from the stream properties.
    double FrameMilliseconds() const;

    // The whole input: either a caller's vector or a file read into pre-faulted
    // anonymous memory (much cheaper than faulting a fresh heap buffer page by page).
    struct Mapping {
        void *address = nullptr;
        size_t length = 0;
        Mapping() = default;
        Mapping(const Mapping &) = delete;
        Mapping &operator=(const Mapping &) = delete;
        ~Mapping();
    };
    [[nodiscard]] bool LoadFile(const char *path);

    std::vector<uint8_t> owned_;
    Mapping mapping_;
    const uint8_t *bytes_ = nullptr;
    size_t size_ = 0;
    std::vector<size_t> frameOffsets_;
    std::vector<int32_t> frameSizes_;
    std::vector<uint8_t> scratch_;
    // Samples of the accepted frames per sample-rate table slot (version × rate index).
    uint64_t samplesPerRate_[3][3] = {};
    size_t audioEnd_ = 0;
    double durationSeconds_ = 0.0;
    int32_t frameRate_;
    int32_t seekSamples_ = 0;
    uint32_t nextFrame_ = 0;
    bool finished_ = false;
    bool readFailed_ = false;
    bool freeFormat_ = false;
    int32_t blocksWritten_ = 0;
    int32_t layerIndex_ = 3;
    int32_t versionIndex_ = 3;
    int32_t sampleRate_ = 0;
    int32_t stereo_ = 0;
    int32_t bitrate_ = 0;
    int32_t samplesPerFrame_ = 0;
};
