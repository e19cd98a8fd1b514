#include "AsfEncoder.h"

#include "Files.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace orafon::wmvcore {

namespace {

constexpr int kIoBufferSize = 64 * 1024;

} // namespace

AsfEncoder::~AsfEncoder()
{
    Release();
}

void AsfEncoder::Release()
{
    av_packet_free(&packet_);
    av_frame_free(&frame_);
    avcodec_free_context(&enc_);
    if (fmt_) {
        fmt_->pb = nullptr; // ours, freed below
        avformat_free_context(fmt_);
        fmt_ = nullptr;
    }
    if (io_) {
        av_freep(&io_->buffer);
        avio_context_free(&io_);
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int AsfEncoder::WriteToFile(void *opaque, uint8_t *buf, int size)
{
    auto *self = static_cast<AsfEncoder *>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(self->fd_, buf + done, static_cast<size_t>(size - done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            self->lastErrno_ = errno;
            return AVERROR(errno);
        }
        done += static_cast<int>(n);
    }
    return done;
}

int64_t AsfEncoder::SeekFile(void *opaque, int64_t offset, int whence)
{
    auto *self = static_cast<AsfEncoder *>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info;
        return ::fstat(self->fd_, &info) == 0 ? info.st_size : AVERROR(errno);
    }
    const off_t at = ::lseek(self->fd_, offset, whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : at;
}

[[nodiscard]] HRESULT AsfEncoder::FileError(int averror) const
{
    if (lastErrno_)
        return ErrnoToHresult(lastErrno_);
    if (averror == AVERROR(ENOMEM))
        return E_OUTOFMEMORY;
    return averror == AVERROR(EINVAL) ? E_INVALIDARG : E_FAIL;
}

[[nodiscard]] HRESULT AsfEncoder::Fail(HRESULT hr)
{
    if (SUCCEEDED(failure_))
        failure_ = hr;
    return failure_;
}

[[nodiscard]] HRESULT AsfEncoder::OpenEncoder(DWORD nSamplesPerSec, WORD nChannels, DWORD bitrate)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    if (!codec)
        return E_NOTIMPL;
    enc_ = avcodec_alloc_context3(codec);
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!enc_ || !frame_ || !packet_)
        return E_OUTOFMEMORY;
    enc_->sample_rate = static_cast<int>(nSamplesPerSec);
    enc_->sample_fmt = AV_SAMPLE_FMT_FLTP;
    enc_->bit_rate = bitrate;
    enc_->time_base = AVRational{1, static_cast<int>(nSamplesPerSec)};
    av_channel_layout_default(&enc_->ch_layout, nChannels);
    const int r = avcodec_open2(enc_, codec, nullptr);
    if (r < 0)
        return r == AVERROR(ENOMEM) ? E_OUTOFMEMORY : E_INVALIDARG;
    channels_ = nChannels;
    blockAlign_ = static_cast<DWORD>(enc_->block_align);
    frameSize_ = enc_->frame_size;
    frame_->nb_samples = frameSize_;
    frame_->format = AV_SAMPLE_FMT_FLTP;
    frame_->sample_rate = enc_->sample_rate;
    if (av_channel_layout_copy(&frame_->ch_layout, &enc_->ch_layout) < 0 || av_frame_get_buffer(frame_, 0) < 0)
        return E_OUTOFMEMORY;
    return S_OK;
}

[[nodiscard]] HRESULT AsfEncoder::OpenFile(const std::string &path)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0)
        return ErrnoToHresult(errno);
    auto *buffer = static_cast<unsigned char *>(av_malloc(kIoBufferSize));
    if (!buffer)
        return E_OUTOFMEMORY;
    io_ = avio_alloc_context(buffer, kIoBufferSize, 1, this, nullptr, &AsfEncoder::WriteToFile, &AsfEncoder::SeekFile);
    if (!io_) {
        av_free(buffer);
        return E_OUTOFMEMORY;
    }
    // A pipe or terminal cannot take the header back at the end.
    if (::lseek(fd_, 0, SEEK_CUR) < 0)
        io_->seekable = 0;
    return S_OK;
}

[[nodiscard]] HRESULT AsfEncoder::OpenMuxer(DWORD bitrate)
{
    if (avformat_alloc_output_context2(&fmt_, nullptr, "asf", nullptr) < 0 || !fmt_)
        return E_OUTOFMEMORY;
    fmt_->pb = io_;
    fmt_->flags |= AVFMT_FLAG_CUSTOM_IO;
    stream_ = avformat_new_stream(fmt_, nullptr);
    if (!stream_ || avcodec_parameters_from_context(stream_->codecpar, enc_) < 0)
        return E_OUTOFMEMORY;
    // The header states the format's own bit rate.
    stream_->codecpar->bit_rate = bitrate;
    stream_->time_base = enc_->time_base;
    const int r = avformat_write_header(fmt_, nullptr);
    if (r < 0)
        return FileError(r);
    // The header reaches the file now, so a device that takes nothing fails here.
    avio_flush(io_);
    return io_->error < 0 ? FileError(io_->error) : S_OK;
}

