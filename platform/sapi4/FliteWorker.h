// flite keeps process-wide state (voices, the lexicon caches, feature lists)
// and is not safe for concurrent use, so every flite call in the process runs
// on this one thread, in order of submission.
#pragma once

#include <functional>
#include <future>
#include <memory>

namespace orafon::sapi4 {

class FliteWorker {
public:
    static FliteWorker &Instance();

    // Queues a job; the future holds its result.
    template <typename F> auto Submit(F &&job) -> std::future<decltype(job())>
    {
        using R = decltype(job());
        auto task = std::make_shared<std::packaged_task<R()>>(std::forward<F>(job));
        std::future<R> result = task->get_future();
        Post([task] { (*task)(); });
        return result;
    }
    // Runs a job and waits for it.
    template <typename F> auto Call(F &&job) -> decltype(job()) { return Submit(std::forward<F>(job)).get(); }
    // Queues a job nobody waits for (cleanup of flite objects).
    void Post(std::function<void()> job);
    [[nodiscard]] bool OnWorkerThread() const;

    ~FliteWorker();

private:
    FliteWorker();
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace orafon::sapi4
