#include "Voice.h"

#include "DeviceOutput.h"
#include "Engine.h"
#include "EventQueue.h"
#include "PcmConverter.h"
#include "Tokens.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/Holders.h>
#include <orafon/win/objbase.h>
#include <orafon/win/winbase.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace orafon::sapi5 {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(5);

struct Request {
    ULONG number = 0;
    std::shared_ptr<TtsEngine> engine;
    std::shared_ptr<SynthesisJob> job;
    CComPtr<ISpStreamFormat> stream; // null: the audio device
    WAVEFORMATEX outputFormat{};
    std::atomic<bool> cancelled{false};
    bool finished = false;
    // Its audio has all been heard (or dropped); guarded by the voice's mutex.
    bool played = false;
    HRESULT result = S_OK;
};

// An event waiting for its audio to be heard.
struct PendingEvent {
    uint64_t offset;
    SPEVENT event;
    std::u16string bookmark;
};

} // namespace

class VoiceCore : public std::enable_shared_from_this<VoiceCore> {
public:
    ~VoiceCore() { Stop(); }

    EventQueue events;

    // ---- settings -------------------------------------------------------------------

    [[nodiscard]] HRESULT SetVoice(ISpObjectToken *token)
    {
        CComPtr<ISpObjectToken> chosen(token);
        HRESULT hr = S_OK;
        if (!chosen)
            hr = DefaultVoiceToken(chosen);
        std::shared_ptr<TtsEngine> engine;
        if (SUCCEEDED(hr))
            hr = CreateEngineForToken(chosen, engine);
        if (FAILED(hr))
            return hr;
        std::lock_guard lock(mutex_);
        token_ = chosen;
        engine_ = std::move(engine);
        return S_OK;
    }

    [[nodiscard]] HRESULT GetVoice(CComPtr<ISpObjectToken> &token)
    {
        HRESULT hr = EnsureVoice();
        std::lock_guard lock(mutex_);
        token = token_;
        return hr;
    }

    [[nodiscard]] HRESULT SetOutput(IUnknown *output)
    {
        CComPtr<ISpStreamFormat> stream;
        WAVEFORMATEX format{};
        if (output) {
            CComPtr<IUnknown> unk(output);
            CComPtr<ISpObjectToken> token;
            if (SUCCEEDED(unk.QueryInterface(&token))) {
                output = nullptr; // an audio output token: the default device is the only one
            } else {
                if (FAILED(unk.QueryInterface(&stream)))
                    return E_INVALIDARG;
                HRESULT hr = ReadStreamFormat(stream, format);
                if (FAILED(hr))
                    return hr;
            }
        }
        std::lock_guard lock(mutex_);
        stream_ = output ? stream : nullptr;
        streamFormat_ = format;
        return S_OK;
    }

    [[nodiscard]] HRESULT OutputFormat(WAVEFORMATEX &format, CComPtr<ISpStreamFormat> &stream)
    {
        HRESULT hr = EnsureVoice();
        if (FAILED(hr))
            return hr;
        std::lock_guard lock(mutex_);
        stream = stream_;
        format = stream_ ? streamFormat_ : engine_->Format();
        return S_OK;
    }

    void SetRate(LONG rate) { rate_ = std::clamp<LONG>(rate, -10, 10); }
    LONG Rate() const { return rate_; }
    void SetVolume(USHORT volume) { volume_ = volume; }
    USHORT Volume() const { return volume_; }

    // ---- speaking ---------------------------------------------------------------------

