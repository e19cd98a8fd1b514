// The sink: writer selection, pass-through, conversion in pieces, draining,
// failure reporting and the handle.
#include "AudioSink.h"
#include "AudioTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace audiotest;

void RecordSize(ULONG cb, void *pContext)
{
    static_cast<std::vector<ULONG> *>(pContext)->push_back(cb);
}

class AudioSinkTest : public TempDirTest {
protected:
    CAudioSink m_sink;
    std::vector<ULONG> m_pieces;

    void Observe() { m_sink.SetWriteObserver(RecordSize, &m_pieces); }
};

TEST_F(AudioSinkTest, IdenticalFormatsPassBytesUnchangedInTheirSizes)
{
    Observe();
    const std::string path = Path("same.wav");
    const WAVEFORMATEX wfx = orafon::PcmFormat(22050, 1, 16);
    ASSERT_EQ(S_OK, m_sink.Open(path.c_str(), &wfx, &wfx, 352800));
    EXPECT_FALSE(m_sink.IsConverting());
    const auto pcm = Sine16(22050, 20000);
    ASSERT_EQ(S_OK, m_sink.Write(pcm.data(), 12345));
    ASSERT_EQ(S_OK, m_sink.Write(pcm.data() + 12345, 0));
    ASSERT_EQ(S_OK, m_sink.Write(pcm.data() + 12345, static_cast<ULONG>(pcm.size() - 12345)));
    ASSERT_EQ(S_OK, m_sink.Close());
    EXPECT_EQ(std::vector<ULONG>({12345, 0, static_cast<ULONG>(pcm.size() - 12345)}), m_pieces);
    const auto b = ReadAll(path);
    ASSERT_EQ(56 + pcm.size(), b.size());
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), b.begin() + 56));
    EXPECT_EQ(path, m_sink.GetFileName());
    EXPECT_EQ(352800, m_sink.GetBitRate());
}

TEST_F(AudioSinkTest, A25000ByteWriteIsConvertedInThreePieces)
{
    Observe();
    const WAVEFORMATEX src = orafon::PcmFormat(16000, 1, 16),
                       dst = orafon::PcmFormat(16000, 2, 16); // one rate: exact sizes
    ASSERT_EQ(S_OK, m_sink.Open(Path("pieces.wav").c_str(), &src, &dst, 512000));
    EXPECT_TRUE(m_sink.IsConverting());
    EXPECT_EQ(20000u, m_sink.GetDestinationBufferSize());
    const auto pcm = Sine16(16000, 12500);
    ASSERT_EQ(S_OK, m_sink.Write(pcm.data(), 25000));
    EXPECT_EQ(std::vector<ULONG>({20000, 20000, 10000}), m_pieces);
    ASSERT_EQ(S_OK, m_sink.Close());
    EXPECT_FALSE(m_sink.IsConverting());
    EXPECT_EQ(0u, m_sink.GetDestinationBufferSize());
}

TEST_F(AudioSinkTest, ZeroByteWrites)
{
    Observe();
    const WAVEFORMATEX src = orafon::PcmFormat(16000, 1, 16), dst = orafon::PcmFormat(8000, 1, 16);
    ASSERT_EQ(S_OK, m_sink.Open(Path("zero.wav").c_str(), &src, &dst, 128000));
    const BYTE b = 0;
    EXPECT_EQ(E_FAIL, m_sink.Write(&b, 0)); // converting: no writer is called
    EXPECT_TRUE(m_sink.Write(&b, 0) == E_FAIL && m_pieces.empty());
    EXPECT_EQ(S_OK, m_sink.Close()); // and nothing was lost
}

