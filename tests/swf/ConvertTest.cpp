// Whole conversions of MP3 files made by a real encoder, read back by an independent
// SWF reader (ffmpeg/ffprobe), plus every way a conversion must fail without harm.
#include "FlashActions.h"
#include "FlashTags.h"
#include "Mp3SoundStream.h"
#include "Mp3ToSwf.h"
#include "SwfTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace swftest;

namespace {

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "swf_test_XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    std::string File(const std::string &name) const { return (path_ / name).string(); }
    const fs::path &Path() const { return path_; }
    // Names of everything in the folder, sorted.
    std::vector<std::string> List() const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

// Runs a shell command and returns its standard output; status gets the exit status.
std::string Capture(const std::string &command, int *status = nullptr)
{
    std::string output;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        if (status) {
            *status = -1;
        }
        return output;
    }
    char buffer[65536];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, got);
    }
    const int result = ::pclose(pipe);
    if (status) {
        *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
    }
    return output;
}

std::vector<uint8_t> ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string &path, const std::vector<uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Encodes a few seconds of a two-tone signal with lame at the given rate and mode.
std::string MakeMp3(const TempDir &dir, const std::string &name, int sampleRate, int channels, double seconds, int kbps,
                    const std::string &lameExtra = "")
{
    const std::string wav = dir.File(name + ".wav");
    const std::string mp3 = dir.File(name + ".mp3");
    std::ostringstream cmd;
    cmd << "ffmpeg -v error -y -f lavfi -i \"sine=frequency=440:sample_rate=" << sampleRate << ":duration=" << seconds
        << "\" -f lavfi -i \"sine=frequency=660:sample_rate=" << sampleRate << ":duration=" << seconds
        << "\" -filter_complex amerge=inputs=2 -ac " << channels << " '" << wav << "' && lame --quiet -b " << kbps
        << " -m " << (channels == 1 ? "m" : "j") << " " << lameExtra << " '" << wav << "' '" << mp3 << "'";
    int status = 0;
    Capture(cmd.str() + " 2>&1", &status);
    EXPECT_EQ(status, 0) << cmd.str();
    return mp3;
}

// The MD5 of every audio packet an ffprobe-read file holds, in order.
std::vector<std::string> PacketHashes(const std::string &path)
{
    const std::string out = Capture("ffprobe -v error -select_streams a:0 -show_entries packet=data_hash "
                                    "-show_data_hash MD5 -of default=nw=1 '" +
                                    path + "'");
    std::vector<std::string> hashes;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("data_hash=", 0) == 0) {
            hashes.push_back(line.substr(10));
        }
    }
    return hashes;
}

// The audio stream of a file as ffmpeg copies it out, bare MP3 frames only.
std::string CopiedAudio(const std::string &path)
{
    return Capture("ffmpeg -v error -i '" + path + "' -map 0:a:0 -c:a copy -f mp3 -id3v2_version 0 -write_xing 0 -");
}

std::string ProbeStream(const std::string &path, const std::string &entry)
{
    std::string value = Capture("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                                " -of default=nw=1:nk=1 '" + path + "'");
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) {
        value.pop_back();
    }
    return value;
}

FlashMovie ReadMovie(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return FlashReadMovie(in);
}

struct ConversionCase {
    int sampleRate;
    int channels;
    int kbps;
    bool loop;
    int frameRate;
};

std::string CaseName(const ::testing::TestParamInfo<ConversionCase> &info)
{
    const auto &c = info.param;
    return std::to_string(c.sampleRate) + (c.channels == 1 ? "Mono" : "Stereo") + "At" + std::to_string(c.frameRate) +
           (c.loop ? "Looped" : "");
}

class ConversionTest : public ::testing::TestWithParam<ConversionCase> {};

