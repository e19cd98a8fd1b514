#include "Mp4Writer.h"

#include <orafon/CatchAtEdge.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace {

// Drain calls beyond this many frames mean the encoder is not ending.
constexpr int kMaxDrainFrames = 64;

struct DictDeleter {
    void operator()(AVDictionary *d) const { av_dict_free(&d); }
};

struct DecoderInfo {
    unsigned char *pb = nullptr;
    ULONG cb = 0;
};

} // namespace

// The muxer's state for one file.
struct CMp4Writer::Container {
    AVFormatContext *fmt = nullptr;
    AVStream *stream = nullptr;
    AVPacket *packet = nullptr;
    bool headerWritten = false;

    ~Container()
    {
        if (fmt) {
            if (fmt->pb)
                avio_closep(&fmt->pb);
            avformat_free_context(fmt);
        }
        av_packet_free(&packet);
    }
};

ULONG CMp4Writer::QuantQualFor(LONG nBitRate)
{
    switch (nBitRate / 1000) {
    case 33:
        return 50;
    case 57:
        return 150;
    default:
        return 100;
    }
}

void CMp4Writer::ApplySettings(faacEncConfiguration &cfg, LONG nBitRate)
{
    cfg.mpegVersion = FAAC_MPEG4;
    cfg.aacObjectType = FAAC_LOW;
    cfg.allowMidside = 1;
    cfg.useTns = 1;
    cfg.shortctl = SHORTCTL_NORMAL;
    cfg.bandWidth = FAAC_BANDWIDTH_FULL;
    cfg.quantqual = QuantQualFor(nBitRate);
    cfg.outputFormat = FAAC_OUTPUT_RAW;
    cfg.inputFormat = FAAC_INPUT_16BIT;
}

CMp4Writer::CMp4Writer() = default;

CMp4Writer::~CMp4Writer()
{
    // A file still open is finished; nobody is left to hear its verdict.
    static_cast<void>(Close());
}

HRESULT CMp4Writer::Open(LONG nBitRate, DWORD dwSampleRate, WORD nChannels, const char *pszFileName)
{
    if (m_hEncoder)
        static_cast<void>(Close()); // the earlier file's verdict is not this open's
    if (!AacEncoderApiGet().IsComplete())
        AacEncoderApiLoad();
    m_api = AacEncoderApiGet();
    if (!m_api.IsComplete())
        return E_NOTIMPL;
    if (!pszFileName || !*pszFileName)
        return E_INVALIDARG;
    HRESULT hr = OpenEncoder(nBitRate, dwSampleRate, nChannels);
    if (SUCCEEDED(hr))
        hr = OpenContainer(pszFileName, dwSampleRate, nChannels);
    if (FAILED(hr)) {
        Release();
        m_bFailed = false;
        return hr;
    }
    return S_OK;
}

HRESULT CMp4Writer::OpenEncoder(LONG nBitRate, DWORD dwSampleRate, WORD nChannels)
{
    m_nInputSamples = 0;
    m_cbMaxOutput = 0;
    m_hEncoder = m_api.faacEncOpen(dwSampleRate, nChannels, &m_nInputSamples, &m_cbMaxOutput);
    if (!m_hEncoder || nChannels == 0 || m_nInputSamples == 0 || m_nInputSamples % nChannels != 0 || m_cbMaxOutput == 0)
        return E_FAIL;
    m_nChannels = nChannels;
    m_pbOutput.reset(new (std::nothrow) BYTE[m_cbMaxOutput]);
    m_pbHeld.reset(new (std::nothrow) BYTE[m_cbMaxOutput]);
    m_pbInput.reset(new (std::nothrow) BYTE[m_nInputSamples * 2]);
    if (!m_pbOutput || !m_pbHeld || !m_pbInput)
        return E_FAIL;
    faacEncConfigurationPtr cfg = m_api.faacEncGetCurrentConfiguration(m_hEncoder);
    if (!cfg)
        return E_FAIL;
    ApplySettings(*cfg, nBitRate);
    if (m_api.faacEncSetConfiguration(m_hEncoder, cfg) == 0)
        return E_FAIL;
    m_cbFilled = 0;
    m_cbHeld = 0;
    m_nSamplesIn = 0;
    m_nFramesOut = 0;
    m_nPrimingFrames = 0;
    m_nEncodeCalls = 0;
    m_bFailed = false;
    return S_OK;
}

