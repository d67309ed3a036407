#pragma once

// What the renderers share during one render: the job (plan, kernels, images, output rule and its
// tables), read-only while phases run, and the pixel rows on either side of the transforms:
// classes read from source alpha, and destination rows written from categories and values.
//
// Pixels are packed, nComponents components of type PIX per pixel, red first; the alpha is
// component 3 of an RGBA pixel and the only component of an alpha pixel.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#include "outline/OutlineKernel.h"
#include "outline/RenderPlan.h"
#include "outline/engine/Kernels.h"

namespace OutlineKernel {
namespace Engine {

/// Rows of an image someone else owns, type-erased (see PixelView in FastOutline.h).
struct ImageRows {
    const char* data = nullptr;
    std::ptrdiff_t rowBytes = 0;
    PixelRect bounds;
    bool valid = false;  ///< has pixels

    /// Address of pixel (x, y), which must lie in `bounds`. The bytes are the caller's: a
    /// destination is written through it, a source only read.
    template <class PIX, int nComponents>
    PIX* pixel(int x, int y) const {
        const char* row = data + static_cast<std::ptrdiff_t>(y - bounds.y1) * rowBytes;
        return const_cast<PIX*>(reinterpret_cast<const PIX*>(row)) +
               static_cast<std::ptrdiff_t>(x - bounds.x1) * nComponents;
    }

    /// True when row y has pixels.
    bool hasRow(int y) const { return valid && y >= bounds.y1 && y < bounds.y2; }
};

/// The compositing of the output rule for 8-bit RGBA pixels of one transformed value, worked out
/// once per source alpha with the same single-precision operations in the same order.
struct BlendEntry {
    float sourceAlpha;     ///< sa
    float outlineTerm[3];  ///< outline component × oa × inv
    float reciprocal;      ///< 1 / A
    u8 alpha;              ///< A × 255, limited
    u8 composite;          ///< A above the compositing floor
};

/// Output-rule values of one render worked out before any pixel.
struct OutputTables {
    /// chunkPixels outline pixels of full coverage with nothing composited.
    std::vector<unsigned char> constantRun;
    /// Good: the pixel of every n in [fullBelow, zeroFrom) with nothing composited.
    std::vector<unsigned char> ringPixels;
    /// 8-bit RGBA: compositing of the transformed values 0 and 1 by source alpha ([value][alpha]),
    /// and the outline pixels of those values.
    std::vector<BlendEntry> blendTable;
    u8 blendOutline[2][4] = {};
};

/// Everything the renderers read during a render; nothing in it changes while phases run.
struct RenderJob {
    RenderPlan plan;
    const Kernels* kernels = nullptr;
    ImageRows source;
    ImageRows destination;
    OutputSettings settings;
    OutputTables tables;
    bool (*abortQuery)(void*) = nullptr;
    void* abortContext = nullptr;

