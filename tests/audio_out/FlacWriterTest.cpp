// The FLAC writer: every catalogue entry checked by flac, metaflac, ffprobe
// and a lossless decode, the encoder settings seen in the stream, 8-bit and
// 16-bit sample values, and files that cannot be created or written.
#include "FlacWriter.h"
#include "AudioSink.h"
#include "AudioTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace {

using namespace audiotest;

// The STREAMINFO fields metaflac reads: rate, channels, bits, samples, block sizes.
std::string StreamInfo(const std::string &path)
{
    return RunCommand("metaflac --show-sample-rate --show-channels --show-bps --show-total-samples "
                      "--show-min-blocksize --show-max-blocksize " +
                      Quote(path));
}

std::string ExpectedStreamInfo(const WAVEFORMATEX &wfx, size_t frames)
{
    std::ostringstream s;
    s << wfx.nSamplesPerSec << "\n" << wfx.nChannels << "\n" << wfx.wBitsPerSample << "\n" << frames << "\n256\n256\n";
    return s.str();
}

// Warnings count as errors. A stream without samples has a total of 0 in its
// header, which FLAC also uses for "unknown"; flac then warns that it cannot
// check the total, and emptyStream accepts that warning.
void ExpectFlacTestPasses(const std::string &path, bool emptyStream = false)
{
    int status = 0;
    const std::string out =
        RunCommand("flac -t -s " + std::string(emptyStream ? "" : "-w ") + Quote(path) + " 2>&1", &status);
    EXPECT_EQ(0, status) << out;
    if (emptyStream)
        EXPECT_EQ(fs::path(path).filename().string() +
                      ": WARNING, cannot check total number of samples since it was unset in the STREAMINFO\n",
                  out);
    else
        EXPECT_EQ("", out);
}

// flac's own decode, raw, in the file's sample format: unsigned 8-bit or
// signed 16-bit little-endian, as the writer took them.
std::string DecodeRaw(const std::string &path, const char *sign)
{
    return RunCommand("flac -d -s -c --force-raw-format --endian=little --sign=" + std::string(sign) + " " +
                      Quote(path));
}

std::string Bytes(const std::vector<BYTE> &b)
{
    return {b.begin(), b.end()};
}

TEST(FlacWriterSamples, EightBitIsUnsignedAndSixteenBitSigned)
{
    const BYTE eight[] = {0x00, 0x80, 0xFF, 0x7F};
    EXPECT_EQ(-128, CFlacWriter::SampleValue(&eight[0], 8));
    EXPECT_EQ(0, CFlacWriter::SampleValue(&eight[1], 8));
    EXPECT_EQ(127, CFlacWriter::SampleValue(&eight[2], 8));
    EXPECT_EQ(-1, CFlacWriter::SampleValue(&eight[3], 8));
    const BYTE sixteen[] = {0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF};
    EXPECT_EQ(-32768, CFlacWriter::SampleValue(&sixteen[0], 16));
    EXPECT_EQ(32767, CFlacWriter::SampleValue(&sixteen[2], 16));
    EXPECT_EQ(-1, CFlacWriter::SampleValue(&sixteen[4], 16));
}

class FlacWriterTest : public TempDirTest {
protected:
    std::string Encode(const std::string &name, const WAVEFORMATEX &wfx, const std::vector<BYTE> &pcm)
    {
        const std::string path = Path(name);
        CFlacWriter w;
        EXPECT_EQ(S_OK, w.Open(wfx, path.c_str()));
        ULONG written = 0;
        EXPECT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
        EXPECT_EQ(pcm.size(), written);
        EXPECT_EQ(S_OK, w.Close());
        return path;
    }
};

