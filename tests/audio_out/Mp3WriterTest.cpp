// The MP3 writer: bit rate snapping, the encoder configuration, block
// gathering, the finishing orders, every catalogue entry checked by real
// tools, and the encoder library's absence.
#include "Mp3Writer.h"
#include "AudioSink.h"
#include "AudioTestSupport.h"
#include "Mp3EncoderApi.h"

#include <gtest/gtest.h>

namespace {

using namespace audiotest;

TEST(Mp3WriterBitrate, SnapsToTheNearestRateWithTiesDown)
{
    const std::pair<LONG, DWORD> cases[] = {
        {20, 16}, {0, 16}, {-5, 16}, {1000, 320}, {28, 24}, {72, 64}, {127, 128}, {300, 320}, {288, 256}, {289, 320},
    };
    for (auto [in, out] : cases)
        EXPECT_EQ(out, CMp3Writer::SnapBitrate(in)) << in;
    for (DWORD rate : CMp3Writer::kMp3Bitrates)
        EXPECT_EQ(rate, CMp3Writer::SnapBitrate(static_cast<LONG>(rate)));
}

TEST(Mp3WriterConfig, FillsTheLameFormOfBeConfig)
{
    const BE_CONFIG cfg = CMp3Writer::MakeConfig(128, 44100, 1, -1);
    ASSERT_EQ(331u, sizeof(cfg));
    const auto *b = reinterpret_cast<const BYTE *>(&cfg);
    auto le32 = [&](size_t at) {
        int32_t v;
        std::memcpy(&v, b + at, 4);
        return v;
    };
    const std::pair<size_t, int32_t> fields[] = {
        {0, 256}, {4, 1},  {8, 331}, {12, 44100}, {16, 44100}, {20, 1}, {24, 128}, {28, 0},
        {32, -1}, {36, 1}, {40, 0},  {44, 0},     {48, 0},     {52, 0}, {56, 0},   {60, 1},
        {64, 1},  {68, 0}, {72, 0},  {76, 0},     {80, -1},    {84, 1}, {88, 1},
    };
    for (auto [offset, value] : fields)
        EXPECT_EQ(value, le32(offset)) << "offset " << offset;
    EXPECT_EQ(0, b[92] | (b[93] << 8));
    for (size_t i = 94; i < sizeof(cfg); ++i)
        ASSERT_EQ(0, b[i]) << "reserved byte " << i;
}

bool HasInfoTag(const std::string &path)
{
    const auto b = ReadAll(path);
    const std::string head(b.begin(), b.begin() + static_cast<long>(std::min<size_t>(b.size(), 200)));
    return head.find("Info") != std::string::npos || head.find("Xing") != std::string::npos;
}

// The channel mode bits of the first frame header: 0 stereo, 1 joint, 3 mono.
int FirstFrameMode(const std::string &path)
{
    const auto b = ReadAll(path);
    for (size_t i = 0; i + 4 <= b.size(); ++i)
        if (b[i] == 0xFF && (b[i + 1] & 0xE0) == 0xE0)
            return b[i + 3] >> 6;
    return -1;
}

// fewFrames: the file is deliberately shorter than mp3val's plausibility threshold.
void ExpectCleanDecode(const std::string &path, bool fewFrames = false)
{
    int status = 0;
    const std::string errors = RunCommand("ffmpeg -nostdin -v error -i " + Quote(path) + " -f null - 2>&1", &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ("", errors);
    // mp3val warns about the absence of ID3/APE tags, which this writer does not add.
    const std::string ignored = fewFrames ? "No supported tags\\|Too few MPEG frames" : "No supported tags";
    const std::string check = RunCommand("mp3val " + Quote(path) + " 2>&1 | grep -v '" + ignored + "'", &status);
    EXPECT_EQ(std::string::npos, check.find("WARNING")) << check;
    EXPECT_EQ(std::string::npos, check.find("ERROR")) << check;
}

class Mp3WriterTest : public TempDirTest {};

TEST_F(Mp3WriterTest, SmallWritesAreGatheredIntoWholeBlocks)
{
    const std::string path = Path("gather.mp3");
    CMp3Writer w;
    ASSERT_EQ(S_OK, w.Open(128, 44100, 1, path.c_str(), -1));
    const DWORD block = w.GetSamplesPerBlock();
    ASSERT_EQ(2304u, block);
    const auto pcm = Sine16(44100, block * 2);
    ULONG written = 0;
    ASSERT_EQ(S_OK, w.Write(1000, pcm.data(), &written));
    EXPECT_EQ(1000u, written);
    EXPECT_EQ(500u, w.GetPendingSamples()); // nothing encoded yet
    ASSERT_EQ(S_OK, w.Write(block * 2 - 1000 + 6, pcm.data() + 1000, &written));
    EXPECT_EQ(3u, w.GetPendingSamples()); // one whole block went to the encoder
    ASSERT_EQ(S_OK, w.Close());
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(S_OK, w.Close()); // idle
}

TEST_F(Mp3WriterTest, OddSizedWritesDoNotShiftSamples)
{
    const std::string whole = Path("whole.mp3"), split = Path("split.mp3");
    const auto pcm = Sine16(22050, 22050);
    ULONG written = 0;
    {
        CMp3Writer w;
        ASSERT_EQ(S_OK, w.Open(32, 22050, 3, whole.c_str(), -1));
        ASSERT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
        ASSERT_EQ(S_OK, w.Close());
    }
    {
        CMp3Writer w;
        ASSERT_EQ(S_OK, w.Open(32, 22050, 3, split.c_str(), -1));
        for (size_t at = 0; at < pcm.size(); at += 777)
            ASSERT_EQ(S_OK,
                      w.Write(static_cast<ULONG>(std::min<size_t>(777, pcm.size() - at)), pcm.data() + at, &written));
        ASSERT_EQ(S_OK, w.Close());
    }
    EXPECT_EQ(ReadAll(whole), ReadAll(split));
}

TEST_F(Mp3WriterTest, LessThanOneBlockStillGivesAValidFile)
{
    const std::string path = Path("short.mp3");
    CMp3Writer w;
    ASSERT_EQ(S_OK, w.Open(128, 44100, 1, path.c_str(), -1));
    const auto pcm = Sine16(44100, 300); // 300 frames of mono bytes: 150 stereo frames
    ULONG written = 0;
    ASSERT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
    ASSERT_EQ(S_OK, w.Close());
    ASSERT_GT(fs::file_size(path), 0u);
    EXPECT_EQ("44100", Probe(path, "sample_rate"));
    ExpectCleanDecode(path, true);
}

TEST_F(Mp3WriterTest, OpenFailures)
{
    CMp3Writer w;
    EXPECT_EQ(E_ACCESSDENIED, w.Open(128, 44100, 1, Path("no/folder/x.mp3").c_str(), -1));
    EXPECT_FALSE(w.IsOpen());
    const std::string refused = Path("refused.mp3");
    EXPECT_EQ(E_UNEXPECTED, w.Open(128, 44000, 1, refused.c_str(), -1)); // no MPEG sample rate
    EXPECT_FALSE(fs::exists(refused));
    EXPECT_EQ(E_UNEXPECTED, w.Open(320, 11025, 3, refused.c_str(), -1)); // too fast for MPEG 2.5
    EXPECT_FALSE(fs::exists(refused));
    ULONG written = 0;
    const BYTE b[2] = {};
    EXPECT_EQ(CO_E_NOTINITIALIZED, w.Write(2, b, &written));
}

TEST_F(Mp3WriterTest, FullDiskIsAFailure)
{
    CMp3Writer w;
    ASSERT_EQ(S_OK, w.Open(320, 48000, 1, "/dev/full", -1));
    const auto pcm = Sine16(48000, 48000);
    ULONG written = 0;
    const HRESULT hrWrite = w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written);
    const HRESULT hrClose = w.Close();
    EXPECT_TRUE(FAILED(hrWrite) || FAILED(hrClose));
    EXPECT_TRUE(FAILED(hrClose));
}

// Every MP3 catalogue entry through the sink, from a 22050 Hz mono engine.
class Mp3CatalogueTest : public TempDirTest {};

int CollectEntry(const WAVEFORMATEX *pwfx, LONG nBitRate, void *pContext)
{
    static_cast<std::vector<std::pair<WAVEFORMATEX, LONG>> *>(pContext)->push_back({*pwfx, nBitRate});
    return 1;
}

// Bytes of one frame at a constant bit rate.
DWORD FrameBytes(DWORD rate, LONG bitRate)
{
    const bool mpeg1 = rate >= 32000;
    return static_cast<DWORD>((mpeg1 ? 144 : 72) * bitRate / static_cast<LONG>(rate));
}

TEST_F(Mp3CatalogueTest, EveryEntryGivesAValidFile)
{
    std::vector<std::pair<WAVEFORMATEX, LONG>> entries;
    ASSERT_EQ(S_OK, CAudioSink::EnumFormats(FF_MP3, CollectEntry, &entries));
    ASSERT_EQ(22u, entries.size());
    const WAVEFORMATEX engine = orafon::PcmFormat(22050, 1, 16);
    const auto pcm = Sine16(22050, 22050 * 3 / 2, 440, 0.5);
    CAudioSink sink;
    sink.SetFileFormat(FF_MP3);
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto &[t, bitRate] = entries[i];
        SCOPED_TRACE(testing::Message() << "entry " << i << ": " << t.nSamplesPerSec << " Hz, " << t.nChannels
                                        << " ch, " << bitRate);
        const std::string path = Path("entry" + std::to_string(i) + ".mp3");
        ASSERT_EQ(S_OK, sink.Open(path.c_str(), &engine, &t, bitRate));
        for (size_t at = 0; at < pcm.size(); at += 8820)
            ASSERT_EQ(S_OK, sink.Write(pcm.data() + at, static_cast<ULONG>(std::min<size_t>(8820, pcm.size() - at))));
        ASSERT_EQ(S_OK, sink.Close());
        EXPECT_EQ(std::to_string(t.nSamplesPerSec), Probe(path, "sample_rate"));
        EXPECT_EQ(std::to_string(t.nChannels), Probe(path, "channels"));
        EXPECT_EQ(std::to_string(bitRate), Probe(path, "bit_rate"));
        EXPECT_EQ(t.nChannels == 2 ? 1 : 3, FirstFrameMode(path));
        ExpectCleanDecode(path);
        // The tag needs a frame of more than the LAME tag's 156 bytes.
        if (FrameBytes(t.nSamplesPerSec, bitRate) > 156) {
            EXPECT_TRUE(HasInfoTag(path));
        }
        const double seconds =
            std::stod(RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(path)));
        // Whole frames, plus the encoder's delay: at most a few frames more.
        EXPECT_GE(seconds, 1.5);
        EXPECT_LE(seconds, 1.5 + 2500.0 / t.nSamplesPerSec);
    }
}