    [[nodiscard]] HRESULT Speak(LPCWSTR text, DWORD flags, ULONG *streamNumber)
    {
        if ((flags & SPF_UNUSED_FLAGS) || ((flags & SPF_IS_XML) && (flags & SPF_IS_NOT_XML)))
            return E_INVALIDARG;
        if (flags & SPF_IS_FILENAME)
            return E_NOTIMPL;
        if (!text && !(flags & SPF_PURGEBEFORESPEAK))
            return E_INVALIDARG;
        if (flags & SPF_PURGEBEFORESPEAK)
            Purge();
        const std::u16string copy = text ? std::u16string(text) : std::u16string();
        // A purge with no text queues nothing; an empty text on its own is
        // a stream like any other, with its start and end, so a caller that
        // waits for the end of what it asked for is not left waiting.
        if (copy.empty() && (flags & SPF_PURGEBEFORESPEAK)) {
            if (streamNumber) {
                std::lock_guard lock(mutex_);
                *streamNumber = lastQueued_;
            }
            return S_OK;
        }
        HRESULT hr = EnsureVoice();
        if (FAILED(hr))
            return hr;
        auto request = std::make_shared<Request>();
        {
            std::lock_guard lock(mutex_);
            request->engine = engine_;
            request->stream = stream_;
            request->outputFormat = stream_ ? streamFormat_ : engine_->Format();
        }
        hr = request->engine->Accept(copy, flags);
        if (FAILED(hr))
            return hr;
        auto job = std::make_shared<SynthesisJob>();
        const bool xml =
            (flags & SPF_IS_XML) || (!(flags & SPF_IS_NOT_XML) && LooksLikeMarkup(copy.data(), copy.size()));
        hr = ParseSpeech(copy.data(), copy.size(), xml, job->items);
        if (FAILED(hr))
            return hr;
        job->text = copy;
        job->flags = flags;
        job->rate = [weak = weak_from_this()] {
            auto self = weak.lock();
            return self ? self->Rate() : 0;
        };
        job->pipe =
            std::make_shared<SpeechPipe>(std::max<size_t>(request->engine->Format().nAvgBytesPerSec, 1000) * 300);
        request->job = job;
        {
            std::lock_guard lock(mutex_);
            request->number = ++lastQueued_;
            queue_.push_back(request);
            StartThread();
            work_.notify_all();
        }
        if (streamNumber)
            *streamNumber = request->number;
        if (flags & SPF_ASYNC)
            return S_OK;
        std::unique_lock lock(mutex_);
        done_.wait(lock, [&] { return request->finished; });
        return request->result;
    }

    // Drops everything queued and stops what is being spoken at once. A
    // dropped request still reports its start and end, in its turn: a caller
    // that waits for the end of what it asked for must get it, however early
    // the purge came.
    void Purge()
    {
        std::lock_guard lock(mutex_);
        for (auto &r : queue_)
            r->cancelled = true;
        if (stopping_) {
            // No turn comes any more: release whoever waits on them.
            for (auto &r : queue_)
                r->finished = true;
            queue_.clear();
        }
        if (current_) {
            current_->cancelled = true;
            current_->job->pipe->Cancel();
            // A request whose audio is over has nothing left to cut; resetting
            // the device under the worker as it closes it left the next
            // request waiting for ever for its audio to be heard.
            if (!current_->played)
                device_.Interrupt();
        }
        done_.notify_all();
        work_.notify_all();
    }

    void SetPaused(bool paused)
    {
        std::lock_guard lock(mutex_);
        if (paused_ == paused)
            return;
        paused_ = paused;
        device_.SetPaused(paused);
        work_.notify_all();
    }

    // True when everything queued has been spoken before the time ran out.
    [[nodiscard]] bool WaitUntilDone(ULONG ms)
    {
        std::unique_lock lock(mutex_);
        auto idle = [&] { return queue_.empty() && !current_; };
        if (ms == INFINITE) {
            done_.wait(lock, idle);
            return true;
        }
        return done_.wait_for(lock, std::chrono::milliseconds(ms), idle);
    }

    void Status(SPVOICESTATUS &s)
    {
        std::lock_guard lock(mutex_);
        std::memset(&s, 0, sizeof s);
        s.ulCurrentStream = current_ ? current_->number : 0;
        s.ulLastStreamQueued = lastQueued_;
        s.hrLastResult = lastResult_;
        s.dwRunningState = (queue_.empty() && !current_) ? SPRS_DONE : (current_ ? SPRS_IS_SPEAKING : 0);
        s.ulInputWordPos = wordPos_;
        s.ulInputWordLen = wordLen_;
        s.ulInputSentPos = sentPos_;
        s.ulInputSentLen = sentLen_;
        s.lBookmarkId = bookmarkId_;
    }

    std::u16string LastBookmark()
    {
        std::lock_guard lock(mutex_);
        return lastBookmark_;
    }

    void Stop()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        Purge();
        if (thread_.joinable()) {
            if (std::this_thread::get_id() == thread_.get_id())
                thread_.detach();
            else
                thread_.join();
        }
    }

