// The multi-thread suite: real std::threads, started for each call or kept in the host's pool
// (or one index after another on the calling thread), per-thread indices, and the host's own
// recursive mutexes.
#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

#include "host/SuiteCall.h"
#include "host/Suites.h"
#include "host/ThreadPool.h"

namespace ZarvelHost {

namespace {

using Detail::hostCall;

// What multiThreadIndex and multiThreadIsSpawnedThread answer on this thread.
thread_local unsigned int currentIndex = 0;
thread_local bool spawned = false;

// Runs the indices first, first + stride, ... below count, each with this thread's index set.
void runIndices(OfxThreadFunctionV1* function, unsigned int first, unsigned int stride,
                unsigned int count, void* argument) {
    const unsigned int savedIndex = currentIndex;
    const bool savedSpawned = spawned;
    for (unsigned int index = first; index < count; index += stride) {
        currentIndex = index;
        spawned = true;
        function(index, count, argument);
        if (count - index <= stride) {
            break;  // the next index would wrap around
        }
    }
    currentIndex = savedIndex;
    spawned = savedSpawned;
}

// A multiThread call handed to the pool, which knows nothing of the suite's thread-local answers.
struct PooledCall {
    OfxThreadFunctionV1* function;
    void* argument;
};

void runPooledIndex(unsigned int index, unsigned int count, void* argument) {
    const auto& call = *static_cast<const PooledCall*>(argument);
    runIndices(call.function, index, count, count, call.argument);
}

OfxStatus runThreads(Host& host, OfxThreadFunctionV1* function, unsigned int count,
                     void* argument) {
    if (!function || count == 0) {
        return kOfxStatErrValue;
    }
    host.countMultiThreadRun();
    if (host.serialThreads()) {
        runIndices(function, 0, 1, count, argument);
        return kOfxStatOK;
    }
    if (host.threadMode() == ThreadMode::Pool) {
        PooledCall call{function, argument};
        host.threadPool().run(runPooledIndex, count, host.maxThreads(), &call);
        return kOfxStatOK;
    }
    const unsigned int workers = std::min(count, host.maxThreads());
    std::vector<std::thread> threads;
    threads.reserve(workers);
    OfxStatus status = kOfxStatOK;
    try {
        for (unsigned int worker = 0; worker < workers; ++worker) {
            threads.emplace_back(runIndices, function, worker, workers, count, argument);
        }
    } catch (const std::system_error&) {
        // The threads already started still run their indices; the others never will.
        status = kOfxStatFailed;
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return status;
}

OfxStatus multiThread(OfxThreadFunctionV1* func, unsigned int nThreads, void* customArg) {
    return hostCall("multiThread", nullptr,
                    [&](Host& host) { return runThreads(host, func, nThreads, customArg); });
}

OfxStatus multiThreadNumCPUs(unsigned int* nCPUs) {
    return hostCall("multiThreadNumCPUs", nullptr, [&](Host& host) {
        if (!nCPUs) {
            return kOfxStatErrValue;
        }
        *nCPUs = host.cpuCount();
        return kOfxStatOK;
    });
}

OfxStatus multiThreadIndex(unsigned int* threadIndex) {
    return hostCall("multiThreadIndex", nullptr, [&](Host&) {
        if (!threadIndex) {
            return kOfxStatErrValue;
        }
        *threadIndex = currentIndex;
        return kOfxStatOK;
    });
}

int multiThreadIsSpawnedThread() {
    return Detail::hostCallInt("multiThreadIsSpawnedThread", nullptr,
                               [](Host&) { return spawned ? 1 : 0; });
}

OfxStatus mutexCreate(OfxMutexHandle* mutex, int lockCount) {
    return hostCall("mutexCreate", nullptr,
                    [&](Host& host) { return host.createMutex(mutex, lockCount); });
}

OfxStatus mutexDestroy(const OfxMutexHandle mutex) {
    return hostCall("mutexDestroy", nullptr, [&](Host& host) { return host.destroyMutex(mutex); });
}

OfxStatus mutexLock(const OfxMutexHandle mutex) {
    return hostCall("mutexLock", nullptr, [&](Host& host) { return host.lockMutex(mutex); });
}

OfxStatus mutexUnLock(const OfxMutexHandle mutex) {
    return hostCall("mutexUnLock", nullptr, [&](Host& host) { return host.unlockMutex(mutex); });
}

OfxStatus mutexTryLock(const OfxMutexHandle mutex) {
    return hostCall("mutexTryLock", nullptr, [&](Host& host) { return host.tryLockMutex(mutex); });
}

const OfxMultiThreadSuiteV1 kMultiThreadSuite = {
    multiThread,  multiThreadNumCPUs, multiThreadIndex, multiThreadIsSpawnedThread,
    mutexCreate,  mutexDestroy,       mutexLock,        mutexUnLock,
    mutexTryLock,
};

}  // namespace

const OfxMultiThreadSuiteV1* multiThreadSuite() {
    return &kMultiThreadSuite;
}

}  // namespace ZarvelHost
