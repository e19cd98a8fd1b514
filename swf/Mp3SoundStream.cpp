#include "Mp3SoundStream.h"

#include "FlashTags.h"

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Version field (header byte 1, bits 4..3) to version index: MPEG-1 0, MPEG-2 1,
// MPEG-2.5 2, reserved 3.
constexpr int32_t kVersionMap[4] = {2, 3, 1, 0};

// Sampling-frequency field to MPEG-1 rate; MPEG-2 halves it, MPEG-2.5 quarters it.
constexpr int32_t kBaseRate[4] = {44100, 48000, 32000, 0};

// Bitrates in kbit/s by [lsf][layer index][bitrate index] (ISO/IEC 11172-3, 13818-3).
constexpr int32_t kBitrateKbps[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}},
};

constexpr int32_t kLayerIII = 2;
constexpr size_t kId3v2HeaderSize = 10;
constexpr size_t kId3v1Size = 128;

int32_t SamplesPerFrameFor(int32_t sampleRate)
{
    return sampleRate >= 32000 ? 1152 : 576;
}

// Truncates toward zero; values that no 32-bit integer holds (or NaN) give 0.
int32_t TruncateToInt32(double value)
{
    if (!(value > std::numeric_limits<int32_t>::min() - 1.0 && value < std::numeric_limits<int32_t>::max() + 1.0)) {
        return 0;
    }
    return static_cast<int32_t>(value);
}