// Every FLAC catalogue entry through the sink (no conversion): flac -t checks
// the frames and the MD5 signature, metaflac the stream header, ffprobe rate,
// channels and bits, flac's decode gives back the very bytes written, and
// ffmpeg's decode of the 1 kHz sine keeps its frequency and level.
TEST_F(FlacWriterTest, EveryCatalogueEntryGivesAValidLosslessFile)
{
    const auto entries = CatalogueOf(FF_FLAC);
    ASSERT_EQ(36u, entries.size());
    const std::vector<double> amplitudes = {0.5, 0.25};
    CAudioSink sink;
    sink.SetFileFormat(FF_FLAC);
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto &[wfx, nBitRate] = entries[i];
        SCOPED_TRACE(testing::Message() << "entry " << i << ": " << Describe(wfx, nBitRate));
        const std::string path = Path("entry" + std::to_string(i) + ".flac");
        const size_t frames = wfx.nSamplesPerSec / 2 + 77; // not a whole number of blocks
        const auto pcm = SinePcm(wfx, frames, 1000, amplitudes);
        ASSERT_EQ(S_OK, sink.Open(path.c_str(), &wfx, &wfx, nBitRate));
        EXPECT_FALSE(sink.IsConverting());
        const size_t piece = wfx.nBlockAlign * 441u;
        for (size_t at = 0; at < pcm.size(); at += piece)
            ASSERT_EQ(S_OK, sink.Write(pcm.data() + at, static_cast<ULONG>(std::min(piece, pcm.size() - at))));
        ASSERT_EQ(S_OK, sink.Close());

        ExpectFlacTestPasses(path);
        EXPECT_EQ(ExpectedStreamInfo(wfx, frames), StreamInfo(path));
        EXPECT_EQ(std::to_string(wfx.nSamplesPerSec) + "\n" + std::to_string(wfx.nChannels) + "\n" +
                      std::to_string(wfx.wBitsPerSample),
                  Probe(path, "sample_rate,channels,bits_per_raw_sample"));
        EXPECT_TRUE(Bytes(pcm) == DecodeRaw(path, wfx.wBitsPerSample == 8 ? "unsigned" : "signed"));

        const auto decoded = DecodeWithFfmpeg(path);
        EXPECT_EQ(frames * wfx.nChannels, decoded.size());
        for (size_t c = 0; c < wfx.nChannels; ++c) {
            const Tone t = MeasureTone(decoded, wfx.nChannels, c, wfx.nSamplesPerSec);
            EXPECT_NEAR(1000.0, t.frequency, 1.0) << "channel " << c;
            EXPECT_NEAR(amplitudes[c] / std::sqrt(2.0), t.level, 0.01) << "channel " << c;
        }
    }
}

// The stream as libFLAC's analysis shows it: 256-sample blocks, each channel
// coded on its own (no mid-side), fixed predictors only (no LPC) and one
// residual partition.
TEST_F(FlacWriterTest, TheStreamUsesTheWritersOwnSettings)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(44100, 2, 16);
    const auto pcm = SinePcm(wfx, 44100, 1000, {0.5, 0.5});
    const std::string path = Encode("settings.flac", wfx, pcm);
    const std::string analysis = RunCommand("flac -a -s -c " + Quote(path) +
                                            " | grep -o 'blocksize=[0-9]*\\|channel_assignment=[A-Z_]*\\|"
                                            "type=[A-Z]*\\|partition_order=[0-9]*' | sort | uniq -c");
    std::istringstream lines(analysis);
    std::string count, what;
    std::map<std::string, int> seen;
    while (lines >> count >> what)
        seen[what] = std::stoi(count);
    const int frames = 44100 / 256 + 1;
    EXPECT_EQ(frames - 1, seen["blocksize=256"]) << analysis;
    EXPECT_EQ(frames, seen["channel_assignment=INDEPENDENT"]) << analysis;
    EXPECT_EQ(0, seen["type=LPC"]) << analysis;
    EXPECT_GT(seen["type=FIXED"], frames) << analysis;
    for (const auto &[key, n] : seen) {
        if (key.starts_with("partition_order=")) {
            EXPECT_EQ("partition_order=0", key) << analysis;
        }
    }
}

TEST_F(FlacWriterTest, EightBitExtremesReachTheEncoderAsSignedValues)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(8000, 1, 8);
    std::vector<BYTE> pcm;
    for (int i = 0; i < 1000; ++i)
        pcm.insert(pcm.end(), {0x00, 0x80, 0xFF});
    const std::string path = Encode("eight.flac", wfx, pcm);
    ExpectFlacTestPasses(path);
    const std::string decoded = DecodeRaw(path, "signed");
    ASSERT_EQ(pcm.size(), decoded.size());
    for (size_t i = 0; i < decoded.size(); i += 3) {
        ASSERT_EQ(-128, static_cast<signed char>(decoded[i])) << i;
        ASSERT_EQ(0, static_cast<signed char>(decoded[i + 1])) << i;
        ASSERT_EQ(127, static_cast<signed char>(decoded[i + 2])) << i;
    }
}

