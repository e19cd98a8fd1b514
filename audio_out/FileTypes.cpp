// The file-type table: one row per FILEFORMAT value, with its catalogue list.
#include "FileType.h"

#include "FlacWriter.h"
#include "Mp3Writer.h"
#include "Mp4Writer.h"
#include "OggWriter.h"
#include "SndFileWriter.h"
#include "WaveWriter.h"
#include "WmaWriter.h"

#include <orafon/OrafonIds.h>
#include <orafon/PcmFormat.h>

#include <algorithm>
#include <array>

namespace {

// ---- catalogue lists -------------------------------------------------------

struct Shape {
    WORD nChannels;
    WORD wBitsPerSample;
};

// For each rate, the given shapes in order, at the PCM bit rate.
template <size_t R, size_t S>
constexpr std::array<FormatEntry, R * S> PcmGrid(const DWORD (&rates)[R], const Shape (&shapes)[S])
{
    std::array<FormatEntry, R * S> grid{};
    size_t i = 0;
    for (DWORD rate : rates)
        for (const Shape &s : shapes)
            grid[i++] = {rate, s.nChannels, s.wBitsPerSample, 0};
    return grid;
}

// list without its entry at index skip.
template <size_t N>
constexpr std::array<FormatEntry, N - 1> Without(const std::array<FormatEntry, N> &list, size_t skip)
{
    std::array<FormatEntry, N - 1> out{};
    for (size_t i = 0, o = 0; i < N; ++i)
        if (i != skip)
            out[o++] = list[i];
    return out;
}

constexpr DWORD kPcmRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr DWORD kVoxRates[] = {6000, 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr Shape kAllShapes[] = {{1, 8}, {2, 8}, {1, 16}, {2, 16}};
constexpr Shape kSixteenBitShapes[] = {{1, 16}, {2, 16}};
constexpr Shape kSixteenBitMono[] = {{1, 16}};

constexpr auto kWaveAndFlacFormats = PcmGrid(kPcmRates, kAllShapes);
constexpr auto kAuAndAiffFormats = PcmGrid(kPcmRates, kSixteenBitShapes);
constexpr auto kVoxFormats = PcmGrid(kVoxRates, kSixteenBitMono);

constexpr std::array<FormatEntry, 22> kMp3Formats = {{
    {11025, 1, 16, 16000},  {11025, 1, 16, 64000},  {22050, 1, 16, 24000},  {22050, 1, 16, 32000},
    {22050, 1, 16, 40000},  {22050, 1, 16, 48000},  {44100, 1, 16, 56000},  {44100, 1, 16, 64000},
    {11025, 2, 16, 32000},  {22050, 2, 16, 64000},  {22050, 2, 16, 80000},  {22050, 2, 16, 96000},
    {44100, 2, 16, 112000}, {44100, 2, 16, 128000}, {48000, 2, 16, 128000}, {44100, 2, 16, 160000},
    {44100, 2, 16, 192000}, {44100, 2, 16, 224000}, {44100, 2, 16, 256000}, {48000, 2, 16, 256000},
    {44100, 2, 16, 320000}, {48000, 2, 16, 320000},
}};

// The MP3 list without 11025 Hz mono at 64 kbit/s.
constexpr auto kOggFormats = Without(kMp3Formats, 1);

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

// ---- names -----------------------------------------------------------------

constexpr std::string_view kWaveNames[] = {"wav", "wave"};
constexpr std::string_view kMp3Names[] = {"mp3"};
constexpr std::string_view kWmaNames[] = {"wma"};
constexpr std::string_view kOggNames[] = {"ogg", "oga"};
constexpr std::string_view kVoxNames[] = {"vox"};
constexpr std::string_view kAuNames[] = {"au", "snd"};
constexpr std::string_view kAiffNames[] = {"aiff", "aif"};
constexpr std::string_view kMp4Names[] = {"mp4", "m4a", "aac"};
constexpr std::string_view kFlacNames[] = {"flac"};

// ---- writers ---------------------------------------------------------------

// The MP3 writer's channel modes.
constexpr LONG kMp3ModeJointStereo = 1;
constexpr LONG kMp3ModeMono = 3;
// The MP3 writer gets no preset.
constexpr LONG kMp3NoPreset = -1;

constexpr FileWriterBinding kWaveWriter =
    BindWriter<CWaveWriter, [](CWaveWriter &w, const char *name, const WAVEFORMATEX &wfx, LONG) {
        return w.Open(name, wfx, CWaveWriter::kModeWrite);
    }>();

constexpr FileWriterBinding kMp3Writer =
    BindWriter<CMp3Writer, [](CMp3Writer &w, const char *name, const WAVEFORMATEX &wfx, LONG rate) {
        const LONG mode = wfx.nChannels == 2 ? kMp3ModeJointStereo : kMp3ModeMono;
        return w.Open(rate / 1000, wfx.nSamplesPerSec, mode, name, kMp3NoPreset);
    }>();

constexpr FileWriterBinding kWmaWriter =
    BindWriter<CWmaWriter, [](CWmaWriter &w, const char *name, const WAVEFORMATEX &wfx, LONG rate) {
        return w.Open(rate, wfx.nSamplesPerSec, wfx.nChannels, name);
    }>();

constexpr FileWriterBinding kOggWriter =
    BindWriter<COggWriter, [](COggWriter &w, const char *name, const WAVEFORMATEX &wfx, LONG rate) {
        return w.Open(rate, wfx.nSamplesPerSec, wfx.nChannels, name);
    }>();

// One sound-file writer serves three rows; the index tells it the container.
template <LONG nFileFormat>
constexpr FileWriterBinding
    kSndFileWriter = BindWriter<CSndFileWriter, [](CSndFileWriter &w, const char *name, const WAVEFORMATEX &wfx, LONG) {
        return w.Open(wfx, name, nFileFormat);
    }>();

constexpr FileWriterBinding kMp4Writer =
    BindWriter<CMp4Writer, [](CMp4Writer &w, const char *name, const WAVEFORMATEX &wfx, LONG rate) {
        return w.Open(rate, wfx.nSamplesPerSec, wfx.nChannels, name);
    }>();

constexpr FileWriterBinding kFlacWriter =
    BindWriter<CFlacWriter,
               [](CFlacWriter &w, const char *name, const WAVEFORMATEX &wfx, LONG) { return w.Open(wfx, name); }>();

// ---- the table -------------------------------------------------------------

constexpr FileTypeDescriptor kFileTypes[] = {
    {FF_WAVE, "wav", kWaveNames, kWaveAndFlacFormats, kWaveWriter, nullptr},
    {FF_MP3, "mp3", kMp3Names, kMp3Formats, kMp3Writer, nullptr},
    {FF_WMA, "wma", kWmaNames, kWmaFormats, kWmaWriter, &CWmaWriter::IsRuntimeAvailable},
    {FF_OGG, "ogg", kOggNames, kOggFormats, kOggWriter, nullptr},
    {FF_VOX, "vox", kVoxNames, kVoxFormats, kSndFileWriter<FF_VOX>, nullptr},
    {FF_AU, "au", kAuNames, kAuAndAiffFormats, kSndFileWriter<FF_AU>, nullptr},
    {FF_AIFF, "aiff", kAiffNames, kAuAndAiffFormats, kSndFileWriter<FF_AIFF>, nullptr},
    {FF_MP4, "mp4", kMp4Names, kMp4Formats, kMp4Writer, nullptr},
    {FF_FLAC, "flac", kFlacNames, kWaveAndFlacFormats, kFlacWriter, nullptr},
};

[[nodiscard]] constexpr bool RowsFollowTheirValues()
{
    for (size_t i = 0; i < std::size(kFileTypes); ++i)
        if (kFileTypes[i].nFileFormat != static_cast<LONG>(i))
            return false;
    return true;
}
static_assert(RowsFollowTheirValues(), "row i is FILEFORMAT i: the sink and the catalogue index the table");

[[nodiscard]] bool EqualsIgnoringCase(std::string_view a, std::string_view b)
{
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

} // namespace

std::span<const FileTypeDescriptor> AllFileTypes()
{
    return kFileTypes;
}

const FileTypeDescriptor *FindFileType(LONG nFileFormat)
{
    if (nFileFormat < 0 || nFileFormat >= static_cast<LONG>(std::size(kFileTypes)))
        return nullptr;
    return &kFileTypes[nFileFormat];
}

const FileTypeDescriptor *FindFileTypeByName(std::string_view name)
{
    for (const FileTypeDescriptor &type : kFileTypes) {
        if (EqualsIgnoringCase(type.label, name))
            return &type;
        for (std::string_view n : type.names)
            if (EqualsIgnoringCase(n, name))
                return &type;
    }
    return nullptr;
}

[[nodiscard]] bool IsFileTypeAvailable(const FileTypeDescriptor &type)
{
    return !type.isAvailable || type.isAvailable();
}

WAVEFORMATEX TargetFormatOf(const FormatEntry &entry)
{
    return orafon::PcmFormat(entry.nSampleRate, entry.nChannels, entry.wBitsPerSample);
}

[[nodiscard]] LONG BitRateOf(const FormatEntry &entry)
{
    return entry.nBitRate ? entry.nBitRate : static_cast<LONG>(TargetFormatOf(entry).nAvgBytesPerSec * 8);
}
