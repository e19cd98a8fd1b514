// The MP3 encoder library with the BladeEnc-style interface, over libmp3lame.
//
// Streams are numbered handles into a table, so a stale or foreign handle is
// answered with BE_ERR_INVALID_HANDLE instead of touching freed memory.
// Configurations are checked before libmp3lame sees them and again after it
// has set itself up: libmp3lame quietly changes what it cannot do (a bit rate
// that the sample rate's MPEG version lacks, for one), and an encoder that
// writes something other than what was asked for must refuse instead.
//
// The VBR/info tag: the encoder reserves the first frame of the stream for it;
// beWriteInfoTag (stream, file) or, after beCloseStream, beWriteVBRHeader
// (file) writes the finished tag over that frame. beCloseStream therefore
// keeps the last closed stream's encoder state until beWriteVBRHeader takes it
// (or the next stream is closed).
#include <orafon/CatchAtEdge.h>
#include <orafon/Holders.h>
#include <orafon/win/BladeMP3EncDLL.h>

#include <lame/lame.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct LameDeleter {
    void operator()(lame_global_flags *p) const { lame_close(p); }
};
using LamePtr = std::unique_ptr<lame_global_flags, LameDeleter>;

struct Stream {
    LamePtr gfp;
    int channels = 2;
    DWORD samplesPerChunk = 0;
    DWORD bufferSize = 0;
    bool flushed = false;
};

struct Library {
    std::mutex lock;
    std::map<HBE_STREAM, Stream> streams;
    HBE_STREAM nextHandle = 1;
    // The last closed stream whose tag beWriteVBRHeader has yet to write.
    LamePtr closedAwaitingTag;
};

Library &Lib()
{
    static Library lib;
    return lib;
}

constexpr int kMpeg1Rates[] = {32000, 44100, 48000};
constexpr int kMpeg2Rates[] = {16000, 22050, 24000};
constexpr int kMpeg25Rates[] = {8000, 11025, 12000};
constexpr int kMpeg1Bitrates[] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int kMpeg2Bitrates[] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

template <size_t N> [[nodiscard]] bool Contains(const int (&list)[N], long v)
{
    return std::find(list, list + N, v) != list + N;
}

[[nodiscard]] bool IsMp3Rate(long rate)
{
    return Contains(kMpeg1Rates, rate) || Contains(kMpeg2Rates, rate) || Contains(kMpeg25Rates, rate);
}

// Whether the MPEG version that carries sample rate `rate` has bit rate `kbps`.
[[nodiscard]] bool IsBitrateFor(long rate, long kbps)
{
    return Contains(kMpeg1Rates, rate) ? Contains(kMpeg1Bitrates, kbps) : Contains(kMpeg2Bitrates, kbps);
}

// The settings of either form of BE_CONFIG, in one shape.
struct Settings {
    long inRate = 0;
    long outRate = 0;
    long mode = BE_MP3_MODE_JSTEREO;
    long kbps = 0;
    long maxKbps = 0;
    long preset = LQP_NOPRESET;
    long emphasis = 0;
    bool privateBit = false, crc = false, copyright = false, original = false;
    bool vbrTag = false, vbr = false, noReservoir = false, strictIso = false;
    long vbrQuality = 0;
    long abrBps = 0;
    long vbrMethod = VBR_METHOD_NONE;
    int quality = -1; // libmp3lame's default
};

