// Thread message queues and message-only windows.
//
// Every thread gets a queue the first time it calls one of these functions;
// the queue dies with the thread. Posting appends to the owner's queue and
// wakes it; a message sent from another thread waits in the owner's queue
// until the owner pumps (GetMessage, PeekMessage, or its own SendMessage),
// and the sender processes messages sent to it meanwhile, so two threads
// sending to each other do not deadlock.
#include <orafon/CaseFold.h>
#include <orafon/LastErrorEdge.h>
#include <orafon/win/winbase.h>
#include <orafon/win/winuser.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

// Windows' default limit of posted messages waiting in one queue.
constexpr size_t kMaxPostedMessages = 10000;

struct Queue;

struct SentMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::shared_ptr<Queue> replyTo; // the sender's queue
    LRESULT result = 0;
    bool done = false; // guarded by replyTo->mutex
};

struct Queue {
    explicit Queue(DWORD id) : threadId(id) {}
    const DWORD threadId;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool quit = false;
    int quitCode = 0;
    bool closed = false;
};

struct Window {
    DWORD ownerThread;
    std::weak_ptr<Queue> queue;
    WNDPROC proc;
    LONG_PTR userData = 0;
    ATOM classAtom;
    bool destroying = false;
};

struct WindowClass {
    ATOM atom;
    std::string name;
    HINSTANCE instance;
    WNDCLASSEXA info;
};

// Process-wide tables, never destroyed so that thread exit during process
// exit still finds them.
struct Tables {
    std::mutex mutex;
    std::unordered_map<DWORD, std::shared_ptr<Queue>> queues;
    std::unordered_map<uintptr_t, Window> windows;
    std::vector<WindowClass> classes;
    uintptr_t nextWindow = 0x10010;
    ATOM nextAtom = 0xC000;
};

Tables &GetTables()
{
    static Tables *tables = new Tables;
    return *tables;
}

void CompleteSent(SentMessage &sm, LRESULT result)
{
    std::lock_guard lock(sm.replyTo->mutex);
    sm.result = result;
    sm.done = true;
    sm.replyTo->wake.notify_all();
}

// Retires the calling thread's queue when the thread ends: its windows go,
// waiting senders are released with 0, posted messages are dropped.
void RetireQueue(const std::shared_ptr<Queue> &queue)
{
    Tables &t = GetTables();
    {
        std::lock_guard lock(t.mutex);
        auto it = t.queues.find(queue->threadId);
        if (it != t.queues.end() && it->second == queue)
            t.queues.erase(it);
        for (auto w = t.windows.begin(); w != t.windows.end();) {
            if (w->second.ownerThread == queue->threadId)
                w = t.windows.erase(w);
            else
                ++w;
        }
    }
    std::deque<std::shared_ptr<SentMessage>> pending;
    {
        std::lock_guard lock(queue->mutex);
        queue->closed = true;
        queue->posted.clear();
        pending.swap(queue->sent);
    }
    for (auto &sm : pending)
        CompleteSent(*sm, 0);
}

struct ThreadQueue {
    std::shared_ptr<Queue> queue;
    ~ThreadQueue()
    {
        if (queue)
            RetireQueue(queue);
    }
};

thread_local ThreadQueue t_queue;

const std::shared_ptr<Queue> &CurrentQueue()
{
    if (!t_queue.queue) {
        auto queue = std::make_shared<Queue>(GetCurrentThreadId());
        Tables &t = GetTables();
        std::lock_guard lock(t.mutex);
        t.queues[queue->threadId] = queue;
        t_queue.queue = std::move(queue);
    }
    return t_queue.queue;
}

std::shared_ptr<Queue> QueueOfThread(DWORD threadId)
{
    Tables &t = GetTables();
    std::lock_guard lock(t.mutex);
    auto it = t.queues.find(threadId);
    return it == t.queues.end() ? nullptr : it->second;
}

uintptr_t Key(HWND hwnd)
{
    return reinterpret_cast<uintptr_t>(hwnd);
}

