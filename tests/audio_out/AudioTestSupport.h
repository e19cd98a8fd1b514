// Helpers for the audio output tests: temporary folders, synthetic PCM, and
// running the command-line checkers (ffprobe, sox, ffmpeg, mp3val).
#pragma once

#include <orafon/win/wintypes.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

namespace audiotest {

namespace fs = std::filesystem;

inline WAVEFORMATEX Pcm(DWORD rate, WORD channels, WORD bits)
{
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = rate;
    wfx.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    wfx.nAvgBytesPerSec = rate * wfx.nBlockAlign;
    wfx.wBitsPerSample = bits;
    return wfx;
}

// 16-bit mono sine.
inline std::vector<BYTE> Sine16(DWORD rate, size_t frames, double freq = 440, double amplitude = 0.5)
{
    std::vector<BYTE> b(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const auto s = static_cast<int16_t>(std::lround(amplitude * 32767 * std::sin(2 * M_PI * freq * i / rate)));
        b[2 * i] = static_cast<BYTE>(s & 0xFF);
        b[2 * i + 1] = static_cast<BYTE>((s >> 8) & 0xFF);
    }
    return b;
}

inline std::vector<unsigned char> ReadAll(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

inline DWORD Le32(const std::vector<unsigned char> &b, size_t at)
{
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<DWORD>(b[at + 3]) << 24);
}

inline std::string Id(const std::vector<unsigned char> &b, size_t at)
{
    return std::string(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + 4);
}

// Runs a shell command; returns its standard output, and its exit status in *status.
inline std::string RunCommand(const std::string &command, int *status = nullptr)
{
    std::string out;
    FILE *p = popen(command.c_str(), "r");
    if (!p) {
        if (status)
            *status = -1;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0)
        out.append(buf, n);
    const int rc = pclose(p);
    if (status)
        *status = rc;
    return out;
}

inline std::string Quote(const std::string &s)
{
    return "'" + s + "'";
}

// ffprobe's value of one stream entry (sample_rate, channels, bit_rate, ...).
inline std::string Probe(const std::string &path, const std::string &entry)
{
    std::string v = RunCommand("ffprobe -v error -select_streams a:0 -show_entries stream=" + entry +
                               " -of default=noprint_wrappers=1:nokey=1 " + Quote(path));
    while (!v.empty() && (v.back() == '\n' || v.back() == '\r'))
        v.pop_back();
    return v;
}

// A folder of its own for each test.
class TempDirTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / ("orafon_audio_" + std::to_string(getpid()) + "_" +
                                             testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string Path(const std::string &name) const { return (m_dir / name).string(); }

    fs::path m_dir;
};

} // namespace audiotest
