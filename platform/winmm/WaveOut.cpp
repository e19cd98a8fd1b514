// waveOut* over the backends: one device object and one device thread per
// open handle. The thread feeds the backend in short chunks so that pause,
// restart and reset act within a chunk, and it delivers WOM_DONE callbacks.
#include "AudioBackend.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/win/mmsystem.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace orafon::winmm {

namespace {

// A client may poll a header's WHDR_DONE from its own thread and free the
// buffer as soon as it sees it: the flag is published with release order,
// after the device's last use of the header, and read with acquire order.
void PublishDone(WAVEHDR *h)
{
    __atomic_store_n(&h->dwFlags, (__atomic_load_n(&h->dwFlags, __ATOMIC_RELAXED) & ~WHDR_INQUEUE) | WHDR_DONE,
                     __ATOMIC_RELEASE);
}

DWORD HeaderFlags(const WAVEHDR *h)
{
    return __atomic_load_n(&h->dwFlags, __ATOMIC_ACQUIRE);
}

constexpr unsigned kChunkMs = 10;

class WaveDevice {
public:
    WaveDevice(const PcmFormat &format, std::unique_ptr<AudioBackend> backend, LPWAVECALLBACK callback,
               DWORD_PTR instance)
        : format_(format), backend_(std::move(backend)), callback_(callback), instance_(instance)
    {
        chunkBytes_ = std::max(format_.BlockAlign(), format_.BytesPerSecond() * kChunkMs / 1000 / format_.BlockAlign() *
                                                         format_.BlockAlign());
        // Room for a scaled chunk is made here, so the device's thread never
        // allocates: it has no caller to tell about a failure.
        scratch_.reserve(chunkBytes_);
    }

    void Start(HWAVEOUT handle)
    {
        handle_ = handle;
        // Nothing thrown leaves the thread (it allocates nothing: see Scaled
        // and Complete).
        thread_ = std::thread([this] { static_cast<void>(orafon::CatchAtEdge([this] { Run(); })); });
    }

