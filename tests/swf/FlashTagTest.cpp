#include "FlashActions.h"
#include "FlashIO.h"
#include "FlashTags.h"
#include "FlashTypes.h"
#include "SwfTestUtil.h"

#include <gtest/gtest.h>

using namespace swftest;

namespace {

struct TagHeaderCase {
    uint16_t code;
    uint32_t length;
    std::vector<uint8_t> bytes;
};

class TagHeaderTest : public ::testing::TestWithParam<TagHeaderCase> {};

TEST_P(TagHeaderTest, EncodesAndReadsBack)
{
    const auto &c = GetParam();
    EXPECT_EQ(Encode(FlashTagHeader(c.code, c.length)), c.bytes);
    std::istringstream in(AsString(c.bytes));
    FlashTagHeader header;
    header.Read(in);
    ASSERT_TRUE(in);
    EXPECT_EQ(header.Code(), c.code);
    EXPECT_EQ(header.Length(), c.length);
}

INSTANTIATE_TEST_SUITE_P(ShortAndLong, TagHeaderTest,
                         ::testing::Values(TagHeaderCase{19, 62, Bytes({0xFE, 0x04})},
                                           TagHeaderCase{19, 63, Bytes({0xFF, 0x04, 63, 0, 0, 0})},
                                           TagHeaderCase{1, 0, Bytes({0x40, 0x00})},
                                           TagHeaderCase{19, 70000, Bytes({0xFF, 0x04, 0x70, 0x11, 0x01, 0x00})}));

TEST(FlashTypes, LongFormWithSmallLengthIsRead)
{
    std::istringstream in(AsString(Bytes({0x7F, 0x02, 3, 0, 0, 0})));
    FlashTagHeader header;
    header.Read(in);
    EXPECT_EQ(header.Code(), 9);
    EXPECT_EQ(header.Length(), 3u);
}

struct RectCase {
    FlashRect rect;
    std::vector<uint8_t> bytes;
};

class RectTest : public ::testing::TestWithParam<RectCase> {};

TEST_P(RectTest, EncodesAndReadsBack)
{
    const auto &c = GetParam();
    EXPECT_EQ(Encode(c.rect), c.bytes);
    EXPECT_EQ(c.rect.EncodedSize(), c.bytes.size());
    std::istringstream in(AsString(c.bytes));
    FlashRect back;
    back.Read(in);
    ASSERT_TRUE(in);
    EXPECT_EQ(back, c.rect);
}

INSTANTIATE_TEST_SUITE_P(Rects, RectTest,
                         ::testing::Values(RectCase{FlashRect(0, 0, 200, 200),
                                                    Bytes({0x48, 0x01, 0x90, 0x00, 0x64, 0x00})},
                                           RectCase{FlashRect(0, 0, 0, 0), Bytes({0x08, 0x00})},
                                           // nbits 3: 00011 101 111 001 010 -> 0001 1101 1110 0101 0(000)
                                           RectCase{FlashRect(-3, 1, -1, 2), Bytes({0x1D, 0xE5, 0x00})}));

TEST(FlashTypes, RectNegativeUsesOneSignBit)
{
    EXPECT_EQ(FlashRect(-1, 0, 0, 0).BitsPerValue(), 2);
    EXPECT_EQ(FlashRect(-4, 0, 0, 0).BitsPerValue(), 4);
    EXPECT_EQ(FlashRect(0, 0, 255, 0).BitsPerValue(), 9);
}

TEST(FlashTypes, BitBufferWritesMostSignificantFirst)
{
    FlashBitBuffer bits;
    bits.Write(0b101, 3);
    bits.Write(0xFF, 6);
    EXPECT_EQ(bits.BitCount(), 9u);
    EXPECT_EQ(bits.Bytes(), Bytes({0xBF, 0x80}));
}

struct FixedCase {
    double value;
    std::vector<uint8_t> bytes;
};

class FixedTest : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedTest, Encodes)
{
    EXPECT_EQ(Encode(FlashFixed(GetParam().value)), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(Rates, FixedTest,
                         ::testing::Values(FixedCase{12.0, Bytes({0x00, 0x0C})}, FixedCase{12.5, Bytes({0x80, 0x0C})},
                                           FixedCase{15.0, Bytes({0x00, 0x0F})}, FixedCase{256.0, Bytes({0x00, 0x00})},
                                           FixedCase{300.25, Bytes({0x40, 0x2C})}));

TEST(FlashTypes, HeaderIs18BytesForTheStage)
{
    const auto bytes = Encode(FlashHeader(5, 100, 200, 200, 12.0, 120));
    EXPECT_EQ(bytes, Bytes({'F', 'W', 'S', 5, 118, 0, 0, 0, 0x48, 0x01, 0x90, 0x00, 0x64, 0x00, 0x00, 0x0C, 120, 0}));
    std::istringstream in(AsString(bytes));
    FlashHeader header;
    header.Read(in);
    ASSERT_TRUE(in);
    EXPECT_EQ(header.Version(), 5);
    EXPECT_EQ(header.BodyLength(), 100u);
    EXPECT_EQ(header.FrameSize(), FlashRect(0, 0, 200, 200));
    EXPECT_EQ(header.FrameRate().Encoded(), 0x0C00);
    EXPECT_EQ(header.FrameCount(), 120);
}

TEST(FlashTypes, HeaderWithBadSignatureOrLengthIsRefused)
{
    auto bytes = Encode(FlashHeader(5, 0, 200, 200, 12.0, 1));
    bytes[0] = 'C'; // compressed movies are not read
    std::istringstream compressed(AsString(bytes));
    FlashHeader header;
    header.Read(compressed);
    EXPECT_FALSE(compressed);

    bytes = Encode(FlashHeader(5, 0, 200, 200, 12.0, 1));
    bytes[4] = 5; // file length shorter than the header itself
    std::istringstream shortLength(AsString(bytes));
    header.Read(shortLength);
    EXPECT_FALSE(shortLength);
}

TEST(FlashTags, FixedBytes)
{
    EXPECT_EQ(Encode(FlashTagShowFrame()), Bytes({0x40, 0x00}));
    EXPECT_EQ(Encode(FlashTagEnd()), Bytes({0x00, 0x00}));
    EXPECT_EQ(Encode(FlashTagBackgroundColor(255, 255, 255)), Bytes({0x43, 0x02, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Encode(FlashTagStartSound(0, FlashSoundInfo(0))), Bytes({0xC3, 0x03, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(FlashTagShowFrame().EndsFrame());
    EXPECT_FALSE(FlashTagEnd().EndsFrame());
    EXPECT_FALSE(FlashTagBackgroundColor().EndsFrame());
}

TEST(FlashTags, StreamHeadCarriesLatencySeekForMp3)
{
    const FlashTagSoundStreamHead2 mp3(3, 1, 1, 2, 3, 1, 1, 3675);
    EXPECT_EQ(Encode(mp3), Bytes({0x46, 0x0B, 0x0F, 0x2F, 0x5B, 0x0E, 0x00, 0x00}));
    // Other compressions keep the four-byte body.
    const FlashTagSoundStreamHead2 adpcm(3, 1, 1, 1, 3, 1, 1, 3675);
    EXPECT_EQ(Encode(adpcm), Bytes({0x44, 0x0B, 0x0F, 0x1F, 0x5B, 0x0E}));
}

TEST(FlashTags, StreamHeadReadsWithAndWithoutLatencySeek)
{
    FlashTagSoundStreamHead2 head;
    std::istringstream withSeek(AsString(Bytes({0x46, 0x0B, 0x0E, 0x2E, 0x22, 0x01, 0xFE, 0xFF})));
    head.Read(withSeek);
    ASSERT_TRUE(withSeek);
    EXPECT_EQ(head.PlaybackRate(), 3);
    EXPECT_EQ(head.Playback16Bit(), 1);
    EXPECT_EQ(head.PlaybackStereo(), 0);
    EXPECT_EQ(head.Compression(), 2);
    EXPECT_EQ(head.StreamRate(), 3);
    EXPECT_EQ(head.Stream16Bit(), 1);
    EXPECT_EQ(head.StreamStereo(), 0);
    EXPECT_EQ(head.SampleCount(), 0x0122);
    EXPECT_EQ(head.LatencySeek(), -2);

    std::istringstream withoutSeek(AsString(Bytes({0x44, 0x0B, 0x0F, 0x2F, 0x5B, 0x0E})));
    head.Read(withoutSeek);
    ASSERT_TRUE(withoutSeek);
    EXPECT_EQ(head.SampleCount(), 3675);
    EXPECT_EQ(head.LatencySeek(), 0);
}

TEST(FlashTags, SoundInfoRoundTripsEveryOptionalValue)
{
    FlashSoundInfo info(0xFF); // low bits are not taken from the caller
    EXPECT_EQ(info.Flags(), 0xF0);
    info.SetInPoint(100);
    info.SetOutPoint(200000);
    info.SetLoopCount(3);
    ASSERT_TRUE(info.AddEnvelopePoint({44100, 32768, 0}));
    ASSERT_TRUE(info.AddEnvelopePoint({88200, 0, 32768}));
    const FlashTagStartSound tag(7, info);
    const auto bytes = Encode(tag);
    ASSERT_EQ(bytes.size(), 2 + 2 + info.EncodedSize());
    EXPECT_EQ(info.EncodedSize(), 1u + 4 + 4 + 2 + 1 + 16);

    std::istringstream in(AsString(bytes));
    FlashTagStartSound back;
    back.Read(in);
    ASSERT_TRUE(in);
    EXPECT_EQ(back.SoundId(), 7);
    EXPECT_EQ(back.SoundInfo().Flags(), 0xFF);
    EXPECT_EQ(back.SoundInfo().InPoint(), 100u);
    EXPECT_EQ(back.SoundInfo().OutPoint(), 200000u);
    EXPECT_EQ(back.SoundInfo().LoopCount(), 3);
    EXPECT_EQ(back.SoundInfo().Envelope(), info.Envelope());
}

TEST(FlashTags, SoundInfoEnvelopeStopsAtItsCountField)
{
    FlashSoundInfo info;
    for (int i = 0; i < 255; ++i) {
        ASSERT_TRUE(info.AddEnvelopePoint({static_cast<uint32_t>(i), 0, 0}));
    }
    EXPECT_FALSE(info.AddEnvelopePoint({1, 0, 0}));
    EXPECT_EQ(info.Envelope().size(), 255u);
}

TEST(FlashTags, Mp3StreamBlockRoundTrips)
{
    const std::vector<uint8_t> data(100, 0x5A);
    const FlashTagSoundStreamBlockMP3 block(2304, -17, data.data(), static_cast<uint32_t>(data.size()));
    const auto bytes = Encode(block);
    ASSERT_EQ(bytes.size(), 6u + 4 + 100); // long form: 104 bytes of body
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0x04);
    EXPECT_EQ(bytes[2], 104);
    EXPECT_EQ(bytes[6], 0x00);
    EXPECT_EQ(bytes[7], 0x09);
    EXPECT_EQ(bytes[8], 0xEF);
    EXPECT_EQ(bytes[9], 0xFF);

    std::istringstream in(AsString(bytes));
    FlashTagSoundStreamBlockMP3 back;
    back.Read(in);
    ASSERT_TRUE(in);
    EXPECT_EQ(back.SampleCount(), 2304);
    EXPECT_EQ(back.SeekSamples(), -17);
    ASSERT_EQ(back.DataLength(), 100u);
    EXPECT_EQ(std::vector<uint8_t>(back.Data(), back.Data() + back.DataLength()), data);
}

TEST(FlashTags, EmptyMp3BlockIsSixBytes)
{
    const FlashTagSoundStreamBlockMP3 block(0, 309, nullptr, 0);
    EXPECT_EQ(Encode(block), Bytes({0xC4, 0x04, 0x00, 0x00, 0x35, 0x01}));
}

TEST(FlashTags, PlainStreamBlockRoundTrips)
{
    const std::vector<uint8_t> data = {1, 2, 3};
    const FlashTagSoundStreamBlock block(data.data(), 3);
    EXPECT_EQ(Encode(block), Bytes({0xC3, 0x04, 1, 2, 3}));
    std::istringstream in(AsString(Encode(block)));
    FlashTagSoundStreamBlock back;
    back.Read(in);
    ASSERT_TRUE(in);
    EXPECT_EQ(std::vector<uint8_t>(back.Data(), back.Data() + back.DataLength()), data);
}

TEST(FlashTags, ReadRefusesAnotherTagsCode)
{
    std::istringstream in(AsString(Encode(FlashTagEnd())));
    FlashTagShowFrame show;
    show.Read(in);
    EXPECT_FALSE(in);
}

TEST(FlashTags, TruncatedBodyEndsTheRead)
{
    auto bytes = Encode(FlashTagBackgroundColor(1, 2, 3));
    bytes.pop_back();
    std::istringstream in(AsString(bytes));
    FlashTagBackgroundColor color;
    color.Read(in);
    EXPECT_FALSE(in);
}

TEST(FlashTags, HugeDeclaredLengthDoesNotAllocateIt)
{
    // A block claiming 4 GB with 3 bytes behind it fails quickly and cleanly.
    std::istringstream in(AsString(Bytes({0xFF, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3})));
    FlashTagSoundStreamBlock block;
    block.Read(in);
    EXPECT_FALSE(in);
    EXPECT_EQ(block.DataLength(), 0u);
}

TEST(FlashTags, DoActionHoldsGotoFrameAndPlay)
{
    FlashActionGotoFrame gotoFirst(0);
    FlashActionPlay play;
    FlashTagDoAction action;
    action.Add(&gotoFirst);
    action.Add(&play);
    const auto bytes = Encode(action);
    EXPECT_EQ(bytes, Bytes({0x07, 0x03, 0x81, 0x02, 0x00, 0x00, 0x00, 0x06, 0x00}));

    std::istringstream in(AsString(bytes));
    FlashTagDoAction back;
    back.Read(in);
    ASSERT_TRUE(in);
    ASSERT_EQ(back.Records().size(), 2u);
    EXPECT_EQ(back.Records()[0]->Code(), 0x81);
    EXPECT_EQ(dynamic_cast<FlashActionGotoFrame *>(back.Records()[0])->Frame(), 0);
    EXPECT_NE(dynamic_cast<FlashActionPlay *>(back.Records()[1]), nullptr);
}

TEST(FlashTags, DoActionBeyond64KIsWrittenWhole)
{
    std::vector<std::unique_ptr<FlashActionPush>> pushes;
    FlashTagDoAction action;
    for (int i = 0; i < 20; ++i) {
        pushes.push_back(std::make_unique<FlashActionPush>(0, std::vector<uint8_t>(4000, 'a')));
        action.Add(pushes.back().get());
    }
    const auto bytes = Encode(action);
    const uint32_t body = 20 * (3 + 1 + 4000) + 1;
    ASSERT_EQ(bytes.size(), 6 + body);
    std::istringstream in(AsString(bytes));
    FlashTagDoAction back;
    back.Read(in);
    ASSERT_TRUE(in);
    EXPECT_EQ(back.Records().size(), 20u);
}

TEST(FlashTags, MovieReaderReadsTagsAndSkipsUnknownOnes)
{
    std::ostringstream out(std::ios::binary);
    const std::vector<uint8_t> mp3(10, 0x11);
    out << FlashTagBackgroundColor(1, 2, 3);
    FlashTagHeader(77, 2).Write(out); // a tag this library does not model
    out.write("xy", 2);
    out << FlashTagSoundStreamHead2(3, 1, 1, 2, 3, 1, 1, 3675);
    out << FlashTagSoundStreamBlockMP3(1152, 0, mp3.data(), 10) << FlashTagShowFrame() << FlashTagEnd();
    const std::string body = out.str();
    std::ostringstream file(std::ios::binary);
    file << FlashHeader(5, static_cast<uint32_t>(body.size()), 200, 200, 12, 1);
    file << body;

    std::istringstream in(file.str());
    FlashMovie movie = FlashReadMovie(in);
    EXPECT_TRUE(movie.complete);
    EXPECT_EQ(movie.header.FrameCount(), 1);
    ASSERT_EQ(movie.tags.size(), 5u);
    EXPECT_EQ(movie.skippedCodes, std::vector<uint16_t>{77});
    auto *block = dynamic_cast<FlashTagSoundStreamBlockMP3 *>(movie.tags[2].get());
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->SampleCount(), 1152);
    EXPECT_EQ(block->DataLength(), 10u);
}

} // namespace
