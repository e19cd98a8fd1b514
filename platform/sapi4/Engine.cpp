#include "Engine.h"

#include "ClientThread.h"
#include "ComSupport.h"

#include <orafon/CatchAtEdge.h>
#include <orafon/Holders.h>
#include <orafon/win/objbase.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace orafon::sapi4 {
namespace {

using namespace std::chrono_literals;

// Largest DataSet: half a second of 16 kHz speech, small enough that pause
// and reset take effect at once.
constexpr DWORD kMaxBlockBytes = 16384;
// How often a wait re-polls a destination that does not notify.
constexpr auto kPollInterval = 10ms;

struct TextRequest {
    std::u16string text;
    std::vector<TextPiece> pieces;
    CComPtr<ITTSBufNotifySink> sink;
};

struct PendingMark {
    enum class Kind { Word, Bookmark, Done };
    Kind kind = Kind::Word;
    uint32_t value = 0;
    CComPtr<ITTSBufNotifySink> sink;
};

class EngineCore : public std::enable_shared_from_this<EngineCore> {
public:
    EngineCore(std::shared_ptr<EngineMode> mode, std::shared_ptr<ClientThread> client)
        : mode_(std::move(mode)), format_(mode_->Format()), ranges_(mode_->Ranges()), client_(std::move(client)),
          speed_(ranges_.speed.def), pitch_(ranges_.pitch.def), volume_(ranges_.volume.def)
    {
    }

    [[nodiscard]] HRESULT Attach(IUnknown *audio, IAudioDestNotifySink *destSink);
    void Start()
    {
        thread_ = std::thread([self = shared_from_this()] { self->Run(); });
    }
    void Shutdown();

    const std::shared_ptr<EngineMode> &Mode() const { return mode_; }
    const AttributeRanges &Ranges() const { return ranges_; }
    std::atomic<uint32_t> &Speed() { return speed_; }
    std::atomic<uint32_t> &Pitch() { return pitch_; }
    std::atomic<uint32_t> &Volume() { return volume_; }
    uint64_t Position() const { return bytesWritten_.load(); }

    [[nodiscard]] HRESULT Queue(TextRequest request);
    HRESULT Pause();
    [[nodiscard]] HRESULT Resume();
    HRESULT Reset();

    // From the destination's notification sink, on any thread.
    void MarkReached(DWORD id, bool flushed);
    void SpaceFreed() { wake_.notify_all(); }

private:
    void Run();
    [[nodiscard]] bool Speak(TextRequest &request, uint64_t generation);
    bool Deliver(const SpeechChunk &chunk, const TextRequest &request, uint64_t generation);
    [[nodiscard]] bool Write(const uint8_t *data, size_t size, uint64_t generation);
    void PlaceMark(PendingMark::Kind kind, uint32_t value, const CComPtr<ITTSBufNotifySink> &sink);
    // Applies pause, resume and reset to the destination; false once the
    // request of this generation is to stop.
    [[nodiscard]] bool Service(std::unique_lock<std::mutex> &lock, uint64_t generation);
    void AcknowledgeReset(std::unique_lock<std::mutex> &lock);
    [[nodiscard]] bool Claim();
    void Unclaim(bool flush);
    void Notify(const CComPtr<ITTSBufNotifySink> &sink, PendingMark::Kind kind, uint32_t value, bool stale);
    void NotifyStarted(const CComPtr<ITTSBufNotifySink> &sink);
    void NotifyDone(const CComPtr<ITTSBufNotifySink> &sink, DWORD flags);
    Prosody CurrentProsody() const { return {speed_.load(), pitch_.load(), volume_.load()}; }

