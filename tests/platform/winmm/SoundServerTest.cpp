// The wave device through a real sound server: PulseAudio directly, and ALSA
// through a configuration of the test's own whose default device copies the
// PCM into a file on its way to the same server. What is heard is recorded
// from the server's sink.
#include "support/SoundServer.h"

#include <orafon/PcmFormat.h>
#include <orafon/win/mmsystem.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using orafon::test::Loudness;
using orafon::test::MonitorRecording;
using orafon::test::SoundServer;
using orafon::test::sound_detail::EnvOverride;
using Clock = std::chrono::steady_clock;

constexpr unsigned kRate = SoundServer::kRate;
// Waits for completion are a guard against a hang, not a speed limit.
constexpr auto kGuard = std::chrono::seconds(30);

std::vector<char> Tone(double seconds)
{
    const size_t samples = static_cast<size_t>(seconds * kRate);
    std::vector<char> out(samples * 2);
    for (size_t i = 0; i < samples; ++i) {
        const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440.0 * static_cast<double>(i) / kRate));
        out[2 * i] = static_cast<char>(v & 0xFF);
        out[2 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    return out;
}

struct Done {
    std::mutex mutex;
    std::condition_variable cv;
    size_t count = 0;

    static void CALLBACK Callback(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR, DWORD_PTR)
    {
        if (msg != WOM_DONE)
            return;
        auto *self = reinterpret_cast<Done *>(instance);
        std::lock_guard lock(self->mutex);
        ++self->count;
        self->cv.notify_all();
    }
    bool WaitFor(size_t n)
    {
        std::unique_lock lock(mutex);
        return cv.wait_for(lock, kGuard, [&] { return count >= n; });
    }
};

struct Buffers {
    std::vector<std::vector<char>> data;
    std::vector<WAVEHDR> headers;
};

// Splits the sound into buffers of 100 ms.
Buffers Split(const std::vector<char> &sound)
{
    Buffers b;
    const size_t size = kRate * 2 / 10;
    for (size_t at = 0; at < sound.size(); at += size)
        b.data.emplace_back(sound.begin() + static_cast<long>(at),
                            sound.begin() + static_cast<long>(std::min(sound.size(), at + size)));
    b.headers.resize(b.data.size());
    for (size_t i = 0; i < b.data.size(); ++i) {
        b.headers[i].lpData = b.data[i].data();
        b.headers[i].dwBufferLength = static_cast<DWORD>(b.data[i].size());
    }
    return b;
}

DWORD PositionBytes(HWAVEOUT h)
{
    MMTIME t{};
    t.wType = TIME_BYTES;
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutGetPosition(h, &t, sizeof t));
    return t.u.cb;
}

// Polls until the recording is at least this long.
bool RecordUntil(const MonitorRecording &recording, size_t bytes)
{
    const auto until = Clock::now() + kGuard;
    while (recording.Bytes() < bytes) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Polls until the recording holds this much loud audio.
bool RecordUntilLoud(const MonitorRecording &recording, double seconds)
{
    const auto until = Clock::now() + kGuard;
    while (Loudness(recording.Samples(), kRate).LoudSeconds() < seconds) {
        if (Clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class WaveOutThroughServer : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        server_ = &SoundServer::Shared();
        ASSERT_TRUE(server_->ok()) << server_->error();
        device_ = std::make_unique<EnvOverride>("ORAFON_AUDIO_DEVICE", GetParam());
        if (GetParam() == "alsa") {
            copy_ = server_->dir() + "/alsa-copy-" + std::to_string(++copies_) + ".raw";
            alsa_ = std::make_unique<EnvOverride>("ALSA_CONFIG_PATH", server_->AlsaConfiguration(copy_));
        }
        recording_ = std::make_unique<MonitorRecording>(*server_);
        ASSERT_TRUE(recording_->ok()) << "parec did not start";
        const WAVEFORMATEX f = orafon::PcmFormat(kRate, 1, 16);
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutOpen(&hwo_, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&Done::Callback),
                                                reinterpret_cast<DWORD_PTR>(&done_), CALLBACK_FUNCTION));
    }
    void TearDown() override
    {
        if (hwo_) {
            waveOutReset(hwo_);
            for (auto &h : buffers_.headers)
                waveOutUnprepareHeader(hwo_, &h, sizeof h);
            EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(hwo_));
        }
        recording_.reset();
        alsa_.reset();
        device_.reset();
    }

    void Play(double seconds)
    {
        buffers_ = Split(Tone(seconds));
        for (auto &h : buffers_.headers) {
            ASSERT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(hwo_, &h, sizeof h));
            ASSERT_EQ(MMSYSERR_NOERROR, waveOutWrite(hwo_, &h, sizeof h));
        }
    }

    // Records a further half second past where the recording is now.
    std::vector<int16_t> RecordAHalfSecondMore()
    {
        EXPECT_TRUE(RecordUntil(*recording_, recording_->Bytes() + kRate));
        return recording_->Samples();
    }

    SoundServer *server_ = nullptr;
    std::unique_ptr<EnvOverride> device_, alsa_;
    std::unique_ptr<MonitorRecording> recording_;
    std::string copy_;
    static inline int copies_ = 0;
    Done done_;
    Buffers buffers_;
    HWAVEOUT hwo_ = nullptr;
};

