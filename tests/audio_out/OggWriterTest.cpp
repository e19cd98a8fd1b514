// The Ogg Vorbis writer: every catalogue entry read back by ogginfo, ffprobe
// and oggdec, the page layout, sample scaling and frame handling, the serial
// number, and files that cannot be created or written.
#include "OggWriter.h"
#include "AudioSink.h"
#include "AudioTestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace audiotest;

// One page of an Ogg file.
struct OggPage {
    BYTE flags = 0; // 1 continued packet, 2 first page, 4 last page
    int64_t granule = 0;
    DWORD serial = 0;
    int packetsEnded = 0; // lacing values below 255 end a packet
};

std::vector<OggPage> ReadPages(const std::string &path)
{
    const auto b = ReadAll(path);
    std::vector<OggPage> pages;
    size_t at = 0;
    while (at + 27 <= b.size() && Id(b, at) == "OggS") {
        OggPage p;
        p.flags = b[at + 5];
        p.granule = static_cast<int64_t>(Le32(b, at + 6)) | (static_cast<int64_t>(Le32(b, at + 10)) << 32);
        p.serial = Le32(b, at + 14);
        const size_t segments = b[at + 26];
        size_t body = 0;
        for (size_t i = 0; i < segments; ++i) {
            body += b[at + 27 + i];
            p.packetsEnded += b[at + 27 + i] < 255;
        }
        pages.push_back(p);
        at += 27 + segments + body;
    }
    EXPECT_EQ(at, b.size()) << "bytes after the last whole page";
    return pages;
}

// The Vorbis identification header (the first packet, alone on the first page).
struct VorbisId {
    int channels = 0;
    DWORD rate = 0;
    LONG nominal = 0;
    int longBlock = 0;
};

VorbisId ReadIdentification(const std::string &path)
{
    const auto b = ReadAll(path);
    VorbisId id;
    const size_t at = 28; // page header with its one lacing value
    if (b.size() < at + 30 || std::string(b.begin() + at + 1, b.begin() + at + 7) != "vorbis")
        return id;
    id.channels = b[at + 11];
    id.rate = Le32(b, at + 12);
    id.nominal = static_cast<LONG>(Le32(b, at + 20));
    id.longBlock = 1 << (b[at + 28] >> 4);
    return id;
}

// oggdec's exact decode (vorbisfile trims to the stream's last granule).
std::vector<int16_t> DecodeWithOggdec(const std::string &path)
{
    return Samples16(RunCommand("oggdec -Q -R -b 16 -e 0 -s 1 -o - " + Quote(path)));
}

// libvorbis ends a stream without audio with one packet at granule 0, which
// ogginfo notes as a fault of the encoder (files from oggenc get the same
// note); emptyStream accepts that note and nothing else.
void ExpectOgginfoAccepts(const std::string &path, bool emptyStream = false)
{
    int status = 0;
    std::string out = RunCommand("ogginfo " + Quote(path) + " 2>&1", &status);
    const std::string emptyNote = "Negative or zero granulepos (0) on Vorbis stream outside of headers.";
    if (emptyStream && out.find(emptyNote) != std::string::npos) {
        out.erase(out.find(emptyNote), emptyNote.size());
        status = 0;
    }
    EXPECT_EQ(0, status) << out;
    EXPECT_EQ(std::string::npos, out.find("WARNING")) << out;
    EXPECT_EQ(std::string::npos, out.find("ERROR")) << out;
    EXPECT_EQ(std::string::npos, out.find("Warning")) << out;
    EXPECT_NE(std::string::npos, out.find("Vorbis stream 1")) << out;
}

TEST(OggWriterSamples, SixteenBitSamplesAreScaledByOneOver32768)
{
    EXPECT_EQ(-1.0f, COggWriter::SampleToFloat(-32768));
    EXPECT_EQ(0.999969482421875f, COggWriter::SampleToFloat(32767));
    EXPECT_EQ(0.0f, COggWriter::SampleToFloat(0));
    EXPECT_EQ(3.0517578125e-05f, COggWriter::SampleToFloat(1));
}