    std::shared_ptr<EngineMode> mode_;
    WAVEFORMATEX format_;
    AttributeRanges ranges_;
    std::shared_ptr<ClientThread> client_;
    std::atomic<uint32_t> speed_, pitch_, volume_;
    CComPtr<IAudio> audio_;
    CComPtr<IAudioDest> dest_;
    // Audio objects may keep the sink without a reference of their own.
    CComPtr<IAudioDestNotifySink> destSink_;
    std::atomic<uint64_t> bytesWritten_{0};

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<TextRequest> queue_;
    std::map<DWORD, PendingMark> marks_;
    DWORD nextMark_ = 1;
    bool paused_ = false;
    bool pauseApplied_ = false;
    bool shutdown_ = false;
    uint64_t resetGeneration_ = 0;
    uint64_t ackGeneration_ = 0;
    std::atomic<uint64_t> publishedGeneration_{0};
    bool claimed_ = false; // touched by the speaking thread only
    std::thread thread_;
};

// The engine's IAudioDestNotifySink; holds the engine weakly so the audio
// object holding it keeps nothing alive.
class DestNotifySink final : public orafon::ComObject<DestNotifySink, IAudioDestNotifySink>, private ModuleObject {
public:
    explicit DestNotifySink(std::weak_ptr<EngineCore> core) : core_(std::move(core)) {}

    STDMETHODIMP AudioStop(WORD) override { return S_OK; }
    STDMETHODIMP AudioStart() override { return S_OK; }
    STDMETHODIMP FreeSpace(DWORD, BOOL) override
    {
        if (auto core = core_.lock())
            core->SpaceFreed();
        return S_OK;
    }
    STDMETHODIMP BookMark(DWORD id, BOOL flushed) override
    {
        if (auto core = core_.lock())
            core->MarkReached(id, flushed != FALSE);
        return S_OK;
    }

private:
    std::weak_ptr<EngineCore> core_;
};

[[nodiscard]] HRESULT EngineCore::Attach(IUnknown *audio, IAudioDestNotifySink *destSink)
{
    HRESULT hr = audio->QueryInterface(IID_IAudio, reinterpret_cast<void **>(&audio_));
    if (FAILED(hr))
        return TTSERR_INVALIDINTERFACE;
    hr = audio->QueryInterface(IID_IAudioDest, reinterpret_cast<void **>(&dest_));
    if (FAILED(hr))
        return TTSERR_INVALIDINTERFACE;
    destSink_ = destSink;
    hr = audio_->PassNotify(destSink, IID_IAudioDestNotifySink);
    if (FAILED(hr))
        return hr;
    // A destination may propose a format; the engine speaks only its own.
    SDATA proposed{nullptr, 0};
    const orafon::CComHeapPtr<void> proposedFormat(SUCCEEDED(audio_->WaveFormatGet(&proposed)) ? proposed.pData
                                                                                               : nullptr);
    WAVEFORMATEX format = format_;
    hr = audio_->WaveFormatSet(SDATA{&format, sizeof(format)});
    if (FAILED(hr)) {
        audio_->PassNotify(nullptr, IID_IAudioDestNotifySink);
        return hr;
    }
    return S_OK;
}

void EngineCore::Shutdown()
{
    {
        std::lock_guard lock(mutex_);
        shutdown_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
    if (audio_)
        audio_->PassNotify(nullptr, IID_IAudioDestNotifySink);
    audio_.Release();
    dest_.Release();
    destSink_.Release();
}

[[nodiscard]] HRESULT EngineCore::Queue(TextRequest request)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(request));
    }
    wake_.notify_all();
    return S_OK;
}

[[nodiscard]] HRESULT EngineCore::Pause()
{
    std::lock_guard lock(mutex_);
    if (paused_)
        return TTSERR_ALREADYPAUSED;
    paused_ = true;
    wake_.notify_all();
    return S_OK;
}

[[nodiscard]] HRESULT EngineCore::Resume()
{
    std::lock_guard lock(mutex_);
    if (!paused_)
        return TTSERR_NOTPAUSED;
    paused_ = false;
    wake_.notify_all();
    return S_OK;
}

[[nodiscard]] HRESULT EngineCore::Reset()
{
    std::deque<TextRequest> dropped;
    std::unique_lock lock(mutex_);
    const uint64_t generation = ++resetGeneration_;
    publishedGeneration_ = generation;
    dropped.swap(queue_);
    paused_ = false;
    wake_.notify_all();
    // Waits for the speaking thread to let go of the destination, unless
    // this is that thread (a destination calling back into the engine).
    if (thread_.get_id() != std::this_thread::get_id())
        wake_.wait(lock, [&] { return ackGeneration_ >= generation || shutdown_; });
    lock.unlock();
    for (TextRequest &request : dropped)
        NotifyDone(request.sink, TTSBNS_ABORTED);
    return S_OK;
}

