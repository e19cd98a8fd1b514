// Test doubles for the SAPI 4 engine's tests: an audio destination that
// records what the engine does to it, a notification sink that records what
// the engine reports, and a message pump for the selecting thread.
#pragma once

#include "support/MessagePump.h"

#include <orafon/win/speech.h>
#include <orafon/win/winuser.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID *ppv);
extern "C" HRESULT DllCanUnloadNow(void);

namespace sapi4test {

// Creates an object of the in-process server through its class factory.
template <typename T> CComPtr<T> Create(REFCLSID clsid)
{
    CComPtr<IClassFactory> factory;
    if (FAILED(DllGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void **>(&factory))))
        return nullptr;
    CComPtr<T> object;
    if (FAILED(factory->CreateInstance(nullptr, __uuidof(T), reinterpret_cast<void **>(&object))))
        return nullptr;
    return object;
}

using orafon::test::PumpUntil;

template <typename Interface> class TestObject : public Interface {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG after = --refs_;
        if (after == 0)
            delete this;
        return after;
    }
    virtual ~TestObject() = default;

private:
    std::atomic<ULONG> refs_{1};
};

// An audio destination that keeps every byte and logs every call. Bookmarks
// are reached as soon as they are set, as with a file, unless holdMarks.
class TestAudio final : public IAudio, public IAudioDest {
public:
    HRESULT formatGetResult = AUDERR_NEEDWAVEFORMAT;
    HRESULT formatSetResult = S_OK;
    int failDataSetAfter = -1; // DataSet calls that succeed before they fail
    bool holdMarks = false;
    bool weakSink = false; // keep the engine's sink without a reference, as some hosts do
    // When not negative: the destination reports no free space once this
    // many DataSet calls were made (a device that is full).
    std::atomic<int> dataSetBudget{-1};

    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IAudio)
            *ppv = static_cast<IAudio *>(this);
        else if (riid == IID_IAudioDest && !hideDest)
            *ppv = static_cast<IAudioDest *>(this);
        else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG after = --refs_;
        if (after == 0)
            delete this;
        return after;
    }

    STDMETHODIMP Flush() override { return Log("Flush"); }
    STDMETHODIMP LevelGet(DWORD *) override { return Log("LevelGet"); }
    STDMETHODIMP LevelSet(DWORD) override { return Log("LevelSet"); }
    STDMETHODIMP PassNotify(PVOID sink, IID iid) override
    {
        std::lock_guard lock(mutex_);
        calls_.push_back("PassNotify");
        notifyIid = iid;
        if (weakSink) {
            if (sink_)
                (void)sink_.Detach();
            sink_.Attach(static_cast<IAudioDestNotifySink *>(sink));
        } else {
            sink_ = static_cast<IAudioDestNotifySink *>(sink);
        }
        return S_OK;
    }
    STDMETHODIMP PosnGet(PQWORD) override { return Log("PosnGet"); }
    STDMETHODIMP Claim() override { return Log("Claim"); }
    STDMETHODIMP UnClaim() override { return Log("UnClaim"); }
    STDMETHODIMP Start() override { return Log("Start"); }
    STDMETHODIMP Stop() override { return Log("Stop"); }
    STDMETHODIMP TotalGet(PQWORD) override { return Log("TotalGet"); }
    STDMETHODIMP ToFileTime(PQWORD, FILETIME *) override { return Log("ToFileTime"); }
    STDMETHODIMP WaveFormatGet(PSDATA) override
    {
        Log("WaveFormatGet");
        return formatGetResult;
    }
    STDMETHODIMP WaveFormatSet(SDATA data) override
    {
        std::lock_guard lock(mutex_);
        calls_.push_back("WaveFormatSet");
        if (data.pData && data.dwSize >= sizeof(WAVEFORMATEX))
            std::memcpy(&format, data.pData, sizeof(WAVEFORMATEX));
        formatSize = data.dwSize;
        return formatSetResult;
    }
    STDMETHODIMP FreeSpace(DWORD *bytes, BOOL *eof) override
    {
        const int budget = dataSetBudget.load();
        const bool full = budget >= 0 && static_cast<int>(Count("DataSet")) >= budget;
        Log("FreeSpace");
        *bytes = full ? 0 : 0xFFFFFFFF;
        if (eof)
            *eof = FALSE;
        return S_OK;
    }
    STDMETHODIMP DataSet(PVOID data, DWORD size) override
    {
        std::lock_guard lock(mutex_);
        calls_.push_back("DataSet");
        if (failDataSetAfter >= 0 && dataSets_++ >= failDataSetAfter)
            return E_FAIL;
        pcm_.insert(pcm_.end(), static_cast<uint8_t *>(data), static_cast<uint8_t *>(data) + size);
        return S_OK;
    }
    STDMETHODIMP BookMark(DWORD id) override
    {
        CComPtr<IAudioDestNotifySink> sink;
        {
            std::lock_guard lock(mutex_);
            calls_.push_back("BookMark");
            markPositions_.push_back(pcm_.size());
            if (holdMarks) {
                held_.push_back(id);
                return S_OK;
            }
            sink = sink_;
        }
        if (sink)
            sink->BookMark(id, FALSE);
        return S_OK;
    }

    // Reaches every held mark, as playback would.
    void ReleaseMarks()
    {
        std::vector<DWORD> held;
        CComPtr<IAudioDestNotifySink> sink;
        {
            std::lock_guard lock(mutex_);
            held.swap(held_);
            sink = sink_;
        }
        for (DWORD id : held)
            sink->BookMark(id, FALSE);
    }

    std::vector<std::string> Calls()
    {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    size_t Count(const std::string &call)
    {
        auto calls = Calls();
        return std::count(calls.begin(), calls.end(), call);
    }
    std::vector<uint8_t> Pcm()
    {
        std::lock_guard lock(mutex_);
        return pcm_;
    }
    bool HasSink()
    {
        std::lock_guard lock(mutex_);
        return sink_ != nullptr;
    }

    WAVEFORMATEX format{};
    DWORD formatSize = 0;
    IID notifyIid{};
    bool hideDest = false;

private:
    HRESULT Log(const char *call)
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        return S_OK;
    }

    ~TestAudio()
    {
        if (weakSink)
            (void)sink_.Detach();
    }

    std::atomic<ULONG> refs_{1};
    std::mutex mutex_;
    std::vector<std::string> calls_;
    std::vector<uint8_t> pcm_;
    std::vector<size_t> markPositions_;
    std::vector<DWORD> held_;
    CComPtr<IAudioDestNotifySink> sink_;
    int dataSets_ = 0;
};

