// The multi-thread suite: threads that really run at once, each with its own index.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "host/Host.h"
#include "host/Suites.h"
#include "host/ThreadPool.h"

namespace {

using ZarvelHost::Host;
using ZarvelHost::ThreadMode;

// What each thread of a run saw; filled under a lock.
struct ThreadRun {
    std::mutex mutex;
    std::condition_variable arrived;
    unsigned int waiting = 0;
    unsigned int expected = 0;
    bool allMet = false;
    std::multiset<unsigned int> indices;
    std::set<std::thread::id> threads;
    std::vector<unsigned int> reportedIndices;
    int spawnedCount = 0;
    unsigned int maxSeen = 0;
};

// Every thread waits (bounded) until all `expected` threads are inside at once, which can only
// happen if they really run concurrently.
void meetAll(unsigned int index, unsigned int count, void* argument) {
    auto& run = *static_cast<ThreadRun*>(argument);
    const OfxMultiThreadSuiteV1& threads = *ZarvelHost::multiThreadSuite();
    unsigned int reported = 99;
    threads.multiThreadIndex(&reported);
    const int spawned = threads.multiThreadIsSpawnedThread();
    std::unique_lock lock(run.mutex);
    run.indices.insert(index);
    run.threads.insert(std::this_thread::get_id());
    run.reportedIndices.push_back(reported);
    run.spawnedCount += spawned;
    run.maxSeen = std::max(run.maxSeen, count);
    if (++run.waiting == run.expected) {
        run.allMet = true;
        run.arrived.notify_all();
    }
    run.arrived.wait_for(lock, std::chrono::seconds(10), [&] { return run.allMet; });
}

void record(unsigned int index, unsigned int count, void* argument) {
    auto& run = *static_cast<ThreadRun*>(argument);
    unsigned int reported = 99;
    ZarvelHost::multiThreadSuite()->multiThreadIndex(&reported);
    std::lock_guard lock(run.mutex);
    run.indices.insert(index);
    run.threads.insert(std::this_thread::get_id());
    run.reportedIndices.push_back(reported);
    run.maxSeen = std::max(run.maxSeen, count);
}

const ThreadMode threadModes[] = {ThreadMode::SpawnPerCall, ThreadMode::Pool};

const char* modeName(ThreadMode mode) {
    return mode == ThreadMode::Pool ? "pool" : "spawn per call";
}

TEST(TestHostThreads, RunsEveryIndexOnItsOwnThreadAtTheSameTime) {
    for (ThreadMode mode : threadModes) {
        SCOPED_TRACE(modeName(mode));
        Host host;
        host.setThreadMode(mode);
        ThreadRun run;
        run.expected = 4;
        ASSERT_EQ(ZarvelHost::multiThreadSuite()->multiThread(meetAll, 4, &run), kOfxStatOK);
        EXPECT_TRUE(run.allMet) << "the four threads never ran at the same time";
        EXPECT_EQ(run.indices, (std::multiset<unsigned int>{0, 1, 2, 3}));
        EXPECT_EQ(run.threads.size(), 4u);
        EXPECT_EQ(
            std::multiset<unsigned int>(run.reportedIndices.begin(), run.reportedIndices.end()),
            run.indices)
            << "multiThreadIndex answers each thread's own index";
        EXPECT_EQ(run.spawnedCount, 4);
        EXPECT_EQ(run.maxSeen, 4u);
        EXPECT_EQ(ZarvelHost::multiThreadSuite()->multiThreadIsSpawnedThread(), 0);
    }
}

TEST(TestHostThreads, RunsIndicesOneAfterAnotherWhenSerial) {
    Host host;
    host.setSerialThreads(true);
    host.setThreadMode(ThreadMode::Pool);  // serial wins
    ThreadRun run;
    ASSERT_EQ(ZarvelHost::multiThreadSuite()->multiThread(record, 5, &run), kOfxStatOK);
    EXPECT_EQ(run.indices, (std::multiset<unsigned int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(run.threads, std::set<std::thread::id>{std::this_thread::get_id()});
    EXPECT_EQ(run.reportedIndices, (std::vector<unsigned int>{0, 1, 2, 3, 4}));
}

TEST(TestHostThreads, SpreadsLargeRequestsOverTheThreadLimit) {
    for (ThreadMode mode : threadModes) {
        SCOPED_TRACE(modeName(mode));
        Host host;
        host.setThreadMode(mode);
        host.setMaxThreads(3);
        ThreadRun run;
        ASSERT_EQ(ZarvelHost::multiThreadSuite()->multiThread(record, 10, &run), kOfxStatOK);
        EXPECT_EQ(run.indices.size(), 10u);
        EXPECT_EQ(std::set<unsigned int>(run.indices.begin(), run.indices.end()).size(), 10u);
        EXPECT_LE(run.threads.size(), 3u);
        EXPECT_EQ(
            std::multiset<unsigned int>(run.reportedIndices.begin(), run.reportedIndices.end()),
            run.indices);
    }
}

// Counts each index's calls; with `nest`, each index makes a multiThread call of its own.
struct CountedRun {
    explicit CountedRun(unsigned int count, bool nested = false)
        : hits(count)
        , nest(nested) {}
    std::vector<std::atomic<int>> hits;
    bool nest;
    std::atomic<int> faults{0};  // wrong indices, failed or incomplete nested calls
    std::mutex mutex;
    std::set<std::thread::id> threads;

    bool eachRanOnce() const {
        return std::all_of(hits.begin(), hits.end(), [](const auto& hit) { return hit == 1; });
    }
};

void countIndex(unsigned int index, unsigned int, void* argument) {
    auto& run = *static_cast<CountedRun*>(argument);
    const OfxMultiThreadSuiteV1& suite = *ZarvelHost::multiThreadSuite();
    unsigned int reported = 99;
    suite.multiThreadIndex(&reported);
    run.faults += reported != index;
    ++run.hits[index];
    {
        std::lock_guard lock(run.mutex);
        run.threads.insert(std::this_thread::get_id());
    }
    if (run.nest) {
        CountedRun inner(3);
        run.faults +=
            suite.multiThread(countIndex, 3, &inner) != kOfxStatOK || !inner.eachRanOnce();
        suite.multiThreadIndex(&reported);
        run.faults += reported != index;  // the outer index is back after the nested call
    }
}

TEST(TestHostThreads, PoolKeepsItsWorkersAndStopsThemWithTheHost) {
    {
        Host host;
        host.setThreadMode(ThreadMode::Pool);
        host.setMaxThreads(4);
        std::set<std::thread::id> threads;
        for (int call = 0; call < 3; ++call) {
            CountedRun run(1000);
            ASSERT_EQ(ZarvelHost::multiThreadSuite()->multiThread(countIndex, 1000, &run),
                      kOfxStatOK);
            EXPECT_TRUE(run.eachRanOnce());
            EXPECT_EQ(run.faults, 0);
            threads.insert(run.threads.begin(), run.threads.end());
        }
        EXPECT_EQ(host.threadPool().workerCount(), 3u) << "the caller is the fourth thread";
        EXPECT_LE(threads.size(), 4u) << "later calls reuse the first call's threads";
    }
    // Reaching here means the destructor woke and joined every worker: a worker left joinable
    // terminates the process, one never woken hangs it.
}

TEST(TestHostThreads, PoolServesConcurrentAndNestedCalls) {
    Host host;
    host.setThreadMode(ThreadMode::Pool);
    host.setMaxThreads(3);
    std::atomic<int> failures{0};
    auto caller = [&](bool nested) {
        for (int call = 0; call < 50; ++call) {
            CountedRun run(5, nested);
            failures +=
                ZarvelHost::multiThreadSuite()->multiThread(countIndex, 5, &run) != kOfxStatOK ||
                !run.eachRanOnce() || run.faults != 0;
        }
    };
    std::thread first(caller, false);
    std::thread second(caller, true);
    first.join();
    second.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(host.multiThreadRuns(), 50u + 50u + 50u * 5u);
}

TEST(TestHostThreads, ReportsTheCpuCountItWasGivenAndRefusesEmptyRuns) {
    Host host;
    const OfxMultiThreadSuiteV1& threads = *ZarvelHost::multiThreadSuite();
    unsigned int cpus = 0;
    EXPECT_EQ(threads.multiThreadNumCPUs(&cpus), kOfxStatOK);
    EXPECT_GE(cpus, 1u);
    host.setCpuCount(0);
    EXPECT_EQ(threads.multiThreadNumCPUs(&cpus), kOfxStatOK);
    EXPECT_EQ(cpus, 0u);
    ThreadRun run;
    EXPECT_EQ(threads.multiThread(record, 0, &run), kOfxStatErrValue);
    EXPECT_EQ(threads.multiThread(nullptr, 2, &run), kOfxStatErrValue);
    EXPECT_TRUE(run.indices.empty());
    host.calls().failNthCall("multiThread", 1, kOfxStatErrMemory);
    EXPECT_EQ(threads.multiThread(record, 2, &run), kOfxStatErrMemory);
    EXPECT_TRUE(run.indices.empty()) << "a failed call runs nothing";
}

TEST(TestHostThreads, MutexesAreRecursiveAndExclusive) {
    Host host;
    const OfxMultiThreadSuiteV1& threads = *ZarvelHost::multiThreadSuite();
    OfxMutexHandle mutex = nullptr;
    ASSERT_EQ(threads.mutexCreate(&mutex, 1), kOfxStatOK);
    EXPECT_EQ(threads.mutexLock(mutex), kOfxStatOK);
    std::atomic<OfxStatus> fromOther{kOfxStatOK};
    std::thread other([&] { fromOther = threads.mutexTryLock(mutex); });
    other.join();
    EXPECT_EQ(fromOther, kOfxStatFailed);
    EXPECT_EQ(threads.mutexUnLock(mutex), kOfxStatOK);
    EXPECT_EQ(threads.mutexUnLock(mutex), kOfxStatOK);
    EXPECT_EQ(threads.mutexUnLock(mutex), kOfxStatErrValue);
    EXPECT_EQ(host.mutexesOutstanding(), 1u);
    EXPECT_EQ(threads.mutexDestroy(mutex), kOfxStatOK);
    EXPECT_EQ(threads.mutexLock(mutex), kOfxStatErrBadHandle);
    EXPECT_EQ(host.mutexesOutstanding(), 0u);
}

}  // namespace