TEST(OggWriterSerial, OneSecondGivesOneSerialInRange)
{
    const std::time_t t = 1'700'000'000;
    EXPECT_EQ(COggWriter::SerialNumberFor(t), COggWriter::SerialNumberFor(t));
    for (std::time_t s = t; s < t + 50; ++s) {
        EXPECT_GE(COggWriter::SerialNumberFor(s), 0);
        EXPECT_LE(COggWriter::SerialNumberFor(s), 32767);
    }
    EXPECT_NE(COggWriter::SerialNumberFor(t), COggWriter::SerialNumberFor(t + 1));
}

class OggWriterTest : public TempDirTest {
protected:
    // Writes pcm in one Write and closes; the file's path.
    std::string Encode(const std::string &name, const WAVEFORMATEX &wfx, LONG nBitRate, const std::vector<BYTE> &pcm)
    {
        const std::string path = Path(name);
        COggWriter w;
        EXPECT_EQ(S_OK, w.Open(nBitRate, wfx.nSamplesPerSec, wfx.nChannels, path.c_str()));
        ULONG written = 0;
        EXPECT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
        EXPECT_EQ(pcm.size(), written);
        EXPECT_EQ(S_OK, w.Close());
        return path;
    }
};

TEST_F(OggWriterTest, TheHostsRandomSequenceIsLeftAlone)
{
    std::srand(1234);
    const int expected[] = {std::rand(), std::rand(), std::rand()};
    std::srand(1234);
    const WAVEFORMATEX wfx = orafon::PcmFormat(22050, 1, 16);
    Encode("rand.ogg", wfx, 32000, Sine16(22050, 2205));
    for (int value : expected)
        EXPECT_EQ(value, std::rand());
}

TEST_F(OggWriterTest, EveryPageCarriesTheSerialOfTheSecondTheFileWasOpened)
{
    const std::string path = Path("serial.ogg");
    COggWriter w;
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(S_OK, w.Open(64000, 22050, 2, path.c_str()));
    const std::time_t after = std::time(nullptr);
    const int serial = w.GetSerialNumber();
    EXPECT_TRUE(serial == COggWriter::SerialNumberFor(before) || serial == COggWriter::SerialNumberFor(after));
    const auto pcm = Noise16(22050 * 2 * 2);
    ULONG written = 0;
    ASSERT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
    ASSERT_EQ(S_OK, w.Close());
    const auto pages = ReadPages(path);
    ASSERT_GT(pages.size(), 4u);
    for (const OggPage &p : pages)
        EXPECT_EQ(static_cast<DWORD>(serial), p.serial);
}

// The header packets sit on pages of their own (granule 0) and the audio
// starts on a fresh page; only the first page opens the stream and only the
// last one ends it.
void ExpectPageLayout(const std::vector<OggPage> &pages)
{
    ASSERT_GE(pages.size(), 3u);
    EXPECT_EQ(2, pages[0].flags);
    EXPECT_EQ(1, pages[0].packetsEnded); // the identification header alone
    size_t headerPages = 0;
    int headerPackets = 0;
    while (headerPages < pages.size() && headerPackets < 3) {
        EXPECT_EQ(0, pages[headerPages].granule);
        headerPackets += pages[headerPages].packetsEnded;
        ++headerPages;
    }
    EXPECT_EQ(3, headerPackets);
    ASSERT_LT(headerPages, pages.size());
    EXPECT_EQ(0, pages[headerPages].flags & 1) << "the first audio page continues a header packet";
    for (size_t i = 1; i + 1 < pages.size(); ++i)
        EXPECT_EQ(0, pages[i].flags & 6) << "page " << i;
    EXPECT_EQ(4, pages.back().flags & 4);
}

TEST_F(OggWriterTest, AFileClosedWithoutAudioHoldsTheHeadersAndAnEndOfStreamPage)
{
    const std::string path = Path("empty.ogg");
    COggWriter w;
    ASSERT_EQ(S_OK, w.Open(128000, 44100, 2, path.c_str()));
    ASSERT_EQ(S_OK, w.Close());
    EXPECT_FALSE(w.IsOpen());
    ExpectPageLayout(ReadPages(path));
    ExpectOgginfoAccepts(path, true);
    EXPECT_TRUE(DecodeWithOggdec(path).empty());
    int status = 0;
    EXPECT_EQ("", RunCommand("ffmpeg -nostdin -v error -i " + Quote(path) + " -f null - 2>&1", &status));
    EXPECT_EQ(0, status);
}

