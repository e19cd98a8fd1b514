#include <orafon/win/winbase.h>
#include <orafon/win/winuser.h>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT WM_TEST = WM_APP + 1;
constexpr UINT WM_OTHER = WM_APP + 2;

// Records what a window procedure sees; one per window through GWLP_USERDATA.
struct Recorder {
    std::vector<UINT> messages;
    std::vector<WPARAM> params;
    DWORD lastThread = 0;
    LPVOID createParam = nullptr;
};

LRESULT CALLBACK RecordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCCREATE) {
        auto *cs = reinterpret_cast<CREATESTRUCTA *>(lParam);
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        static_cast<Recorder *>(cs->lpCreateParams)->createParam = cs->lpCreateParams;
    }
    auto *rec = reinterpret_cast<Recorder *>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    if (rec) {
        rec->messages.push_back(msg);
        rec->params.push_back(wParam);
        rec->lastThread = GetCurrentThreadId();
    }
    if (msg == WM_TEST)
        return static_cast<LRESULT>(wParam * 2);
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Window classes are process-wide: registered once, used from any thread.
ATOM RecorderClass()
{
    static const ATOM atom = [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = RecordingProc;
        wc.lpszClassName = "OrafonTestRecorder";
        return RegisterClassExA(&wc);
    }();
    return atom;
}

class MessageWindow {
public:
    explicit MessageWindow(Recorder *rec)
    {
        EXPECT_NE(0, RecorderClass());
        hwnd_ = CreateWindowExA(0, "OrafonTestRecorder", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, rec);
    }
    ~MessageWindow()
    {
        if (IsWindow(hwnd_))
            DestroyWindow(hwnd_);
    }
    MessageWindow(const MessageWindow &) = delete;
    MessageWindow &operator=(const MessageWindow &) = delete;
    HWND get() const { return hwnd_; }

private:
    HWND hwnd_ = nullptr;
};

// Drains the calling thread's queue without waiting.
void Drain()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
}

TEST(MessageQueue, WindowProcedureSeesCreateAndDestroy)
{
    Recorder rec;
    HWND hwnd;
    {
        MessageWindow window(&rec);
        hwnd = window.get();
        ASSERT_NE(nullptr, hwnd);
        EXPECT_TRUE(IsWindow(hwnd));
        EXPECT_EQ(&rec, rec.createParam);
    }
    EXPECT_FALSE(IsWindow(hwnd));
    EXPECT_EQ((std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}), rec.messages);
}

TEST(MessageQueue, PostedMessagesDispatchInOrder)
{
    Recorder rec;
    MessageWindow window(&rec);
    rec.messages.clear();
    rec.params.clear();
    for (WPARAM i = 0; i < 100; ++i)
        ASSERT_TRUE(PostMessageA(window.get(), WM_TEST, i, 0));
    Drain();
    ASSERT_EQ(100u, rec.params.size());
    for (WPARAM i = 0; i < 100; ++i)
        EXPECT_EQ(i, rec.params[i]);
}

TEST(MessageQueue, PeekNoRemoveLeavesTheMessage)
{
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_OTHER, 7, 8));
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(WM_OTHER, msg.message);
    EXPECT_EQ(nullptr, msg.hwnd);
    EXPECT_EQ(7u, msg.wParam);
    EXPECT_EQ(8, msg.lParam);
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(WM_OTHER, msg.message);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(MessageQueue, FiltersSelectByRangeAndWindow)
{
    Recorder rec;
    MessageWindow window(&rec);
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_OTHER, 1, 0));
    ASSERT_TRUE(PostMessageA(window.get(), WM_TEST, 2, 0));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER, 3, 0));
    MSG msg{};
    // Range filter skips earlier messages outside it.
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_USER, WM_USER, PM_REMOVE));
    EXPECT_EQ(3u, msg.wParam);
    // Window filter takes only that window's messages.
    ASSERT_TRUE(PeekMessageA(&msg, window.get(), 0, 0, PM_REMOVE));
    EXPECT_EQ(2u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, window.get(), 0, 0, PM_REMOVE));
    // (HWND)-1 takes only thread messages.
    ASSERT_TRUE(PeekMessageA(&msg, reinterpret_cast<HWND>(-1), 0, 0, PM_REMOVE));
    EXPECT_EQ(1u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
}

