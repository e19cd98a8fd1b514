#include "ClientThread.h"

#include <orafon/win/winuser.h>

#include <mutex>

namespace orafon::sapi4 {
namespace {

constexpr const char *kWindowClass = "OrafonSapi4Notify";
constexpr UINT kRunCall = WM_APP + 0x41;

// wParam: the ClientThread, which the owning thread keeps alive for as long
// as it can dispatch; lParam: the call's id.
LRESULT CALLBACK NotifyWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kRunCall)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    if (auto *client = reinterpret_cast<ClientThread *>(wParam))
        client->Run(static_cast<uint64_t>(lParam));
    return 0;
}

[[nodiscard]] bool RegisterWindowClass()
{
    static std::once_flag once;
    static bool registered = false;
    std::call_once(once, [] {
        WNDCLASSEXA wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = NotifyWindowProc;
        wc.lpszClassName = kWindowClass;
        registered = RegisterClassExA(&wc) != 0;
    });
    return registered;
}

thread_local std::shared_ptr<ClientThread> t_current;

} // namespace

std::shared_ptr<ClientThread> ClientThread::Current()
{
    if (t_current)
        return t_current;
    if (!RegisterWindowClass())
        return nullptr;
    HWND window = CreateWindowExA(0, kWindowClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    if (!window)
        return nullptr;
    t_current = std::make_shared<ClientThread>(window);
    return t_current;
}

[[nodiscard]] bool ClientThread::Post(std::function<void()> call)
{
    uint64_t id = 0;
    {
        std::lock_guard lock(mutex_);
        id = nextId_++;
        pending_.emplace(id, std::move(call));
    }
    if (PostMessageA(window_, kRunCall, reinterpret_cast<WPARAM>(this), static_cast<LPARAM>(id)))
        return true;
    std::lock_guard lock(mutex_);
    pending_.erase(id);
    return false;
}

void ClientThread::Run(uint64_t id)
{
    std::function<void()> call;
    {
        std::lock_guard lock(mutex_);
        auto it = pending_.find(id);
        if (it == pending_.end())
            return;
        call = std::move(it->second);
        pending_.erase(it);
    }
    if (call)
        call();
}

ClientThread::~ClientThread()
{
    // A window belongs to its thread; elsewhere it goes with the thread.
    if (IsCurrent())
        DestroyWindow(window_);
}

} // namespace orafon::sapi4
