#pragma once

// The arithmetic of the outline effect on plain buffers and numbers: classification of source
// coverage into a distance field, the two distance transforms of that field, and the output rule
// that turns one transformed value into one destination pixel.
//
// Conventions shared by every function here:
// - The distance field is a row-major array of `width` × `height` single-precision floats.
//   Element (i, j) lies at index j × width + i. The caller owns it; the transforms work in place.
// - Before a transform, every element holds one of the classification values `farValue`,
//   `edgeValue` or `insideValue`, and nothing else. After a transform, an element d < 0 means
//   inside, 0 ≤ d ≤ the outline width means outline, anything above means nothing is drawn.
// - Results are exact to the bit of a fixed single-precision evaluation order. The code must be
//   compiled without fast-math and without floating-point contraction.
// - Nothing here throws except `std::bad_alloc` where a function says it allocates. Nothing
//   keeps state between calls; functions are thread-safe as long as concurrent calls write
//   disjoint parts of a field (see the separable transform for the split that is allowed).
// - A width or height of 0 or less, or an empty row or column range, does nothing.

#include <cstddef>
#include <type_traits>
#include <vector>

namespace OutlineKernel {

/// Classification value of an element with no source pixel or a coverage of 0.
constexpr float farValue = 1e10f;
/// Classification value of an element whose coverage is above 0 and at most 0.5.
constexpr float edgeValue = 0.0f;
/// Classification value of an element whose coverage is above 0.5. The separable transform sets
/// it again at the end, so inside elements leave either transform negative.
constexpr float insideValue = -2.0f;
/// Cost of a horizontal or vertical step (chamfer transform and row pass).
constexpr float orthogonalStep = 1.0f;
/// Cost of a diagonal step of the chamfer transform (deliberately 1.414, not √2).
constexpr float diagonalStep = 1.414f;
/// Outer boundaries of the lower envelope of parabolas.
constexpr float envelopeLow = -1e20f;
constexpr float envelopeHigh = 1e20f;
/// Smallest composite alpha (0..1) for which the source is composited over the outline.
constexpr float compositingFloor = 0.001f;

// ---------------------------------------------------------------------------------------------
// Classification
// ---------------------------------------------------------------------------------------------

/// Classification value of an integer coverage `value` out of `maxValue` (255 or 65535):
/// 0 is far; value / maxValue (in double) above 0.5 is inside; anything else is edge.
inline float classifyIntegerAlpha(unsigned int value, unsigned int maxValue) {
    if (value == 0) {
        return farValue;
    }
    return static_cast<double>(value) / static_cast<double>(maxValue) > 0.5 ? insideValue
                                                                            : edgeValue;
}

/// Classification value of a float coverage: not above 0 (NaN included) is far; above 0.5 is
/// inside; anything else (up to 0.5 exactly) is edge.
inline float classifyFloatAlpha(float value) {
    if (!(value > 0.0f)) {
        return farValue;
    }
    return value > 0.5f ? insideValue : edgeValue;
}

/// Component-type traits: `maxValue` is the largest component value (255, 65535 or 1). The
/// primary template has no members, so an unsupported component type fails to compile.
template <class PIX>
struct PixelTraits;

template <>
struct PixelTraits<unsigned char> {
    static constexpr double maxValue = 255.0;
};

template <>
struct PixelTraits<unsigned short> {
    static constexpr double maxValue = 65535.0;
};

template <>
struct PixelTraits<float> {
    static constexpr double maxValue = 1.0;
};

/// Classification value of one alpha component of type PIX (unsigned char, unsigned short or
/// float), by `classifyIntegerAlpha` or `classifyFloatAlpha`.
template <class PIX>
inline float classifyAlpha(PIX alpha) {
    if constexpr (std::is_same_v<PIX, float>) {
        return classifyFloatAlpha(alpha);
    } else {
        return classifyIntegerAlpha(alpha, static_cast<unsigned int>(PixelTraits<PIX>::maxValue));
    }
}

// ---------------------------------------------------------------------------------------------
// Chamfer transform (quality Draft)
// ---------------------------------------------------------------------------------------------

/// Two-pass 3×3 chamfer transform of `field` in place, with steps `orthogonalStep` and
/// `diagonalStep`. Only elements above 0 change, and the first and last row and column never
/// change; with width or height below 3 nothing changes. Each pass reads values written earlier
/// in the same pass, so the transform is serial and covers the whole field in one call.
void chamferTransform(float* field, int width, int height);

// ---------------------------------------------------------------------------------------------
// Separable transform (qualities Good and Best)
// ---------------------------------------------------------------------------------------------
//
// The separable transform runs in two phases that may each be spread over threads:
//   1. `separableRowPass` over every row (any split of the rows into ranges);
//   2. after every row range is done, `separableColumnPass` over every column (any split of the
//      columns into ranges, each thread with its own `ColumnScratch`).
// Row ranges touch only their rows and column ranges only their columns, and the result does
// not depend on the split.
//
// Inside elements are restored without a mask: the row pass leaves its values unsquared, and an
// element holds exactly `insideValue` after the row pass if and only if it was classified
// inside (row relaxation never lowers −2 and never lowers anything else below −1). The column
// pass squares the row values as it reads them and writes `insideValue` back where it read it.
// Between the phases the field holds these intermediate values; nothing else should read it.

/// Row pass over rows [rowBegin, rowEnd) of a field `width` elements wide: a forward and a
/// backward relaxation with step `orthogonalStep` in each row, leaving the row distance (or
/// `insideValue`) unsquared. Rows must lie within the field.
void separableRowPass(float* field, int width, int rowBegin, int rowEnd);

/// Scratch memory of the column pass, sized by the field height. Create one per thread and reuse
/// it for every column range of that thread; it is not shared between threads.
struct ColumnScratch {
    /// Allocates scratch for fields up to `height` rows (throws std::bad_alloc).
    explicit ColumnScratch(int height = 0);
    /// Grows the scratch to `height` rows if it is smaller (throws std::bad_alloc).
    void reserve(int height);

