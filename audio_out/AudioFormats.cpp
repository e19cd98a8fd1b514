// The fixed lists of target formats and nominal bit rates of each file type,
// in the order the wave-format catalogue shows them.
#include "AudioSink.h"

#include <span>

namespace {

struct FormatEntry {
    DWORD nSampleRate;
    WORD nChannels;
    WORD wBitsPerSample;
    LONG nBitRate; // bit/s; 0: the PCM rate itself (average bytes per second x 8)
};

constexpr DWORD kPcmRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

// Entries that do not depend on a rate table.
constexpr FormatEntry kMp3Formats[] = {
    {11025, 1, 16, 16000},  {11025, 1, 16, 64000},  {22050, 1, 16, 24000},  {22050, 1, 16, 32000},
    {22050, 1, 16, 40000},  {22050, 1, 16, 48000},  {44100, 1, 16, 56000},  {44100, 1, 16, 64000},
    {11025, 2, 16, 32000},  {22050, 2, 16, 64000},  {22050, 2, 16, 80000},  {22050, 2, 16, 96000},
    {44100, 2, 16, 112000}, {44100, 2, 16, 128000}, {48000, 2, 16, 128000}, {44100, 2, 16, 160000},
    {44100, 2, 16, 192000}, {44100, 2, 16, 224000}, {44100, 2, 16, 256000}, {48000, 2, 16, 256000},
    {44100, 2, 16, 320000}, {48000, 2, 16, 320000},
};
static_assert(std::size(kMp3Formats) == 22);

constexpr FormatEntry kMp4Formats[] = {
    {44100, 2, 16, 33000},
    {44100, 2, 16, 47000},
    {44100, 2, 16, 57000},
};

constexpr FormatEntry kWmaFormats[] = {
    {8000, 1, 16, 8000},    {8000, 1, 16, 6000},    {8000, 1, 16, 5000},    {8000, 2, 16, 12000},
    {11025, 1, 16, 10016},  {11025, 1, 16, 8016},   {16000, 1, 16, 16000},  {16000, 1, 16, 12000},
    {16000, 1, 16, 10000},  {16000, 2, 16, 20000},  {16000, 2, 16, 16000},  {22050, 1, 16, 20008},
    {22050, 1, 16, 16024},  {22050, 2, 16, 32024},  {22050, 2, 16, 22008},  {22050, 2, 16, 20008},
    {32000, 1, 16, 20000},  {32000, 2, 16, 48000},  {32000, 2, 16, 40000},  {32000, 2, 16, 32000},
    {44100, 1, 16, 48024},  {44100, 1, 16, 32024},  {44100, 1, 16, 20008},  {44100, 2, 16, 320008},
    {44100, 2, 16, 256016}, {44100, 2, 16, 192016}, {44100, 2, 16, 160016}, {44100, 2, 16, 128016},
    {44100, 2, 16, 96024},  {44100, 2, 16, 80024},  {44100, 2, 16, 64024},  {44100, 2, 16, 48024},
    {44100, 2, 16, 31984},  {48000, 2, 16, 192000}, {48000, 2, 16, 160008}, {48000, 2, 16, 128016},
    {48000, 2, 16, 96000},  {48000, 2, 16, 64008},  {8000, 1, 16, 8000},    {8000, 1, 16, 6000},
    {8000, 1, 16, 5000},    {8000, 2, 16, 12000},   {11025, 1, 16, 10024},  {11025, 1, 16, 8024},
    {22050, 1, 16, 20008},  {22050, 1, 16, 16024},  {22050, 2, 16, 32048},  {22050, 2, 16, 22008},
    {22050, 2, 16, 20008},  {32000, 1, 16, 20000},  {32000, 2, 16, 48000},  {32000, 2, 16, 40000},
    {32000, 2, 16, 32000},  {44100, 1, 16, 48024},  {44100, 1, 16, 32048},  {44100, 1, 16, 20008},
    {44100, 2, 16, 320032}, {44100, 2, 16, 256032}, {44100, 2, 16, 192040}, {44100, 2, 16, 160040},
    {44100, 2, 16, 128040}, {44100, 2, 16, 96040},  {44100, 2, 16, 80024},  {44100, 2, 16, 64040},
    {44100, 2, 16, 48024},  {44100, 2, 16, 31960},  {48000, 2, 16, 192000}, {48000, 2, 16, 160032},
    {48000, 2, 16, 128016}, {48000, 2, 16, 96000},  {48000, 2, 16, 64032},
};
static_assert(std::size(kWmaFormats) == 71);

WAVEFORMATEX MakePcmFormat(DWORD nSampleRate, WORD nChannels, WORD wBitsPerSample)
{
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = nChannels;
    wfx.nSamplesPerSec = nSampleRate;
    wfx.nBlockAlign = static_cast<WORD>(nChannels * wBitsPerSample / 8);
    wfx.nAvgBytesPerSec = nSampleRate * wfx.nBlockAlign;
    wfx.wBitsPerSample = wBitsPerSample;
    wfx.cbSize = 0;
    return wfx;
}

void Deliver(const FormatEntry &e, PFNADDWAVEFORMAT pfnAdd, void *pContext)
{
    const WAVEFORMATEX wfx = MakePcmFormat(e.nSampleRate, e.nChannels, e.wBitsPerSample);
    const LONG nBitRate = e.nBitRate ? e.nBitRate : static_cast<LONG>(wfx.nAvgBytesPerSec * 8);
    pfnAdd(&wfx, nBitRate, pContext);
}

void DeliverList(std::span<const FormatEntry> list, PFNADDWAVEFORMAT pfnAdd, void *pContext)
{
    for (const FormatEntry &e : list)
        Deliver(e, pfnAdd, pContext);
}

// For each rate, the given (channels, bits) shapes in order, at the PCM bit rate.
struct Shape {
    WORD nChannels;
    WORD wBitsPerSample;
};

void DeliverPcmGrid(std::span<const DWORD> rates, std::span<const Shape> shapes, PFNADDWAVEFORMAT pfnAdd,
                    void *pContext)
{
    for (DWORD rate : rates)
        for (const Shape &s : shapes)
            Deliver({rate, s.nChannels, s.wBitsPerSample, 0}, pfnAdd, pContext);
}

constexpr Shape kAllShapes[] = {{1, 8}, {2, 8}, {1, 16}, {2, 16}};
constexpr Shape kSixteenBitShapes[] = {{1, 16}, {2, 16}};
constexpr Shape kSixteenBitMono[] = {{1, 16}};
constexpr DWORD kVoxRates[] = {6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};

} // namespace

