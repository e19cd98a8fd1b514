#include "OggWriter.h"

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>

#include <algorithm>
#include <new>
#include <random>

// The libraries' state of one stream. Each part is cleared only when it was
// set up, in the reverse order of setting up.
struct COggWriter::Encoder {
    vorbis_info vi{};
    vorbis_comment vc{};
    vorbis_dsp_state vd{};
    vorbis_block vb{};
    ogg_stream_state os{};
    ogg_page og{};
    ogg_packet op{};
    bool bInfo = false;
    bool bAnalysis = false;
    bool bStream = false;
    // The end-of-stream page has been written; no page follows it.
    bool bEnded = false;

    ~Encoder()
    {
        if (bStream)
            ogg_stream_clear(&os);
        if (bAnalysis) {
            vorbis_block_clear(&vb);
            vorbis_dsp_clear(&vd);
            vorbis_comment_clear(&vc);
        }
        if (bInfo)
            vorbis_info_clear(&vi);
    }
};

void COggWriter::EncoderDeleter::operator()(Encoder *p) const
{
    delete p;
}

namespace {

int16_t ReadSample(const BYTE *pb)
{
    return static_cast<int16_t>(static_cast<uint16_t>(pb[0] | (pb[1] << 8)));
}

} // namespace

COggWriter::COggWriter() = default;

COggWriter::~COggWriter()
{
    // A file still open is finished; nobody is left to hear its verdict.
    static_cast<void>(Close());
}

int COggWriter::SerialNumberFor(std::time_t seconds)
{
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(seconds));
    return static_cast<int>(generator() % 32768);
}

HRESULT COggWriter::Fail(HRESULT hr)
{
    if (SUCCEEDED(m_hrFailure))
        m_hrFailure = hr;
    return hr;
}

HRESULT COggWriter::Open(LONG nBitRate, DWORD nSampleRate, WORD nChannels, const char *pszFileName)
{
    if (IsOpen())
        static_cast<void>(Close()); // the earlier file's verdict is not this open's
    if (!pszFileName)
        return E_INVALIDARG;
    m_hrFailure = S_OK;
    m_pFile.Reset(std::fopen(pszFileName, "wb"));
    if (!m_pFile)
        return E_ACCESSDENIED;
    m_pEncoder.reset(new (std::nothrow) Encoder);
    if (!m_pEncoder) {
        m_pFile.Reset();
        return E_OUTOFMEMORY;
    }
    Encoder &e = *m_pEncoder;
    vorbis_info_init(&e.vi);
    e.bInfo = true;
    if (nChannels == 0 || vorbis_encode_init(&e.vi, nChannels, static_cast<long>(nSampleRate), -1, nBitRate, -1) != 0) {
        m_pEncoder.reset();
        m_pFile.Reset();
        return E_FAIL;
    }
    m_nChannels = nChannels;
    m_carry.Reset(nChannels * 2U);
    vorbis_comment_init(&e.vc);
    vorbis_analysis_init(&e.vd, &e.vi);
    vorbis_block_init(&e.vd, &e.vb);
    e.bAnalysis = true;
    m_nSerialNumber = SerialNumberFor(std::time(nullptr));
    ogg_stream_init(&e.os, m_nSerialNumber);
    e.bStream = true;
    const HRESULT hr = WriteHeaders();
    if (FAILED(hr)) {
        m_pEncoder.reset();
        m_pFile.Reset();
        return hr;
    }
    return S_OK;
}

HRESULT COggWriter::WriteHeaders()
{
    Encoder &e = *m_pEncoder;
    ogg_packet identification, comment, codebooks;
    if (vorbis_analysis_headerout(&e.vd, &e.vc, &identification, &comment, &codebooks) != 0)
        return E_FAIL;
    ogg_stream_packetin(&e.os, &identification);
    ogg_stream_packetin(&e.os, &comment);
    ogg_stream_packetin(&e.os, &codebooks);
    while (ogg_stream_flush(&e.os, &e.og) != 0) {
        const HRESULT hr = WritePage(e.og.header, e.og.header_len, e.og.body, e.og.body_len);
        if (FAILED(hr))
            return hr;
    }
    // A file that cannot take even the headers is refused before any audio
    // is encoded for it.
    if (std::fflush(m_pFile.Get()) != 0)
        return E_FAIL;
    return S_OK;
}

