// Good and Best: the separable transform of the field restricted to what a tile's pixels can see.
//
// Every transformed value that can reach the output is the square root of a whole number
// n = min over rows within the reach of dy² + r², r being the row distance of the row pass. A
// tile streams the rows from K above it to K below it once: each row is classified, its row
// distances (capped at K + 1) squared into a ring of 2K + 1 rows, and an output row is written
// as soon as the K rows below it have arrived, by the column search over the ring (n capped at
// zeroFrom, the least n that draws nothing; equal to the single-precision lower envelope on fields
// up to exactEnvelopeRows rows high). Per chunk of columns the tile counts the ring rows that hold
// anything below the cap, so the search skips chunks with nothing within reach.
//
// On taller fields the envelope's rounding can pick another parabola than the nearest in rows
// near and past exactEnvelopeRows. Output rows from the plan's envelopeRows on take the envelope
// itself, computed as the straightforward pipeline computes it, over the part of each column
// around the tile's such rows (see RenderPlan::envelopeRows).
#include <algorithm>
#include <cstring>

#include "outline/OutlineKernel.h"

#include "outline/engine/Renderers.h"

namespace OutlineKernel {
namespace Engine {

namespace {

template <class PIX, int nComponents>
class GoodTile {
public:
    GoodTile(const RenderJob& renderJob, GoodScratch& scratch, const Tile& area)
        : job(renderJob)
        , k(*renderJob.kernels)
        , t(scratch)
        , tile(area)
        , reach(renderJob.plan.reach)
        ,
        // A source more than reach + 2 columns away gives a capped row distance.
        rx1(std::max(renderJob.plan.field.x1, area.x1 - (reach + 3)))
        , rx2(std::min(renderJob.plan.field.x2, area.x2 + (reach + 3)))
        , regionLength(roundUp(rx2 - rx1, chunkPixels))
        , offset(area.x1 - rx1)
        , stripeLength(area.x2 - area.x1)
        , padded(roundUp(stripeLength, chunkPixels))
        , chunks(padded / chunkPixels)
        , ya(std::max(renderJob.plan.field.y1, area.y1 - reach))
        , yb(std::min(renderJob.plan.field.y2, area.y2 + reach)) {
        const int ringRows = job.plan.ringRows;
        t.squares.reset(ringRows, static_cast<std::size_t>(padded * job.plan.squareBytes), ya);
        t.classes.reset(ringRows, static_cast<std::size_t>(padded), ya);
        t.flags.reset(ringRows, static_cast<std::size_t>(chunks + 2), ya);
        std::fill(t.counts.data(), t.counts.data() + chunks, 0);
    }

    // Streams the tile's rows: each arriving row is measured, and the row `reach` above it is
    // written once every row it can see has arrived; the last rows follow the last arrival.
    void run() {
        for (int y = ya; y < yb; ++y) {
            if (y - oldest >= job.plan.ringRows) {
                retireOldest();
            }
            measure(y);
            const int ready = y - reach;
            if (ready >= tile.y1 && ready < tile.y2) {
                emit(ready);
            }
        }
        for (int y = std::max(tile.y1, yb - reach); y < tile.y2; ++y) {
            emit(y);
        }
    }

private:
    static int roundUp(int value, int multiple) {
        return (value + multiple - 1) / multiple * multiple;
    }

    // Classes, squared row distances and chunk activity of row y into the ring.
    void measure(int y) {
        u8* squares = t.squares.claim(y);
        u8* classes = t.classes.claim(y);
        u8* flags = t.flags.claim(y) + 1;
        flags[-1] = 0;
        flags[chunks] = 0;
        u8* regionClasses = t.regionClasses.data();
        const bool any = classifyRow<PIX, nComponents>(job, y, rx1, rx2, regionClasses);
        std::memcpy(classes, regionClasses + offset, static_cast<std::size_t>(stripeLength));
        if (any) {
            std::memset(regionClasses + (rx2 - rx1), classFar,
                        static_cast<std::size_t>(regionLength - (rx2 - rx1)));
            k.rowDistances({regionClasses, regionLength, reach + 1, t.regionDistances.data()});
            k.squares[job.plan.squareBytes - 1]({t.regionDistances.data() + offset, stripeLength,
                                                 padded, job.plan.cap, squares, flags});
        } else {
            fillCapped(squares);
            std::memset(flags, 0, static_cast<std::size_t>(chunks));
        }
        count(flags, +1);
    }

    // A row with nothing within reach: every square at the cap.
    void fillCapped(u8* squares) const {
        if (job.plan.squareBytes == 1) {
            std::memset(squares, job.plan.cap, static_cast<std::size_t>(padded));
        } else {
            u16* wide = reinterpret_cast<u16*>(squares);
            std::fill(wide, wide + padded, static_cast<u16>(job.plan.cap));
        }
    }