[[nodiscard]] BE_ERR ReadConfig(const BE_CONFIG &cfg, Settings &s)
{
    if (cfg.dwConfig == BE_CONFIG_MP3) {
        const auto &m = cfg.format.mp3;
        s.inRate = s.outRate = m.dwSampleRate;
        s.mode = m.byMode;
        s.kbps = m.wBitrate;
        s.privateBit = m.bPrivate;
        s.crc = m.bCRC;
        s.copyright = m.bCopyright;
        s.original = m.bOriginal;
        return BE_ERR_SUCCESSFUL;
    }
    if (cfg.dwConfig != BE_CONFIG_LAME)
        return BE_ERR_INVALID_FORMAT;
    const auto &l = cfg.format.LHV1;
    if (l.dwStructVersion < 1 || l.dwStructSize < offsetof(BE_CONFIG, format.LHV1.btReserved))
        return BE_ERR_INVALID_FORMAT;
    s.inRate = l.dwSampleRate;
    s.outRate = l.dwReSampleRate ? l.dwReSampleRate : l.dwSampleRate;
    s.mode = l.nMode;
    s.kbps = l.dwBitrate;
    s.maxKbps = l.dwMaxBitrate;
    s.preset = l.nPreset;
    s.emphasis = l.dwEmphasis;
    s.privateBit = l.bPrivate;
    s.crc = l.bCRC;
    s.copyright = l.bCopyright;
    s.original = l.bOriginal;
    s.vbrTag = l.bWriteVBRHeader;
    s.vbr = l.bEnableVBR;
    s.vbrQuality = l.nVBRQuality;
    s.abrBps = l.dwVbrAbr_bps;
    s.vbrMethod = l.nVbrMethod;
    s.noReservoir = l.bNoRes;
    s.strictIso = l.bStrictIso;
    // A quality is given as its value in the low byte and the complement in the high byte.
    const int q = l.nQuality & 0xFF;
    if (l.nQuality != 0 && ((l.nQuality >> 8) & 0xFF) == (~q & 0xFF) && q <= 9)
        s.quality = q;
    return BE_ERR_SUCCESSFUL;
}

[[nodiscard]] bool IsValid(const Settings &s)
{
    if (!IsMp3Rate(s.inRate) || !IsMp3Rate(s.outRate))
        return false;
    if (s.mode < BE_MP3_MODE_STEREO || s.mode > BE_MP3_MODE_MONO || s.emphasis < 0 || s.emphasis > 3 || s.emphasis == 2)
        return false;
    if (s.preset != LQP_NOPRESET) // presets are not offered
        return false;
    if (!s.vbr)
        return IsBitrateFor(s.outRate, s.kbps);
    if (s.vbrMethod == VBR_METHOD_ABR)
        return s.abrBps >= 8000 && s.abrBps <= 320000;
    if (s.vbrQuality < 0 || s.vbrQuality > 9)
        return false;
    return (s.kbps == 0 || IsBitrateFor(s.outRate, s.kbps)) && (s.maxKbps == 0 || IsBitrateFor(s.outRate, s.maxKbps));
}

MPEG_mode LameMode(long mode)
{
    switch (mode) {
    case BE_MP3_MODE_STEREO:
        return STEREO;
    case BE_MP3_MODE_DUALCHANNEL:
        return DUAL_CHANNEL;
    case BE_MP3_MODE_MONO:
        return MONO;
    default:
        return JOINT_STEREO;
    }
}

void ApplyVbr(lame_global_flags *gfp, const Settings &s)
{
    if (s.vbrMethod == VBR_METHOD_ABR) {
        lame_set_VBR(gfp, vbr_abr);
        lame_set_VBR_mean_bitrate_kbps(gfp, static_cast<int>(s.abrBps / 1000));
    } else {
        lame_set_VBR(gfp, vbr_default);
        lame_set_VBR_q(gfp, static_cast<int>(s.vbrQuality));
    }
    if (s.kbps)
        lame_set_VBR_min_bitrate_kbps(gfp, static_cast<int>(s.kbps));
    if (s.maxKbps)
        lame_set_VBR_max_bitrate_kbps(gfp, static_cast<int>(s.maxKbps));
}

[[nodiscard]] LamePtr MakeEncoder(const Settings &s)
{
    LamePtr gfp(lame_init());
    if (!gfp)
        return nullptr;
    lame_global_flags *g = gfp.get();
    lame_set_num_channels(g, s.mode == BE_MP3_MODE_MONO ? 1 : 2);
    lame_set_in_samplerate(g, static_cast<int>(s.inRate));
    lame_set_out_samplerate(g, static_cast<int>(s.outRate));
    lame_set_mode(g, LameMode(s.mode));
    lame_set_emphasis(g, static_cast<int>(s.emphasis));
    lame_set_extension(g, s.privateBit);
    lame_set_error_protection(g, s.crc);
    lame_set_copyright(g, s.copyright);
    lame_set_original(g, s.original);
    lame_set_strict_ISO(g, s.strictIso);
    lame_set_disable_reservoir(g, s.noReservoir);
    lame_set_bWriteVbrTag(g, s.vbrTag);
    if (s.quality >= 0)
        lame_set_quality(g, s.quality);
    if (s.vbr) {
        ApplyVbr(g, s);
    } else {
        lame_set_VBR(g, vbr_off);
        lame_set_brate(g, static_cast<int>(s.kbps));
    }
    if (lame_init_params(g) < 0)
        return nullptr;
    // What libmp3lame settled on must be what was asked for.
    if (lame_get_out_samplerate(g) != s.outRate || lame_get_num_channels(g) != (s.mode == BE_MP3_MODE_MONO ? 1 : 2))
        return nullptr;
    if (!s.vbr && lame_get_brate(g) != s.kbps)
        return nullptr;
    if (lame_get_mode(g) != LameMode(s.mode))
        return nullptr;
    return gfp;
}

