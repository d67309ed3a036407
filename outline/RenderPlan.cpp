#include "outline/RenderPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "outline/engine/Kernels.h"

namespace OutlineKernel {

namespace {

using Engine::chunkPixels;
using Engine::maxLanes;

// Most bytes of rows a tile keeps (a ring of rows per thread): whole rows of a frame stream best
// from memory and pay the columns a stripe reads beyond its ends only at the frame's ends, so
// stripes are as wide as this allows. The chamfer's ring is read back a block of rows after it
// was written and holds floats.
constexpr int goodBudget = 12 * 1024 * 1024;
constexpr int draftBudget = 16 * 1024 * 1024;
// Bytes a tile keeps per column and ring row: Good a square (1 or 2) and a class (1); Draft a
// value and a backward value (4 + 4) and a class (1).
constexpr int draftBytesPerRow = 9;
// Widest stripe: beyond it rows no longer stream any better.
constexpr int widestStripe = 8192;
// Draft: output rows per backward block, at least (the block is read back once per block).
constexpr int leastBlockRows = 256;
// Whole-field tasks: rows of the classification and output phases, columns of the column pass.
constexpr int wholeFieldRows = 32;
constexpr int wholeFieldColumns = 64;

// Wider than any frame a host can hand over; growing an int rectangle by it stays far inside
// 64-bit arithmetic.
constexpr std::int64_t largestReach = std::int64_t(1) << 30;

int roundUp(int value, int multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

int divideUp(int value, int divisor) {
    return (value + divisor - 1) / divisor;
}

bool isEmpty(const PixelRect& r) {
    return r.x2 <= r.x1 || r.y2 <= r.y1;
}

PixelRect intersection(const PixelRect& a, const PixelRect& b) {
    return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
}

// Smallest n in [0, upTo] whose single-precision square root is above `limit` (upTo if none).
// The search starts just below limit², where the root is safely at or below the limit.
int firstRootAbove(float limit, int upTo) {
    if (!(limit >= 0.0f)) {
        return 0;
    }
    int n = std::max(0, static_cast<int>(limit * limit) - 2);
    while (n < upTo && std::sqrt(static_cast<float>(n)) <= limit) {
        ++n;
    }
    return n;
}

void planWholeField(RenderPlan& p, unsigned threads) {
    const int fieldWidth = p.field.x2 - p.field.x1;
    const int fieldHeight = p.field.y2 - p.field.y1;
    p.path = RenderPath::wholeField;
    p.taskRows = wholeFieldRows;
    p.taskColumns = wholeFieldColumns;
    p.phaseCount = 3;
    p.phases[0].tasks = divideUp(fieldHeight, p.taskRows);
    p.phases[1].tasks = p.quality == 0 ? 1 : divideUp(fieldWidth, p.taskColumns);
    p.phases[2].tasks = divideUp(p.inner.y2 - p.inner.y1, p.taskRows);
    const int most = std::max({p.phases[0].tasks, p.phases[1].tasks, p.phases[2].tasks});
    p.threads = std::min(threads, static_cast<unsigned>(most));
}

// Stripes as wide as the rows a tile keeps fit the budget, cut into bands of rows so that every
// thread has several tiles to take, but not so thin that the rows read beyond a band's ends
// dominate.
// With `shareRows` the bottom rows of the field cost far more than the rest (the envelope rows
// of a tall field): every thread gets a stripe of them.
void planTiles(RenderPlan& p, const WorkUnits& units, unsigned threads, int bytesPerColumn,
               int haloRows, int budget, bool shareRows = false) {
    const int innerWidth = p.inner.x2 - p.inner.x1;
    const int innerHeight = p.inner.y2 - p.inner.y1;
    p.stripeWidth = std::clamp(roundUp(budget / bytesPerColumn, chunkPixels) - chunkPixels,
                               std::min(256, innerWidth), widestStripe);
    if (units.stripeWidth > 0) {
        p.stripeWidth = std::min(units.stripeWidth, widestStripe);
    }
    p.stripes = std::max(1, divideUp(innerWidth, p.stripeWidth));
    if (shareRows && units.stripeWidth <= 0) {
        p.stripes =
            std::max(p.stripes, std::min(static_cast<int>(threads), divideUp(innerWidth, 256)));
    }
    p.bands = 1;
    if (threads > 1) {
        const int wanted = divideUp(3 * static_cast<int>(threads), p.stripes);
        p.bands = std::clamp(innerHeight / std::max(1, 4 * haloRows + 32), 1, std::max(1, wanted));
        // A tile count the threads share evenly: with one tile too many, one thread works a
        // whole tile alone at the end. A few more bands cost only their halo rows.
        for (int more = p.bands; more <= wanted && innerHeight / more >= 2 * haloRows + 16;
             ++more) {
            if (p.stripes * more % static_cast<int>(threads) == 0) {
                p.bands = more;
                break;
            }
        }
    }
    if (units.bands > 0) {
        p.bands = std::min(units.bands, innerHeight);
    }
    p.stripeMax = roundUp(divideUp(innerWidth, p.stripes), chunkPixels);
    p.phaseCount = 1;
    p.phases[0].tasks = p.stripes * p.bands;
    p.threads = std::min(threads, static_cast<unsigned>(p.phases[0].tasks));
}

void planGood(RenderPlan& p, const RenderRequest& r, unsigned threads, float widthMinus1) {
    p.path = RenderPath::good;
    // Thresholds on n such that the square root of every smaller n compares like the width.
    // Row distances are capped at K + 1, so no n that draws exceeds (K + 1)².
    const int largest = (p.reach + 1) * (p.reach + 1);
    p.zeroFrom = firstRootAbove(r.width, largest);
    p.fullBelow = r.width > widthMinus1 ? std::min(firstRootAbove(widthMinus1, largest), p.zeroFrom)
                                        : p.zeroFrom;
    // Every n from zeroFrom on draws nothing: capping there keeps the squares that matter, in
    // a byte wherever they fit one (the column search then takes twice the pixels a vector).
    p.cap = p.zeroFrom;
    p.squareBytes = p.cap <= 255 ? 1 : 2;
    const int fieldHeight = p.field.y2 - p.field.y1;
    p.envelopeRows = fieldHeight;
    int regionReach = p.reach + 3;  // a source farther than reach + 2 gives a capped distance
    if (fieldHeight > exactEnvelopeRows) {
        // A row is safe from the envelope's rounding while every parabola that can reach it
        // below the cap, and every boundary between such parabolas, lies above the rows whose
        // squares leave 2^24; the envelope settles within a few reaches of where it starts, and
        // a row distance capped well beyond the reach (its square 32K + 288 above the largest
        // that draws) is as unbeatable there as an uncapped one.
        p.envelopeRows = std::max(0, exactEnvelopeRows - (p.reach + 1) - 8);
        p.envelopeLookback = 2 * (p.reach + 1) + 8;
        p.envelopeReach = p.reach + 17;
        p.envelopeSpan =
            std::min(fieldHeight, fieldHeight - p.envelopeRows + 2 * p.envelopeLookback);
        regionReach = p.envelopeReach + 3;
    }
    planTiles(p, r.units, threads, (2 * p.reach + 1) * (p.squareBytes + 1), 2 * p.reach, goodBudget,
              p.envelopeSpan > 0);
    const int fieldWidth = p.field.x2 - p.field.x1;
    p.regionMax = roundUp(std::min(fieldWidth, p.stripeMax + 2 * regionReach), chunkPixels);
    p.ringRows = 2 * p.reach + 1;
}

void planDraft(RenderPlan& p, const RenderRequest& r, unsigned threads) {
    p.path = RenderPath::draft;
    p.margin = computedMargin(r.width);
    p.lanes = Engine::wavefrontLanes(r.level);
    const int blockRows = r.units.blockRows > 0
                              ? r.units.blockRows
                              : roundUp(std::max(leastBlockRows, 2 * p.margin), maxLanes);
    p.blockRows = roundUp(blockRows, p.lanes);
    planTiles(p, r.units, threads, (p.blockRows + p.margin + 2 * maxLanes) * draftBytesPerRow,
              2 * p.margin, draftBudget);
    const int fieldWidth = p.field.x2 - p.field.x1;
    p.regionMax = roundUp(std::min(fieldWidth, p.stripeMax + 2 * p.margin), chunkPixels);
    // A block's rows, the margin below it that its backward pass starts from, and the bands of
    // the forward pass ahead of it.
    p.ringRows = p.blockRows + p.margin + 2 * maxLanes + 2;
}

}  // namespace

int outlineReach(double widthPixels) {
    if (!(widthPixels > 0.0)) {
        return 0;
    }
    if (widthPixels >= double(largestReach)) {
        return int(largestReach);
    }
    return int(std::ceil(widthPixels));
}

int sourceReach(double widthPixels) {
    return outlineReach(widthPixels) + 4;
}

int computedMargin(double widthPixels) {
    return sourceReach(widthPixels) + 2;
}

RenderPlan planRender(const RenderRequest& r) {
    RenderPlan p;
    p.level = r.level;
    p.quality = r.quality;
    p.field = r.fieldBounds;
    p.window = intersection(r.window, r.destinationBounds);
    p.inner = intersection(p.window, p.field);
    const unsigned threads = std::max(1u, r.threads);

    if (isEmpty(p.window) || isEmpty(p.field) || p.inner.y1 >= p.inner.y2) {
        return p;
    }
    if (p.inner.x1 >= p.inner.x2) {
        p.path = RenderPath::zeroRows;
        p.phaseCount = 1;
        p.phases[0].tasks = 1;
        p.threads = 1;
        return p;
    }
    // Widths beyond the fast reach (or not a width at all): the straightforward pipeline.
    const float widthMinus1 = r.width - 1.0f;
    if (!(r.width >= 0.0f && r.width <= static_cast<float>(fastReachLimit))) {
        planWholeField(p, threads);
        return p;
    }
    p.reach = outlineReach(r.width);
    if (r.quality == 0) {
        planDraft(p, r, threads);
    } else {
        planGood(p, r, threads, widthMinus1);
    }
    return p;
}

Tile tileOf(const RenderPlan& p, int task) {
    const int stripe = task % p.stripes;
    const int band = task / p.stripes;
    const long long width = p.inner.x2 - p.inner.x1;
    const long long height = p.inner.y2 - p.inner.y1;
    Tile t;
    t.x1 = p.inner.x1 + static_cast<int>(width * stripe / p.stripes);
    t.x2 = p.inner.x1 + static_cast<int>(width * (stripe + 1) / p.stripes);
    t.y1 = p.inner.y1 + static_cast<int>(height * band / p.bands);
    t.y2 = p.inner.y1 + static_cast<int>(height * (band + 1) / p.bands);
    t.first = stripe == 0;
    t.last = stripe == p.stripes - 1;
    return t;
}

}  // namespace OutlineKernel