// Two whole frames are encoded and the two bytes of the third wait; at Close
// the incomplete frame is dropped.
TEST_F(OggWriterTest, AStereoWriteOfTenBytesEncodesTwoFrames)
{
    const std::string path = Path("ten.ogg");
    COggWriter w;
    ASSERT_EQ(S_OK, w.Open(64000, 22050, 2, path.c_str()));
    const BYTE pcm[10] = {0x00, 0x10, 0x00, 0xF0, 0x00, 0x20, 0x00, 0xE0, 0x55, 0x55};
    ULONG written = 99;
    ASSERT_EQ(S_OK, w.Write(10, pcm, &written));
    EXPECT_EQ(10u, written);
    ASSERT_EQ(S_OK, w.Close());
    ExpectOgginfoAccepts(path);
    EXPECT_EQ(4u, DecodeWithOggdec(path).size()); // two frames of two samples
}

// Only Close ends the stream: an empty write (the sink passes the engine's
// empty writes on) encodes nothing, and a frame split between writes is
// completed by the next one.
TEST_F(OggWriterTest, EmptyWritesAndSplitFramesDoNotEndTheStream)
{
    const std::string path = Path("short.ogg");
    COggWriter w;
    ASSERT_EQ(S_OK, w.Open(64000, 22050, 2, path.c_str()));
    const std::vector<double> amplitudes = {0.5, 0.25};
    const auto pcm = SinePcm(orafon::PcmFormat(22050, 2, 16), 22050, 1000, amplitudes);
    ULONG written = 99;
    ASSERT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written));
    ASSERT_EQ(S_OK, w.Write(0, pcm.data(), &written));
    EXPECT_EQ(0u, written);
    ASSERT_EQ(S_OK, w.Write(0, nullptr, &written));
    ASSERT_EQ(S_OK, w.Write(3, pcm.data(), &written));
    EXPECT_EQ(3u, written);
    ASSERT_EQ(S_OK, w.Write(static_cast<ULONG>(pcm.size() - 3), pcm.data() + 3, &written));
    ASSERT_EQ(S_OK, w.Close());
    ExpectPageLayout(ReadPages(path));
    const auto decoded = DecodeWithOggdec(path);
    ASSERT_EQ(pcm.size(), decoded.size());
    for (size_t c = 0; c < 2; ++c) {
        const Tone t = MeasureTone(decoded, 2, c, 22050);
        EXPECT_NEAR(1000.0, t.frequency, 10.0) << "channel " << c;
        EXPECT_NEAR(amplitudes[c] / std::sqrt(2.0), t.level, 0.1 * amplitudes[c]) << "channel " << c;
    }
}

TEST_F(OggWriterTest, EveryChannelGetsItsOwnSamples)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(44100, 3, 16);
    const std::vector<double> amplitudes = {0.5, 0.25, 0.125};
    const std::string path = Encode("three.ogg", wfx, 192000, SinePcm(wfx, 44100, 1000, amplitudes));
    ExpectOgginfoAccepts(path);
    const auto decoded = DecodeWithOggdec(path);
    ASSERT_EQ(44100u * 3, decoded.size());
    for (size_t c = 0; c < 3; ++c) {
        const Tone t = MeasureTone(decoded, 3, c, 44100);
        EXPECT_NEAR(1000.0, t.frequency, 10.0) << "channel " << c;
        EXPECT_NEAR(amplitudes[c] / std::sqrt(2.0), t.level, 0.1 * amplitudes[c]) << "channel " << c;
    }
}

