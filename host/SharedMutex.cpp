#include "host/SharedMutex.h"

#ifdef _WIN32

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace ZarvelHost {

namespace {

static_assert(sizeof(SRWLOCK) == sizeof(void*), "an SRWLOCK is one pointer");

PSRWLOCK srw(void*& lock) {
    return reinterpret_cast<PSRWLOCK>(&lock);
}

}  // namespace

void SharedMutex::lock() {
    AcquireSRWLockExclusive(srw(lock_));
}

bool SharedMutex::try_lock() {
    return TryAcquireSRWLockExclusive(srw(lock_)) != 0;
}

void SharedMutex::unlock() {
    ReleaseSRWLockExclusive(srw(lock_));
}

void SharedMutex::lock_shared() {
    AcquireSRWLockShared(srw(lock_));
}

bool SharedMutex::try_lock_shared() {
    return TryAcquireSRWLockShared(srw(lock_)) != 0;
}

void SharedMutex::unlock_shared() {
    ReleaseSRWLockShared(srw(lock_));
}

}  // namespace ZarvelHost

#endif