void EngineCore::Run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        // Between texts nothing is being spoken that a reset could end;
        // shutting down is looked at next.
        static_cast<void>(Service(lock, resetGeneration_));
        if (shutdown_)
            break;
        if (queue_.empty()) {
            // Let go of the destination once everything written was heard.
            if (claimed_ && marks_.empty() && !paused_) {
                lock.unlock();
                Unclaim(false);
                lock.lock();
                continue;
            }
            wake_.wait_for(lock, kPollInterval);
            continue;
        }
        TextRequest request = std::move(queue_.front());
        queue_.pop_front();
        const uint64_t generation = resetGeneration_;
        lock.unlock();
        // The engine's thread is an edge: a text that cannot be spoken, for
        // want of memory too, is aborted as one the destination refused.
        bool finished = false;
        static_cast<void>(orafon::CatchAtEdge([&] { finished = Speak(request, generation); }));
        lock.lock();
        if (!finished) {
            // A destination that failed keeps none of this text's audio.
            std::map<DWORD, PendingMark> dropped;
            if (resetGeneration_ == generation && !shutdown_)
                dropped.swap(marks_);
            lock.unlock();
            if (claimed_ && resetGeneration_ == generation)
                Unclaim(true);
            for (auto &[id, mark] : dropped)
                if (mark.kind == PendingMark::Kind::Done)
                    NotifyDone(mark.sink, TTSBNS_ABORTED);
            NotifyDone(request.sink, TTSBNS_ABORTED);
            lock.lock();
        }
    }
    lock.unlock();
    if (claimed_)
        Unclaim(true);
}

[[nodiscard]] bool EngineCore::Service(std::unique_lock<std::mutex> &lock, uint64_t generation)
{
    for (;;) {
        if (ackGeneration_ != resetGeneration_)
            AcknowledgeReset(lock);
        if (shutdown_ || resetGeneration_ != generation)
            return false;
        if (paused_ && !pauseApplied_ && claimed_) {
            pauseApplied_ = true;
            lock.unlock();
            audio_->Stop();
            lock.lock();
            continue;
        }
        if (!paused_ && pauseApplied_) {
            pauseApplied_ = false;
            lock.unlock();
            audio_->Start();
            lock.lock();
            continue;
        }
        if (!paused_)
            return true;
        wake_.wait_for(lock, kPollInterval);
    }
}

void EngineCore::AcknowledgeReset(std::unique_lock<std::mutex> &lock)
{
    // Marks still pending belong to audio that is now thrown away.
    std::map<DWORD, PendingMark> dropped;
    dropped.swap(marks_);
    pauseApplied_ = false;
    lock.unlock();
    if (claimed_)
        Unclaim(true);
    for (auto &[id, mark] : dropped)
        if (mark.kind == PendingMark::Kind::Done)
            NotifyDone(mark.sink, TTSBNS_ABORTED);
    lock.lock();
    ackGeneration_ = resetGeneration_;
    wake_.notify_all();
}

[[nodiscard]] bool EngineCore::Claim()
{
    if (claimed_)
        return true;
    if (FAILED(audio_->Claim()))
        return false;
    if (FAILED(audio_->Start())) {
        audio_->UnClaim();
        return false;
    }
    claimed_ = true;
    return true;
}

void EngineCore::Unclaim(bool flush)
{
    if (flush)
        audio_->Flush();
    audio_->Stop();
    audio_->UnClaim();
    claimed_ = false;
}