struct Notice {
    enum Kind { Started, Word, Mark, Done } kind;
    QWORD time;
    DWORD value;
    std::thread::id thread;
};

class TestSink final : public ITTSBufNotifySink {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void **ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_ITTSBufNotifySink) {
            *ppv = static_cast<ITTSBufNotifySink *>(this);
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
    STDMETHODIMP TextDataDone(QWORD t, DWORD flags) override { return Add(Notice::Done, t, flags); }
    STDMETHODIMP TextDataStarted(QWORD t) override { return Add(Notice::Started, t, 0); }
    STDMETHODIMP BookMark(QWORD t, DWORD mark) override { return Add(Notice::Mark, t, mark); }
    STDMETHODIMP WordPosition(QWORD t, DWORD offset) override { return Add(Notice::Word, t, offset); }

    std::vector<Notice> notices;
    std::function<void(const Notice &)> onNotice;

    size_t DoneCount() const
    {
        return std::count_if(notices.begin(), notices.end(), [](const Notice &n) { return n.kind == Notice::Done; });
    }
    std::vector<DWORD> Values(Notice::Kind kind) const
    {
        std::vector<DWORD> v;
        for (const auto &n : notices)
            if (n.kind == kind)
                v.push_back(n.value);
        return v;
    }

private:
    HRESULT Add(Notice::Kind kind, QWORD t, DWORD value)
    {
        notices.push_back({kind, t, value, std::this_thread::get_id()});
        if (onNotice)
            onNotice(notices.back());
        return S_OK;
    }
    std::atomic<ULONG> refs_{1};
};

inline SDATA TextOf(const std::u16string &text)
{
    return SDATA{const_cast<char16_t *>(text.c_str()), static_cast<DWORD>((text.size() + 1) * sizeof(char16_t))};
}

inline double Rms(const std::vector<uint8_t> &pcm)
{
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2, ++n) {
        const auto v = static_cast<int16_t>(pcm[i] | (pcm[i + 1] << 8));
        sum += double(v) * v;
    }
    return n ? std::sqrt(sum / n) : 0;
}

// Median pitch of the voiced frames of 16-bit mono PCM, by normalised autocorrelation.
inline double MedianPitch(const std::vector<uint8_t> &pcm, unsigned rate)
{
    std::vector<double> x(pcm.size() / 2);
    for (size_t i = 0; i < x.size(); ++i)
        x[i] = static_cast<int16_t>(pcm[2 * i] | (pcm[2 * i + 1] << 8));
    const size_t frame = rate / 25, minLag = rate / 500, maxLag = rate / 50;
    std::vector<double> pitches;
    for (size_t start = 0; start + frame + maxLag < x.size(); start += frame / 2) {
        double e0 = 0;
        for (size_t i = 0; i < frame; ++i)
            e0 += x[start + i] * x[start + i];
        if (e0 / frame < 250000)
            continue;
        double best = 0;
        size_t bestLag = 0;
        for (size_t lag = minLag; lag <= maxLag; ++lag) {
            double c = 0, e1 = 0;
            for (size_t i = 0; i < frame; ++i) {
                c += x[start + i] * x[start + i + lag];
                e1 += x[start + i + lag] * x[start + i + lag];
            }
            const double r = c / std::sqrt(e0 * e1 + 1);
            if (r > best) {
                best = r;
                bestLag = lag;
            }
        }
        if (best > 0.7 && bestLag)
            pitches.push_back(double(rate) / bestLag);
    }
    if (pitches.empty())
        return 0;
    std::nth_element(pitches.begin(), pitches.begin() + pitches.size() / 2, pitches.end());
    return pitches[pitches.size() / 2];
}

} // namespace sapi4test