TEST_F(AudioSinkTest, ConvertedFileKeepsItsTail)
{
    const std::string path = Path("tail.wav");
    const WAVEFORMATEX src = orafon::PcmFormat(22050, 1, 16), dst = orafon::PcmFormat(44100, 2, 16);
    ASSERT_EQ(S_OK, m_sink.Open(path.c_str(), &src, &dst, 1411200));
    const size_t frames = 22050 + 1234;
    const auto pcm = Sine16(22050, frames, 1000, 0.5);
    ASSERT_EQ(S_OK, m_sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
    ASSERT_EQ(S_OK, m_sink.Close());
    const auto b = ReadAll(path);
    const double outFrames = static_cast<double>(Le32(b, 52)) / 4;
    EXPECT_NEAR(frames * 2.0, outFrames, 2.0);
    // The last tenth of a millisecond still carries the tone at its level.
    int status = 0;
    const std::string stat =
        RunCommand("sox " + Quote(path) + " -n trim " + std::to_string((frames * 2 - 441) / 44100.0) +
                       " stat 2>&1 | grep 'RMS     amplitude'",
                   &status);
    ASSERT_EQ(0, status) << stat;
    const double rms = std::stod(stat.substr(stat.find(':') + 1));
    EXPECT_NEAR(0.5 / std::sqrt(2.0), rms, 0.05);
}

TEST_F(AudioSinkTest, OddSizedWritesKeepSamplesAligned)
{
    const std::string a = Path("whole.wav"), b = Path("split.wav");
    const WAVEFORMATEX src = orafon::PcmFormat(22050, 1, 16), dst = orafon::PcmFormat(16000, 1, 16);
    const auto pcm = Sine16(22050, 11025, 700);
    ASSERT_EQ(S_OK, m_sink.Open(a.c_str(), &src, &dst, 256000));
    ASSERT_EQ(S_OK, m_sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
    ASSERT_EQ(S_OK, m_sink.Close());
    ASSERT_EQ(S_OK, m_sink.Open(b.c_str(), &src, &dst, 256000));
    for (size_t at = 0; at < pcm.size(); at += 333) // odd sizes split samples
        ASSERT_EQ(S_OK, m_sink.Write(pcm.data() + at, static_cast<ULONG>(std::min<size_t>(333, pcm.size() - at))));
    ASSERT_EQ(S_OK, m_sink.Close());
    EXPECT_EQ(ReadAll(a), ReadAll(b));
}

struct BadOpen {
    const char *what;
    LONG fileFormat;
    std::string name; // relative to the test folder unless absolute
    WAVEFORMATEX src, dst;
    HRESULT hr;
};

TEST_F(AudioSinkTest, FailedOpensLeaveNoConversion)
{
    const WAVEFORMATEX ok = orafon::PcmFormat(22050, 1, 16), target = orafon::PcmFormat(44100, 2, 16);
    const std::vector<BadOpen> cases = {
        {"missing folder", FF_WAVE, "no/such/dir/x.wav", ok, target, E_FAIL},
        {"unconvertible source", FF_WAVE, "x.wav", orafon::PcmFormat(22050, 1, 24), target, E_FAIL},
        {"writer refuses the target", FF_WMA, "x.wma", ok, orafon::PcmFormat(16000, 2, 16), E_INVALIDARG},
    };
    for (const BadOpen &c : cases) {
        SCOPED_TRACE(c.what);
        m_sink.SetFileFormat(c.fileFormat);
        EXPECT_EQ(c.hr, m_sink.Open(Path(c.name).c_str(), &c.src, &c.dst, 128000));
        EXPECT_FALSE(m_sink.IsConverting());
        EXPECT_EQ(0u, m_sink.GetDestinationBufferSize());
        EXPECT_EQ(S_OK, m_sink.Close());
    }
    EXPECT_EQ(E_INVALIDARG, m_sink.Open("", &ok, &target, 0));
    EXPECT_EQ(E_INVALIDARG, m_sink.Open(nullptr, &ok, &target, 0));
    EXPECT_EQ(E_INVALIDARG, m_sink.Open("x", nullptr, &target, 0));
    EXPECT_EQ(E_INVALIDARG, m_sink.Open("x", &ok, nullptr, 0));
}

TEST_F(AudioSinkTest, FileFormatOutsideTheTable)
{
    m_sink.SetFileFormat(9);
    EXPECT_EQ(9, m_sink.GetFileFormat());
    const WAVEFORMATEX wfx = orafon::PcmFormat(8000, 1, 8);
    EXPECT_EQ(S_OK, m_sink.Open(Path("none").c_str(), &wfx, &wfx, 64000));
    const BYTE b = 0;
    EXPECT_EQ(E_FAIL, m_sink.Write(&b, 1));
    EXPECT_EQ(S_OK, m_sink.Close());
    EXPECT_FALSE(fs::exists(Path("none")));
}

TEST_F(AudioSinkTest, OpeningAgainFinishesTheOpenFile)
{
    const std::string first = Path("first.wav"), second = Path("second.wav");
    const WAVEFORMATEX src = orafon::PcmFormat(22050, 1, 16), dst = orafon::PcmFormat(16000, 2, 8);
    const auto pcm = Sine16(22050, 22050);
    ASSERT_EQ(S_OK, m_sink.Open(first.c_str(), &src, &dst, 256000));
    ASSERT_EQ(S_OK, m_sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
    ASSERT_EQ(S_OK, m_sink.Open(second.c_str(), &src, &dst, 256000));
    ASSERT_EQ(S_OK, m_sink.Close());
    // The first file was drained and finished: a complete second of audio.
    EXPECT_NEAR(1.0, std::stod(RunCommand("sox --i -D " + Quote(first))), 0.001);
    EXPECT_EQ(56u, ReadAll(second).size());
    EXPECT_EQ(FF_WAVE, m_sink.GetFileFormat()); // Open and Close leave the file format alone
}

TEST_F(AudioSinkTest, CloseOnANeverOpenedSinkSucceeds)
{
    EXPECT_EQ(S_OK, m_sink.Close());
    EXPECT_EQ(S_OK, m_sink.Close());
}

TEST_F(AudioSinkTest, FullDiskIsReportedByWriteAndClose)
{
    const WAVEFORMATEX src = orafon::PcmFormat(22050, 1, 16), dst = orafon::PcmFormat(44100, 2, 16);
    ASSERT_EQ(S_OK, m_sink.Open("/dev/full", &src, &dst, 1411200));
    const auto pcm = Sine16(22050, 22050);
    EXPECT_EQ(E_FAIL, m_sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
    EXPECT_EQ(E_FAIL, m_sink.Close());
    // The failure belongs to that file only.
    const WAVEFORMATEX same = orafon::PcmFormat(8000, 1, 8);
    ASSERT_EQ(S_OK, m_sink.Open(Path("next.wav").c_str(), &same, &same, 64000));
    EXPECT_EQ(S_OK, m_sink.Close());
}

TEST_F(AudioSinkTest, FullDiskAfterASmallWriteFailsAtClose)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(8000, 1, 16);
    ASSERT_EQ(S_OK, m_sink.Open("/dev/full", &wfx, &wfx, 128000));
    const auto pcm = Sine16(8000, 100);
    EXPECT_EQ(S_OK, m_sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
    EXPECT_EQ(E_FAIL, m_sink.Close());
}

// Every fixed WAV catalogue entry, from a 22050 Hz mono 16-bit engine.
class AudioSinkWaveCatalogueTest : public TempDirTest {};

int Collect(const WAVEFORMATEX *pwfx, LONG, void *pContext)
{
    static_cast<std::vector<WAVEFORMATEX> *>(pContext)->push_back(*pwfx);
    return 1;
}

TEST_F(AudioSinkWaveCatalogueTest, EveryEntryGivesAFileToolsRead)
{
    std::vector<WAVEFORMATEX> targets;
    ASSERT_EQ(S_OK, CAudioSink::EnumFormats(FF_WAVE, Collect, &targets));
    ASSERT_EQ(36u, targets.size());
    const WAVEFORMATEX engine = orafon::PcmFormat(22050, 1, 16);
    const auto pcm = Sine16(22050, 22050, 440, 0.5); // one second
    CAudioSink sink;
    sink.SetFileFormat(FF_WAVE);
    for (const WAVEFORMATEX &t : targets) {
        // Copies: the packed record's fields are not aligned inside the vector.
        const DWORD rate = t.nSamplesPerSec;
        const WORD channels = t.nChannels, bits = t.wBitsPerSample;
        SCOPED_TRACE(testing::Message() << rate << " Hz " << channels << " ch " << bits);
        const std::string path =
            Path("t" + std::to_string(rate) + "_" + std::to_string(channels) + "_" + std::to_string(bits) + ".wav");
        ASSERT_EQ(S_OK, sink.Open(path.c_str(), &engine, &t, static_cast<LONG>(t.nAvgBytesPerSec * 8)));
        for (size_t at = 0; at < pcm.size(); at += 4410)
            ASSERT_EQ(S_OK, sink.Write(pcm.data() + at, static_cast<ULONG>(std::min<size_t>(4410, pcm.size() - at))));
        ASSERT_EQ(S_OK, sink.Close());
        EXPECT_EQ(std::to_string(rate), Probe(path, "sample_rate"));
        EXPECT_EQ(std::to_string(channels), Probe(path, "channels"));
        EXPECT_EQ(std::to_string(bits), Probe(path, "bits_per_sample"));
        const std::string soxInfo = RunCommand("sox --i -r " + Quote(path)) + RunCommand("sox --i -c " + Quote(path)) +
                                    RunCommand("sox --i -b " + Quote(path));
        EXPECT_EQ(std::to_string(rate) + "\n" + std::to_string(channels) + "\n" + std::to_string(bits) + "\n", soxInfo);
        const double seconds = std::stod(RunCommand("sox --i -D " + Quote(path)));
        EXPECT_NEAR(1.0, seconds, 0.001);
    }
}

TEST(AudioSinkHandle, ForwardsToItsSink)
{
    CAudioSinkHandle handle;
    ASSERT_TRUE(handle.HasSink());
    handle.SetFileFormat(FF_MP3);
    EXPECT_EQ(FF_MP3, handle->GetFileFormat());
    std::vector<WAVEFORMATEX> list;
    EXPECT_EQ(S_OK, handle.EnumFormats(FF_MP3, Collect, &list));
    EXPECT_EQ(22u, list.size());
    EXPECT_EQ(E_INVALIDARG, handle.Open("", &list[0], &list[0], 0));
    EXPECT_EQ(S_OK, handle.Close());
}

} // namespace
