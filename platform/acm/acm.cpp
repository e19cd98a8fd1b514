// The audio compression manager's stream functions for PCM to PCM conversion.
//
// A stream turns source frames into float samples, mixes stereo down to mono
// before resampling (or mono up to stereo after it, so the resampler always
// works on the smaller channel count), resamples with libsoxr at high quality
// when the rates differ, and stores the result in the destination width. The
// resampler's state lives as long as the stream, so consecutive pieces join
// without a seam. Output that does not fit the caller's destination buffer is
// kept and delivered first by the next call: nothing is dropped.
#include <orafon/CatchAtEdge.h>
#include <orafon/win/msacm.h>

#include <soxr.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <unordered_set>
#include <vector>

namespace {

// Frames handled per resampler call; bounds the scratch buffers.
constexpr size_t kChunkFrames = 4096;
// Extra destination frames acmStreamSize allows for the resampler's uneven
// output from call to call.
constexpr DWORD kResampleMarginFrames = 64;
constexpr DWORD kMinRate = 1000;
constexpr DWORD kMaxRate = 384000;

[[nodiscard]] bool IsSupportedPcm(const WAVEFORMATEX &wfx)
{
    return wfx.wFormatTag == WAVE_FORMAT_PCM && (wfx.nChannels == 1 || wfx.nChannels == 2) &&
           (wfx.wBitsPerSample == 8 || wfx.wBitsPerSample == 16) &&
           wfx.nBlockAlign == wfx.nChannels * wfx.wBitsPerSample / 8 && wfx.nSamplesPerSec >= kMinRate &&
           wfx.nSamplesPerSec <= kMaxRate && wfx.nAvgBytesPerSec == wfx.nSamplesPerSec * wfx.nBlockAlign;
}

struct SoxrDeleter {
    void operator()(soxr_t p) const { soxr_delete(p); }
};

} // namespace

struct HACMSTREAM__ {
    WAVEFORMATEX src{};
    WAVEFORMATEX dst{};
    // Channels the resampler works on: the smaller of the two counts.
    unsigned mixChannels = 1;
    std::unique_ptr<soxr, SoxrDeleter> resampler;
    std::vector<float> in;
    std::vector<float> out;
    std::vector<BYTE> encoded;
    // Converted bytes that did not fit the last destination buffer.
    std::vector<BYTE> pending;
    size_t pendingPos = 0;
    // The resampler has been flushed; new input starts a fresh signal.
    bool ended = false;

    bool Resampling() const { return resampler != nullptr; }
    double Ratio() const { return static_cast<double>(dst.nSamplesPerSec) / src.nSamplesPerSec; }
    size_t OutCapacity() const
    {
        return static_cast<size_t>(std::ceil(kChunkFrames * Ratio())) + kResampleMarginFrames + 256;
    }
};

namespace {

std::mutex g_streamsLock;
std::unordered_set<HACMSTREAM> g_streams;

[[nodiscard]] bool IsLive(HACMSTREAM has)
{
    std::lock_guard lock(g_streamsLock);
    return g_streams.count(has) != 0;
}

// Source frames to floats with mixChannels channels.
void DecodeFrames(const HACMSTREAM__ &s, const BYTE *pb, size_t frames, float *out)
{
    const unsigned srcCh = s.src.nChannels;
    const bool eight = s.src.wBitsPerSample == 8;
    auto sample = [&](size_t i) -> float {
        if (eight)
            return (static_cast<int>(pb[i]) - 128) * (1.0f / 128.0f);
        int16_t v;
        std::memcpy(&v, pb + 2 * i, 2);
        return v * (1.0f / 32768.0f);
    };
    if (srcCh == s.mixChannels) {
        for (size_t i = 0; i < frames * srcCh; ++i)
            out[i] = sample(i);
    } else { // stereo down to mono
        for (size_t f = 0; f < frames; ++f)
            out[f] = 0.5f * (sample(2 * f) + sample(2 * f + 1));
    }
}

inline int16_t ToInt16(float x)
{
    float v = x * 32768.0f;
    v = std::clamp(v, -32768.0f, 32767.0f);
    return static_cast<int16_t>(v >= 0 ? v + 0.5f : v - 0.5f);
}

inline BYTE ToUInt8(float x)
{
    float v = x * 128.0f + 128.0f;
    v = std::clamp(v, 0.0f, 255.0f);
    return static_cast<BYTE>(v + 0.5f);
}

// Floats with mixChannels channels to destination frames (mono up to stereo here).
void EncodeFrames(const HACMSTREAM__ &s, const float *in, size_t frames, BYTE *pb)
{
    const unsigned dstCh = s.dst.nChannels;
    const bool up = dstCh > s.mixChannels;
    const size_t count = frames * dstCh;
    if (s.dst.wBitsPerSample == 16) {
        int16_t *p = reinterpret_cast<int16_t *>(pb);
        if (up) {
            for (size_t f = 0; f < frames; ++f)
                p[2 * f] = p[2 * f + 1] = ToInt16(in[f]);
        } else {
            for (size_t i = 0; i < count; ++i)
                p[i] = ToInt16(in[i]);
        }
    } else {
        if (up) {
            for (size_t f = 0; f < frames; ++f)
                pb[2 * f] = pb[2 * f + 1] = ToUInt8(in[f]);
        } else {
            for (size_t i = 0; i < count; ++i)
                pb[i] = ToUInt8(in[i]);
        }
    }
}

// Hands converted bytes to the caller's buffer, keeping what does not fit.
class Output {
public:
    Output(HACMSTREAM__ &s, ACMSTREAMHEADER &h) : m_s(s), m_h(h) {}