TEST_F(FlacWriterTest, SixteenBitExtremesAreKeptExactly)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(22050, 2, 16);
    std::vector<BYTE> pcm;
    for (int i = 0; i < 1000; ++i)
        pcm.insert(pcm.end(), {0x00, 0x80, 0xFF, 0x7F, 0xFF, 0x7F, 0x00, 0x80}); // -32768 32767, 32767 -32768
    const std::string path = Encode("sixteen.flac", wfx, pcm);
    ExpectFlacTestPasses(path);
    EXPECT_TRUE(Bytes(pcm) == DecodeRaw(path, "signed"));
    const auto decoded = DecodeWithFfmpeg(path);
    ASSERT_EQ(4000u, decoded.size());
    EXPECT_EQ(-32768, decoded[0]);
    EXPECT_EQ(32767, decoded[1]);
}

TEST_F(FlacWriterTest, AStereoWriteOf10000BytesIs2500Frames)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(44100, 2, 16);
    const auto pcm = SinePcm(wfx, 2500, 1000, {0.5, 0.25});
    ASSERT_EQ(10000u, pcm.size());
    const std::string path = Encode("frames.flac", wfx, pcm);
    EXPECT_EQ(ExpectedStreamInfo(wfx, 2500), StreamInfo(path));
}

// A frame split between writes waits for its rest; one still incomplete at
// Close is dropped.
TEST_F(FlacWriterTest, AFrameSplitBetweenWritesWaitsForItsRest)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(22050, 2, 16);
    const std::string path = Path("partial.flac");
    CFlacWriter w;
    ASSERT_EQ(S_OK, w.Open(wfx, path.c_str()));
    const BYTE pcm[] = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6};
    ULONG written = 99;
    ASSERT_EQ(S_OK, w.Write(3, pcm, &written));
    EXPECT_EQ(3u, written);
    ASSERT_EQ(S_OK, w.Write(1, pcm + 3, &written));
    ASSERT_EQ(S_OK, w.Write(7, pcm + 4, &written));
    EXPECT_EQ(7u, written);
    ASSERT_EQ(S_OK, w.Close());
    ExpectFlacTestPasses(path);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(pcm), 8), DecodeRaw(path, "signed"));
}

// Writes of odd sizes, most ending inside a frame, give the very samples of one write.
TEST_F(FlacWriterTest, OddSizedWritesKeepTheSamplesInStep)
{
    for (const WAVEFORMATEX &wfx :
         {orafon::PcmFormat(22050, 2, 16), orafon::PcmFormat(11025, 2, 8), orafon::PcmFormat(8000, 1, 16)}) {
        SCOPED_TRACE(Describe(wfx, 0));
        const auto pcm = SinePcm(wfx, 5000, 1000, {0.5, 0.25});
        const std::string path = Path("odd" + std::to_string(wfx.nBlockAlign) + ".flac");
        CFlacWriter w;
        ASSERT_EQ(S_OK, w.Open(wfx, path.c_str()));
        for (size_t at = 0; at < pcm.size(); at += 777) {
            ULONG written = 0;
            const auto n = static_cast<ULONG>(std::min<size_t>(777, pcm.size() - at));
            ASSERT_EQ(S_OK, w.Write(n, pcm.data() + at, &written));
            ASSERT_EQ(n, written);
        }
        ASSERT_EQ(S_OK, w.Close());
        EXPECT_TRUE(Bytes(pcm) == DecodeRaw(path, wfx.wBitsPerSample == 8 ? "unsigned" : "signed"));
    }
}

TEST_F(FlacWriterTest, AFileClosedWithoutAudioIsValid)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(48000, 2, 16);
    const std::string path = Path("empty.flac");
    CFlacWriter w;
    ASSERT_EQ(S_OK, w.Open(wfx, path.c_str()));
    EXPECT_TRUE(w.IsOpen());
    ASSERT_EQ(S_OK, w.Close());
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(S_OK, w.Close());
    ExpectFlacTestPasses(path, true);
    EXPECT_EQ(ExpectedStreamInfo(wfx, 0), StreamInfo(path));
    EXPECT_EQ("48000\n2", Probe(path, "sample_rate,channels"));
}