TEST_F(OggWriterTest, SplitWritesGiveTheSameAudio)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(44100, 2, 16);
    const auto pcm = SinePcm(wfx, 44100, 1000, {0.5, 0.25});
    const std::string whole = Encode("whole.ogg", wfx, 128000, pcm);
    const std::string split = Path("split.ogg");
    {
        COggWriter w;
        ASSERT_EQ(S_OK, w.Open(128000, 44100, 2, split.c_str()));
        // Odd sizes: most writes end inside a frame, and none on the writer's own piece size.
        for (size_t at = 0; at < pcm.size(); at += 777) {
            ULONG written = 0;
            const auto n = static_cast<ULONG>(std::min<size_t>(777, pcm.size() - at));
            ASSERT_EQ(S_OK, w.Write(n, pcm.data() + at, &written));
            ASSERT_EQ(n, written);
        }
        ASSERT_EQ(S_OK, w.Close());
    }
    const auto a = DecodeWithOggdec(whole), b = DecodeWithOggdec(split);
    EXPECT_EQ(pcm.size() / 2, a.size());
    ASSERT_EQ(a.size(), b.size());
    // libvorbis places its blocks by the data at hand, so the bitstreams differ
    // slightly; a sample shifted or a channel swapped would differ by far more.
    EXPECT_LT(RelativeDifference(a, b), 0.01);
}

// Every Ogg catalogue entry through the sink (no conversion): read back by
// ogginfo and ffprobe, a 1 kHz sine decoded by oggdec keeps its frequency,
// its level on each channel and its length.
TEST_F(OggWriterTest, EveryCatalogueEntryGivesAValidFile)
{
    const auto entries = CatalogueOf(FF_OGG);
    ASSERT_EQ(21u, entries.size());
    const std::vector<double> amplitudes = {0.5, 0.25};
    CAudioSink sink;
    sink.SetFileFormat(FF_OGG);
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto &[wfx, nBitRate] = entries[i];
        SCOPED_TRACE(testing::Message() << "entry " << i << ": " << Describe(wfx, nBitRate));
        const std::string path = Path("entry" + std::to_string(i) + ".ogg");
        const size_t frames = wfx.nSamplesPerSec; // one second
        const auto pcm = SinePcm(wfx, frames, 1000, amplitudes);
        ASSERT_EQ(S_OK, sink.Open(path.c_str(), &wfx, &wfx, nBitRate));
        EXPECT_FALSE(sink.IsConverting());
        const size_t piece = wfx.nBlockAlign * 441u;
        for (size_t at = 0; at < pcm.size(); at += piece)
            ASSERT_EQ(S_OK, sink.Write(pcm.data() + at, static_cast<ULONG>(std::min(piece, pcm.size() - at))));
        ASSERT_EQ(S_OK, sink.Close());

        ExpectOgginfoAccepts(path);
        EXPECT_EQ(std::to_string(wfx.nSamplesPerSec) + "\n" + std::to_string(wfx.nChannels) + "\n" +
                      std::to_string(nBitRate),
                  Probe(path, "sample_rate,channels,bit_rate"));
        const VorbisId id = ReadIdentification(path);
        EXPECT_EQ(wfx.nChannels, id.channels);
        EXPECT_EQ(wfx.nSamplesPerSec, id.rate);
        EXPECT_EQ(nBitRate, id.nominal);

        const auto decoded = DecodeWithOggdec(path);
        const auto decodedFrames = static_cast<long>(decoded.size() / wfx.nChannels);
        EXPECT_LE(std::labs(decodedFrames - static_cast<long>(frames)), id.longBlock);
        for (size_t c = 0; c < wfx.nChannels; ++c) {
            const Tone t = MeasureTone(decoded, wfx.nChannels, c, wfx.nSamplesPerSec);
            EXPECT_NEAR(1000.0, t.frequency, 10.0) << "channel " << c;
            EXPECT_NEAR(amplitudes[c] / std::sqrt(2.0), t.level, 0.1 * amplitudes[c]) << "channel " << c;
        }
    }
}

struct BadTarget {
    const char *what;
    std::string name; // in the test folder unless absolute
    LONG nBitRate;
    DWORD nRate;
    WORD nChannels;
    HRESULT hr;
    bool fileStays; // a file is left in the test folder (the encoder refused after it was created)
};