[[nodiscard]] bool EngineCore::Speak(TextRequest &request, uint64_t generation)
{
    if (!Claim())
        return false;
    NotifyStarted(request.sink);
    std::unique_ptr<SpeechSource> source =
        mode_->CreateSource(request.text, std::move(request.pieces), [this] { return CurrentProsody(); });
    SpeechChunk chunk; // one buffer for the whole text: the source may swap it for the next
    for (;;) {
        bool done = false;
        if (FAILED(source->Next(chunk, done)))
            return false;
        if (done)
            break;
        if (!Deliver(chunk, request, generation))
            return false;
    }
    source.reset();
    {
        std::unique_lock lock(mutex_);
        if (!Service(lock, generation))
            return false;
    }
    PlaceMark(PendingMark::Kind::Done, 0, request.sink);
    return true;
}

[[nodiscard]] bool EngineCore::Deliver(const SpeechChunk &chunk, const TextRequest &request, uint64_t generation)
{
    size_t written = 0;
    for (const SpeechEvent &event : chunk.events) {
        const size_t at = std::clamp(event.byte, written, chunk.pcm.size());
        if (!Write(chunk.pcm.data() + written, at - written, generation))
            return false;
        written = at;
        PlaceMark(event.kind == SpeechEvent::Kind::Word ? PendingMark::Kind::Word : PendingMark::Kind::Bookmark,
                  event.value, request.sink);
    }
    return Write(chunk.pcm.data() + written, chunk.pcm.size() - written, generation);
}

[[nodiscard]] bool EngineCore::Write(const uint8_t *data, size_t size, uint64_t generation)
{
    const DWORD align = std::max<DWORD>(format_.nBlockAlign, 1);
    const DWORD maxBlock = std::max(align, kMaxBlockBytes / align * align);
    while (size > 0) {
        {
            std::unique_lock lock(mutex_);
            if (!Service(lock, generation))
                return false;
        }
        DWORD space = 0xFFFFFFFF;
        BOOL eof = FALSE;
        if (FAILED(dest_->FreeSpace(&space, &eof)))
            space = maxBlock;
        DWORD block = static_cast<DWORD>(std::min<size_t>({size, maxBlock, space}));
        if (block < size)
            block = block / align * align;
        if (block == 0) {
            std::unique_lock lock(mutex_);
            wake_.wait_for(lock, kPollInterval);
            continue;
        }
        if (FAILED(dest_->DataSet(const_cast<uint8_t *>(data), block)))
            return false;
        bytesWritten_ += block;
        data += block;
        size -= block;
    }
    return true;
}

void EngineCore::PlaceMark(PendingMark::Kind kind, uint32_t value, const CComPtr<ITTSBufNotifySink> &sink)
{
    DWORD id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextMark_++;
        if (nextMark_ == 0)
            nextMark_ = 1;
        marks_[id] = PendingMark{kind, value, sink};
    }
    // The destination may report the mark from inside this call.
    if (FAILED(dest_->BookMark(id)))
        MarkReached(id, false);
}

void EngineCore::MarkReached(DWORD id, bool flushed)
{
    PendingMark mark;
    {
        std::lock_guard lock(mutex_);
        auto it = marks_.find(id);
        if (it == marks_.end())
            return;
        mark = std::move(it->second);
        marks_.erase(it);
    }
    wake_.notify_all();
    if (flushed) {
        if (mark.kind == PendingMark::Kind::Done)
            NotifyDone(mark.sink, TTSBNS_ABORTED);
        return;
    }
    Notify(mark.sink, mark.kind, mark.value, true);
}

void EngineCore::Notify(const CComPtr<ITTSBufNotifySink> &sink, PendingMark::Kind kind, uint32_t value,
                        bool dropIfReset)
{
    if (!sink || !client_)
        return;
    const QWORD time = bytesWritten_.load();
    const uint64_t generation = publishedGeneration_.load();
    std::weak_ptr<EngineCore> weak = weak_from_this();
    std::shared_ptr<EngineMode> mode = mode_;
    mode->Notice(kind == PendingMark::Kind::Done ? ModeNotice::DonePosted : ModeNotice::Posted);
    const bool posted = client_->Post([sink, kind, value, time, generation, dropIfReset, weak, mode] {
        // Words and marks of audio that a reset threw away are not reported.
        if (auto core = weak.lock();
            dropIfReset && core && kind != PendingMark::Kind::Done && core->publishedGeneration_.load() != generation) {
            mode->Notice(ModeNotice::Delivered);
            return;
        }
        switch (kind) {
        case PendingMark::Kind::Word:
            sink->WordPosition(time, value);
            break;
        case PendingMark::Kind::Bookmark:
            sink->BookMark(time, value);
            break;
        case PendingMark::Kind::Done:
            sink->TextDataDone(time, 0);
            break;
        }
        mode->Notice(ModeNotice::Delivered);
    });
    if (!posted)
        mode->Notice(ModeNotice::Delivered); // nothing will come
}

