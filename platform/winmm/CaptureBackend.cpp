#include "AudioBackend.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orafon::winmm {

namespace {

void PutLe32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void PutLe16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

constexpr size_t kHeaderSize = 44;

// Writes what would have been played into a RIFF/WAVE file. The header's
// sizes are brought up to date after every write, so the file is a valid WAV
// at any moment, even while the device is still open.
class CaptureBackend final : public AudioBackend {
public:
    // Writes the header of the still empty file; false when it takes nothing.
    [[nodiscard]] bool Begin() { return WriteHeader(); }

    CaptureBackend(const PcmFormat &format, int fd, bool paced)
        : format_(format), fd_(fd), pacer_(format), paced_(paced)
    {
    }
    ~CaptureBackend() override { ::close(fd_); }

    [[nodiscard]] bool Write(const uint8_t *data, size_t size) override
    {
        if (!WriteAll(data, size, kHeaderSize + dataBytes_))
            return false;
        dataBytes_ += size;
        if (!UpdateSizes())
            return false;
        if (paced_)
            pacer_.Consume(size);
        return true;
    }
    void Pause() override {}
    void Resume() override { pacer_.Restart(); }
    void Flush() override { pacer_.Restart(); }
    void Drain() override {}
    uint64_t PendingBytes() override { return 0; }

private:
    [[nodiscard]] bool WriteAll(const uint8_t *data, size_t size, uint64_t offset)
    {
        while (size > 0) {
            const ssize_t n = ::pwrite(fd_, data, size, static_cast<off_t>(offset));
            if (n <= 0)
                return false;
            data += n;
            size -= static_cast<size_t>(n);
            offset += static_cast<uint64_t>(n);
        }
        return true;
    }

    [[nodiscard]] bool WriteHeader()
    {
        uint8_t h[kHeaderSize];
        std::memcpy(h, "RIFF", 4);
        PutLe32(h + 4, 36);
        std::memcpy(h + 8, "WAVEfmt ", 8);
        PutLe32(h + 16, 16);
        PutLe16(h + 20, 1);
        PutLe16(h + 22, static_cast<uint16_t>(format_.channels));
        PutLe32(h + 24, format_.rate);
        PutLe32(h + 28, format_.BytesPerSecond());
        PutLe16(h + 32, static_cast<uint16_t>(format_.BlockAlign()));
        PutLe16(h + 34, static_cast<uint16_t>(format_.bits));
        std::memcpy(h + 36, "data", 4);
        PutLe32(h + 40, 0);
        return WriteAll(h, sizeof h, 0);
    }

    [[nodiscard]] bool UpdateSizes()
    {
        uint8_t v[4];
        PutLe32(v, static_cast<uint32_t>(36 + dataBytes_));
        if (!WriteAll(v, 4, 4))
            return false;
        PutLe32(v, static_cast<uint32_t>(dataBytes_));
        return WriteAll(v, 4, 40);
    }

    PcmFormat format_;
    int fd_;
    uint64_t dataBytes_ = 0;
    PlaybackPacer pacer_;
    bool paced_;
};

} // namespace

[[nodiscard]] std::unique_ptr<AudioBackend> OpenCaptureBackend(const PcmFormat &format, const std::string &path,
                                                               bool paced)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    auto backend = std::make_unique<CaptureBackend>(format, fd, paced);
    // A file that cannot even take its header is no output.
    if (!backend->Begin())
        return nullptr;
    return backend;
}

} // namespace orafon::winmm
