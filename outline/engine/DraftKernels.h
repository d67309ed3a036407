#pragma once

// Kernel bodies of Draft: the chamfer wavefront, class values and categories of chamfer values.
// Included only by Kernels.cpp, which compiles them for every instruction set.

#include "outline/OutlineKernel.h"
#include "outline/engine/Kernels.h"
#include "outline/engine/Vectors.h"

namespace OutlineKernel {
namespace Engine {

using namespace Vectors;

constexpr int transposeIndex(int lane, int block, int lanes, bool second) {
    return second ? ((lane & block) != 0 ? lanes + lane : lane + block)
                  : ((lane & block) != 0 ? lanes + lane - block : lane);
}

template <int block, int lanes, class V, std::size_t... I>
ZARVEL_INLINE void transposeStep(V& a, V& b, std::index_sequence<I...>) {
    const V first =
        __builtin_shufflevector(a, b, transposeIndex(static_cast<int>(I), block, lanes, false)...);
    const V second =
        __builtin_shufflevector(a, b, transposeIndex(static_cast<int>(I), block, lanes, true)...);
    a = first;
    b = second;
}

template <int block, int lanes, class V>
ZARVEL_INLINE void transposeStage(V (&m)[lanes]) {
    for (int k = 0; k < lanes; ++k) {
        if ((k & block) == 0) {
            transposeStep<block, lanes>(m[k], m[k + block], std::make_index_sequence<lanes>());
        }
    }
}

// In-place transpose of a square block of vectors.
template <int lanes, class V>
ZARVEL_INLINE void transpose(V (&m)[lanes]) {
    if constexpr (lanes >= 16) {
        transposeStage<8, lanes>(m);
    }
    if constexpr (lanes >= 8) {
        transposeStage<4, lanes>(m);
    }
    transposeStage<2, lanes>(m);
    transposeStage<1, lanes>(m);
}

template <class V, std::size_t... I>
ZARVEL_INLINE V reverseLanes(V x, std::index_sequence<I...>) {
    return __builtin_shufflevector(x, x,
                                   (static_cast<int>(sizeof...(I)) - 1 - static_cast<int>(I))...);
}

// Lane t of the result is element 2(lanes − 1 − t) of the 2 × lanes elements a, b.
template <class V, std::size_t... I>
ZARVEL_INLINE V skewedLanes(V a, V b, std::index_sequence<I...>) {
    return __builtin_shufflevector(
        a, b, (2 * (static_cast<int>(sizeof...(I)) - 1 - static_cast<int>(I)))...);
}

// One step of one vector of the wavefront (see WavefrontArgs): every lane's element at its
// column. The rows before lane 0 come from `up`, `upLeft` and `upRight` (their top lanes);
// `keys` points to the column keys of the vector's last lane.
// Without `keyed` every lane's column is known not to be frozen: the column keys are all the
// far value, which no value exceeds, and are left out.
template <int n, bool keyed, class F32>
ZARVEL_INLINE F32 wavefrontStep(F32 v, F32& h1, F32& h2, F32& h3, F32 up, F32 upLeft, F32 upRight,
                                const float* keys, F32 rowKeys) {
    F32 key = vmin(v, rowKeys);
    if constexpr (keyed) {
        const F32 columnKey =
            skewedLanes(load<F32>(keys), load<F32>(keys + n), std::make_index_sequence<n>());
        key = vmin(vmin(v, columnKey), rowKeys);
    }
    // Candidates that don't depend on the previous step first: they leave the critical path.
    const F32 older = vmin(vmin(v, shiftUp<1, n>(up, h2) + orthogonalStep),
                           shiftUp<1, n>(upLeft, h3) + diagonalStep);
    const F32 candidate =
        vmin(vmin(older, h1 + orthogonalStep), shiftUp<1, n>(upRight, h1) + diagonalStep);
    const F32 x = key <= 0.0f ? v : candidate;
    h3 = h2;
    h2 = h1;
    h1 = x;
    return x;
}

// The wavefront keeps two vectors of rows: the second continues the first (its lane 0 is the
// row after the first's last lane), so every step has two independent chains of work.
template <int n, bool reverse, bool keyed, class F32, std::size_t... Q>
ZARVEL_INLINE void wavefrontBlock(F32 (&first)[n], F32 (&second)[n], F32 (&h)[2][3],
                                  const float* near, const float* keys, const F32 (&rowKeys)[2],
                                  std::index_sequence<Q...>) {
    constexpr int ahead = reverse ? -1 : 1;
    auto step = [&](int q) __attribute__((always_inline)) {
        // The second vector first: it needs the first vector's values of earlier steps.
        second[q] = wavefrontStep<n, keyed>(second[q], h[1][0], h[1][1], h[1][2], h[0][1], h[0][2],
                                            h[0][0], keys + q - 2 * n, rowKeys[1]);
        const float* at = near + ahead * q;
        first[q] = wavefrontStep<n, keyed>(first[q], h[0][0], h[0][1], h[0][2], splat<F32>(at[0]),
                                           splat<F32>(at[-ahead]), splat<F32>(at[ahead]), keys + q,
                                           rowKeys[0]);
    };
    (step(static_cast<int>(Q)), ...);
}

// The values the lanes of a pass starting at column `from` hold one, two and three steps back:
// start[(g × 3 + back) × n + t] for lane g × n + t. Kept out of the pass's loop, whose registers
// it would otherwise crowd.
__attribute__((noinline)) void wavefrontStart(const WavefrontArgs& a, int n, float* start) {
    for (int g = 0; g < 2; ++g) {
        for (int back = 0; back < 3; ++back) {
            for (int t = 0; t < n; ++t) {
                const int c = a.from - 1 - back - 2 * (g * n + t);
                start[(g * 3 + back) * n + t] = a.out[g * n + t][a.reverse ? a.width - 1 - c : c];
            }
        }
    }
}

template <int bytes, bool reverse>
ZARVEL_INLINE void wavefrontBody(const WavefrontArgs& a) {
    using S = Simd<bytes>;
    using F32 = typename S::F32;
    constexpr int n = S::lanes32;
    const int width = a.width;
    const F32 far = splat<F32>(farValue);
    const F32 rowKeys[2] = {load<F32>(a.rowKeys), load<F32>(a.rowKeys + n)};
    // Column c of the pass is column c, or width − 1 − c when mirrored.
    auto loadRow = [&](const float* row, int c) __attribute__((always_inline)) {
        if constexpr (reverse) {
            return reverseLanes(load<F32>(row + (width - 1 - c) - (n - 1)),
                                std::make_index_sequence<n>());
        } else {
            return load<F32>(row + c);
        }
    };
    auto storeRow = [&](float* row, int c, F32 x) __attribute__((always_inline)) {
        if constexpr (reverse) {
            store(row + (width - 1 - c) - (n - 1), reverseLanes(x, std::make_index_sequence<n>()));
        } else {
            store(row + c, x);
        }
    };
    F32 h[2][3] = {{far, far, far}, {far, far, far}};  // values one, two, three steps back
    if (a.from > 0) {
        alignas(64) float start[2 * 3 * n];
        wavefrontStart(a, n, start);
        for (int g = 0; g < 2; ++g) {
            for (int back = 0; back < 3; ++back) {
                h[g][back] = load<F32>(start + (g * 3 + back) * n);
            }
        }
    }
    const int steps = std::min(width, a.to) + 2 * (2 * n - 1);
    for (int i0 = a.from; i0 < steps; i0 += n) {
        F32 first[n];
        F32 second[n];
        for (int t = 0; t < n; ++t) {
            first[t] = loadRow(a.in[t], i0 - 2 * t);
            second[t] = loadRow(a.in[n + t], i0 - 2 * (n + t));
        }
        transpose<n>(first);  // first[q] lane t: column i0 + q − 2t of row t
        transpose<n>(second);
        const float* near = a.neighbour + (reverse ? width - 1 - i0 : i0);
        // Every lane's column of this block inside the row: no frozen column to look up.
        const float* keys = a.columnKeys + i0 - 2 * (n - 1);
        if (i0 - 2 * (2 * n - 1) >= 1 && i0 + n - 1 <= width - 2) {
            wavefrontBlock<n, reverse, false>(first, second, h, near, keys, rowKeys,
                                              std::make_index_sequence<n>());
        } else {
            wavefrontBlock<n, reverse, true>(first, second, h, near, keys, rowKeys,
                                             std::make_index_sequence<n>());
        }
        transpose<n>(first);
        transpose<n>(second);
        for (int t = 0; t < n; ++t) {
            storeRow(a.out[t], i0 - 2 * t, first[t]);
            storeRow(a.out[n + t], i0 - 2 * (n + t), second[t]);
        }
    }
}

template <int bytes>
ZARVEL_INLINE void classValuesBody(const ClassValueArgs& a) {
    using S = Simd<bytes>;
    using F32 = typename S::F32;
    constexpr int n = S::lanes32;
    const F32 far = splat<F32>(farValue);
    const F32 half = splat<F32>(0.5f);
    const F32 one = splat<F32>(1.0f);
    const F32 two = splat<F32>(2.0f);
    for (int c = 0; c * chunkPixels < a.count; ++c) {
        std::uint64_t any = 0;
        for (int k = 0; k < chunkPixels; k += n) {
            const int i = c * chunkPixels + k;
            const F32 cls = __builtin_convertvector(
                __builtin_convertvector(load<typename S::Q8>(a.classes + i), typename S::H16), F32);
            // Edge (1): 0, inside (2): −2, far (0): the far value.
            store(a.values + i, cls > half ? (one - cls) * two : far);
        }
        for (int k = 0; k < chunkPixels; k += 8) {
            std::uint64_t word;
            std::memcpy(&word, a.classes + c * chunkPixels + k, 8);
            any |= word;
        }
        a.flags[c] = any != 0 ? 1 : 0;
    }
}

template <class B, std::size_t... I>
ZARVEL_INLINE auto lowBytesImpl(B x, std::index_sequence<I...>) {
    return __builtin_shufflevector(x, x, (static_cast<int>(I) * 4)...);
}

// The low byte of every 32-bit lane (values 0 to 255). GCC 12 narrows AVX2 vectors lane by lane
// through general registers; a byte shuffle does it in a few instructions.
template <int bytes>
ZARVEL_INLINE typename Simd<bytes>::Q8 narrowBytes(typename Simd<bytes>::S32 x) {
    using S = Simd<bytes>;
    if constexpr (bytes == 32) {
        return lowBytesImpl(reinterpret_cast<typename S::B8>(x),
                            std::make_index_sequence<S::lanes32>());
    } else {
        return __builtin_convertvector(x, typename S::Q8);
    }
}

template <int bytes>
ZARVEL_INLINE void chamferCategoriesBody(const ChamferCategoryArgs& a) {
    using S = Simd<bytes>;
    using F32 = typename S::F32;
    using S32 = typename S::S32;
    constexpr int n = S::lanes32;
    const F32 width = splat<F32>(a.width);
    const F32 widthMinus1 = splat<F32>(a.widthMinus1);
    const bool falls = a.width > a.widthMinus1;
    const S32 one = splat<S32>(1);
    const S32 general = splat<S32>(static_cast<int>(categoryGeneral));
    const S32 zero = splat<S32>(static_cast<int>(categoryZero));
    const S32 copy = splat<S32>(static_cast<int>(categoryCopy));
    for (int i = 0; i < a.count; i += n) {
        const F32 d = load<F32>(a.values + i);
        // Widened in two steps: GCC 12 widens bytes to 32 bits one lane at a time.
        const S32 cls = __builtin_convertvector(
            __builtin_convertvector(load<typename S::Q8>(a.classes + i), typename S::H16), S32);
        S32 category = splat<S32>(static_cast<int>(categoryConstant));
        if (falls) {
            category = d > widthMinus1 ? general : category;
        }
        category = category + vmin(cls, one) * (general - category);  // a source: general
        category = width >= d ? category : zero;
        category = d < 0.0f ? copy : category;
        store(a.categories + i, narrowBytes<bytes>(category));
    }
}

}  // namespace Engine
}  // namespace OutlineKernel