TEST_P(ConversionTest, EveryFrameReachesTheMovieUnchanged)
{
    const auto &c = GetParam();
    TempDir dir;
    const std::string mp3 = MakeMp3(dir, "in", c.sampleRate, c.channels, 2.5, c.kbps);
    const std::string swf = dir.File("out.swf");
    ASSERT_EQ(ConvertMp3ToSwf(mp3.c_str(), swf.c_str(), c.loop, c.frameRate), 0);

    // Our own view of the input, for the expected movie length.
    Mp3SoundStream input(mp3.c_str(), c.frameRate);
    ASSERT_GT(input.FrameCount(), 0u);
    const int samplesPerFrame = c.sampleRate >= 32000 ? 1152 : 576;
    const int64_t expectedFrames = static_cast<int64_t>(
        std::ceil(static_cast<double>(input.FrameCount()) * samplesPerFrame * c.frameRate / c.sampleRate - 1e-9));

    // The independent reader sees an MP3 stream of the input's rate and channels...
    EXPECT_EQ(ProbeStream(swf, "codec_name"), "mp3");
    EXPECT_EQ(ProbeStream(swf, "sample_rate"), std::to_string(c.sampleRate));
    EXPECT_EQ(ProbeStream(swf, "channels"), std::to_string(c.channels));

    // ...whose packets are the input's frames, byte for byte, none missing. ffprobe's
    // MP3 reader may hide the encoder's info frame at the start; the movie carries it
    // as the audio frame it is.
    const auto inputPackets = PacketHashes(mp3);
    const auto moviePackets = PacketHashes(swf);
    const auto mp3Bytes = ReadFile(mp3);
    ASSERT_FALSE(inputPackets.empty());
    EXPECT_EQ(moviePackets.size(), input.FrameCount());
    ASSERT_GE(moviePackets.size(), inputPackets.size());
    const size_t hidden = moviePackets.size() - inputPackets.size();
    EXPECT_LE(hidden, 1u);
    if (hidden == 1) {
        const std::string start = AsString(std::vector<uint8_t>(mp3Bytes.begin(), mp3Bytes.begin() + 64));
        EXPECT_TRUE(start.find("Info") != std::string::npos || start.find("Xing") != std::string::npos);
    }
    EXPECT_TRUE(std::equal(inputPackets.begin(), inputPackets.end(), moviePackets.begin() + hidden));
    EXPECT_EQ(CopiedAudio(swf), AsString(mp3Bytes)); // lame wrote no tags: the file is all frames

    // The movie's own structure.
    const FlashMovie movie = ReadMovie(swf);
    ASSERT_TRUE(movie.complete);
    EXPECT_EQ(movie.header.Version(), 5);
    EXPECT_EQ(movie.header.FrameSize(), FlashRect(0, 0, 200, 200));
    EXPECT_EQ(movie.header.FrameRate().IntegerPart(), c.frameRate);
    EXPECT_EQ(movie.header.BodyLength() + movie.header.Size(), fs::file_size(swf));
    EXPECT_EQ(movie.header.FrameCount(), expectedFrames + (c.loop ? 1 : 0));
    int showFrames = 0;
    for (const auto &tag : movie.tags) {
        showFrames += tag->EndsFrame() ? 1 : 0;
    }
    EXPECT_EQ(showFrames, movie.header.FrameCount());
    ASSERT_GE(movie.tags.size(), 4u);
    auto *background = dynamic_cast<FlashTagBackgroundColor *>(movie.tags[0].get());
    ASSERT_NE(background, nullptr);
    EXPECT_EQ(background->Red() + background->Green() + background->Blue(), 3 * 255);
    auto *head = dynamic_cast<FlashTagSoundStreamHead2 *>(movie.tags[1].get());
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->Compression(), 2);
    EXPECT_EQ(head->StreamStereo(), c.channels == 2 ? 1 : 0);
    EXPECT_EQ(head->StreamRate(), Mp3SoundStream::RateCode(c.sampleRate));
    const size_t tail = movie.tags.size();
    EXPECT_EQ(movie.tags[tail - 1]->Code(), kFlashTagEnd);
    if (c.loop) {
        EXPECT_EQ(movie.tags[tail - 4]->Code(), kFlashTagStartSound);
        EXPECT_TRUE(movie.tags[tail - 3]->EndsFrame());
        auto *action = dynamic_cast<FlashTagDoAction *>(movie.tags[tail - 2].get());
        ASSERT_NE(action, nullptr);
        ASSERT_EQ(action->Records().size(), 2u);
        EXPECT_EQ(action->Records()[0]->Code(), 0x81);
        EXPECT_EQ(action->Records()[1]->Code(), 0x06);
    } else {
        EXPECT_EQ(movie.tags[tail - 2]->Code(), kFlashTagStartSound);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Encoded, ConversionTest,
    ::testing::Values(ConversionCase{44100, 2, 128, false, 12}, ConversionCase{44100, 1, 96, true, 15},
                      ConversionCase{48000, 2, 160, true, 24}, ConversionCase{32000, 1, 64, false, 15},
                      ConversionCase{22050, 2, 64, false, 12}, ConversionCase{24000, 1, 48, true, 30},
                      ConversionCase{16000, 2, 32, false, 15}, ConversionCase{11025, 1, 24, false, 12},
                      ConversionCase{12000, 2, 32, true, 15}, ConversionCase{8000, 1, 16, true, 30},
                      ConversionCase{8000, 2, 24, false, 60}),
    CaseName);