TEST(MessageQueue, GetMessageReturnsZeroOnQuitAfterPostedMessages)
{
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_OTHER, 1, 0));
    PostQuitMessage(42);
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_OTHER, 2, 0));
    MSG msg{};
    EXPECT_EQ(TRUE, GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(1u, msg.wParam);
    EXPECT_EQ(TRUE, GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(2u, msg.wParam);
    EXPECT_EQ(FALSE, GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(WM_QUIT, msg.message);
    EXPECT_EQ(42u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)); // the quit was taken
}

TEST(MessageQueue, GetMessageWakesOnPostFromAnotherThread)
{
    const DWORD me = GetCurrentThreadId();
    MSG msg{};
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // make sure the queue exists
    std::thread poster([me] {
        for (WPARAM i = 0; i < 1000; ++i)
            PostThreadMessageA(me, WM_TEST, i, 0);
        PostThreadMessageA(me, WM_QUIT, 5, 0);
    });
    std::vector<WPARAM> got;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        got.push_back(msg.wParam);
    poster.join();
    EXPECT_EQ(5u, msg.wParam);
    ASSERT_EQ(1000u, got.size());
    for (WPARAM i = 0; i < got.size(); ++i)
        ASSERT_EQ(i, got[i]);
}

TEST(MessageQueue, ManySendersKeepTheirOwnOrder)
{
    Recorder rec;
    MessageWindow window(&rec);
    rec.params.clear();
    constexpr int kSenders = 4;
    constexpr WPARAM kEach = 500;
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders; ++s)
        senders.emplace_back([s, hwnd = window.get()] {
            for (WPARAM i = 0; i < kEach; ++i)
                PostMessageA(hwnd, WM_TEST, static_cast<WPARAM>(s) * 100000 + i, 0);
        });
    for (auto &t : senders)
        t.join();
    Drain();
    ASSERT_EQ(kSenders * kEach, rec.params.size());
    std::vector<WPARAM> next(kSenders, 0);
    for (WPARAM p : rec.params) {
        const size_t s = p / 100000;
        ASSERT_LT(s, next.size());
        EXPECT_EQ(next[s], p % 100000);
        next[s] = p % 100000 + 1;
    }
}

TEST(MessageQueue, SendMessageOnOwningThreadCallsDirectly)
{
    Recorder rec;
    MessageWindow window(&rec);
    EXPECT_EQ(42, SendMessageA(window.get(), WM_TEST, 21, 0));
    EXPECT_EQ(WM_TEST, rec.messages.back());
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)); // nothing was queued
}

TEST(MessageQueue, SendMessageFromAnotherThreadRunsOnOwner)
{
    Recorder rec;
    MessageWindow window(&rec);
    const DWORD owner = GetCurrentThreadId();
    std::promise<LRESULT> result;
    std::thread sender([&] {
        result.set_value(SendMessageA(window.get(), WM_TEST, 50, 0));
        PostThreadMessageA(owner, WM_QUIT, 0, 0);
    });
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    sender.join();
    EXPECT_EQ(100, result.get_future().get());
    EXPECT_EQ(owner, rec.lastThread);
}

// Two threads sending to each other's windows: each processes the other's
// message while waiting for its own answer.
TEST(MessageQueue, CrossSendingThreadsDoNotDeadlock)
{
    Recorder recA;
    MessageWindow windowA(&recA);
    std::promise<HWND> windowB;
    std::promise<LRESULT> fromB;
    Recorder recB;
    std::thread b([&] {
        MessageWindow own(&recB);
        windowB.set_value(own.get());
        fromB.set_value(SendMessageA(windowA.get(), WM_TEST, 3, 0));
    });
    const HWND hwndB = windowB.get_future().get();
    const LRESULT fromA = SendMessageA(hwndB, WM_TEST, 4, 0);
    b.join();
    // B answered A while waiting for its own answer, and A did the same.
    EXPECT_EQ(8, fromA);
    EXPECT_EQ(6, fromB.get_future().get());
}

