// The WAV writer on its own: the exact layout of the file it writes.
#include "WaveWriter.h"
#include "AudioTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>

namespace {

using namespace audiotest;

class WaveWriterTest : public TempDirTest {};

TEST_F(WaveWriterTest, EmptyFileIs56BytesWithRiffSize48)
{
    const std::string path = Path("empty.wav");
    CWaveWriter w;
    ASSERT_EQ(S_OK, w.Open(path.c_str(), orafon::PcmFormat(22050, 1, 16), CWaveWriter::kModeWrite));
    ASSERT_EQ(S_OK, w.Close());
    const auto b = ReadAll(path);
    ASSERT_EQ(56u, b.size());
    EXPECT_EQ("RIFF", Id(b, 0));
    EXPECT_EQ(48u, Le32(b, 4));
    EXPECT_EQ("WAVE", Id(b, 8));
    EXPECT_EQ("fmt ", Id(b, 12));
    EXPECT_EQ(16u, Le32(b, 16));
    EXPECT_EQ("fact", Id(b, 36));
    EXPECT_EQ(4u, Le32(b, 40));
    EXPECT_EQ(0u, Le32(b, 44)); // finished: the sample count reads 0
    EXPECT_EQ("data", Id(b, 48));
    EXPECT_EQ(0u, Le32(b, 52));
}

TEST_F(WaveWriterTest, PcmFormatChunkHasNoCbSize)
{
    const std::string path = Path("fmt.wav");
    const WAVEFORMATEX wfx = orafon::PcmFormat(44100, 2, 16);
    CWaveWriter w;
    ASSERT_EQ(S_OK, w.Open(path.c_str(), wfx, CWaveWriter::kModeWrite));
    ASSERT_EQ(S_OK, w.Close());
    const auto b = ReadAll(path);
    ASSERT_EQ(56u, b.size());
    EXPECT_EQ(0, std::memcmp(b.data() + 20, &wfx, 16));
    EXPECT_EQ("fact", Id(b, 36)); // directly after 16 bytes of format
}

TEST_F(WaveWriterTest, OddDataGetsOnePadByte)
{
    const std::string path = Path("odd.wav");
    CWaveWriter w;
    ASSERT_EQ(S_OK, w.Open(path.c_str(), orafon::PcmFormat(8000, 1, 8), CWaveWriter::kModeWrite));
    const BYTE data[] = {1, 2, 3, 4, 5};
    ULONG written = 0;
    ASSERT_EQ(S_OK, w.Write(sizeof(data), data, &written));
    EXPECT_EQ(5u, written);
    ASSERT_EQ(S_OK, w.Close());
    const auto b = ReadAll(path);
    ASSERT_EQ(56u + 6, b.size());
    EXPECT_EQ(48u + 6, Le32(b, 4));
    EXPECT_EQ(5u, Le32(b, 52));
    EXPECT_EQ(std::vector<unsigned char>({1, 2, 3, 4, 5, 0}), std::vector<unsigned char>(b.begin() + 56, b.end()));
}

TEST_F(WaveWriterTest, LargeWritesLandByteForByteAndToolsReadTheFile)
{
    const std::string path = Path("tone.wav");
    const auto pcm = Sine16(22050, 22050 * 3); // far more than one I/O buffer
    CWaveWriter w;
    ASSERT_EQ(S_OK, w.Open(path.c_str(), orafon::PcmFormat(22050, 1, 16), CWaveWriter::kModeWrite));
    ULONG written = 0;
    for (size_t at = 0; at < pcm.size(); at += 7001) {
        const ULONG n = static_cast<ULONG>(std::min<size_t>(7001, pcm.size() - at));
        ASSERT_EQ(S_OK, w.Write(n, pcm.data() + at, &written));
        ASSERT_EQ(n, written);
    }
    ASSERT_EQ(S_OK, w.Close());
    const auto b = ReadAll(path);
    ASSERT_EQ(56 + pcm.size(), b.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), b.begin() + 56));
    EXPECT_EQ("22050", Probe(path, "sample_rate"));
    EXPECT_EQ("1", Probe(path, "channels"));
    EXPECT_EQ("16", Probe(path, "bits_per_sample"));
    int status = 0;
    const std::string samples = RunCommand("sox --i -s " + Quote(path) + " 2>&1", &status);
    EXPECT_EQ(0, status);
    EXPECT_EQ(std::to_string(22050 * 3), samples.substr(0, samples.find('\n')));
}

