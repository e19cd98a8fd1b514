#include "ClientThread.h"

#include <orafon/win/winuser.h>

#include <mutex>

namespace orafon::sapi4 {
namespace {

constexpr const char *kWindowClass = "OrafonSapi4Notify";
constexpr UINT kRunCall = WM_APP + 0x41;

LRESULT CALLBACK NotifyWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kRunCall)
        return DefWindowProcA(hwnd, message, wParam, lParam);
    std::unique_ptr<std::function<void()>> call(reinterpret_cast<std::function<void()> *>(lParam));
    if (call && *call)
        (*call)();
    return 0;
}

bool RegisterWindowClass()
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

bool ClientThread::Post(std::function<void()> call)
{
    auto boxed = std::make_unique<std::function<void()>>(std::move(call));
    if (!PostMessageA(window_, kRunCall, 0, reinterpret_cast<LPARAM>(boxed.get())))
        return false;
    boxed.release(); // the window procedure owns it now
    return true;
}

ClientThread::~ClientThread()
{
    // A window belongs to its thread; elsewhere it goes with the thread.
    if (IsCurrent())
        DestroyWindow(window_);
}

} // namespace orafon::sapi4