    /// Asked before every output row a task writes: true leaves the row unwritten.
    bool rowAborted() const { return abortQuery != nullptr && abortQuery(abortContext); }
};

/// Fills `tables` for the settings and plan of a render of PIX, nComponents pixels.
template <class PIX, int nComponents>
void makeOutputTables(const RenderPlan& plan, const OutputSettings& settings, OutputTables& tables);

/// Limits a value to [0, 255] and truncates it, as the output rule does for 8-bit pixels.
inline u8 limitByte(float value) {
    if (!(value >= 0.0f)) {
        return 0;
    }
    return static_cast<u8>(value > 255.0f ? 255.0f : value);
}

/// Classes of the field pixels [x1, x2) of row y into `out`; returns whether any is not far.
template <class PIX, int nComponents>
bool classifyRow(const RenderJob& job, int y, int x1, int x2, u8* out) {
    const int count = x2 - x1;
    const ImageRows& source = job.source;
    if (!source.hasRow(y)) {
        std::memset(out, classFar, static_cast<std::size_t>(count));
        return false;
    }
    const int from = std::max(x1, source.bounds.x1);
    const int to = std::min(x2, source.bounds.x2);
    if (from >= to) {
        std::memset(out, classFar, static_cast<std::size_t>(count));
        return false;
    }
    std::memset(out, classFar, static_cast<std::size_t>(from - x1));
    std::memset(out + (to - x1), classFar, static_cast<std::size_t>(x2 - to));
    return job.kernels->classify[pixelTypeIndex<PIX, nComponents>()](
        source.pixel<PIX, nComponents>(from, y), to - from, out + (from - x1));
}

/// Range of pixels [from, to) of a row segment of `count` pixels starting at x that have source
/// pixels in row y.
inline std::pair<int, int> sourceLanes(const ImageRows& source, int y, int x, int count) {
    if (!source.hasRow(y)) {
        return {0, 0};
    }
    const int from = std::clamp(source.bounds.x1 - x, 0, count);
    const int to = std::clamp(source.bounds.x2 - x, from, count);
    return {from, to};
}

/// Destination pixels [x1, x2) of row y become zero.
template <class PIX, int nComponents>
void zeroPixels(const RenderJob& job, int y, int x1, int x2) {
    if (x1 >= x2) {
        return;
    }
    std::memset(job.destination.pixel<PIX, nComponents>(x1, y), 0,
                static_cast<std::size_t>(x2 - x1) * nComponents * sizeof(PIX));
}

/// Window columns outside the field become zero in every window row inside the field: the first
/// stripe of a band does the left part of the row, the last the right part.
template <class PIX, int nComponents>
void zeroOutsideColumns(const RenderJob& job, const Tile& tile, int y) {
    if (tile.first) {
        zeroPixels<PIX, nComponents>(job, y, job.plan.window.x1, job.plan.inner.x1);
    }
    if (tile.last) {
        zeroPixels<PIX, nComponents>(job, y, job.plan.inner.x2, job.plan.window.x2);
    }
}

/// One row segment of output: its categories, classes, transformed values (n for the separable
/// transform, d for the chamfer one) and pixels.
template <class PIX>
struct OutputRow {
    const u8* categories;  ///< readable a vector past `count`
    const u8* classes;
    int count;
    const u16* near;      ///< separable
    const float* values;  ///< chamfer
    const PIX* source;    ///< pixel 0, or null; pixels [sourceFrom, sourceTo) exist
    int sourceFrom;
    int sourceTo;
    PIX* destination;
};

constexpr int log2Size(int bytes) {
    return bytes == 1 ? 0 : bytes == 2 ? 1 : bytes == 4 ? 2 : bytes == 8 ? 3 : 4;
}

/// Composites an 8-bit source pixel over the outline pixel of transformed value `value` (0 or 1)
/// from the table.
inline void blendByte(const RenderJob& job, int value, const u8* src, u8* out) {
    const OutputTables& t = job.tables;
    const BlendEntry& e = t.blendTable[static_cast<std::size_t>(value) * 256 + src[3]];
    if (e.composite == 0) {
        std::memcpy(out, t.blendOutline[value], 4);
        return;
    }
    for (int c = 0; c < 3; ++c) {
        out[c] = limitByte((e.outlineTerm[c] + static_cast<float>(src[c]) * e.sourceAlpha) *
                           e.reciprocal);
    }
    out[3] = e.alpha;
}

/// The output rule for one pixel of the general category: the outer falloff of the outline
/// (nothing to composite: by table or with no source), or compositing over an edge pixel.
template <class PIX, int nComponents, bool separable>
void writeGeneral(const RenderJob& job, const OutputRow<PIX>& row, int i) {
    constexpr std::size_t pixelBytes = sizeof(PIX) * nComponents;
    PIX* out = row.destination + static_cast<std::ptrdiff_t>(i) * nComponents;
    const bool far = row.classes[i] == classFar;
    if constexpr (separable) {
        const int n = row.near[i];
        if (nComponents == 1 || far) {
            const OutputTables& t = job.tables;
            if (n < job.plan.fullBelow) {
                std::memcpy(out, t.constantRun.data(), pixelBytes);
            } else {
                std::memcpy(out, t.ringPixels.data() + (n - job.plan.fullBelow) * pixelBytes,
                            pixelBytes);
            }
            return;
        }
        const PIX* src = row.source + static_cast<std::ptrdiff_t>(i) * nComponents;
        if constexpr (std::is_same_v<PIX, unsigned char> && nComponents == 4) {
            if (n < 2) {
                blendByte(job, n, src, out);
                return;
            }
        }
        applyOutputRule<PIX, nComponents>(std::sqrt(static_cast<float>(n)), job.settings, src, out);
    } else {
        const float d = row.values[i];
        if (nComponents == 1 || far) {
            applyOutputRule<PIX, nComponents>(d, job.settings, nullptr, out);
            return;
        }
        const PIX* src = row.source + static_cast<std::ptrdiff_t>(i) * nComponents;
        if constexpr (std::is_same_v<PIX, unsigned char> && nComponents == 4) {
            if (d == 0.0f) {
                blendByte(job, 0, src, out);
                return;
            }
        }
        applyOutputRule<PIX, nComponents>(d, job.settings, src, out);
    }
}

/// Writes a row segment: the blend kernel for zero, copied and constant pixels, then the general
/// ones, found eight categories at a time.
template <class PIX, int nComponents, bool separable>
void writeRow(const RenderJob& job, const OutputRow<PIX>& row) {
    constexpr int pixelBytes = static_cast<int>(sizeof(PIX)) * nComponents;
    const BlendArgs blend = {row.categories,
                             row.count,
                             row.source,
                             row.sourceFrom,
                             row.sourceTo,
                             row.destination,
                             job.tables.constantRun.data()};
    job.kernels->blend[log2Size(pixelBytes)](blend);
    static_assert(categoryGeneral == 3, "general pixels are the bytes with both low bits set");
    for (int w = 0; w < row.count; w += 8) {
        std::uint64_t word;
        std::memcpy(&word, row.categories + w, 8);
        std::uint64_t general = word & (word >> 1) & 0x0101010101010101ull;
        while (general != 0) {
            const int i = w + __builtin_ctzll(general) / 8;
            general &= general - 1;
            if (i >= row.count) {
                break;
            }
            writeGeneral<PIX, nComponents, separable>(job, row, i);
        }
    }
}

}  // namespace Engine
}  // namespace OutlineKernel