HRESULT CMp4Writer::OpenContainer(const char *pszFileName, DWORD dwSampleRate, WORD nChannels)
{
    DecoderInfo info;
    if (m_api.faacEncGetDecoderSpecificInfo(m_hEncoder, &info.pb, &info.cb) != 0 || !info.pb || info.cb == 0) {
        if (info.pb)
            m_api.faacEncFreeDecoderSpecificInfo(info.pb);
        return E_FAIL;
    }
    auto c = std::unique_ptr<Container>(new (std::nothrow) Container);
    HRESULT hr = c ? S_OK : E_FAIL;
    if (SUCCEEDED(hr) && avformat_alloc_output_context2(&c->fmt, nullptr, "mp4", pszFileName) < 0)
        hr = E_FAIL;
    if (SUCCEEDED(hr) && !(c->packet = av_packet_alloc()))
        hr = E_FAIL;
    if (SUCCEEDED(hr) && !(c->stream = avformat_new_stream(c->fmt, nullptr)))
        hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        AVCodecParameters *par = c->stream->codecpar;
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = AV_CODEC_ID_AAC;
        par->profile = FF_PROFILE_AAC_LOW;
        par->sample_rate = static_cast<int>(dwSampleRate);
        av_channel_layout_default(&par->ch_layout, nChannels);
        par->frame_size = static_cast<int>(m_nInputSamples / nChannels);
        par->extradata = static_cast<uint8_t *>(av_mallocz(info.cb + AV_INPUT_BUFFER_PADDING_SIZE));
        if (par->extradata) {
            std::memcpy(par->extradata, info.pb, info.cb);
            par->extradata_size = static_cast<int>(info.cb);
        } else {
            hr = E_FAIL;
        }
        c->stream->time_base = AVRational{1, static_cast<int>(dwSampleRate)};
    }
    m_api.faacEncFreeDecoderSpecificInfo(info.pb);
    // "file:" keeps a colon in the name from being read as a protocol.
    if (SUCCEEDED(hr) && avio_open(&c->fmt->pb, (std::string("file:") + pszFileName).c_str(), AVIO_FLAG_WRITE) < 0)
        hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        AVDictionary *raw = nullptr;
        av_dict_set_int(&raw, "movie_timescale", kMovieTimeScale, 0);
        av_dict_set(&raw, "skip_iods", "0", 0);
        av_dict_set_int(&raw, "iods_audio_profile", kAudioProfileLevel, 0);
        av_dict_set(&raw, "use_editlist", "1", 0);
        const int rc = avformat_write_header(c->fmt, &raw);
        std::unique_ptr<AVDictionary, DictDeleter> unused(raw);
        // An option the muxer did not take would leave the file without what it promises.
        if (rc < 0 || unused || c->fmt->pb->error < 0)
            hr = E_FAIL;
        else
            c->headerWritten = true;
    }
    m_pContainer = std::move(c);
    return hr;
}