Stream *Find(Library &lib, HBE_STREAM h)
{
    auto it = lib.streams.find(h);
    return it == lib.streams.end() ? nullptr : &it->second;
}

// Writes the encoder's finished tag frame over the frame reserved for it at
// the start of the file.
[[nodiscard]] BE_ERR WriteTagFrame(lame_global_flags *gfp, LPCSTR lpszFileName)
{
    if (!lpszFileName)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (!lame_get_bWriteVbrTag(gfp))
        return BE_ERR_SUCCESSFUL;
    std::array<unsigned char, 2880> frame; // the largest frame; on the stack, so writing the tag cannot throw
    const size_t n = lame_get_lametag_frame(gfp, frame.data(), frame.size());
    if (n == 0 || n > frame.size())
        return BE_ERR_SUCCESSFUL; // the frame is too small to hold a tag: none was reserved
    orafon::CStdioFile f(std::fopen(lpszFileName, "rb+"));
    if (!f)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    bool ok = std::fseek(f.Get(), 0, SEEK_SET) == 0 && std::fwrite(frame.data(), 1, n, f.Get()) == n;
    ok = f.Close() == 0 && ok;
    return ok ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_FORMAT_PARAMETERS;
}

// The stream is entered in the table last; until then nothing is kept.
[[nodiscard]] BE_ERR InitStream(const BE_CONFIG &config, PDWORD dwSamples, PDWORD dwBufferSize, PHBE_STREAM phbeStream)
{
    Settings s;
    if (const BE_ERR err = ReadConfig(config, s); err != BE_ERR_SUCCESSFUL)
        return err;
    if (!IsValid(s))
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    Stream stream;
    stream.gfp = MakeEncoder(s);
    if (!stream.gfp)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    stream.channels = lame_get_num_channels(stream.gfp.get());
    // One frame's worth of samples in (all channels), and libmp3lame's own
    // bound for the output of that many samples (which also covers the flush).
    const DWORD frameSize = static_cast<DWORD>(lame_get_framesize(stream.gfp.get()));
    stream.samplesPerChunk = frameSize * static_cast<DWORD>(stream.channels);
    stream.bufferSize = frameSize * 5 / 4 + 7200;
    Library &lib = Lib();
    std::lock_guard lock(lib.lock);
    if (lib.nextHandle == 0)
        return BE_ERR_NO_MORE_HANDLES;
    const HBE_STREAM h = lib.nextHandle++;
    *dwSamples = stream.samplesPerChunk;
    *dwBufferSize = stream.bufferSize;
    lib.streams.emplace(h, std::move(stream));
    *phbeStream = h;
    return BE_ERR_SUCCESSFUL;
}

} // namespace

EXTERN_C ORAFON_EXPORT BE_ERR beInitStream(PBE_CONFIG pbeConfig, PDWORD dwSamples, PDWORD dwBufferSize,
                                           PHBE_STREAM phbeStream)
{
    if (!pbeConfig || !dwSamples || !dwBufferSize || !phbeStream)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    // The interface has no code for running out of memory; "no more
    // handles" is the one that tells the caller no stream can be made now.
    return orafon::CatchAtEdgeOr<BE_ERR>(BE_ERR_NO_MORE_HANDLES, BE_ERR_INVALID_FORMAT_PARAMETERS,
                                         [&] { return InitStream(*pbeConfig, dwSamples, dwBufferSize, phbeStream); });
}

