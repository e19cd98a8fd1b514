#include <orafon/PcmFormat.h>
#include <orafon/win/mmsystem.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

// Collects WOM_* callbacks from the device thread.
struct Recorder {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<UINT> messages;
    std::vector<WAVEHDR *> done;

    static void CALLBACK Callback(HWAVEOUT, UINT msg, DWORD_PTR instance, DWORD_PTR p1, DWORD_PTR)
    {
        auto *self = reinterpret_cast<Recorder *>(instance);
        std::lock_guard lock(self->mutex);
        self->messages.push_back(msg);
        if (msg == WOM_DONE)
            self->done.push_back(reinterpret_cast<WAVEHDR *>(p1));
        self->cv.notify_all();
    }
    void WaitDone(size_t count)
    {
        std::unique_lock lock(mutex);
        cv.wait(lock, [&] { return done.size() >= count; });
    }
    size_t DoneCount()
    {
        std::lock_guard lock(mutex);
        return done.size();
    }
};

struct Buffer {
    std::vector<char> data;
    WAVEHDR hdr{};
    explicit Buffer(std::vector<char> bytes) : data(std::move(bytes))
    {
        hdr.lpData = data.data();
        hdr.dwBufferLength = static_cast<DWORD>(data.size());
    }
};

std::vector<char> Ramp16(size_t samples, int16_t amplitude)
{
    std::vector<char> out(samples * 2);
    for (size_t i = 0; i < samples; ++i) {
        const int16_t v = static_cast<int16_t>((i % 2 ? 1 : -1) * amplitude);
        out[2 * i] = static_cast<char>(v & 0xFF);
        out[2 * i + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    return out;
}

std::string TempPath(const char *name)
{
    return (std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/orafon_winmm_" +
            std::to_string(::getpid()) + "_" + name);
}

std::vector<char> ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string RunCommand(const std::string &command)
{
    std::string out;
    if (FILE *p = ::popen(command.c_str(), "r")) {
        char buf[256];
        while (size_t n = std::fread(buf, 1, sizeof buf, p))
            out.append(buf, n);
        ::pclose(p);
    }
    return out;
}

class ScopedEnv {
public:
    ScopedEnv(const char *name, const std::string &value) : name_(name) { ::setenv(name, value.c_str(), 1); }
    ~ScopedEnv() { ::unsetenv(name_); }

private:
    const char *name_;
};

class WaveOutTest : public ::testing::Test {
protected:
    void Open(const WAVEFORMATEX &f)
    {
        ASSERT_EQ(MMSYSERR_NOERROR,
                  waveOutOpen(&hwo_, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&Recorder::Callback),
                              reinterpret_cast<DWORD_PTR>(&rec_), CALLBACK_FUNCTION));
    }
    void Play(Buffer &b)
    {
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(hwo_, &b.hdr, sizeof(WAVEHDR)));
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutWrite(hwo_, &b.hdr, sizeof(WAVEHDR)));
    }
    DWORD PositionBytes()
    {
        MMTIME t{};
        t.wType = TIME_BYTES;
        EXPECT_EQ(MMSYSERR_NOERROR, waveOutGetPosition(hwo_, &t, sizeof t));
        return t.u.cb;
    }
    void TearDown() override
    {
        if (hwo_) {
            waveOutReset(hwo_);
            EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(hwo_));
        }
    }

    HWAVEOUT hwo_ = nullptr;
    Recorder rec_;
};

struct FormatCase {
    WAVEFORMATEX format;
    MMRESULT expected;
};

TEST(WaveOutFormats, AcceptsPcmAndRefusesTheRest)
{
    WAVEFORMATEX noTag = orafon::PcmFormat(22050, 1, 16);
    noTag.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    WAVEFORMATEX badAlign = orafon::PcmFormat(22050, 1, 16);
    badAlign.nBlockAlign = 3;
    const FormatCase cases[] = {
        {orafon::PcmFormat(22050, 1, 16), MMSYSERR_NOERROR},
        {orafon::PcmFormat(44100, 2, 16), MMSYSERR_NOERROR},
        {orafon::PcmFormat(8000, 1, 8), MMSYSERR_NOERROR},
        {orafon::PcmFormat(22050, 3, 16), WAVERR_BADFORMAT},
        {orafon::PcmFormat(22050, 1, 24), WAVERR_BADFORMAT},
        {orafon::PcmFormat(0, 1, 16), WAVERR_BADFORMAT},
        {noTag, WAVERR_BADFORMAT},
        {badAlign, WAVERR_BADFORMAT},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, waveOutOpen(nullptr, WAVE_MAPPER, &c.format, 0, 0, WAVE_FORMAT_QUERY))
            << c.format.nSamplesPerSec << "/" << c.format.nChannels << "/" << c.format.wBitsPerSample;
}

