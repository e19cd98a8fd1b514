// The MP4 writer: quality levels, block gathering, the atoms of the file read
// back by a walk of our own and by ffprobe and mediainfo, a sine decoded by
// FFmpeg (nothing lost at the end, nothing added at the start), the encoder
// library on its own, and bad input.
#include "Mp4Writer.h"
#include "AacEncoderApi.h"
#include "AudioSink.h"
#include "AudioTestSupport.h"
#include "Mp4Support.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstring>

namespace {

using namespace audiotest;
using mp4test::Mp4Facts;
using mp4test::ReadMp4;

// 16-bit stereo: the same sine on both channels.
std::vector<BYTE> StereoSine(size_t frames, double freq, double amplitude, DWORD rate = 44100)
{
    const auto mono = Sine16(rate, frames, freq, amplitude);
    std::vector<BYTE> b(frames * 4);
    for (size_t i = 0; i < frames; ++i) {
        std::memcpy(&b[4 * i], &mono[2 * i], 2);
        std::memcpy(&b[4 * i + 2], &mono[2 * i], 2);
    }
    return b;
}

// Something with the spread of speech: a few moving partials and some noise.
std::vector<BYTE> RichStereo(size_t frames)
{
    std::vector<BYTE> b(frames * 4);
    uint32_t noise = 12345;
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / 44100;
        noise = noise * 1664525u + 1013904223u;
        double v = 0.2 * std::sin(2 * M_PI * (180 + 40 * std::sin(2 * M_PI * 3 * t)) * t) +
                   0.1 * std::sin(2 * M_PI * 1250 * t) + 0.05 * std::sin(2 * M_PI * 3700 * t) +
                   0.04 * (static_cast<double>(noise >> 16) / 32768.0 - 1.0);
        const auto s = static_cast<int16_t>(std::lround(v * 32767));
        std::memcpy(&b[4 * i], &s, 2);
        const auto r = static_cast<int16_t>(s / 2);
        std::memcpy(&b[4 * i + 2], &r, 2);
    }
    return b;
}

HRESULT WriteAll(CMp4Writer &w, const std::vector<BYTE> &pcm, size_t piece = 8820)
{
    HRESULT hr = S_OK;
    for (size_t at = 0; at < pcm.size() && SUCCEEDED(hr); at += piece) {
        ULONG written = 0;
        hr = w.Write(static_cast<ULONG>(std::min(piece, pcm.size() - at)), pcm.data() + at, &written);
    }
    return hr;
}

