// The kernel tables: every body of GoodKernels.h, DraftKernels.h and PixelKernels.h compiled
// once per instruction set. On x86-64 the engine picks SSE2, AVX2 or AVX-512 at run time (the
// bodies are inlined into functions with the matching target attribute, so the rest of the
// program needs nothing beyond the baseline); elsewhere the generic vectors are compiled once, at
// the processor's own width.
#include "outline/engine/Kernels.h"

#include "outline/engine/DraftKernels.h"
#include "outline/engine/GoodKernels.h"
#include "outline/engine/PixelKernels.h"

#if defined(__x86_64__) || defined(__i386__)
#define ZARVEL_X86 1
#define ZARVEL_TARGET_AVX2 __attribute__((target("avx2")))
#define ZARVEL_TARGET_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2")))
#else
#define ZARVEL_X86 0
#endif

namespace OutlineKernel {
namespace Engine {

namespace {

#define ZARVEL_KERNELS(NAME, TARGET, BYTES)                                                        \
    TARGET bool NAME##ClassifyRgba8(const void* p, int n, u8* out) {                               \
        return classifyBody<BYTES, unsigned char, 4>(p, n, out);                                   \
    }                                                                                              \
    TARGET bool NAME##ClassifyRgba16(const void* p, int n, u8* out) {                              \
        return classifyBody<BYTES, unsigned short, 4>(p, n, out);                                  \
    }                                                                                              \
    TARGET bool NAME##ClassifyRgbaFloat(const void* p, int n, u8* out) {                           \
        return classifyBody<BYTES, float, 4>(p, n, out);                                           \
    }                                                                                              \
    TARGET bool NAME##ClassifyAlpha8(const void* p, int n, u8* out) {                              \
        return classifyBody<BYTES, unsigned char, 1>(p, n, out);                                   \
    }                                                                                              \
    TARGET bool NAME##ClassifyAlpha16(const void* p, int n, u8* out) {                             \
        return classifyBody<BYTES, unsigned short, 1>(p, n, out);                                  \
    }                                                                                              \
    TARGET bool NAME##ClassifyAlphaFloat(const void* p, int n, u8* out) {                          \
        return classifyBody<BYTES, float, 1>(p, n, out);                                           \
    }                                                                                              \
    TARGET void NAME##Blend1(const BlendArgs& a) {                                                 \
        blendBody<BYTES, 1>(a);                                                                    \
    }                                                                                              \
    TARGET void NAME##Blend2(const BlendArgs& a) {                                                 \
        blendBody<BYTES, 2>(a);                                                                    \
    }                                                                                              \
    TARGET void NAME##Blend4(const BlendArgs& a) {                                                 \
        blendBody<BYTES, 4>(a);                                                                    \
    }                                                                                              \
    TARGET void NAME##Blend8(const BlendArgs& a) {                                                 \
        blendBody<BYTES, 8>(a);                                                                    \
    }                                                                                              \
    TARGET void NAME##Blend16(const BlendArgs& a) {                                                \
        blendBody<BYTES, 16>(a);                                                                   \
    }                                                                                              \
    TARGET void NAME##RowDistances(const RowDistanceArgs& a) {                                     \
        rowDistancesBody<BYTES>(a);                                                                \
    }                                                                                              \
    TARGET void NAME##Squares(const SquareArgs& a) {                                               \
        squaresBody<BYTES>(a);                                                                     \
    }                                                                                              \
    TARGET void NAME##Column(const ColumnArgs& a) {                                                \
        columnBody<BYTES>(a);                                                                      \
    }                                                                                              \
    TARGET void NAME##Wavefront(const WavefrontArgs& a) {                                          \
        if (a.reverse) {                                                                           \
            wavefrontBody<BYTES, true>(a);                                                         \
        } else {                                                                                   \
            wavefrontBody<BYTES, false>(a);                                                        \
        }                                                                                          \
    }                                                                                              \
    TARGET void NAME##ClassValues(const ClassValueArgs& a) {                                       \
        classValuesBody<BYTES>(a);                                                                 \
    }                                                                                              \
    TARGET void NAME##ChamferCategories(const ChamferCategoryArgs& a) {                            \
        chamferCategoriesBody<BYTES>(a);                                                           \
    }                                                                                              \
    const Kernels NAME##Kernels = {                                                                \
        {NAME##ClassifyRgba8, NAME##ClassifyRgba16, NAME##ClassifyRgbaFloat, NAME##ClassifyAlpha8, \
         NAME##ClassifyAlpha16, NAME##ClassifyAlphaFloat},                                         \
        {NAME##Blend1, NAME##Blend2, NAME##Blend4, NAME##Blend8, NAME##Blend16},                   \
        NAME##RowDistances,                                                                        \
        NAME##Squares,                                                                             \
        NAME##Column,                                                                              \
        NAME##Wavefront,                                                                           \
        NAME##ChamferCategories,                                                                   \
        NAME##ClassValues,                                                                         \
        BYTES / 2};

#if ZARVEL_X86
ZARVEL_KERNELS(sse2, , 16)
ZARVEL_KERNELS(avx2, ZARVEL_TARGET_AVX2, 32)
ZARVEL_KERNELS(avx512, ZARVEL_TARGET_AVX512, 64)
#else
// 16 bytes is the vector width of the baseline of every other architecture the engine is built
// for (NEON on 64-bit ARM); the compiler maps the generic vectors onto it.
ZARVEL_KERNELS(baseline, , 16)
#endif
#undef ZARVEL_KERNELS

}  // namespace

const Kernels& kernelsFor(SimdLevel level) {
#if ZARVEL_X86
    switch (level) {
    case SimdLevel::avx512:
        return avx512Kernels;
    case SimdLevel::avx2:
        return avx2Kernels;
    case SimdLevel::baseline:
        break;
    }
    return sse2Kernels;
#else
    (void)level;
    return baselineKernels;
#endif
}

int wavefrontLanes(SimdLevel level) {
    return kernelsFor(level).lanes;
}

}  // namespace Engine

SimdLevel detectedSimdLevel() {
#if ZARVEL_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq")) {
        return SimdLevel::avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return SimdLevel::avx2;
    }
#endif
    return SimdLevel::baseline;
}

}  // namespace OutlineKernel
