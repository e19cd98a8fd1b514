// Random and damaged inputs to every reader: each must end cleanly, never read
// outside its input (the sanitizer build checks that) and never recurse unboundedly.
#include "FlashActions.h"
#include "FlashIO.h"
#include "FlashTags.h"
#include "Mp3SoundStream.h"
#include "SwfTestUtil.h"

#include <gtest/gtest.h>

#include <random>

using namespace swftest;

namespace {

constexpr int kRounds = 400;

std::vector<uint8_t> RandomBytes(std::mt19937 &rng, size_t maxSize)
{
    std::uniform_int_distribution<size_t> sizeDist(0, maxSize);
    std::uniform_int_distribution<int> byteDist(0, 255);
    std::vector<uint8_t> bytes(sizeDist(rng));
    for (auto &b : bytes) {
        b = static_cast<uint8_t>(byteDist(rng));
    }
    return bytes;
}

// Flips a few bits and sometimes cuts the tail, keeping the rest of a valid input.
std::vector<uint8_t> Mutate(std::mt19937 &rng, std::vector<uint8_t> bytes)
{
    if (bytes.empty()) {
        return bytes;
    }
    std::uniform_int_distribution<size_t> posDist(0, bytes.size() - 1);
    for (int i = 0; i < 4; ++i) {
        bytes[posDist(rng)] ^= static_cast<uint8_t>(1u << (rng() % 8));
    }
    if (rng() % 3 == 0) {
        bytes.resize(posDist(rng));
    }
    return bytes;
}

// Drives a stream through a whole conversion's worth of calls into a sink.
size_t DriveStream(Mp3SoundStream &stream)
{
    std::ostringstream out(std::ios::binary);
    stream.WriteStreamHead(out);
    // Streams of mixed rates are timed by one rate and may need more blocks than
    // their duration suggests, as the driver allows for; they must still finish.
    const int64_t bound = stream.MovieFramesNeeded() * 20 + 1000;
    for (int64_t i = 0; i < bound && !stream.Finished(); ++i) {
        stream.WriteStreamBlock(out);
    }
    EXPECT_TRUE(stream.Finished());
    return out.str().size();
}

TEST(SwfRobustness, Mp3ReaderTakesRandomBytes)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < kRounds; ++round) {
        auto bytes = RandomBytes(rng, 20000);
        // Seed some sync bytes so candidate headers are common.
        for (size_t i = 0; i + 1 < bytes.size(); i += 97) {
            bytes[i] = 0xFF;
            bytes[i + 1] |= 0xE2;
        }
        const int frameRate = static_cast<int>(rng() % 70) - 5;
        Mp3SoundStream stream(bytes, frameRate);
        size_t total = 0;
        for (size_t i = 0; i < stream.FrameCount(); ++i) {
            total += static_cast<size_t>(stream.FrameSizes()[i]);
            // Reading the whole frame is what the sanitizer build watches for overruns.
            const uint8_t *frame = stream.FrameData(i);
            EXPECT_EQ(frame[0], 0xFF);
            EXPECT_GE(static_cast<int>(frame[stream.FrameSizes()[i] - 1]), 0);
        }
        EXPECT_LE(total, bytes.size());
        DriveStream(stream);
    }
}

