// The test host's persistent thread pool: worker threads started once and kept, so that a
// multiThread call costs a wake-up instead of a thread start per index.
//
// A run hands out the indices 0 .. count-1 one at a time to whoever asks first: the calling
// thread and up to `threads - 1` workers. The caller takes indices too, so a run always finishes
// even when every worker is busy elsewhere; that is what lets runs from several host threads
// share the workers, and a thread function call multiThread again (a nested run) without
// deadlock. While every worker is idle, a run of `count <= threads` indices has each index on a
// thread of its own at the same time, as spawn-per-call gives.
//
// Workers start on demand (a run needing more than the pool has starts the difference) and stay
// until the pool is destroyed. A worker that cannot be started leaves the pool smaller; its
// indices are run by the others and the caller, so a run never loses one.
//
// Thread-safety: `run` may be called from any number of threads at once, workers included.
// The destructor must not overlap a run; it wakes every worker and joins it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace ZarvelHost {

class ThreadPool {
public:
    /// What a run calls for each index: `(index, count, argument)`, the multiThread signature.
    using Function = void(unsigned int index, unsigned int count, void* argument);

    /// No worker is started before the first run that needs one.
    ThreadPool() = default;
    /// Stops and joins every worker. No run may be in progress.
    ~ThreadPool();
    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    /// Calls `function(index, count, argument)` once for every index below `count`, on the
    /// calling thread and at most `threads - 1` workers (`threads` 0 counts as 1), and returns
    /// when every call has returned. `function` must not throw. Nothing is run for `count` 0.
    void run(Function* function, unsigned int count, unsigned int threads, void* argument);

    /// Workers started so far (they are kept).
    std::size_t workerCount() const;

private:
    struct Job;

    void startWorkers(std::size_t wanted);
    void work();
    static void runIndices(Job& job);

    mutable std::mutex mutex_;
    std::condition_variable wake_;      // a job was queued, or the pool stops
    std::condition_variable finished_;  // a worker left a job
    std::deque<Job*> jobs_;             // runs with indices still to hand out
    std::vector<std::thread> workers_;
    bool stopping_ = false;
};

}  // namespace ZarvelHost