struct BadTarget {
    const char *what;
    std::string name; // in the test folder unless absolute
    WAVEFORMATEX wfx;
    HRESULT hr;
};

TEST_F(FlacWriterTest, FilesThatCannotBeStartedAreRefused)
{
    fs::create_directories(Path("folder"));
    std::ofstream(Path("plain")) << "x";
    const WAVEFORMATEX ok = orafon::PcmFormat(22050, 1, 16);
    const std::vector<BadTarget> cases = {
        {"missing folder", "no/such/folder/x.flac", ok, E_FAIL},
        {"beneath a plain file", "plain/x.flac", ok, E_FAIL},
        {"a folder as the file name", "folder", ok, E_FAIL},
        {"a read-only system file", "/sys/kernel/notes", ok, E_FAIL},
        {"24-bit samples", "wide.flac", orafon::PcmFormat(22050, 1, 24), E_FAIL},
        {"no channels", "none.flac", orafon::PcmFormat(22050, 0, 16), E_FAIL},
        {"no sample rate", "rate.flac", orafon::PcmFormat(0, 1, 16), E_FAIL},
        {"nine channels", "nine.flac", orafon::PcmFormat(22050, 9, 16), E_FAIL},
        {"a rate beyond the streamable subset", "fast.flac", orafon::PcmFormat(700000, 1, 16), E_FAIL},
    };
    CFlacWriter w;
    for (const BadTarget &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = c.name.front() == '/' ? c.name : Path(c.name);
        const bool existed = fs::exists(path);
        EXPECT_EQ(c.hr, w.Open(c.wfx, path.c_str()));
        EXPECT_FALSE(w.IsOpen());
        EXPECT_EQ(existed, fs::exists(path));
        // Writing to an idle writer stores nothing and is not an error.
        ULONG written = 99;
        const BYTE pcm[4] = {};
        EXPECT_EQ(S_OK, w.Write(4, pcm, &written));
        EXPECT_EQ(0u, written);
        EXPECT_EQ(S_OK, w.Close());
    }
    EXPECT_EQ(E_INVALIDARG, w.Open(ok, nullptr));
    const std::string good = Path("good.flac");
    ASSERT_EQ(S_OK, w.Open(ok, good.c_str()));
    ASSERT_EQ(S_OK, w.Close());
    ExpectFlacTestPasses(good, true);
}

// A disk that fills up early (the encoder's writes fail), just before the end
// (only finishing fails), is always full, or refuses every write.
TEST_F(FlacWriterTest, AFullDiskIsAFailure)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(44100, 2, 16);
    const auto pcm = Noise16(44100 * 2 * 2);
    const std::string whole = Encode("whole.flac", wfx, pcm);
    const auto cbWhole = static_cast<rlim_t>(fs::file_size(whole));
    struct Case {
        const char *what;
        std::string path;
        rlim_t limit;
    };
    const Case cases[] = {
        {"full early", Path("early.flac"), 16384},
        {"full at the end", Path("late.flac"), cbWhole - 100},
        {"always full", "/dev/full", RLIM_INFINITY},
        {"refusing every write", "/proc/version", RLIM_INFINITY},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        CFlacWriter w;
        FileSizeLimit limit(c.limit);
        ASSERT_TRUE(limit.IsSet());
        ASSERT_EQ(S_OK, w.Open(wfx, c.path.c_str()));
        ULONG written = 0;
        // The limit may bite while writing or only when the last bytes go out;
        // either way the file's verdict is Close's.
        static_cast<void>(w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
        EXPECT_EQ(E_FAIL, w.Close());
        EXPECT_FALSE(w.IsOpen());
    }
}

TEST_F(FlacWriterTest, AFullDiskFailsTheSinksWriteAndClose)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(22050, 1, 16);
    const auto pcm = Noise16(22050 * 4);
    CAudioSink sink;
    sink.SetFileFormat(FF_FLAC);
    for (const std::string &path : {std::string("/dev/full"), Path("full.flac")}) {
        SCOPED_TRACE(path);
        FileSizeLimit limit(8192);
        ASSERT_TRUE(limit.IsSet());
        ASSERT_EQ(S_OK, sink.Open(path.c_str(), &wfx, &wfx, 352800));
        EXPECT_EQ(E_FAIL, sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
        EXPECT_EQ(E_FAIL, sink.Close());
    }
}

} // namespace
