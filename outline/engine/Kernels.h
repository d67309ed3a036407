#pragma once

// The engine's vector kernels: a table of functions, one table per instruction set, all giving
// the same bits. The renderers (GoodRenderer.cpp, DraftRenderer.cpp) call them through the
// table of the render's level; they never see a vector type. Each kernel works on plain rows of
// bytes, 16-bit integers or floats owned by the caller, and none allocates or throws.
//
// Rows handed to a kernel are padded to whole chunks (`chunkPixels`); lanes past a row's end are
// computed like any other and ignored by the caller.

#include <cstdint>
#include <type_traits>

#include "outline/RenderPlan.h"

namespace OutlineKernel {
namespace Engine {

using u8 = std::uint8_t;
using u16 = std::uint16_t;
using s16 = std::int16_t;

/// Activity flags, the column search and the renderers' rows work on chunks of this many pixels.
constexpr int chunkPixels = 64;
/// Most rows a wavefront band can have (two float vectors of AVX-512).
constexpr int maxLanes = 32;
/// Floats readable and writable before and after a wavefront row: the skew of a band and a
/// vector beyond.
constexpr int guardFloats = 128;

/// Classes of source pixels, from their coverage.
constexpr u8 classFar = 0;
constexpr u8 classEdge = 1;
constexpr u8 classInside = 2;
// The vector code turns classes into values and categories by arithmetic on these numbers.
static_assert(classFar == 0 && classEdge == 1 && classInside == 2, "classes are 0, 1 and 2");

/// What the output rule does with a pixel, decided for whole rows before any pixel is written.
constexpr u8 categoryZero = 0;      ///< every component 0
constexpr u8 categoryCopy = 1;      ///< a copy of the source pixel
constexpr u8 categoryConstant = 2;  ///< full coverage, nothing to composite: the outline colour
constexpr u8 categoryGeneral = 3;   ///< the output rule itself

// ---------------------------------------------------------------------------------------------
// Good and Best
// ---------------------------------------------------------------------------------------------

/// Row distances of the separable transform's row pass in integers: for a row of classes
/// (`length` a multiple of chunkPixels), out[i] = min over sources s of |i − s| − 2 (inside) or
/// |i − s| (edge), capped at `reachPlusOne`. Equal to the single-precision relaxation, whose
/// values are small integers.
struct RowDistanceArgs {
    const u8* classes;
    int length;
    int reachPlusOne;
    s16* out;
};

/// Squares of `count` row distances, limited to `cap`, into a row of `paddedCount` (a multiple
/// of chunkPixels; lanes past `count` get `cap`), and per chunk whether any square is below
/// `cap`. The row holds bytes or 16-bit values (the plan's `squareBytes`).
struct SquareArgs {
    const s16* distances;
    int count;
    int paddedCount;
    int cap;
    void* squares;
    u8* flags;
};

/// The column search of one output row: n = min over the rows within reach of dy² + f, capped at
/// `cap`, then the category of every pixel.
struct ColumnArgs {
    const void* const* rows;  ///< rows[reach + dy]: squares of row y + dy (as stored), or null
    const u8* const* flags;   ///< flags[reach + dy]: its chunk activity, or null
    const int* counts;        ///< per chunk: active rows among the rows within reach
    const u8* classes;        ///< classes of row y
    int chunks;
    int reach;
    int cap;
    int zeroFrom;    ///< n at or above this: zero pixel
    int fullBelow;   ///< n below this (and far class): constant outline pixel
    u16* near;       ///< out: n per pixel
    u8* categories;  ///< out
};

/// The categories of a row whose n per pixel is known (16 bits; `count` a multiple of
/// chunkPixels), as the column search gives them.
struct NearCategoryArgs {
    const u16* near;
    const u8* classes;
    int count;
    int zeroFrom;
    int fullBelow;
    u8* categories;
};

// ---------------------------------------------------------------------------------------------
// Draft
// ---------------------------------------------------------------------------------------------

/// One pass of the chamfer transform over a band of rows, as a wavefront: the lanes of a vector
/// are consecutive rows of the band, lane t working on column i − 2t at step i, so that every
/// neighbour an element needs is already final and each element gets exactly the candidates,
/// additions and comparisons of the sequential pass. The backward pass is the forward pass on
/// mirrored columns with the band's rows in reverse order.
struct WavefrontArgs {
    const float* const* in;  ///< row of each lane before the pass; readable [−guard, width + guard)
    float* const* out;       ///< row of each lane after it (may be the same row); writable alike
    const float* neighbour;  ///< the row before lane 0, after the pass; readable alike
    const float* rowKeys;    ///< per lane: −1 for a frozen row (or none), the far value otherwise
    const float* columnKeys;  ///< per column of the pass: −1 where frozen (0, width − 1 and
                              ///< beyond either end), the far value otherwise; readable alike
    int width;                ///< columns 0 and width − 1 are frozen
    bool reverse;             ///< columns right to left
    /// The pass covers columns [from, to) of every lane (from a multiple of the lane count; both
    /// in the pass's order), plus what the skew of the lanes brings in on either side. With from
    /// above 0 the lanes start from the values their rows hold before `from` in `out`: those
    /// must be final for this pass (or values the pass would leave as they are).
    int from;
    int to;
};

/// Class values (far, edge, inside) of a row of classes (`count` a multiple of chunkPixels), and
/// per chunk whether any is not far.
struct ClassValueArgs {
    const u8* classes;
    int count;
    float* values;
    u8* flags;
};

/// Categories of a row of chamfer values. Negative values are categorised as copies; lanes
/// without a source pixel become zero when they are written.
struct ChamferCategoryArgs {
    const float* values;
    const u8* classes;
    int count;  ///< a multiple of chunkPixels
    float width;
    float widthMinus1;
    u8* categories;
};

// ---------------------------------------------------------------------------------------------
// Pixels
// ---------------------------------------------------------------------------------------------

/// Writes a row of destination pixels from their categories: zero, a copy of the source pixel
/// (zero where the source has none), or the constant outline pixel. Pixels of the general
/// category are left for the caller. Works on bytes, the same for every pixel type.
struct BlendArgs {
    const u8* categories;  ///< readable a vector past `count`
    int count;
    const void* source;  ///< pixel 0; only pixels [sourceFrom, sourceTo) are read
    int sourceFrom;
    int sourceTo;
    void* destination;        ///< pixel 0
    const void* constantRun;  ///< at least 64 bytes of constant pixels
};

/// The kernels of one instruction set.
struct Kernels {
    /// Classes of `count` source pixels (by `pixelTypeIndex`) into bytes; returns whether any
    /// pixel is not far.
    bool (*classify[6])(const void* pixels, int count, u8* out);
    void (*blend[5])(const BlendArgs&);  ///< by pixel size: 1, 2, 4, 8, 16 bytes
    void (*rowDistances)(const RowDistanceArgs&);
    void (*squares[2])(const SquareArgs&);  ///< [0] bytes, [1] 16 bits
    void (*column[2])(const ColumnArgs&);   ///< alike
    void (*nearCategories)(const NearCategoryArgs&);
    void (*wavefront)(const WavefrontArgs&);
    void (*chamferCategories)(const ChamferCategoryArgs&);
    void (*classValues)(const ClassValueArgs&);
    int lanes;  ///< rows of a wavefront band: two float vectors
};

/// The kernels of `level`, which must be at most `detectedSimdLevel()`.
const Kernels& kernelsFor(SimdLevel level);

/// Rows of a wavefront band at `level` (`kernelsFor(level).lanes`), for planning.
int wavefrontLanes(SimdLevel level);

/// Pixel types in the order of Kernels::classify.
template <class PIX, int nComponents>
constexpr int pixelTypeIndex() {
    return (nComponents == 4 ? 0 : 3) + (std::is_same_v<PIX, unsigned char>    ? 0
                                         : std::is_same_v<PIX, unsigned short> ? 1
                                                                               : 2);
}

}  // namespace Engine
}  // namespace OutlineKernel
