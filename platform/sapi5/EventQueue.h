// The voice's event queue and the ways a client can be told about new events.
#pragma once

#include <orafon/win/sapi.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace orafon::sapi5 {

// Tells a client that events are waiting. Notify may be called from any thread.
class Notifier {
public:
    virtual ~Notifier() = default;
    virtual void Notify() = 0;
};

// Runs the client's callback on the thread that registered it: a
// message-only window of that thread receives a message, and the callback
// runs inside that thread's DispatchMessage. One message is outstanding at a
// time; the client drains the queue when it runs.
[[nodiscard]] std::unique_ptr<Notifier> MakeCallbackNotifier(ISpNotifyCallback *callback, WPARAM wParam, LPARAM lParam,
                                                             HRESULT &hr);
std::unique_ptr<Notifier> MakeFunctionNotifier(SPNOTIFYCALLBACK *function, WPARAM wParam, LPARAM lParam, HRESULT &hr);
// Posts the message to the client's window.
[[nodiscard]] std::unique_ptr<Notifier> MakeWindowMessageNotifier(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Calls the sink's Notify from the voice's thread.
[[nodiscard]] std::unique_ptr<Notifier> MakeSinkNotifier(ISpNotifySink *sink);

class EventQueue {
public:
    ~EventQueue();

    [[nodiscard]] HRESULT SetInterest(ULONGLONG eventInterest, ULONGLONG queuedInterest);
    void SetNotifier(std::unique_ptr<Notifier> notifier);

    // Queues the event when its id is of queued interest (a bookmark's name
    // becomes its string) and tells the client when it is of interest.
    void Add(SPEVENT event, const std::u16string &bookmark = {});
    // S_OK when count events were returned, S_FALSE when fewer.
    [[nodiscard]] HRESULT Get(ULONG count, SPEVENT *events, ULONG *fetched);
    void Info(SPEVENTSOURCEINFO *info);
    // Drops everything queued.
    void Clear();

private:
    std::mutex mutex_;
    std::deque<SPEVENT> events_;
    ULONGLONG eventInterest_ = 0;
    ULONGLONG queuedInterest_ = 0;
    std::shared_ptr<Notifier> notifier_;
};

// Frees what an event carries (a string), as the client does with a taken event.
void ClearEvent(SPEVENT &event);

} // namespace orafon::sapi5
