// The host's reader-writer lock: std::shared_mutex, except on Windows. There libstdc++ builds it
// on a winpthreads rwlock that is set up lazily on first use and never destroyed (its destructor
// is trivial), so every property set and parameter the host makes and drops would leak a few
// hundred bytes; Windows' own slim reader-writer lock needs no destruction.
#pragma once

#ifndef _WIN32
#include <shared_mutex>
#endif

namespace ZarvelHost {

#ifdef _WIN32

/// Meets the standard's SharedMutex requirements (std::unique_lock, std::shared_lock). Kept
/// apart from windows.h, whose macros would reach every file of the host.
class SharedMutex {
public:
    SharedMutex() = default;
    SharedMutex(const SharedMutex&) = delete;
    SharedMutex& operator=(const SharedMutex&) = delete;

    void lock();
    bool try_lock();
    void unlock();
    void lock_shared();
    bool try_lock_shared();
    void unlock_shared();

private:
    // An SRWLOCK: one pointer, all zero when unlocked.
    void* lock_ = nullptr;
};

#else

using SharedMutex = std::shared_mutex;

#endif

}  // namespace ZarvelHost
