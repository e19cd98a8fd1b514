#include "MessagePump.h"

#include <orafon/CatchAtEdge.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace py = pybind11;

namespace orafon::python {

namespace {

constexpr UINT WM_ORAFON_INTERRUPT = WM_APP + 0x3A1;
constexpr DWORD kPollMilliseconds = 50;

pthread_t g_mainThread;
std::atomic<bool> g_mainThreadKnown{false};
int g_pipe[2] = {-1, -1};
std::atomic<HWND> g_interruptWindow{nullptr};
thread_local InterruptScope *t_scope = nullptr;
thread_local bool t_handlerInterrupt = false;
struct sigaction g_previous;

void OnSigint(int)
{
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = write(g_pipe[1], &byte, 1);
    errno = saved;
}

// Turns each Ctrl-C written by the signal handler into a message for the
// interrupted thread: posting a message is not safe in a signal handler.
void StartWatcher()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (pipe2(g_pipe, O_CLOEXEC) != 0)
            return;
        std::thread([] {
            char byte;
            while (read(g_pipe[0], &byte, 1) == 1 || errno == EINTR) {
                if (HWND window = g_interruptWindow.load())
                    PostMessageA(window, WM_ORAFON_INTERRUPT, 0, 0);
            }
        }).detach();
    });
}

LRESULT CALLBACK InterruptWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_ORAFON_INTERRUPT) {
        // Nothing thrown goes back through the message pump.
        if (t_scope)
            static_cast<void>(orafon::CatchAtEdge([] { t_scope->OnInterrupt(); }));
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

HWND CreateInterruptWindow()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = InterruptWindowProc;
        wc.lpszClassName = "OrafonPythonInterrupt";
        RegisterClassExA(&wc);
    });
    return CreateWindowExA(0, "OrafonPythonInterrupt", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

[[nodiscard]] bool OnMainThread()
{
    return g_mainThreadKnown && pthread_equal(pthread_self(), g_mainThread);
}

// Python's own handler must be in place for us to stand in for it; a script
// that installed SIG_IGN or SIG_DFL keeps what it chose.
[[nodiscard]] bool PythonHandlesSigint()
{
    struct sigaction current;
    if (sigaction(SIGINT, nullptr, &current) != 0)
        return false;
    return !(current.sa_flags & SA_SIGINFO) && current.sa_handler != SIG_IGN && current.sa_handler != SIG_DFL;
}

void DispatchWaitingMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            // Keep the quit request for the loop that owns it.
            PostQuitMessage(static_cast<int>(message.wParam));
            break;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

} // namespace

void RecordMainThread()
{
    g_mainThread = pthread_self();
    g_mainThreadKnown = true;
}

InterruptScope::InterruptScope(std::function<void()> stop) : stop_(std::move(stop))
{
    outer_ = t_scope;
    t_scope = this;
    if (outer_ || !OnMainThread() || !PythonHandlesSigint())
        return;
    StartWatcher();
    window_ = CreateInterruptWindow();
    if (!window_)
        return;
    g_interruptWindow = window_;
    struct sigaction ours {};
    ours.sa_handler = OnSigint;
    sigemptyset(&ours.sa_mask);
    installed_ = sigaction(SIGINT, &ours, &g_previous) == 0;
}

InterruptScope::~InterruptScope()
{
    if (installed_)
        sigaction(SIGINT, &g_previous, nullptr);
    if (window_) {
        g_interruptWindow = nullptr;
        DestroyWindow(window_);
    }
    t_scope = outer_;
}

void InterruptScope::OnInterrupt()
{
    ++interrupts_;
    if (interrupts_ == 1 && stop_)
        stop_();
    else
        PostQuitMessage(0);
}

void NoteHandlerInterrupt()
{
    t_handlerInterrupt = true;
    if (t_scope && t_scope->Interrupted() == false && g_interruptWindow.load())
        PostMessageA(g_interruptWindow.load(), WM_ORAFON_INTERRUPT, 0, 0);
}

[[nodiscard]] bool TakeHandlerInterrupt()
{
    return std::exchange(t_handlerInterrupt, false);
}

void RaiseInterrupt()
{
    if (!OnMainThread()) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw py::error_already_set();
    }
    // Through Python's SIGINT handler, so that a script's own handler runs;
    // one that does not raise lets the call return normally.
    PyErr_SetInterrupt();
    if (PyErr_CheckSignals() != 0)
        throw py::error_already_set();
}

[[nodiscard]] bool PumpUntil(const py::object &pred, const py::object &timeout)
{
    using Clock = std::chrono::steady_clock;
    const bool limited = !timeout.is_none();
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(limited ? timeout.cast<double>() : 0.0));
    for (;;) {
        {
            py::gil_scoped_release unlocked;
            DispatchWaitingMessages();
        }
        if (TakeHandlerInterrupt())
            RaiseInterrupt();
        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();
        const int done = PyObject_IsTrue(pred().ptr());
        if (done < 0)
            throw py::error_already_set();
        if (done)
            return true;
        const auto now = Clock::now();
        if (limited && now >= deadline)
            return false;
        DWORD wait = kPollMilliseconds;
        if (limited) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            wait = static_cast<DWORD>(std::min<long long>(wait, std::max<long long>(left, 1)));
        }
        py::gil_scoped_release unlocked;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, wait, QS_ALLINPUT);
    }
}

} // namespace orafon::python