// The exact bytes of a small movie built from synthetic frames.
TEST(SwfConvert, MovieLayoutIsExact)
{
    TempDir dir;
    std::vector<uint8_t> mp3;
    for (int i = 0; i < 8; ++i) {
        Append(mp3, MakeFrame(FrameSpec{}, 417, static_cast<uint8_t>(i + 1)));
    }
    WriteFile(dir.File("in.mp3"), mp3);
    const std::string swf = dir.File("out.swf");
    ASSERT_EQ(ConvertMp3ToSwf(dir.File("in.mp3").c_str(), swf.c_str(), true, 12), 0);
    const auto bytes = ReadFile(swf);

    // 8 frames of 1152 samples at 44100 Hz last 0.209 s: 3 movie frames at 12 per second
    // (the blocks carry 4, 3 and 1 frames), plus the looping frame.
    std::vector<uint8_t> body = Bytes({0x43, 0x02, 0xFF, 0xFF, 0xFF, 0x46, 0x0B, 0x0F, 0x2F, 0x5B, 0x0E, 0x00, 0x00});
    const std::vector<std::pair<int, int>> blocks = {{0, 4}, {4, 3}, {7, 1}};
    const std::vector<int> seeks = {0, 933, 714};
    for (size_t b = 0; b < blocks.size(); ++b) {
        const uint32_t length = 4 + 417 * blocks[b].second;
        Append(body, Bytes({0xFF, 0x04, static_cast<int>(length & 0xFF), static_cast<int>(length >> 8), 0, 0}));
        const int samples = 1152 * blocks[b].second;
        Append(body, Bytes({samples & 0xFF, samples >> 8, seeks[b] & 0xFF, seeks[b] >> 8}));
        body.insert(body.end(), mp3.begin() + 417 * blocks[b].first,
                    mp3.begin() + 417 * (blocks[b].first + blocks[b].second));
        Append(body, Bytes({0x40, 0x00}));
    }
    Append(body, Bytes({0xC3, 0x03, 0x00, 0x00, 0x00, 0x40, 0x00}));
    Append(body, Bytes({0x07, 0x03, 0x81, 0x02, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00}));
    const uint32_t fileLength = 18 + static_cast<uint32_t>(body.size());
    std::vector<uint8_t> expected =
        Bytes({'F', 'W', 'S', 5, static_cast<int>(fileLength & 0xFF), static_cast<int>((fileLength >> 8) & 0xFF), 0, 0,
               0x48, 0x01, 0x90, 0x00, 0x64, 0x00, 0x00, 0x0C, 4, 0});
    Append(expected, body);
    EXPECT_EQ(bytes, expected);
}