[[nodiscard]] HRESULT AsfEncoder::Open(const std::string &path, DWORD nSamplesPerSec, WORD nChannels, DWORD bitrate)
{
    Release();
    failure_ = S_OK;
    finished_ = false;
    framesIn_ = 0;
    frameFill_ = 0;
    nextPts_ = 0;
    lastErrno_ = 0;
    HRESULT hr = OpenEncoder(nSamplesPerSec, nChannels, bitrate);
    if (SUCCEEDED(hr))
        hr = OpenFile(path);
    if (SUCCEEDED(hr))
        hr = OpenMuxer(bitrate);
    if (FAILED(hr)) {
        Release();
        finished_ = true;
    }
    return hr;
}

[[nodiscard]] HRESULT AsfEncoder::Send(AVFrame *frame)
{
    int r = avcodec_send_frame(enc_, frame);
    if (r < 0)
        return Fail(E_FAIL);
    for (;;) {
        r = avcodec_receive_packet(enc_, packet_);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            break;
        if (r < 0)
            return Fail(E_FAIL);
        av_packet_rescale_ts(packet_, enc_->time_base, stream_->time_base);
        packet_->stream_index = stream_->index;
        r = av_write_frame(fmt_, packet_);
        av_packet_unref(packet_);
        if (r < 0 || io_->error < 0)
            return Fail(FileError(r < 0 ? r : io_->error));
    }
    return S_OK;
}

[[nodiscard]] HRESULT AsfEncoder::EncodePendingFrame()
{
    frame_->pts = nextPts_;
    nextPts_ += frameSize_;
    frameFill_ = 0;
    return Send(frame_);
}

[[nodiscard]] HRESULT AsfEncoder::WritePcm(const BYTE *pb, size_t cb)
{
    if (!enc_ || finished_)
        return E_UNEXPECTED;
    if (FAILED(failure_))
        return failure_;
    const size_t frames = cb / (2u * channels_);
    const auto *samples = reinterpret_cast<const int16_t *>(pb);
    for (size_t i = 0; i < frames;) {
        if (frameFill_ == 0 && av_frame_make_writable(frame_) < 0)
            return Fail(E_OUTOFMEMORY);
        const size_t take = std::min<size_t>(frames - i, static_cast<size_t>(frameSize_ - frameFill_));
        for (WORD c = 0; c < channels_; ++c) {
            auto *plane = reinterpret_cast<float *>(frame_->extended_data[c]) + frameFill_;
            const int16_t *from = samples + i * channels_ + c;
            for (size_t k = 0; k < take; ++k)
                plane[k] = from[k * channels_] * (1.0f / 32768.0f);
        }
        frameFill_ += static_cast<int>(take);
        i += take;
        framesIn_ += take;
        if (frameFill_ == frameSize_) {
            const HRESULT hr = EncodePendingFrame();
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

[[nodiscard]] HRESULT AsfEncoder::WriteSilence(uint64_t frames)
{
    static const BYTE zeros[4096] = {};
    const size_t perPiece = sizeof zeros / (2u * channels_);
    while (frames > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(frames, perPiece));
        const HRESULT hr = WritePcm(zeros, n * 2u * channels_);
        if (FAILED(hr))
            return hr;
        frames -= n;
    }
    return S_OK;
}

[[nodiscard]] HRESULT AsfEncoder::Finish()
{
    if (!enc_ || finished_)
        return E_UNEXPECTED;
    finished_ = true;
    HRESULT hr = failure_;
    // The encoder takes whole frames only: the last one is completed with silence.
    if (SUCCEEDED(hr) && frameFill_ > 0) {
        if (av_frame_make_writable(frame_) < 0)
            hr = E_OUTOFMEMORY;
        for (WORD c = 0; SUCCEEDED(hr) && c < channels_; ++c)
            std::fill_n(reinterpret_cast<float *>(frame_->extended_data[c]) + frameFill_, frameSize_ - frameFill_,
                        0.0f);
        if (SUCCEEDED(hr))
            hr = EncodePendingFrame();
    }
    if (SUCCEEDED(hr))
        hr = Send(nullptr);
    if (SUCCEEDED(hr)) {
        const int r = av_write_trailer(fmt_);
        avio_flush(io_);
        if (r < 0 || io_->error < 0)
            hr = FileError(r < 0 ? r : io_->error);
    }
    if (fd_ >= 0) {
        const int closed = ::close(fd_);
        fd_ = -1;
        if (closed != 0 && SUCCEEDED(hr))
            hr = ErrnoToHresult(errno);
    }
    Release();
    return hr;
}

} // namespace orafon::wmvcore
