// Feeds arbitrary bytes to the movie reader, then writes back whatever it read.
#include "FlashIO.h"
#include "FlashTags.h"

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <sstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An odd first byte puts a valid file header in front, so the fuzzer spends its
    // time on the tags rather than on finding the signature.
    std::vector<uint8_t> bytes;
    if (size > 0 && (data[0] & 1)) {
        static const uint8_t kHeader[] = {'F',  'W',  'S',  5,    0,    0, 1,  0, 0x48,
                                          0x01, 0x90, 0x00, 0x64, 0x00, 0, 12, 1, 0};
        bytes.assign(std::begin(kHeader), std::end(kHeader));
        bytes.insert(bytes.end(), data + 1, data + size);
    } else {
        bytes.assign(data, data + size);
    }
    flashio::MemoryIStream in(bytes);
    const FlashMovie movie = FlashReadMovie(in);
    std::ostringstream out(std::ios::binary);
    movie.header.Write(out);
    for (const auto &tag : movie.tags) {
        tag->Write(out);
    }
    return 0;
}
