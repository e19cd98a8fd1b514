// MMAudioDest over the shared wave output device, checked through the WAV
// file the device captures instead of playing.
#include "Sapi4TestSupport.h"

#include <orafon/win/mmsystem.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace sapi4test;

namespace {

// Records what the destination tells its engine.
class RecordingNotify final : public IAudioDestNotifySink {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IAudioDestNotifySink) {
            *ppv = static_cast<IAudioDestNotifySink *>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG after = --refs_;
        if (after == 0)
            delete this;
        return after;
    }
    STDMETHODIMP AudioStop(WORD) override { return Log("AudioStop"); }
    STDMETHODIMP AudioStart() override { return Log("AudioStart"); }
    STDMETHODIMP FreeSpace(DWORD, BOOL) override { return S_OK; }
    STDMETHODIMP BookMark(DWORD id, BOOL flushed) override
    {
        return Log((flushed ? "Flushed" : "Mark") + std::to_string(id));
    }

    std::vector<std::string> Events()
    {
        std::lock_guard lock(mutex_);
        return events_;
    }

private:
    HRESULT Log(const std::string &event)
    {
        std::lock_guard lock(mutex_);
        events_.push_back(event);
        return S_OK;
    }
    std::atomic<ULONG> refs_{1};
    std::mutex mutex_;
    std::vector<std::string> events_;
};

class Sapi4MMAudioDest : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = std::filesystem::temp_directory_path() / ("sapi4-mmaudio-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir_);
        capture_ = (dir_ / "capture.wav").string();
        setenv("ORAFON_AUDIO_CAPTURE", capture_.c_str(), 1);
        setenv("ORAFON_AUDIO_FAST", "1", 1);
        dest_ = Create<IAudio>(CLSID_MMAudioDest);
        ASSERT_TRUE(dest_);
    }
    void TearDown() override
    {
        dest_.Release();
        unsetenv("ORAFON_AUDIO_CAPTURE");
        unsetenv("ORAFON_AUDIO_FAST");
        std::filesystem::remove_all(dir_);
    }

    std::string Run(const std::string &command)
    {
        std::string out;
        std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen((command + " 2>&1").c_str(), "r"), pclose);
        char buffer[512];
        while (pipe && fgets(buffer, sizeof(buffer), pipe.get()))
            out += buffer;
        return out;
    }

    std::filesystem::path dir_;
    std::string capture_;
    CComPtr<IAudio> dest_;
};

TEST_F(Sapi4MMAudioDest, AnswersLikeADeviceBeforeItIsClaimed)
{
    CComPtr<IAudioMultiMediaDevice> device;
    ASSERT_EQ(dest_->QueryInterface(IID_IAudioMultiMediaDevice, reinterpret_cast<void **>(&device)), S_OK);
    DWORD id = 0;
    EXPECT_EQ(device->DeviceNumGet(&id), S_OK);
    EXPECT_EQ(id, WAVE_MAPPER);
    EXPECT_EQ(device->DeviceNumSet(WAVE_MAPPER), S_OK);
    SDATA proposed{nullptr, 0};
    EXPECT_EQ(dest_->WaveFormatGet(&proposed), AUDERR_NEEDWAVEFORMAT);
    EXPECT_EQ(dest_->Claim(), AUDERR_NEEDWAVEFORMAT);
    WAVEFORMATEX bad{3, 1, 16000, 64000, 4, 32, 0};
    EXPECT_EQ(dest_->WaveFormatSet(SDATA{&bad, sizeof(bad)}), AUDERR_WAVEFORMATNOTSUPPORTED);
    EXPECT_EQ(dest_->WaveFormatSet(SDATA{nullptr, 18}), E_INVALIDARG);
    CComPtr<IAudioDest> data;
    ASSERT_EQ(dest_->QueryInterface(IID_IAudioDest, reinterpret_cast<void **>(&data)), S_OK);
    BYTE pcm[4]{};
    EXPECT_EQ(data->DataSet(pcm, sizeof(pcm)), AUDERR_NOTCLAIMED);
    EXPECT_EQ(dest_->Start(), AUDERR_NOTCLAIMED);
    EXPECT_EQ(dest_->PassNotify(nullptr, IID_IUnknown), S_OK);
    RecordingNotify notify;
    EXPECT_EQ(dest_->PassNotify(&notify, IID_IUnknown), AUDERR_INVALIDNOTIFYSINK);
}

