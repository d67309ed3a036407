#pragma once

// Kernel bodies of Good and Best: integer row distances, their squares, the column search.
// Included only by Kernels.cpp, which compiles them for every instruction set.

#include "outline/engine/Kernels.h"
#include "outline/engine/Vectors.h"

namespace OutlineKernel {
namespace Engine {

using namespace Vectors;

template <int bytes>
ZARVEL_INLINE void rowDistancesBody(const RowDistanceArgs& a) {
    using S = Simd<bytes>;
    using S16 = typename S::S16;
    constexpr int n = S::lanes16;
    const S16 far = splat<S16>(static_cast<s16>(a.reachPlusOne));
    const S16 one = splat<S16>(static_cast<s16>(1));
    const S16 two = splat<S16>(static_cast<s16>(2));
    const S16 big = splat<S16>(static_cast<s16>(16383));
    const S16 upSteps = laneIndex<S16, n>(1);
    const S16 downSteps = splat<S16>(static_cast<s16>(n)) - laneIndex<S16, n>(0);
    S16 carry = big;
    for (int b = 0; b < a.length; b += n) {
        const S16 c = __builtin_convertvector(load<typename S::U8>(a.classes + b), S16);
        // Far: the cap; edge (1): 0; inside (2): −2. Arithmetic rather than comparisons, which
        // GCC 12 takes apart lane by lane for AVX-512 when they compare with 0.
        const S16 source = vmin(c, one);
        S16 x = far + source * (two - c - c - far);
        x = scanUp<n>(x, big);
        x = vmin(x, carry + upSteps);
        store(a.out + b, x);
        carry = broadcastLane<n - 1, n>(x);
    }
    carry = big;
    for (int b = a.length - n; b >= 0; b -= n) {
        S16 x = load<S16>(a.out + b);
        x = scanDown<n>(x, big);
        x = vmin(x, carry + downSteps);
        store(a.out + b, x);
        carry = broadcastLane<0, n>(x);
    }
}

// Squares are kept as T: bytes where every square that matters (below the cap) fits, else
// 16 bits. A vector of `bytes` bytes holds one chunk's part of them.
template <int bytes, class T>
struct SquareLanes {
    typedef T V __attribute__((vector_size(bytes)));
    typedef u8 Classes __attribute__((vector_size(bytes / sizeof(T))));
    typedef u16 Wide __attribute__((vector_size(bytes / sizeof(T) * sizeof(u16))));
    static constexpr int lanes = bytes / static_cast<int>(sizeof(T));
};

template <int bytes, class T>
ZARVEL_INLINE void squaresBody(const SquareArgs& a) {
    using S = Simd<bytes>;
    using U16 = typename S::U16;
    constexpr int n = S::lanes16;
    typedef T Narrow __attribute__((vector_size(n * sizeof(T))));
    const U16 cap = splat<U16>(static_cast<u16>(a.cap));
    T* squares = static_cast<T*>(a.squares);
    for (int c = 0; c * chunkPixels < a.paddedCount; ++c) {
        U16 below{};
        for (int k = 0; k < chunkPixels; k += n) {
            const int i = c * chunkPixels + k;
            const U16 r = reinterpret_cast<U16>(load<typename S::S16>(a.distances + i));
            U16 f = r * r;  // −2 and −1 square to 4 and 1 in 16-bit arithmetic as well
            f = laneIndex<typename S::S16, n>(i) < static_cast<s16>(a.count) ? f : cap;
            // Squares at or above the cap are all "nothing within reach".
            f = vmin(f, cap);
            store(squares + i, __builtin_convertvector(f, Narrow));
            // Inside pixels count as active even when their square (4) reaches the cap: they
            // are copied whatever the width.
            const U16 activity = r == static_cast<u16>(0xfffe) ? U16{} : f;
            below |= cap - vmin(activity, cap);
        }
        a.flags[c] = anyBits(below) ? 1 : 0;
    }
}

// The largest lane of a chunk of vectors.
template <int lanes, class V, int m>
ZARVEL_INLINE int largestLane(const V (&acc)[m]) {
    V x = acc[0];
    for (int k = 1; k < m; ++k) {
        x = vmax(x, acc[k]);
    }
    if constexpr (lanes > 32) {
        x = vmax(x, shiftDown<32, lanes>(x, x));
    }
    if constexpr (lanes > 16) {
        x = vmax(x, shiftDown<16, lanes>(x, x));
    }
    if constexpr (lanes > 8) {
        x = vmax(x, shiftDown<8, lanes>(x, x));
    }
    x = vmax(x, shiftDown<4, lanes>(x, x));
    x = vmax(x, shiftDown<2, lanes>(x, x));
    x = vmax(x, shiftDown<1, lanes>(x, x));
    return x[0];
}

// The category of pixels of class `cls` whose column search gave n: inside pixels are copies,
// n from zeroFrom on is zero, far pixels below fullBelow take the constant outline pixel, and the
// rest the output rule itself. By arithmetic on 0/1 values: GCC 12 takes unsigned and zero
// comparisons of AVX-512 vectors apart lane by lane.
template <class V>
ZARVEL_INLINE V categoryOf(V n, V cls, int zeroFrom, int fullBelow) {
    using T = std::remove_reference_t<decltype(n[0])>;
    const V one = splat<V>(static_cast<T>(1));
    const V zeroLimit = splat<V>(static_cast<T>(zeroFrom - 1));
    const V fullLimit = splat<V>(static_cast<T>(fullBelow));
    const V general = splat<V>(static_cast<T>(categoryGeneral));
    static_assert(categoryConstant == categoryGeneral - 1 && categoryZero == 0 && categoryCopy == 1,
                  "the arithmetic below relies on these values");
    const V isSource = vmin(cls, one);
    const V isInside = cls >> 1;
    const V isZero = vmin(n - vmin(n, zeroLimit), one);
    const V isFull = vmin(fullLimit - vmin(fullLimit, n), one);
    V category = general - isFull * (one - isSource);
    category = category * (one - isZero);
    return category + isInside * (one - category);
}

template <int bytes, class T>
ZARVEL_INLINE void columnBody(const ColumnArgs& a) {
    using L = SquareLanes<bytes, T>;
    using V = typename L::V;
    constexpr int n = L::lanes;
    constexpr int m = chunkPixels / n;
    const V cap = splat<V>(static_cast<T>(a.cap));
    const T* const* rows = reinterpret_cast<const T* const*>(a.rows);
    for (int c = 0; c < a.chunks; ++c) {
        const int base = c * chunkPixels;
        if (a.counts[c] == 0) {
            std::memset(a.categories + base, categoryZero, chunkPixels);
            continue;
        }
        V acc[m];
        for (int k = 0; k < m; ++k) {
            acc[k] = cap;
        }
        int visited = 0;
        if (rows[a.reach] != nullptr && a.flags[a.reach][c] != 0) {
            for (int k = 0; k < m; ++k) {
                acc[k] = load<V>(rows[a.reach] + base + k * n);
            }
            ++visited;
        }
        // Candidates at distance d are at least d²: the search ends once d² reaches the largest
        // lane, which is looked at again after every few rows that changed something.
        int largest = largestLane<n>(acc);
        int sinceLook = 0;
        for (int d = 1; d <= a.reach && visited < a.counts[c]; ++d) {
            const T d2 = static_cast<T>(d * d);
            if (d * d >= largest) {
                break;
            }
            const T* up = rows[a.reach - d];
            const T* down = rows[a.reach + d];
            const bool useUp = up != nullptr && a.flags[a.reach - d][c] != 0;
            const bool useDown = down != nullptr && a.flags[a.reach + d][c] != 0;
            if (!useUp && !useDown) {
                continue;
            }
            visited += (useUp ? 1 : 0) + (useDown ? 1 : 0);
            // Below the cap less d², so that the sum stays within the cap (and within T).
            const V limit = splat<V>(static_cast<T>(a.cap - d * d));
            for (int k = 0; k < m; ++k) {
                V f = limit;
                if (useUp) {
                    f = vmin(f, load<V>(up + base + k * n));
                }
                if (useDown) {
                    f = vmin(f, load<V>(down + base + k * n));
                }
                acc[k] = vmin(acc[k], f + d2);
            }
            if (++sinceLook == 4) {
                sinceLook = 0;
                largest = largestLane<n>(acc);
            }
        }
        for (int k = 0; k < m; ++k) {
            const int i = base + k * n;
            const V cls = __builtin_convertvector(load<typename L::Classes>(a.classes + i), V);
            store(a.near + i, __builtin_convertvector(acc[k], typename L::Wide));
            store(a.categories + i,
                  __builtin_convertvector(categoryOf(acc[k], cls, a.zeroFrom, a.fullBelow),
                                          typename L::Classes));
        }
    }
}

template <int bytes>
ZARVEL_INLINE void nearCategoriesBody(const NearCategoryArgs& a) {
    using L = SquareLanes<bytes, u16>;
    using V = typename L::V;
    constexpr int n = L::lanes;
    for (int i = 0; i < a.count; i += n) {
        const V cls = __builtin_convertvector(load<typename L::Classes>(a.classes + i), V);
        const V near = load<V>(a.near + i);
        store(a.categories + i,
              __builtin_convertvector(categoryOf(near, cls, a.zeroFrom, a.fullBelow),
                                      typename L::Classes));
    }
}

}  // namespace Engine
}  // namespace OutlineKernel