// A precious file at the output path, which every failed conversion must leave alone.
class FailureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<uint8_t> mp3;
        for (int i = 0; i < 100; ++i) {
            Append(mp3, MakeFrame(FrameSpec{}, 417, 7));
        }
        WriteFile(dir_.File("in.mp3"), mp3);
        WriteFile(dir_.File("out.swf"), precious_);
    }

    void ExpectUntouched()
    {
        EXPECT_EQ(ReadFile(dir_.File("out.swf")), precious_);
        EXPECT_EQ(dir_.List(), (std::vector<std::string>{"in.mp3", "out.swf"})) << "a temporary file was left";
    }

    TempDir dir_;
    const std::vector<uint8_t> precious_ = Bytes({'k', 'e', 'e', 'p'});
};

TEST_F(FailureTest, InputWithoutFramesLeavesTheOutput)
{
    WriteFile(dir_.File("in.mp3"), std::vector<uint8_t>(10000, 0x41));
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), dir_.File("out.swf").c_str(), false, 12), -1);
    ExpectUntouched();
}

TEST_F(FailureTest, MissingInputLeavesTheOutput)
{
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("none.mp3").c_str(), dir_.File("out.swf").c_str(), false, 12), -1);
    ExpectUntouched();
}

TEST_F(FailureTest, UnrepresentableFrameRatesLeaveTheOutput)
{
    for (int rate : {0, -5, 256, 1000}) {
        EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), dir_.File("out.swf").c_str(), false, rate), -1) << rate;
        ExpectUntouched();
    }
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), dir_.File("out.swf").c_str(), false, 255), 0);
    EXPECT_EQ(ReadMovie(dir_.File("out.swf")).header.FrameRate().IntegerPart(), 255);
}

TEST_F(FailureTest, InputNamedAsOutputIsRefusedAndKept)
{
    const auto before = ReadFile(dir_.File("in.mp3"));
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), dir_.File("in.mp3").c_str(), false, 12), -1);
    EXPECT_EQ(ReadFile(dir_.File("in.mp3")), before);
    // Also when reached through another spelling of the path.
    const std::string other = dir_.File("./in.mp3");
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), other.c_str(), false, 12), -1);
    ExpectUntouched();
}

TEST_F(FailureTest, NullOrEmptyPathsFail)
{
    EXPECT_EQ(ConvertMp3ToSwf(nullptr, dir_.File("out.swf").c_str(), false, 12), -1);
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), nullptr, false, 12), -1);
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), "", false, 12), -1);
    ExpectUntouched();
}

TEST_F(FailureTest, LongOutputNameStillConverts)
{
    const std::string name(250, 'n');
    ASSERT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), dir_.File(name).c_str(), false, 12), 0);
    EXPECT_TRUE(fs::exists(dir_.File(name)));
    EXPECT_EQ(dir_.List(), (std::vector<std::string>{"in.mp3", name, "out.swf"}));
}

TEST_F(FailureTest, OutputThatCannotBeCreatedIsReported)
{
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), dir_.File("missing/out.swf").c_str(), false, 12), -1);
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), dir_.File("in.mp3/out.swf").c_str(), false, 12), -1);
    ExpectUntouched();
}

TEST_F(FailureTest, OutputThatCannotBeWrittenInFullIsReported)
{
    // A file size limit stands in for a full disk: the writes past it fail.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{20000, 20000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        const int result = ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), dir_.File("out.swf").c_str(), false, 12);
        ::_exit(result == -1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the conversion claimed success";
    ExpectUntouched();
}

TEST_F(FailureTest, SuccessReplacesTheOutput)
{
    EXPECT_EQ(ConvertMp3ToSwf(dir_.File("in.mp3").c_str(), dir_.File("out.swf").c_str(), false, 12), 0);
    const auto bytes = ReadFile(dir_.File("out.swf"));
    ASSERT_GT(bytes.size(), 100u * 417);
    EXPECT_EQ(AsString(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 3)), "FWS");
    EXPECT_EQ(dir_.List(), (std::vector<std::string>{"in.mp3", "out.swf"}));
}

