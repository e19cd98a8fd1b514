#include "Codecs.h"

#include "Hooks.h"

#include <algorithm>

namespace orafon::wmvcore {

namespace {

// The formats of the Windows Media Audio codec, by sample rate and channel
// count, at the codec's own bit rates. FFmpeg's wmav2 encoder takes 1 or 2
// channels at up to 48 kHz and no bit rate below 24 kbit/s, so only such
// formats are offered; each bit rate listed is encoded exactly (the header
// states it and the encoder's block size follows from it).
struct FormatRow {
    DWORD nSamplesPerSec;
    WORD nChannels;
    std::vector<DWORD> bitrates;
};

const FormatRow kWmaRows[] = {
    {22050, 2, {32048, 32024}},
    {32000, 2, {48000, 40000, 32000}},
    {44100, 1, {48024, 32048, 32024}},
    {44100,
     2,
     {320032, 320008, 256032, 256016, 192040, 192016, 160040, 160016, 128040, 128016, 96040, 96024, 80024, 64040, 64024,
      48024, 31984, 31960}},
    {48000, 2, {192000, 160032, 160008, 128016, 96000, 64032, 64008}},
};

// The encoder's frame length at a sample rate (samples per channel).
DWORD FrameLength(DWORD nSamplesPerSec)
{
    if (nSamplesPerSec <= 16000)
        return 512;
    if (nSamplesPerSec <= 22050)
        return 1024;
    return 2048;
}

CodecFormat MakeWmaFormat(DWORD nSamplesPerSec, WORD nChannels, DWORD bitrate)
{
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_WMAUDIO2;
    wfx.nChannels = nChannels;
    wfx.nSamplesPerSec = nSamplesPerSec;
    wfx.nAvgBytesPerSec = bitrate / 8;
    // Bytes of one coded frame, as the encoder sizes it.
    wfx.nBlockAlign = static_cast<WORD>(uint64_t{bitrate} * FrameLength(nSamplesPerSec) / (nSamplesPerSec * 8ull));
    wfx.wBitsPerSample = 16;
    // The codec's extra bytes: samples per block (0), encode options, super block align.
    const BYTE extra[10] = {0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    return {MediaType::Audio(WMMEDIASUBTYPE_WMAudioV8, wfx, extra, sizeof extra), bitrate};
}

Codec MakeWmaCodec()
{
    Codec codec;
    codec.name = u"Windows Media Audio V2 (FFmpeg wmav2)";
    codec.subtype = WMMEDIASUBTYPE_WMAudioV8;
    for (const FormatRow &row : kWmaRows)
        for (DWORD bitrate : row.bitrates)
            codec.formats.push_back(MakeWmaFormat(row.nSamplesPerSec, row.nChannels, bitrate));
    return codec;
}

} // namespace

const Codec &WmaCodec()
{
    static const Codec codec = MakeWmaCodec();
    return codec;
}

std::shared_ptr<const CodecList> AudioCodecs()
{
    if (auto replaced = ReplacedAudioCodecs())
        return replaced;
    static const std::shared_ptr<const CodecList> real = std::make_shared<const CodecList>(CodecList{WmaCodec()});
    return real;
}

[[nodiscard]] bool IsEncodableFormat(const MediaType &type)
{
    const WAVEFORMATEX *wfx = type.WaveFormat();
    if (!wfx || type.Header().subtype != WMMEDIASUBTYPE_WMAudioV8)
        return false;
    const auto &formats = WmaCodec().formats;
    return std::any_of(formats.begin(), formats.end(), [&](const CodecFormat &f) {
        const WAVEFORMATEX *offered = f.type.WaveFormat();
        return offered->nSamplesPerSec == wfx->nSamplesPerSec && offered->nChannels == wfx->nChannels &&
               offered->nAvgBytesPerSec == wfx->nAvgBytesPerSec;
    });
}

} // namespace orafon::wmvcore