EXTERN_C ORAFON_EXPORT BE_ERR beEncodeChunk(HBE_STREAM hbeStream, DWORD nSamples, PSHORT pSamples, PBYTE pOutput,
                                            PDWORD pdwOutput)
{
    Library &lib = Lib();
    std::lock_guard lock(lib.lock);
    Stream *s = Find(lib, hbeStream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!pOutput || !pdwOutput || (!pSamples && nSamples) || s->flushed)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    if (nSamples > s->samplesPerChunk)
        return BE_ERR_BUFFER_TOO_SMALL;
    *pdwOutput = 0;
    const int frames = static_cast<int>(nSamples / static_cast<DWORD>(s->channels));
    const int n =
        s->channels == 1
            ? lame_encode_buffer(s->gfp.get(), pSamples, pSamples, frames, pOutput, static_cast<int>(s->bufferSize))
            : lame_encode_buffer_interleaved(s->gfp.get(), pSamples, frames, pOutput, static_cast<int>(s->bufferSize));
    if (n < 0)
        return BE_ERR_BUFFER_TOO_SMALL;
    *pdwOutput = static_cast<DWORD>(n);
    return BE_ERR_SUCCESSFUL;
}

EXTERN_C ORAFON_EXPORT BE_ERR beDeinitStream(HBE_STREAM hbeStream, PBYTE pOutput, PDWORD pdwOutput)
{
    Library &lib = Lib();
    std::lock_guard lock(lib.lock);
    Stream *s = Find(lib, hbeStream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!pOutput || !pdwOutput || s->flushed)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    *pdwOutput = 0;
    const int n = lame_encode_flush(s->gfp.get(), pOutput, static_cast<int>(s->bufferSize));
    if (n < 0)
        return BE_ERR_BUFFER_TOO_SMALL;
    s->flushed = true;
    *pdwOutput = static_cast<DWORD>(n);
    return BE_ERR_SUCCESSFUL;
}

EXTERN_C ORAFON_EXPORT BE_ERR beCloseStream(HBE_STREAM hbeStream)
{
    Library &lib = Lib();
    std::lock_guard lock(lib.lock);
    auto it = lib.streams.find(hbeStream);
    if (it == lib.streams.end())
        return BE_ERR_INVALID_HANDLE;
    Stream s = std::move(it->second);
    lib.streams.erase(it);
    if (s.flushed && lame_get_bWriteVbrTag(s.gfp.get()))
        lib.closedAwaitingTag = std::move(s.gfp);
    return BE_ERR_SUCCESSFUL;
}

EXTERN_C ORAFON_EXPORT VOID beVersion(PBE_VERSION pbeVersion)
{
    if (!pbeVersion)
        return;
    *pbeVersion = {};
    lame_version_t v{};
    get_lame_version_numerical(&v);
    pbeVersion->byDLLMajorVersion = 1;
    pbeVersion->byDLLMinorVersion = 0;
    pbeVersion->byMajorVersion = static_cast<BYTE>(v.major);
    pbeVersion->byMinorVersion = static_cast<BYTE>(v.minor);
    pbeVersion->byDay = 8;
    pbeVersion->byMonth = 12;
    pbeVersion->wYear = 2026;
    std::snprintf(pbeVersion->zHomepage, sizeof(pbeVersion->zHomepage), "%s", get_lame_url());
    pbeVersion->byAlphaLevel = static_cast<BYTE>(v.alpha);
    pbeVersion->byBetaLevel = static_cast<BYTE>(v.beta);
    pbeVersion->byMMXEnabled = 0;
}

EXTERN_C ORAFON_EXPORT BE_ERR beWriteVBRHeader(LPCSTR lpszFileName)
{
    Library &lib = Lib();
    std::lock_guard lock(lib.lock);
    if (!lib.closedAwaitingTag)
        return BE_ERR_INVALID_HANDLE;
    LamePtr gfp = std::move(lib.closedAwaitingTag);
    return WriteTagFrame(gfp.get(), lpszFileName);
}

#ifndef ORAFON_LAME_ENC_WITHOUT_INFOTAG
EXTERN_C ORAFON_EXPORT BE_ERR beWriteInfoTag(HBE_STREAM hbeStream, LPCSTR lpszFileName)
{
    Library &lib = Lib();
    std::lock_guard lock(lib.lock);
    Stream *s = Find(lib, hbeStream);
    if (!s)
        return BE_ERR_INVALID_HANDLE;
    if (!s->flushed)
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    return WriteTagFrame(s->gfp.get(), lpszFileName);
}
#endif
