#pragma once

// The fast outline engine: renders a window of outlined pixels straight from source pixels into
// destination pixels, bit for bit as the straightforward pipeline of OutlineKernel.h gives them
// (classify the whole field, transform it, apply the output rule to every window pixel), but
// without building the whole distance field on its fast paths.
//
// A render is planned first (RenderPlan.h: the path, the reach, the tiles, the scratch, the
// phases), then run phase by phase; the paths' renderers live in outline/engine/, one file
// each, over a table of vector kernels chosen by instruction set. Only transformed values up to
// the outline width change a pixel, so a pixel depends only on source pixels within the reach
// (see the reach rule in RenderPlan.h) and the window can be cut into tiles that are computed
// on their own:
// - Good and Best: every value that can reach the output is the square root of a whole number
//   n = min over rows (dy² + r²), r being the row distance of the row pass; a tile computes n
//   in integers, capped above (K + 1)², which equals the single-precision lower envelope on
//   fields up to exactEnvelopeRows rows high.
// - Draft: the chamfer recurrences are evaluated with the same single-precision additions for
//   every element, over the tile and a margin.
// Tiles are independent, so any number of threads can take them in any order; results never
// depend on the thread count, the order or the work units. Widths beyond fastReachLimit (or
// below 0, or not a number), and at Good taller fields, take the straightforward pipeline on a
// whole field (one float per field pixel, three phases), which is exact by construction.

#include <cstddef>
#include <memory>

#include "outline/RenderPlan.h"

namespace OutlineKernel {

/// A view of packed pixels in memory someone else owns. `data` points to the pixel at
/// (bounds.x1, bounds.y1); pixel (x, y) lies (y − bounds.y1) × rowBytes bytes and
/// (x − bounds.x1) × nComponents components after it. `rowBytes` may be negative (bottom-up
/// rows) or larger than a row (padding). With empty bounds or a null `data` the view holds no
/// pixel.
template <class PIX>
struct PixelView {
    PIX* data = nullptr;
    std::ptrdiff_t rowBytes = 0;
    PixelRect bounds;
};

/// The parameters of one render, as the output rule takes them.
struct FastOutlineSettings {
    int quality = 1;           ///< 0 Draft (chamfer transform); anything else the separable one
    double widthPixels = 2.0;  ///< outline width in destination pixels (any value)
    double red = 1.0;          ///< outline colour, nominally 0..1; out-of-range values and NaN
    double green = 1.0;        ///< are limited exactly as the output rule limits them
    double blue = 1.0;
};

/// One render of the outline into a window of a destination image.
///
/// Use: `prepare` on the calling thread, then for each phase from 0 to `phaseCount()` − 1 run
/// `runPhase(phase, t, n)` for every t from 0 to n − 1 (n at most the thread count given to
/// `prepare`), concurrently or one after another in any order, and let every call of a phase
/// return before the next phase starts. Calls of one phase never wait for each other: they take
/// the phase's tasks from a shared counter, so a host that runs its threads one after another,
/// or fewer at a time, gives the same result. The destination pixels written are exactly those
/// the straightforward pipeline writes:
/// - the window is clipped to the destination's bounds; nothing outside it is ever written;
/// - window rows outside `fieldBounds` are not touched;
/// - in the other window rows, pixels outside `fieldBounds` become zero, and every other pixel
///   gets the output rule (`applyOutputRule`) of its transformed value, the settings and the
///   source pixel at the same coordinates (none where the source has no pixel);
/// - the field is classified from the source alpha at the same coordinates (no pixel: far).
/// Different calls of a phase never write the same bytes. The source is only read. The source
/// and destination must not overlap.
///
/// Working memory: the fast paths hold scratch for min(maxThreads, tiles) threads, each a ring of
/// rows of one stripe of the window, within a budget of a few MiB per thread; the whole-field
/// path one float per field pixel plus a row and a column of scratch per thread.
///
/// Not thread-safe apart from concurrent `runPhase` calls of one phase. The object can be
/// prepared and run again; it keeps its memory between renders and grows it when needed.
class FastOutline {
public:
    FastOutline();
    ~FastOutline();
    FastOutline(const FastOutline&) = delete;
    FastOutline& operator=(const FastOutline&) = delete;

    /// Limits the vector code to `level` (for tests and benchmarks; the default is the best the
    /// processor has). Takes effect at the next `prepare`.
    void limitSimd(SimdLevel level);

    /// Forces work units (see WorkUnits; 0 keeps the plan's choice), for tests that want many
    /// seams on small fields and for tuning. Takes effect at the next `prepare`.
    void setWorkUnits(const WorkUnits& units);

    /// Plans and allocates everything for one render of `window` (pixel coordinates) with the
    /// field over `fieldBounds`. PIX is unsigned char, unsigned short or float, nComponents 4
    /// (RGBA) or 1 (alpha); the source and destination views have that type. `maxThreads` (at
    /// least 1) is the largest thread count any phase will be run with. The views, rectangles
    /// and settings are copied; the pixel memory must stay valid until the last phase has
    /// returned. Throws std::bad_alloc.
    template <class PIX, int nComponents>
    void prepare(const PixelView<const PIX>& source, const PixelView<PIX>& destination,
                 const PixelRect& fieldBounds, const PixelRect& window,
                 const FastOutlineSettings& settings, unsigned maxThreads);

    /// The plan of the prepared render.
    const RenderPlan& plan() const;

    /// Number of phases of the prepared render (0 when there is nothing to write).
    int phaseCount() const;

    /// A question asked before every output row is written, on the thread writing it: when
    /// `aborted(context)` answers true the row is left as it is (none of its pixels is written).
    /// With several stripes a row is asked about once per stripe. Null (the default) writes
    /// every row. Takes effect at once; `aborted` must be callable concurrently.
    void setAbortQuery(bool (*aborted)(void* context), void* context);

    /// Runs thread `threadIndex` of `threadCount` (1 ≤ threadCount ≤ maxThreads of `prepare`) of
    /// `phase`. Allocates nothing; throws only what the abort query throws (the render is then
    /// incomplete and must be prepared again).
    void runPhase(int phase, unsigned threadIndex, unsigned threadCount);

    /// Bytes of working memory the prepared render holds (scratch of every thread and, on the
    /// whole-field path, the field).
    std::size_t workingBytes() const;

    /// True when the prepared render uses the straightforward whole-field pipeline.
    bool usesWholeField() const;

    struct State;

private:
    std::unique_ptr<State> state;
};

}  // namespace OutlineKernel
