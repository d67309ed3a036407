#pragma once

// The render plan: everything the fast outline engine decides about one render before it
// touches a pixel. `planRender` is a pure function of what the render is given (the rectangles,
// the quality and width, the thread count, the instruction-set level and any forced work units);
// the engine (FastOutline.h) allocates what the plan says and runs its phases, and the tests
// check plans without pixels.
//
// Coordinates are pixel coordinates (x2 and y2 exclusive) of the images and the field.
//
// The reach rule. With K = ceil(width), the drawn width in destination pixels rounded up, an
// output pixel depends only on source pixels and field elements at most `sourceReach` = K + 4
// pixels away in x and in y:
// - Good and Best: only transformed values up to the width change a pixel, and such a value
//   comes from a source at most K rows and K + 2 columns away (the row pass starts inside pixels
//   at −2);
// - Draft: a chamfer value up to K comes from a chain of at most K + 2 steps, and a node whose
//   forward value is 0 or below stays fixed in the backward pass, which can move the start of a
//   chain by 2 more.
// Every computed region ends in a frozen edge: the chamfer transform never changes a field's
// outer rows and columns, and a Draft tile freezes the edges of the region it computes. Such an
// edge disturbs values a step or two inside it, so a region is grown by `computedMargin` =
// `sourceReach` + 2 past the pixels it must get right. The region of interest the effect asks of
// the host is the window grown by `sourceReach`; the field of a tile is the window grown by
// `computedMargin`; a Draft tile computes its stripe and band grown by `computedMargin`.

namespace OutlineKernel {

/// Integer rectangle in pixel coordinates; x2 and y2 exclusive. Empty when x2 ≤ x1 or y2 ≤ y1.
struct PixelRect {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
};

/// Instruction sets the engine's vector code can use; every level gives identical results.
/// `baseline` is what every processor of the build's architecture has: SSE2 on x86-64, the
/// generic vectors at the processor's own width elsewhere. AVX2 and AVX-512 exist on x86-64 only.
enum class SimdLevel { baseline, avx2, avx512 };

/// The best level this processor supports.
SimdLevel detectedSimdLevel();

/// K of the reach rule: ceil(width) for a width in destination pixels; 0 for a width that is
/// not a positive number; at most 2^30.
int outlineReach(double widthPixels);

/// How far (pixels, in x and in y) the source pixels and field elements an output pixel depends
/// on can lie: K + 4 (see the top of this file).
int sourceReach(double widthPixels);

/// How far a computed region reaches past the pixels it must get right: `sourceReach` + 2,
/// beyond the disturbance of its frozen edge.
int computedMargin(double widthPixels);

/// Widest K of the fast paths: (K + 1)² and the sums the column search forms stay within
/// 16 bits. Wider outlines take the whole-field pipeline.
constexpr int fastReachLimit = 254;

/// Tallest field on which the integer column search agrees with the single-precision lower
/// envelope of the straightforward pipeline: below it every sum (f + q²) a value within the
/// reach depends on is below 2^24, so the envelope's boundaries are exact quotients and fall on
/// the right side of every row. On taller fields at Good, the rows near and past it take the
/// envelope itself (see RenderPlan::envelopeRows).
constexpr int exactEnvelopeRows = 4088;

/// Forced work units (0: the plan's own choice): the stripe width in pixels, the number of
/// bands of rows, and at Draft the rows per backward block. Results never depend on them.
struct WorkUnits {
    int stripeWidth = 0;
    int bands = 0;
    int blockRows = 0;
};

/// What a render is given.
struct RenderRequest {
    PixelRect fieldBounds;        ///< the rectangle the distance field covers
    PixelRect window;             ///< the render window
    PixelRect destinationBounds;  ///< the destination image's pixels
    int quality = 1;              ///< 0 Draft; anything else the separable transform
    /// The outline width in destination pixels as the output rule takes it (single precision;
    /// see `makeOutputSettings`). Below 0, or not a number: the whole-field pipeline.
    float width = 0.0f;
    unsigned threads = 1;  ///< the most threads any phase will run on (0 counts as 1)
    SimdLevel level = SimdLevel::baseline;
    WorkUnits units;
};

/// How a render is computed.
enum class RenderPath {
    nothing,     ///< no window row lies in the field (or no pixel at all): nothing is written
    zeroRows,    ///< window rows in the field, but no field column: the rows become zero
    good,        ///< Good and Best: tiles of integer row distances and the column search
    draft,       ///< Draft: tiles of the chamfer wavefront
    wholeField,  ///< the straightforward pipeline on the whole field
};

/// One phase of a render: `tasks` tasks, taken by the threads in any order.
struct RenderPhase {
    int tasks = 0;
};

/// The plan of one render.
struct RenderPlan {
    RenderPath path = RenderPath::nothing;
    SimdLevel level = SimdLevel::baseline;
    int quality = 1;
    PixelRect field;   ///< the field's rectangle
    PixelRect window;  ///< the window clipped to the destination's bounds: the pixels written
    /// The window clipped to the field: the pixels the output rule gives. Window pixels in rows
    /// of `inner` but outside its columns become zero; rows outside it are not touched.
    PixelRect inner;

