#pragma once

// Kernel bodies that read and write pixels: classification of source alpha and the blend of
// whole rows by category. Included only by Kernels.cpp, which compiles them for every
// instruction set.

#include "outline/engine/Kernels.h"
#include "outline/engine/Vectors.h"

namespace OutlineKernel {
namespace Engine {

using namespace Vectors;

template <int n, class V, std::size_t... I>
ZARVEL_INLINE auto everyFourthImpl(V a, V b, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, b, (static_cast<int>(I) * 4 + 3)...);
}

template <class H, std::size_t... I>
ZARVEL_INLINE auto joinImpl(H a, H b, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, b, static_cast<int>(I)...);
}

// Lanes 3, 7, 11, ... of four consecutive vectors of n lanes (component 3 of packed RGBA).
template <int n, class V>
ZARVEL_INLINE V gatherAlpha(const V (&parts)[4]) {
    const auto low = everyFourthImpl<n>(parts[0], parts[1], std::make_index_sequence<n / 2>());
    const auto high = everyFourthImpl<n>(parts[2], parts[3], std::make_index_sequence<n / 2>());
    return joinImpl(low, high, std::make_index_sequence<n>());
}

// Class of `count` source pixels from `pixel` on (component 3 of RGBA, the only one of alpha);
// returns whether any is not far.
template <class PIX, int nComponents>
bool classifyPixels(const PIX* pixel, int count, u8* out) {
    constexpr int alpha = nComponents == 4 ? 3 : 0;
    unsigned any = 0;
    for (int i = 0; i < count; ++i) {
        const PIX a = pixel[i * nComponents + alpha];
        unsigned cls;
        if constexpr (std::is_same_v<PIX, float>) {
            cls = static_cast<unsigned>(a > 0.0f) + static_cast<unsigned>(a > 0.5f);
        } else {
            // value / max above 0.5 is exactly value ≥ 128 (8-bit) or ≥ 32768 (16-bit).
            constexpr unsigned half = std::is_same_v<PIX, unsigned char> ? 128u : 32768u;
            cls = static_cast<unsigned>(a != 0) + static_cast<unsigned>(a >= half);
        }
        out[i] = static_cast<u8>(cls);
        any |= cls;
    }
    return any != 0;
}

// The same for whole vectors of pixels only: returns how many it did (`any` gets whether any is
// not far); the caller does the rest.
template <int bytes, class PIX, int nComponents>
ZARVEL_INLINE int classifyVectors(const void* pixels, int count, u8* out, u8& any) {
    using S = Simd<bytes>;
    u8 seen = 0;
    int done = 0;
    if constexpr (std::is_same_v<PIX, float>) {
        using F32 = typename S::F32;
        using S32 = typename S::S32;
        constexpr int n = S::lanes32;
        using Out = typename S::Q8;
        const F32 zero = splat<F32>(0.0f);
        const F32 half = splat<F32>(0.5f);
        const S32 one = splat<S32>(1);
        const S32 none = splat<S32>(0);
        const float* p = static_cast<const float*>(pixels);
        // Not above 0 (NaN included) far, above 0.5 inside, anything else edge.
        auto classes = [&](F32 a) { return (a > zero ? one : none) + (a > half ? one : none); };
        Out collected{};
        for (; done + n <= count; done += n) {
            S32 c;
            if constexpr (nComponents == 1) {
                c = classes(load<F32>(p + done));
            } else {
                const float* q = p + static_cast<std::ptrdiff_t>(done) * 4;
                S32 parts[4];
                for (int k = 0; k < 4; ++k) {
                    parts[k] = classes(load<F32>(q + k * n));
                }
                // Component 3 of every pixel: lanes 3, 7, 11, ... of the four vectors in turn.
                c = gatherAlpha<n>(parts);
            }
            const Out c8 = __builtin_convertvector(c, Out);
            collected |= c8;
            store(out + done, c8);
        }
        seen = anyBits(collected) ? 1 : 0;
    } else {
        // value / max above 0.5 is value ≥ 128 (8-bit) or ≥ 32768 (16-bit): the top bit.
        constexpr int topShift = std::is_same_v<PIX, unsigned char> ? 7 : 15;
        using U16 = typename S::U16;
        using U8 = typename S::U8;
        constexpr int n = S::lanes16;
        const U16 one = splat<U16>(static_cast<u16>(1));
        U8 collected{};
        for (; done + n <= count; done += n) {
            U16 a;
            if constexpr (nComponents == 1) {
                if constexpr (std::is_same_v<PIX, unsigned char>) {
                    a = __builtin_convertvector(load<U8>(static_cast<const u8*>(pixels) + done),
                                                U16);
                } else {
                    a = load<U16>(static_cast<const u16*>(pixels) + done);
                }
            } else if constexpr (std::is_same_v<PIX, unsigned char>) {
                const typename S::W32 w = load<typename S::W32>(
                    static_cast<const u8*>(pixels) + static_cast<std::ptrdiff_t>(done) * 4);
                a = __builtin_convertvector(w >> 24, U16);
            } else {
                const typename S::W64 w = load<typename S::W64>(
                    static_cast<const u16*>(pixels) + static_cast<std::ptrdiff_t>(done) * 4);
                a = __builtin_convertvector(__builtin_convertvector(w >> 48, typename S::W32), U16);
            }
            const U16 c = vmin(a, one) + (a >> topShift);
            const U8 c8 = __builtin_convertvector(c, U8);
            collected |= c8;
            store(out + done, c8);
        }
        seen = anyBits(collected) ? 1 : 0;
    }
    any = static_cast<u8>(any | seen);
    return done;
}

