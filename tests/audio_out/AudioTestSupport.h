// Helpers for the audio output tests: temporary folders, synthetic PCM, and
// running the command-line checkers (ffprobe, sox, ffmpeg, mp3val).
#pragma once

#include "AudioSink.h"

#include <orafon/PcmFormat.h>
#include <orafon/win/wintypes.h>

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace audiotest {

namespace fs = std::filesystem;

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

// One catalogue entry: the target format and its nominal bit rate (bit/s).
using CatalogueEntry = std::pair<WAVEFORMATEX, LONG>;

inline std::vector<CatalogueEntry> CatalogueOf(LONG fileFormat)
{
    std::vector<CatalogueEntry> entries;
    EXPECT_EQ(S_OK, CAudioSink::EnumFormats(
                        fileFormat,
                        [](const WAVEFORMATEX *pwfx, LONG nBitRate, void *pContext) {
                            static_cast<std::vector<CatalogueEntry> *>(pContext)->push_back({*pwfx, nBitRate});
                            return 1;
                        },
                        &entries));
    return entries;
}

inline std::string Describe(const WAVEFORMATEX &wfx, LONG nBitRate)
{
    return std::to_string(wfx.nSamplesPerSec) + " Hz, " + std::to_string(wfx.nChannels) + " ch, " +
           std::to_string(wfx.wBitsPerSample) + " bit, " + std::to_string(nBitRate) + " bit/s";
}

// Interleaved PCM in wfx's format (8-bit unsigned or 16-bit signed): channel c
// carries a sine of freq Hz at amplitudes[c] of full scale.
inline std::vector<BYTE> SinePcm(const WAVEFORMATEX &wfx, size_t frames, double freq,
                                 const std::vector<double> &amplitudes)
{
    const size_t cbSample = wfx.wBitsPerSample / 8;
    std::vector<BYTE> b(frames * wfx.nChannels * cbSample);
    BYTE *p = b.data();
    for (size_t i = 0; i < frames; ++i) {
        const double x = std::sin(2 * M_PI * freq * static_cast<double>(i) / wfx.nSamplesPerSec);
        for (size_t c = 0; c < wfx.nChannels; ++c, p += cbSample) {
            const double a = amplitudes[c % amplitudes.size()];
            if (cbSample == 1) {
                *p = static_cast<BYTE>(128 + std::lround(a * 127 * x));
            } else {
                const auto s = static_cast<int16_t>(std::lround(a * 32767 * x));
                p[0] = static_cast<BYTE>(s & 0xFF);
                p[1] = static_cast<BYTE>((s >> 8) & 0xFF);
            }
        }
    }
    return b;
}

// Interleaved 16-bit white noise at a quarter of full scale, the same every
// time; codecs cannot make it much smaller than its nominal bit rate.
inline std::vector<BYTE> Noise16(size_t samples)
{
    std::vector<BYTE> b(samples * 2);
    uint32_t state = 12345;
    for (size_t i = 0; i < samples; ++i) {
        state = state * 1664525u + 1013904223u;
        const auto s = static_cast<int16_t>(static_cast<int32_t>(state >> 16) / 4 - 8192);
        b[2 * i] = static_cast<BYTE>(s & 0xFF);
        b[2 * i + 1] = static_cast<BYTE>((s >> 8) & 0xFF);
    }
    return b;
}

// The energy of a - b against the energy of a (square root); 1 when the sizes differ.
inline double RelativeDifference(const std::vector<int16_t> &a, const std::vector<int16_t> &b)
{
    if (a.size() != b.size())
        return 1;
    double diff = 0, signal = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        diff += d * d;
        signal += static_cast<double>(a[i]) * a[i];
    }
    return signal > 0 ? std::sqrt(diff / signal) : (diff > 0 ? 1 : 0);
}

// Little-endian 16-bit samples out of raw decoder output.
inline std::vector<int16_t> Samples16(const std::string &raw)
{
    std::vector<int16_t> s(raw.size() / 2);
    if (!s.empty())
        std::memcpy(s.data(), raw.data(), s.size() * 2);
    return s;
}

// Interleaved 16-bit PCM of any file ffmpeg reads, at its own rate and channel count.
inline std::vector<int16_t> DecodeWithFfmpeg(const std::string &path)
{
    return Samples16(RunCommand("ffmpeg -nostdin -v error -i " + Quote(path) + " -f s16le -acodec pcm_s16le -"));
}

// The frequency (from rising zero crossings) and RMS level, as a fraction of
// full scale, of one channel of interleaved 16-bit PCM. The first and last
// tenth are left out, where codecs ramp.
struct Tone {
    double frequency = 0;
    double level = 0;
};

inline Tone MeasureTone(const std::vector<int16_t> &pcm, size_t channels, size_t channel, DWORD rate)
{
    const size_t frames = pcm.size() / channels;
    const size_t from = frames / 10, to = frames - frames / 10;
    Tone t;
    double sum = 0, first = -1, last = -1;
    int crossings = 0;
    for (size_t i = from; i < to; ++i) {
        const double v = pcm[i * channels + channel] / 32768.0;
        sum += v * v;
        if (i == from)
            continue;
        const double prev = pcm[(i - 1) * channels + channel] / 32768.0;
        if (prev < 0 && v >= 0) {
            const double at = static_cast<double>(i - 1) + prev / (prev - v);
            if (first < 0)
                first = at;
            last = at;
            ++crossings;
        }
    }
    if (to > from)
        t.level = std::sqrt(sum / static_cast<double>(to - from));
    if (crossings > 1)
        t.frequency = (crossings - 1) * rate / (last - first);
    return t;
}

// Makes the disk look full to this process: files cannot grow beyond cbLimit
// bytes (writes past it fail with EFBIG instead of raising SIGXFSZ) until the
// object goes.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t cbLimit)
    {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = cbLimit;
        m_bSet = setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit()
    {
        setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    bool IsSet() const { return m_bSet; }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = nullptr;
    bool m_bSet = false;
};

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