HRESULT CAudioSink::EnumFormats(LONG nFileFormat, PFNADDWAVEFORMAT pfnAdd, void *pContext)
{
    if (!pfnAdd)
        return E_INVALIDARG;
    switch (nFileFormat) {
    case FF_WAVE:
    case FF_FLAC:
        DeliverPcmGrid(kPcmRates, kAllShapes, pfnAdd, pContext);
        break;
    case FF_AU:
    case FF_AIFF:
        DeliverPcmGrid(kPcmRates, kSixteenBitShapes, pfnAdd, pContext);
        break;
    case FF_VOX:
        DeliverPcmGrid(kVoxRates, kSixteenBitMono, pfnAdd, pContext);
        break;
    case FF_MP3:
        DeliverList(kMp3Formats, pfnAdd, pContext);
        break;
    case FF_OGG:
        // The MP3 list without its second entry (11025 Hz mono at 64 kbit/s).
        Deliver(kMp3Formats[0], pfnAdd, pContext);
        DeliverList(std::span(kMp3Formats).subspan(2), pfnAdd, pContext);
        break;
    case FF_MP4:
        DeliverList(kMp4Formats, pfnAdd, pContext);
        break;
    case FF_WMA:
        if (CWmaWriter::IsRuntimeAvailable())
            DeliverList(kWmaFormats, pfnAdd, pContext);
        break;
    default:
        break; // no list: the catalogue comes out empty
    }
    return S_OK;
}