// The position must reach the end of what was written once the last buffer
// is done, or a client draining the device waits for ever.
TEST_P(WaveOutThroughServer, PositionReachesTheEndAfterTheLastBuffer)
{
    Play(0.5);
    ASSERT_TRUE(done_.WaitFor(buffers_.headers.size()));
    const DWORD written = static_cast<DWORD>(Tone(0.5).size());
    const auto until = Clock::now() + kGuard;
    DWORD position = 0;
    while ((position = PositionBytes(hwo_)) < written && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(written, position);

    const Loudness heard(RecordAHalfSecondMore(), kRate);
    EXPECT_NEAR(0.5, heard.LoudSeconds(), 0.08);
    if (!copy_.empty()) {
        const auto copied = orafon::test::ReadPcm16(copy_);
        EXPECT_EQ(written / 2, copied.size());
        EXPECT_NEAR(0.5, Loudness(copied, kRate).LoudSeconds(), 0.02);
    }
}

// A sound shorter than the output's start threshold is still played.
TEST_P(WaveOutThroughServer, AVeryShortSoundIsHeard)
{
    Play(0.03);
    ASSERT_TRUE(done_.WaitFor(buffers_.headers.size()));
    const auto until = Clock::now() + kGuard;
    while (PositionBytes(hwo_) < buffers_.data[0].size() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(buffers_.data[0].size(), PositionBytes(hwo_));
    EXPECT_GT(Loudness(RecordAHalfSecondMore(), kRate).LoudSeconds(), 0.01);
}

TEST_P(WaveOutThroughServer, ResetSilencesWithinATenthOfASecond)
{
    Play(3.0);
    ASSERT_TRUE(RecordUntilLoud(*recording_, 0.3));
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutReset(hwo_));
    const size_t resetAt = recording_->SampleNow();
    EXPECT_EQ(0u, PositionBytes(hwo_));
    const Loudness heard(RecordAHalfSecondMore(), kRate);
    const auto span = heard.Span();
    ASSERT_TRUE(span);
    EXPECT_LT(heard.Seconds(span->second) - heard.Seconds(resetAt), 0.1);
    EXPECT_LT(heard.LoudSeconds(), 2.0);
}

TEST_P(WaveOutThroughServer, PauseHoldsAndRestartGoesOn)
{
    Play(1.5);
    ASSERT_TRUE(RecordUntilLoud(*recording_, 0.3));
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutPause(hwo_));
    const size_t pausedAt = recording_->SampleNow();
    const Loudness held(RecordAHalfSecondMore(), kRate);
    // What the output already held may still sound for a moment, then nothing.
    EXPECT_EQ(0.0, held.LoudSeconds(pausedAt + kRate / 5));
    EXPECT_LT(held.LoudSeconds(), 1.2);
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutRestart(hwo_));
    ASSERT_TRUE(done_.WaitFor(buffers_.headers.size()));
    const auto until = Clock::now() + kGuard;
    while (PositionBytes(hwo_) < Tone(1.5).size() && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const Loudness heard(RecordAHalfSecondMore(), kRate);
    EXPECT_NEAR(1.5, heard.LoudSeconds(), 0.1);
}

std::string DeviceName()
{
    WAVEOUTCAPSA caps{};
    const MMRESULT r = waveOutGetDevCapsA(WAVE_MAPPER, &caps, sizeof caps);
    return r == MMSYSERR_NOERROR ? caps.szPname : "error " + std::to_string(r);
}

// The device count tells a client whether anything will be heard; the
// silent stand-in left when no output opens is no device.
TEST(WaveOutDevices, CountAndNameFollowTheOutput)
{
    SoundServer &server = SoundServer::Shared();
    ASSERT_TRUE(server.ok()) << server.error();
    struct Row {
        const char *device;
        bool reachable;
        UINT count;
        std::string name;
    };
    const Row rows[] = {{"pulse", true, 1, "PulseAudio"},
                        {"alsa", true, 1, "ALSA"},
                        {"silent", true, 1, "Silent output"},
                        {"pulse", false, 0, "error " + std::to_string(MMSYSERR_NODRIVER)}};
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.device) + (row.reachable ? "" : ", no server"));
        EnvOverride device("ORAFON_AUDIO_DEVICE", row.device);
        EnvOverride alsa("ALSA_CONFIG_PATH", row.reachable ? server.AlsaConfiguration(server.dir() + "/probe.raw")
                                                           : server.dir() + "/no-such.conf");
        EnvOverride pulse("PULSE_SERVER", row.reachable ? server.server() : "unix:" + server.dir() + "/no-such-socket");
        EXPECT_EQ(row.count, waveOutGetNumDevs());
        EXPECT_EQ(row.name, DeviceName());
        WAVEOUTCAPSW wide{};
        EXPECT_EQ(row.count ? MMSYSERR_NOERROR : MMSYSERR_NODRIVER, waveOutGetDevCapsW(0, &wide, sizeof wide));
        EXPECT_EQ(std::u16string(row.name.begin(), row.name.end()).substr(0, row.count ? 32 : 0),
                  std::u16string(wide.szPname).substr(0, row.count ? 32 : 0));
        // Speech still runs its course through the silent stand-in.
        const WAVEFORMATEX f = orafon::PcmFormat(kRate, 1, 16);
        HWAVEOUT h = nullptr;
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL));
        EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(h));
    }
    EXPECT_EQ(MMSYSERR_BADDEVICEID, waveOutGetDevCapsA(1, nullptr, 0));
}

TEST(WaveOutDevices, AskingLeavesTheCaptureFileAlone)
{
    const std::string capture = SoundServer::Shared().dir() + "/capture.wav";
    std::ofstream(capture) << "earlier capture";
    EnvOverride env("ORAFON_AUDIO_CAPTURE", capture);
    EXPECT_EQ(1u, waveOutGetNumDevs());
    EXPECT_EQ("WAV capture", DeviceName());
    std::ifstream in(capture);
    EXPECT_EQ("earlier capture", std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
}

INSTANTIATE_TEST_SUITE_P(Outputs, WaveOutThroughServer, testing::Values("pulse", "alsa"),
                         [](const testing::TestParamInfo<std::string> &row) { return row.param; });

} // namespace
