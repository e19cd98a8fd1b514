// Every catalogue entry of the library-backed file types, spoken by a real
// voice of each generation through IDispatch and read back by the format's
// own tools; and a full file system giving each type a failure.
#include "SpeechTestSupport.h"

#include <audio_out/FileType.h>

#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <sstream>

namespace speechtest {
namespace {

constexpr DISPID kSpeakToFile = 7;
const std::u16string kText = u"Testing one two three.";

struct RealVoice {
    const char16_t *name;
    LONG sapiVersion;
};

const RealVoice kVoices[] = {
    {u"eSpeak NG English (America)", 0},
    {u"Flite kal16", 1},
};

std::string Quote(const std::string &s)
{
    return "'" + s + "'";
}

// "key=value" lines of ffprobe for the first audio stream and the format.
std::map<std::string, std::string> Probe(const std::string &path)
{
    std::map<std::string, std::string> values;
    std::istringstream in(CommandOutput("ffprobe -v error -select_streams a:0 -show_entries "
                                        "stream=codec_name,sample_rate,channels,bits_per_raw_sample,sample_fmt "
                                        "-show_entries format=duration -of default=nw=1 " +
                                        Quote(path)));
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos)
            values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

std::string Trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' '))
        s.pop_back();
    return s;
}

// What one file type's tools say about a file: its duration in seconds, and
// any mismatch recorded through gtest.
struct Entry {
    WAVEFORMATEX format;
    LONG bitRate;
};

double CheckPcmContainer(const std::string &path, const Entry &e, const char *soxType)
{
    auto probe = Probe(path);
    EXPECT_EQ(probe["codec_name"], "pcm_s16be");
    EXPECT_EQ(probe["sample_rate"], std::to_string(e.format.nSamplesPerSec));
    EXPECT_EQ(probe["channels"], std::to_string(e.format.nChannels));
    EXPECT_EQ(Trimmed(CommandOutput("sox --i -t " + Quote(path))), soxType);
    EXPECT_EQ(Trimmed(CommandOutput("sox --i -r " + Quote(path))), std::to_string(e.format.nSamplesPerSec));
    EXPECT_EQ(Trimmed(CommandOutput("sox --i -c " + Quote(path))), std::to_string(e.format.nChannels));
    EXPECT_EQ(Trimmed(CommandOutput("sox --i -b " + Quote(path))), "16");
    return std::atof(probe["duration"].c_str());
}

double CheckAu(const std::string &path, const Entry &e)
{
    return CheckPcmContainer(path, e, "au");
}

double CheckAiff(const std::string &path, const Entry &e)
{
    return CheckPcmContainer(path, e, "aiff");
}

// Headerless: sox decodes it at the entry's rate; the speech must be there
// (not silence) and last as long as two codes a byte say.
double CheckVox(const std::string &path, const Entry &e)
{
    EXPECT_EQ(e.format.nChannels, 1);
    const std::string stat = CommandOutput("sox -t vox -r " + std::to_string(e.format.nSamplesPerSec) + " -c 1 " +
                                           Quote(path) + " -n stat 2>&1");
    const size_t at = stat.find("RMS     amplitude:");
    EXPECT_NE(at, std::string::npos) << stat;
    if (at != std::string::npos) {
        EXPECT_GT(std::atof(stat.c_str() + at + 18), 0.01) << stat;
    }
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return static_cast<double>(info.st_size) * 2 / e.format.nSamplesPerSec;
}