// A copy of what is needed to reach a window without holding the table lock.
struct WindowRef {
    DWORD ownerThread = 0;
    std::shared_ptr<Queue> queue;
    WNDPROC proc = nullptr;
};

[[nodiscard]] bool FindWindow(HWND hwnd, WindowRef &ref)
{
    Tables &t = GetTables();
    std::lock_guard lock(t.mutex);
    auto it = t.windows.find(Key(hwnd));
    if (it == t.windows.end())
        return false;
    ref.ownerThread = it->second.ownerThread;
    ref.queue = it->second.queue.lock();
    ref.proc = it->second.proc;
    return true;
}

[[nodiscard]] bool MatchesFilter(const MSG &msg, HWND hwnd, UINT lo, UINT hi)
{
    if (hwnd == reinterpret_cast<HWND>(-1)) {
        if (msg.hwnd)
            return false;
    } else if (hwnd && msg.hwnd != hwnd) {
        return false;
    }
    if (lo == 0 && hi == 0)
        return true;
    if (lo > hi) // Windows reads a reversed range as everything outside it
        return msg.message >= lo || msg.message <= hi;
    return msg.message >= lo && msg.message <= hi;
}

MSG MakeMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    MSG msg{};
    msg.hwnd = hwnd;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = GetTickCount();
    return msg;
}

[[nodiscard]] BOOL Post(const std::shared_ptr<Queue> &queue, const MSG &msg, DWORD missingError)
{
    {
        std::lock_guard lock(queue->mutex);
        if (queue->closed) {
            SetLastError(missingError);
            return FALSE;
        }
        if (queue->posted.size() >= kMaxPostedMessages) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return FALSE;
        }
        queue->posted.push_back(msg);
    }
    queue->wake.notify_all();
    return TRUE;
}

LRESULT CallProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowRef ref;
    if (!FindWindow(hwnd, ref) || !ref.proc)
        return 0;
    return ref.proc(hwnd, message, wParam, lParam);
}

// Runs the messages other threads sent to this one, in arrival order.
void ProcessSentMessages(Queue &queue)
{
    for (;;) {
        std::shared_ptr<SentMessage> sm;
        {
            std::lock_guard lock(queue.mutex);
            if (queue.sent.empty())
                return;
            sm = std::move(queue.sent.front());
            queue.sent.pop_front();
        }
        WindowRef ref;
        LRESULT result = 0;
        if (FindWindow(sm->hwnd, ref) && ref.ownerThread == queue.threadId && ref.proc)
            result = ref.proc(sm->hwnd, sm->message, sm->wParam, sm->lParam);
        CompleteSent(*sm, result);
    }
}

// Takes the first posted message that passes the filter, else WM_QUIT when
// quitting; caller holds the queue lock.
[[nodiscard]] bool TakeMessage(Queue &queue, MSG &out, HWND hwnd, UINT lo, UINT hi, bool remove)
{
    for (auto it = queue.posted.begin(); it != queue.posted.end(); ++it) {
        if (MatchesFilter(*it, hwnd, lo, hi)) {
            out = *it;
            if (remove)
                queue.posted.erase(it);
            return true;
        }
    }
    if (queue.quit) {
        out = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(queue.quitCode), 0);
        if (remove)
            queue.quit = false;
        return true;
    }
    return false;
}

[[nodiscard]] bool ValidFilterWindow(HWND hwnd)
{
    if (!hwnd || hwnd == reinterpret_cast<HWND>(-1))
        return true;
    WindowRef ref;
    return FindWindow(hwnd, ref);
}

const WindowClass *FindClass(const Tables &t, LPCSTR name, HINSTANCE instance)
{
    const auto atom = reinterpret_cast<uintptr_t>(name);
    const WindowClass *any = nullptr;
    for (const WindowClass &c : t.classes) {
        const bool match = atom < 0x10000
                               ? c.atom == atom
                               : orafon::EqualsIgnoringCase(std::string_view(c.name), std::string_view(name));
        if (!match)
            continue;
        if (c.instance == instance)
            return &c;
        if (!any)
            any = &c;
    }
    return any;
}