void EngineCore::NotifyStarted(const CComPtr<ITTSBufNotifySink> &sink)
{
    if (!sink || !client_)
        return;
    const QWORD time = bytesWritten_.load();
    std::shared_ptr<EngineMode> mode = mode_;
    mode->Notice(ModeNotice::Posted);
    const bool posted = client_->Post([sink, time, mode] {
        sink->TextDataStarted(time);
        mode->Notice(ModeNotice::Delivered);
    });
    if (!posted)
        mode->Notice(ModeNotice::Delivered); // nothing will come
}

void EngineCore::NotifyDone(const CComPtr<ITTSBufNotifySink> &sink, DWORD flags)
{
    if (!sink || !client_)
        return;
    const QWORD time = bytesWritten_.load();
    std::shared_ptr<EngineMode> mode = mode_;
    mode->Notice(ModeNotice::DonePosted);
    const bool posted = client_->Post([sink, time, flags, mode] {
        sink->TextDataDone(time, flags);
        mode->Notice(ModeNotice::Delivered);
    });
    if (!posted)
        mode->Notice(ModeNotice::Delivered); // nothing will come
}

class Engine final : public orafon::ComObject<Engine, ITTSCentralW, ITTSAttributesA,
                                              orafon::ComAlias<ITTSAttributesW, ITTSAttributesA>>,
                     private ModuleObject {
public:
    explicit Engine(std::shared_ptr<EngineCore> core) : core_(std::move(core)) {}

    // ITTSCentralW
    STDMETHODIMP Inject(PCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP ModeGet(PTTSMODEINFOW info) override
    {
        if (!info)
            return E_INVALIDARG;
        *info = core_->Mode()->Info();
        return S_OK;
    }
    STDMETHODIMP Phoneme(VOICECHARSET, DWORD, SDATA, PSDATA) override { return E_NOTIMPL; }
    STDMETHODIMP PosnGet(PQWORD position) override
    {
        if (!position)
            return E_INVALIDARG;
        *position = core_->Position();
        return S_OK;
    }
    STDMETHODIMP TextData(VOICECHARSET charset, DWORD flags, SDATA text, PVOID notify, IID notifyIid) override;
    STDMETHODIMP ToFileTime(PQWORD, FILETIME *) override { return E_NOTIMPL; }
    STDMETHODIMP AudioPause() override { return core_->Pause(); }
    STDMETHODIMP AudioResume() override { return core_->Resume(); }
    STDMETHODIMP AudioReset() override { return core_->Reset(); }
    STDMETHODIMP Register(PVOID, IID, DWORD *) override { return E_NOTIMPL; }
    STDMETHODIMP UnRegister(DWORD) override { return E_NOTIMPL; }

    // ITTSAttributesW
    STDMETHODIMP PitchGet(WORD *pitch) override
    {
        return Get(ModeCall::PitchGet, core_->Pitch(), pitch, [](uint32_t v) { return static_cast<WORD>(v); });
    }
    STDMETHODIMP PitchSet(WORD pitch) override
    {
        return Set(ModeCall::PitchSet, core_->Pitch(), core_->Ranges().pitch, pitch);
    }
    STDMETHODIMP RealTimeGet(DWORD *) override { return E_NOTIMPL; }
    STDMETHODIMP RealTimeSet(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP SpeedGet(DWORD *speed) override
    {
        return Get(ModeCall::SpeedGet, core_->Speed(), speed, [](uint32_t v) { return DWORD(v); });
    }
    STDMETHODIMP SpeedSet(DWORD speed) override
    {
        return Set(ModeCall::SpeedSet, core_->Speed(), core_->Ranges().speed, speed);
    }
    STDMETHODIMP VolumeGet(DWORD *volume) override
    {
        return Get(ModeCall::VolumeGet, core_->Volume(), volume, [](uint32_t v) { return DWORD(v); });
    }
    STDMETHODIMP VolumeSet(DWORD volume) override
    {
        return Set(ModeCall::VolumeSet, core_->Volume(), core_->Ranges().volume, volume);
    }

    ~Engine() override { core_->Shutdown(); }

private:
    template <typename T, typename Convert>
    [[nodiscard]] HRESULT Get(ModeCall call, std::atomic<uint32_t> &value, T *out, Convert convert)
    {
        if (!out)
            return E_INVALIDARG;
        if (HRESULT hr = core_->Mode()->Outcome(call); FAILED(hr))
            return hr;
        *out = convert(value.load());
        return S_OK;
    }

    [[nodiscard]] HRESULT Set(ModeCall call, std::atomic<uint32_t> &value, const AttributeRange &range,
                              uint32_t requested)
    {
        core_->Mode()->Observe(call, requested);
        if (HRESULT hr = core_->Mode()->Outcome(call); FAILED(hr))
            return hr;
        value = range.Clamp(requested);
        return S_OK;
    }

    std::shared_ptr<EngineCore> core_;
};

STDMETHODIMP Engine::TextData(VOICECHARSET charset, DWORD flags, SDATA text, PVOID notify, IID notifyIid)
{
    return orafon::CatchAtEdge([&]() -> HRESULT {
        if (charset != CHARSET_TEXT)
            return E_NOTIMPL;
        if (flags & ~TTSDATAFLAG_TAGGED)
            return E_INVALIDARG;
        if (!text.pData || text.dwSize % sizeof(char16_t) != 0)
            return E_INVALIDARG;
        // The text is what the size covers, up to a NUL within it; callers
        // count the terminator or not, and nothing past the size is read.
        const auto *chars = static_cast<const char16_t *>(text.pData);
        const size_t capacity = text.dwSize / sizeof(char16_t);
        const size_t length = std::find(chars, chars + capacity, u'\0') - chars;
        CComPtr<ITTSBufNotifySink> sink;
        if (notify) {
            if (notifyIid != IID_ITTSBufNotifySink)
                return TTSERR_INVALIDINTERFACE;
            sink = static_cast<ITTSBufNotifySink *>(notify);
        }
        core_->Mode()->Observe(ModeCall::TextData, flags, text.dwSize);
        if (HRESULT hr = core_->Mode()->Outcome(ModeCall::TextData); FAILED(hr))
            return hr;
        TextRequest request;
        request.text.assign(chars, length);
        request.pieces = SplitText(request.text, (flags & TTSDATAFLAG_TAGGED) != 0);
        request.sink = sink;
        return core_->Queue(std::move(request));
    });
}

} // namespace

[[nodiscard]] HRESULT CreateEngine(std::shared_ptr<EngineMode> mode, IUnknown *audio, ITTSCentralW **central)
{
    if (!central)
        return E_INVALIDARG;
    *central = nullptr;
    if (!mode || !audio)
        return E_INVALIDARG;
    if (HRESULT hr = mode->Outcome(ModeCall::Select); FAILED(hr))
        return hr;
    if (HRESULT hr = mode->Prepare(); FAILED(hr))
        return hr;
    auto client = ClientThread::Current();
    if (!client)
        return E_FAIL;
    auto core = std::make_shared<EngineCore>(mode, client);
    CComPtr<DestNotifySink> destSink;
    if (HRESULT hr = DestNotifySink::Create(destSink, core); FAILED(hr))
        return hr;
    if (HRESULT hr = core->Attach(audio, destSink); FAILED(hr))
        return hr;
    core->Start();
    return Engine::CreateInterface(IID_ITTSCentralW, reinterpret_cast<void **>(central), core);
}

} // namespace orafon::sapi4
