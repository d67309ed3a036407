// How zarvel_bench measures: samples taken in turn between cache evictions, the two copy
// baselines (threads started per copy, and threads kept for the run and pinned one per core),
// and the process's resident memory. Linux only, as the benchmark is.
#pragma once

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/Image.h"

namespace ZarvelBench {

// The bytes of an image's rows, and their lowest address (rows may run downwards in memory).
std::size_t imageBytes(const ZarvelHost::Image& image);
unsigned char* firstByte(const ZarvelHost::Image& image);

struct Timing {
    double minTime = 0.4;  // seconds of timed samples per variant, at least
    int minSamples = 7;
    int maxSamples = 400;
};

// Reading this evicts every cache line of the frames; the last-level cache here is 32 MiB.
class Evictor {
public:
    Evictor()
        : buffer(std::size_t(128) << 20, 1) {}

    void run() {
        unsigned sum = 0;
        for (std::size_t i = 0; i < buffer.size(); i += 64) {
            sum += buffer[i];
        }
        sink = sum;
    }

private:
    std::vector<unsigned char> buffer;
    volatile unsigned sink = 0;
};

struct Measured {
    double median = 0.0;  // ms
    double best = 0.0;    // ms
    int samples = 0;
};

Measured summarise(std::vector<double> samples);

// Times every body in turn, one sample each per round, until each has its minimum count and
// time (or the round limit is reached).
std::vector<Measured> measureInTurn(const Timing& timing, Evictor& evictor,
                                    const std::vector<std::function<void()>>& bodies);

// The byte range of part `t` of `threads`.
std::pair<std::size_t, std::size_t> copyPart(std::size_t bytes, unsigned t, unsigned threads);

// A copy of the source's bytes into the destination, split into as many contiguous parts as
// threads; the threads are started for each copy, as spawn-per-call starts them for a render.
void copyFrame(const ZarvelHost::Image& source, const ZarvelHost::Image& destination,
               unsigned threads);

// One CPU of each physical core this process may run on, in CPU order.
std::vector<int> onePerCore();

// Threads kept for the whole run, each pinned to a core of its own (while there are cores),
// copying their part of a frame when told. The calling thread only hands out and waits, as a
// host's caller waits for its pool.
class PinnedCopier {
public:
    explicit PinnedCopier(unsigned threads)
        : cpus(onePerCore())
        , pinned(threads, false) {
        for (unsigned slot = 0; slot < threads; ++slot) {
            workers.emplace_back([this, slot] { work(slot); });
        }
        std::unique_lock lock(mutex);
        done.wait(lock, [&] { return started == workers.size(); });
    }

    ~PinnedCopier() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        for (std::thread& worker : workers) {
            worker.join();
        }
    }

    PinnedCopier(const PinnedCopier&) = delete;
    PinnedCopier& operator=(const PinnedCopier&) = delete;

    // Copies with the first `threads` workers (at most as many as were started).
    void copy(const ZarvelHost::Image& source, const ZarvelHost::Image& destination,
              unsigned threads) {
        std::unique_lock lock(mutex);
        from = firstByte(source);
        to = firstByte(destination);
        bytes = imageBytes(source);
        active = std::min<unsigned>(threads, unsigned(workers.size()));
        pending = active;
        ++generation;
        wake.notify_all();
        done.wait(lock, [&] { return pending == 0; });
    }

    // "CPUs 0, 1", or why the threads are not pinned one per core.
    std::string placement() const {
        std::string text;
        for (std::size_t slot = 0; slot < workers.size(); ++slot) {
            text += slot == 0 ? "CPUs " : ", ";
            text += pinned[slot] ? std::to_string(cpus[slot % cpus.size()]) : "unpinned";
        }
        if (cpus.size() < workers.size()) {
            text += " (fewer cores than threads)";
        }
        return text;
    }

private:
    void work(unsigned slot) {
        bool isPinned = false;
        if (!cpus.empty()) {
            cpu_set_t set;
            CPU_ZERO(&set);
            CPU_SET(cpus[slot % cpus.size()], &set);
            isPinned = pthread_setaffinity_np(pthread_self(), sizeof(set), &set) == 0;
        }
        std::unique_lock lock(mutex);
        pinned[slot] = isPinned;
        ++started;
        done.notify_one();
        std::uint64_t seen = 0;
        for (;;) {
            wake.wait(lock, [&] { return stopping || generation != seen; });
            if (stopping) {
                return;
            }
            seen = generation;
            if (slot >= active) {
                continue;
            }
            const auto [begin, end] = copyPart(bytes, slot, active);
            lock.unlock();
            std::memcpy(to + begin, from + begin, end - begin);
            lock.lock();
            if (--pending == 0) {
                done.notify_one();
            }
        }
    }

    std::vector<int> cpus;
    std::vector<bool> pinned;  // by slot; written once by each worker under the mutex
    std::vector<std::thread> workers;
    std::mutex mutex;
    std::size_t started = 0;  // workers that have pinned themselves
    std::condition_variable wake;
    std::condition_variable done;
    std::uint64_t generation = 0;
    bool stopping = false;
    const unsigned char* from = nullptr;
    unsigned char* to = nullptr;
    std::size_t bytes = 0;
    unsigned active = 0;
    unsigned pending = 0;
};

// A "VmRSS" / "VmHWM" line of /proc/self/status in bytes, or -1.
long long statusBytes(const char* key);

// Starts a new peak of resident memory from the current resident size; false if the kernel
// does not allow it.
bool resetPeak();

}  // namespace ZarvelBench