    void DeliverPending()
    {
        const size_t n = std::min(m_s.pending.size() - m_s.pendingPos, Room());
        Put(m_s.pending.data() + m_s.pendingPos, n);
        m_s.pendingPos += n;
        if (m_s.pendingPos == m_s.pending.size()) {
            m_s.pending.clear();
            m_s.pendingPos = 0;
        }
    }

    void Emit(const float *frames, size_t count)
    {
        if (count == 0)
            return;
        const size_t cb = count * m_s.dst.nBlockAlign;
        if (m_s.pending.empty() && cb <= Room()) {
            EncodeFrames(m_s, frames, count, m_h.pbDst + m_h.cbDstLengthUsed);
            m_h.cbDstLengthUsed += static_cast<DWORD>(cb);
            return;
        }
        m_s.encoded.resize(cb);
        EncodeFrames(m_s, frames, count, m_s.encoded.data());
        const size_t n = m_s.pending.empty() ? std::min(cb, Room()) : 0;
        Put(m_s.encoded.data(), n);
        m_s.pending.insert(m_s.pending.end(), m_s.encoded.begin() + static_cast<ptrdiff_t>(n), m_s.encoded.end());
    }

private:
    size_t Room() const { return m_h.cbDstLength - m_h.cbDstLengthUsed; }
    void Put(const BYTE *p, size_t n)
    {
        if (n == 0)
            return;
        std::memcpy(m_h.pbDst + m_h.cbDstLengthUsed, p, n);
        m_h.cbDstLengthUsed += static_cast<DWORD>(n);
    }

    HACMSTREAM__ &m_s;
    ACMSTREAMHEADER &m_h;
};

[[nodiscard]] MMRESULT Resample(HACMSTREAM__ &s, const float *in, size_t frames, Output &out)
{
    const size_t cap = s.OutCapacity();
    size_t offset = 0;
    for (;;) {
        size_t idone = 0, odone = 0;
        // A null input pointer tells the resampler the input has ended.
        const float *pin = in ? in + offset * s.mixChannels : nullptr;
        if (soxr_process(s.resampler.get(), pin, in ? frames - offset : 0, &idone, s.out.data(), cap, &odone))
            return MMSYSERR_ERROR;
        offset += idone;
        out.Emit(s.out.data(), odone);
        const bool inputLeft = in && offset < frames;
        if (!inputLeft && odone < cap)
            return MMSYSERR_NOERROR;
        if (idone == 0 && odone == 0)
            return MMSYSERR_ERROR; // no progress: never spin
    }
}

[[nodiscard]] MMRESULT ConvertFrames(HACMSTREAM__ &s, const BYTE *pb, size_t frames, Output &out)
{
    if (s.ended && frames > 0) {
        if (s.Resampling())
            soxr_clear(s.resampler.get());
        s.ended = false;
    }
    for (size_t done = 0; done < frames;) {
        const size_t n = std::min(kChunkFrames, frames - done);
        DecodeFrames(s, pb + done * s.src.nBlockAlign, n, s.in.data());
        if (s.Resampling()) {
            const MMRESULT mr = Resample(s, s.in.data(), n, out);
            if (mr != MMSYSERR_NOERROR)
                return mr;
        } else {
            out.Emit(s.in.data(), n);
        }
        done += n;
    }
    return MMSYSERR_NOERROR;
}

[[nodiscard]] MMRESULT Drain(HACMSTREAM__ &s, Output &out)
{
    if (s.ended || !s.Resampling()) {
        s.ended = true;
        return MMSYSERR_NOERROR;
    }
    s.ended = true;
    return Resample(s, nullptr, 0, out);
}

[[nodiscard]] MMRESULT CheckHeader(HACMSTREAM has, LPACMSTREAMHEADER pash)
{
    if (!IsLive(has))
        return MMSYSERR_INVALHANDLE;
    if (!pash || pash->cbStruct != sizeof(ACMSTREAMHEADER))
        return MMSYSERR_INVALPARAM;
    return MMSYSERR_NOERROR;
}

} // namespace