    // The reach (fast paths).
    int reach = 0;        ///< K: ceil(width)
    int cap = 1;          ///< Good: the cap of squared distances, `zeroFrom`: nothing above draws
    int squareBytes = 2;  ///< Good: 1 when every square below the cap fits a byte, else 2
    /// Good on fields taller than exactEnvelopeRows: output rows from this one on (counted from
    /// the field's top) take the single-precision lower envelope of their column, computed as
    /// the straightforward pipeline does, with positions counted from the field's top, over the
    /// column's rows from `envelopeLookback` above a tile's first such row to as far below its
    /// last, with row distances capped at `envelopeReach`. Far enough from a row, neither the
    /// rows left out nor the cap change what the envelope gives it below the zero threshold.
    /// The field's height when no row needs it.
    int envelopeRows = 0;
    int envelopeLookback = 0;
    int envelopeReach = 0;
    int envelopeSpan = 0;  ///< most rows one tile's envelope covers
    int zeroFrom = 1;      ///< Good: smallest n whose square root is above the width
    int fullBelow = 0;     ///< Good: smallest n whose square root does not give full coverage
    int margin = 0;     ///< Draft: rows and columns a tile computes beyond its own (computedMargin)
    int blockRows = 0;  ///< Draft: output rows per backward block
    int lanes = 0;      ///< Draft: rows of a wavefront band at the plan's level

    // Tiles (fast paths): vertical stripes of `inner` × bands of rows; task t is stripe
    // t % stripes of band t / stripes (`tileOf`).
    int stripeWidth = 0;
    int stripes = 1;
    int bands = 1;

    // Scratch of one thread (fast paths), in pixels and rows.
    int stripeMax = 0;  ///< widest stripe, padded to whole chunks
    int regionMax = 0;  ///< widest region a stripe reads or computes, padded to whole chunks
    int ringRows = 0;   ///< rows of a tile's ring

    // The whole-field pipeline's tasks: rows of a classification or output task, columns of a
    // column-pass task.
    int taskRows = 0;
    int taskColumns = 0;

    int phaseCount = 0;
    RenderPhase phases[3];
    unsigned threads = 0;  ///< threads that can have a task at once: scratch sets to allocate
};

/// The plan of the render `request` describes. Pure; thread-safe.
RenderPlan planRender(const RenderRequest& request);

/// A tile of a fast-path plan: columns [x1, x2) and rows [y1, y2) of `inner`.
struct Tile {
    int x1 = 0;
    int x2 = 0;
    int y1 = 0;
    int y2 = 0;
    bool first = false;  ///< the stripe touches the left end of `inner`
    bool last = false;   ///< the stripe touches the right end of `inner`
};

/// Tile `task` of `plan` (0 ≤ task < stripes × bands). The tiles cover `inner` exactly, without
/// overlap.
Tile tileOf(const RenderPlan& plan, int task);

}  // namespace OutlineKernel