TEST(WaveOutHandles, BadArgumentsAreRefused)
{
    const WAVEFORMATEX f = orafon::PcmFormat(22050, 1, 16);
    HWAVEOUT h = nullptr;
    EXPECT_EQ(MMSYSERR_BADDEVICEID, waveOutOpen(&h, 7, &f, 0, 0, CALLBACK_NULL));
    EXPECT_EQ(MMSYSERR_INVALPARAM, waveOutOpen(&h, WAVE_MAPPER, nullptr, 0, 0, CALLBACK_NULL));
    EXPECT_EQ(MMSYSERR_INVALFLAG, waveOutOpen(&h, WAVE_MAPPER, &f, 0, 0, CALLBACK_WINDOW));
    HWAVEOUT bogus = reinterpret_cast<HWAVEOUT>(&h);
    EXPECT_EQ(MMSYSERR_INVALHANDLE, waveOutClose(bogus));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, waveOutReset(bogus));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, waveOutPause(nullptr));
    EXPECT_EQ(1u, waveOutGetNumDevs());
}

TEST_F(WaveOutTest, UnpreparedAndClosedHandlesAreRefused)
{
    Open(orafon::PcmFormat(22050, 1, 16));
    Buffer b(Ramp16(100, 1000));
    EXPECT_EQ(WAVERR_UNPREPARED, waveOutWrite(hwo_, &b.hdr, sizeof(WAVEHDR)));
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutClose(hwo_));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, waveOutPrepareHeader(hwo_, &b.hdr, sizeof(WAVEHDR)));
    hwo_ = nullptr;
    std::lock_guard lock(rec_.mutex);
    EXPECT_EQ((std::vector<UINT>{WOM_OPEN, WOM_CLOSE}), rec_.messages);
}

TEST_F(WaveOutTest, CaptureHoldsExactlyThePlayedBytesInOrder)
{
    const std::string path = TempPath("capture.wav");
    ScopedEnv capture("ORAFON_AUDIO_CAPTURE", path);
    ScopedEnv fast("ORAFON_AUDIO_FAST", "1");
    Open(orafon::PcmFormat(16000, 1, 16));
    Buffer a(Ramp16(4000, 1200)), b(Ramp16(2500, -3000));
    Play(a);
    Play(b);
    rec_.WaitDone(2);
    {
        std::lock_guard lock(rec_.mutex);
        EXPECT_EQ((std::vector<WAVEHDR *>{&a.hdr, &b.hdr}), rec_.done);
    }
    EXPECT_TRUE(a.hdr.dwFlags & WHDR_DONE);
    EXPECT_FALSE(a.hdr.dwFlags & WHDR_INQUEUE);
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutUnprepareHeader(hwo_, &a.hdr, sizeof(WAVEHDR)));
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutUnprepareHeader(hwo_, &b.hdr, sizeof(WAVEHDR)));
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(hwo_));
    hwo_ = nullptr;

    const std::vector<char> file = ReadFile(path);
    ASSERT_EQ(44u + a.data.size() + b.data.size(), file.size());
    EXPECT_TRUE(std::equal(a.data.begin(), a.data.end(), file.begin() + 44));
    EXPECT_TRUE(std::equal(b.data.begin(), b.data.end(), file.begin() + 44 + static_cast<long>(a.data.size())));
    // A real decoder agrees on the header.
    EXPECT_EQ("16000\n", RunCommand("soxi -r '" + path + "' 2>&1"));
    EXPECT_EQ("6500\n", RunCommand("soxi -s '" + path + "' 2>&1"));
    std::remove(path.c_str());
}