template <int pixelBytes, class V, std::size_t... I>
ZARVEL_INLINE V expandCategories(V c, std::index_sequence<I...>) {
    return __builtin_shufflevector(c, c, (static_cast<int>(I) / pixelBytes)...);
}

template <int bytes, int pixelBytes, bool withSource>
ZARVEL_INLINE void blendRun(const BlendArgs& a, int from, int to) {
    using B8 = typename Simd<bytes>::B8;
    constexpr int perVector = bytes / pixelBytes;
    const B8 one = splat<B8>(1);
    const B8 constant = load<B8>(static_cast<const u8*>(a.constantRun));
    const u8* source = static_cast<const u8*>(a.source);
    u8* destination = static_cast<u8*>(a.destination);
    int i = from;
    for (; i + perVector <= to; i += perVector) {
        const B8 c = expandCategories<pixelBytes>(load<B8>(a.categories + i),
                                                  std::make_index_sequence<bytes>());
        // Category bits 01 copy, 10 constant; masks by arithmetic, not comparisons.
        const B8 isCopy = c & ~(c >> 1) & one;
        const B8 isConstant = (c >> 1) & ~c & one;
        B8 out = constant & (B8{} - isConstant);
        if constexpr (withSource) {
            out |= load<B8>(source + static_cast<std::ptrdiff_t>(i) * pixelBytes) & (B8{} - isCopy);
        }
        store(destination + static_cast<std::ptrdiff_t>(i) * pixelBytes, out);
    }
    for (; i < to; ++i) {
        u8* out = destination + static_cast<std::ptrdiff_t>(i) * pixelBytes;
        const u8 category = a.categories[i];
        if (category == categoryConstant) {
            std::memcpy(out, a.constantRun, pixelBytes);
        } else if (withSource && category == categoryCopy) {
            std::memcpy(out, source + static_cast<std::ptrdiff_t>(i) * pixelBytes, pixelBytes);
        } else if (category != categoryGeneral) {
            std::memset(out, 0, pixelBytes);
        }
    }
}

template <int bytes, int pixelBytes>
ZARVEL_INLINE void blendBody(const BlendArgs& a) {
    const int from = std::clamp(a.sourceFrom, 0, a.count);
    const int to = std::clamp(a.sourceTo, from, a.count);
    blendRun<bytes, pixelBytes, false>(a, 0, from);
    if (a.source != nullptr) {
        blendRun<bytes, pixelBytes, true>(a, from, to);
    } else {
        blendRun<bytes, pixelBytes, false>(a, from, to);
    }
    blendRun<bytes, pixelBytes, false>(a, to, a.count);
}

template <int bytes, class PIX, int nComponents>
ZARVEL_INLINE bool classifyBody(const void* pixels, int count, u8* out) {
    u8 any = 0;
    const int done = classifyVectors<bytes, PIX, nComponents>(pixels, count, out, any);
    const bool rest = classifyPixels<PIX, nComponents>(
        static_cast<const PIX*>(pixels) + static_cast<std::ptrdiff_t>(done) * nComponents,
        count - done, out + done);
    return any != 0 || rest;
}

}  // namespace Engine
}  // namespace OutlineKernel