private:
    [[nodiscard]] static HRESULT ReadStreamFormat(ISpStreamFormat *stream, WAVEFORMATEX &format)
    {
        GUID id{};
        orafon::CComHeapPtr<WAVEFORMATEX> wfx;
        HRESULT hr = stream->GetFormat(&id, wfx.Out());
        if (FAILED(hr))
            return hr;
        if (IsEqualGUID(id, SPDFID_WaveFormatEx) && wfx && PcmConverter::Supported(*wfx))
            std::memcpy(&format, wfx.Get(), sizeof format);
        else
            hr = SPERR_UNSUPPORTED_FORMAT;
        format.cbSize = 0;
        return hr;
    }

    [[nodiscard]] HRESULT EnsureVoice()
    {
        {
            std::lock_guard lock(mutex_);
            if (engine_)
                return S_OK;
        }
        return SetVoice(nullptr);
    }

    void StartThread()
    {
        if (!thread_.joinable())
            thread_ = std::thread([self = shared_from_this()] { self->Run(); });
    }

    void Run()
    {
        std::unique_lock lock(mutex_);
        while (true) {
            work_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                break;
            current_ = queue_.front();
            queue_.pop_front();
            auto request = current_;
            lock.unlock();
            // The voice's thread is an edge: a request that runs out of
            // memory ends with that as its result.
            const HRESULT hr = orafon::CatchAtEdge([&] {
                if (request->cancelled)
                    ReportDropped(*request);
                else
                    Process(*request);
            });
            if (FAILED(hr))
                request->result = hr;
            lock.lock();
            request->finished = true;
            lastResult_ = request->result;
            current_.reset();
            if (queue_.empty())
                device_.Close();
            done_.notify_all();
        }
        device_.Close();
    }

    void AddEvent(const Request &r, WORD id, uint64_t offset, WPARAM w = 0, LPARAM l = 0,
                  const std::u16string &bookmark = {})
    {
        SPEVENT e{};
        e.eEventId = id;
        e.elParamType = SPET_LPARAM_IS_UNDEFINED;
        e.ulStreamNum = r.number;
        e.ullAudioStreamOffset = offset;
        e.wParam = w;
        e.lParam = l;
        {
            std::lock_guard lock(mutex_);
            if (id == SPEI_WORD_BOUNDARY) {
                wordPos_ = static_cast<ULONG>(l);
                wordLen_ = static_cast<ULONG>(w);
            } else if (id == SPEI_SENTENCE_BOUNDARY) {
                sentPos_ = static_cast<ULONG>(l);
                sentLen_ = static_cast<ULONG>(w);
            } else if (id == SPEI_TTS_BOOKMARK) {
                lastBookmark_ = bookmark;
                bookmarkId_ = static_cast<LONG>(w);
            }
        }
        events.Add(e, bookmark);
    }

    // A request purged before its turn: nothing is spoken, but its stream
    // starts and ends like any other.
    void ReportDropped(Request &r)
    {
        AddEvent(r, SPEI_START_INPUT_STREAM, 0);
        AddEvent(r, SPEI_END_INPUT_STREAM, 0);
    }

    // The output of one request: the device or the client's stream.
    void Process(Request &r)
    {
        const bool toDevice = !r.stream;
        if (toDevice) {
            std::lock_guard lock(mutex_);
            if (!device_.IsOpen() || std::memcmp(&device_.Format(), &r.outputFormat, sizeof(WAVEFORMATEX)) != 0) {
                r.result = device_.Open(r.outputFormat);
                if (SUCCEEDED(r.result) && paused_)
                    device_.SetPaused(true);
            }
        }
        uint64_t streamBytes = 0;
        std::deque<PendingEvent> pending;
        auto stop = [&] { return r.cancelled.load(); };
        auto release = [&] {
            const uint64_t played = device_.Played();
            while (!pending.empty() && pending.front().offset <= played) {
                auto &p = pending.front();
                AddEvent(r, p.event.eEventId, p.offset, p.event.wParam, p.event.lParam, p.bookmark);
                pending.pop_front();
            }
        };
        AddEvent(r, SPEI_START_INPUT_STREAM, 0);
        // A stream takes audio as fast as it comes: hand it over a second of
        // speech at a time rather than buffer by buffer.
        if (!toDevice)
            r.job->pipe->SetBatchBytes(std::max<size_t>(r.engine->Format().nAvgBytesPerSec, 1));
        if (SUCCEEDED(r.result))
            r.engine->Start(r.job);
        PcmConverter converter(r.engine->Format(), r.outputFormat);
        std::vector<uint8_t> bytes;
        bool done = FAILED(r.result);
        while (!done && !stop()) {
            if (toDevice) {
                release();
            } else if (WaitWhilePaused(r)) {
                continue;
            }
            PipeItem item;
            if (!r.job->pipe->Pop(item, kPollInterval))
                continue;
            switch (item.kind) {
            case PipeItem::Kind::Audio:
                bytes.clear();
                converter.Convert(item.pcm.data(), item.pcm.size(), item.gainPercent * Volume() / 100, bytes);
                if (bytes.empty()) {
                    break;
                } else if (toDevice) {
                    device_.Write(bytes, stop, release);
                } else if (HRESULT hr = WriteStream(r.stream, bytes); FAILED(hr)) {
                    // A stream that refuses the audio ends the request; the
                    // engine is stopped and the end is still reported.
                    r.result = hr;
                    r.cancelled = true;
                } else {
                    streamBytes += bytes.size();
                }
                break;
            case PipeItem::Kind::Event:
                if (toDevice) {
                    SPEVENT e{};
                    e.eEventId = item.eventId;
                    e.wParam = item.wParam;
                    e.lParam = item.lParam;
                    pending.push_back({device_.Written(), e, item.bookmark});
                } else {
                    AddEvent(r, item.eventId, streamBytes, item.wParam, item.lParam, item.bookmark);
                }
                break;
            case PipeItem::Kind::Done:
                if (FAILED(item.result))
                    r.result = item.result;
                done = true;
                break;
            }
        }
        if (toDevice) {
            device_.Drain(stop, release);
            std::lock_guard lock(mutex_);
            if (stop())
                device_.Reset();
            r.played = true;
        }
        r.job->pipe->Cancel(); // lets the engine go on with the next request
        AddEvent(r, SPEI_END_INPUT_STREAM, toDevice ? device_.Written() : streamBytes);
    }

    // For stream output: holds the request while the voice is paused.
    [[nodiscard]] bool WaitWhilePaused(Request &r)
    {
        std::unique_lock lock(mutex_);
        if (!paused_)
            return false;
        work_.wait_for(lock, kPollInterval * 4, [&] { return !paused_ || r.cancelled; });
        return true;
    }

    // Hands the bytes to the client's stream. A stream may take bytes
    // without saying how many (it leaves the count as it was): that counts as
    // taking all of them, as the bytes are the stream's business from then on.
    [[nodiscard]] static HRESULT WriteStream(ISpStreamFormat *stream, const std::vector<uint8_t> &bytes)
    {
        size_t offset = 0;
        while (offset < bytes.size()) {
            const ULONG remaining = static_cast<ULONG>(bytes.size() - offset);
            ULONG written = remaining;
            const HRESULT hr = stream->Write(bytes.data() + offset, remaining, &written);
            if (FAILED(hr))
                return hr;
            if (written == 0 || written > remaining)
                break;
            offset += written;
        }
        return S_OK;
    }

    std::mutex mutex_;
    std::condition_variable work_;
    std::condition_variable done_;
    std::thread thread_;
    bool stopping_ = false;
    bool paused_ = false;

    CComPtr<ISpObjectToken> token_;
    std::shared_ptr<TtsEngine> engine_;
    CComPtr<ISpStreamFormat> stream_;
    WAVEFORMATEX streamFormat_{};
    std::atomic<LONG> rate_{0};
    std::atomic<USHORT> volume_{100};

    std::deque<std::shared_ptr<Request>> queue_;
    std::shared_ptr<Request> current_;
    ULONG lastQueued_ = 0;
    HRESULT lastResult_ = S_OK;
    DeviceOutput device_;

    ULONG wordPos_ = 0, wordLen_ = 0, sentPos_ = 0, sentLen_ = 0;
    LONG bookmarkId_ = 0;
    std::u16string lastBookmark_;
};

