// MMAudioDest: an audio destination over the shared wave output device
// (liborafon_winmm.so, loaded from beside this module on first use).
#include "ClassObjects.h"
#include "ComSupport.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/win/mmsystem.h>
#include <orafon/win/speech.h>

#include <dlfcn.h>

#include <algorithm>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orafon::sapi4 {
namespace {

struct WaveOut {
    decltype(&::waveOutOpen) open = nullptr;
    decltype(&::waveOutClose) close = nullptr;
    decltype(&::waveOutPrepareHeader) prepare = nullptr;
    decltype(&::waveOutUnprepareHeader) unprepare = nullptr;
    decltype(&::waveOutWrite) write = nullptr;
    decltype(&::waveOutPause) pause = nullptr;
    decltype(&::waveOutRestart) restart = nullptr;
    decltype(&::waveOutReset) reset = nullptr;
    decltype(&::waveOutSetVolume) setVolume = nullptr;
    decltype(&::waveOutGetVolume) getVolume = nullptr;

    // Null when the device library cannot be loaded.
    static const WaveOut *Get()
    {
        static const std::unique_ptr<WaveOut> loaded = Load();
        return loaded.get();
    }

private:
    [[nodiscard]] static std::unique_ptr<WaveOut> Load()
    {
        void *library = nullptr;
        Dl_info self{};
        if (dladdr(reinterpret_cast<void *>(&WaveOut::Get), &self) && self.dli_fname) {
            std::string path(self.dli_fname);
            path = path.substr(0, path.find_last_of('/') + 1) + "liborafon_winmm.so";
            library = dlopen(path.c_str(), RTLD_NOW);
        }
        if (!library)
            library = dlopen("liborafon_winmm.so", RTLD_NOW);
        if (!library)
            return nullptr;
        auto w = std::make_unique<WaveOut>();
        bool complete = true;
        auto bind = [&](auto &fn, const char *name) {
            fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(dlsym(library, name));
            complete = complete && fn;
        };
        bind(w->open, "waveOutOpen");
        bind(w->close, "waveOutClose");
        bind(w->prepare, "waveOutPrepareHeader");
        bind(w->unprepare, "waveOutUnprepareHeader");
        bind(w->write, "waveOutWrite");
        bind(w->pause, "waveOutPause");
        bind(w->restart, "waveOutRestart");
        bind(w->reset, "waveOutReset");
        bind(w->setVolume, "waveOutSetVolume");
        bind(w->getVolume, "waveOutGetVolume");
        return complete ? std::move(w) : nullptr; // the library stays loaded for the process
    }
};

[[nodiscard]] HRESULT FromMmResult(MMRESULT r)
{
    switch (r) {
    case MMSYSERR_NOERROR:
        return S_OK;
    case MMSYSERR_BADDEVICEID:
        return AUDERR_BADDEVICEID;
    case MMSYSERR_ALLOCATED:
        return AUDERR_WAVEDEVICEBUSY;
    case WAVERR_BADFORMAT:
        return AUDERR_WAVEFORMATNOTSUPPORTED;
    case MMSYSERR_NODRIVER:
        return AUDERR_NODRIVER;
    case MMSYSERR_NOMEM:
        return E_OUTOFMEMORY;
    default:
        return E_FAIL;
    }
}

struct Block {
    WAVEHDR header{};
    std::vector<char> data;
    // Reported when this block has played; a list, so the device's callback
    // gathers them by relinking, without allocating.
    std::list<DWORD> marks;
    bool done = false;
};

class MMAudioDest final : public orafon::ComObject<MMAudioDest, IAudio, IAudioDest, IAudioMultiMediaDevice>,
                          private ModuleObject {
public:
    // IAudio
    STDMETHODIMP Flush() override
    {
        if (!device_)
            return S_OK;
        flushing_ = true;
        waveOut_->reset(device_);
        ReportFinished();
        flushing_ = false;
        return S_OK;
    }
    STDMETHODIMP LevelGet(DWORD *level) override
    {
        if (!level)
            return E_INVALIDARG;
        if (device_ && waveOut_->getVolume(device_, &level_) != MMSYSERR_NOERROR)
            return E_FAIL;
        *level = level_;
        return S_OK;
    }
    STDMETHODIMP LevelSet(DWORD level) override
    {
        level_ = level;
        return device_ ? FromMmResult(waveOut_->setVolume(device_, level)) : S_OK;
    }
    STDMETHODIMP PassNotify(PVOID sink, IID iid) override
    {
        if (sink && iid != IID_IAudioDestNotifySink)
            return AUDERR_INVALIDNOTIFYSINK;
        std::lock_guard lock(mutex_);
        sink_ = static_cast<IAudioDestNotifySink *>(sink);
        return S_OK;
    }
    STDMETHODIMP PosnGet(PQWORD position) override
    {
        if (!position)
            return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *position = played_;
        return S_OK;
    }
    STDMETHODIMP Claim() override;
    STDMETHODIMP UnClaim() override;
    STDMETHODIMP Start() override
    {
        if (!device_)
            return AUDERR_NOTCLAIMED;
        // The sink hears of the start before any block can finish playing.
        auto sink = Sink();
        if (sink)
            sink->AudioStart();
        if (HRESULT hr = FromMmResult(waveOut_->restart(device_)); FAILED(hr)) {
            if (sink)
                sink->AudioStop(IANSRSN_INACTIVE);
            return hr;
        }
        return S_OK;
    }
    STDMETHODIMP Stop() override
    {
        if (!device_)
            return AUDERR_NOTCLAIMED;
        waveOut_->pause(device_);
        if (auto sink = Sink())
            sink->AudioStop(IANSRSN_NODATA);
        return S_OK;
    }
    STDMETHODIMP TotalGet(PQWORD total) override
    {
        if (!total)
            return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        *total = written_;
        return S_OK;
    }
    STDMETHODIMP ToFileTime(PQWORD, FILETIME *) override { return E_NOTIMPL; }
    // Any PCM format will do: the destination proposes none.
    STDMETHODIMP WaveFormatGet(PSDATA) override { return AUDERR_NEEDWAVEFORMAT; }
    STDMETHODIMP WaveFormatSet(SDATA format) override
    {
        if (!format.pData || format.dwSize < 16)
            return E_INVALIDARG;
        if (device_)
            return AUDERR_ALREADYCLAIMED;
        WAVEFORMATEX f{};
        std::memcpy(&f, format.pData, std::min<size_t>(format.dwSize, sizeof(f)));
        f.cbSize = 0;
        if (f.wFormatTag != WAVE_FORMAT_PCM || f.nChannels == 0 || f.nSamplesPerSec == 0 ||
            (f.wBitsPerSample != 8 && f.wBitsPerSample != 16) || f.nBlockAlign != f.nChannels * f.wBitsPerSample / 8)
            return AUDERR_WAVEFORMATNOTSUPPORTED;
        format_ = f;
        hasFormat_ = true;
        return S_OK;
    }

    // IAudioDest
    STDMETHODIMP FreeSpace(DWORD *bytes, BOOL *eof) override
    {
        if (!bytes)
            return E_INVALIDARG;
        std::lock_guard lock(mutex_);
        const uint64_t capacity = Capacity();
        *bytes = static_cast<DWORD>(queued_ >= capacity ? 0 : capacity - queued_);
        if (eof)
            *eof = FALSE;
        return S_OK;
    }
    STDMETHODIMP DataSet(PVOID data, DWORD size) override;
    STDMETHODIMP BookMark(DWORD id) override
    {
        return orafon::CatchAtEdge([&]() -> HRESULT {
            {
                std::lock_guard lock(mutex_);
                auto pending = std::find_if(blocks_.rbegin(), blocks_.rend(), [](const auto &b) { return !b->done; });
                if (device_ && pending != blocks_.rend()) {
                    blocks_.back()->marks.push_back(id);
                    return S_OK;
                }
            }
            // Nothing is waiting to be heard: the mark is reached now.
            if (auto sink = Sink())
                sink->BookMark(id, FALSE);
            return S_OK;
        });
    }

    // IAudioMultiMediaDevice
    STDMETHODIMP CustomMessage(UINT, SDATA) override { return E_NOTIMPL; }
    STDMETHODIMP DeviceNumGet(DWORD *device) override
    {
        if (!device)
            return E_INVALIDARG;
        *device = deviceId_;
        return S_OK;
    }
    STDMETHODIMP DeviceNumSet(DWORD device) override
    {
        if (device_)
            return AUDERR_ALREADYCLAIMED;
        deviceId_ = device;
        return S_OK;
    }

    ~MMAudioDest() override
    {
        if (device_)
            UnClaim();
    }

private:
    [[nodiscard]] CComPtr<IAudioDestNotifySink> Sink()
    {
        std::lock_guard lock(mutex_);
        return sink_;
    }

    // Half a second of audio ahead of playback.
    uint64_t Capacity() const { return std::max<uint64_t>(format_.nAvgBytesPerSec / 2, 4096); }

    static void CALLBACK OnDevice(HWAVEOUT, UINT message, DWORD_PTR instance, DWORD_PTR param1, DWORD_PTR)
    {
        if (message == WOM_DONE)
            static_cast<void>(orafon::CatchAtEdge([&] {
                reinterpret_cast<MMAudioDest *>(instance)->BlockPlayed(reinterpret_cast<WAVEHDR *>(param1));
            })); // nothing in it allocates; nothing thrown may reach the device's thread
    }

    void BlockPlayed(WAVEHDR *header)
    {
        {
            std::lock_guard lock(mutex_);
            for (auto &block : blocks_) {
                if (&block->header == header && !block->done) {
                    block->done = true;
                    queued_ -= block->data.size();
                    played_ += block->data.size();
                }
            }
        }
        ReportFinished();
    }

    // Reports the marks of every block that has played (or was flushed).
    void ReportFinished()
    {
        std::list<DWORD> marks;
        DWORD space = 0;
        CComPtr<IAudioDestNotifySink> sink;
        {
            std::lock_guard lock(mutex_);
            for (auto &block : blocks_) {
                if (!block->done)
                    break;
                marks.splice(marks.end(), block->marks);
            }
            const uint64_t capacity = Capacity();
            space = static_cast<DWORD>(queued_ >= capacity ? 0 : capacity - queued_);
            sink = sink_;
        }
        if (!sink)
            return;
        for (DWORD mark : marks)
            sink->BookMark(mark, flushing_ ? TRUE : FALSE);
        sink->FreeSpace(space, FALSE);
    }

    // Gives back the headers of blocks that have played.
    void Reap()
    {
        std::list<std::unique_ptr<Block>> finished; // relinked: reaping cannot fail, also when unclaiming
        {
            std::lock_guard lock(mutex_);
            while (!blocks_.empty() && blocks_.front()->done && blocks_.front()->marks.empty())
                finished.splice(finished.end(), blocks_, blocks_.begin());
        }
        for (auto &block : finished)
            waveOut_->unprepare(device_, &block->header, sizeof(WAVEHDR));
    }

    std::mutex mutex_;
    CComPtr<IAudioDestNotifySink> sink_;
    const WaveOut *waveOut_ = nullptr;
    HWAVEOUT device_ = nullptr;
    DWORD deviceId_ = WAVE_MAPPER;
    WAVEFORMATEX format_{};
    bool hasFormat_ = false;
    DWORD level_ = 0xFFFFFFFF;
    std::list<std::unique_ptr<Block>> blocks_;
    uint64_t queued_ = 0;
    uint64_t written_ = 0;
    uint64_t played_ = 0;
    std::atomic<bool> flushing_{false};
};

STDMETHODIMP MMAudioDest::Claim()
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (device_)
            return AUDERR_ALREADYCLAIMED;
        if (!hasFormat_)
            return AUDERR_NEEDWAVEFORMAT;
        waveOut_ = WaveOut::Get();
        if (!waveOut_)
            return AUDERR_NODRIVER;
        HWAVEOUT device = nullptr;
        const MMRESULT r = waveOut_->open(&device, deviceId_, &format_, reinterpret_cast<DWORD_PTR>(&OnDevice),
                                          reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
        if (r != MMSYSERR_NOERROR)
            return FromMmResult(r);
        // Nothing is heard before Start.
        waveOut_->pause(device);
        if (level_ != 0xFFFFFFFF)
            waveOut_->setVolume(device, level_);
        device_ = device;
        return S_OK;
    });
}