    void count(const u8* flags, int sign) {
        int* counts = t.counts.data();
        for (int c = 0; c < chunks; ++c) {
            counts[c] += sign * flags[c];
        }
    }

    void retireOldest() {
        count(t.flags[oldest] + 1, -1);
        ++oldest;
    }

    // The rows of a column envelope: its n for the tile's rows from envelopeRows on, in
    // t.envelopeNear, a row of `padded` per output row from `envelopeFirst` (field rows).
    void computeEnvelope() {
        const RenderPlan& plan = job.plan;
        const int fieldHeight = plan.field.y2 - plan.field.y1;
        envelopeFirst = std::max(plan.envelopeRows, tile.y1 - plan.field.y1);
        const int first = std::max(0, envelopeFirst - plan.envelopeLookback);
        const int end = std::min(fieldHeight, tile.y2 - plan.field.y1 + plan.envelopeLookback);
        const int rows = end - first;
        const int bound = plan.envelopeReach;
        // Row distances, capped at the bound, of every row the envelope covers.
        const int ex1 = std::max(plan.field.x1, tile.x1 - (bound + 3));
        const int ex2 = std::min(plan.field.x2, tile.x2 + (bound + 3));
        const int length = roundUp(ex2 - ex1, chunkPixels);
        u8* classes = t.regionClasses.data();
        s16* distances = t.regionDistances.data();
        for (int q = first; q < end; ++q) {
            s16* row = t.envelopeDistances.data() + static_cast<std::size_t>(q - first) * padded;
            if (classifyRow<PIX, nComponents>(job, plan.field.y1 + q, ex1, ex2, classes)) {
                std::memset(classes + (ex2 - ex1), classFar,
                            static_cast<std::size_t>(length - (ex2 - ex1)));
                k.rowDistances({classes, length, bound, distances});
                std::memcpy(row, distances + (tile.x1 - ex1),
                            static_cast<std::size_t>(stripeLength) * sizeof(s16));
            } else {
                std::fill(row, row + stripeLength, static_cast<s16>(bound));
            }
        }
        // The envelope of each column, a block of columns at a time so that the rows are read
        // whole: squared as the straightforward pipeline squares them, at their field rows.
        constexpr int block = 16;
        const int outputEnd = tile.y2 - plan.field.y1;
        for (int i0 = 0; i0 < stripeLength; i0 += block) {
            const int columns = std::min(block, stripeLength - i0);
            for (int q = 0; q < rows; ++q) {
                const s16* row = t.envelopeDistances.data() + static_cast<std::size_t>(q) * padded;
                for (int c = 0; c < columns; ++c) {
                    const float r = static_cast<float>(row[i0 + c]);
                    t.envelopeIn.data()[c * rows + q] = r * r;
                }
            }
            lowerEnvelopeColumns(t.envelopeIn.data(), t.envelopeOut.data(), rows, first, columns,
                                 t.envelopePositions.data(), t.envelopeBoundaries.data());
            const float cap = static_cast<float>(plan.cap);
            for (int q = envelopeFirst; q < outputEnd; ++q) {
                const float* g = t.envelopeOut.data() + (q - first);
                u16* row = envelopeRow(q) + i0;
                for (int c = 0; c < columns; ++c) {
                    const float n = g[c * rows];
                    row[c] = static_cast<u16>(n < cap ? n : cap);
                }
            }
        }
        for (int q = envelopeFirst; q < outputEnd; ++q) {
            std::fill(envelopeRow(q) + stripeLength, envelopeRow(q) + padded,
                      static_cast<u16>(plan.cap));
        }
        envelopeReady = true;
    }

    u16* envelopeRow(int q) const {
        return t.envelopeNear.data() + static_cast<std::size_t>(q - envelopeFirst) * padded;
    }

    // Output row y: the column search over the rows within reach (or the column envelope),
    // then its pixels.
    void emit(int y) {
        while (oldest < y - reach) {
            retireOldest();
        }
        if (job.rowAborted()) {
            return;
        }
        zeroOutsideColumns<PIX, nComponents>(job, tile, y);
        const RenderPlan& plan = job.plan;
        const int q = y - plan.field.y1;
        if (q >= plan.envelopeRows) {
            if (!envelopeReady) {
                computeEnvelope();
            }
            const u8* classes = t.classes[y];
            k.nearCategories({envelopeRow(q), classes, padded, plan.zeroFrom, plan.fullBelow,
                              t.categories.data()});
            writeOutput(y, classes, envelopeRow(q));
            return;
        }
        const void** rows = t.rowPointers.data();
        const u8** flags = t.flagPointers.data();
        for (int dy = -reach; dy <= reach; ++dy) {
            const bool present = y + dy >= ya && y + dy < yb;
            rows[reach + dy] = present ? t.squares[y + dy] : nullptr;
            flags[reach + dy] = present ? t.flags[y + dy] + 1 : nullptr;
        }
        const u8* classes = t.classes[y];
        k.column[plan.squareBytes - 1]({rows, flags, t.counts.data(), classes, chunks, reach,
                                        plan.cap, plan.zeroFrom, plan.fullBelow, t.near.data(),
                                        t.categories.data()});
        writeOutput(y, classes, t.near.data());
    }

