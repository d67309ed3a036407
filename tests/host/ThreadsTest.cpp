// The multi-thread suite: threads that really run at once, each with its own index.
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

namespace {

using ZarvelHost::Host;

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

TEST(TestHostThreads, RunsEveryIndexOnItsOwnThreadAtTheSameTime) {
    Host host;
    ThreadRun run;
    run.expected = 4;
    ASSERT_EQ(ZarvelHost::multiThreadSuite()->multiThread(meetAll, 4, &run), kOfxStatOK);
    EXPECT_TRUE(run.allMet) << "the four threads never ran at the same time";
    EXPECT_EQ(run.indices, (std::multiset<unsigned int>{0, 1, 2, 3}));
    EXPECT_EQ(run.threads.size(), 4u);
    EXPECT_EQ(std::multiset<unsigned int>(run.reportedIndices.begin(), run.reportedIndices.end()),
              run.indices)
        << "multiThreadIndex answers each thread's own index";
    EXPECT_EQ(run.spawnedCount, 4);
    EXPECT_EQ(run.maxSeen, 4u);
    EXPECT_EQ(ZarvelHost::multiThreadSuite()->multiThreadIsSpawnedThread(), 0);
}

TEST(TestHostThreads, RunsIndicesOneAfterAnotherWhenSerial) {
    Host host;
    host.setSerialThreads(true);
    ThreadRun run;
    ASSERT_EQ(ZarvelHost::multiThreadSuite()->multiThread(record, 5, &run), kOfxStatOK);
    EXPECT_EQ(run.indices, (std::multiset<unsigned int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(run.threads, std::set<std::thread::id>{std::this_thread::get_id()});
    EXPECT_EQ(run.reportedIndices, (std::vector<unsigned int>{0, 1, 2, 3, 4}));
}

TEST(TestHostThreads, SpreadsLargeRequestsOverTheThreadLimit) {
    Host host;
    host.setMaxThreads(3);
    ThreadRun run;
    ASSERT_EQ(ZarvelHost::multiThreadSuite()->multiThread(record, 10, &run), kOfxStatOK);
    EXPECT_EQ(run.indices.size(), 10u);
    EXPECT_EQ(std::set<unsigned int>(run.indices.begin(), run.indices.end()).size(), 10u);
    EXPECT_LE(run.threads.size(), 3u);
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