// 8000 Hz frames last 72 ms, so at 250 movie frames per second each adds 18 movie frames.
std::vector<uint8_t> LowRateFrames(int count)
{
    std::vector<uint8_t> mp3;
    for (int i = 0; i < count; ++i) {
        Append(mp3, MakeFrame(FrameSpec{0, 1, 1, 2, false, 3}, 72, 5));
    }
    return mp3;
}

TEST(SwfConvert, FrameCountThatWouldWrapIsRefused)
{
    TempDir dir;
    const std::string swf = dir.File("out.swf");
    WriteFile(dir.File("long.mp3"), LowRateFrames(3641)); // 65538 movie frames
    EXPECT_EQ(ConvertMp3ToSwf(dir.File("long.mp3").c_str(), swf.c_str(), false, 250), -1);
    EXPECT_FALSE(fs::exists(swf));

    WriteFile(dir.File("fits.mp3"), LowRateFrames(3640)); // 65520 movie frames
    ASSERT_EQ(ConvertMp3ToSwf(dir.File("fits.mp3").c_str(), swf.c_str(), true, 250), 0);
    EXPECT_EQ(ReadMovie(swf).header.FrameCount(), 65521);
}

TEST(SwfConvert, LengthRoundsUpSoTheLastFramesAreKept)
{
    TempDir dir;
    std::vector<uint8_t> mp3;
    for (int i = 0; i < 385; ++i) { // 10.057 s
        Append(mp3, MakeFrame(FrameSpec{}, 417, static_cast<uint8_t>(1 + i % 100)));
    }
    WriteFile(dir.File("in.mp3"), mp3);
    const std::string swf = dir.File("out.swf");
    ASSERT_EQ(ConvertMp3ToSwf(dir.File("in.mp3").c_str(), swf.c_str(), false, 12), 0);
    const FlashMovie movie = ReadMovie(swf);
    EXPECT_EQ(movie.header.FrameCount(), 121);
    std::vector<uint8_t> carried;
    for (const auto &tag : movie.tags) {
        if (auto *block = dynamic_cast<FlashTagSoundStreamBlockMP3 *>(tag.get())) {
            carried.insert(carried.end(), block->Data(), block->Data() + block->DataLength());
        }
    }
    EXPECT_EQ(carried, mp3);
}

TEST(SwfConvert, StreamHeadCarriesItsLatencySeek)
{
    TempDir dir;
    const std::string mp3 = MakeMp3(dir, "in", 44100, 2, 1.0, 128);
    const std::string swf = dir.File("out.swf");
    ASSERT_EQ(ConvertMp3ToSwf(mp3.c_str(), swf.c_str(), false, 12), 0);
    const auto bytes = ReadFile(swf);
    // Header (18), background colour (5), then the stream head with its 6-byte body.
    ASSERT_GT(bytes.size(), 31u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 23, bytes.begin() + 31),
              Bytes({0x46, 0x0B, 0x0F, 0x2F, 0x5B, 0x0E, 0x00, 0x00}));
}

