// Runs the calling thread's message queue while a test waits for something
// that arrives through it (engine notifications, events fired by posting).
#pragma once

#include <orafon/win/winuser.h>

#include <chrono>
#include <functional>
#include <thread>

namespace orafon::test {

// Dispatches this thread's messages until done() holds; false when it still
// does not after limit (a generous guard against a hang, not a speed limit).
// Dispatching stops as soon as done() holds, so what is queued after stays.
inline bool PumpUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::seconds(30))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    MSG message;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        bool any = false;
        while (!done() && PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            any = true;
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        // Nothing queued: done() may be changed by another thread without a
        // message, so look again shortly.
        if (!any)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// The same with the limit in milliseconds, as the platform's waits take it.
inline bool PumpUntil(const std::function<bool()> &done, DWORD limitMs)
{
    return PumpUntil(done, std::chrono::milliseconds(limitMs));
}

} // namespace orafon::test