void PurgeWindowMessages(const std::shared_ptr<Queue> &queue, HWND hwnd)
{
    if (!queue)
        return;
    std::lock_guard lock(queue->mutex);
    queue->posted.erase(
        std::remove_if(queue->posted.begin(), queue->posted.end(), [hwnd](const MSG &m) { return m.hwnd == hwnd; }),
        queue->posted.end());
}

} // namespace

// ---- Window classes and windows -----------------------------------------------

STDAPI_(ATOM) RegisterClassExA(const WNDCLASSEXA *lpwcx)
{
    return orafon::AtLastErrorEdge<ATOM>(0, [&]() -> ATOM {
        if (!lpwcx || lpwcx->cbSize != sizeof(WNDCLASSEXA) || !lpwcx->lpszClassName || !*lpwcx->lpszClassName ||
            !lpwcx->lpfnWndProc) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        CurrentQueue();
        Tables &t = GetTables();
        std::lock_guard lock(t.mutex);
        for (const WindowClass &c : t.classes) {
            if (c.instance == lpwcx->hInstance &&
                orafon::EqualsIgnoringCase(std::string_view(c.name), std::string_view(lpwcx->lpszClassName))) {
                SetLastError(ERROR_CLASS_ALREADY_EXISTS);
                return 0;
            }
        }
        if (t.nextAtom == 0xFFFF) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        WindowClass c{t.nextAtom++, lpwcx->lpszClassName, lpwcx->hInstance, *lpwcx};
        c.info.lpszClassName = nullptr; // the copy must not point into the caller's memory
        c.info.lpszMenuName = nullptr;
        t.classes.push_back(std::move(c));
        return t.classes.back().atom;
    });
}