TEST_F(Mp3CatalogueTest, BitRateIsTruncatedToKilobits)
{
    const std::string path = Path("trunc.mp3");
    const WAVEFORMATEX engine = orafon::PcmFormat(44100, 2, 16);
    CAudioSink sink;
    sink.SetFileFormat(FF_MP3);
    ASSERT_EQ(S_OK, sink.Open(path.c_str(), &engine, &engine, 127999)); // 127 kbit/s, snapped to 128
    const auto pcm = Sine16(44100, 44100);
    ASSERT_EQ(S_OK, sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
    ASSERT_EQ(S_OK, sink.Close());
    EXPECT_EQ("128000", Probe(path, "bit_rate"));
}

// Runs with another encoder library name and restores the real one after.
class Mp3LibraryTest : public TempDirTest {
protected:
    void Use(const char *name)
    {
        Mp3EncoderApiUnload();
        Mp3EncoderApiSetLibraryName(name);
    }
    void TearDown() override
    {
        Use("lame_enc.so");
        TempDirTest::TearDown();
    }
    std::string Encode(const char *name)
    {
        const std::string path = Path(name);
        CMp3Writer w;
        EXPECT_EQ(S_OK, w.Open(128, 44100, 1, path.c_str(), -1));
        const auto pcm = Sine16(44100, 44100);
        ULONG written = 0;
        EXPECT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
        EXPECT_EQ(S_OK, w.Close());
        return path;
    }
};

TEST_F(Mp3LibraryTest, FinishesWithAndWithoutBeWriteInfoTag)
{
    Use("lame_enc.so");
    Mp3EncoderApiLoad();
    ASSERT_NE(nullptr, Mp3EncoderApiGet().beWriteInfoTag);
    const std::string with = Encode("with.mp3");
    EXPECT_TRUE(HasInfoTag(with));
    ExpectCleanDecode(with);

    Use("lame_enc_without_infotag.so");
    Mp3EncoderApiLoad();
    ASSERT_NE(nullptr, Mp3EncoderApiGet().beInitStream);
    ASSERT_EQ(nullptr, Mp3EncoderApiGet().beWriteInfoTag);
    const std::string without = Encode("without.mp3");
    // The stream is closed first and the header written by name: the same tag.
    EXPECT_TRUE(HasInfoTag(without));
    ExpectCleanDecode(without);
    EXPECT_EQ(ReadAll(with), ReadAll(without));
}

TEST_F(Mp3LibraryTest, WithoutTheLibraryMp3IsNotImplementedAndWavStillWorks)
{
    Use("lame_enc_absent.so");
    const std::string mp3 = Path("none.mp3");
    CAudioSink sink;
    sink.SetFileFormat(FF_MP3);
    const WAVEFORMATEX src = orafon::PcmFormat(22050, 1, 16), dst = orafon::PcmFormat(44100, 2, 16);
    EXPECT_EQ(E_NOTIMPL, sink.Open(mp3.c_str(), &src, &dst, 128000));
    EXPECT_FALSE(fs::exists(mp3));
    EXPECT_FALSE(sink.IsConverting());
    EXPECT_EQ(nullptr, Mp3EncoderApiGet().hModule);

    const std::string wav = Path("still.wav");
    sink.SetFileFormat(FF_WAVE);
    ASSERT_EQ(S_OK, sink.Open(wav.c_str(), &src, &dst, 1411200));
    const auto pcm = Sine16(22050, 2205);
    EXPECT_EQ(S_OK, sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
    EXPECT_EQ(S_OK, sink.Close());
    EXPECT_EQ("44100", Probe(wav, "sample_rate"));
}

} // namespace
