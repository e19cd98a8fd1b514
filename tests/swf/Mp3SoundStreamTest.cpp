#include "Mp3SoundStream.h"
#include "FlashIO.h"
#include "FlashTags.h"
#include "SwfTestUtil.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace swftest;

namespace {

struct Block {
    int frames;
    int sampleCount;
    int seekSamples;
    bool operator==(const Block &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Block &b)
{
    return out << "(" << b.frames << ", " << b.sampleCount << ", " << b.seekSamples << ")";
}

std::vector<uint8_t> Frames(const FrameSpec &spec, int size, int count)
{
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; ++i) {
        Append(bytes, MakeFrame(spec, size, static_cast<uint8_t>(1 + i % 200)));
    }
    return bytes;
}

// Runs blockCount stream blocks and decodes each one written.
std::vector<Block> RunBlocks(Mp3SoundStream &stream, int blockCount, int frameSize)
{
    std::vector<Block> blocks;
    for (int i = 0; i < blockCount; ++i) {
        std::ostringstream out(std::ios::binary);
        stream.WriteStreamBlock(out);
        if (out.str().empty()) {
            break;
        }
        std::istringstream in(out.str());
        FlashTagSoundStreamBlockMP3 block;
        block.Read(in);
        EXPECT_TRUE(in);
        EXPECT_EQ(block.DataLength() % frameSize, 0u);
        blocks.push_back({static_cast<int>(block.DataLength() / frameSize), block.SampleCount(), block.SeekSamples()});
    }
    return blocks;
}

struct TimingCase {
    const char *name;
    FrameSpec spec;
    int frameSize;
    int frameRate;
    std::vector<Block> expected;
};

class BlockTimingTest : public ::testing::TestWithParam<TimingCase> {};

TEST_P(BlockTimingTest, MatchesTheTable)
{
    const auto &c = GetParam();
    Mp3SoundStream stream(Frames(c.spec, c.frameSize, 200), c.frameRate);
    ASSERT_EQ(stream.FrameCount(), 200u);
    const auto blocks = RunBlocks(stream, static_cast<int>(c.expected.size()), c.frameSize);
    EXPECT_EQ(blocks, c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, BlockTimingTest,
    ::testing::Values(TimingCase{"Mpeg1At44100",
                                 {3, 1, 9, 0, false, 0},
                                 417,
                                 12,
                                 {{4, 4608, 0},
                                  {3, 3456, 933},
                                  {3, 3456, 714},
                                  {3, 3456, 495},
                                  {3, 3456, 275},
                                  {4, 4608, 57},
                                  {3, 3456, 990},
                                  {3, 3456, 771}}},
                      TimingCase{"Mpeg2At22050",
                                 {2, 1, 8, 0, false, 0},
                                 208,
                                 12,
                                 {{4, 2304, 0}, {3, 1728, 466}, {3, 1728, 357}, {3, 1728, 247}}},
                      TimingCase{
                          "Mpeg25At8000", {0, 1, 1, 2, false, 3}, 72, 30, {{1, 576, 0}, {0, 0, 309}, {1, 576, 42}}}),
    [](const auto &row) { return std::string(row.param.name); });

TEST(Mp3SoundStream, FrameSizesFollowTheFormula)
{
    EXPECT_EQ(Mp3SoundStream::UnpaddedFrameSize(0, 128000, 44100), 417);
    EXPECT_EQ(Mp3SoundStream::UnpaddedFrameSize(1, 64000, 22050), 208);
    EXPECT_EQ(Mp3SoundStream::UnpaddedFrameSize(2, 8000, 8000), 72);

    FrameSpec padded{3, 1, 9, 0, true, 0};
    std::vector<uint8_t> bytes = MakeFrame(padded, 418, 1);
    Append(bytes, MakeFrame(FrameSpec{}, 417, 2));
    Mp3SoundStream stream(bytes, 12);
    EXPECT_EQ(stream.FrameSizes(), (std::vector<int32_t>{418, 417}));
    EXPECT_EQ(stream.FrameData(1)[4], 2);
}

TEST(Mp3SoundStream, DurationCountsSamplesAtTheirRate)
{
    Mp3SoundStream stream(Frames(FrameSpec{}, 417, 100), 12);
    EXPECT_DOUBLE_EQ(stream.GetDuration(), 100 * 1152 / 44100.0);
    EXPECT_EQ(stream.Bitrate(), 128000);
    EXPECT_EQ(stream.VersionIndex(), 0);
    EXPECT_EQ(stream.LayerIndex(), 2);
}

struct SamplesCase {
    FrameSpec spec;
    int frameSize;
    int sampleRate;
    int samplesPerFrame;
};

class SamplesPerFrameTest : public ::testing::TestWithParam<SamplesCase> {};

TEST_P(SamplesPerFrameTest, DependsOnTheRate)
{
    const auto &c = GetParam();
    Mp3SoundStream stream(Frames(c.spec, c.frameSize, 3), 12);
    ASSERT_EQ(stream.FrameCount(), 3u);
    EXPECT_EQ(stream.SampleRate(), c.sampleRate);
    EXPECT_EQ(stream.SamplesPerFrame(), c.samplesPerFrame);
}

INSTANTIATE_TEST_SUITE_P(Rates, SamplesPerFrameTest,
                         ::testing::Values(SamplesCase{{3, 1, 9, 2, false, 0}, 576, 32000, 1152},
                                           SamplesCase{{3, 1, 9, 1, false, 0}, 384, 48000, 1152},
                                           SamplesCase{{2, 1, 8, 1, false, 0}, 192, 24000, 576},
                                           SamplesCase{{2, 1, 8, 2, false, 0}, 288, 16000, 576},
                                           SamplesCase{{0, 1, 8, 0, false, 0}, 417, 11025, 576},
                                           SamplesCase{{0, 1, 8, 1, false, 0}, 384, 12000, 576}));

struct RefusedCase {
    const char *name;
    FrameSpec spec;
};

class RefusedHeaderTest : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedHeaderTest, IsNeverAFrame)
{
    Mp3SoundStream stream(Frames(GetParam().spec, 417, 20), 12);
    EXPECT_EQ(stream.FrameCount(), 0u);
    EXPECT_EQ(stream.GetDuration(), 0.0);
    EXPECT_EQ(stream.MovieFramesNeeded(), 0);
    std::ostringstream out;
    stream.WriteStreamBlock(out);
    EXPECT_TRUE(out.str().empty());
    EXPECT_TRUE(stream.Finished());
}

INSTANTIATE_TEST_SUITE_P(Headers, RefusedHeaderTest,
                         ::testing::Values(RefusedCase{"LayerI", {3, 3, 9, 0, false, 0}},
                                           RefusedCase{"LayerII", {3, 2, 9, 0, false, 0}},
                                           RefusedCase{"ReservedLayer", {3, 0, 9, 0, false, 0}},
                                           RefusedCase{"ReservedVersion", {1, 1, 9, 0, false, 0}},
                                           RefusedCase{"ReservedRate", {3, 1, 9, 3, false, 0}},
                                           RefusedCase{"FreeFormat", {3, 1, 0, 0, false, 0}},
                                           RefusedCase{"BadBitrate", {3, 1, 15, 0, false, 0}}),
                         [](const auto &row) { return std::string(row.param.name); });

TEST(Mp3SoundStream, FileWithoutHeadersIsEmpty)
{
    Mp3SoundStream stream(std::vector<uint8_t>(5000, 0x20), 12);
    EXPECT_EQ(stream.FrameCount(), 0u);
    EXPECT_FALSE(stream.ReadFailed());
    Mp3SoundStream missing("/nonexistent/file.mp3", 12);
    EXPECT_TRUE(missing.ReadFailed());
    EXPECT_EQ(missing.FrameCount(), 0u);
}

TEST(Mp3SoundStream, StreamHeadGivesRateCodeAndSamplesPerMovieFrame)
{
    struct Case {
        FrameSpec spec;
        int frameSize;
        std::vector<uint8_t> expected;
    };
    const std::vector<Case> cases = {
        {{3, 1, 9, 0, false, 0}, 417, Bytes({0x46, 0x0B, 0x0F, 0x2F, 0x5B, 0x0E, 0x00, 0x00})},
        // 22050 Hz MPEG-2, single channel: rate code 2, 1837 samples.
        {{2, 1, 8, 0, false, 3}, 208, Bytes({0x46, 0x0B, 0x0F, 0x2A, 0x2D, 0x07, 0x00, 0x00})},
        // 48000 Hz gets rate code 0; the sample count is the truncated floating-point
        // quotient, which falls just short of 4000.
        {{3, 1, 9, 1, false, 0}, 384, Bytes({0x46, 0x0B, 0x0F, 0x23, 0x9F, 0x0F, 0x00, 0x00})},
    };
    for (const auto &c : cases) {
        Mp3SoundStream stream(Frames(c.spec, c.frameSize, 4), 12);
        std::ostringstream out(std::ios::binary);
        stream.WriteStreamHead(out);
        EXPECT_EQ(AsString(c.expected), out.str());
    }
}

TEST(Mp3SoundStream, Id3v2TagIsSkippedEvenWithAFrameInside)
{
    std::vector<uint8_t> tag = Bytes({'I', 'D', '3', 4, 0, 0, 0, 0, 0x03, 0x20}); // 416 bytes of tag data
    std::vector<uint8_t> payload(416, 0x00);
    const auto fake = MakeFrame(FrameSpec{}, 417, 0x77);
    std::copy(fake.begin(), fake.begin() + 8, payload.begin() + 50); // a header inside the cover art
    Append(tag, payload);
    std::vector<uint8_t> bytes = tag;
    Append(bytes, Frames(FrameSpec{}, 417, 5));
    Mp3SoundStream stream(bytes, 12);
    ASSERT_EQ(stream.FrameCount(), 5u);
    EXPECT_EQ(stream.FrameData(0)[4], 1);
}

TEST(Mp3SoundStream, Id3v2TagClaimingMoreThanTheFileIsScanned)
{
    std::vector<uint8_t> bytes = Bytes({'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F});
    Append(bytes, Frames(FrameSpec{}, 417, 3));
    Mp3SoundStream stream(bytes, 12);
    EXPECT_EQ(stream.FrameCount(), 3u);
}

TEST(Mp3SoundStream, LeadingJunkIsSteppedOver)
{
    std::vector<uint8_t> bytes(1000, 0xFF); // sync bytes that never form a header
    bytes.push_back(0x00);
    Append(bytes, Frames(FrameSpec{}, 417, 3));
    Mp3SoundStream stream(bytes, 12);
    ASSERT_EQ(stream.FrameCount(), 3u);
    EXPECT_EQ(stream.FrameData(0)[4], 1);
}

TEST(Mp3SoundStream, TruncatedLastFrameIsDropped)
{
    std::vector<uint8_t> bytes = Frames(FrameSpec{}, 417, 3);
    Append(bytes, MakeFrame(FrameSpec{3, 1, 9, 0, false, 3}, 417, 9));
    bytes.resize(bytes.size() - 100);
    Mp3SoundStream stream(bytes, 12);
    EXPECT_EQ(stream.FrameCount(), 3u);
    // The properties are those of the last whole frame (stereo), not of the cut one.
    EXPECT_EQ(stream.Stereo(), 1);
}

TEST(Mp3SoundStream, TrailingId3v1TagIsNotAudio)
{
    std::vector<uint8_t> bytes = Frames(FrameSpec{3, 1, 9, 0, false, 3}, 417, 3);
    std::vector<uint8_t> tag(128, 0);
    tag[0] = 'T';
    tag[1] = 'A';
    tag[2] = 'G';
    // A stereo 8 kbit/s header in the comment field would fit in the tag.
    const auto fake = MakeFrame(FrameSpec{0, 1, 1, 2, false, 0}, 72, 0x30);
    std::copy(fake.begin(), fake.end(), tag.begin() + 40);
    Append(bytes, tag);
    Mp3SoundStream stream(bytes, 12);
    EXPECT_EQ(stream.FrameCount(), 3u);
    EXPECT_EQ(stream.Stereo(), 0);
    EXPECT_EQ(stream.SampleRate(), 44100);
}

TEST(Mp3SoundStream, JunkBetweenFramesIsLeftOutOfTheBlocks)
{
    std::vector<uint8_t> bytes = MakeFrame(FrameSpec{}, 417, 1);
    Append(bytes, MakeFrame(FrameSpec{}, 417, 2));
    Append(bytes, Bytes({0x00, 0x01, 0x02}));
    Append(bytes, MakeFrame(FrameSpec{}, 417, 3));
    Append(bytes, MakeFrame(FrameSpec{}, 417, 4));
    Mp3SoundStream stream(bytes, 12);
    ASSERT_EQ(stream.FrameCount(), 4u);
    std::ostringstream out(std::ios::binary);
    stream.WriteStreamBlock(out);
    std::istringstream in(out.str());
    FlashTagSoundStreamBlockMP3 block;
    block.Read(in);
    ASSERT_EQ(block.DataLength(), 4u * 417);
    std::vector<uint8_t> expected = MakeFrame(FrameSpec{}, 417, 1);
    Append(expected, MakeFrame(FrameSpec{}, 417, 2));
    Append(expected, MakeFrame(FrameSpec{}, 417, 3));
    Append(expected, MakeFrame(FrameSpec{}, 417, 4));
    EXPECT_EQ(std::vector<uint8_t>(block.Data(), block.Data() + block.DataLength()), expected);
    EXPECT_TRUE(stream.Finished());
    std::ostringstream after;
    stream.WriteStreamBlock(after);
    EXPECT_TRUE(after.str().empty());
}

struct CoverageCase {
    FrameSpec spec;
    int frameSize;
    int frames;
    int frameRate;
};

class MovieLengthTest : public ::testing::TestWithParam<CoverageCase> {};

// The planned movie length carries every frame, and not one movie frame more than needed.
TEST_P(MovieLengthTest, CarriesEveryFrame)
{
    const auto &c = GetParam();
    Mp3SoundStream stream(Frames(c.spec, c.frameSize, c.frames), c.frameRate);
    const int64_t planned = stream.MovieFramesNeeded();
    EXPECT_EQ(planned, static_cast<int64_t>(std::ceil(stream.GetDuration() * c.frameRate - 1e-9)));
    for (int64_t i = 0; i < planned; ++i) {
        std::ostringstream out;
        stream.WriteStreamBlock(out);
    }
    EXPECT_TRUE(stream.Finished());
    EXPECT_EQ(stream.NextFrame(), static_cast<uint32_t>(c.frames));
}

INSTANTIATE_TEST_SUITE_P(Rates, MovieLengthTest,
                         ::testing::Values(CoverageCase{{3, 1, 9, 0, false, 0}, 417, 385, 12}, // 10.057 s
                                           CoverageCase{{3, 1, 9, 0, false, 0}, 417, 1000, 15},
                                           CoverageCase{{3, 1, 9, 0, false, 0}, 417, 441, 1},
                                           CoverageCase{{3, 1, 9, 1, false, 0}, 384, 125, 25}, // exactly 3 s
                                           CoverageCase{{2, 1, 8, 0, false, 0}, 208, 777, 30},
                                           CoverageCase{{0, 1, 1, 2, false, 3}, 72, 50, 60},
                                           CoverageCase{{0, 1, 1, 2, false, 3}, 72, 500, 255}));

TEST(Mp3SoundStream, TenSecondsAtTwelveGivesOneHundredTwentyOneFrames)
{
    Mp3SoundStream stream(Frames(FrameSpec{}, 417, 385), 12);
    EXPECT_NEAR(stream.GetDuration(), 10.0571, 1e-4);
    EXPECT_EQ(stream.MovieFramesNeeded(), 121);
}

// A header counts only when another follows where its length says, or when
// its frame ends the file.
TEST(Mp3SoundStream, LoneHeaderIsNotAFrame)
{
    const auto frame = MakeFrame(FrameSpec{}, 417, 7);
    std::vector<uint8_t> lone(5000, 0x41);
    std::copy(frame.begin(), frame.end(), lone.begin() + 1000);
    Mp3SoundStream inData(lone, 12);
    EXPECT_EQ(inData.FrameCount(), 0u);
    EXPECT_FALSE(inData.FreeFormat());

    std::vector<uint8_t> last(5000, 0x41);
    Append(last, frame);
    Mp3SoundStream atTheEnd(last, 12);
    EXPECT_EQ(atTheEnd.FrameCount(), 1u);
}

TEST(Mp3SoundStream, InStepFramesNeedNoSuccessor)
{
    // The last frame is followed by bytes that are not a header: it is still
    // part of the run before it.
    std::vector<uint8_t> bytes = Frames(FrameSpec{}, 417, 5);
    Append(bytes, std::vector<uint8_t>(300, 0x41));
    Mp3SoundStream stream(bytes, 12);
    EXPECT_EQ(stream.FrameCount(), 5u);
}

TEST(Mp3SoundStream, FreeFormatStreamIsToldApart)
{
    Mp3SoundStream stream(Frames(FrameSpec{3, 1, 0, 0, false, 0}, 300, 20), 12);
    EXPECT_EQ(stream.FrameCount(), 0u);
    EXPECT_TRUE(stream.FreeFormat());
    Mp3SoundStream layerII(Frames(FrameSpec{3, 2, 0, 0, false, 0}, 300, 20), 12);
    EXPECT_FALSE(layerII.FreeFormat());
}

} // namespace