TEST(SwfRobustness, Mp3ReaderTakesDamagedFiles)
{
    std::mt19937 rng(99);
    std::vector<uint8_t> valid = Bytes({'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20});
    valid.resize(30, 0);
    for (int i = 0; i < 40; ++i) {
        Append(valid, MakeFrame(FrameSpec{2, 1, 8, 0, i % 3 == 0, 1}, i % 3 == 0 ? 209 : 208, 3));
    }
    for (int round = 0; round < kRounds; ++round) {
        Mp3SoundStream stream(Mutate(rng, valid), 12);
        EXPECT_LE(stream.FrameCount(), 40u + 40u);
        DriveStream(stream);
    }
}

// A small valid movie with every modelled tag, including nested actions.
std::vector<uint8_t> SampleMovie()
{
    std::ostringstream body(std::ios::binary);
    const std::vector<uint8_t> audio(300, 0x21);
    body << FlashTagBackgroundColor(255, 255, 255) << FlashTagSoundStreamHead2(3, 1, 1, 2, 3, 1, 1, 3675)
         << FlashTagSoundStreamBlockMP3(1152, 5, audio.data(), 300) << FlashTagShowFrame();
    FlashSoundInfo info;
    info.SetLoopCount(2);
    EXPECT_TRUE(info.AddEnvelopePoint({1, 2, 3}));
    body << FlashTagStartSound(1, info);
    FlashActionPlay play;
    FlashActionWith with;
    with.AddBodyRecord(&play);
    FlashActionDefineFunction function("f", {"x"});
    function.AddBodyRecord(&with);
    FlashActionConstantPool pool({"a", "b"});
    FlashActionGetURL url("u", "t");
    FlashActionPush push(0, {'s', 0});
    FlashTagDoAction action;
    action.Add(&pool);
    action.Add(&function);
    action.Add(&url);
    action.Add(&push);
    body << action << FlashTagShowFrame() << FlashTagEnd();
    const std::string bodyBytes = body.str();
    std::ostringstream file(std::ios::binary);
    file << FlashHeader(5, static_cast<uint32_t>(bodyBytes.size()), 200, 200, 12, 2) << bodyBytes;
    const std::string bytes = file.str();
    return {bytes.begin(), bytes.end()};
}

TEST(SwfRobustness, SampleMovieReadsWhole)
{
    const auto bytes = SampleMovie();
    flashio::MemoryIStream in(bytes);
    const FlashMovie movie = FlashReadMovie(in);
    EXPECT_TRUE(movie.complete);
    EXPECT_EQ(movie.tags.size(), 8u);
}

TEST(SwfRobustness, MovieReaderTakesDamagedMovies)
{
    std::mt19937 rng(7);
    const auto valid = SampleMovie();
    for (int round = 0; round < kRounds * 4; ++round) {
        const auto bytes = Mutate(rng, valid);
        flashio::MemoryIStream in(bytes);
        const FlashMovie movie = FlashReadMovie(in);
        EXPECT_LE(movie.tags.size(), 64u);
    }
}

TEST(SwfRobustness, MovieReaderTakesRandomBytes)
{
    std::mt19937 rng(8);
    for (int round = 0; round < kRounds; ++round) {
        auto bytes = RandomBytes(rng, 4000);
        if (bytes.size() >= 3 && round % 2 == 0) {
            bytes[0] = 'F';
            bytes[1] = 'W';
            bytes[2] = 'S';
        }
        flashio::MemoryIStream in(bytes);
        const FlashMovie movie = FlashReadMovie(in);
        EXPECT_LE(movie.tags.size(), bytes.size() / 2);
    }
}

TEST(SwfRobustness, ActionImporterTakesRandomBytes)
{
    std::mt19937 rng(9);
    for (int round = 0; round < kRounds * 2; ++round) {
        auto bytes = RandomBytes(rng, 3000);
        // Favour the record kinds with bodies and strings.
        static const uint8_t kCodes[] = {0x9B, 0x94, 0x88, 0x96, 0x83, 0x8C, 0x81};
        for (size_t i = 0; i < bytes.size(); i += 1 + rng() % 40) {
            bytes[i] = kCodes[rng() % std::size(kCodes)];
        }
        std::vector<FlashActionRecord *> records;
        std::vector<std::unique_ptr<FlashActionRecord>> owned;
        flashio::MemoryIStream in(bytes);
        // Random bytes may or may not read as actions; what was read must
        // be written back the same.
        static_cast<void>(FlashActionVectorImporter().Import(in, records, owned));
        EXPECT_LE(records.size(), bytes.size());
        // Whatever was read can be written again.
        std::ostringstream out(std::ios::binary);
        for (const auto *record : records) {
            record->Write(out);
        }
    }
}

TEST(SwfRobustness, DeeplyNestedWithBodiesStop)
{
    // Each level is a With whose body is the next level: 10000 levels in 60 KB.
    std::vector<uint8_t> body = Bytes({0x07});
    for (int level = 0; level < 10000 && body.size() + 5 < 0xFFFF; ++level) {
        std::vector<uint8_t> outer =
            Bytes({0x94, 2, 0, static_cast<int>(body.size() & 0xFF), static_cast<int>(body.size() >> 8)});
        Append(outer, body);
        body = std::move(outer);
    }
    std::vector<FlashActionRecord *> records;
    std::vector<std::unique_ptr<FlashActionRecord>> owned;
    flashio::MemoryIStream in(body);
    EXPECT_FALSE(FlashActionVectorImporter().Import(in, records, owned, static_cast<uint32_t>(body.size())));
}

} // namespace