TEST_F(Sapi4MMAudioDest, PlaysDataAndReachesBookmarksInOrder)
{
    auto *notify = new RecordingNotify();
    CComPtr<IAudioDestNotifySink> notifyRef;
    notifyRef.Attach(notify);
    ASSERT_EQ(dest_->PassNotify(notify, IID_IAudioDestNotifySink), S_OK);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    ASSERT_EQ(dest_->WaveFormatSet(SDATA{&format, sizeof(format)}), S_OK);
    ASSERT_EQ(dest_->Claim(), S_OK);
    EXPECT_EQ(dest_->Claim(), AUDERR_ALREADYCLAIMED);
    CComPtr<IAudioDest> data;
    ASSERT_EQ(dest_->QueryInterface(IID_IAudioDest, reinterpret_cast<void **>(&data)), S_OK);
    DWORD before = 0, after = 0;
    BOOL eof = TRUE;
    ASSERT_EQ(data->FreeSpace(&before, &eof), S_OK);
    EXPECT_FALSE(eof);
    std::vector<BYTE> tone(1600);
    for (size_t i = 0; i < tone.size(); i += 2)
        tone[i + 1] = (i / 20) % 2 ? 0x40 : 0xC0;
    ASSERT_EQ(data->DataSet(tone.data(), static_cast<DWORD>(tone.size())), S_OK);
    ASSERT_EQ(data->BookMark(1), S_OK);
    ASSERT_EQ(data->DataSet(tone.data(), static_cast<DWORD>(tone.size())), S_OK);
    ASSERT_EQ(data->BookMark(2), S_OK);
    ASSERT_EQ(data->FreeSpace(&after, nullptr), S_OK);
    EXPECT_LT(after, before);
    // Nothing is heard before Start.
    PumpUntil([] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(notify->Events(), std::vector<std::string>{});
    ASSERT_EQ(dest_->Start(), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return notify->Events().size() >= 3; }));
    EXPECT_EQ(notify->Events(), (std::vector<std::string>{"AudioStart", "Mark1", "Mark2"}));
    QWORD total = 0;
    EXPECT_EQ(dest_->TotalGet(&total), S_OK);
    EXPECT_EQ(total, 3200u);
    // A mark with nothing left to play is reached at once.
    ASSERT_EQ(data->BookMark(3), S_OK);
    EXPECT_EQ(notify->Events().back(), "Mark3");
    ASSERT_EQ(dest_->Stop(), S_OK);
    ASSERT_EQ(dest_->UnClaim(), S_OK);
    EXPECT_EQ(dest_->UnClaim(), AUDERR_NOTCLAIMED);

    EXPECT_EQ(Run("soxi -r '" + capture_ + "'"), "8000\n");
    EXPECT_EQ(Run("soxi -c '" + capture_ + "'"), "1\n");
    EXPECT_EQ(Run("soxi -s '" + capture_ + "'"), "1600\n");
}

TEST_F(Sapi4MMAudioDest, FlushDropsWhatWasNotHeard)
{
    auto *notify = new RecordingNotify();
    CComPtr<IAudioDestNotifySink> notifyRef;
    notifyRef.Attach(notify);
    ASSERT_EQ(dest_->PassNotify(notify, IID_IAudioDestNotifySink), S_OK);
    WAVEFORMATEX format{WAVE_FORMAT_PCM, 1, 8000, 16000, 2, 16, 0};
    ASSERT_EQ(dest_->WaveFormatSet(SDATA{&format, sizeof(format)}), S_OK);
    ASSERT_EQ(dest_->Claim(), S_OK);
    CComPtr<IAudioDest> data;
    ASSERT_EQ(dest_->QueryInterface(IID_IAudioDest, reinterpret_cast<void **>(&data)), S_OK);
    std::vector<BYTE> silence(8000);
    ASSERT_EQ(data->DataSet(silence.data(), static_cast<DWORD>(silence.size())), S_OK);
    ASSERT_EQ(data->BookMark(9), S_OK);
    ASSERT_EQ(dest_->Flush(), S_OK);
    EXPECT_EQ(notify->Events(), std::vector<std::string>{"Flushed9"});
    ASSERT_EQ(dest_->UnClaim(), S_OK);
}

TEST_F(Sapi4MMAudioDest, AFliteEngineSpeaksThroughTheDevice)
{
    CComPtr<IAudioMultiMediaDevice> device;
    ASSERT_EQ(dest_->QueryInterface(IID_IAudioMultiMediaDevice, reinterpret_cast<void **>(&device)), S_OK);
    ASSERT_EQ(device->DeviceNumSet(WAVE_MAPPER), S_OK);
    auto enumerator = Create<ITTSEnumW>(CLSID_TTSEnumerator);
    ASSERT_TRUE(enumerator);
    TTSMODEINFOW info{};
    GUID kal16{};
    while (enumerator->Next(1, &info, nullptr) == S_OK)
        if (std::u16string(info.szModeName) == u"Flite kal16")
            kal16 = info.gModeID;
    CComPtr<ITTSCentralW> central;
    ASSERT_EQ(enumerator->Select(kal16, &central, dest_), S_OK);
    auto *sink = new TestSink();
    CComPtr<ITTSBufNotifySink> sinkRef;
    sinkRef.Attach(sink);
    const std::u16string text = u"Spoken through the wave device.";
    ASSERT_EQ(central->TextData(CHARSET_TEXT, 0, TextOf(text), sink, IID_ITTSBufNotifySink), S_OK);
    ASSERT_TRUE(PumpUntil([&] { return sink->DoneCount() == 1; }));
    EXPECT_EQ(sink->Values(Notice::Done), std::vector<DWORD>{0});
    EXPECT_EQ(sink->Values(Notice::Word), (std::vector<DWORD>{0, 14, 30, 38, 48}));
    central.Release();

    EXPECT_EQ(Run("soxi -r '" + capture_ + "'"), "16000\n");
    EXPECT_EQ(Run("soxi -c '" + capture_ + "'"), "1\n");
    EXPECT_EQ(Run("soxi -b '" + capture_ + "'"), "16\n");
    const double seconds = std::atof(Run("soxi -D '" + capture_ + "'").c_str());
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 5.0);
    const std::string stats = Run("sox '" + capture_ + "' -n stat");
    const auto at = stats.find("RMS     amplitude:");
    ASSERT_NE(at, std::string::npos) << stats;
    EXPECT_GT(std::atof(stats.c_str() + at + 18), 0.01);
}

} // namespace
