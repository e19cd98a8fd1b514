// The calling thread's message queue, and Ctrl-C while a call waits in it.
#pragma once

#include <orafon/win/windows.h>

#include <pybind11/pybind11.h>

#include <functional>

namespace orafon::python {

// Runs the thread's messages until pred() is true (returns True) or timeout
// seconds pass (returns False); None waits without limit. Ctrl-C raises
// KeyboardInterrupt between messages.
[[nodiscard]] bool PumpUntil(const pybind11::object &pred, const pybind11::object &timeout);

// While a synchronous call runs on the main thread, Ctrl-C does not wait for
// it to return: the first one runs stop on this thread from inside whatever
// message loop the object runs (or, without stop, ends that loop with
// WM_QUIT); a second one ends the loop. The caller raises KeyboardInterrupt
// once the call has returned.
class InterruptScope {
public:
    explicit InterruptScope(std::function<void()> stop);
    InterruptScope(const InterruptScope &) = delete;
    InterruptScope &operator=(const InterruptScope &) = delete;
    ~InterruptScope();

    [[nodiscard]] bool Interrupted() const { return interrupts_ > 0; }
    // Called on the scope's thread when an interrupt message arrives.
    void OnInterrupt();

private:
    std::function<void()> stop_;
    HWND window_ = nullptr;
    InterruptScope *outer_ = nullptr;
    bool installed_ = false;
    int interrupts_ = 0;
};

// An event handler raised KeyboardInterrupt: the running call stops as for
// Ctrl-C and the interrupt is raised when it returns.
void NoteHandlerInterrupt();
[[nodiscard]] bool TakeHandlerInterrupt();

// Raises KeyboardInterrupt (or whatever Python's SIGINT handler raises).
void RaiseInterrupt();

// Remembers the thread that imported the module, where Python handles signals.
void RecordMainThread();

} // namespace orafon::python