    [[nodiscard]] MMRESULT Write(WAVEHDR *h)
    {
        std::lock_guard lock(mutex_);
        if (closing_)
            return MMSYSERR_INVALHANDLE;
        queue_.push_back(h); // first, so a buffer that cannot be queued is left as it was
        h->dwFlags = (h->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
        wake_.notify_all();
        return MMSYSERR_NOERROR;
    }

    void SetPaused(bool paused)
    {
        std::lock_guard lock(mutex_);
        paused_ = paused;
        wake_.notify_all();
    }

    // Returns once every queued buffer is marked done and its callback has run.
    void Reset()
    {
        std::unique_lock lock(mutex_);
        if (std::this_thread::get_id() == thread_.get_id()) {
            ResetLocked(lock);
            return;
        }
        const uint64_t ticket = ++resetRequested_;
        wake_.notify_all();
        done_.wait(lock, [&] { return resetCompleted_ >= ticket; });
    }

    // Stops the thread; false while buffers are still queued.
    [[nodiscard]] bool Close()
    {
        {
            std::lock_guard lock(mutex_);
            if (!queue_.empty())
                return false;
            closing_ = true;
            wake_.notify_all();
        }
        if (thread_.joinable() && std::this_thread::get_id() != thread_.get_id())
            thread_.join();
        else if (thread_.joinable())
            thread_.detach();
        return true;
    }

    uint64_t PlayedBytes()
    {
        std::lock_guard lock(mutex_);
        return written_ > pending_ ? written_ - pending_ : 0;
    }

    void SetVolume(DWORD volume) { volume_.store(volume); }
    DWORD Volume() const { return volume_.load(); }
    const PcmFormat &Format() const { return format_; }

    void Notify(UINT msg, DWORD_PTR param)
    {
        if (callback_)
            callback_(handle_, msg, instance_, param, 0);
    }

private:
    void Run()
    {
        std::unique_lock lock(mutex_);
        bool backendPaused = false;
        while (true) {
            auto work = [&] {
                return closing_ || resetRequested_ > resetCompleted_ || paused_ != backendPaused ||
                       (!paused_ && !queue_.empty());
            };
            if (RunningDry()) {
                // Once nothing more comes, the output still holds the tail of
                // what was written, and the position would stop short of the
                // end: play the tail out. A short grace first, so that a
                // buffer arriving just behind the last one is not held up.
                if (!wake_.wait_for(lock, std::chrono::milliseconds(kChunkMs), work)) {
                    DrainBackend(lock);
                    continue;
                }
            } else {
                wake_.wait(lock, work);
            }
            if (resetRequested_ > resetCompleted_) {
                ResetLocked(lock);
                resetCompleted_ = resetRequested_;
                done_.notify_all();
                continue;
            }
            if (paused_ != backendPaused) {
                backendPaused = paused_;
                if (backendPaused)
                    backend_->Pause();
                else
                    backend_->Resume();
                continue;
            }
            if (closing_)
                break;
            PlayChunk(lock);
        }
        lock.unlock();
        backend_->Drain();
    }

    // Nothing queued, not paused, and audio not yet heard.
    bool RunningDry() const { return !paused_ && queue_.empty() && pending_ > 0; }

    void DrainBackend(std::unique_lock<std::mutex> &lock)
    {
        lock.unlock();
        backend_->Drain();
        lock.lock();
        // Drained means heard, even by an output that failed on the way:
        // nothing may wait forever on the position.
        pending_ = 0;
    }

    void PlayChunk(std::unique_lock<std::mutex> &lock)
    {
        WAVEHDR *h = queue_.front();
        const size_t size = std::min<size_t>(chunkBytes_, h->dwBufferLength - offset_);
        const uint8_t *data = reinterpret_cast<const uint8_t *>(h->lpData) + offset_;
        lock.unlock();
        const bool ok = size == 0 || backend_->Write(Scaled(data, size), size);
        const uint64_t pending = backend_->PendingBytes();
        lock.lock();
        // A reset that arrived meanwhile owns the queue now.
        if (resetRequested_ > resetCompleted_)
            return;
        (void)ok; // a failing output still completes the buffer: nothing may wait forever on it
        offset_ += size;
        written_ += size;
        pending_ = pending;
        if (offset_ >= h->dwBufferLength)
            Complete(lock, 1);
    }

    // Applies waveOutSetVolume to a copy of the chunk when it is not full scale.
    const uint8_t *Scaled(const uint8_t *data, size_t size)
    {
        const DWORD volume = volume_.load();
        if (volume == 0xFFFFFFFFu)
            return data;
        scratch_.assign(data, data + size);
        const unsigned gains[2] = {volume & 0xFFFF, volume >> 16};
        if (format_.bits == 16) {
            for (size_t i = 0; i + 1 < size; i += 2) {
                const unsigned channel = format_.channels == 2 ? (i / 2) % 2 : 0;
                const int16_t s = static_cast<int16_t>(scratch_[i] | (scratch_[i + 1] << 8));
                const int16_t v = static_cast<int16_t>(s * static_cast<int>(gains[channel]) / 0xFFFF);
                scratch_[i] = static_cast<uint8_t>(v & 0xFF);
                scratch_[i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
            }
        } else {
            for (size_t i = 0; i < size; ++i) {
                const unsigned channel = format_.channels == 2 ? i % 2 : 0;
                const int s = static_cast<int>(scratch_[i]) - 128;
                scratch_[i] = static_cast<uint8_t>(128 + s * static_cast<int>(gains[channel]) / 0xFFFF);
            }
        }
        return scratch_.data();
    }

    void ResetLocked(std::unique_lock<std::mutex> &lock)
    {
        lock.unlock();
        backend_->Flush();
        lock.lock();
        written_ = pending_ = 0;
        Complete(lock, queue_.size());
    }

    // Marks the first count buffers done and reports them, outside the lock.
    // They are moved out of the queue by relinking, which cannot fail.
    void Complete(std::unique_lock<std::mutex> &lock, size_t count)
    {
        std::list<WAVEHDR *> finished;
        finished.splice(finished.begin(), queue_, queue_.begin(),
                        std::next(queue_.begin(), static_cast<std::ptrdiff_t>(count)));
        offset_ = 0;
        for (WAVEHDR *h : finished)
            PublishDone(h);
        lock.unlock();
        for (WAVEHDR *h : finished)
            Notify(WOM_DONE, reinterpret_cast<DWORD_PTR>(h));
        lock.lock();
    }

    PcmFormat format_;
    std::unique_ptr<AudioBackend> backend_;
    LPWAVECALLBACK callback_;
    DWORD_PTR instance_;
    HWAVEOUT handle_ = nullptr;
    size_t chunkBytes_ = 0;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::list<WAVEHDR *> queue_;
    size_t offset_ = 0;
    bool paused_ = false;
    bool closing_ = false;
    uint64_t resetRequested_ = 0;
    uint64_t resetCompleted_ = 0;
    uint64_t written_ = 0;
    uint64_t pending_ = 0;
    std::atomic<DWORD> volume_{0xFFFFFFFFu};
    std::vector<uint8_t> scratch_;
    std::thread thread_;
};

// Live handles; a handle is the device's address, looked up before every use
// so that a stale or foreign handle gives MMSYSERR_INVALHANDLE, not a crash.
class DeviceTable {
public:
    HWAVEOUT Add(std::shared_ptr<WaveDevice> device)
    {
        std::lock_guard lock(mutex_);
        HWAVEOUT h = reinterpret_cast<HWAVEOUT>(device.get());
        devices_[h] = std::move(device);
        return h;
    }
    std::shared_ptr<WaveDevice> Find(HWAVEOUT h)
    {
        std::lock_guard lock(mutex_);
        auto it = devices_.find(h);
        return it == devices_.end() ? nullptr : it->second;
    }
    void Remove(HWAVEOUT h)
    {
        std::lock_guard lock(mutex_);
        devices_.erase(h);
    }

private:
    std::mutex mutex_;
    std::map<HWAVEOUT, std::shared_ptr<WaveDevice>> devices_;
};

DeviceTable &Devices()
{
    static DeviceTable *table = new DeviceTable; // outlives every static destructor
    return *table;
}

// Opens the device for the format. The device's thread starts once its
// handle is in the table, and a thread that cannot start takes it out again.
MMRESULT OpenDevice(LPHWAVEOUT phwo, const WAVEFORMATEX &wfx, LPWAVECALLBACK callback, DWORD_PTR instance)
{
    const PcmFormat format{wfx.nSamplesPerSec, wfx.nChannels, wfx.wBitsPerSample};
    auto backend = OpenDefaultBackend(format);
    if (!backend)
        return MMSYSERR_ALLOCATED;
    auto device = std::make_shared<WaveDevice>(format, std::move(backend), callback, instance);
    HWAVEOUT h = Devices().Add(device);
    try {
        device->Start(h);
    } catch (...) {
        Devices().Remove(h);
        throw;
    }
    *phwo = h;
    device->Notify(WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

// A buffer queued for playing.
[[nodiscard]] MMRESULT Write(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    auto device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!pwh || cbwh < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    if (!(pwh->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (HeaderFlags(pwh) & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    // A partial frame at the end can never be played; drop it.
    pwh->dwBufferLength -= pwh->dwBufferLength % device->Format().BlockAlign();
    return device->Write(pwh);
}

[[nodiscard]] bool SupportedFormat(LPCWAVEFORMATEX f)
{
    return f && f->wFormatTag == WAVE_FORMAT_PCM && (f->nChannels == 1 || f->nChannels == 2) &&
           (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) && f->nSamplesPerSec >= 1000 &&
           f->nSamplesPerSec <= 192000 && f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8;
}

} // namespace

} // namespace orafon::winmm

using orafon::winmm::Devices;
using orafon::winmm::HeaderFlags;

STDAPI_(UINT) waveOutGetNumDevs(void)
{
    // A device that cannot even be named for want of memory is none.
    return orafon::CatchAtEdgeOr<UINT>(0, 0, [] { return orafon::winmm::DefaultOutputName().empty() ? 0u : 1u; });
}

namespace {

// Fills the capabilities common to both character sets; false when there is
// no device to describe.
template <typename Caps> [[nodiscard]] MMRESULT FillCaps(UINT_PTR id, Caps *caps, UINT size, std::string &name)
{
    if (id != 0 && id != WAVE_MAPPER && id != static_cast<UINT_PTR>(-1))
        return MMSYSERR_BADDEVICEID;
    if (!caps || size < sizeof(Caps))
        return MMSYSERR_INVALPARAM;
    name = orafon::winmm::DefaultOutputName();
    if (name.empty())
        return MMSYSERR_NODRIVER;
    *caps = Caps{};
    caps->vDriverVersion = 0x0100;
    // Every 8- and 16-bit, mono and stereo format at 11, 22 and 44 kHz, and more.
    caps->dwFormats = (WAVE_FORMAT_4S16 << 1) - WAVE_FORMAT_1M08;
    caps->wChannels = 2;
    caps->dwSupport = WAVECAPS_VOLUME | WAVECAPS_LRVOLUME | WAVECAPS_SAMPLEACCURATE;
    return MMSYSERR_NOERROR;
}

} // namespace

STDAPI_(MMRESULT) waveOutGetDevCapsA(UINT_PTR uDeviceID, LPWAVEOUTCAPSA pwoc, UINT cbwoc)
{
    return orafon::CatchAtEdgeOr<MMRESULT>(MMSYSERR_NOMEM, MMSYSERR_ERROR, [&]() -> MMRESULT {
        std::string name;
        const MMRESULT r = FillCaps(uDeviceID, pwoc, cbwoc, name);
        if (r == MMSYSERR_NOERROR)
            for (size_t i = 0; i < name.size() && i + 1 < MAXPNAMELEN; ++i)
                pwoc->szPname[i] = name[i];
        return r;
    });
}

STDAPI_(MMRESULT) waveOutGetDevCapsW(UINT_PTR uDeviceID, LPWAVEOUTCAPSW pwoc, UINT cbwoc)
{
    return orafon::CatchAtEdgeOr<MMRESULT>(MMSYSERR_NOMEM, MMSYSERR_ERROR, [&]() -> MMRESULT {
        std::string name;
        const MMRESULT r = FillCaps(uDeviceID, pwoc, cbwoc, name);
        if (r == MMSYSERR_NOERROR)
            for (size_t i = 0; i < name.size() && i + 1 < MAXPNAMELEN; ++i)
                pwoc->szPname[i] = static_cast<WCHAR>(name[i]); // the names are ASCII
        return r;
    });
}

STDAPI_(MMRESULT)
waveOutOpen(LPHWAVEOUT phwo, UINT uDeviceID, LPCWAVEFORMATEX pwfx, DWORD_PTR dwCallback, DWORD_PTR dwInstance,
            DWORD fdwOpen)
{
    if (uDeviceID != 0 && uDeviceID != WAVE_MAPPER)
        return MMSYSERR_BADDEVICEID;
    if (!pwfx)
        return MMSYSERR_INVALPARAM;
    if (!orafon::winmm::SupportedFormat(pwfx))
        return WAVERR_BADFORMAT;
    if (fdwOpen & WAVE_FORMAT_QUERY)
        return MMSYSERR_NOERROR;
    const DWORD callbackType = fdwOpen & 0x00070000;
    if (callbackType != CALLBACK_NULL && callbackType != CALLBACK_FUNCTION)
        return MMSYSERR_INVALFLAG;
    if (!phwo)
        return MMSYSERR_INVALPARAM;
    *phwo = nullptr;
    auto callback = callbackType == CALLBACK_FUNCTION ? reinterpret_cast<LPWAVECALLBACK>(dwCallback) : nullptr;
    return orafon::CatchAtEdgeOr<MMRESULT>(
        MMSYSERR_NOMEM, MMSYSERR_ERROR, [&] { return orafon::winmm::OpenDevice(phwo, *pwfx, callback, dwInstance); });
}

STDAPI_(MMRESULT) waveOutClose(HWAVEOUT hwo)
{
    auto device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!device->Close())
        return WAVERR_STILLPLAYING;
    Devices().Remove(hwo);
    device->Notify(WOM_CLOSE, 0);
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    if (!Devices().Find(hwo))
        return MMSYSERR_INVALHANDLE;
    if (!pwh || cbwh < sizeof(WAVEHDR) || (!pwh->lpData && pwh->dwBufferLength))
        return MMSYSERR_INVALPARAM;
    pwh->dwFlags = (pwh->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    if (!Devices().Find(hwo))
        return MMSYSERR_INVALHANDLE;
    if (!pwh || cbwh < sizeof(WAVEHDR))
        return MMSYSERR_INVALPARAM;
    if (HeaderFlags(pwh) & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    pwh->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) waveOutWrite(HWAVEOUT hwo, LPWAVEHDR pwh, UINT cbwh)
{
    return orafon::CatchAtEdgeOr<MMRESULT>(MMSYSERR_NOMEM, MMSYSERR_ERROR,
                                           [&] { return orafon::winmm::Write(hwo, pwh, cbwh); });
}

STDAPI_(MMRESULT) waveOutPause(HWAVEOUT hwo)
{
    auto device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->SetPaused(true);
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) waveOutRestart(HWAVEOUT hwo)
{
    auto device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->SetPaused(false);
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) waveOutReset(HWAVEOUT hwo)
{
    auto device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->Reset();
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) waveOutGetPosition(HWAVEOUT hwo, LPMMTIME pmmt, UINT cbmmt)
{
    auto device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!pmmt || cbmmt < sizeof(MMTIME))
        return MMSYSERR_INVALPARAM;
    const uint64_t bytes = device->PlayedBytes();
    const auto &f = device->Format();
    switch (pmmt->wType) {
    case TIME_MS:
        pmmt->u.ms = static_cast<DWORD>(bytes * 1000 / f.BytesPerSecond());
        break;
    case TIME_SAMPLES:
        pmmt->u.sample = static_cast<DWORD>(bytes / f.BlockAlign());
        break;
    default:
        // Unsupported units fall back to bytes, as the platform does.
        pmmt->wType = TIME_BYTES;
        pmmt->u.cb = static_cast<DWORD>(bytes);
        break;
    }
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) waveOutSetVolume(HWAVEOUT hwo, DWORD dwVolume)
{
    auto device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    device->SetVolume(dwVolume);
    return MMSYSERR_NOERROR;
}

STDAPI_(MMRESULT) waveOutGetVolume(HWAVEOUT hwo, LPDWORD pdwVolume)
{
    auto device = Devices().Find(hwo);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    if (!pdwVolume)
        return MMSYSERR_INVALPARAM;
    *pdwVolume = device->Volume();
    return MMSYSERR_NOERROR;
}