// ogginfo reads every page and packet; it fails on a damaged stream.
double CheckOgg(const std::string &path, const Entry &e)
{
    const std::string info = CommandOutput("ogginfo " + Quote(path) + " 2>&1; echo \"exit=$?\"");
    EXPECT_NE(info.find("exit=0"), std::string::npos) << info;
    EXPECT_NE(info.find("type vorbis"), std::string::npos) << info;
    EXPECT_NE(info.find("Channels: " + std::to_string(e.format.nChannels) + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Rate: " + std::to_string(e.format.nSamplesPerSec) + "\n"), std::string::npos) << info;
    EXPECT_NE(info.find("Nominal bitrate: " + std::to_string(e.bitRate / 1000) + ".000000 kb/s"), std::string::npos)
        << info;
    EXPECT_EQ(info.find("WARNING"), std::string::npos) << info;
    auto probe = Probe(path);
    EXPECT_EQ(probe["codec_name"], "vorbis");
    EXPECT_EQ(probe["sample_rate"], std::to_string(e.format.nSamplesPerSec));
    return std::atof(probe["duration"].c_str());
}

// flac -t decodes every frame and compares it with the stream's MD5 signature.
double CheckFlac(const std::string &path, const Entry &e)
{
    const std::string test = CommandOutput("flac -t -s " + Quote(path) + " 2>&1; echo \"exit=$?\"");
    EXPECT_EQ(test, "exit=0\n");
    auto probe = Probe(path);
    EXPECT_EQ(probe["codec_name"], "flac");
    EXPECT_EQ(probe["sample_rate"], std::to_string(e.format.nSamplesPerSec));
    EXPECT_EQ(probe["channels"], std::to_string(e.format.nChannels));
    EXPECT_EQ(probe["bits_per_raw_sample"], std::to_string(e.format.wBitsPerSample));
    return std::atof(probe["duration"].c_str());
}

struct FileTypeCase {
    FILEFORMAT fileFormat;
    const char *ext;
    double (*check)(const std::string &path, const Entry &e);
};

void PrintTo(const FileTypeCase &type, std::ostream *out)
{
    *out << type.ext;
}

void PrintTo(const RealVoice &voice, std::ostream *out)
{
    *out << std::string(voice.name, voice.name + std::char_traits<char16_t>::length(voice.name));
}

const FileTypeCase kTypes[] = {
    {FF_OGG, "ogg", CheckOgg}, {FF_FLAC, "flac", CheckFlac}, {FF_VOX, "vox", CheckVox},
    {FF_AU, "au", CheckAu},    {FF_AIFF, "aiff", CheckAiff},
};

std::vector<Entry> Catalogue(LONG fileFormat)
{
    std::vector<Entry> entries;
    for (const FormatEntry &f : FindFileType(fileFormat)->formats)
        entries.push_back({TargetFormatOf(f), BitRateOf(f)});
    return entries;
}

size_t WordEvents(const std::vector<ReceivedEvent> &events, size_t from)
{
    size_t words = 0;
    for (size_t i = from; i < events.size(); ++i)
        words += events[i].id == DISPID_TTS_ONTTSWORD;
    return words;
}

class SpeakToFileTypes : public testing::TestWithParam<std::tuple<RealVoice, FileTypeCase>> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(subject.tts);
        const RealVoice &voice = std::get<0>(GetParam());
        const LONG index = subject.Find(voice.name);
        ASSERT_GE(index, 0) << "the voice is not installed";
        ASSERT_EQ(subject->put_VoiceIdx(index), S_OK);
    }
    const FileTypeCase &Type() const { return std::get<1>(GetParam()); }
    LONG Generation() const { return std::get<0>(GetParam()).sapiVersion; }

    Subject subject;
};

