// The VOX, AU and AIFF writer alone, over every catalogue entry of its three
// file types, checked by sox and ffprobe.
#include "SndFileWriter.h"
#include "AudioTestSupport.h"
#include "FileType.h"

#include <orafon/OrafonIds.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <map>
#include <sstream>

namespace {

using namespace audiotest;

constexpr double kToneHz = 1000;
constexpr double kToneAmplitude = 0.5; // of full scale

// Interleaved 16-bit sine, the same tone in every channel.
std::vector<BYTE> Tone(DWORD rate, WORD channels, size_t frames)
{
    const std::vector<BYTE> mono = Sine16(rate, frames, kToneHz, kToneAmplitude);
    std::vector<BYTE> out(frames * channels * 2);
    for (size_t f = 0; f < frames; ++f)
        for (WORD c = 0; c < channels; ++c)
            std::memcpy(&out[(f * channels + c) * 2], &mono[f * 2], 2);
    return out;
}

// sox's "Name : value" lines of `sox --i`.
std::map<std::string, std::string> SoxInfo(const std::string &path)
{
    std::map<std::string, std::string> info;
    std::istringstream in(RunCommand("sox --i " + Quote(path) + " 2>&1"));
    for (std::string line; std::getline(in, line);) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(" \t"));
            s.erase(s.find_last_not_of(" \t\r") + 1);
            return s;
        };
        info[trim(line.substr(0, colon))] = trim(line.substr(colon + 1));
    }
    return info;
}

// The sample frames sox counts in a file with a header.
std::string SoxSamples(const std::string &path)
{
    std::string n = RunCommand("sox --i -s " + Quote(path) + " 2>/dev/null");
    while (!n.empty() && n.back() == '\n')
        n.pop_back();
    return n;
}

// The first channel of the file as 16-bit samples, decoded by sox.
std::vector<int16_t> DecodeFirstChannel(const std::string &path, WORD channels, const std::string &typeArgs = "")
{
    const std::string raw =
        RunCommand("sox " + typeArgs + " " + Quote(path) + " -t raw -e signed-integer -b 16 -L - 2>/dev/null");
    std::vector<int16_t> samples;
    const size_t frameBytes = channels * 2u;
    for (size_t at = 0; at + frameBytes <= raw.size(); at += frameBytes) {
        int16_t s;
        std::memcpy(&s, raw.data() + at, 2);
        samples.push_back(s);
    }
    return samples;
}

// Frequency by counting rising crossings with hysteresis, so coding noise near
// zero does not add crossings; samples before skip are left out (an ADPCM
// coder is still adapting there).
double MeasuredFrequency(const std::vector<int16_t> &s, DWORD rate, size_t skip)
{
    constexpr int kHysteresis = 3000;
    bool high = false;
    size_t first = 0, last = 0;
    int rises = 0;
    for (size_t i = skip; i < s.size(); ++i) {
        if (!high && s[i] > kHysteresis) {
            high = true;
            if (rises++ == 0)
                first = i;
            last = i;
        } else if (high && s[i] < -kHysteresis) {
            high = false;
        }
    }
    if (rises < 2)
        return 0;
    return (rises - 1) * static_cast<double>(rate) / static_cast<double>(last - first);
}

double Rms(const std::vector<int16_t> &s, size_t skip)
{
    double sum = 0;
    for (size_t i = skip; i < s.size(); ++i)
        sum += static_cast<double>(s[i]) * s[i];
    return s.size() > skip ? std::sqrt(sum / static_cast<double>(s.size() - skip)) : 0;
}

struct CatalogueCase {
    LONG nFileFormat;
    FormatEntry entry;
    size_t index;
};

std::vector<CatalogueCase> SndFileCatalogue()
{
    std::vector<CatalogueCase> cases;
    for (LONG ff : {FF_VOX, FF_AU, FF_AIFF}) {
        const FileTypeDescriptor *type = FindFileType(ff);
        for (size_t i = 0; i < type->formats.size(); ++i)
            cases.push_back({ff, type->formats[i], i});
    }
    return cases;
}

std::string CaseName(const testing::TestParamInfo<CatalogueCase> &info)
{
    const CatalogueCase &c = info.param;
    return std::string(FindFileType(c.nFileFormat)->label) + "_" + std::to_string(c.index) + "_" +
           std::to_string(c.entry.nSampleRate) + "Hz_" + std::to_string(c.entry.nChannels) + "ch";
}

std::string VoxArgs(DWORD rate)
{
    return "-t vox -r " + std::to_string(rate) + " -c 1";
}

class SndFileCatalogueTest : public TempDirTest, public testing::WithParamInterface<CatalogueCase> {};

