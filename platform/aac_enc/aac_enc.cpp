// The AAC encoder library with the libfaac-style interface, over libavcodec's
// native AAC encoder (AAC Low Complexity, raw frames, 16-bit input).
//
// Handles are checked against the set of live encoders, so a stale or foreign
// handle is refused instead of touching freed memory. Each encoder has a lock
// of its own, so files written at the same time do not wait for each other;
// a call in progress keeps its encoder alive through a faacEncClose. The libavcodec encoder
// is opened by faacEncOpen with the default configuration and opened again
// by faacEncSetConfiguration with the new one, which is possible until the
// first block has been encoded.
//
// Quality (quantqual) is quality-controlled coding: the native encoder's
// global quality, the same scale as `ffmpeg -q:a`. The points below are the
// one place where quantqual meets the encoder; between them the scale is
// interpolated linearly. Measured on 44.1 kHz stereo speech (espeak-ng's
// 2000-word bench text, upsampled from 22.05 kHz mono), the levels the MP4
// writer uses land at:
//
//   quantqual   -q:a    kbit/s
//      50       0.245    ~61
//     100       0.40    ~119
//     150       0.62    ~164
//
// A nonzero bitRate (bit/s per channel) asks for that average rate instead.
#include <orafon/CatchAtEdge.h>
#include <orafon/win/faac.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

constexpr UINT kFrameLength = 1024;
// An AAC frame holds at most 6144 bits per channel.
constexpr ULONG kMaxFrameBytesPerChannel = 6144 / 8;
constexpr ULONG kQuantQualMin = 10, kQuantQualMax = 500, kQuantQualDefault = 100;

struct QualityPoint {
    ULONG quantqual;
    double globalQuality; // ffmpeg -q:a
};
constexpr QualityPoint kQualityScale[] = {{10, 0.10}, {50, 0.245}, {100, 0.40}, {150, 0.62}, {500, 2.00}};

double GlobalQualityFor(ULONG quantqual)
{
    const ULONG q = std::clamp(quantqual, kQuantQualMin, kQuantQualMax);
    for (size_t i = 1; i < std::size(kQualityScale); ++i) {
        const QualityPoint &lo = kQualityScale[i - 1], &hi = kQualityScale[i];
        if (q <= hi.quantqual)
            return lo.globalQuality + (hi.globalQuality - lo.globalQuality) * (q - lo.quantqual) /
                                          static_cast<double>(hi.quantqual - lo.quantqual);
    }
    return kQualityScale[std::size(kQualityScale) - 1].globalQuality;
}

struct CodecContextDeleter {
    void operator()(AVCodecContext *p) const { avcodec_free_context(&p); }
};
struct FrameDeleter {
    void operator()(AVFrame *p) const { av_frame_free(&p); }
};
struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;

struct Encoder {
    std::mutex lock;
    ULONG sampleRate = 0;
    UINT channels = 0;
    faacEncConfiguration config{};
    CodecContextPtr ctx;
    FramePtr frame;
    PacketPtr packet;
    // Frames the encoder gave beyond the one a call hands out.
    std::deque<std::vector<unsigned char>> ready;
    int64_t nextPts = 0;
    bool started = false;   // a block has been encoded: the configuration is fixed
    bool shortSent = false; // a block shorter than a whole one ends the input
    bool draining = false;
};

struct Library {
    std::mutex lock;
    std::map<faacEncHandle, std::shared_ptr<Encoder>> live;
};

Library &Lib()
{
    static Library lib;
    return lib;
}

// libavcodec reports to standard error by default; a library inside someone
// else's program keeps quiet unless the program has chosen a level itself.
void QuietLibavcodec()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (av_log_get_level() == AV_LOG_INFO)
            av_log_set_level(AV_LOG_QUIET);
    });
}

faacEncConfiguration DefaultConfig()
{
    faacEncConfiguration c{};
    c.version = FAAC_CFG_VERSION;
    c.name = "orafon aac_enc (libavcodec aac)";
    c.copyright = "";
    c.mpegVersion = FAAC_MPEG4;
    c.aacObjectType = FAAC_LOW;
    c.allowMidside = 1;
    c.useLfe = 0;
    c.useTns = 1;
    c.bitRate = 0;
    c.bandWidth = 0;
    c.quantqual = kQuantQualDefault;
    c.outputFormat = FAAC_OUTPUT_RAW;
    c.psymodellist = nullptr;
    c.psymodelidx = 0;
    c.inputFormat = FAAC_INPUT_16BIT;
    c.shortctl = SHORTCTL_NORMAL;
    return c;
}