Mp4Facts Facts(const std::string &path)
{
    const auto bytes = ReadAll(path);
    return ReadMp4(std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// Decoded by FFmpeg as 16-bit interleaved stereo at 44.1 kHz.
std::vector<int16_t> Decode(const std::string &path)
{
    int status = 0;
    const std::string raw =
        RunCommand("ffmpeg -nostdin -v error -i " + Quote(path) + " -f s16le -ac 2 -ar 44100 -", &status);
    EXPECT_EQ(0, status);
    std::vector<int16_t> s(raw.size() / 2);
    std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
}

std::string MediaInfo(const std::string &path, const std::string &field)
{
    std::string v = RunCommand("mediainfo --Inform='Audio;%" + field + "%' " + Quote(path));
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r'))
        v.pop_back();
    return v;
}

// The two bytes of an AAC LC AudioSpecificConfig, alone or followed by the
// extension that says outright that no SBR layer is present.
bool IsAudioSpecificConfig(const std::vector<unsigned char> &head, const std::vector<unsigned char> &asc)
{
    const std::vector<unsigned char> noSbr = {0x56, 0xE5, 0x00};
    if (asc.size() != 2 && asc.size() != 5)
        return false;
    return std::equal(head.begin(), head.end(), asc.begin()) &&
           (asc.size() == 2 || std::equal(noSbr.begin(), noSbr.end(), asc.begin() + 2));
}

TEST(Mp4WriterQuality, CatalogueBitRatesChooseTheLevel)
{
    const std::pair<LONG, ULONG> cases[] = {{33000, 50},  {33999, 50},  {47000, 100}, {57000, 150},
                                            {57999, 150}, {32999, 100}, {0, 100},     {128000, 100}};
    for (auto [rate, level] : cases)
        EXPECT_EQ(level, CMp4Writer::QuantQualFor(rate)) << rate;
}

TEST(Mp4WriterQuality, SettingsAreLowComplexityRawSixteenBit)
{
    faacEncConfiguration cfg{};
    cfg.bitRate = 0;
    CMp4Writer::ApplySettings(cfg, 57000);
    EXPECT_EQ(FAAC_MPEG4, cfg.mpegVersion);
    EXPECT_EQ(FAAC_LOW, cfg.aacObjectType);
    EXPECT_EQ(1u, cfg.allowMidside);
    EXPECT_EQ(1u, cfg.useTns);
    EXPECT_EQ(SHORTCTL_NORMAL, cfg.shortctl);
    EXPECT_EQ(0xFFFFFFFFu, cfg.bandWidth);
    EXPECT_EQ(150u, cfg.quantqual);
    EXPECT_EQ(FAAC_OUTPUT_RAW, cfg.outputFormat);
    EXPECT_EQ(FAAC_INPUT_16BIT, cfg.inputFormat);
    EXPECT_EQ(0u, cfg.bitRate); // quality-controlled
}

class Mp4WriterTest : public TempDirTest {};

TEST_F(Mp4WriterTest, FourKilobytesOfStereoFillOneBlockAndCallTheEncoderOnce)
{
    CMp4Writer w;
    ASSERT_EQ(S_OK, w.Open(47000, 44100, 2, Path("block.mp4").c_str()));
    ASSERT_EQ(2048u, w.GetSamplesPerBlock());
    const auto pcm = StereoSine(2048, 1000, 0.5);
    ULONG written = 0;
    ASSERT_EQ(S_OK, w.Write(4095, pcm.data(), &written));
    EXPECT_EQ(4095u, written);
    EXPECT_EQ(0u, w.GetEncodeCalls());
    ASSERT_EQ(S_OK, w.Write(1, pcm.data() + 4095, &written));
    EXPECT_EQ(1u, w.GetEncodeCalls());
    EXPECT_EQ(0u, w.GetPendingSamples());
    ASSERT_EQ(S_OK, w.Write(4096 * 2, pcm.data(), &written)); // two more blocks in one write
    EXPECT_EQ(3u, w.GetEncodeCalls());
    EXPECT_EQ(S_OK, w.Close());
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(S_OK, w.Close()); // idle
}

TEST_F(Mp4WriterTest, TheFileSaysWhatTheFormatFixes)
{
    const std::string path = Path("atoms.mp4");
    const size_t frames = 10 * 1024 + 300;
    CMp4Writer w;
    ASSERT_EQ(S_OK, w.Open(47000, 44100, 2, path.c_str()));
    ASSERT_EQ(S_OK, WriteAll(w, StereoSine(frames, 1000, 0.5), 1000));
    ASSERT_EQ(S_OK, w.Close());

    const Mp4Facts f = Facts(path);
    EXPECT_TRUE(f.ftypFirst);
    EXPECT_TRUE(f.hasIods);
    EXPECT_EQ(0x0F, f.iodsAudioProfile);
    EXPECT_EQ(90000u, f.movieTimeScale);
    EXPECT_EQ(1, f.tracks);
    EXPECT_EQ(44100u, f.trackTimeScale);
    EXPECT_EQ("mp4a", f.sampleEntry);
    EXPECT_EQ(0x40, f.objectType);
    // The AudioSpecificConfig: object type 2 (LC), rate index 4 (44100), 2 channels.
    EXPECT_TRUE(IsAudioSpecificConfig({0x12, 0x10}, f.decoderInfo));
    EXPECT_FALSE(f.hasStss && f.syncSamples != f.sampleCount); // every frame a sync sample
    // One frame of priming, the frames of the input, the last one short.
    ASSERT_EQ(12u, f.sampleCount);
    ASSERT_EQ(12u, f.durations.size());
    for (size_t i = 0; i + 1 < f.durations.size(); ++i)
        EXPECT_EQ(1024u, f.durations[i]) << "sample " << i;
    EXPECT_EQ(300u, f.durations.back());
    // The priming is skipped by the edit list, which plays exactly the input.
    ASSERT_EQ(1u, f.edits.size());
    EXPECT_EQ(1024, f.edits[0].second);
    EXPECT_NEAR(static_cast<double>(frames) * 90000 / 44100, static_cast<double>(f.edits[0].first), 1.0);

    EXPECT_EQ("aac", Probe(path, "codec_name"));
    EXPECT_EQ("LC", Probe(path, "profile"));
    EXPECT_EQ("44100", Probe(path, "sample_rate"));
    EXPECT_EQ("2", Probe(path, "channels"));
    EXPECT_EQ(std::to_string(frames), Probe(path, "duration_ts"));
    EXPECT_EQ("AAC", MediaInfo(path, "Format"));
    EXPECT_NE(std::string::npos, MediaInfo(path, "Format_AdditionalFeatures").find("LC"));
}

TEST_F(Mp4WriterTest, CloseWithAHundredPendingStereoSamples)
{
    const std::string path = Path("short.mp4");
    CMp4Writer w;
    ASSERT_EQ(S_OK, w.Open(47000, 44100, 2, path.c_str()));
    const auto pcm = StereoSine(50, 1000, 0.5);
    ULONG written = 0;
    ASSERT_EQ(S_OK, w.Write(200, pcm.data(), &written));
    EXPECT_EQ(100u, w.GetPendingSamples());
    EXPECT_EQ(0u, w.GetEncodeCalls());
    ASSERT_EQ(S_OK, w.Close());
    const Mp4Facts f = Facts(path);
    // The pending samples went to the encoder once, and the frames it held came out.
    ASSERT_EQ(2u, f.durations.size());
    EXPECT_EQ(1024u, f.durations[0]);
    EXPECT_EQ(50u, f.durations[1]);
    ASSERT_EQ(1u, f.edits.size());
    EXPECT_EQ(1024, f.edits[0].second);
    EXPECT_NEAR(50.0 * 90000 / 44100, static_cast<double>(f.edits[0].first), 1.0);
    EXPECT_EQ("50", Probe(path, "duration_ts"));
}

// Mends the end (the encoder is drained) and the start (the priming is not
// heard): the decoded sine is the input, with its frequency, level and length.
TEST_F(Mp4WriterTest, ASineComesBackWithItsFrequencyLevelAndLength)
{
    const std::string path = Path("sine.mp4");
    const size_t frames = 44100 + 777;
    const double amplitude = 0.5;
    const auto pcm = StereoSine(frames, 1000, amplitude);
    CMp4Writer w;
    ASSERT_EQ(S_OK, w.Open(57000, 44100, 2, path.c_str()));
    ASSERT_EQ(S_OK, WriteAll(w, pcm, 3333));
    ASSERT_EQ(S_OK, w.Close());

    const auto decoded = Decode(path);
    const size_t decodedFrames = decoded.size() / 2;
    EXPECT_LE(std::abs(static_cast<long>(decodedFrames) - static_cast<long>(frames)), 1024L) << decodedFrames;
    ASSERT_GE(decodedFrames, frames - 1024);

    // Level: the RMS of the left channel away from the edges, against a sine's.
    double sum = 0;
    size_t n = 0, crossings = 0;
    for (size_t i = 2048; i + 2048 < frames; ++i, ++n) {
        const double v = decoded[2 * i] / 32768.0;
        sum += v * v;
        if ((decoded[2 * i] < 0) != (decoded[2 * i + 2] < 0))
            ++crossings;
    }
    const double rmsDb = 20 * std::log10(std::sqrt(sum / static_cast<double>(n)) / (amplitude / std::sqrt(2.0)));
    EXPECT_NEAR(0.0, rmsDb, 0.5);
    // Frequency: two zero crossings per period.
    const double hz = static_cast<double>(crossings) / 2 / (static_cast<double>(n) / 44100);
    EXPECT_NEAR(1000.0, hz, 2.0);
    // Alignment: the first samples are the input's first samples, not priming silence.
    double err = 0, ref = 0;
    for (size_t i = 64; i < 1088; ++i) {
        int16_t in;
        std::memcpy(&in, &pcm[4 * i], 2);
        err += std::pow(decoded[2 * i] - in, 2);
        ref += std::pow(static_cast<double>(in), 2);
    }
    EXPECT_LT(10 * std::log10(err / ref), -20.0) << "the decoded start is not the input's start";
    // The end: the last full cycle before the input ends is still there.
    double tail = 0;
    for (size_t i = frames - 500; i < frames - 50; ++i)
        tail += std::pow(decoded[2 * i] / 32768.0, 2);
    EXPECT_NEAR(0.0, 20 * std::log10(std::sqrt(tail / 450) / (amplitude / std::sqrt(2.0))), 1.0);
}

TEST_F(Mp4WriterTest, QualityLevelsGiveRisingBitRates)
{
    const auto pcm = RichStereo(44100 * 3);
    std::vector<long> rates;
    for (LONG catalogue : {33000, 47000, 57000}) {
        const std::string path = Path("q" + std::to_string(catalogue) + ".mp4");
        CMp4Writer w;
        ASSERT_EQ(S_OK, w.Open(catalogue, 44100, 2, path.c_str()));
        ASSERT_EQ(S_OK, WriteAll(w, pcm));
        ASSERT_EQ(S_OK, w.Close());
        rates.push_back(std::stol(Probe(path, "bit_rate")));
    }
    std::cout << "bit rates (33000, 47000, 57000): " << rates[0] << ", " << rates[1] << ", " << rates[2] << "\n";
    EXPECT_LT(rates[0] * 11 / 10, rates[1]);
    EXPECT_LT(rates[1] * 11 / 10, rates[2]);
}

TEST_F(Mp4WriterTest, OpenFailuresLeaveNothingBehind)
{
    CMp4Writer w;
    EXPECT_EQ(E_FAIL, w.Open(47000, 44100, 2, Path("no/folder/x.mp4").c_str()));
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(fs::exists(Path("no")));
    // A folder where the file should be.
    fs::create_directory(Path("taken.mp4"));
    EXPECT_EQ(E_FAIL, w.Open(47000, 44100, 2, Path("taken.mp4").c_str()));
    EXPECT_FALSE(w.IsOpen());
    // What the encoder cannot do is refused before any file exists.
    const std::string refused = Path("refused.mp4");
    EXPECT_EQ(E_FAIL, w.Open(47000, 44000, 2, refused.c_str()));
    EXPECT_EQ(E_FAIL, w.Open(47000, 44100, 0, refused.c_str()));
    EXPECT_FALSE(fs::exists(refused));
    EXPECT_EQ(E_INVALIDARG, w.Open(47000, 44100, 2, ""));
    EXPECT_EQ(E_INVALIDARG, w.Open(47000, 44100, 2, nullptr));
    ULONG written = 7;
    const BYTE b[4] = {};
    EXPECT_EQ(E_FAIL, w.Write(4, b, &written));
    EXPECT_EQ(0u, written);
    EXPECT_EQ(S_OK, w.Close());
    // After all that, a file still opens.
    ASSERT_EQ(S_OK, w.Open(33000, 44100, 2, Path("after.mp4").c_str()));
    EXPECT_EQ(S_OK, WriteAll(w, StereoSine(4410, 1000, 0.5)));
    EXPECT_EQ(S_OK, w.Close());
    EXPECT_EQ("aac", Probe(Path("after.mp4"), "codec_name"));
}

TEST_F(Mp4WriterTest, FullDiskIsAFailure)
{
    // The muxer writes the start of the file at open; a full disk refuses it.
    CMp4Writer w;
    EXPECT_EQ(E_FAIL, w.Open(57000, 44100, 2, "/dev/full"));
    EXPECT_FALSE(w.IsOpen());
    ULONG written = 0;
    const BYTE b[4] = {};
    EXPECT_EQ(E_FAIL, w.Write(4, b, &written));
}

// The disk fills up while the file grows: the file size limit makes every
// write past 16 kB fail (EFBIG), as a full disk would.
TEST_F(Mp4WriterTest, AFileThatStopsGrowingIsAFailure)
{
    const std::string path = Path("limited.mp4");
    CMp4Writer w;
    ASSERT_EQ(S_OK, w.Open(57000, 44100, 2, path.c_str()));
    struct rlimit old {};
    ASSERT_EQ(0, getrlimit(RLIMIT_FSIZE, &old));
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = old;
    limited.rlim_cur = 16384;
    ASSERT_EQ(0, setrlimit(RLIMIT_FSIZE, &limited));
    const HRESULT hrWrite = WriteAll(w, RichStereo(44100 * 3));
    const HRESULT hrClose = w.Close();
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    EXPECT_EQ(E_FAIL, hrClose) << std::hex << hrWrite;
    EXPECT_FALSE(w.IsOpen());
    EXPECT_LE(fs::file_size(path), 16384u);
}

// Runs with another encoder library name and restores the real one after.
class AacLibraryTest : public TempDirTest {
protected:
    void Use(const char *name)
    {
        AacEncoderApiUnload();
        AacEncoderApiSetLibraryName(name);
    }
    void TearDown() override
    {
        Use("aac_enc.so");
        TempDirTest::TearDown();
    }
};

TEST_F(AacLibraryTest, WithoutTheLibraryMp4IsNotImplementedAndWavStillWorks)
{
    Use("aac_enc_absent.so");
    const std::string mp4 = Path("none.mp4");
    CMp4Writer w;
    EXPECT_EQ(E_NOTIMPL, w.Open(47000, 44100, 2, mp4.c_str()));
    EXPECT_FALSE(w.IsOpen());
    EXPECT_FALSE(fs::exists(mp4));
    CAudioSink sink;
    sink.SetFileFormat(FF_MP4);
    const WAVEFORMATEX src = orafon::PcmFormat(22050, 1, 16), dst = orafon::PcmFormat(44100, 2, 16);
    EXPECT_EQ(E_NOTIMPL, sink.Open(mp4.c_str(), &src, &dst, 47000));
    EXPECT_FALSE(fs::exists(mp4));
    EXPECT_FALSE(sink.IsConverting());
    EXPECT_EQ(nullptr, AacEncoderApiGet().hModule);

    const std::string wav = Path("still.wav");
    sink.SetFileFormat(FF_WAVE);
    ASSERT_EQ(S_OK, sink.Open(wav.c_str(), &src, &dst, 1411200));
    const auto pcm = Sine16(22050, 2205);
    EXPECT_EQ(S_OK, sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
    EXPECT_EQ(S_OK, sink.Close());
    EXPECT_EQ("44100", Probe(wav, "sample_rate"));
}

// The library's own contract, through the table the writer uses.
class AacEncoderLibraryTest : public testing::Test {
protected:
    void SetUp() override
    {
        AacEncoderApiLoad();
        m_api = AacEncoderApiGet();
        ASSERT_TRUE(m_api.IsComplete());
    }
    AacEncoderApi m_api;
};

TEST_F(AacEncoderLibraryTest, OpenGivesTheBlockAndTheLargestFrame)
{
    const std::pair<UINT, ULONG> cases[] = {{1, 1024}, {2, 2048}};
    for (auto [channels, samples] : cases) {
        ULONG in = 0, out = 0;
        faacEncHandle h = m_api.faacEncOpen(44100, channels, &in, &out);
        ASSERT_NE(nullptr, h);
        EXPECT_EQ(samples, in);
        EXPECT_EQ(768u * channels, out);
        EXPECT_EQ(0, m_api.faacEncClose(h));
    }
    ULONG in = 0, out = 0;
    EXPECT_EQ(nullptr, m_api.faacEncOpen(44000, 2, &in, &out));
    EXPECT_EQ(nullptr, m_api.faacEncOpen(44100, 0, &in, &out));
    EXPECT_EQ(nullptr, m_api.faacEncOpen(44100, 2, nullptr, &out));
}

TEST_F(AacEncoderLibraryTest, RefusesWhatItCannotDoAndStaleHandles)
{
    ULONG in = 0, out = 0;
    faacEncHandle h = m_api.faacEncOpen(44100, 2, &in, &out);
    ASSERT_NE(nullptr, h);
    faacEncConfigurationPtr cfg = m_api.faacEncGetCurrentConfiguration(h);
    ASSERT_NE(nullptr, cfg);
    EXPECT_EQ(FAAC_LOW, cfg->aacObjectType);
    EXPECT_EQ(100u, cfg->quantqual);
    const faacEncConfiguration good = *cfg;
    struct Bad {
        const char *what;
        void (*change)(faacEncConfiguration &);
    };
    const Bad bad[] = {
        {"ADTS", [](faacEncConfiguration &c) { c.outputFormat = FAAC_OUTPUT_ADTS; }},
        {"Main profile", [](faacEncConfiguration &c) { c.aacObjectType = FAAC_MAIN; }},
        {"float input", [](faacEncConfiguration &c) { c.inputFormat = FAAC_INPUT_FLOAT; }},
        {"LFE", [](faacEncConfiguration &c) { c.useLfe = 1; }},
        {"no long blocks", [](faacEncConfiguration &c) { c.shortctl = SHORTCTL_NOLONG; }},
    };
    for (const Bad &b : bad) {
        faacEncConfiguration c = good;
        b.change(c);
        EXPECT_EQ(0, m_api.faacEncSetConfiguration(h, &c)) << b.what;
    }
    faacEncConfiguration c = good;
    c.quantqual = 150;
    EXPECT_EQ(1, m_api.faacEncSetConfiguration(h, &c));
    EXPECT_EQ(150u, m_api.faacEncGetCurrentConfiguration(h)->quantqual);

    // The first block: no frame yet (the priming), and the configuration is fixed from now on.
    std::vector<int16_t> block(2048, 0);
    std::vector<unsigned char> frame(out);
    EXPECT_EQ(0, m_api.faacEncEncode(h, reinterpret_cast<int32_t *>(block.data()), 2048, frame.data(), out));
    EXPECT_EQ(0, m_api.faacEncSetConfiguration(h, &c));
    EXPECT_GT(m_api.faacEncEncode(h, reinterpret_cast<int32_t *>(block.data()), 2048, frame.data(), out), 0);
    // More than a block, or half a sample frame, is refused.
    EXPECT_EQ(-1, m_api.faacEncEncode(h, reinterpret_cast<int32_t *>(block.data()), 2050, frame.data(), out));
    EXPECT_EQ(-1, m_api.faacEncEncode(h, reinterpret_cast<int32_t *>(block.data()), 7, frame.data(), out));
    // Draining gives the held frames, then nothing; input after that is refused.
    int drained = 0;
    while (m_api.faacEncEncode(h, nullptr, 0, frame.data(), out) > 0)
        ++drained;
    EXPECT_GE(drained, 1);
    EXPECT_EQ(-1, m_api.faacEncEncode(h, reinterpret_cast<int32_t *>(block.data()), 2048, frame.data(), out));
    EXPECT_EQ(0, m_api.faacEncClose(h));
    // The handle is gone.
    EXPECT_EQ(nullptr, m_api.faacEncGetCurrentConfiguration(h));
    EXPECT_EQ(-1, m_api.faacEncEncode(h, nullptr, 0, frame.data(), out));
    EXPECT_EQ(-1, m_api.faacEncClose(h));
}

TEST_F(AacEncoderLibraryTest, DecoderSpecificInfoIsTheAudioSpecificConfig)
{
    const struct {
        ULONG rate;
        UINT channels;
        std::vector<unsigned char> asc;
    } cases[] = {{44100, 2, {0x12, 0x10}}, {22050, 1, {0x13, 0x88}}, {48000, 2, {0x11, 0x90}}};
    for (const auto &c : cases) {
        ULONG in = 0, out = 0;
        faacEncHandle h = m_api.faacEncOpen(c.rate, c.channels, &in, &out);
        ASSERT_NE(nullptr, h);
        unsigned char *info = nullptr;
        ULONG size = 0;
        ASSERT_EQ(0, m_api.faacEncGetDecoderSpecificInfo(h, &info, &size));
        EXPECT_TRUE(IsAudioSpecificConfig(c.asc, std::vector<unsigned char>(info, info + size)))
            << c.rate << " Hz, " << c.channels;
        m_api.faacEncFreeDecoderSpecificInfo(info);
        m_api.faacEncClose(h);
    }
}

} // namespace