TEST(SwfConvert, TagsAroundTheAudioAreNotCarried)
{
    TempDir dir;
    const std::string plain = MakeMp3(dir, "plain", 44100, 2, 1.5, 128);
    const auto frames = ReadFile(plain);

    // An ID3v2 tag whose picture data holds valid-looking frame headers, and an ID3v1 tag.
    std::vector<uint8_t> picture(3000, 0x10);
    for (size_t at = 100; at + 4 < picture.size(); at += 500) {
        const auto fake = MakeFrame(FrameSpec{3, 1, 1, 2, false, 3}, 4, 0); // 32 kHz mono
        std::copy(fake.begin(), fake.end(), picture.begin() + static_cast<long>(at));
    }
    std::vector<uint8_t> frame = Bytes({'A', 'P', 'I', 'C'});
    const uint32_t frameSize = static_cast<uint32_t>(picture.size());
    Append(frame, Bytes({0, static_cast<int>((frameSize >> 14) & 0x7F), static_cast<int>((frameSize >> 7) & 0x7F),
                         static_cast<int>(frameSize & 0x7F), 0, 0}));
    Append(frame, picture);
    const uint32_t tagSize = static_cast<uint32_t>(frame.size());
    std::vector<uint8_t> tagged = Bytes({'I', 'D', '3', 4, 0, 0, static_cast<int>((tagSize >> 21) & 0x7F),
                                         static_cast<int>((tagSize >> 14) & 0x7F),
                                         static_cast<int>((tagSize >> 7) & 0x7F), static_cast<int>(tagSize & 0x7F)});
    Append(tagged, frame);
    Append(tagged, frames);
    std::vector<uint8_t> v1(128, ' ');
    v1[0] = 'T';
    v1[1] = 'A';
    v1[2] = 'G';
    Append(tagged, v1);
    WriteFile(dir.File("tagged.mp3"), tagged);

    const std::string swf = dir.File("out.swf");
    ASSERT_EQ(ConvertMp3ToSwf(dir.File("tagged.mp3").c_str(), swf.c_str(), false, 15), 0);
    EXPECT_EQ(CopiedAudio(swf), AsString(frames));
    EXPECT_EQ(ProbeStream(swf, "channels"), "2");
    EXPECT_EQ(ProbeStream(swf, "sample_rate"), "44100");
}

TEST(SwfConvert, TruncatedFinalFrameIsDropped)
{
    TempDir dir;
    const std::string plain = MakeMp3(dir, "plain", 22050, 1, 1.0, 64);
    auto bytes = ReadFile(plain);
    Mp3SoundStream whole(bytes, 15);
    ASSERT_GT(whole.FrameCount(), 2u);
    const size_t lastSize = static_cast<size_t>(whole.FrameSizes().back());
    bytes.resize(bytes.size() - lastSize / 2);
    WriteFile(dir.File("cut.mp3"), bytes);
    const std::string swf = dir.File("out.swf");
    ASSERT_EQ(ConvertMp3ToSwf(dir.File("cut.mp3").c_str(), swf.c_str(), false, 15), 0);
    const std::string audio = CopiedAudio(swf);
    EXPECT_EQ(audio.size(), bytes.size() - (lastSize - lastSize / 2));
    EXPECT_EQ(audio, AsString(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(audio.size()))));
}

TEST(SwfConvert, MixedRateStreamStillCarriesEveryFrame)
{
    // Timed by the last frame's 72 ms, the 44.1 kHz frames before it need more movie
    // frames than their duration suggests; the movie grows until all are carried.
    TempDir dir;
    std::vector<uint8_t> mp3;
    for (int i = 0; i < 60; ++i) {
        Append(mp3, MakeFrame(FrameSpec{}, 417, static_cast<uint8_t>(1 + i)));
    }
    Append(mp3, MakeFrame(FrameSpec{0, 1, 1, 2, false, 3}, 72, 0x66));
    WriteFile(dir.File("in.mp3"), mp3);
    const std::string swf = dir.File("out.swf");
    ASSERT_EQ(ConvertMp3ToSwf(dir.File("in.mp3").c_str(), swf.c_str(), false, 12), 0);
    const FlashMovie movie = ReadMovie(swf);
    ASSERT_TRUE(movie.complete);
    std::vector<uint8_t> carried;
    int showFrames = 0;
    for (const auto &tag : movie.tags) {
        showFrames += tag->EndsFrame() ? 1 : 0;
        if (auto *block = dynamic_cast<FlashTagSoundStreamBlockMP3 *>(tag.get())) {
            carried.insert(carried.end(), block->Data(), block->Data() + block->DataLength());
        }
    }
    EXPECT_EQ(carried, mp3);
    EXPECT_EQ(showFrames, movie.header.FrameCount());
}