// Reads from fd until the end or until capacity bytes are in; false on a read error.
[[nodiscard]] bool ReadAll(int fd, uint8_t *into, size_t capacity, size_t &got)
{
    got = 0;
    while (got < capacity) {
        const ssize_t n = ::read(fd, into + got, capacity - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    return true;
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

} // namespace

Mp3SoundStream::Mapping::~Mapping()
{
    if (address != nullptr) {
        ::munmap(address, length);
    }
}

Mp3SoundStream::Mp3SoundStream(const char *path, int32_t frameRate) : frameRate_(frameRate)
{
    readFailed_ = !LoadFile(path);
    if (readFailed_) {
        bytes_ = nullptr;
        size_ = 0;
        return;
    }
    Scan();
}

Mp3SoundStream::Mp3SoundStream(std::vector<uint8_t> fileBytes, int32_t frameRate)
    : owned_(std::move(fileBytes)), bytes_(owned_.data()), size_(owned_.size()), frameRate_(frameRate)
{
    Scan();
}

bool Mp3SoundStream::LoadFile(const char *path)
{
    if (path == nullptr) {
        return false;
    }
    const FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0) {
        return false;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) {
        return false;
    }
    if (S_ISREG(info.st_mode)) {
        // The file as it is now; anything appended while we read is not ours.
        const size_t length = static_cast<size_t>(info.st_size);
        if (length == 0) {
            return true;
        }
        void *address =
            ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (address == MAP_FAILED) {
            throw std::bad_alloc();
        }
        mapping_.address = address;
        mapping_.length = length;
        size_t got = 0;
        if (!ReadAll(file.Get(), static_cast<uint8_t *>(address), length, got)) {
            return false;
        }
        bytes_ = static_cast<const uint8_t *>(address);
        size_ = got;
        return true;
    }
    // Pipes and devices: read until the end, growing as needed.
    constexpr size_t kChunk = size_t{1} << 20;
    for (;;) {
        const size_t have = owned_.size();
        owned_.resize(have + kChunk);
        size_t got = 0;
        const bool ok = ReadAll(file.Get(), owned_.data() + have, kChunk, got);
        owned_.resize(have + got);
        if (!ok) {
            return false;
        }
        if (got < kChunk) {
            break;
        }
    }
    bytes_ = owned_.data();
    size_ = owned_.size();
    return true;
}

uint8_t Mp3SoundStream::RateCode(int32_t sampleRate)
{
    switch (sampleRate) {
    case 44100:
        return 3;
    case 22050:
        return 2;
    case 11025:
        return 1;
    default:
        return 0;
    }
}

int32_t Mp3SoundStream::UnpaddedFrameSize(int32_t versionIndex, int32_t bitrate, int32_t sampleRate)
{
    if (sampleRate <= 0) {
        return 0;
    }
    return (versionIndex != 0 ? 72 : 144) * bitrate / sampleRate;
}

bool Mp3SoundStream::DecodeHeader(const uint8_t *b, FrameHeader &header)
{
    if (b[0] != 0xFF || b[1] < 0xE0) {
        return false;
    }
    header.versionIndex = kVersionMap[(b[1] >> 3) & 3];
    header.layerIndex = 3 - ((b[1] >> 1) & 3);
    header.stereo = ((b[3] >> 6) & 3) != 3 ? 1 : 0;
    if (header.versionIndex == 3 || header.layerIndex != kLayerIII) {
        return false;
    }
    header.rateIndex = (b[2] >> 2) & 3;
    header.sampleRate = kBaseRate[header.rateIndex] >> header.versionIndex;
    const int lsf = header.versionIndex != 0 ? 1 : 0;
    header.bitrate = kBitrateKbps[lsf][header.layerIndex][b[2] >> 4] * 1000;
    header.padded = (b[2] & 0x02) != 0;
    return header.sampleRate != 0 && header.bitrate != 0;
}

bool Mp3SoundStream::FindFrameHeader(size_t &pos, FrameHeader &header) const
{
    const uint8_t *data = bytes_;
    while (audioEnd_ >= 4 && pos <= audioEnd_ - 4) {
        // Every header starts with 0xFF; jump between those bytes rather than
        // probing each position.
        const void *sync = std::memchr(data + pos, 0xFF, audioEnd_ - 3 - pos);
        if (sync == nullptr) {
            return false;
        }
        pos = static_cast<size_t>(static_cast<const uint8_t *>(sync) - data);
        if (DecodeHeader(data + pos, header)) {
            return true;
        }
        ++pos;
    }
    return false;
}

int32_t Mp3SoundStream::ReadFrame(size_t pos, const FrameHeader &header) const
{
    const int32_t size =
        UnpaddedFrameSize(header.versionIndex, header.bitrate, header.sampleRate) + (header.padded ? 1 : 0);
    if (size <= 0 || audioEnd_ - pos < static_cast<size_t>(size)) {
        return 0;
    }
    return size;
}

bool Mp3SoundStream::NextFrameFollows(size_t next) const
{
    if (next == audioEnd_) {
        return true; // the last frame of the file
    }
    FrameHeader header;
    return audioEnd_ >= 4 && next <= audioEnd_ - 4 && DecodeHeader(bytes_ + next, header);
}

bool Mp3SoundStream::LooksFreeFormat(size_t pos) const
{
    // The audio starts with a Layer III header whose bitrate index is 0, and
    // the same header comes again and again at one distance (give or take the
    // padding byte): a stream whose frame length only its decoder can find.
    // Other layers' frames, or data, before it mean something else.
    const auto isSync = [this](size_t at) {
        const uint8_t *b = bytes_ + at;
        return b[0] == 0xFF && b[1] >= 0xE0 && ((b[1] >> 3) & 3) != 1 && ((b[1] >> 1) & 3) != 0;
    };
    const auto sameHeader = [this](size_t a, size_t b) {
        return bytes_[b] == 0xFF && bytes_[b + 1] == bytes_[a + 1] && (bytes_[b + 2] & 0xFC) == (bytes_[a + 2] & 0xFC);
    };
    if (audioEnd_ < 4) {
        return false;
    }
    const size_t last = audioEnd_ - 4;
    while (pos <= last && !isSync(pos)) {
        ++pos;
    }
    if (pos > last || ((bytes_[pos + 1] >> 1) & 3) != 1 || (bytes_[pos + 2] >> 4) != 0 ||
        ((bytes_[pos + 2] >> 2) & 3) == 3) {
        return false;
    }
    size_t next = pos + 4;
    while (next <= last && !sameHeader(pos, next)) {
        ++next;
    }
    const size_t distance = next - pos;
    for (size_t at = next + distance - 1; at <= next + distance + 1 && at <= last; ++at) {
        if (sameHeader(pos, at)) {
            return true;
        }
    }
    return false;
}

size_t Mp3SoundStream::SkipLeadingTags() const
{
    size_t pos = 0;
    // "ID3", version and revision below 0xFF, flags, then a 28-bit sync-safe size.
    while (size_ - pos >= kId3v2HeaderSize) {
        const uint8_t *h = bytes_ + pos;
        const bool wellFormed = h[0] == 'I' && h[1] == 'D' && h[2] == '3' && h[3] != 0xFF && h[4] != 0xFF &&
                                h[6] < 0x80 && h[7] < 0x80 && h[8] < 0x80 && h[9] < 0x80;
        if (!wellFormed) {
            break;
        }
        size_t size = (size_t{h[6]} << 21) | (size_t{h[7]} << 14) | (size_t{h[8]} << 7) | size_t{h[9]};
        size += kId3v2HeaderSize;
        if (h[5] & 0x10) {
            size += kId3v2HeaderSize; // footer
        }
        if (size > size_ - pos) {
            // A tag that claims more than the file holds is not trusted as one.
            break;
        }
        pos += size;
    }
    return pos;
}

size_t Mp3SoundStream::AudioEnd() const
{
    const size_t size = size_;
    if (size >= kId3v1Size && std::memcmp(bytes_ + size - kId3v1Size, "TAG", 3) == 0) {
        return size - kId3v1Size;
    }
    return size;
}

void Mp3SoundStream::Scan()
{
    audioEnd_ = AudioEnd();
    size_t pos = SkipLeadingTags();
    if (pos > audioEnd_) {
        return;
    }
    FrameHeader header;
    FrameHeader last;
    size_t expected = SIZE_MAX; // where the frame after the last accepted one starts
    while (FindFrameHeader(pos, header)) {
        const int32_t size = ReadFrame(pos, header);
        if (size == 0) {
            // The file ends inside this frame: what is missing was never audio we have.
            break;
        }
        // Where the stream is not already in step, a header counts only when
        // another one follows where its length says, as decoders probe: a
        // lone 0xFF in other data is not a frame.
        if (pos != expected && !NextFrameFollows(pos + static_cast<size_t>(size))) {
            ++pos;
            continue;
        }
        expected = pos + static_cast<size_t>(size);
        frameOffsets_.push_back(pos);
        frameSizes_.push_back(size);
        samplesPerRate_[header.versionIndex][header.rateIndex] += SamplesPerFrameFor(header.sampleRate);
        last = header;
        pos += static_cast<size_t>(size);
    }
    if (frameSizes_.empty()) {
        freeFormat_ = LooksFreeFormat(SkipLeadingTags());
        return;
    }
    layerIndex_ = last.layerIndex;
    versionIndex_ = last.versionIndex;
    stereo_ = last.stereo;
    sampleRate_ = last.sampleRate;
    bitrate_ = last.bitrate;
    samplesPerFrame_ = SamplesPerFrameFor(sampleRate_);
    for (int version = 0; version < 3; ++version) {
        for (int rate = 0; rate < 3; ++rate) {
            durationSeconds_ += static_cast<double>(samplesPerRate_[version][rate]) / (kBaseRate[rate] >> version);
        }
    }
}

int64_t Mp3SoundStream::MovieFramesNeeded() const
{
    if (frameSizes_.empty() || frameRate_ < 1) {
        return 0;
    }
    int rates = 0;
    int64_t samples = 0;
    int64_t sampleRate = 0;
    for (int version = 0; version < 3; ++version) {
        for (int rate = 0; rate < 3; ++rate) {
            if (samplesPerRate_[version][rate] != 0) {
                ++rates;
                samples = static_cast<int64_t>(samplesPerRate_[version][rate]);
                sampleRate = kBaseRate[rate] >> version;
            }
        }
    }
    if (rates == 1) {
        // Exact for the usual single-rate stream: no floating-point round-off can add
        // or lose a movie frame.
        return (samples * frameRate_ + sampleRate - 1) / sampleRate;
    }
    const double frames = std::ceil(durationSeconds_ * frameRate_);
    return frames < static_cast<double>(std::numeric_limits<int32_t>::max()) ? static_cast<int64_t>(frames)
                                                                             : std::numeric_limits<int32_t>::max();
}

double Mp3SoundStream::FrameMilliseconds() const
{
    return 1000.0 / (static_cast<double>(sampleRate_) / samplesPerFrame_);
}

void Mp3SoundStream::WriteStreamHead(std::ostream &out) const
{
    int32_t sampleCount = 0;
    if (samplesPerFrame_ > 0 && frameRate_ > 0) {
        const double frameMs = FrameMilliseconds();
        sampleCount = TruncateToInt32((1000.0 / frameRate_) / frameMs * samplesPerFrame_);
    }
    FlashTagSoundStreamHead2 head(3, 1, 1, FlashTagSoundStreamHead2::kCompressionMp3, RateCode(sampleRate_), 1,
                                  static_cast<uint8_t>(stereo_), static_cast<uint16_t>(sampleCount));
    head.Write(out);
}

void Mp3SoundStream::WriteStreamBlock(std::ostream &out)
{
    // A rate below 1 has no movie frame to fill (and would never satisfy the
    // frame search below).
    if (frameRate_ < 1 || frameSizes_.empty()) {
        finished_ = true;
    }
    if (finished_) {
        return;
    }
    const double swfMs = 1000.0 / frameRate_;
    const double frameMs = FrameMilliseconds();
    uint32_t n = 0;
    while (n * frameMs + seekSamples_ * frameMs / samplesPerFrame_ <= swfMs) {
        ++n;
    }
    const size_t available = frameSizes_.size() - nextFrame_;
    const size_t count = n < available ? n : available;

    const uint8_t *data = nullptr;
    size_t total = 0;
    if (count > 0) {
        const size_t first = frameOffsets_[nextFrame_];
        const size_t last = nextFrame_ + count - 1;
        const size_t end = frameOffsets_[last] + static_cast<size_t>(frameSizes_[last]);
        bool contiguous = true;
        for (size_t i = nextFrame_; i <= last; ++i) {
            total += static_cast<size_t>(frameSizes_[i]);
        }
        contiguous = end - first == total;
        if (contiguous) {
            data = bytes_ + first;
        } else {
            // Junk between frames: gather the frames themselves.
            scratch_.clear();
            for (size_t i = nextFrame_; i <= last; ++i) {
                const uint8_t *frame = FrameData(i);
                scratch_.insert(scratch_.end(), frame, frame + frameSizes_[i]);
            }
            data = scratch_.data();
        }
    }
    FlashTagSoundStreamBlockMP3 block(static_cast<uint16_t>(samplesPerFrame_ * static_cast<int32_t>(count)),
                                      static_cast<int16_t>(seekSamples_), data, static_cast<uint32_t>(total));
    block.Write(out);

    blocksWritten_ += 1;
    nextFrame_ += static_cast<uint32_t>(count);
    seekSamples_ = TruncateToInt32((nextFrame_ * frameMs - blocksWritten_ * swfMs) * samplesPerFrame_ / frameMs);
    if (nextFrame_ >= frameSizes_.size()) {
        finished_ = true;
    }
}
