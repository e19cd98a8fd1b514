#include "FliteWorker.h"

#include <orafon/CatchAtEdge.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace orafon::sapi4 {

struct FliteWorker::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    std::thread thread;

    void Run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(mutex);
                wake.wait(lock, [&] { return stopping || !jobs.empty(); });
                if (jobs.empty())
                    return;
                job = std::move(jobs.front());
                jobs.pop_front();
            }
            // Nothing thrown leaves the thread: a submitted job keeps its
            // exception for its caller, and a posted one reports through its
            // own state.
            static_cast<void>(orafon::CatchAtEdge(job));
        }
    }
};

FliteWorker &FliteWorker::Instance()
{
    static FliteWorker worker;
    return worker;
}

FliteWorker::FliteWorker() : state_(std::make_unique<State>())
{
    state_->thread = std::thread([s = state_.get()] { s->Run(); });
}

FliteWorker::~FliteWorker()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (state_->thread.joinable())
        state_->thread.join();
}

void FliteWorker::Post(std::function<void()> job)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->jobs.push_back(std::move(job));
    }
    state_->wake.notify_one();
}

[[nodiscard]] bool FliteWorker::OnWorkerThread() const
{
    return std::this_thread::get_id() == state_->thread.get_id();
}

} // namespace orafon::sapi4