STDMETHODIMP MMAudioDest::UnClaim()
{
    if (!device_)
        return AUDERR_NOTCLAIMED;
    Flush();
    Reap();
    std::list<std::unique_ptr<Block>> left;
    {
        std::lock_guard lock(mutex_);
        left.swap(blocks_);
        queued_ = 0;
    }
    for (auto &block : left)
        waveOut_->unprepare(device_, &block->header, sizeof(WAVEHDR));
    waveOut_->close(device_);
    device_ = nullptr;
    return S_OK;
}

STDMETHODIMP MMAudioDest::DataSet(PVOID data, DWORD size)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!device_)
            return AUDERR_NOTCLAIMED;
        if (!data && size)
            return E_INVALIDARG;
        if (size == 0)
            return S_OK;
        Reap();
        auto block = std::make_unique<Block>();
        block->data.assign(static_cast<char *>(data), static_cast<char *>(data) + size);
        block->header.lpData = block->data.data();
        block->header.dwBufferLength = size;
        if (HRESULT hr = FromMmResult(waveOut_->prepare(device_, &block->header, sizeof(WAVEHDR))); FAILED(hr))
            return hr;
        WAVEHDR *header = &block->header;
        {
            std::lock_guard lock(mutex_);
            blocks_.push_back(std::move(block));
            queued_ += size;
            written_ += size;
        }
        if (HRESULT hr = FromMmResult(waveOut_->write(device_, header, sizeof(WAVEHDR))); FAILED(hr)) {
            std::lock_guard lock(mutex_);
            auto it = std::find_if(blocks_.begin(), blocks_.end(), [&](const auto &b) { return &b->header == header; });
            if (it != blocks_.end()) {
                waveOut_->unprepare(device_, header, sizeof(WAVEHDR));
                queued_ -= size;
                written_ -= size;
                blocks_.erase(it);
            }
            return hr;
        }
        return S_OK;
    });
}

} // namespace

[[nodiscard]] HRESULT CreateMMAudioDest(REFIID riid, void **ppv)
{
    return MMAudioDest::CreateInterface(riid, ppv);
}

} // namespace orafon::sapi4