STDAPI_(BOOL) UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance)
{
    if (!lpClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Tables &t = GetTables();
    std::lock_guard lock(t.mutex);
    const WindowClass *c = FindClass(t, lpClassName, hInstance);
    if (!c) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (const auto &w : t.windows) {
        if (w.second.classAtom == c->atom) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    }
    t.classes.erase(t.classes.begin() + (c - t.classes.data()));
    return TRUE;
}

STDAPI_(HWND)
CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X, int Y, int nWidth,
                int nHeight, HWND hWndParent, HANDLE hMenu, HINSTANCE hInstance, LPVOID lpParam)
{
    return orafon::AtLastErrorEdge<HWND>(nullptr, [&]() -> HWND {
        if (!lpClassName) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (hWndParent && hWndParent != HWND_MESSAGE && !IsWindow(hWndParent)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        const std::shared_ptr<Queue> &queue = CurrentQueue();
        HWND hwnd;
        {
            Tables &t = GetTables();
            std::lock_guard lock(t.mutex);
            const WindowClass *c = FindClass(t, lpClassName, hInstance);
            if (!c) {
                SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
                return nullptr;
            }
            const uintptr_t key = t.nextWindow;
            t.nextWindow += 0x10; // handles are never reused, so a stale one stays invalid
            t.windows.emplace(key, Window{queue->threadId, queue, c->info.lpfnWndProc, 0, c->atom});
            hwnd = reinterpret_cast<HWND>(key);
        }
        CREATESTRUCTA cs{
            lpParam,      hInstance,   hMenu,    hWndParent, nHeight, nWidth, Y, X, static_cast<LONG>(dwStyle),
            lpWindowName, lpClassName, dwExStyle};
        if (!CallProc(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
            // Refused before it existed: no WM_DESTROY, as on Windows.
            Tables &t = GetTables();
            std::lock_guard lock(t.mutex);
            t.windows.erase(Key(hwnd));
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (CallProc(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
            DestroyWindow(hwnd);
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        return IsWindow(hwnd) ? hwnd : nullptr;
    });
}

STDAPI_(BOOL) DestroyWindow(HWND hWnd)
{
    return orafon::AtLastErrorEdge<BOOL>(FALSE, [&]() -> BOOL {
        Tables &t = GetTables();
        std::shared_ptr<Queue> queue;
        {
            std::lock_guard lock(t.mutex);
            auto it = t.windows.find(Key(hWnd));
            if (it == t.windows.end()) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return FALSE;
            }
            if (it->second.ownerThread != GetCurrentThreadId()) {
                SetLastError(ERROR_ACCESS_DENIED);
                return FALSE;
            }
            if (it->second.destroying)
                return TRUE;
            it->second.destroying = true;
            queue = it->second.queue.lock();
        }
        CallProc(hWnd, WM_DESTROY, 0, 0);
        CallProc(hWnd, WM_NCDESTROY, 0, 0);
        {
            std::lock_guard lock(t.mutex);
            t.windows.erase(Key(hWnd));
        }
        PurgeWindowMessages(queue, hWnd);
        return TRUE;
    });
}

STDAPI_(BOOL) IsWindow(HWND hWnd)
{
    WindowRef ref;
    return hWnd && FindWindow(hWnd, ref) ? TRUE : FALSE;
}

STDAPI_(LONG_PTR) SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    Tables &t = GetTables();
    std::lock_guard lock(t.mutex);
    auto it = t.windows.find(Key(hWnd));
    if (it == t.windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    // The last error is cleared so a previous value of 0 can be told from
    // a failure.
    SetLastError(ERROR_SUCCESS);
    switch (nIndex) {
    case GWLP_USERDATA:
        return std::exchange(it->second.userData, dwNewLong);
    case GWLP_WNDPROC: {
        if (!dwNewLong) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        WNDPROC old = std::exchange(it->second.proc, reinterpret_cast<WNDPROC>(dwNewLong));
        return reinterpret_cast<LONG_PTR>(old);
    }
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

STDAPI_(LONG_PTR) GetWindowLongPtrA(HWND hWnd, int nIndex)
{
    Tables &t = GetTables();
    std::lock_guard lock(t.mutex);
    auto it = t.windows.find(Key(hWnd));
    if (it == t.windows.end()) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    switch (nIndex) {
    case GWLP_USERDATA:
        return it->second.userData;
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(it->second.proc);
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

STDAPI_(LRESULT) DefWindowProcA(HWND hWnd, UINT Msg, WPARAM, LPARAM)
{
    switch (Msg) {
    case WM_NCCREATE:
        return TRUE;
    case WM_CLOSE:
        DestroyWindow(hWnd);
        return 0;
    default:
        return 0;
    }
}

// ---- Posting and sending ------------------------------------------------------

STDAPI_(BOOL) PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return orafon::AtLastErrorEdge<BOOL>(FALSE, [&]() -> BOOL {
        std::shared_ptr<Queue> queue = idThread == GetCurrentThreadId() ? CurrentQueue() : QueueOfThread(idThread);
        if (!queue) {
            SetLastError(ERROR_INVALID_THREAD_ID);
            return FALSE;
        }
        return Post(queue, MakeMessage(nullptr, Msg, wParam, lParam), ERROR_INVALID_THREAD_ID);
    });
}

STDAPI_(BOOL) PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return orafon::AtLastErrorEdge<BOOL>(FALSE, [&]() -> BOOL {
        if (!hWnd)
            return PostThreadMessageA(GetCurrentThreadId(), Msg, wParam, lParam);
        WindowRef ref;
        if (!FindWindow(hWnd, ref) || !ref.queue) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        return Post(ref.queue, MakeMessage(hWnd, Msg, wParam, lParam), ERROR_INVALID_WINDOW_HANDLE);
    });
}

STDAPI_(LRESULT) SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return orafon::AtLastErrorEdge<LRESULT>(0, [&]() -> LRESULT {
        WindowRef ref;
        if (!FindWindow(hWnd, ref)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (ref.ownerThread == GetCurrentThreadId())
            return ref.proc ? ref.proc(hWnd, Msg, wParam, lParam) : 0;
        if (!ref.queue) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        const std::shared_ptr<Queue> &self = CurrentQueue();
        auto sm = std::make_shared<SentMessage>(SentMessage{hWnd, Msg, wParam, lParam, self});
        {
            std::lock_guard lock(ref.queue->mutex);
            if (ref.queue->closed) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return 0;
            }
            ref.queue->sent.push_back(sm);
        }
        ref.queue->wake.notify_all();
        for (;;) {
            ProcessSentMessages(*self);
            std::unique_lock lock(self->mutex);
            if (sm->done)
                return sm->result;
            if (self->sent.empty())
                self->wake.wait(lock);
        }
    });
}

STDAPI_(void) PostQuitMessage(int nExitCode)
{
    // A thread whose queue cannot be made for want of memory has no loop to end.
    static_cast<void>(orafon::CatchAtEdge([&] {
        const std::shared_ptr<Queue> &queue = CurrentQueue();
        {
            std::lock_guard lock(queue->mutex);
            queue->quit = true;
            queue->quitCode = nExitCode;
        }
        queue->wake.notify_all();
    }));
}

// ---- Retrieving -----------------------------------------------------------------

STDAPI_(BOOL) GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    return orafon::AtLastErrorEdge<BOOL>(-1, [&]() -> BOOL {
        if (!lpMsg) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return -1;
        }
        if (!ValidFilterWindow(hWnd)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return -1;
        }
        const std::shared_ptr<Queue> &queue = CurrentQueue();
        for (;;) {
            ProcessSentMessages(*queue);
            std::unique_lock lock(queue->mutex);
            if (TakeMessage(*queue, *lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true))
                return lpMsg->message == WM_QUIT ? FALSE : TRUE;
            if (queue->sent.empty())
                queue->wake.wait(lock);
        }
    });
}

STDAPI_(BOOL) PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg)
{
    return orafon::AtLastErrorEdge<BOOL>(FALSE, [&]() -> BOOL {
        if (!lpMsg) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        if (!ValidFilterWindow(hWnd)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        const std::shared_ptr<Queue> &queue = CurrentQueue();
        ProcessSentMessages(*queue);
        std::lock_guard lock(queue->mutex);
        return TakeMessage(*queue, *lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, (wRemoveMsg & PM_REMOVE) != 0) ? TRUE
                                                                                                              : FALSE;
    });
}

STDAPI_(BOOL) TranslateMessage(const MSG *lpMsg)
{
    // Only keyboard messages are translated, and there is no keyboard input.
    (void)lpMsg;
    return FALSE;
}

STDAPI_(LRESULT) DispatchMessageA(const MSG *lpMsg)
{
    return orafon::AtLastErrorEdge<LRESULT>(0, [&]() -> LRESULT {
        if (!lpMsg || !lpMsg->hwnd)
            return 0;
        WindowRef ref;
        if (!FindWindow(lpMsg->hwnd, ref))
            return 0; // the window is gone: the message is dropped
        if (ref.ownerThread != GetCurrentThreadId()) {
            SetLastError(ERROR_WINDOW_OF_OTHER_THREAD);
            return 0;
        }
        return ref.proc ? ref.proc(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam) : 0;
    });
}

STDAPI_(DWORD)
MsgWaitForMultipleObjects(DWORD nCount, const HANDLE *pHandles, BOOL fWaitAll, DWORD dwMilliseconds, DWORD dwWakeMask)
{
    return orafon::AtLastErrorEdge<DWORD>(WAIT_FAILED, [&]() -> DWORD {
        (void)pHandles;
        (void)fWaitAll;
        (void)dwWakeMask;
        // This platform has no waitable kernel objects; only the queue itself
        // can be waited on.
        if (nCount != 0) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return WAIT_FAILED;
        }
        const std::shared_ptr<Queue> &queue = CurrentQueue();
        std::unique_lock lock(queue->mutex);
        auto ready = [&] { return !queue->posted.empty() || !queue->sent.empty() || queue->quit; };
        if (dwMilliseconds == INFINITE) {
            queue->wake.wait(lock, ready);
            return WAIT_OBJECT_0 + nCount;
        }
        if (queue->wake.wait_for(lock, std::chrono::milliseconds(dwMilliseconds), ready))
            return WAIT_OBJECT_0 + nCount;
        return WAIT_TIMEOUT;
    });
}
