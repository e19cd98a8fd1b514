// Message delivery: posting from another thread to a pumping thread, and
// sending across threads (a post plus a wait for the answer).
#include <orafon/win/winbase.h>
#include <orafon/win/winuser.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

namespace {

constexpr UINT WM_BENCH = WM_APP + 7;

LRESULT CALLBACK CountingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_BENCH)
        return static_cast<LRESULT>(wParam + 1);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A thread that owns a message-only window and pumps until WM_QUIT.
class Pump {
public:
    Pump()
    {
        thread_ = std::thread([this] {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = CountingProc;
            wc.lpszClassName = "OrafonBenchPump";
            RegisterClassExA(&wc);
            hwnd_ = CreateWindowExA(0, "OrafonBenchPump", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
            id_ = GetCurrentThreadId();
            ready_ = true;
            MSG msg;
            while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
                if (msg.message == WM_BENCH && !msg.hwnd)
                    ++received_;
                DispatchMessageA(&msg);
            }
            DestroyWindow(hwnd_);
        });
        while (!ready_)
            std::this_thread::yield();
    }
    ~Pump()
    {
        PostThreadMessageA(id_, WM_QUIT, 0, 0);
        thread_.join();
    }
    HWND hwnd() const { return hwnd_; }
    DWORD id() const { return id_; }
    long received() const { return received_; }

private:
    std::thread thread_;
    std::atomic<bool> ready_{false};
    std::atomic<long> received_{0};
    HWND hwnd_ = nullptr;
    DWORD id_ = 0;
};

void BM_PostToPumpingThread(benchmark::State &state)
{
    Pump pump;
    long posted = 0;
    for (auto _ : state) {
        while (!PostThreadMessageA(pump.id(), WM_BENCH, 0, 0))
            std::this_thread::yield(); // queue full: let the pump catch up
        ++posted;
    }
    while (pump.received() < posted)
        std::this_thread::yield();
    state.SetItemsProcessed(posted);
}
BENCHMARK(BM_PostToPumpingThread);

void BM_SendAcrossThreads(benchmark::State &state)
{
    Pump pump;
    WPARAM i = 0;
    for (auto _ : state) {
        if (SendMessageA(pump.hwnd(), WM_BENCH, i, 0) != static_cast<LRESULT>(i + 1))
            state.SkipWithError("wrong answer");
        ++i;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SendAcrossThreads)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
