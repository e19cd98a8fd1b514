// The WMA writer over the Windows Media runtime stand-in, in its test build
// (wmvcore_scripted.so, loaded in place of wmvcore.so): the codec format it
// picks (against a scripted codec list), its samples and their times, the
// "Duration" it writes, real files checked by FFmpeg, the runtime missing or
// incomplete, and files that cannot be written.
#include "WmaWriter.h"
#include "AudioSink.h"
#include "AudioTestSupport.h"
#include "WmRuntimeApi.h"

#include <wmvcore/WmScript.h>

#include <orafon/OrafonIds.h>

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>

namespace audiotest {
namespace {

constexpr QWORD kUnitsPerSecond = 10000000;
// The runtime's test build, with the controls of WmScript.h.
constexpr const char *kScriptedRuntime = "wmvcore_scripted.so";

template <typename F> F RuntimeEntry(const char *name)
{
    HMODULE h = WmRuntimeApiGet().hModule;
    return h ? reinterpret_cast<F>(GetProcAddress(h, name)) : nullptr;
}

LONG LiveRuntimeObjects()
{
    auto live = RuntimeEntry<PFNORAFONWMOBJECTCOUNT>(TEXT_ORAFONWM_LIVEOBJECTS);
    return live ? live() : -1;
}

bool Exists(const std::string &path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// Interleaved 16-bit PCM of a sine on every channel.
std::vector<BYTE> SinePcm(DWORD rate, WORD channels, double seconds, double freq = 1000)
{
    const size_t frames = static_cast<size_t>(rate * seconds);
    const std::vector<BYTE> mono = Sine16(rate, frames, freq);
    std::vector<BYTE> out(frames * 2 * channels);
    for (size_t i = 0; i < frames; ++i)
        for (WORD c = 0; c < channels; ++c) {
            out[(i * channels + c) * 2] = mono[2 * i];
            out[(i * channels + c) * 2 + 1] = mono[2 * i + 1];
        }
    return out;
}

// The File Properties object's play and send durations and preroll (ms).
struct AsfDurations {
    bool found = false;
    QWORD play = 0, send = 0, preroll = 0;
};

QWORD Le64(const std::vector<unsigned char> &b, size_t at)
{
    QWORD v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | b[at + static_cast<size_t>(i)];
    return v;
}

AsfDurations ReadAsfDurations(const std::string &path)
{
    static const unsigned char kFileProperties[16] = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11,
                                                      0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
    const std::vector<unsigned char> b = ReadAll(path);
    AsfDurations d;
    for (size_t at = 30; at + 104 <= b.size() && at < 4096;) {
        const QWORD size = Le64(b, at + 16);
        if (std::equal(kFileProperties, kFileProperties + 16, b.begin() + static_cast<long>(at))) {
            d.found = true;
            d.play = Le64(b, at + 64);
            d.send = Le64(b, at + 72);
            d.preroll = Le64(b, at + 80);
            return d;
        }
        if (size < 24)
            break;
        at += size;
    }
    return d;
}

// The frequency of a file's first channel, from the zero crossings of its
// decoded middle second.
double DecodedFrequency(const std::string &path, DWORD rate)
{
    const std::string raw = RunCommand("ffmpeg -v error -i " + Quote(path) + " -map_channel 0.0.0 -f s16le -");
    const size_t frames = raw.size() / 2;
    if (frames < rate)
        return 0;
    const auto *s = reinterpret_cast<const int16_t *>(raw.data());
    const size_t from = (frames - rate) / 2;
    int crossings = 0;
    for (size_t i = from + 1; i < from + rate; ++i)
        if ((s[i - 1] < 0) != (s[i] < 0))
            ++crossings;
    return crossings / 2.0;
}

class WmaWriterTest : public TempDirTest {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        WmRuntimeApiUnload();
        WmRuntimeApiSetLibraryName(kScriptedRuntime);
        WmRuntimeApiLoad();
        ASSERT_TRUE(CWmaWriter::IsRuntimeAvailable()) << kScriptedRuntime << " was not found beside the test";
    }
    void TearDown() override
    {
        if (auto set = RuntimeEntry<PFNORAFONWMSETSCRIPTEDCODECS>(TEXT_ORAFONWM_SETSCRIPTEDCODECS))
            set(nullptr, 0);
        if (auto fail = RuntimeEntry<PFNORAFONWMFAILALLOCATIONS>(TEXT_ORAFONWM_FAILALLOCATIONS))
            fail(FALSE);
        WmRuntimeApiUnload();
        WmRuntimeApiSetLibraryName("wmvcore.so");
        TempDirTest::TearDown();
    }

    static void Script(std::vector<OrafonWmScriptedCodec> codecs)
    {
        auto set = RuntimeEntry<PFNORAFONWMSETSCRIPTEDCODECS>(TEXT_ORAFONWM_SETSCRIPTEDCODECS);
        ASSERT_NE(set, nullptr);
        set(codecs.data(), static_cast<DWORD>(codecs.size()));
    }

    // The bit rate of the configuration FindWmaStreamConfig picks, or its failure.
    static HRESULT Pick(CWmaWriter &writer, DWORD rate, WORD channels, DWORD bitRate, DWORD *picked)
    {
        WAVEFORMATEX input = orafon::PcmFormat(rate, channels, 16);
        CComPtr<IWMStreamConfig> config;
        const HRESULT hr = writer.FindWmaStreamConfig(WMMEDIASUBTYPE_WMAudioV8, input, bitRate, &config);
        *picked = 0;
        if (SUCCEEDED(hr)) {
            EXPECT_TRUE(config);
            CComPtr<IWMMediaProps> props;
            EXPECT_EQ(config.QueryInterface(&props), S_OK);
            DWORD cb = 0;
            EXPECT_EQ(props->GetMediaType(nullptr, &cb), S_OK);
            std::vector<BYTE> block(cb);
            auto *mt = reinterpret_cast<WM_MEDIA_TYPE *>(block.data());
            EXPECT_EQ(props->GetMediaType(mt, &cb), S_OK);
            WAVEFORMATEX wfx;
            std::memcpy(&wfx, mt->pbFormat, sizeof wfx);
            EXPECT_EQ(wfx.nSamplesPerSec, rate);
            EXPECT_EQ(wfx.nChannels, channels);
            *picked = wfx.nAvgBytesPerSec * 8;
        }
        return hr;
    }
};

const OrafonWmScriptedFormat kScriptedWma[] = {
    {2, 22050, 16, 20008 / 8, 0},
    {2, 22050, 16, 32024 / 8, 0},
    {2, 22050, 16, 48024 / 8, 0},
    {1, 44100, 16, 32024 / 8, 0},
};
const OrafonWmScriptedFormat kOtherCodec[] = {{2, 22050, 16, 64000 / 8, 0}};

TEST_F(WmaWriterTest, FindWmaStreamConfigPicksTheBestBitRateNotAboveTheRequest)
{
    // A codec of another subtype, one without formats, then the WMA codec:
    // the search steps past the first two.
    Script({{WMMEDIASUBTYPE_PCM, kOtherCodec, 1},
            {WMMEDIASUBTYPE_WMAudioV8, nullptr, 0},
            {WMMEDIASUBTYPE_WMAudioV8, kScriptedWma, 4}});
    struct Row {
        DWORD rate;
        WORD channels;
        DWORD request;
        HRESULT hr;
        DWORD picked;
    } const rows[] = {
        {22050, 2, 32024, S_OK, 32024},     {22050, 2, 32000, S_OK, 20008},   {22050, 2, 20008, S_OK, 20008},
        {22050, 2, 20007, E_INVALIDARG, 0}, {22050, 2, 1000000, S_OK, 48024}, {22050, 1, 32024, E_INVALIDARG, 0},
        {16000, 2, 32024, E_INVALIDARG, 0}, {44100, 1, 48024, S_OK, 32024},   {22050, 2, 0xFFFFFFFFu, S_OK, 48024},
    };
    CWmaWriter writer;
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz, " << r.channels << " ch, " << r.request << " bit/s");
        DWORD picked = 0;
        EXPECT_EQ(Pick(writer, r.rate, r.channels, r.request, &picked), r.hr);
        EXPECT_EQ(picked, r.picked);
    }
    EXPECT_EQ(LiveRuntimeObjects(), 0);
}

TEST_F(WmaWriterTest, FindWmaStreamConfigRefusesAFormatBlockShorterThanAWaveFormat)
{
    const OrafonWmScriptedFormat cut[] = {{2, 22050, 16, 32024 / 8, 0}, {2, 22050, 16, 20008 / 8, 16}};
    Script({{WMMEDIASUBTYPE_WMAudioV8, cut, 2}});
    CWmaWriter writer;
    DWORD picked = 0;
    EXPECT_EQ(Pick(writer, 22050, 2, 32024, &picked), E_UNEXPECTED);
    EXPECT_EQ(LiveRuntimeObjects(), 0);
}

TEST_F(WmaWriterTest, FindWmaStreamConfigWithoutTheSubtypeIsInvalid)
{
    Script({{WMMEDIASUBTYPE_PCM, kOtherCodec, 1}});
    CWmaWriter writer;
    DWORD picked = 0;
    EXPECT_EQ(Pick(writer, 22050, 2, 64000, &picked), E_INVALIDARG);
}

TEST_F(WmaWriterTest, OpenBelowEveryFormatFailsWithoutAFile)
{
    CWmaWriter writer;
    const std::string path = Path("low.wma");
    // The real codec: nothing below 24 kbit/s, nothing at 16 kHz stereo.
    EXPECT_EQ(writer.Open(20008, 22050, 2, path.c_str()), E_INVALIDARG);
    EXPECT_EQ(writer.Open(20000, 16000, 2, path.c_str()), E_INVALIDARG);
    EXPECT_EQ(writer.Open(64000, 11025, 1, path.c_str()), E_INVALIDARG);
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(writer.Close(), S_OK);
    EXPECT_EQ(LiveRuntimeObjects(), 0);
}

TEST_F(WmaWriterTest, SamplesOfTenThousandBytesAtTheirTimesAndTheirSumAsDuration)
{
    auto start = RuntimeEntry<PFNORAFONWMSTARTSAMPLELOG>(TEXT_ORAFONWM_STARTSAMPLELOG);
    auto count = RuntimeEntry<PFNORAFONWMSAMPLELOGCOUNT>(TEXT_ORAFONWM_SAMPLELOGCOUNT);
    auto entry = RuntimeEntry<PFNORAFONWMSAMPLELOGENTRY>(TEXT_ORAFONWM_SAMPLELOGENTRY);
    ASSERT_TRUE(start && count && entry);
    start();
    CWmaWriter writer;
    const std::string path = Path("samples.wma");
    ASSERT_EQ(writer.Open(32024, 22050, 2, path.c_str()), S_OK);
    const std::vector<BYTE> pcm = SinePcm(22050, 2, 25000.0 / 88200);
    ASSERT_EQ(pcm.size(), 25000u);
    // Written in pieces that do not line up with the samples.
    for (size_t at = 0; at < pcm.size(); at += 7000) {
        const ULONG n = static_cast<ULONG>(std::min<size_t>(7000, pcm.size() - at));
        ULONG written = 0;
        ASSERT_EQ(writer.Write(n, pcm.data() + at, &written), S_OK);
        EXPECT_EQ(written, n);
    }
    ASSERT_EQ(writer.Close(), S_OK);

    const QWORD T = 10000 * kUnitsPerSecond / 88200;
    const QWORD last = 5000 * kUnitsPerSecond / 88200;
    ASSERT_EQ(count(), 3u);
    const std::pair<DWORD, QWORD> expected[] = {{10000, 0}, {10000, T}, {5000, 2 * T}};
    for (DWORD i = 0; i < 3; ++i) {
        DWORD cb = 0;
        QWORD time = 0;
        ASSERT_TRUE(entry(i, &cb, &time));
        EXPECT_EQ(cb, expected[i].first) << "sample " << i;
        EXPECT_EQ(time, expected[i].second) << "sample " << i;
    }
    // The sum of the truncated durations, not the duration of 25000 bytes.
    const QWORD duration = 2 * T + last;
    ASSERT_NE(duration, 25000 * kUnitsPerSecond / 88200);
    const AsfDurations d = ReadAsfDurations(path);
    ASSERT_TRUE(d.found);
    EXPECT_EQ(d.send, duration);
    EXPECT_EQ(d.play, duration + d.preroll * 10000);
    const std::string probed = RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(path));
    EXPECT_NEAR(std::atof(probed.c_str()), duration / 1e7, 0.0011) << probed;
    EXPECT_EQ(LiveRuntimeObjects(), 0);
}