STDAPI_(MMRESULT)
acmStreamOpen(LPHACMSTREAM phas, HACMDRIVER had, LPWAVEFORMATEX pwfxSrc, LPWAVEFORMATEX pwfxDst, LPWAVEFILTER pwfltr,
              DWORD_PTR /*dwCallback*/, DWORD_PTR /*dwInstance*/, DWORD fdwOpen)
{
    const bool query = (fdwOpen & ACM_STREAMOPENF_QUERY) != 0;
    if (phas)
        *phas = nullptr;
    if ((!phas && !query) || !pwfxSrc || !pwfxDst)
        return MMSYSERR_INVALPARAM;
    if (fdwOpen & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME | 0x000F0000u))
        return MMSYSERR_INVALFLAG;
    if (had)
        return MMSYSERR_INVALHANDLE;
    if (pwfltr || (fdwOpen & ACM_STREAMOPENF_ASYNC) || !IsSupportedPcm(*pwfxSrc) || !IsSupportedPcm(*pwfxDst))
        return ACMERR_NOTPOSSIBLE;
    if (query)
        return MMSYSERR_NOERROR;

    std::unique_ptr<HACMSTREAM__> s(new (std::nothrow) HACMSTREAM__);
    if (!s)
        return MMSYSERR_NOMEM;
    s->src = *pwfxSrc;
    s->dst = *pwfxDst;
    s->src.cbSize = s->dst.cbSize = 0;
    s->mixChannels = std::min(s->src.nChannels, s->dst.nChannels);
    const MMRESULT made = orafon::CatchAtEdgeOr<MMRESULT>(MMSYSERR_NOMEM, MMSYSERR_ERROR, [&] {
        s->in.resize(kChunkFrames * s->mixChannels);
        if (s->src.nSamplesPerSec != s->dst.nSamplesPerSec) {
            const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
            const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
            soxr_error_t err = nullptr;
            s->resampler.reset(soxr_create(s->src.nSamplesPerSec, s->dst.nSamplesPerSec, s->mixChannels, &err, nullptr,
                                           &quality, &runtime));
            if (err || !s->resampler)
                return MMSYSERR_NOMEM;
            s->out.resize(s->OutCapacity() * s->mixChannels);
        }
        std::lock_guard lock(g_streamsLock);
        g_streams.insert(s.get());
        return MMSYSERR_NOERROR;
    });
    if (made != MMSYSERR_NOERROR)
        return made;
    *phas = s.release();
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) acmStreamClose(HACMSTREAM has, DWORD fdwClose)
{
    if (fdwClose != 0)
        return MMSYSERR_INVALFLAG;
    {
        std::lock_guard lock(g_streamsLock);
        if (g_streams.erase(has) == 0)
            return MMSYSERR_INVALHANDLE;
    }
    delete has;
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) acmStreamSize(HACMSTREAM has, DWORD cbInput, LPDWORD pdwOutputBytes, DWORD fdwSize)
{
    if (!IsLive(has))
        return MMSYSERR_INVALHANDLE;
    if (!pdwOutputBytes)
        return MMSYSERR_INVALPARAM;
    const HACMSTREAM__ &s = *has;
    const DWORD margin = s.Resampling() ? kResampleMarginFrames : 0;
    switch (fdwSize & ACM_STREAMSIZEF_QUERYMASK) {
    case ACM_STREAMSIZEF_SOURCE: {
        const uint64_t frames = cbInput / s.src.nBlockAlign;
        const uint64_t out = (frames * s.dst.nSamplesPerSec + s.src.nSamplesPerSec - 1) / s.src.nSamplesPerSec;
        const uint64_t cb = (frames ? out + margin : 0) * s.dst.nBlockAlign;
        if (cb > UINT32_MAX)
            return MMSYSERR_INVALPARAM;
        *pdwOutputBytes = static_cast<DWORD>(cb);
        break;
    }
    case ACM_STREAMSIZEF_DESTINATION: {
        const uint64_t frames = cbInput / s.dst.nBlockAlign;
        const uint64_t usable = frames > margin ? frames - margin : 0;
        *pdwOutputBytes = static_cast<DWORD>(usable * s.src.nSamplesPerSec / s.dst.nSamplesPerSec * s.src.nBlockAlign);
        break;
    }
    default:
        return MMSYSERR_INVALFLAG;
    }
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) acmStreamPrepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwPrepare)
{
    if (const MMRESULT mr = CheckHeader(has, pash); mr != MMSYSERR_NOERROR)
        return mr;
    if (fdwPrepare != 0)
        return MMSYSERR_INVALFLAG;
    if ((!pash->pbSrc && pash->cbSrcLength) || (!pash->pbDst && pash->cbDstLength))
        return MMSYSERR_INVALPARAM;
    // The prepared lengths are the most a conversion with this header may use.
    pash->dwReservedDriver[0] = pash->cbSrcLength;
    pash->dwReservedDriver[1] = pash->cbDstLength;
    pash->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) acmStreamUnprepareHeader(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwUnprepare)
{
    if (const MMRESULT mr = CheckHeader(has, pash); mr != MMSYSERR_NOERROR)
        return mr;
    if (fdwUnprepare != 0)
        return MMSYSERR_INVALFLAG;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    if (pash->cbSrcLength != pash->dwReservedDriver[0] || pash->cbDstLength != pash->dwReservedDriver[1])
        return MMSYSERR_INVALPARAM;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) acmStreamConvert(HACMSTREAM has, LPACMSTREAMHEADER pash, DWORD fdwConvert)
{
    if (const MMRESULT mr = CheckHeader(has, pash); mr != MMSYSERR_NOERROR)
        return mr;
    if (fdwConvert & ~(ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END))
        return MMSYSERR_INVALFLAG;
    if (!(pash->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    if (pash->cbSrcLength > pash->dwReservedDriver[0] || pash->cbDstLength > pash->dwReservedDriver[1])
        return MMSYSERR_INVALPARAM;
    HACMSTREAM__ &s = *has;
    pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    pash->cbSrcLengthUsed = 0;
    pash->cbDstLengthUsed = 0;
    if (fdwConvert & ACM_STREAMCONVERTF_START) {
        if (s.Resampling())
            soxr_clear(s.resampler.get());
        s.pending.clear();
        s.pendingPos = 0;
        s.ended = false;
    }
    const MMRESULT mr = orafon::CatchAtEdgeOr<MMRESULT>(MMSYSERR_NOMEM, MMSYSERR_ERROR, [&] {
        Output out(s, *pash);
        out.DeliverPending();
        // Only whole source frames are converted, with or without BLOCKALIGN.
        const size_t frames = pash->cbSrcLength / s.src.nBlockAlign;
        MMRESULT converted = ConvertFrames(s, pash->pbSrc, frames, out);
        pash->cbSrcLengthUsed = static_cast<DWORD>(frames * s.src.nBlockAlign);
        if (converted == MMSYSERR_NOERROR && (fdwConvert & ACM_STREAMCONVERTF_END))
            converted = Drain(s, out);
        return converted;
    });
    pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return mr;
}

STDAPI_(MMRESULT) acmStreamReset(HACMSTREAM has, DWORD fdwReset)
{
    if (!IsLive(has))
        return MMSYSERR_INVALHANDLE;
    if (fdwReset != 0)
        return MMSYSERR_INVALFLAG;
    if (has->Resampling())
        soxr_clear(has->resampler.get());
    has->pending.clear();
    has->pendingPos = 0;
    has->ended = false;
    return MMSYSERR_NOERROR;
}