TEST(MessageQueue, MessagesForDestroyedWindowsAreDropped)
{
    Recorder rec;
    HWND hwnd;
    {
        MessageWindow window(&rec);
        hwnd = window.get();
        ASSERT_TRUE(PostMessageA(hwnd, WM_TEST, 1, 0));
    }
    const size_t seen = rec.messages.size();
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = WM_TEST;
    EXPECT_EQ(0, DispatchMessageA(&msg));
    Drain();
    EXPECT_EQ(seen, rec.messages.size());
    EXPECT_FALSE(PostMessageA(hwnd, WM_TEST, 1, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_EQ(0, SendMessageA(hwnd, WM_TEST, 1, 0));
}

TEST(MessageQueue, PostingToThreadWithoutQueueFails)
{
    std::atomic<DWORD> id{0};
    std::thread t([&] { id = GetCurrentThreadId(); });
    t.join();
    EXPECT_FALSE(PostThreadMessageA(id, WM_TEST, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_THREAD_ID), GetLastError());
}

TEST(MessageQueue, ThreadExitReleasesWaitingSender)
{
    std::promise<HWND> created;
    std::promise<void> release;
    Recorder rec;
    std::thread owner([&] {
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        HWND hwnd =
            CreateWindowExA(0, MAKEINTATOM(RecorderClass()), "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, &rec);
        created.set_value(hwnd);
        release.get_future().wait(); // exits without pumping
    });
    const HWND hwnd = created.get_future().get();
    ASSERT_NE(nullptr, hwnd);
    std::thread sender([&] { EXPECT_EQ(0, SendMessageA(hwnd, WM_TEST, 1, 0)); });
    release.set_value();
    owner.join();
    sender.join();
    EXPECT_FALSE(IsWindow(hwnd)); // the thread's windows went with it
}

TEST(MessageQueue, MsgWaitTimesOutOrSeesMessage)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT));
    const DWORD me = GetCurrentThreadId();
    std::thread poster([me] { PostThreadMessageA(me, WM_TEST, 0, 0); });
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT));
    poster.join();
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    HANDLE h = nullptr;
    EXPECT_EQ(WAIT_FAILED, MsgWaitForMultipleObjects(1, &h, FALSE, 0, QS_ALLINPUT));
}

TEST(MessageQueue, BadArgumentsGiveErrors)
{
    MSG msg;
    EXPECT_EQ(-1, GetMessageA(nullptr, nullptr, 0, 0));
    EXPECT_EQ(-1, GetMessageA(&msg, reinterpret_cast<HWND>(0x7777), 0, 0));
    EXPECT_FALSE(PeekMessageA(nullptr, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(0, DispatchMessageA(nullptr));
    EXPECT_FALSE(DestroyWindow(reinterpret_cast<HWND>(0x7777)));
    EXPECT_EQ(nullptr, CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS), GetLastError());
    EXPECT_EQ(0, RegisterClassExA(nullptr));
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "OrafonDuplicate";
    EXPECT_NE(0, RegisterClassExA(&wc));
    EXPECT_EQ(0, RegisterClassExA(&wc));
    EXPECT_EQ(static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS), GetLastError());
    EXPECT_TRUE(UnregisterClassA("orafonduplicate", nullptr));
    EXPECT_FALSE(UnregisterClassA("OrafonDuplicate", nullptr));
}

TEST(MessageQueue, UserDataAndWindowProcedureSlots)
{
    Recorder rec;
    MessageWindow window(&rec);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&rec), SetWindowLongPtrA(window.get(), GWLP_USERDATA, 0));
    EXPECT_EQ(0, GetWindowLongPtrA(window.get(), GWLP_USERDATA));
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(&RecordingProc), GetWindowLongPtrA(window.get(), GWLP_WNDPROC));
    EXPECT_EQ(0, SetWindowLongPtrA(window.get(), 12345, 1));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_INDEX), GetLastError());
}

TEST(MessageQueue, CreateRefusedByProcedureGivesNoWindow)
{
    WNDCLASSEXA wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        return m == WM_CREATE ? -1 : DefWindowProcA(h, m, w, l);
    };
    wc.lpszClassName = "OrafonRefuses";
    ASSERT_NE(0, RegisterClassExA(&wc));
    EXPECT_EQ(nullptr, CreateWindowExA(0, "OrafonRefuses", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    EXPECT_TRUE(UnregisterClassA("OrafonRefuses", nullptr));
}

} // namespace