// Every rate and channel count the codec serves, at its lowest and highest bit rates.
TEST_F(WmaWriterTest, ASineThroughEveryServedRateAndChannelCountDecodesAtItsFrequency)
{
    struct Target {
        DWORD rate;
        WORD channels;
        DWORD bitRate;
    } const targets[] = {
        {22050, 2, 32024}, {22050, 2, 32048}, {32000, 2, 32000},  {32000, 2, 48000}, {44100, 1, 32024},
        {44100, 1, 48024}, {44100, 2, 31960}, {44100, 2, 320032}, {48000, 2, 64008}, {48000, 2, 192000},
    };
    for (const Target &t : targets) {
        SCOPED_TRACE(testing::Message() << t.rate << " Hz, " << t.channels << " ch, " << t.bitRate << " bit/s");
        const std::string path = Path("sine-" + std::to_string(t.rate) + "-" + std::to_string(t.bitRate) + ".wma");
        CWmaWriter writer;
        ASSERT_EQ(writer.Open(static_cast<LONG>(t.bitRate), t.rate, t.channels, path.c_str()), S_OK);
        const std::vector<BYTE> pcm = SinePcm(t.rate, t.channels, 2.0);
        ULONG written = 0;
        ASSERT_EQ(writer.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written), S_OK);
        ASSERT_EQ(writer.Close(), S_OK);
        // One ffprobe that also decodes every frame: an error shows as a line without '='.
        const std::string probe = RunCommand("ffprobe -v error -count_frames -show_entries stream=codec_name,"
                                             "sample_rate,channels,bit_rate -show_entries format=duration "
                                             "-of default=nw=1 " +
                                             Quote(path) + " 2>&1");
        EXPECT_NE(probe.find("codec_name=wmav2\n"), std::string::npos) << probe;
        EXPECT_NE(probe.find("sample_rate=" + std::to_string(t.rate) + "\n"), std::string::npos) << probe;
        EXPECT_NE(probe.find("channels=" + std::to_string(t.channels) + "\n"), std::string::npos) << probe;
        EXPECT_NE(probe.find("bit_rate=" + std::to_string(t.bitRate) + "\n"), std::string::npos) << probe;
        const size_t at = probe.find("duration=");
        ASSERT_NE(at, std::string::npos) << probe;
        // ASF readers take whole milliseconds of the truncated sample times.
        EXPECT_NEAR(std::atof(probe.c_str() + at + 9), 2.0, 0.0011) << probe;
        EXPECT_EQ(std::count(probe.begin(), probe.end(), '\n'), std::count(probe.begin(), probe.end(), '=')) << probe;
        EXPECT_NEAR(DecodedFrequency(path, t.rate), 1000.0, 10.0);
    }
    EXPECT_EQ(LiveRuntimeObjects(), 0);
}

