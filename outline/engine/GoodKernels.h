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

template <int bytes>
ZARVEL_INLINE void squaresBody(const SquareArgs& a) {
    using S = Simd<bytes>;
    using U16 = typename S::U16;
    constexpr int n = S::lanes16;
    const U16 cap = splat<U16>(static_cast<u16>(a.cap));
    for (int c = 0; c * chunkPixels < a.paddedCount; ++c) {
        U16 below{};
        for (int k = 0; k < chunkPixels; k += n) {
            const int i = c * chunkPixels + k;
            const U16 r = reinterpret_cast<U16>(load<typename S::S16>(a.distances + i));
            U16 f = r * r;  // −2 and −1 square to 4 and 1 in 16-bit arithmetic as well
            f = laneIndex<typename S::S16, n>(i) < static_cast<s16>(a.count) ? f : cap;
            store(a.squares + i, f);
            // Inside pixels count as active even when their square (4) reaches the cap: they
            // are copied whatever the width.
            const U16 activity = r == static_cast<u16>(0xfffe) ? U16{} : f;
            below |= cap - vmin(activity, cap);
        }
        a.flags[c] = anyBits(below) ? 1 : 0;
    }
}

// The largest lane of a chunk of 16-bit vectors.
template <int lanes, class V, int m>
ZARVEL_INLINE int largestLane(const V (&acc)[m]) {
    V x = acc[0];
    for (int k = 1; k < m; ++k) {
        x = vmax(x, acc[k]);
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

template <int bytes>
ZARVEL_INLINE void columnBody(const ColumnArgs& a) {
    using S = Simd<bytes>;
    using U16 = typename S::U16;
    constexpr int n = S::lanes16;
    constexpr int m = chunkPixels / n;
    const U16 cap = splat<U16>(static_cast<u16>(a.cap));
    for (int c = 0; c < a.chunks; ++c) {
        const int base = c * chunkPixels;
        if (a.counts[c] == 0) {
            std::memset(a.categories + base, categoryZero, chunkPixels);
            continue;
        }
        U16 acc[m];
        for (int k = 0; k < m; ++k) {
            acc[k] = cap;
        }
        int visited = 0;
        if (a.rows[a.reach] != nullptr && a.flags[a.reach][c] != 0) {
            for (int k = 0; k < m; ++k) {
                acc[k] = load<U16>(a.rows[a.reach] + base + k * n);
            }
            ++visited;
        }
        // Candidates at distance d are at least d²: the search ends once d² reaches the largest
        // lane, which is looked at again after every few rows that changed something.
        int largest = largestLane<n>(acc);
        int sinceLook = 0;
        for (int d = 1; d <= a.reach && visited < a.counts[c]; ++d) {
            const u16 d2 = static_cast<u16>(d * d);
            if (d * d >= largest) {
                break;
            }
            const u16* up = a.rows[a.reach - d];
            const u16* down = a.rows[a.reach + d];
            const bool useUp = up != nullptr && a.flags[a.reach - d][c] != 0;
            const bool useDown = down != nullptr && a.flags[a.reach + d][c] != 0;
            if (!useUp && !useDown) {
                continue;
            }
            visited += (useUp ? 1 : 0) + (useDown ? 1 : 0);
            const U16 limit = splat<U16>(static_cast<u16>(a.cap - d * d));
            for (int k = 0; k < m; ++k) {
                U16 f = limit;
                if (useUp) {
                    f = vmin(f, load<U16>(up + base + k * n));
                }
                if (useDown) {
                    f = vmin(f, load<U16>(down + base + k * n));
                }
                acc[k] = vmin(acc[k], f + d2);
            }
            if (++sinceLook == 4) {
                sinceLook = 0;
                largest = largestLane<n>(acc);
            }
        }
        // Categories by arithmetic on 0/1 values: GCC 12 takes unsigned and zero comparisons of
        // AVX-512 vectors apart lane by lane.
        const U16 one = splat<U16>(static_cast<u16>(1));
        const U16 zeroLimit = splat<U16>(static_cast<u16>(a.zeroFrom - 1));
        const U16 fullBelow = splat<U16>(static_cast<u16>(a.fullBelow));
        const U16 general = splat<U16>(static_cast<u16>(categoryGeneral));
        static_assert(categoryConstant == categoryGeneral - 1 && categoryZero == 0 &&
                          categoryCopy == 1,
                      "the arithmetic below relies on these values");
        for (int k = 0; k < m; ++k) {
            const int i = base + k * n;
            const U16 cls = __builtin_convertvector(load<typename S::U8>(a.classes + i), U16);
            const U16 isSource = vmin(cls, one);
            const U16 isInside = cls >> 1;
            const U16 isZero = vmin(acc[k] - vmin(acc[k], zeroLimit), one);
            const U16 isFull = vmin(fullBelow - vmin(fullBelow, acc[k]), one);
            U16 category = general - isFull * (one - isSource);
            category = category * (one - isZero);
            category = category + isInside * (one - category);
            store(a.near + i, acc[k]);
            store(a.categories + i, __builtin_convertvector(category, typename S::U8));
        }
    }
}

}  // namespace Engine
}  // namespace OutlineKernel
