// What the process holds in memory, for tests that render many frames and check that nothing
// grows with their number.
#pragma once

#include <cstddef>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <vector>
#else
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZARVEL_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZARVEL_TEST_SANITIZED 1
#endif
#ifdef ZARVEL_TEST_SANITIZED
// The sanitizer runtimes' own count of live heap bytes (declared here: GCC ships no header).
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace zarvel::test {

/// Bytes allocated and not freed on the heaps of the process, a plug-in's blocks included: the
/// sanitizer's count, glibc's allocator statistics, or on Windows the busy blocks of every heap
/// of the process (the C runtime's malloc, which the DLL shares, among them).
inline std::size_t heapInUse() {
#if defined(ZARVEL_TEST_SANITIZED)
    return __sanitizer_get_current_allocated_bytes();
#elif defined(_WIN32)
    std::vector<HANDLE> heaps(64);
    DWORD count = GetProcessHeaps(static_cast<DWORD>(heaps.size()), heaps.data());
    if (count > heaps.size()) {
        heaps.resize(count);
        count = GetProcessHeaps(count, heaps.data());
    }
    std::size_t busy = 0;
    for (DWORD i = 0; i < count && i < heaps.size(); ++i) {
        if (!HeapLock(heaps[i])) {
            continue;
        }
        PROCESS_HEAP_ENTRY entry{};
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                busy += entry.cbData;
            }
        }
        HeapUnlock(heaps[i]);
    }
    return busy;
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

/// Resident memory of the process (Windows: its working set); 0 when it cannot be read.
inline std::size_t residentBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
               ? counters.WorkingSetSize
               : 0;
#else
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file) {
        return 0;
    }
    unsigned long size = 0;
    unsigned long resident = 0;
    const int read = std::fscanf(file, "%lu %lu", &size, &resident);
    std::fclose(file);
    return read == 2 ? std::size_t(resident) * std::size_t(sysconf(_SC_PAGESIZE)) : 0;
#endif
}

}  // namespace zarvel::test
