#pragma once

// The fast outline engine: renders a window of outlined pixels straight from source pixels into
// destination pixels, bit for bit as the straightforward pipeline of OutlineKernel.h gives them
// (classify the whole field, transform it, apply the output rule to every window pixel), but
// without ever building the whole distance field.
//
// Why an exact shortcut exists:
// - Only transformed values up to the outline width change a pixel (anything above gives zero),
//   so with K = ceil(width) a pixel depends on source pixels at most K + 6 pixels away.
// - Good and Best: every value that can reach the output is the square root of a whole number
//   n = min over rows (dy² + r²), r being the row distance of the row pass. The engine computes n
//   in integers, capped above (K + 1)², which equals the single-precision lower envelope for
//   every value that matters on fields up to 4088 rows high: there every sum the envelope forms
//   for such a value is an integer below 2^24, so its boundaries are exact quotients, and two
//   parabolas whose roots are fewer than 4096 rows apart differ at a whole row by at least
//   1/(2 × 4096), more than half a unit in the last place of any boundary below 4096.
// - Draft: the chamfer recurrences are evaluated with the same single-precision additions for
//   every element; a value up to K depends only on elements within K + 2 steps, so a tile is
//   computed on its own with a margin of K + 6 pixels on every side.
//
// Work is cut into tiles: vertical stripes of the window (whole rows unless the ring of rows a
// tile keeps would pass a budget of a few MiB) cut into bands of rows. Each tile streams its rows
// once, plus the rows within reach above and below, keeping a ring of recent rows: Good
// classifies and measures rows as they arrive and writes an output row once every row within
// reach has been seen; Draft runs the chamfer passes as a wavefront over bands of rows (see
// FastOutline.cpp), only over the columns of a band that hold a far pixel with a source within
// reach + 2: elsewhere a pass leaves every value as it is, or lowers far values to values still
// beyond the reach, which change no output; pixels there are written as zeros without looking
// at their values, and a band's rows are written as soon as its backward pass has finished them.
// Tiles are independent, so any number of threads can take them in any order; results never
// depend on the thread count or the order.
//
// Widths above 254 pixels (or below 0, or not a number), and at Good fields more than 4088 rows
// high, fall back to the straightforward pipeline on a whole field (one float per field pixel,
// three phases), which is exact by construction. On those tall fields the single-precision lower
// envelope rounds squared row positions above 2^24 and can pick a parabola one unit off the true
// one; the output is the straightforward pipeline's, rounding included, so the fast path steps
// aside. Draft is exact on the fast path at any size.

#include <cstddef>
#include <memory>

namespace OutlineKernel {

/// Integer rectangle in pixel coordinates; x2 and y2 exclusive. Empty when x2 ≤ x1 or y2 ≤ y1.
struct PixelRect {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
};

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

/// Instruction sets the engine's vector code can use. Every level gives identical results.
enum class SimdLevel { sse2, avx2, avx512 };

/// The best level this processor supports.
SimdLevel detectedSimdLevel();

/// One render of the outline into a window of a destination image.
///
/// Use: `prepare` on the calling thread, then for each phase from 0 to `phaseCount()` − 1 run
/// `runPhase(phase, t, n)` for every t from 0 to n − 1 (n at most the thread count given to
/// `prepare`), concurrently or one after another in any order, and let every call of a phase
/// return before the next phase starts. Calls of one phase never wait for each other. The
/// destination pixels written are exactly those the straightforward pipeline writes:
/// - window rows outside `fieldBounds` are not touched;
/// - in the other window rows, pixels outside `fieldBounds` become zero, and every other pixel
///   gets the output rule (`applyOutputRule`) of its transformed value, the settings and the
///   source pixel at the same coordinates (none where the source has no pixel);
/// - the field is classified from the source alpha at the same coordinates (no pixel: far).
/// Destination pixels outside the window are never written; different calls of a phase never
/// write the same bytes. The source is only read. The source and destination must not overlap.
///
/// Working memory: the fast path holds scratch for min(maxThreads, tiles) threads, each a ring of
/// rows of one stripe of the window (Good: 2 × ceil(width) + 1 rows of 3 bytes per pixel; Draft:
/// a block of at least 256 rows plus the reach, of 9 bytes per pixel), at most 12 MiB (Good) or
/// 16 MiB (Draft) per thread; the whole-field path one float per field pixel plus a row and a
/// column of scratch per thread.
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

    /// Overrides how the window is cut into tiles: the stripe width (pixels), the number of
    /// bands of rows, and at Draft the rows per backward block (for tests that want many seams
    /// on small fields, and for tuning); 0 keeps the automatic choice. Results never depend on
    /// them. Takes effect at the next `prepare`.
    void setWorkUnits(int stripeWidth, int bands, int blockRows);

    /// Sizes and allocates everything for one render of `window` (pixel coordinates; already
    /// clipped to the destination's bounds) with the field over `fieldBounds`. PIX is unsigned
    /// char, unsigned short or float, nComponents 4 (RGBA) or 1 (alpha); the source and
    /// destination views have that type. `maxThreads` (at least 1) is the largest thread count
    /// any phase will be run with. The views, rectangles and settings are copied; the pixel
    /// memory must stay valid until the last phase has returned. Throws std::bad_alloc.
    template <class PIX, int nComponents>
    void prepare(const PixelView<const PIX>& source, const PixelView<PIX>& destination,
                 const PixelRect& fieldBounds, const PixelRect& window,
                 const FastOutlineSettings& settings, unsigned maxThreads);

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
    /// fallback path, the whole field).
    std::size_t workingBytes() const;

    /// True when the prepared render uses the straightforward whole-field pipeline (widths
    /// above the reach of the fast path).
    bool usesWholeField() const;

    struct State;

private:
    std::unique_ptr<State> state;
};

}  // namespace OutlineKernel