// ---- SpVoice ----------------------------------------------------------------------

SpVoice::SpVoice() : core_(std::make_shared<VoiceCore>()) {}

SpVoice::~SpVoice()
{
    core_->Stop();
}

STDMETHODIMP SpVoice::SetNotifySink(ISpNotifySink *sink)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        core_->events.SetNotifier(sink ? MakeSinkNotifier(sink) : nullptr);
        return S_OK;
    });
}

STDMETHODIMP SpVoice::SetNotifyWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!hwnd)
            return E_INVALIDARG;
        core_->events.SetNotifier(MakeWindowMessageNotifier(hwnd, msg, wParam, lParam));
        return S_OK;
    });
}

STDMETHODIMP SpVoice::SetNotifyCallbackFunction(SPNOTIFYCALLBACK *function, WPARAM wParam, LPARAM lParam)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!function) {
            core_->events.SetNotifier(nullptr);
            return S_OK;
        }
        HRESULT hr = S_OK;
        auto notifier = MakeFunctionNotifier(function, wParam, lParam, hr);
        if (SUCCEEDED(hr))
            core_->events.SetNotifier(std::move(notifier));
        return hr;
    });
}

STDMETHODIMP SpVoice::SetNotifyCallbackInterface(ISpNotifyCallback *callback, WPARAM wParam, LPARAM lParam)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!callback) {
            core_->events.SetNotifier(nullptr);
            return S_OK;
        }
        HRESULT hr = S_OK;
        auto notifier = MakeCallbackNotifier(callback, wParam, lParam, hr);
        if (SUCCEEDED(hr))
            core_->events.SetNotifier(std::move(notifier));
        return hr;
    });
}