TEST_P(SpeakToFileTypes, EveryCatalogueEntryGivesAValidFileWithEvents)
{
    const std::vector<Entry> entries = Catalogue(Type().fileFormat);
    ASSERT_EQ(subject->put_FileFormat(Type().fileFormat), S_OK);
    LONG count = 0;
    ASSERT_EQ(subject->get_WaveFormatCount(&count), S_OK);
    ASSERT_EQ(static_cast<size_t>(count), entries.size());
    double reference = 0;
    size_t referenceWords = 0;
    for (LONG index = 0; index < count; ++index) {
        SCOPED_TRACE(index);
        ASSERT_EQ(subject->put_WaveFormatIdx(index), S_OK);
        const std::string path =
            TempPath("types-" + std::to_string(Generation()) + "-" + std::to_string(index) + "." + Type().ext);
        const size_t endsBefore = subject.Ends(), eventsBefore = subject.sink.received.size();
        ASSERT_EQ(InvokeMethod(subject.tts, kSpeakToFile, {Text(kText), Text(U16(path)), Number(TF_DEFAULT)}), S_OK);
        EXPECT_EQ(subject.Ends(), endsBefore + 1);
        const size_t words = WordEvents(subject.sink.received, eventsBefore);
        const double duration = Type().check(path, entries[static_cast<size_t>(index)]);
        if (index == 0) {
            reference = duration;
            referenceWords = words;
            EXPECT_GT(duration, 0.5);
            EXPECT_LT(duration, 5.0);
            EXPECT_GE(words, 4u);
        } else {
            // Every entry carries the same speech, whatever its rate and channels.
            EXPECT_NEAR(duration, reference, reference * 0.02);
            EXPECT_EQ(words, referenceWords);
        }
        std::remove(path.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(VoicesAndTypes, SpeakToFileTypes,
                         testing::Combine(testing::ValuesIn(kVoices), testing::ValuesIn(kTypes)),
                         [](const testing::TestParamInfo<std::tuple<RealVoice, FileTypeCase>> &row) {
                             return std::string(std::get<0>(row.param).sapiVersion == 0 ? "Espeak_" : "Flite_") +
                                    std::get<1>(row.param).ext;
                         });

// A small tmpfs of the test's own, unmounted at the end.
class SmallFileSystem {
public:
    explicit SmallFileSystem(const std::string &dir) : dir_(dir)
    {
        ::mkdir(dir_.c_str(), 0700);
        if (::mount("tmpfs", dir_.c_str(), "tmpfs", 0, "size=16k") == 0)
            mounted_ = true;
        else
            error_ = std::strerror(errno);
    }
    ~SmallFileSystem()
    {
        if (mounted_)
            ::umount2(dir_.c_str(), MNT_DETACH);
        ::rmdir(dir_.c_str());
    }
    bool mounted() const { return mounted_; }
    const std::string &error() const { return error_; }

private:
    std::string dir_;
    bool mounted_ = false;
    std::string error_;
};

class FullFileSystem : public testing::TestWithParam<FileTypeCase> {};

TEST_P(FullFileSystem, SynchronousSpeakToFileFailsAfterItsEvents)
{
    const std::string dir = TempPath(std::string("full-") + GetParam().ext);
    SmallFileSystem fs(dir);
    if (!fs.mounted())
        GTEST_SKIP() << "cannot mount a 16 KB tmpfs here (" << fs.error() << "); run as root to test a full disk";
    Subject subject;
    ASSERT_TRUE(subject.tts);
    const LONG voice = subject.Find(kVoices[0].name);
    ASSERT_GE(voice, 0);
    ASSERT_EQ(subject->put_VoiceIdx(voice), S_OK);
    ASSERT_EQ(subject->put_FileFormat(GetParam().fileFormat), S_OK);
    LONG count = 0;
    ASSERT_EQ(subject->get_WaveFormatCount(&count), S_OK);
    // The last entry has the highest rate: a few seconds fill 16 KB in every type.
    ASSERT_EQ(subject->put_WaveFormatIdx(count - 1), S_OK);
    const std::u16string text = u"This sentence is long enough to fill a very small file system several times over, "
                                u"whatever the type of the file.";
    const std::string path = dir + "/speech." + GetParam().ext;
    const HRESULT hr = InvokeMethod(subject.tts, kSpeakToFile, {Text(text), Text(U16(path)), Number(TF_DEFAULT)});
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_EQ(subject.Ends(), 1u) << Describe(subject.sink.received);
}

INSTANTIATE_TEST_SUITE_P(Types, FullFileSystem, testing::ValuesIn(kTypes),
                         [](const testing::TestParamInfo<FileTypeCase> &row) { return std::string(row.param.ext); });

} // namespace
} // namespace speechtest