TEST(SwfConvert, InputFromAPipeIsReadToItsEnd)
{
    TempDir dir;
    std::vector<uint8_t> mp3;
    for (int i = 0; i < 3000; ++i) { // 1.25 MB: more than one read chunk
        Append(mp3, MakeFrame(FrameSpec{}, 417, static_cast<uint8_t>(1 + i % 100)));
    }
    const std::string fifo = dir.File("in.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        std::ofstream out(fifo, std::ios::binary);
        out.write(reinterpret_cast<const char *>(mp3.data()), static_cast<std::streamsize>(mp3.size()));
        ::_exit(out ? 0 : 1);
    }
    const std::string swf = dir.File("out.swf");
    const int result = ConvertMp3ToSwf(fifo.c_str(), swf.c_str(), false, 15);
    int status = 0;
    ::waitpid(writer, &status, 0);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(CopiedAudio(swf), AsString(mp3));
}

// Files that are not MP3 streams make no movie, and the failure says why.
TEST(SwfConvert, OnlyRunsOfLayerIIIFramesMakeAMovie)
{
    TempDir dir;
    const std::string tone = MakeMp3(dir, "tone", 44100, 2, 2.0, 128);
    const std::string wav = dir.File("tone.wav"); // the encoder's input, left beside it
    const std::string layer2 = dir.File("layer2.mp3");
    int status = 0;
    Capture("ffmpeg -v error -y -i '" + wav + "' -c:a mp2 -f mp2 '" + layer2 + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    const std::string freeFormat = dir.File("free.mp3");
    Capture("lame --quiet --freeformat -b 40 -m m '" + wav + "' '" + freeFormat + "' 2>&1", &status);
    ASSERT_EQ(status, 0);
    std::vector<uint8_t> random(100000);
    uint32_t seed = 12345;
    for (uint8_t &b : random) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    WriteFile(dir.File("random.mp3"), random);
    std::vector<uint8_t> renamedWav = ReadFile(wav);
    WriteFile(dir.File("wav.mp3"), renamedWav);

    struct Case {
        std::string input;
        Mp3ToSwfFailure why;
    } cases[] = {
        {dir.File("random.mp3"), Mp3ToSwfFailure::NoFrames},
        {dir.File("wav.mp3"), Mp3ToSwfFailure::NoFrames},
        {layer2, Mp3ToSwfFailure::NoFrames},
        {freeFormat, Mp3ToSwfFailure::FreeFormat},
    };
    for (const Case &c : cases) {
        Mp3ToSwfFailure why = Mp3ToSwfFailure::None;
        EXPECT_EQ(ConvertMp3ToSwf(c.input.c_str(), dir.File("out.swf").c_str(), false, 12, &why), -1) << c.input;
        EXPECT_EQ(why, c.why) << c.input;
        EXPECT_FALSE(fs::exists(dir.File("out.swf"))) << c.input;
    }
    Mp3ToSwfFailure why = Mp3ToSwfFailure::None;
    ASSERT_EQ(ConvertMp3ToSwf(tone.c_str(), dir.File("out.swf").c_str(), false, 12, &why), 0);
    EXPECT_EQ(why, Mp3ToSwfFailure::None);
}

// 100 KB of junk in front of a real MP3 adds no frame: the movie carries
// exactly the frames of the MP3 alone.
TEST(SwfConvert, JunkBeforeTheAudioAddsNoFrames)
{
    TempDir dir;
    const std::string tone = MakeMp3(dir, "tone", 22050, 1, 1.0, 64);
    std::vector<uint8_t> bytes(100000);
    uint32_t seed = 777;
    for (uint8_t &b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(seed >> 24);
    }
    // Headers scattered through the junk, each followed by more junk.
    for (size_t at = 1000; at + 4 < bytes.size(); at += 7919) {
        const auto header = MakeFrame(FrameSpec{2, 1, 8, 0, false, 3}, 4, 0);
        std::copy(header.begin(), header.end(), bytes.begin() + static_cast<long>(at));
    }
    const std::vector<uint8_t> audio = ReadFile(tone);
    Append(bytes, audio);
    Mp3SoundStream alone(audio, 12), withJunk(bytes, 12);
    ASSERT_GT(alone.FrameCount(), 10u);
    EXPECT_EQ(withJunk.FrameCount(), alone.FrameCount());
    EXPECT_EQ(withJunk.FrameSizes(), alone.FrameSizes());
}

TEST(SwfConvert, TooLongForTheFrameRateSaysSo)
{
    TempDir dir;
    WriteFile(dir.File("long.mp3"), LowRateFrames(3641)); // 65538 movie frames
    Mp3ToSwfFailure why = Mp3ToSwfFailure::None;
    EXPECT_EQ(ConvertMp3ToSwf(dir.File("long.mp3").c_str(), dir.File("out.swf").c_str(), false, 250, &why), -1);
    EXPECT_EQ(why, Mp3ToSwfFailure::TooManyFrames);
    EXPECT_NE(std::string(DescribeMp3ToSwfFailure(why)).find("65535"), std::string::npos);
}

// What the output path names stays what it was: a link stays a link (its
// target gets the movie and keeps its mode), hard links stay one file, a pipe
// and a device are written, never replaced.
TEST_F(FailureTest, OutputKindsAreWrittenNotReplaced)
{
    const std::string in = dir_.File("in.mp3");
    const std::string target = dir_.File("target.swf"), link = dir_.File("link.swf");
    WriteFile(target, precious_);
    ::chmod(target.c_str(), 0640);
    fs::create_symlink(target, link);
    ASSERT_EQ(ConvertMp3ToSwf(in.c_str(), link.c_str(), false, 12), 0);
    EXPECT_TRUE(fs::is_symlink(link));
    const std::vector<uint8_t> movie = ReadFile(target);
    ASSERT_GT(movie.size(), 3u);
    EXPECT_EQ(AsString(std::vector<uint8_t>(movie.begin(), movie.begin() + 3)), "FWS");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    const std::string second = dir_.File("second.swf");
    fs::create_hard_link(target, second);
    WriteFile(target, precious_);
    ASSERT_EQ(ConvertMp3ToSwf(in.c_str(), second.c_str(), false, 12), 0);
    EXPECT_TRUE(fs::equivalent(target, second));
    EXPECT_EQ(ReadFile(target), movie);

    // A pipe: read here, opened before the conversion so that its open does not
    // wait, and so that a conversion that replaced it cannot leave us waiting.
    const std::string pipe = dir_.File("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_LT(movie.size(), 65536u); // it fits in the pipe while nobody reads
    EXPECT_EQ(ConvertMp3ToSwf(in.c_str(), pipe.c_str(), false, 12), 0);
    std::vector<uint8_t> piped(movie.size() + 1);
    const ssize_t got = ::read(reader, piped.data(), piped.size());
    ::close(reader);
    piped.resize(got > 0 ? static_cast<size_t>(got) : 0);
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(piped, movie);

    // A device node of the test's own (root only).
    const std::string null = dir_.File("null");
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_EQ(ConvertMp3ToSwf(in.c_str(), null.c_str(), false, 12), 0);
        EXPECT_TRUE(fs::is_character_file(null));
    }
    EXPECT_EQ(ReadFile(dir_.File("out.swf")), precious_);
    for (const std::string &name : dir_.List()) {
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << "a temporary file was left: " << name;
    }
}

} // namespace
