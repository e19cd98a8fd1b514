// Helpers shared by the SWF tests: byte encoding of tags to vectors, synthetic MP3 frames.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace swftest {

template <typename T> std::vector<uint8_t> Encode(const T &item)
{
    std::ostringstream out(std::ios::binary);
    item.Write(out);
    const std::string bytes = out.str();
    return {bytes.begin(), bytes.end()};
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values)
{
    std::vector<uint8_t> bytes;
    for (int v : values) {
        bytes.push_back(static_cast<uint8_t>(v));
    }
    return bytes;
}

inline std::string AsString(const std::vector<uint8_t> &bytes)
{
    return {bytes.begin(), bytes.end()};
}

struct FrameSpec {
    int versionField = 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5, 1 reserved
    int layerField = 1;   // 1 Layer III, 2 Layer II, 3 Layer I
    int bitrateIndex = 9; // 128 kbit/s for MPEG-1 Layer III
    int rateIndex = 0;    // 44100 Hz for MPEG-1
    bool padded = false;
    int channelMode = 0; // 3 = single channel
};

// Size of a frame per the Layer III formula (bitrate in kbit/s given by the caller).
inline int FrameSize(const FrameSpec &spec, int bitrateKbps, int sampleRate)
{
    const int factor = spec.versionField == 3 ? 144 : 72;
    return factor * bitrateKbps * 1000 / sampleRate + (spec.padded ? 1 : 0);
}

// One frame: a valid header and a recognisable payload that holds no 0xFF byte.
inline std::vector<uint8_t> MakeFrame(const FrameSpec &spec, int size, uint8_t fill)
{
    std::vector<uint8_t> frame(static_cast<size_t>(size), fill);
    frame[0] = 0xFF;
    frame[1] = static_cast<uint8_t>(0xE0 | (spec.versionField << 3) | (spec.layerField << 1) | 1);
    frame[2] = static_cast<uint8_t>((spec.bitrateIndex << 4) | (spec.rateIndex << 2) | (spec.padded ? 2 : 0));
    frame[3] = static_cast<uint8_t>(spec.channelMode << 6);
    return frame;
}

inline void Append(std::vector<uint8_t> &to, const std::vector<uint8_t> &bytes)
{
    to.insert(to.end(), bytes.begin(), bytes.end());
}

} // namespace swftest