STDMETHODIMP SpVoice::SetNotifyWin32Event()
{
    return E_NOTIMPL;
}
STDMETHODIMP SpVoice::WaitForNotifyEvent(DWORD)
{
    return SPERR_UNINITIALIZED;
}
STDMETHODIMP_(HANDLE) SpVoice::GetNotifyEventHandle()
{
    return nullptr;
}

STDMETHODIMP SpVoice::SetInterest(ULONGLONG eventInterest, ULONGLONG queuedInterest)
{
    return orafon::CatchAtEdge([&]() -> HRESULT { return core_->events.SetInterest(eventInterest, queuedInterest); });
}

STDMETHODIMP SpVoice::GetEvents(ULONG count, SPEVENT *events, ULONG *fetched)
{
    return orafon::CatchAtEdge([&]() -> HRESULT { return core_->events.Get(count, events, fetched); });
}

STDMETHODIMP SpVoice::GetInfo(SPEVENTSOURCEINFO *info)
{
    if (!info)
        return E_POINTER;
    core_->events.Info(info);
    return S_OK;
}

STDMETHODIMP SpVoice::SetOutput(IUnknown *output, BOOL)
{
    return orafon::CatchAtEdge([&]() -> HRESULT { return core_->SetOutput(output); });
}

STDMETHODIMP SpVoice::GetOutputObjectToken(ISpObjectToken **token)
{
    if (!token)
        return E_POINTER;
    *token = nullptr;
    return S_FALSE;
}

STDMETHODIMP SpVoice::GetOutputStream(ISpStreamFormat **stream)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!stream)
            return E_POINTER;
        *stream = nullptr;
        WAVEFORMATEX format{};
        CComPtr<ISpStreamFormat> clientStream;
        HRESULT hr = core_->OutputFormat(format, clientStream);
        if (FAILED(hr))
            return hr;
        if (clientStream)
            return clientStream.CopyTo(stream);
        CComPtr<DeviceStream> device;
        hr = DeviceStream::Create(device, format);
        if (SUCCEEDED(hr))
            *stream = device.Detach();
        return hr;
    });
}

STDMETHODIMP SpVoice::Pause()
{
    core_->SetPaused(true);
    return S_OK;
}

STDMETHODIMP SpVoice::Resume()
{
    core_->SetPaused(false);
    return S_OK;
}

STDMETHODIMP SpVoice::SetVoice(ISpObjectToken *token)
{
    return orafon::CatchAtEdge([&]() -> HRESULT { return core_->SetVoice(token); });
}

STDMETHODIMP SpVoice::GetVoice(ISpObjectToken **token)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!token)
            return E_POINTER;
        *token = nullptr;
        CComPtr<ISpObjectToken> t;
        const HRESULT hr = core_->GetVoice(t);
        if (FAILED(hr))
            return hr;
        *token = t.Detach();
        return S_OK;
    });
}