TEST_P(SndFileCatalogueTest, ToneComesBackWithItsShapeFrequencyAndLevel)
{
    const CatalogueCase &c = GetParam();
    const WAVEFORMATEX wfx = TargetFormatOf(c.entry);
    const DWORD rate = wfx.nSamplesPerSec;
    const size_t frames = rate * 3 / 10; // 0.3 s
    const std::string path = Path("tone." + std::string(FindFileType(c.nFileFormat)->label));
    const std::vector<BYTE> pcm = Tone(rate, wfx.nChannels, frames);

    CSndFileWriter writer;
    ASSERT_EQ(S_OK, writer.Open(wfx, path.c_str(), c.nFileFormat));
    ULONG written = 0;
    ASSERT_EQ(S_OK, writer.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
    EXPECT_EQ(pcm.size(), written);
    ASSERT_EQ(S_OK, writer.Close());

    const bool vox = c.nFileFormat == FF_VOX;
    const std::string typeArgs = vox ? VoxArgs(rate) : "";
    if (vox) {
        // Two 4-bit codes a byte, no header: nothing to read back but the codes.
        EXPECT_EQ((frames + 1) / 2, fs::file_size(path));
    } else {
        auto info = SoxInfo(path);
        EXPECT_EQ(std::to_string(rate), info["Sample Rate"]);
        EXPECT_EQ(std::to_string(wfx.nChannels), info["Channels"]);
        EXPECT_EQ("16-bit", info["Precision"]);
        EXPECT_EQ("16-bit Signed Integer PCM", info["Sample Encoding"]);
        EXPECT_EQ(c.nFileFormat == FF_AU ? "au" : "aiff", RunCommand("sox --i -t " + Quote(path) + " | tr -d '\\n'"));
        EXPECT_EQ("pcm_s16be\n" + std::to_string(rate) + "\n" + std::to_string(wfx.nChannels),
                  Probe(path, "codec_name,sample_rate,channels"));
    }

    const std::vector<int16_t> decoded = DecodeFirstChannel(path, wfx.nChannels, typeArgs);
    const size_t settle = rate / 20; // 50 ms
    if (vox) {
        EXPECT_NEAR(static_cast<double>(frames), static_cast<double>(decoded.size()), 1.0);
    } else {
        ASSERT_EQ(frames, decoded.size());
    }
    EXPECT_NEAR(kToneHz, MeasuredFrequency(decoded, rate, settle), 5.0);
    const double expectedRms = kToneAmplitude * 32767 / std::sqrt(2.0);
    // PCM is exact; 4-bit ADPCM keeps the level within a few per cent once adapted.
    EXPECT_NEAR(expectedRms, Rms(decoded, settle), expectedRms * (vox ? 0.08 : 0.001));
    if (!vox) {
        // Byte for byte the samples given.
        std::vector<int16_t> given;
        for (size_t f = 0; f < frames; ++f) {
            int16_t s;
            std::memcpy(&s, &pcm[f * wfx.nChannels * 2], 2);
            given.push_back(s);
        }
        EXPECT_EQ(given, decoded);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryEntry, SndFileCatalogueTest, testing::ValuesIn(SndFileCatalogue()), CaseName);

class SndFileWriterTest : public TempDirTest {};

TEST_F(SndFileWriterTest, FormatValues)
{
    EXPECT_EQ(0x00040021, CSndFileWriter::SndFileFormatOf(FF_VOX));
    EXPECT_EQ(0x00030002, CSndFileWriter::SndFileFormatOf(FF_AU));
    EXPECT_EQ(0x00020002, CSndFileWriter::SndFileFormatOf(FF_AIFF));
    for (LONG other : std::initializer_list<LONG>{FF_WAVE, FF_MP3, FF_OGG, FF_FLAC, -1, 9})
        EXPECT_EQ(0, CSndFileWriter::SndFileFormatOf(other));
}

TEST_F(SndFileWriterTest, OddSizedWritesGiveTheSameFileAsOneWrite)
{
    // Single bytes and 10-byte writes split samples and stereo frames, 6-byte
    // writes give the VOX coder odd sample counts; nothing may be lost,
    // shifted or padded in between.
    for (auto [ff, channels] : {std::pair{FF_AIFF, WORD{2}}, std::pair{FF_AU, WORD{1}}, std::pair{FF_VOX, WORD{1}}}) {
        SCOPED_TRACE(ff);
        const WAVEFORMATEX wfx = orafon::PcmFormat(22050, channels, 16);
        const std::vector<BYTE> pcm = Tone(22050, channels, 2001);
        auto writeIn = [&](const std::string &name, size_t piece) {
            CSndFileWriter w;
            EXPECT_EQ(S_OK, w.Open(wfx, Path(name).c_str(), ff));
            ULONG total = 0;
            for (size_t at = 0; at < pcm.size(); at += piece) {
                const ULONG n = static_cast<ULONG>(std::min(piece, pcm.size() - at));
                ULONG written = 0;
                EXPECT_EQ(S_OK, w.Write(n, pcm.data() + at, &written));
                total += written;
            }
            EXPECT_EQ(pcm.size(), total);
            EXPECT_EQ(S_OK, w.Close());
            return ReadAll(Path(name));
        };
        const auto whole = writeIn("whole", pcm.size());
        EXPECT_EQ(whole, writeIn("bytes", 1));
        EXPECT_EQ(whole, writeIn("tens", 10));
        EXPECT_EQ(whole, writeIn("sixes", 6));
        EXPECT_EQ(whole, writeIn("odd", 333));
        if (ff == FF_VOX) {
            EXPECT_EQ(1001u, whole.size()); // 2001 codes and one of padding at the very end
        } else {
            const std::string ext = ff == FF_AU ? ".au" : ".aiff";
            fs::rename(Path("tens"), Path("tens" + ext));
            EXPECT_EQ("2001", SoxSamples(Path("tens" + ext)));
        }
    }
}

TEST_F(SndFileWriterTest, OneByteWriteAloneLeavesAnEmptyValidFile)
{
    const std::string path = Path("one.au");
    CSndFileWriter w;
    ASSERT_EQ(S_OK, w.Open(orafon::PcmFormat(8000, 1, 16), path.c_str(), FF_AU));
    const BYTE b = 0x7F;
    ULONG written = 0;
    EXPECT_EQ(S_OK, w.Write(1, &b, &written));
    EXPECT_EQ(1u, written); // taken, waiting for the rest of its sample
    EXPECT_EQ(S_OK, w.Close());
    EXPECT_EQ("0", SoxSamples(path));
}

TEST_F(SndFileWriterTest, OneObjectWritesAnAuFileThenAnAiffFile)
{
    CSndFileWriter w;
    const WAVEFORMATEX wfx = orafon::PcmFormat(16000, 1, 16);
    const std::vector<BYTE> pcm = Tone(16000, 1, 1600);
    ULONG written = 0;
    for (auto [ff, name, type] : {std::tuple{FF_AU, "a.au", "au"}, std::tuple{FF_AIFF, "b.aiff", "aiff"},
                                  std::tuple{FF_VOX, "c.vox", ""}, std::tuple{FF_AU, "d.au", "au"}}) {
        SCOPED_TRACE(name);
        ASSERT_EQ(S_OK, w.Open(wfx, Path(name).c_str(), ff));
        ASSERT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
        ASSERT_EQ(S_OK, w.Close());
        if (*type) {
            EXPECT_EQ(type, RunCommand("sox --i -t " + Quote(Path(name)) + " | tr -d '\\n'"));
            EXPECT_EQ("1600", SoxSamples(Path(name)));
        } else {
            EXPECT_EQ(800u, fs::file_size(Path(name)));
        }
    }
}

TEST_F(SndFileWriterTest, OpeningAgainFinishesTheOpenFile)
{
    CSndFileWriter w;
    const WAVEFORMATEX wfx = orafon::PcmFormat(8000, 2, 16);
    const std::vector<BYTE> pcm = Tone(8000, 2, 800);
    ULONG written = 0;
    ASSERT_EQ(S_OK, w.Open(wfx, Path("first.au").c_str(), FF_AU));
    ASSERT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
    ASSERT_EQ(S_OK, w.Open(wfx, Path("second.aiff").c_str(), FF_AIFF));
    ASSERT_EQ(S_OK, w.Close());
    EXPECT_EQ("800", SoxSamples(Path("first.au")));
}

TEST_F(SndFileWriterTest, FilesClosedWithoutAudioAreValid)
{
    for (auto [ff, name] : {std::pair{FF_AU, "e.au"}, std::pair{FF_AIFF, "e.aiff"}}) {
        SCOPED_TRACE(name);
        CSndFileWriter w;
        ASSERT_EQ(S_OK, w.Open(orafon::PcmFormat(44100, 2, 16), Path(name).c_str(), ff));
        ASSERT_EQ(S_OK, w.Close());
        EXPECT_EQ("44100\n2", Probe(Path(name), "sample_rate,channels"));
        EXPECT_EQ("0", RunCommand("ffmpeg -v error -i " + Quote(Path(name)) + " -f s16le - | wc -c | tr -d '\\n'"));
    }
    // sox reads the empty AU file; it refuses any AIFF file without sound data,
    // though the AIFF format allows one.
    EXPECT_EQ("0", SoxSamples(Path("e.au")));
    CSndFileWriter w;
    ASSERT_EQ(S_OK, w.Open(orafon::PcmFormat(8000, 1, 16), Path("e.vox").c_str(), FF_VOX));
    ASSERT_EQ(S_OK, w.Close());
    EXPECT_EQ(0u, fs::file_size(Path("e.vox")));
}

TEST_F(SndFileWriterTest, RefusedTargetsCreateNoFile)
{
    struct Refused {
        const char *what;
        WAVEFORMATEX wfx;
        LONG nFileFormat;
        HRESULT hr;
    };
    WAVEFORMATEX notPcm = orafon::PcmFormat(8000, 1, 16);
    notPcm.wFormatTag = 3;
    const Refused cases[] = {
        {"VOX in stereo", orafon::PcmFormat(8000, 2, 16), FF_VOX, E_FAIL},
        {"8-bit AU", orafon::PcmFormat(8000, 1, 8), FF_AU, E_FAIL},
        {"no bits", orafon::PcmFormat(8000, 1, 0), FF_AIFF, E_FAIL},
        {"no channels", orafon::PcmFormat(8000, 0, 16), FF_AU, E_FAIL},
        {"six channels", orafon::PcmFormat(8000, 6, 16), FF_AIFF, E_FAIL},
        {"not PCM", notPcm, FF_AU, E_FAIL},
        {"WAV index", orafon::PcmFormat(8000, 1, 16), FF_WAVE, E_INVALIDARG},
        {"index outside the table", orafon::PcmFormat(8000, 1, 16), 9, E_INVALIDARG},
    };
    for (const Refused &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Path("refused");
        CSndFileWriter w;
        EXPECT_EQ(c.hr, w.Open(c.wfx, path.c_str(), c.nFileFormat));
        EXPECT_FALSE(w.IsOpen());
        EXPECT_FALSE(fs::exists(path));
        ULONG written = 7;
        const BYTE b[4] = {};
        EXPECT_EQ(CO_E_NOTINITIALIZED, w.Write(4, b, &written));
        EXPECT_EQ(0u, written);
        EXPECT_EQ(S_OK, w.Close());
    }
}

TEST_F(SndFileWriterTest, PathsThatCannotBeWritten)
{
    fs::create_directories(Path("adir"));
    std::ofstream(Path("afile")) << "a file, not a folder";
    // Refused even to root: a missing folder, a folder, a file used as a
    // folder, and a sysfs file without a write handler.
    std::vector<std::string> paths = {Path("no/such/folder/x"), Path("adir"), Path("afile/x")};
    if (fs::exists("/sys/kernel/notes"))
        paths.push_back("/sys/kernel/notes");
    for (LONG ff : {FF_VOX, FF_AU, FF_AIFF}) {
        SCOPED_TRACE(ff);
        for (const std::string &path : paths) {
            SCOPED_TRACE(path);
            CSndFileWriter w;
            EXPECT_EQ(E_FAIL, w.Open(orafon::PcmFormat(8000, 1, 16), path.c_str(), ff));
            EXPECT_FALSE(w.IsOpen());
        }
        EXPECT_TRUE(fs::is_directory(Path("adir")));
    }
}

TEST_F(SndFileWriterTest, AFullDeviceIsAFailure)
{
    const std::vector<BYTE> pcm = Tone(8000, 1, 8000);
    for (LONG ff : {FF_VOX, FF_AU, FF_AIFF}) {
        SCOPED_TRACE(ff);
        CSndFileWriter w;
        const HRESULT hrOpen = w.Open(orafon::PcmFormat(8000, 1, 16), "/dev/full", ff);
        if (FAILED(hrOpen)) {
            EXPECT_EQ(E_FAIL, hrOpen); // the header could not be written
            continue;
        }
        ULONG written = 0;
        const HRESULT hrWrite = w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written);
        // VOX keeps its last codes until the file is closed; the PCM types write at once.
        if (ff != FF_VOX) {
            EXPECT_EQ(E_FAIL, hrWrite);
        }
        EXPECT_EQ(E_FAIL, w.Close());
    }
}

TEST_F(SndFileWriterTest, IdleAndBadArguments)
{
    CSndFileWriter w;
    ULONG written = 3;
    const BYTE b[2] = {};
    EXPECT_EQ(CO_E_NOTINITIALIZED, w.Write(2, b, &written));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(S_OK, w.Close());
    ASSERT_EQ(S_OK, w.Open(orafon::PcmFormat(8000, 1, 16), Path("x.au").c_str(), FF_AU));
    EXPECT_EQ(E_INVALIDARG, w.Write(2, nullptr, &written));
    EXPECT_EQ(E_INVALIDARG, w.Write(2, b, nullptr));
    EXPECT_EQ(S_OK, w.Write(0, nullptr, &written));
    EXPECT_EQ(S_OK, w.Close());
    EXPECT_EQ(S_OK, w.Close());
}

} // namespace
