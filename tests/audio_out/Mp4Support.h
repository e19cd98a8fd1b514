// Reading back what an MP4 file says about its one audio track: a small walk
// over the atoms, independent of the muxer that wrote them.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace mp4test {

struct Mp4Facts {
    bool ftypFirst = false;
    bool hasIods = false;
    int iodsAudioProfile = -1;
    uint32_t movieTimeScale = 0;
    uint32_t trackTimeScale = 0;
    int tracks = 0;
    std::string sampleEntry;                        // "mp4a"
    int objectType = -1;                            // of the decoder configuration
    std::vector<uint8_t> decoderInfo;               // the DecoderSpecificInfo bytes
    std::vector<uint32_t> durations;                // one per sample, from "stts"
    uint32_t sampleCount = 0;                       // from "stsz"
    bool hasStss = false;                           // absent: every sample is a sync sample
    uint32_t syncSamples = 0;                       // entries of "stss" when present
    std::vector<std::pair<int64_t, int64_t>> edits; // (segment duration, media time)
};

namespace detail {

inline uint32_t Be32(const std::vector<uint8_t> &b, size_t at)
{
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}

inline uint64_t Be64(const std::vector<uint8_t> &b, size_t at)
{
    return (uint64_t(Be32(b, at)) << 32) | Be32(b, at + 4);
}

// A descriptor's tag and length; `at` moves to its body.
inline bool ReadDescriptor(const std::vector<uint8_t> &b, size_t &at, size_t end, int &tag, size_t &len)
{
    if (at >= end)
        return false;
    tag = b[at++];
    len = 0;
    for (int i = 0; i < 4 && at < end; ++i) {
        const uint8_t c = b[at++];
        len = (len << 7) | (c & 0x7F);
        if (!(c & 0x80))
            return at + len <= end;
    }
    return false;
}

inline void ReadEsds(const std::vector<uint8_t> &b, size_t at, size_t end, Mp4Facts &f)
{
    at += 4; // version and flags
    int tag;
    size_t len;
    if (!ReadDescriptor(b, at, end, tag, len) || tag != 3)
        return;
    const uint8_t flags = b[at + 2];
    at += 3;
    if (flags & 0x80) // depends on another stream
        at += 2;
    if (flags & 0x40) // a URL
        at += 1 + b[at];
    if (flags & 0x20) // an OCR stream
        at += 2;
    if (!ReadDescriptor(b, at, end, tag, len) || tag != 4)
        return;
    f.objectType = b[at];
    at += 13;
    if (ReadDescriptor(b, at, end, tag, len) && tag == 5)
        f.decoderInfo.assign(b.begin() + long(at), b.begin() + long(at + len));
}

inline void Walk(const std::vector<uint8_t> &b, size_t at, size_t end, Mp4Facts &f, int depth)
{
    while (at + 8 <= end) {
        uint64_t size = Be32(b, at);
        const std::string type(b.begin() + long(at + 4), b.begin() + long(at + 8));
        size_t body = at + 8;
        if (size == 1) {
            size = Be64(b, at + 8);
            body += 8;
        } else if (size == 0) {
            size = end - at;
        }
        if (size < 8 || at + size > end)
            return;
        const size_t stop = at + size;
        if (depth == 0 && at == 0)
            f.ftypFirst = type == "ftyp";
        if (type == "moov" || type == "trak" || type == "mdia" || type == "minf" || type == "stbl" || type == "edts") {
            if (type == "trak")
                ++f.tracks;
            Walk(b, body, stop, f, depth + 1);
        } else if (type == "iods") {
            f.hasIods = true;
            size_t p = body + 4;
            int tag;
            size_t len;
            if (ReadDescriptor(b, p, stop, tag, len) && (tag == 0x10 || tag == 0x02) && len >= 7)
                f.iodsAudioProfile = b[p + 4];
        } else if (type == "mvhd" || type == "mdhd") {
            const uint32_t scale = b[body] == 1 ? Be32(b, body + 20) : Be32(b, body + 12);
            (type == "mvhd" ? f.movieTimeScale : f.trackTimeScale) = scale;
        } else if (type == "stsd") {
            // One sample entry: 8 bytes of header, then 28 bytes of audio fields before its atoms.
            const size_t entry = body + 8;
            f.sampleEntry.assign(b.begin() + long(entry + 4), b.begin() + long(entry + 8));
            const size_t entryEnd = entry + Be32(b, entry);
            for (size_t p = entry + 36; p + 8 <= entryEnd;) {
                const uint32_t s = Be32(b, p);
                if (s < 8)
                    break;
                if (std::string(b.begin() + long(p + 4), b.begin() + long(p + 8)) == "esds")
                    ReadEsds(b, p + 8, p + s, f);
                p += s;
            }
        } else if (type == "stts") {
            const uint32_t n = Be32(b, body + 4);
            for (uint32_t i = 0; i < n; ++i)
                f.durations.insert(f.durations.end(), Be32(b, body + 8 + 8 * i), Be32(b, body + 12 + 8 * i));
        } else if (type == "stsz") {
            f.sampleCount = Be32(b, body + 8);
        } else if (type == "stss") {
            f.hasStss = true;
            f.syncSamples = Be32(b, body + 4);
        } else if (type == "elst") {
            const bool v1 = b[body] == 1;
            const uint32_t n = Be32(b, body + 4);
            size_t p = body + 8;
            for (uint32_t i = 0; i < n; ++i) {
                if (v1) {
                    f.edits.emplace_back(int64_t(Be64(b, p)), int64_t(Be64(b, p + 8)));
                    p += 20;
                } else {
                    f.edits.emplace_back(int64_t(Be32(b, p)), int64_t(int32_t(Be32(b, p + 4))));
                    p += 12;
                }
            }
        }
        at = stop;
    }
}

} // namespace detail

inline Mp4Facts ReadMp4(const std::vector<uint8_t> &bytes)
{
    Mp4Facts f;
    detail::Walk(bytes, 0, bytes.size(), f, 0);
    return f;
}

} // namespace mp4test