TEST_F(WmaWriterTest, AFailedSampleAllocationIsAWriteFailureThatCloseReports)
{
    auto fail = RuntimeEntry<PFNORAFONWMFAILALLOCATIONS>(TEXT_ORAFONWM_FAILALLOCATIONS);
    ASSERT_NE(fail, nullptr);
    CWmaWriter writer;
    const std::string path = Path("alloc.wma");
    ASSERT_EQ(writer.Open(128016, 44100, 2, path.c_str()), S_OK);
    const std::vector<BYTE> pcm = SinePcm(44100, 2, 0.5);
    ULONG written = 0;
    fail(TRUE);
    EXPECT_EQ(writer.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written), E_OUTOFMEMORY);
    fail(FALSE);
    EXPECT_EQ(writer.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written), S_OK);
    EXPECT_EQ(writer.Close(), E_OUTOFMEMORY);
    EXPECT_EQ(LiveRuntimeObjects(), 0);
}

TEST_F(WmaWriterTest, TheSinkReportsALostSampleAtWriteAndAtClose)
{
    auto fail = RuntimeEntry<PFNORAFONWMFAILALLOCATIONS>(TEXT_ORAFONWM_FAILALLOCATIONS);
    ASSERT_NE(fail, nullptr);
    CAudioSink sink;
    sink.SetFileFormat(FF_WMA);
    const WAVEFORMATEX wfx = orafon::PcmFormat(44100, 2, 16);
    ASSERT_EQ(sink.Open(Path("sink.wma").c_str(), &wfx, &wfx, 128016), S_OK);
    const std::vector<BYTE> pcm = SinePcm(44100, 2, 0.2);
    fail(TRUE);
    EXPECT_TRUE(FAILED(sink.Write(pcm.data(), static_cast<ULONG>(pcm.size()))));
    fail(FALSE);
    EXPECT_TRUE(FAILED(sink.Close()));
}