HRESULT CMp4Writer::WriteHeldFrame(int64_t duration)
{
    Container &c = *m_pContainer;
    const int64_t frameLength = m_nInputSamples / m_nChannels;
    // Frame k starts k frames after the first, which plays the priming.
    const int64_t pts = (m_nFramesOut - 1 - m_nPrimingFrames) * frameLength;
    const AVRational trackRate{1, static_cast<int>(c.stream->codecpar->sample_rate)};
    AVPacket *pkt = c.packet;
    av_packet_unref(pkt);
    pkt->data = m_pbHeld.get();
    pkt->size = m_cbHeld;
    pkt->stream_index = c.stream->index;
    pkt->pts = pkt->dts = av_rescale_q(pts, trackRate, c.stream->time_base);
    pkt->duration = av_rescale_q(duration, trackRate, c.stream->time_base);
    pkt->flags = AV_PKT_FLAG_KEY;
    const int rc = av_write_frame(c.fmt, pkt);
    pkt->data = nullptr;
    pkt->size = 0;
    m_cbHeld = 0;
    if (rc < 0 || c.fmt->pb->error < 0) {
        m_bFailed = true;
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CMp4Writer::TakeFrame(int cb)
{
    HRESULT hr = S_OK;
    if (m_cbHeld > 0)
        hr = WriteHeldFrame(m_nInputSamples / m_nChannels);
    std::memcpy(m_pbHeld.get(), m_pbOutput.get(), static_cast<size_t>(cb));
    m_cbHeld = cb;
    ++m_nFramesOut;
    return hr;
}

HRESULT CMp4Writer::EncodeBlock(DWORD nSamples)
{
    const int cb = m_api.faacEncEncode(m_hEncoder, reinterpret_cast<int32_t *>(m_pbInput.get()), nSamples,
                                       m_pbOutput.get(), m_cbMaxOutput);
    ++m_nEncodeCalls;
    m_cbFilled = 0;
    m_nSamplesIn += nSamples / m_nChannels;
    if (cb < 0 || static_cast<ULONG>(cb) > m_cbMaxOutput) {
        m_bFailed = true;
        return E_FAIL;
    }
    if (cb == 0) {
        if (m_nFramesOut == 0)
            ++m_nPrimingFrames;
        return S_OK;
    }
    return TakeFrame(cb);
}

HRESULT CMp4Writer::Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten)
{
    if (pcbWritten)
        *pcbWritten = 0;
    if (!m_hEncoder)
        return E_FAIL;
    if (!pb && cb > 0)
        return E_INVALIDARG;
    const DWORD cbBlock = m_nInputSamples * 2;
    ULONG consumed = 0;
    HRESULT hr = S_OK;
    while (consumed < cb) {
        const ULONG n = std::min<ULONG>(cb - consumed, cbBlock - m_cbFilled);
        std::memcpy(m_pbInput.get() + m_cbFilled, pb + consumed, n);
        m_cbFilled += n;
        consumed += n;
        if (m_cbFilled < cbBlock)
            break; // all input taken
        const HRESULT hrBlock = EncodeBlock(m_nInputSamples);
        if (FAILED(hrBlock) && SUCCEEDED(hr))
            hr = hrBlock;
    }
    if (pcbWritten)
        *pcbWritten = consumed;
    return hr;
}

HRESULT CMp4Writer::Drain()
{
    for (int i = 0; i < kMaxDrainFrames; ++i) {
        const int cb = m_api.faacEncEncode(m_hEncoder, nullptr, 0, m_pbOutput.get(), m_cbMaxOutput);
        if (cb == 0)
            return S_OK;
        if (cb < 0 || static_cast<ULONG>(cb) > m_cbMaxOutput)
            return E_FAIL;
        const HRESULT hr = TakeFrame(cb);
        if (FAILED(hr))
            return hr;
    }
    return E_FAIL;
}

HRESULT CMp4Writer::Finish()
{
    HRESULT hr = S_OK;
    // The last samples: the sample frames of an odd byte count are dropped.
    const DWORD pending = m_cbFilled / 2 / m_nChannels * m_nChannels;
    if (pending > 0)
        hr = EncodeBlock(pending);
    m_cbFilled = 0;
    if (SUCCEEDED(hr))
        hr = Drain();
    if (m_cbHeld > 0) {
        // The last frame plays only what is left of the input after the priming.
        const int64_t frameLength = m_nInputSamples / m_nChannels;
        const int64_t played = m_nSamplesIn + m_nPrimingFrames * frameLength - (m_nFramesOut - 1) * frameLength;
        const HRESULT hrLast = WriteHeldFrame(std::clamp<int64_t>(played, 1, frameLength));
        if (SUCCEEDED(hr))
            hr = hrLast;
    }
    Container &c = *m_pContainer;
    if (c.headerWritten && av_write_trailer(c.fmt) < 0)
        hr = E_FAIL;
    c.headerWritten = false;
    // The buffered end of the file reaches the disk only here; a full disk shows now.
    if (c.fmt->pb && (c.fmt->pb->error < 0 || avio_closep(&c.fmt->pb) < 0))
        hr = E_FAIL;
    return hr;
}

void CMp4Writer::Release()
{
    if (m_hEncoder) {
        m_api.faacEncClose(m_hEncoder);
        m_hEncoder = nullptr;
    }
    m_pContainer.reset();
    m_pbOutput.reset();
    m_pbInput.reset();
    m_pbHeld.reset();
    m_cbFilled = 0;
    m_cbHeld = 0;
}

HRESULT CMp4Writer::Close()
{
    if (!m_hEncoder) {
        Release();
        return S_OK;
    }
    // Release runs whatever Finish meets: the destructor closes through here.
    HRESULT hr = m_pContainer ? orafon::CatchAtEdge([this] { return Finish(); }) : E_FAIL;
    Release();
    if (SUCCEEDED(hr) && m_bFailed)
        hr = E_FAIL;
    m_bFailed = false;
    return hr;
}
