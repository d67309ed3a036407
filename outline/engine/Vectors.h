#pragma once

// Generic vectors for the engine's kernels: every kernel body is written once over vectors of
// `bytes` bytes and compiled for each instruction set the engine dispatches to (see
// Kernels.cpp). Integer lanes and IEEE single-precision add, compare and min per lane give the
// same bits at every width. Only Kernels.cpp and the kernel bodies include this header.

// The kernels pass generic vectors between always-inlined helpers; GCC notes an ABI change for
// such arguments and results that never applies (no vector crosses a real call).
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

// Helpers are inlined into every kernel so that each instruction set gets its own copy.
#define ZARVEL_INLINE inline __attribute__((always_inline))

namespace OutlineKernel {
namespace Vectors {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using s16 = std::int16_t;

template <int bytes>
struct Simd {
    typedef u16 U16 __attribute__((vector_size(bytes)));
    typedef s16 S16 __attribute__((vector_size(bytes)));
    typedef u8 U8 __attribute__((vector_size(bytes / 2)));  // one byte per 16-bit lane
    typedef u8 B8 __attribute__((vector_size(bytes)));      // bytes
    typedef float F32 __attribute__((vector_size(bytes)));
    typedef std::int32_t S32 __attribute__((vector_size(bytes)));
    typedef u8 Q8 __attribute__((vector_size(bytes / 4)));    // one byte per 32-bit lane
    typedef u16 H16 __attribute__((vector_size(bytes / 2)));  // one 16-bit value per 32-bit lane
    // As many lanes as U16, wider: packed RGBA pixels of 8 and 16 bits.
    typedef std::uint32_t W32 __attribute__((vector_size(bytes * 2)));
    typedef std::uint64_t W64 __attribute__((vector_size(bytes * 4)));
    static constexpr int lanes16 = bytes / 2;
    static constexpr int lanes32 = bytes / 4;
};

template <class V, class T>
ZARVEL_INLINE V load(const T* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V, class T>
ZARVEL_INLINE void store(T* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}

template <int lane, class V, std::size_t... I>
ZARVEL_INLINE V broadcastLaneImpl(V x, std::index_sequence<I...>) {
    return __builtin_shufflevector(x, x, (static_cast<int>(I) * 0 + lane)...);
}

// Every lane a copy of lane `lane` of x.
template <int lane, int lanes, class V>
ZARVEL_INLINE V broadcastLane(V x) {
    return broadcastLaneImpl<lane>(x, std::make_index_sequence<lanes>());
}

// Every lane `value`. Built as a broadcast of lane 0: GCC 12 inserts 16-bit values lane by
// lane for AVX2 otherwise.
template <class V, class T>
ZARVEL_INLINE V splat(T value) {
    using E = std::remove_reference_t<decltype(std::declval<V&>()[0])>;
    V v{};
    v[0] = static_cast<E>(value);
    return broadcastLane<0, static_cast<int>(sizeof(V) / sizeof(E))>(v);
}

template <class V>
ZARVEL_INLINE V vmin(V a, V b) {
    return a < b ? a : b;
}

template <class V>
ZARVEL_INLINE V vmax(V a, V b) {
    return a > b ? a : b;
}

// True if any bit of a vector is set. Used on values, never on comparison results: a mask
// taken apart lane by lane is what makes compilers fall back to scalar code for AVX-512.
template <class M>
ZARVEL_INLINE bool anyBits(const M& mask) {
    std::uint64_t words[(sizeof(M) + 7) / 8] = {};
    std::memcpy(words, &mask, sizeof mask);
    std::uint64_t any = 0;
    for (std::uint64_t w : words) {
        any |= w;
    }
    return any != 0;
}

// Lanes moved up by `shift` (towards higher indices); the freed low lanes take the top lanes of
// `fill`.
template <int shift, class V, std::size_t... I>
ZARVEL_INLINE V shiftUpImpl(V fill, V x, std::index_sequence<I...>) {
    constexpr int n = static_cast<int>(sizeof...(I));
    return __builtin_shufflevector(fill, x, (static_cast<int>(I) + n - shift)...);
}

// Lanes moved down by `shift`; the freed high lanes take the low lanes of `fill`.
template <int shift, class V, std::size_t... I>
ZARVEL_INLINE V shiftDownImpl(V x, V fill, std::index_sequence<I...>) {
    return __builtin_shufflevector(x, fill, (static_cast<int>(I) + shift)...);
}

template <int shift, int lanes, class V>
ZARVEL_INLINE V shiftUp(V fill, V x) {
    return shiftUpImpl<shift>(fill, x, std::make_index_sequence<lanes>());
}

template <int shift, int lanes, class V>
ZARVEL_INLINE V shiftDown(V x, V fill) {
    return shiftDownImpl<shift>(x, fill, std::make_index_sequence<lanes>());
}

template <class V, class E, std::size_t... I>
ZARVEL_INLINE V iotaImpl(std::index_sequence<I...>) {
    return V{static_cast<E>(I)...};
}

// Lane numbers plus `offset`, lane by lane.
template <class V, int lanes>
ZARVEL_INLINE V laneIndex(int offset) {
    using E = std::remove_reference_t<decltype(std::declval<V&>()[0])>;
    return iotaImpl<V, E>(std::make_index_sequence<lanes>()) + static_cast<E>(offset);
}

// One doubling step of a min-plus scan along the lanes with unit steps: every lane takes the
// smaller of itself and the lane `shift` below (or above) plus `shift`.
template <int shift, int lanes, class V>
ZARVEL_INLINE V scanUpStep(V x, V big) {
    return vmin(x, shiftUp<shift, lanes>(big, x) + static_cast<s16>(shift));
}

template <int shift, int lanes, class V>
ZARVEL_INLINE V scanDownStep(V x, V big) {
    return vmin(x, shiftDown<shift, lanes>(x, big) + static_cast<s16>(shift));
}

template <int lanes, class V>
ZARVEL_INLINE V scanUp(V x, V big) {
    x = scanUpStep<1, lanes>(x, big);
    x = scanUpStep<2, lanes>(x, big);
    x = scanUpStep<4, lanes>(x, big);
    if constexpr (lanes > 8) {
        x = scanUpStep<8, lanes>(x, big);
    }
    if constexpr (lanes > 16) {
        x = scanUpStep<16, lanes>(x, big);
    }
    return x;
}

template <int lanes, class V>
ZARVEL_INLINE V scanDown(V x, V big) {
    x = scanDownStep<1, lanes>(x, big);
    x = scanDownStep<2, lanes>(x, big);
    x = scanDownStep<4, lanes>(x, big);
    if constexpr (lanes > 8) {
        x = scanDownStep<8, lanes>(x, big);
    }
    if constexpr (lanes > 16) {
        x = scanDownStep<16, lanes>(x, big);
    }
    return x;
}

}  // namespace Vectors
}  // namespace OutlineKernel
