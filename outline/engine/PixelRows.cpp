#include "outline/engine/PixelRows.h"

namespace OutlineKernel {
namespace Engine {

template <class PIX, int nComponents>
void makeOutputTables(const RenderPlan& plan, const OutputSettings& settings,
                      OutputTables& tables) {
    constexpr std::size_t pixelBytes = sizeof(PIX) * nComponents;
    // The constant outline pixel: full coverage, nothing composited. It is never used when the
    // coverage is below 1 for every distance (widths below 1).
    tables.constantRun.assign(chunkPixels * pixelBytes, 0);
    PIX pixel[nComponents];
    applyOutputRule<PIX, nComponents>(0.0f, settings, nullptr, pixel);
    for (int i = 0; i < chunkPixels; ++i) {
        std::memcpy(tables.constantRun.data() + i * pixelBytes, pixel, pixelBytes);
    }
    if (plan.path == RenderPath::good) {
        tables.ringPixels.resize(static_cast<std::size_t>(plan.zeroFrom - plan.fullBelow) *
                                 pixelBytes);
        for (int n = plan.fullBelow; n < plan.zeroFrom; ++n) {
            applyOutputRule<PIX, nComponents>(
                std::sqrt(static_cast<float>(n)), settings, nullptr,
                reinterpret_cast<PIX*>(tables.ringPixels.data() +
                                       (n - plan.fullBelow) * pixelBytes));
        }
    }
    if constexpr (std::is_same_v<PIX, unsigned char> && nComponents == 4) {
        tables.blendTable.resize(2 * 256);
        for (int value = 0; value < 2; ++value) {
            u8* outline = tables.blendOutline[value];
            applyOutputRule<PIX, 4>(std::sqrt(static_cast<float>(value)), settings, nullptr,
                                    outline);
            const float oa = static_cast<float>(outline[3]) / 255.0f;
            for (int alpha = 0; alpha < 256; ++alpha) {
                BlendEntry& e = tables.blendTable[static_cast<std::size_t>(value) * 256 + alpha];
                e.sourceAlpha = static_cast<float>(alpha) / 255.0f;
                const float inv = 1.0f - e.sourceAlpha;
                const float a = oa * inv + e.sourceAlpha;
                e.composite = alpha != 0 && a > compositingFloor ? 1 : 0;
                e.reciprocal = 1.0f / a;
                for (int c = 0; c < 3; ++c) {
                    e.outlineTerm[c] = static_cast<float>(outline[c]) * oa * inv;
                }
                e.alpha = limitByte(a * 255.0f);
            }
        }
    }
}

#define ZARVEL_OUTPUT_TABLES(PIX, N)                                                               \
    template void makeOutputTables<PIX, N>(const RenderPlan&, const OutputSettings&, OutputTables&);
ZARVEL_OUTPUT_TABLES(unsigned char, 4)
ZARVEL_OUTPUT_TABLES(unsigned short, 4)
ZARVEL_OUTPUT_TABLES(float, 4)
ZARVEL_OUTPUT_TABLES(unsigned char, 1)
ZARVEL_OUTPUT_TABLES(unsigned short, 1)
ZARVEL_OUTPUT_TABLES(float, 1)
#undef ZARVEL_OUTPUT_TABLES

}  // namespace Engine
}  // namespace OutlineKernel
