// Feeds arbitrary bytes to the MP3 frame reader and drives a whole stream's worth
// of blocks out of it.
#include "Mp3SoundStream.h"

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    // The first byte picks the movie frame rate, including the unusable ones.
    const int32_t frameRate = static_cast<int32_t>(data[0]) - 4;
    Mp3SoundStream stream(std::vector<uint8_t>(data + 1, data + size), frameRate);
    std::ostringstream out(std::ios::binary);
    stream.WriteStreamHead(out);
    const int64_t bound = stream.MovieFramesNeeded() * 20 + 100;
    for (int64_t i = 0; i < bound && !stream.Finished(); ++i) {
        stream.WriteStreamBlock(out);
    }
    return 0;
}
