#include "FlacWriter.h"

#include <FLAC/stream_encoder.h>

#include <algorithm>
#include <new>

struct CFlacWriter::Encoder {
    FLAC__StreamEncoder *p;
    // Deleting finishes an encoder that is still initialised and closes its file.
    ~Encoder() { FLAC__stream_encoder_delete(p); }
};

void CFlacWriter::EncoderDeleter::operator()(Encoder *p) const
{
    delete p;
}

namespace {

void IgnoreProgress(const FLAC__StreamEncoder *, FLAC__uint64, FLAC__uint64, uint32_t, uint32_t, void *) {}

// The encoder would refuse these only after creating the file; they are
// refused before, so a refused format leaves nothing on disk.
[[nodiscard]] bool IsEncodable(const WAVEFORMATEX &wfx)
{
    // Only 8- and 16-bit samples are converted for the encoder.
    static_assert(FLAC__MAX_CHANNELS * 2 <= CFrameCarry::kMaxFrameBytes);
    return (wfx.wBitsPerSample == 8 || wfx.wBitsPerSample == 16) && wfx.nChannels >= 1 &&
           wfx.nChannels <= FLAC__MAX_CHANNELS && FLAC__format_sample_rate_is_subset(wfx.nSamplesPerSec);
}

} // namespace

CFlacWriter::~CFlacWriter()
{
    // A file still open is finished; nobody is left to hear its verdict.
    static_cast<void>(Close());
}

HRESULT CFlacWriter::ApplySettings(const WAVEFORMATEX &wfx)
{
    FLAC__StreamEncoder *e = m_pEncoder->p;
    // libFLAC's defaults have changed between releases (block size, LPC,
    // mid-side, partition order), so every setting that shapes the stream is
    // named here.
    const bool ok =
        FLAC__stream_encoder_set_streamable_subset(e, true) && FLAC__stream_encoder_set_channels(e, wfx.nChannels) &&
        FLAC__stream_encoder_set_bits_per_sample(e, wfx.wBitsPerSample) &&
        FLAC__stream_encoder_set_sample_rate(e, wfx.nSamplesPerSec) &&
        FLAC__stream_encoder_set_blocksize(e, kBlockSize) && FLAC__stream_encoder_set_verify(e, false) &&
        FLAC__stream_encoder_set_do_mid_side_stereo(e, false) &&
        FLAC__stream_encoder_set_loose_mid_side_stereo(e, false) && FLAC__stream_encoder_set_max_lpc_order(e, 0) &&
        FLAC__stream_encoder_set_qlp_coeff_precision(e, 0) &&
        FLAC__stream_encoder_set_do_qlp_coeff_prec_search(e, false) &&
        FLAC__stream_encoder_set_do_escape_coding(e, false) &&
        FLAC__stream_encoder_set_do_exhaustive_model_search(e, false) &&
        FLAC__stream_encoder_set_min_residual_partition_order(e, 0) &&
        FLAC__stream_encoder_set_max_residual_partition_order(e, 0) &&
        FLAC__stream_encoder_set_rice_parameter_search_dist(e, 0) &&
        FLAC__stream_encoder_set_total_samples_estimate(e, 0) && FLAC__stream_encoder_set_metadata(e, nullptr, 0);
    return ok ? S_OK : E_FAIL;
}

HRESULT CFlacWriter::Open(const WAVEFORMATEX &wfxTarget, const char *pszFileName)
{
    if (IsOpen())
        static_cast<void>(Close()); // the earlier file's verdict is not this open's
    if (!pszFileName)
        return E_INVALIDARG;
    m_bFailed = false;
    FLAC__StreamEncoder *p = FLAC__stream_encoder_new();
    if (!p)
        return E_OUTOFMEMORY;
    m_pEncoder.reset(new (std::nothrow) Encoder{p});
    if (!m_pEncoder) {
        FLAC__stream_encoder_delete(p);
        return E_OUTOFMEMORY;
    }
    HRESULT hr = IsEncodable(wfxTarget) ? ApplySettings(wfxTarget) : E_FAIL;
    if (SUCCEEDED(hr)) {
        m_pSamples.reset(new (std::nothrow) int32_t[static_cast<size_t>(kFramesPerPiece) * wfxTarget.nChannels]);
        if (!m_pSamples)
            hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr) && FLAC__stream_encoder_init_file(m_pEncoder->p, pszFileName, IgnoreProgress, nullptr) !=
                             FLAC__STREAM_ENCODER_INIT_STATUS_OK)
        hr = E_FAIL;
    if (FAILED(hr)) {
        m_pEncoder.reset();
        m_pSamples.reset();
        return hr;
    }
    m_wfx = wfxTarget;
    m_carry.Reset(static_cast<ULONG>(wfxTarget.wBitsPerSample / 8) * wfxTarget.nChannels);
    return S_OK;
}

HRESULT CFlacWriter::Encode(const BYTE *pb, ULONG nFrames)
{
    const WORD wBits = m_wfx.wBitsPerSample;
    const ULONG cbSample = wBits / 8;
    const ULONG nSamples = nFrames * m_wfx.nChannels;
    int32_t *samples = m_pSamples.get();
    for (ULONG i = 0; i < nSamples; ++i, pb += cbSample)
        samples[i] = SampleValue(pb, wBits);
    if (!FLAC__stream_encoder_process_interleaved(m_pEncoder->p, samples, nFrames)) {
        m_bFailed = true;
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CFlacWriter::EncodeFrames(const BYTE *pb, ULONG nFrames)
{
    const ULONG cbFrame = static_cast<ULONG>(m_wfx.wBitsPerSample / 8) * m_wfx.nChannels;
    while (nFrames > 0) {
        const ULONG n = std::min(nFrames, kFramesPerPiece);
        const HRESULT hr = Encode(pb, n);
        if (FAILED(hr))
            return hr;
        pb += n * cbFrame;
        nFrames -= n;
    }
    return S_OK;
}

HRESULT CFlacWriter::Write(ULONG cb, const BYTE *pb, ULONG *pcbWritten)
{
    if (pcbWritten)
        *pcbWritten = 0;
    if (!m_pEncoder)
        return S_OK;
    if (!pb && cb > 0)
        return E_INVALIDARG;
    const HRESULT hr = m_carry.Take(pb, cb, [this](const BYTE *p, ULONG n) { return EncodeFrames(p, n); });
    if (SUCCEEDED(hr) && pcbWritten)
        *pcbWritten = cb;
    return hr;
}

HRESULT CFlacWriter::Close()
{
    if (!m_pEncoder)
        return S_OK;
    // After a failed write the encoder stops in an error state, and finishing
    // it then reports success; the state is read before.
    bool bFailed = m_bFailed || FLAC__stream_encoder_get_state(m_pEncoder->p) != FLAC__STREAM_ENCODER_OK;
    if (!FLAC__stream_encoder_finish(m_pEncoder->p))
        bFailed = true;
    m_pEncoder.reset();
    m_pSamples.reset();
    m_bFailed = false;
    return bFailed ? E_FAIL : S_OK;
}