[[nodiscard]] bool IsSupported(const faacEncConfiguration &c)
{
    return (c.mpegVersion == FAAC_MPEG4 || c.mpegVersion == FAAC_MPEG2) && c.aacObjectType == FAAC_LOW &&
           c.useLfe == 0 && c.outputFormat == FAAC_OUTPUT_RAW && c.inputFormat == FAAC_INPUT_16BIT &&
           c.shortctl == SHORTCTL_NORMAL && c.allowMidside <= 1 && c.useTns <= 1;
}

// An encoder context for the configuration, or null when libavcodec refuses it.
[[nodiscard]] CodecContextPtr OpenContext(ULONG sampleRate, UINT channels, const faacEncConfiguration &c)
{
    const AVCodec *codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec)
        return nullptr;
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx)
        return nullptr;
    ctx->sample_rate = static_cast<int>(sampleRate);
    av_channel_layout_default(&ctx->ch_layout, static_cast<int>(channels));
    ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    ctx->time_base = AVRational{1, static_cast<int>(sampleRate)};
    ctx->profile = c.mpegVersion == FAAC_MPEG2 ? FF_PROFILE_MPEG2_AAC_LOW : FF_PROFILE_AAC_LOW;
    ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (c.bitRate) {
        ctx->bit_rate = static_cast<int64_t>(c.bitRate) * channels;
    } else {
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = static_cast<int>(GlobalQualityFor(c.quantqual) * FF_QP2LAMBDA + 0.5);
    }
    // The encoder picks its own band limit; a narrower one asked for is kept.
    if (c.bandWidth != 0 && c.bandWidth != FAAC_BANDWIDTH_FULL && c.bandWidth < sampleRate / 2)
        ctx->cutoff = static_cast<int>(c.bandWidth);
    // Mid/side "allowed" leaves the choice to the encoder per band; 0 forbids it.
    av_opt_set_int(ctx->priv_data, "aac_ms", c.allowMidside ? -1 : 0, 0);
    av_opt_set_int(ctx->priv_data, "aac_tns", c.useTns, 0);
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0)
        return nullptr;
    if (ctx->frame_size != static_cast<int>(kFrameLength) || !ctx->extradata || ctx->extradata_size <= 0)
        return nullptr;
    return ctx;
}

// The live encoder behind a handle, or null.
std::shared_ptr<Encoder> Find(faacEncHandle h)
{
    Library &lib = Lib();
    std::lock_guard lock(lib.lock);
    auto it = lib.live.find(h);
    return it == lib.live.end() ? nullptr : it->second;
}

// Moves every frame the encoder has ready into e.ready. False on an encoder error.
[[nodiscard]] bool CollectPackets(Encoder &e)
{
    for (;;) {
        const int rc = avcodec_receive_packet(e.ctx.get(), e.packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
            return true;
        if (rc < 0)
            return false;
        e.ready.emplace_back(e.packet->data, e.packet->data + e.packet->size);
        av_packet_unref(e.packet.get());
    }
}

[[nodiscard]] bool SendBlock(Encoder &e, const int16_t *pcm, UINT samples)
{
    const int frames = static_cast<int>(samples / e.channels);
    AVFrame *f = e.frame.get();
    av_frame_unref(f);
    f->nb_samples = frames;
    f->format = AV_SAMPLE_FMT_FLTP;
    f->sample_rate = static_cast<int>(e.sampleRate);
    if (av_channel_layout_copy(&f->ch_layout, &e.ctx->ch_layout) < 0 || av_frame_get_buffer(f, 0) < 0)
        return false;
    for (UINT ch = 0; ch < e.channels; ++ch) {
        auto *plane = reinterpret_cast<float *>(f->extended_data[ch]);
        for (int i = 0; i < frames; ++i)
            plane[i] = static_cast<float>(pcm[static_cast<size_t>(i) * e.channels + ch]) * (1.0f / 32768.0f);
    }
    f->pts = e.nextPts;
    e.nextPts += frames;
    return avcodec_send_frame(e.ctx.get(), f) >= 0;
}

[[nodiscard]] int HandOut(Encoder &e, unsigned char *out, UINT size)
{
    if (e.ready.empty())
        return 0;
    const std::vector<unsigned char> &frame = e.ready.front();
    if (!out || frame.size() > size)
        return -1;
    std::memcpy(out, frame.data(), frame.size());
    const int n = static_cast<int>(frame.size());
    e.ready.pop_front();
    return n;
}

} // namespace