    // The pixels of output row y from its classes, categories (in t.categories) and n.
    void writeOutput(int y, const u8* classes, const u16* near) {
        const auto lanes = sourceLanes(job.source, y, tile.x1, stripeLength);
        const PIX* src =
            lanes.first < lanes.second ? job.source.pixel<PIX, nComponents>(tile.x1, y) : nullptr;
        const OutputRow<PIX> row = {t.categories.data(),
                                    classes,
                                    stripeLength,
                                    near,
                                    nullptr,
                                    src,
                                    lanes.first,
                                    lanes.second,
                                    job.destination.pixel<PIX, nComponents>(tile.x1, y)};
        writeRow<PIX, nComponents, true>(job, row);
    }

    const RenderJob& job;
    const Kernels& k;
    GoodScratch& t;
    const Tile tile;
    const int reach;
    const int rx1;  // the region a row is measured over: the stripe and the columns within reach
    const int rx2;
    const int regionLength;  // padded
    const int offset;        // of the stripe in the region
    const int stripeLength;
    const int padded;
    const int chunks;
    const int ya;  // the rows streamed: the tile's and those within reach, in the field
    const int yb;
    int oldest = ya;  // the oldest row counted in `counts`
    bool envelopeReady = false;
    int envelopeFirst = 0;  // the first output row (field rows) of the column envelope
};

}  // namespace

void GoodScratch::reserve(const RenderPlan& plan) {
    const std::size_t rows = static_cast<std::size_t>(plan.ringRows);
    const std::size_t stripe = static_cast<std::size_t>(plan.stripeMax);
    const std::size_t chunks = stripe / chunkPixels;
    const std::size_t region = static_cast<std::size_t>(plan.regionMax);
    squares.reserve(plan.ringRows, stripe * static_cast<std::size_t>(plan.squareBytes));
    classes.reserve(plan.ringRows, stripe);
    flags.reserve(plan.ringRows, chunks + 2);
    // Loads of a stripe's distances may run up to a chunk past the region.
    regionClasses.reserve(region + chunkPixels);
    regionDistances.reserve(region + chunkPixels);
    counts.reserve(chunks);
    near.reserve(stripe);
    categories.reserve(stripe + chunkPixels);
    rowPointers.reserve(rows);
    flagPointers.reserve(rows);
    if (plan.envelopeSpan > 0) {
        const std::size_t span = static_cast<std::size_t>(plan.envelopeSpan);
        envelopeDistances.reserve(span * stripe);
        envelopeIn.reserve(16 * span);
        envelopeOut.reserve(16 * span);
        envelopePositions.reserve(16 * span);
        envelopeBoundaries.reserve(16 * (span + 1));
        envelopeNear.reserve(span * stripe);
    }
}

std::size_t GoodScratch::bytes() const {
    return squares.bytes() + classes.bytes() + flags.bytes() + regionClasses.bytes() +
           regionDistances.bytes() + counts.bytes() + near.bytes() + categories.bytes() +
           rowPointers.bytes() + flagPointers.bytes() + envelopeDistances.bytes() +
           envelopeIn.bytes() + envelopeOut.bytes() + envelopePositions.bytes() +
           envelopeBoundaries.bytes() + envelopeNear.bytes();
}

template <class PIX, int nComponents>
void renderGoodTile(const RenderJob& job, GoodScratch& scratch, int task) {
    const Tile tile = tileOf(job.plan, task);
    if (tile.x1 >= tile.x2 || tile.y1 >= tile.y2) {
        return;
    }
    GoodTile<PIX, nComponents>(job, scratch, tile).run();
}

#define ZARVEL_GOOD_RENDERER(PIX, N)                                                               \
    template void renderGoodTile<PIX, N>(const RenderJob&, GoodScratch&, int);
ZARVEL_GOOD_RENDERER(unsigned char, 4)
ZARVEL_GOOD_RENDERER(unsigned short, 4)
ZARVEL_GOOD_RENDERER(float, 4)
ZARVEL_GOOD_RENDERER(unsigned char, 1)
ZARVEL_GOOD_RENDERER(unsigned short, 1)
ZARVEL_GOOD_RENDERER(float, 1)
#undef ZARVEL_GOOD_RENDERER

}  // namespace Engine
}  // namespace OutlineKernel