TEST_F(OggWriterTest, FilesThatCannotBeStartedAreRefused)
{
    fs::create_directories(Path("folder"));
    std::ofstream(Path("plain")) << "x";
    const std::vector<BadTarget> cases = {
        {"missing folder", "no/such/folder/x.ogg", 64000, 22050, 1, E_ACCESSDENIED, false},
        {"beneath a plain file", "plain/x.ogg", 64000, 22050, 1, E_ACCESSDENIED, false},
        {"a folder as the file name", "folder", 64000, 22050, 1, E_ACCESSDENIED, false},
        {"a read-only system file", "/sys/kernel/notes", 64000, 22050, 1, E_ACCESSDENIED, false},
        {"a file that refuses writes", "/proc/version", 64000, 22050, 1, E_FAIL, false},
        {"a device that is always full", "/dev/full", 64000, 22050, 1, E_FAIL, false},
        {"a rate the encoder refuses", "rate.ogg", 64000, 1000, 1, E_FAIL, true},
        {"a bit rate the encoder refuses", "bitrate.ogg", 2000000, 22050, 1, E_FAIL, true},
        {"no channels", "none.ogg", 64000, 22050, 0, E_FAIL, true},
        {"nine channels", "nine.ogg", 64000, 22050, 9, E_FAIL, true},
    };
    COggWriter w;
    for (const BadTarget &c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = c.name.front() == '/' ? c.name : Path(c.name);
        EXPECT_EQ(c.hr, w.Open(c.nBitRate, c.nRate, c.nChannels, path.c_str()));
        EXPECT_FALSE(w.IsOpen());
        if (c.name.front() != '/') {
            EXPECT_EQ(c.fileStays, fs::is_regular_file(path));
        }
        ULONG written = 99;
        const BYTE pcm[4] = {};
        EXPECT_EQ(CO_E_NOTINITIALIZED, w.Write(4, pcm, &written));
        EXPECT_EQ(0u, written);
        EXPECT_EQ(S_OK, w.Close());
    }
    EXPECT_EQ(E_INVALIDARG, w.Open(64000, 22050, 1, nullptr));
    // The writer is still good for the next file.
    const std::string good = Path("good.ogg");
    ASSERT_EQ(S_OK, w.Open(64000, 22050, 1, good.c_str()));
    ASSERT_EQ(S_OK, w.Close());
    ExpectOgginfoAccepts(good, true);
}

TEST_F(OggWriterTest, AFullDiskIsAFailureOfWriteOrClose)
{
    const auto pcm = Noise16(44100 * 2 * 4);
    const std::string path = Path("full.ogg");
    COggWriter w;
    HRESULT hrWrite = S_OK;
    {
        FileSizeLimit limit(16384); // the headers fit, four seconds at 128 kbit/s do not
        ASSERT_TRUE(limit.IsSet());
        ASSERT_EQ(S_OK, w.Open(128000, 44100, 2, path.c_str()));
        for (size_t at = 0; at < pcm.size(); at += 17640) {
            ULONG written = 0;
            const HRESULT hr =
                w.Write(static_cast<ULONG>(std::min<size_t>(17640, pcm.size() - at)), pcm.data() + at, &written);
            if (FAILED(hr) && SUCCEEDED(hrWrite))
                hrWrite = hr;
        }
        EXPECT_EQ(E_FAIL, w.Close());
    }
    EXPECT_EQ(E_FAIL, hrWrite);
    EXPECT_FALSE(w.IsOpen());
    EXPECT_EQ(16384u, fs::file_size(path));
}

TEST_F(OggWriterTest, AFullDiskFailsTheSinksClose)
{
    const WAVEFORMATEX wfx = orafon::PcmFormat(22050, 1, 16);
    const auto pcm = Noise16(22050 * 4);
    CAudioSink sink;
    sink.SetFileFormat(FF_OGG);
    {
        FileSizeLimit limit(8192);
        ASSERT_TRUE(limit.IsSet());
        ASSERT_EQ(S_OK, sink.Open(Path("full.ogg").c_str(), &wfx, &wfx, 64000));
        // The limit may bite while writing or only when the last pages go
        // out; either way Close must report the file failed.
        static_cast<void>(sink.Write(pcm.data(), static_cast<ULONG>(pcm.size())));
        EXPECT_EQ(E_FAIL, sink.Close());
    }
    EXPECT_EQ(E_FAIL, sink.Open("/dev/full", &wfx, &wfx, 64000));
    EXPECT_EQ(S_OK, sink.Close());
}

} // namespace
