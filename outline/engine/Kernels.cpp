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

// One table per instruction set: thin wrappers with the set's target attribute, into which the
// always-inlined bodies are compiled. NAME is the table's namespace.
#define ZARVEL_KERNELS(NAME, TARGET, BYTES)                                                        \
    namespace NAME {                                                                               \
    template <class PIX, int N>                                                                    \
    TARGET bool classify(const void* pixels, int count, u8* out) {                                 \
        return classifyBody<BYTES, PIX, N>(pixels, count, out);                                    \
    }                                                                                              \
    template <int pixelBytes>                                                                      \
    TARGET void blend(const BlendArgs& a) {                                                        \
        blendBody<BYTES, pixelBytes>(a);                                                           \
    }                                                                                              \
    TARGET void rowDistances(const RowDistanceArgs& a) {                                           \
        rowDistancesBody<BYTES>(a);                                                                \
    }                                                                                              \
    template <class T>                                                                             \
    TARGET void squares(const SquareArgs& a) {                                                     \
        squaresBody<BYTES, T>(a);                                                                  \
    }                                                                                              \
    template <class T>                                                                             \
    TARGET void column(const ColumnArgs& a) {                                                      \
        columnBody<BYTES, T>(a);                                                                   \
    }                                                                                              \
    TARGET void nearCategories(const NearCategoryArgs& a) {                                        \
        nearCategoriesBody<BYTES>(a);                                                              \
    }                                                                                              \
    TARGET void wavefront(const WavefrontArgs& a) {                                                \
        if (a.reverse) {                                                                           \
            wavefrontBody<BYTES, true>(a);                                                         \
        } else {                                                                                   \
            wavefrontBody<BYTES, false>(a);                                                        \
        }                                                                                          \
    }                                                                                              \
    TARGET void classValues(const ClassValueArgs& a) {                                             \
        classValuesBody<BYTES>(a);                                                                 \
    }                                                                                              \
    TARGET void chamferCategories(const ChamferCategoryArgs& a) {                                  \
        chamferCategoriesBody<BYTES>(a);                                                           \
    }                                                                                              \
    const Kernels kernels = {{classify<unsigned char, 4>, classify<unsigned short, 4>,             \
                              classify<float, 4>, classify<unsigned char, 1>,                      \
                              classify<unsigned short, 1>, classify<float, 1>},                    \
                             {blend<1>, blend<2>, blend<4>, blend<8>, blend<16>},                  \
                             rowDistances,                                                         \
                             {squares<u8>, squares<u16>},                                          \
                             {column<u8>, column<u16>},                                            \
                             nearCategories,                                                       \
                             wavefront,                                                            \
                             chamferCategories,                                                    \
                             classValues,                                                          \
                             BYTES / 2};                                                           \
    }  // namespace NAME

#if ZARVEL_X86
ZARVEL_KERNELS(sse2, , 16)
ZARVEL_KERNELS(avx2, ZARVEL_TARGET_AVX2, 32)
ZARVEL_KERNELS(avx512, ZARVEL_TARGET_AVX512, 64)
#else
// Elsewhere one set, at the vector width the build targets: a fixed SVE length where the build
// sets one (-msve-vector-bits), else 16 bytes (NEON, or plain code where the compiler has no
// vectors). More than 64 bytes would exceed the wavefront's widest band.
#if defined(__ARM_FEATURE_SVE_BITS) && __ARM_FEATURE_SVE_BITS >= 512
ZARVEL_KERNELS(baseline, , 64)
#elif defined(__ARM_FEATURE_SVE_BITS) && __ARM_FEATURE_SVE_BITS >= 256
ZARVEL_KERNELS(baseline, , 32)
#else
ZARVEL_KERNELS(baseline, , 16)
#endif
#endif
#undef ZARVEL_KERNELS

}  // namespace

const Kernels& kernelsFor(SimdLevel level) {
#if ZARVEL_X86
    switch (level) {
    case SimdLevel::avx512:
        return avx512::kernels;
    case SimdLevel::avx2:
        return avx2::kernels;
    case SimdLevel::baseline:
        break;
    }
    return sse2::kernels;
#else
    (void)level;
    return baseline::kernels;
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