TEST_F(WmaWriterTest, AFileThatCannotBeWrittenFailsAtOpenOrClose)
{
    CWmaWriter writer;
    EXPECT_EQ(writer.Open(128016, 44100, 2, Path("no/such/folder/x.wma").c_str()),
              HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(Exists(Path("no")));
    // /dev/full takes the header into nothing: the file cannot even start.
    EXPECT_EQ(writer.Open(128016, 44100, 2, "/dev/full"), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
    EXPECT_FALSE(writer.IsOpen());
    EXPECT_EQ(LiveRuntimeObjects(), 0);
}

TEST_F(WmaWriterTest, AttributeDiagnosticsGoToStandardErrorOnly)
{
    CWmaWriter writer;
    const std::u16string missing = u"/nonexistent-folder/none.wma";
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const HRESULT hr = writer.SetFileAttribute(missing.c_str(), 0, g_wszWMDuration, "1000");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(out, "");
    EXPECT_NE(err.find("Could not open the file /nonexistent-folder/none.wma ( hr=0x"), std::string::npos) << err;
    EXPECT_EQ(writer.SetFileAttribute(missing.c_str(), 0, g_wszWMDuration, "12x"), E_INVALIDARG);
    EXPECT_EQ(writer.SetFileAttribute(nullptr, 0, g_wszWMDuration, "12"), E_INVALIDARG);
}

TEST_F(WmaWriterTest, TheEditorSetsTheDurationOfAFinishedFileAndRefusesOtherFiles)
{
    const std::string path = Path("edit.wma");
    {
        CWmaWriter writer;
        ASSERT_EQ(writer.Open(64024, 44100, 2, path.c_str()), S_OK);
        const std::vector<BYTE> pcm = SinePcm(44100, 2, 1.0);
        ULONG written = 0;
        ASSERT_EQ(writer.Write(static_cast<ULONG>(pcm.size()), pcm.data(), &written), S_OK);
        ASSERT_EQ(writer.Close(), S_OK);
        const std::u16string wide(path.begin(), path.end());
        ASSERT_EQ(writer.SetFileAttribute(wide.c_str(), 0, g_wszWMDuration, "12345670000"), S_OK);
    }
    const AsfDurations d = ReadAsfDurations(path);
    ASSERT_TRUE(d.found);
    EXPECT_EQ(d.send, 12345670000u);
    EXPECT_EQ(d.play, 12345670000u + d.preroll * 10000);
    const std::string probed = RunCommand("ffprobe -v error -show_entries format=duration -of csv=p=0 " + Quote(path));
    EXPECT_NEAR(std::atof(probed.c_str()), 1234.567, 0.0011) << probed;

    // A file that is not ASF is refused and left as it was.
    const std::string text = Path("text.wma");
    std::ofstream(text) << "not an ASF file at all, just some text that is long enough";
    const std::vector<unsigned char> before = ReadAll(text);
    CComPtr<IWMMetadataEditor> editor;
    ASSERT_EQ(WmRuntimeApiGet().WMCreateEditor(&editor), S_OK);
    const std::u16string wideText(text.begin(), text.end());
    EXPECT_EQ(editor->Open(wideText.c_str()), HRESULT_FROM_WIN32(11));
    EXPECT_EQ(ReadAll(text), before);
    EXPECT_EQ(editor->Close(), S_OK);
}

// The runtime missing, or without one of its three factories: no WMA
// formats, and open fails without making anything in the library.
class WmaWithoutRuntime : public TempDirTest, public testing::WithParamInterface<const char *> {
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        WmRuntimeApiUnload();
        WmRuntimeApiSetLibraryName(GetParam());
        WmRuntimeApiLoad();
    }
    void TearDown() override
    {
        WmRuntimeApiUnload();
        WmRuntimeApiSetLibraryName("wmvcore.so");
        TempDirTest::TearDown();
    }
};

TEST_P(WmaWithoutRuntime, NoFormatsAndOpenFailsWithoutCallingIn)
{
    EXPECT_FALSE(CWmaWriter::IsRuntimeAvailable());
    int entries = 0;
    ASSERT_EQ(CAudioSink::EnumFormats(
                  FF_WMA, [](const WAVEFORMATEX *, LONG, void *c) { return ++*static_cast<int *>(c), 1; }, &entries),
              S_OK);
    EXPECT_EQ(entries, 0);
    const std::string path = Path("none.wma");
    {
        CWmaWriter writer;
        EXPECT_EQ(writer.Open(128016, 44100, 2, path.c_str()), E_NOTIMPL);
        EXPECT_EQ(writer.Close(), S_OK);
    }
    EXPECT_FALSE(Exists(path));
    // Nothing was made in a library that was found.
    if (auto made = RuntimeEntry<PFNORAFONWMOBJECTCOUNT>(TEXT_ORAFONWM_OBJECTSMADE)) {
        EXPECT_EQ(made(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Runtime, WmaWithoutRuntime, testing::Values("no-such-wmvcore.so", "wmvcore_without_editor.so"),
                         [](const testing::TestParamInfo<const char *> &row) {
                             return row.index == 0 ? std::string("Missing") : std::string("WithoutEditor");
                         });

} // namespace
} // namespace audiotest