TEST_F(WaveWriterTest, IdleAndBadArguments)
{
    CWaveWriter w;
    ULONG written = 7;
    const BYTE b = 0;
    EXPECT_EQ(CO_E_NOTINITIALIZED, w.Write(1, &b, &written));
    EXPECT_EQ(CO_E_NOTINITIALIZED, w.Close());
    EXPECT_EQ(E_FAIL,
              w.Open(Path("missing/folder/x.wav").c_str(), orafon::PcmFormat(8000, 1, 8), CWaveWriter::kModeWrite));
    EXPECT_FALSE(w.IsOpen());
    ASSERT_EQ(S_OK, w.Open(Path("x.wav").c_str(), orafon::PcmFormat(8000, 1, 8), CWaveWriter::kModeWrite));
    EXPECT_EQ(E_INVALIDARG, w.Write(1, nullptr, &written));
    EXPECT_EQ(E_INVALIDARG, w.Write(1, &b, nullptr));
    EXPECT_EQ(S_OK, w.Close());
}

TEST_F(WaveWriterTest, FullDiskFailsWriteOrClose)
{
    CWaveWriter w;
    ASSERT_EQ(S_OK, w.Open("/dev/full", orafon::PcmFormat(44100, 2, 16), CWaveWriter::kModeWrite));
    const std::vector<BYTE> block(100000, 1);
    ULONG written = 0;
    EXPECT_EQ(E_FAIL, w.Write(static_cast<ULONG>(block.size()), block.data(), &written));
    EXPECT_LT(written, block.size());
    EXPECT_EQ(E_FAIL, w.Close());
    EXPECT_FALSE(w.IsOpen());

    CWaveWriter small;
    ASSERT_EQ(S_OK, small.Open("/dev/full", orafon::PcmFormat(8000, 1, 8), CWaveWriter::kModeWrite));
    ASSERT_EQ(S_OK, small.Write(10, block.data(), &written)); // still in the buffer
    EXPECT_EQ(E_FAIL, small.Close());
}

// Holds the process's file size limit at limit bytes while it lives, so a
// write past it fails as on a full disk (EFBIG instead of ENOSPC).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t limit)
    {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previous_ = signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = saved_;
        lowered.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previous_);
    }

private:
    rlimit saved_{};
    sighandler_t previous_ = SIG_DFL;
};

TEST_F(WaveWriterTest, FailedWriteLeavesAValidShorterFile)
{
    const std::string path = Path("short.wav");
    constexpr rlim_t kLimit = 100001; // odd: the data must end on a whole sample frame
    std::vector<BYTE> pcm(400000);
    for (size_t i = 0; i < pcm.size(); i += 2) {
        const auto sample = static_cast<int16_t>(8000 * std::sin(static_cast<double>(i) / 20));
        std::memcpy(&pcm[i], &sample, 2);
    }
    HRESULT hrWrite = S_OK, hrClose = S_OK;
    {
        FileSizeLimit limit(kLimit);
        CWaveWriter w;
        ASSERT_EQ(S_OK, w.Open(path.c_str(), orafon::PcmFormat(22050, 1, 16), CWaveWriter::kModeWrite));
        ULONG written = 0;
        hrWrite = w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written);
        hrClose = w.Close();
    }
    EXPECT_TRUE(FAILED(hrWrite));
    EXPECT_TRUE(FAILED(hrClose)); // still reported as a failure
    const auto b = ReadAll(path);
    ASSERT_GT(b.size(), 56u);
    ASSERT_LE(b.size(), kLimit);
    EXPECT_EQ(b.size() % 2, 0u);
    EXPECT_EQ(b.size() - 8, Le32(b, 4));
    EXPECT_EQ(0u, Le32(b, 44));
    EXPECT_EQ(b.size() - 56, Le32(b, 52));
    // The samples that are there are the ones written.
    EXPECT_TRUE(std::equal(b.begin() + 56, b.end(), pcm.begin()));
    // And the file's own tools agree on its length.
    const std::string probe = RunCommand("ffprobe -v error -show_entries stream=duration -of csv=p=0 '" + path + "'");
    EXPECT_NEAR(std::atof(probe.c_str()), (b.size() - 56) / 44100.0, 0.001) << probe;
    const std::string soxi = RunCommand("soxi -s '" + path + "'");
    EXPECT_EQ(std::atol(soxi.c_str()), static_cast<long>((b.size() - 56) / 2)) << soxi;
}

} // namespace
