// A thread that runs tasks one after another, in the order given.
#pragma once

#include <orafon/CatchAtEdge.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orafon::sapi5 {

class SerialExecutor {
public:
    SerialExecutor() : thread_([this] { Run(); }) {}
    ~SerialExecutor()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
            cv_.notify_all();
        }
        thread_.join();
    }
    SerialExecutor(const SerialExecutor &) = delete;
    SerialExecutor &operator=(const SerialExecutor &) = delete;

    void Post(std::function<void()> task)
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
        cv_.notify_all();
    }

private:
    void Run()
    {
        std::unique_lock lock(mutex_);
        while (true) {
            cv_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
            if (tasks_.empty())
                return;
            auto task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            // The thread is an edge: a task that throws (runs out of memory)
            // is over, and the next one runs.
            static_cast<void>(orafon::CatchAtEdge(task));
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace orafon::sapi5
