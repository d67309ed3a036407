#include "host/ThreadPool.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <system_error>

namespace ZarvelHost {

// One run, on its caller's stack. The caller leaves only once no worker is inside it.
struct ThreadPool::Job {
    Function* function = nullptr;
    unsigned int count = 0;
    void* argument = nullptr;
    unsigned int helperLimit = 0;  // workers that may join besides the caller
    unsigned int helpers = 0;      // workers inside now (under mutex_)
    // 64 bits: every thread overshoots `count` by one on its last claim, which must not wrap.
    std::atomic<std::uint64_t> next{0};

    bool wantsHelp() const {
        return helpers < helperLimit && next.load(std::memory_order_relaxed) < count;
    }
};

ThreadPool::~ThreadPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) {
        worker.join();
    }
}

void ThreadPool::run(Function* function, unsigned int count, unsigned int threads, void* argument) {
    if (count == 0) {
        return;
    }
    Job job;
    job.function = function;
    job.count = count;
    job.argument = argument;
    job.helperLimit = std::min(count, std::max(threads, 1u)) - 1;
    if (job.helperLimit > 0) {
        {
            std::lock_guard lock(mutex_);
            startWorkers(job.helperLimit);
            jobs_.push_back(&job);
        }
        for (unsigned int i = 0; i < job.helperLimit; ++i) {
            wake_.notify_one();
        }
    }
    runIndices(job);
    if (job.helperLimit > 0) {
        std::unique_lock lock(mutex_);
        jobs_.erase(std::find(jobs_.begin(), jobs_.end(), &job));
        finished_.wait(lock, [&] { return job.helpers == 0; });
    }
}

std::size_t ThreadPool::workerCount() const {
    std::lock_guard lock(mutex_);
    return workers_.size();
}

void ThreadPool::startWorkers(std::size_t wanted) {
    if (workers_.size() >= wanted) {
        return;
    }
    workers_.reserve(wanted);
    try {
        while (workers_.size() < wanted) {
            workers_.emplace_back([this] { work(); });
        }
    } catch (const std::system_error&) {
        // The system refuses more threads: the pool stays this size, runs still complete.
    }
}

void ThreadPool::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        Job* job = nullptr;
        wake_.wait(lock, [&] {
            if (stopping_) {
                return true;
            }
            const auto found = std::find_if(jobs_.begin(), jobs_.end(),
                                            [](const Job* queued) { return queued->wantsHelp(); });
            job = found == jobs_.end() ? nullptr : *found;
            return job != nullptr;
        });
        if (stopping_) {
            return;
        }
        ++job->helpers;
        lock.unlock();
        runIndices(*job);
        lock.lock();
        if (--job->helpers == 0) {
            finished_.notify_all();
        }
    }
}

void ThreadPool::runIndices(Job& job) {
    for (;;) {
        const std::uint64_t index = job.next.fetch_add(1, std::memory_order_relaxed);
        if (index >= job.count) {
            return;
        }
        job.function(static_cast<unsigned int>(index), job.count, job.argument);
    }
}

}  // namespace ZarvelHost