TEST_F(WaveOutTest, VolumeScalesTheSamples)
{
    const std::string path = TempPath("volume.wav");
    ScopedEnv capture("ORAFON_AUDIO_CAPTURE", path);
    ScopedEnv fast("ORAFON_AUDIO_FAST", "1");
    Open(orafon::PcmFormat(8000, 1, 16));
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutSetVolume(hwo_, 0x80008000));
    DWORD volume = 0;
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutGetVolume(hwo_, &volume));
    EXPECT_EQ(0x80008000u, volume);
    Buffer a(Ramp16(800, 10000));
    Play(a);
    rec_.WaitDone(1);
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutClose(hwo_));
    hwo_ = nullptr;
    const std::vector<char> file = ReadFile(path);
    ASSERT_EQ(44u + 1600u, file.size());
    const int16_t first = static_cast<int16_t>((file[44] & 0xFF) | (file[45] << 8));
    EXPECT_NEAR(-5000, first, 2);
    std::remove(path.c_str());
}

TEST_F(WaveOutTest, PauseHoldsThePositionAndRestartGoesOn)
{
    Open(orafon::PcmFormat(8000, 1, 16));
    Buffer a(Ramp16(8000 * 5, 1000)); // five seconds at the real pace
    Play(a);
    while (PositionBytes() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutPause(hwo_));
    // A chunk in flight when the pause came still finishes; wait for that,
    // however busy the machine is.
    DWORD held = PositionBytes();
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        const DWORD now = PositionBytes();
        if (now == held)
            break;
        held = now;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(held, PositionBytes());
    EXPECT_EQ(0u, rec_.DoneCount());
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutRestart(hwo_));
    while (PositionBytes() <= held)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_LT(PositionBytes(), a.data.size());
    EXPECT_EQ(0u, rec_.DoneCount());
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutReset(hwo_)); // before the buffer goes away
}

TEST_F(WaveOutTest, ResetReturnsEveryBufferDoneBeforeReturning)
{
    Open(orafon::PcmFormat(8000, 1, 16));
    Buffer a(Ramp16(8000 * 5, 1000)), b(Ramp16(8000 * 5, 1000));
    Play(a);
    Play(b);
    EXPECT_EQ(WAVERR_STILLPLAYING, waveOutClose(hwo_));
    EXPECT_EQ(WAVERR_STILLPLAYING, waveOutUnprepareHeader(hwo_, &a.hdr, sizeof(WAVEHDR)));
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutReset(hwo_));
    EXPECT_EQ(2u, rec_.DoneCount());
    EXPECT_TRUE(b.hdr.dwFlags & WHDR_DONE);
    EXPECT_EQ(0u, PositionBytes());
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutUnprepareHeader(hwo_, &a.hdr, sizeof(WAVEHDR)));
}

TEST_F(WaveOutTest, ResetWhilePausedCompletesTheBuffers)
{
    Open(orafon::PcmFormat(8000, 1, 16));
    Buffer a(Ramp16(8000, 1000));
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutPause(hwo_));
    Play(a);
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutReset(hwo_));
    EXPECT_EQ(1u, rec_.DoneCount());
}

TEST_F(WaveOutTest, PlaybackKeepsTheRealPace)
{
    // Two seconds of audio must not be reported played at once: position
    // grows gradually. Checked by order, not by time.
    Open(orafon::PcmFormat(8000, 1, 16));
    Buffer a(Ramp16(16000, 1000));
    Play(a);
    const DWORD early = PositionBytes();
    EXPECT_LT(early, a.data.size());
    rec_.WaitDone(1);
    EXPECT_EQ(a.data.size(), PositionBytes());
}

TEST(WaveOutThreads, DevicesPlayIndependently)
{
    ScopedEnv fast("ORAFON_AUDIO_FAST", "1");
    std::atomic<int> finished{0};
    auto play = [&] {
        Recorder rec;
        HWAVEOUT h = nullptr;
        const WAVEFORMATEX f = orafon::PcmFormat(22050, 2, 16);
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutOpen(&h, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&Recorder::Callback),
                                                reinterpret_cast<DWORD_PTR>(&rec), CALLBACK_FUNCTION));
        std::vector<Buffer> buffers;
        buffers.reserve(20);
        for (int i = 0; i < 20; ++i) {
            buffers.emplace_back(Ramp16(2048, 500));
            ASSERT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(h, &buffers.back().hdr, sizeof(WAVEHDR)));
            ASSERT_EQ(MMSYSERR_NOERROR, waveOutWrite(h, &buffers.back().hdr, sizeof(WAVEHDR)));
        }
        rec.WaitDone(20);
        EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(h));
        ++finished;
    };
    std::thread t1(play), t2(play);
    t1.join();
    t2.join();
    EXPECT_EQ(2, finished.load());
}

} // namespace
