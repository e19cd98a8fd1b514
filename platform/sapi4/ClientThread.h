// Runs notification calls on the thread that selected an engine, through a
// message-only window that thread owns: they arrive as that thread's
// messages, the way the platform's own engines deliver them.
#pragma once

#include <orafon/win/wintypes.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace orafon::sapi4 {

class ClientThread {
public:
    // The calling thread's window, made on first use; null when no window can be made.
    static std::shared_ptr<ClientThread> Current();

    // Queues a call for the owning thread; false when it cannot be queued.
    [[nodiscard]] bool Post(std::function<void()> call);
    bool IsCurrent() const { return std::this_thread::get_id() == owner_; }

    // Runs a queued call (on the owning thread, from its window).
    void Run(uint64_t id);

    ClientThread(HWND window) : window_(window), owner_(std::this_thread::get_id()) {}
    ~ClientThread();
    ClientThread(const ClientThread &) = delete;
    ClientThread &operator=(const ClientThread &) = delete;

private:
    HWND window_;
    std::thread::id owner_;
    // Calls are kept here, not in the messages, so that calls nobody will
    // dispatch any more are released with this object.
    std::mutex mutex_;
    std::map<uint64_t, std::function<void()>> pending_;
    uint64_t nextId_ = 1;
};

} // namespace orafon::sapi4