EXTERN_C ORAFON_EXPORT faacEncHandle faacEncOpen(ULONG sampleRate, UINT numChannels, ULONG *inputSamples,
                                                 ULONG *maxOutputBytes)
{
    return orafon::CatchAtEdgeOr<faacEncHandle>(nullptr, nullptr, [&]() -> faacEncHandle {
        if (!inputSamples || !maxOutputBytes || numChannels < 1 || numChannels > 8)
            return nullptr;
        QuietLibavcodec();
        auto e = std::make_shared<Encoder>();
        e->sampleRate = sampleRate;
        e->channels = numChannels;
        e->config = DefaultConfig();
        e->ctx = OpenContext(sampleRate, numChannels, e->config);
        e->frame.reset(av_frame_alloc());
        e->packet.reset(av_packet_alloc());
        if (!e->ctx || !e->frame || !e->packet)
            return nullptr;
        *inputSamples = kFrameLength * numChannels;
        *maxOutputBytes = kMaxFrameBytesPerChannel * numChannels;
        Library &lib = Lib();
        std::lock_guard lock(lib.lock);
        faacEncHandle h = e.get();
        lib.live.emplace(h, std::move(e));
        return h;
    });
}

EXTERN_C ORAFON_EXPORT faacEncConfigurationPtr faacEncGetCurrentConfiguration(faacEncHandle hEncoder)
{
    const std::shared_ptr<Encoder> e = Find(hEncoder);
    if (!e)
        return nullptr;
    std::lock_guard lock(e->lock);
    return &e->config;
}

EXTERN_C ORAFON_EXPORT int faacEncSetConfiguration(faacEncHandle hEncoder, faacEncConfigurationPtr config)
{
    const std::shared_ptr<Encoder> e = Find(hEncoder);
    if (!e || !config)
        return 0;
    std::lock_guard lock(e->lock);
    if (e->started)
        return 0;
    faacEncConfiguration c = *config;
    if (!IsSupported(c))
        return 0;
    c.quantqual = std::clamp<ULONG>(c.quantqual ? c.quantqual : kQuantQualDefault, kQuantQualMin, kQuantQualMax);
    if (c.bandWidth > e->sampleRate / 2)
        c.bandWidth = static_cast<UINT>(e->sampleRate / 2);
    CodecContextPtr ctx = OpenContext(e->sampleRate, e->channels, c);
    if (!ctx)
        return 0;
    c.version = FAAC_CFG_VERSION;
    c.name = e->config.name;
    c.copyright = e->config.copyright;
    e->ctx = std::move(ctx);
    e->config = c;
    return 1;
}

EXTERN_C ORAFON_EXPORT int faacEncGetDecoderSpecificInfo(faacEncHandle hEncoder, unsigned char **ppBuffer,
                                                         ULONG *pSizeOfDecoderSpecificInfo)
{
    if (!ppBuffer || !pSizeOfDecoderSpecificInfo)
        return -1;
    *ppBuffer = nullptr;
    *pSizeOfDecoderSpecificInfo = 0;
    const std::shared_ptr<Encoder> e = Find(hEncoder);
    if (!e)
        return -1;
    std::lock_guard lock(e->lock);
    const auto size = static_cast<size_t>(e->ctx->extradata_size);
    auto *block = static_cast<unsigned char *>(std::malloc(size));
    if (!block)
        return -1;
    std::memcpy(block, e->ctx->extradata, size);
    *ppBuffer = block;
    *pSizeOfDecoderSpecificInfo = static_cast<ULONG>(size);
    return 0;
}

EXTERN_C ORAFON_EXPORT int faacEncEncode(faacEncHandle hEncoder, int32_t *inputBuffer, UINT samplesInput,
                                         unsigned char *outputBuffer, UINT bufferSize)
{
    return orafon::CatchAtEdgeOr<int>(-1, -1, [&]() -> int {
        const std::shared_ptr<Encoder> e = Find(hEncoder);
        if (!e || !outputBuffer)
            return -1;
        std::lock_guard lock(e->lock);
        if (samplesInput > 0) {
            // Only the last block may be short, and nothing follows the drain.
            if (!inputBuffer || e->draining || e->shortSent || samplesInput % e->channels != 0 ||
                samplesInput > kFrameLength * e->channels)
                return -1;
            e->started = true;
            e->shortSent = samplesInput < kFrameLength * e->channels;
            if (!SendBlock(*e, reinterpret_cast<const int16_t *>(inputBuffer), samplesInput))
                return -1;
        } else if (!e->draining) {
            e->started = true;
            e->draining = true;
            if (avcodec_send_frame(e->ctx.get(), nullptr) < 0)
                return -1;
        }
        if (!CollectPackets(*e))
            return -1;
        return HandOut(*e, outputBuffer, bufferSize);
    });
}

EXTERN_C ORAFON_EXPORT int faacEncClose(faacEncHandle hEncoder)
{
    std::shared_ptr<Encoder> e;
    {
        Library &lib = Lib();
        std::lock_guard lock(lib.lock);
        auto it = lib.live.find(hEncoder);
        if (it == lib.live.end())
            return -1;
        e = std::move(it->second);
        lib.live.erase(it);
    }
    return 0;
}

EXTERN_C ORAFON_EXPORT void faacEncFreeDecoderSpecificInfo(unsigned char *pBuffer)
{
    std::free(pBuffer);
}
