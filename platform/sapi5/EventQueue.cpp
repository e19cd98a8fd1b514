#include "EventQueue.h"

#include <orafon/win/objbase.h>
#include <orafon/win/winbase.h>
#include <orafon/win/winuser.h>

#include <cstring>
#include <functional>

namespace orafon::sapi5 {

namespace {

constexpr UINT kNotifyMessage = WM_APP + 0x5A5;
constexpr char kWindowClass[] = "OrafonSpNotifyWindow";

LRESULT CALLBACK NotifyWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

[[nodiscard]] bool RegisterWindowClass()
{
    static const bool registered = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = NotifyWindowProc;
        wc.lpszClassName = kWindowClass;
        return RegisterClassExA(&wc) != 0;
    }();
    return registered;
}

// What the window runs: the client's callback, on the registering thread.
class ThreadNotifier final : public Notifier {
public:
    explicit ThreadNotifier(std::function<void()> fire) : fire_(std::move(fire)) {}
    ~ThreadNotifier() override
    {
        if (hwnd_) {
            // No message may reach a notifier that is gone.
            SetWindowLongPtrA(hwnd_, GWLP_USERDATA, 0);
            // Only the owning thread may destroy the window; from any other
            // thread it is asked to close itself.
            if (!DestroyWindow(hwnd_))
                PostMessageA(hwnd_, WM_CLOSE, 0, 0);
        }
    }

    [[nodiscard]] HRESULT Create()
    {
        if (!RegisterWindowClass())
            return E_FAIL;
        hwnd_ = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        if (!hwnd_)
            return E_FAIL;
        SetWindowLongPtrA(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        return S_OK;
    }

    void Notify() override
    {
        if (!pending_.exchange(true))
            if (!PostMessageA(hwnd_, kNotifyMessage, 0, 0))
                pending_ = false;
    }

    void Fire()
    {
        pending_ = false;
        fire_();
    }

private:
    std::function<void()> fire_;
    HWND hwnd_ = nullptr;
    std::atomic<bool> pending_{false};
};

LRESULT CALLBACK NotifyWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == kNotifyMessage) {
        if (auto *n = reinterpret_cast<ThreadNotifier *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA)))
            n->Fire();
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class WindowMessageNotifier final : public Notifier {
public:
    WindowMessageNotifier(HWND hwnd, UINT msg, WPARAM w, LPARAM l) : hwnd_(hwnd), msg_(msg), w_(w), l_(l) {}
    void Notify() override { PostMessageA(hwnd_, msg_, w_, l_); }

private:
    HWND hwnd_;
    UINT msg_;
    WPARAM w_;
    LPARAM l_;
};

class SinkNotifier final : public Notifier {
public:
    explicit SinkNotifier(ISpNotifySink *sink) : sink_(sink) {}
    void Notify() override { sink_->Notify(); }

private:
    CComPtr<ISpNotifySink> sink_;
};

[[nodiscard]] std::unique_ptr<Notifier> MakeThreadNotifier(std::function<void()> fire, HRESULT &hr)
{
    auto n = std::make_unique<ThreadNotifier>(std::move(fire));
    hr = n->Create();
    if (FAILED(hr))
        return nullptr;
    return n;
}

} // namespace

[[nodiscard]] std::unique_ptr<Notifier> MakeCallbackNotifier(ISpNotifyCallback *callback, WPARAM wParam, LPARAM lParam,
                                                             HRESULT &hr)
{
    return MakeThreadNotifier([=] { callback->NotifyCallback(wParam, lParam); }, hr);
}

std::unique_ptr<Notifier> MakeFunctionNotifier(SPNOTIFYCALLBACK *function, WPARAM wParam, LPARAM lParam, HRESULT &hr)
{
    return MakeThreadNotifier([=] { function(wParam, lParam); }, hr);
}

[[nodiscard]] std::unique_ptr<Notifier> MakeWindowMessageNotifier(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return std::make_unique<WindowMessageNotifier>(hwnd, msg, wParam, lParam);
}

[[nodiscard]] std::unique_ptr<Notifier> MakeSinkNotifier(ISpNotifySink *sink)
{
    return std::make_unique<SinkNotifier>(sink);
}

void ClearEvent(SPEVENT &event)
{
    if (event.elParamType == SPET_LPARAM_IS_STRING || event.elParamType == SPET_LPARAM_IS_POINTER)
        CoTaskMemFree(reinterpret_cast<void *>(event.lParam));
    else if (event.elParamType == SPET_LPARAM_IS_TOKEN || event.elParamType == SPET_LPARAM_IS_OBJECT)
        if (auto *unk = reinterpret_cast<IUnknown *>(event.lParam))
            unk->Release();
    std::memset(&event, 0, sizeof event);
}

EventQueue::~EventQueue()
{
    Clear();
}

[[nodiscard]] HRESULT EventQueue::SetInterest(ULONGLONG eventInterest, ULONGLONG queuedInterest)
{
    // Masks are built with SPFEI(), which sets the check bits; anything else
    // is not a mask.
    if ((eventInterest && (eventInterest & SPFEI_FLAGCHECK) != SPFEI_FLAGCHECK) ||
        (queuedInterest && (queuedInterest & SPFEI_FLAGCHECK) != SPFEI_FLAGCHECK) || (queuedInterest & ~eventInterest))
        return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    eventInterest_ = eventInterest;
    queuedInterest_ = queuedInterest;
    return S_OK;
}

void EventQueue::SetNotifier(std::unique_ptr<Notifier> notifier)
{
    std::shared_ptr<Notifier> old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(notifier_, std::shared_ptr<Notifier>(std::move(notifier)));
    }
}

void EventQueue::Add(SPEVENT event, const std::u16string &bookmark)
{
    std::shared_ptr<Notifier> notify;
    {
        std::lock_guard lock(mutex_);
        const ULONGLONG bit = 1ULL << (event.eEventId & 63);
        if (!(eventInterest_ & bit))
            return;
        if (queuedInterest_ & bit) {
            if (event.eEventId == SPEI_TTS_BOOKMARK) {
                auto *text = static_cast<char16_t *>(CoTaskMemAlloc((bookmark.size() + 1) * sizeof(char16_t)));
                if (!text)
                    return;
                std::memcpy(text, bookmark.c_str(), (bookmark.size() + 1) * sizeof(char16_t));
                event.elParamType = SPET_LPARAM_IS_STRING;
                event.lParam = reinterpret_cast<LPARAM>(text);
            }
            events_.push_back(event);
        }
        notify = notifier_;
    }
    if (notify)
        notify->Notify();
}

[[nodiscard]] HRESULT EventQueue::Get(ULONG count, SPEVENT *events, ULONG *fetched)
{
    if (!events || (count != 1 && !fetched))
        return E_POINTER;
    std::lock_guard lock(mutex_);
    ULONG n = 0;
    while (n < count && !events_.empty()) {
        events[n++] = events_.front();
        events_.pop_front();
    }
    if (fetched)
        *fetched = n;
    return n == count ? S_OK : S_FALSE;
}

void EventQueue::Info(SPEVENTSOURCEINFO *info)
{
    std::lock_guard lock(mutex_);
    info->ullEventInterest = eventInterest_;
    info->ullQueuedInterest = queuedInterest_;
    info->ulCount = static_cast<ULONG>(events_.size());
}

void EventQueue::Clear()
{
    std::lock_guard lock(mutex_);
    for (auto &e : events_)
        ClearEvent(e);
    events_.clear();
}

} // namespace orafon::sapi5