STDMETHODIMP SpVoice::Speak(LPCWSTR text, DWORD flags, ULONG *streamNumber)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (streamNumber)
            *streamNumber = 0;
        return core_->Speak(text, flags, streamNumber);
    });
}

STDMETHODIMP SpVoice::SpeakStream(IStream *, DWORD, ULONG *streamNumber)
{
    if (streamNumber)
        *streamNumber = 0;
    return E_NOTIMPL;
}

STDMETHODIMP SpVoice::GetStatus(SPVOICESTATUS *status, LPWSTR *lastBookmark)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (!status && !lastBookmark)
            return E_POINTER;
        if (status)
            core_->Status(*status);
        if (lastBookmark)
            return CoMemString(core_->LastBookmark(), lastBookmark);
        return S_OK;
    });
}

STDMETHODIMP SpVoice::Skip(LPCWSTR, LONG, ULONG *skipped)
{
    if (skipped)
        *skipped = 0;
    return E_NOTIMPL;
}

STDMETHODIMP SpVoice::SetPriority(SPVPRIORITY priority)
{
    return priority == SPVPRI_NORMAL || priority == SPVPRI_ALERT || priority == SPVPRI_OVER ? S_OK : E_INVALIDARG;
}

STDMETHODIMP SpVoice::GetPriority(SPVPRIORITY *priority)
{
    if (!priority)
        return E_POINTER;
    *priority = SPVPRI_NORMAL;
    return S_OK;
}

STDMETHODIMP SpVoice::SetAlertBoundary(SPEVENTENUM)
{
    return S_OK;
}

STDMETHODIMP SpVoice::GetAlertBoundary(SPEVENTENUM *boundary)
{
    if (!boundary)
        return E_POINTER;
    *boundary = SPEI_WORD_BOUNDARY;
    return S_OK;
}

STDMETHODIMP SpVoice::SetRate(LONG rate)
{
    core_->SetRate(rate);
    return S_OK;
}

STDMETHODIMP SpVoice::GetRate(LONG *rate)
{
    if (!rate)
        return E_POINTER;
    *rate = core_->Rate();
    return S_OK;
}

STDMETHODIMP SpVoice::SetVolume(USHORT volume)
{
    if (volume > 100)
        return E_INVALIDARG;
    core_->SetVolume(volume);
    return S_OK;
}

STDMETHODIMP SpVoice::GetVolume(USHORT *volume)
{
    if (!volume)
        return E_POINTER;
    *volume = core_->Volume();
    return S_OK;
}

STDMETHODIMP SpVoice::WaitUntilDone(ULONG ms)
{
    return core_->WaitUntilDone(ms) ? S_OK : S_FALSE;
}

STDMETHODIMP SpVoice::SetSyncSpeakTimeout(ULONG)
{
    return S_OK;
}

STDMETHODIMP SpVoice::GetSyncSpeakTimeout(ULONG *ms)
{
    if (!ms)
        return E_POINTER;
    *ms = 10000;
    return S_OK;
}

STDMETHODIMP_(HANDLE) SpVoice::SpeakCompleteEvent()
{
    return nullptr;
}

STDMETHODIMP SpVoice::IsUISupported(LPCWSTR, void *, ULONG, BOOL *supported)
{
    if (!supported)
        return E_POINTER;
    *supported = FALSE;
    return S_OK;
}

STDMETHODIMP SpVoice::DisplayUI(HWND, LPCWSTR, LPCWSTR, void *, ULONG)
{
    return E_NOTIMPL;
}

// ---- DeviceStream ------------------------------------------------------------------

STDMETHODIMP DeviceStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position)
{
    if (move.QuadPart != 0 || origin != STREAM_SEEK_CUR)
        return E_INVALIDARG;
    if (position)
        position->QuadPart = 0;
    return S_OK;
}

STDMETHODIMP DeviceStream::GetFormat(GUID *formatId, WAVEFORMATEX **format)
{
    if (!formatId || !format)
        return E_POINTER;
    *format = static_cast<WAVEFORMATEX *>(CoTaskMemAlloc(sizeof(WAVEFORMATEX)));
    if (!*format) {
        *formatId = GUID_NULL;
        return E_OUTOFMEMORY;
    }
    **format = format_;
    *formatId = SPDFID_WaveFormatEx;
    return S_OK;
}

} // namespace orafon::sapi5