    std::vector<float> column;      ///< squared row values of a block of columns
    std::vector<float> envelope;    ///< lower-envelope results of that block
    std::vector<int> positions;     ///< parabola positions (height entries)
    std::vector<float> boundaries;  ///< parabola boundaries (height + 1 entries)
    int capacity = 0;               ///< rows currently provided for
};

/// Column pass over columns [columnBegin, columnEnd) of a `width` × `height` field on which the
/// row pass has run over every row: squares each column's row values, applies `lowerEnvelope`,
/// and writes the single-precision square root back, or `insideValue` where the row value was
/// `insideValue`. Grows `scratch` if it was made for fewer rows (throws std::bad_alloc).
void separableColumnPass(float* field, int width, int height, int columnBegin, int columnEnd,
                         ColumnScratch& scratch);

/// The whole separable transform of `field` in place on the calling thread: the row pass over
/// all rows, then the column pass over all columns. Allocates one `ColumnScratch` (throws
/// std::bad_alloc).
void separableTransform(float* field, int width, int height);

/// Lower-envelope transform of `n` values: g[q] becomes the smallest (q − p)² + f[p] over all p,
/// found through the lower envelope of the parabolas rooted at each p. `positions` must hold n
/// ints and `boundaries` n + 1 floats (caller-owned scratch). `f` and `g` must not overlap.
/// Squares of positions are formed in 64-bit integers, so any n that fits an int is sound. A
/// value so far below the others that its parabola lies under the first one even at the lower
/// envelope bound (only possible beyond ±1e20 or with infinities) replaces the first parabola.
void lowerEnvelope(const float* f, float* g, int n, int* positions, float* boundaries);

/// `lowerEnvelope` of the part of a longer column that starts at position `first`: value k of `f`
/// and `g` belongs to position first + k, and every position the arithmetic uses is the
/// position in the whole column, so the single-precision results are those the whole column's
/// envelope gives wherever the parabolas before `first` play no part.
void lowerEnvelopeFrom(const float* f, float* g, int n, int first, int* positions,
                       float* boundaries);

/// `lowerEnvelopeFrom` of `columns` columns at once: column c's values are f[c × n .. c × n + n)
/// and g alike; `positions` holds columns × n ints and `boundaries` columns × (n + 1) floats.
/// Every column gets exactly what `lowerEnvelopeFrom` gives it.
void lowerEnvelopeColumns(const float* f, float* g, int n, int first, int columns, int* positions,
                          float* boundaries);

// ---------------------------------------------------------------------------------------------
// Output rule
// ---------------------------------------------------------------------------------------------

/// Per-run values of the output rule, worked out once per band by `makeOutputSettings`.
struct OutputSettings {
    float width = 0.0f;        ///< outline width w in destination pixels
    float widthMinus1 = 0.0f;  ///< w − 1, start of the falloff of the coverage
    float red = 0.0f;          ///< outline colour scaled to the component range
    float green = 0.0f;
    float blue = 0.0f;
};

/// Output-rule settings for component type PIX from the outline colour (0..1 per component) and
/// the width in destination pixels: the colour is scaled by PixelTraits<PIX>::maxValue in double
/// and then converted to float; the width is converted to float.
template <class PIX>
OutputSettings makeOutputSettings(double red, double green, double blue, double widthPixels);

/// Destination pixel for a transformed value `d`, in single precision throughout:
/// - d < 0: a copy of the source pixel, or zero if there is none;
/// - w ≥ d false (d above the width w, or NaN): zero;
/// - otherwise an outline pixel of coverage 1, or, where d > w − 1 and w > w − 1,
///   1 − (d − (w − 1)) / (w − (w − 1)) limited to [0, 1]. One component: coverage × max.
///   Four: colour × coverage and alpha coverage × max. Then, if the source exists and its alpha
///   is above 0, with sa = source alpha / max, oa = outline alpha as written / max,
///   inv = 1 − sa and A = oa × inv + sa: if A > `compositingFloor`, each colour component
///   becomes (outline component as written × oa × inv + source component × sa) × (1 / A) and
///   the alpha A × max. The coverage thus enters the composited colour twice.
/// Every written value is limited to [0, max] (NaN becomes 0) and, for integer types, truncated
/// toward zero, never rounded.
/// PIX is unsigned char, unsigned short or float; nComponents is 4 (RGBA) or 1 (alpha).
/// `src` (may be null: no source pixel) and `dst` point to packed pixels of that type; they may
/// not overlap.
template <class PIX, int nComponents>
void applyOutputRule(float d, const OutputSettings& settings, const PIX* src, PIX* dst);

/// `applyOutputRule` for `count` consecutive pixels: d[k] with source pixel k (src null: no
/// source for any of them) into destination pixel k.
template <class PIX, int nComponents>
void applyOutputRuleRow(const float* d, int count, const OutputSettings& settings, const PIX* src,
                        PIX* dst);

}  // namespace OutlineKernel
