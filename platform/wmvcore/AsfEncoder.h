// One ASF file with one Windows Media Audio stream: FFmpeg's wmav2 encoder
// fed with 16-bit interleaved PCM, and libavformat's ASF muxer writing
// through our own file descriptor (so a name is never taken for a protocol
// and every system error is known).
#pragma once

#include <orafon/win/wintypes.h>

#include <cstdint>
#include <string>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace orafon::wmvcore {

class AsfEncoder {
public:
    AsfEncoder() = default;
    // Releases everything; a file not finished stays as far as it was written.
    ~AsfEncoder();
    AsfEncoder(const AsfEncoder &) = delete;
    AsfEncoder &operator=(const AsfEncoder &) = delete;

    // Creates the file and writes its header. E_INVALIDARG when the encoder
    // refuses the format; the system's code when the file cannot be made or
    // written (E_ACCESSDENIED, disk full, path not found).
    [[nodiscard]] HRESULT Open(const std::string &path, DWORD nSamplesPerSec, WORD nChannels, DWORD bitrate);
    // cb bytes of whole sample frames. A failure of the file sticks: every
    // later call reports it.
    [[nodiscard]] HRESULT WritePcm(const BYTE *pb, size_t cb);
    // Sample frames of silence.
    [[nodiscard]] HRESULT WriteSilence(uint64_t frames);
    // Encodes what is pending, finishes the stream and the header, closes the file.
    [[nodiscard]] HRESULT Finish();

    // Sample frames taken so far.
    uint64_t FramesIn() const { return framesIn_; }
    DWORD BlockAlign() const { return blockAlign_; }

private:
    [[nodiscard]] HRESULT OpenEncoder(DWORD nSamplesPerSec, WORD nChannels, DWORD bitrate);
    HRESULT OpenFile(const std::string &path);
    [[nodiscard]] HRESULT OpenMuxer(DWORD bitrate);
    HRESULT EncodePendingFrame();
    [[nodiscard]] HRESULT Send(AVFrame *frame);
    HRESULT FileError(int averror) const;
    [[nodiscard]] HRESULT Fail(HRESULT hr);
    void Release();

    AVCodecContext *enc_ = nullptr;
    AVFormatContext *fmt_ = nullptr;
    AVIOContext *io_ = nullptr;
    AVStream *stream_ = nullptr;
    AVFrame *frame_ = nullptr;
    AVPacket *packet_ = nullptr;
    int fd_ = -1;
    int lastErrno_ = 0;
    WORD channels_ = 0;
    DWORD blockAlign_ = 0;
    int frameSize_ = 0;
    int frameFill_ = 0;
    uint64_t framesIn_ = 0;
    int64_t nextPts_ = 0;
    HRESULT failure_ = S_OK;
    bool finished_ = false;

    static int WriteToFile(void *opaque, uint8_t *buf, int size);
    static int64_t SeekFile(void *opaque, int64_t offset, int whence);
};

} // namespace orafon::wmvcore