HRESULT COggWriter::WritePage(const void *pHeader, long cbHeader, const void *pBody, long cbBody)
{
    FILE *f = m_pFile.Get();
    if (std::fwrite(pHeader, 1, static_cast<size_t>(cbHeader), f) != static_cast<size_t>(cbHeader) ||
        std::fwrite(pBody, 1, static_cast<size_t>(cbBody), f) != static_cast<size_t>(cbBody))
        return Fail(E_FAIL);
    return S_OK;
}

HRESULT COggWriter::Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten)
{
    if (pcbWritten)
        *pcbWritten = 0;
    if (!m_pFile)
        return CO_E_NOTINITIALIZED;
    if (!pb && cb > 0)
        return E_INVALIDARG;
    const HRESULT hr = m_carry.Take(pb, cb, [this](const BYTE *p, ULONG n) { return AnalyseFrames(p, n); });
    if (SUCCEEDED(hr) && pcbWritten)
        *pcbWritten = cb;
    return hr;
}

HRESULT COggWriter::AnalyseFrames(const BYTE *pb, ULONG nFrames)
{
    const ULONG cbFrame = static_cast<ULONG>(m_nChannels) * 2;
    while (nFrames > 0) {
        const ULONG n = std::min(nFrames, kFramesPerPiece);
        const HRESULT hr = Analyse(pb, n);
        if (FAILED(hr))
            return hr;
        pb += n * cbFrame;
        nFrames -= n;
    }
    return S_OK;
}

HRESULT COggWriter::Analyse(const BYTE *pb, ULONG nFrames)
{
    Encoder &e = *m_pEncoder;
    float **channels = vorbis_analysis_buffer(&e.vd, static_cast<int>(nFrames));
    if (!channels)
        return Fail(E_FAIL);
    const int nChannels = m_nChannels;
    for (ULONG f = 0; f < nFrames; ++f)
        for (int c = 0; c < nChannels; ++c, pb += 2)
            channels[c][f] = SampleToFloat(ReadSample(pb));
    if (vorbis_analysis_wrote(&e.vd, static_cast<int>(nFrames)) != 0)
        return Fail(E_FAIL);
    return DrainBlocks();
}

HRESULT COggWriter::DrainBlocks()
{
    Encoder &e = *m_pEncoder;
    int blocks;
    while ((blocks = vorbis_analysis_blockout(&e.vd, &e.vb)) == 1) {
        if (vorbis_analysis(&e.vb, nullptr) != 0 || vorbis_bitrate_addblock(&e.vb) != 0)
            return Fail(E_FAIL);
        int packets;
        while ((packets = vorbis_bitrate_flushpacket(&e.vd, &e.op)) == 1) {
            if (ogg_stream_packetin(&e.os, &e.op) != 0)
                return Fail(E_FAIL);
            while (!e.bEnded && ogg_stream_pageout(&e.os, &e.og) != 0) {
                const HRESULT hr = WritePage(e.og.header, e.og.header_len, e.og.body, e.og.body_len);
                if (FAILED(hr))
                    return hr;
                e.bEnded = ogg_page_eos(&e.og) != 0;
            }
        }
        if (packets < 0)
            return Fail(E_FAIL);
    }
    return blocks < 0 ? Fail(E_FAIL) : S_OK;
}

HRESULT COggWriter::CloseFile()
{
    // Buffered pages reach the disk only now; a full disk shows here.
    const bool bFailed = std::ferror(m_pFile.Get()) != 0;
    if (m_pFile.Close() != 0 || bFailed)
        return Fail(E_FAIL);
    return S_OK;
}

HRESULT COggWriter::Close()
{
    if (!m_pFile)
        return S_OK;
    // Each failure is kept in m_hrFailure, the verdict returned below.
    if (vorbis_analysis_wrote(&m_pEncoder->vd, 0) != 0)
        static_cast<void>(Fail(E_FAIL));
    else
        static_cast<void>(DrainBlocks());
    static_cast<void>(CloseFile());
    m_pEncoder.reset();
    const HRESULT hr = m_hrFailure;
    m_hrFailure = S_OK;
    return hr;
}
