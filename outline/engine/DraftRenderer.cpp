// Draft: the chamfer recurrences evaluated exactly, tile by tile.
//
// A chamfer value up to the reach depends only on elements a few steps further (see the reach
// rule in RenderPlan.h), so a tile computes the two passes on its own region: its stripe and band
// grown by the plan's margin, with the region's edge rows and columns frozen as a field's are.
// Every element gets the same single-precision additions and comparisons as in the sequential
// passes, so the values inside the tile are those of the whole field.
//
// The region's rows stream through a ring. The forward pass runs ahead as a wavefront over bands
// of rows (the lanes of a vector are consecutive rows; see DraftKernels.h); the backward pass runs
// per block of output rows, starting `margin` rows below the block on forward values, band by
// band up to the block's top, and a band's rows are written as soon as the backward pass has
// finished them. Rows below a block keep their forward values for the next block: their backward
// values go to a second ring.
//
// Both passes work only on the columns of a band that hold a far pixel with a source within
// reach + 2: elsewhere a pass leaves every value as it is, or lowers far values to values still
// beyond the reach, which change no output. Pixels with no source that near are written as zeros
// without looking at their values.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "outline/engine/Renderers.h"

namespace OutlineKernel {
namespace Engine {

namespace {

int roundUp(int value, int multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

// dst[c] |= src[c] for c < count, eight bytes at a time.
void orBytes(u8* dst, const u8* src, int count) {
    int c = 0;
    for (; c + 8 <= count; c += 8) {
        std::uint64_t a;
        std::uint64_t b;
        std::memcpy(&a, dst + c, 8);
        std::memcpy(&b, src + c, 8);
        a |= b;
        std::memcpy(dst + c, &a, 8);
    }
    for (; c < count; ++c) {
        dst[c] = static_cast<u8>(dst[c] | src[c]);
    }
}

// True when any of the chunk's classes is far (0): a byte-wise zero test, eight at a time.
bool holdsFar(const u8* classes) {
    std::uint64_t zeroBytes = 0;
    for (int b = 0; b < chunkPixels; b += 8) {
        std::uint64_t word;
        std::memcpy(&word, classes + b, 8);
        zeroBytes |= (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;
    }
    return zeroBytes != 0;
}

template <class PIX, int nComponents>
class DraftTile {
public:
    DraftTile(const RenderJob& renderJob, DraftScratch& scratch, const Tile& area)
        : job(renderJob)
        , k(*renderJob.kernels)
        , t(scratch)
        , tile(area)
        , lanes(renderJob.plan.lanes)
        , margin(renderJob.plan.margin)
        , rx1(std::max(renderJob.plan.field.x1, area.x1 - margin))
        , rx2(std::min(renderJob.plan.field.x2, area.x2 + margin))
        , length(rx2 - rx1)
        , padded(roundUp(length, chunkPixels))
        , rowStride(static_cast<std::size_t>(padded + 2 * guardFloats))
        , offset(area.x1 - rx1)
        , stripeLength(area.x2 - area.x1)
        , ra(std::max(renderJob.plan.field.y1, area.y1 - margin))
        , height(std::min(renderJob.plan.field.y2, area.y2 + margin) - ra)
        , chunks(padded / chunkPixels)
        , chunkReach((renderJob.plan.reach + 2 + chunkPixels - 1) / chunkPixels) {
        const int ringRows = job.plan.ringRows;
        t.values.reset(ringRows, rowStride, 0);
        t.backward.reset(ringRows, rowStride, 0);
        t.classes.reset(ringRows, static_cast<std::size_t>(padded + chunkPixels), 0);
        t.sources.reset(ringRows, static_cast<std::size_t>(chunks), 0);
        t.fars.reset(ringRows, static_cast<std::size_t>(chunks), 0);
        // Lanes past the last row read a far row and write a row nobody reads.
        dummyIn = t.dummyRows.data() + guardFloats;
        dummyOut = dummyIn + rowStride;
        std::fill(t.dummyRows.data(), t.dummyRows.data() + 2 * rowStride, farValue);
        columnKeys = t.columnKeys.data() + guardFloats;
        for (int c = -guardFloats; c < padded + guardFloats; ++c) {
            columnKeys[c] = c <= 0 || c >= length - 1 ? -1.0f : farValue;
        }
    }

    // Block by block of output rows: the forward pass far enough ahead, then the backward pass
    // from below the block up to its top, writing rows as their bands finish.
    void run() {
        classify(0);
        const int o1 = tile.y1 - ra;
        const int o2 = tile.y2 - ra;
        for (int j0 = o1; j0 < o2; j0 += job.plan.blockRows) {
            backwardBlock(j0, std::min(o2, j0 + job.plan.blockRows), o2);
        }
    }

private:
    // Rows of the region are numbered from 0 at `ra`. Its first and last rows are frozen: field
    // edges, or far enough from every output row not to matter.
    float* valuesRow(int j) const { return t.values[j] + guardFloats; }
    float* claimValues(int j) { return t.values.claim(j) + guardFloats; }
    float* backwardRowOf(int j) const { return t.backward[j] + guardFloats; }
    float* claimBackward(int j) { return t.backward.claim(j) + guardFloats; }

    // Classifies row j into the ring: classes, and class values as the values before the pass;
    // per chunk whether it holds a source and whether it holds a far pixel.
    void classify(int j) {
        u8* classes = t.classes.claim(j);
        float* values = claimValues(j);
        u8* sources = t.sources.claim(j);
        u8* fars = t.fars.claim(j);
        classified = j;
        if (!classifyRow<PIX, nComponents>(job, ra + j, rx1, rx2, classes)) {
            std::memset(classes, classFar, static_cast<std::size_t>(padded));
            std::fill(values, values + padded, farValue);
            std::memset(sources, 0, static_cast<std::size_t>(chunks));
            std::memset(fars, 1, static_cast<std::size_t>(chunks));
            return;
        }
        std::memset(classes + length, classFar, static_cast<std::size_t>(padded - length));
        k.classValues({classes, padded, values, sources});
        for (int c = 0; c < chunks; ++c) {
            fars[c] = holdsFar(classes + c * chunkPixels) ? 1 : 0;
        }
    }

    // The columns of the band of rows [bandFirst, bandLast] that a pass has to work on: chunks
    // holding a far pixel (no other value ever changes) with a source of rows [sourceFirst,
    // sourceLast] within reach + 2 pixels (no farther source gives a value up to the reach).
    // Rows not yet classified, or no longer in the ring (wide reaches reach above it), count as
    // sources everywhere. `nearOut`, when given, receives per chunk whether a source is near.
    // Runs of such chunks at least four chunks apart (well beyond the skew of the lanes, which a
    // run pays again) go to t.spans as column pairs; returns their number.
    int activeSpans(int bandFirst, int bandLast, int sourceFirst, int sourceLast, u8* nearOut) {
        u8* nearby = t.activity.data();
        u8* active = nearby + chunks;
        sourceFirst = std::max(sourceFirst, 0);
        sourceLast = std::min(sourceLast, height - 1);
        if (sourceLast > classified || sourceFirst <= classified - t.sources.rows()) {
            std::memset(nearby, 1, static_cast<std::size_t>(chunks));
        } else {
            std::memset(nearby, 0, static_cast<std::size_t>(chunks));
            for (int j = sourceFirst; j <= sourceLast; ++j) {
                orBytes(nearby, t.sources[j], chunks);
            }
        }
        std::memset(active, 0, static_cast<std::size_t>(chunks));
        for (int j = std::max(bandFirst, 0); j <= std::min(bandLast, height - 1); ++j) {
            orBytes(active, t.fars[j], chunks);
        }
        int count = 0;
        int* spans = t.spans.data();
        for (int c = 0; c < chunks; ++c) {
            const int c1 = std::max(0, c - chunkReach);
            const int c2 = std::min(chunks - 1, c + chunkReach);
            bool near = false;
            for (int d = c1; d <= c2 && !near; ++d) {
                near = nearby[d] != 0;
            }
            if (nearOut != nullptr) {
                nearOut[c] = near ? 1 : 0;
            }
            if (!near || active[c] == 0) {
                continue;
            }
            const int from = c * chunkPixels;
            const int to = std::min(length, from + chunkPixels);
            if (count > 0 && from - spans[2 * count - 1] < 4 * chunkPixels) {
                spans[2 * count - 1] = to;
            } else {
                spans[2 * count] = from;
                spans[2 * count + 1] = to;
                ++count;
            }
        }
        return count;
    }

    // Lane `lane` of the next wavefront call works on region row `row`: its values before the
    // pass are read from `in`, written to `out`. Rows past the region's last get the dummies.
    void setLane(int lane, int row, const float* in, float* out) {
        if (row < height) {
            laneIn[lane] = in;
            laneOut[lane] = out;
            laneKeys[lane] = row == 0 || row == height - 1 ? -1.0f : farValue;
        } else {
            laneIn[lane] = dummyIn;
            laneOut[lane] = dummyOut;
            laneKeys[lane] = -1.0f;
        }
    }

    // The forward pass over every row up to `last`, a band of lanes at a time, in place.
    void forwardTo(int last) {
        while (forwardDone < last) {
            const int first = forwardDone + 1;
            for (int l = 0; l < lanes; ++l) {
                if (first + l < height) {
                    classify(first + l);
                    setLane(l, first + l, valuesRow(first + l), valuesRow(first + l));
                } else {
                    setLane(l, first + l, nullptr, nullptr);
                }
            }
            // The forward pass carries values down and to the right: sources above count.
            const int spanCount = activeSpans(
                first, first + lanes - 1, first - (job.plan.reach + 2), first + lanes - 1, nullptr);
            const float* above = valuesRow(first - 1);
            for (int span = 0; span < spanCount; ++span) {
                k.wavefront({laneIn, laneOut, above, laneKeys, columnKeys, length, false,
                             t.spans.data()[2 * span], t.spans.data()[2 * span + 1]});
            }
            forwardDone += lanes;
        }
    }

    // Runs of the stripe's pixels [from, to) (in t.spans, ascending) whose region chunk is marked
    // in `near`; returns their number.
    int nearRuns(const u8* near) {
        int count = 0;
        int* runs = t.spans.data();
        for (int c = 0; c < chunks && c * chunkPixels - offset < stripeLength; ++c) {
            const int from = std::max(0, c * chunkPixels - offset);
            const int to = std::min(stripeLength, (c + 1) * chunkPixels - offset);
            if (near[c] == 0 || from >= to) {
                continue;
            }
            if (count > 0 && runs[2 * count - 1] == from) {
                runs[2 * count - 1] = to;
            } else {
                runs[2 * count] = from;
                runs[2 * count + 1] = to;
                ++count;
            }
        }
        return count;
    }

    // Output row j from its final values; `near` marks the chunks of the region with a source
    // within reach + 2 of the row.
    void emit(int j, const float* values, const u8* near) {
        const int y = ra + j;
        if (job.rowAborted()) {
            return;
        }
        zeroOutsideColumns<PIX, nComponents>(job, tile, y);
        const u8* classes = t.classes[j] + offset;
        u8* categories = t.categories.data();
        // Only pixels with a source within reach + 2 can be anything but zero (see
        // activeSpans): their categories come from the values, every other pixel is zero.
        const int nearCount = nearRuns(near);
        const int* runs = t.spans.data();
        if (nearCount == 0) {
            zeroPixels<PIX, nComponents>(job, y, tile.x1, tile.x2);
            return;
        }
        if (nearCount > 1 || runs[0] > 0 || runs[1] < stripeLength) {
            std::memset(categories, categoryZero, static_cast<std::size_t>(stripeLength));
        }
        for (int run = 0; run < nearCount; ++run) {
            const int from = runs[2 * run];
            k.chamferCategories({values + offset + from, classes + from,
                                 roundUp(runs[2 * run + 1] - from, chunkPixels), job.settings.width,
                                 job.settings.widthMinus1, categories + from});
        }
        const auto range = sourceLanes(job.source, y, tile.x1, stripeLength);
        const PIX* src =
            range.first < range.second ? job.source.pixel<PIX, nComponents>(tile.x1, y) : nullptr;
        const OutputRow<PIX> row = {
            categories,  classes,         stripeLength,
            nullptr,     values + offset, src,
            range.first, range.second,    job.destination.pixel<PIX, nComponents>(tile.x1, y)};
        writeRow<PIX, nComponents, false>(job, row);
    }

    // The backward pass for output rows [j0, jEnd) (region rows), the last block ending at o2.
    void backwardBlock(int j0, int jEnd, int o2) {
        // The pass starts `margin` rows below the block, on forward values, and covers whole
        // bands down to j0.
        const int top = std::max(jEnd - 1, std::min(height - 2, jEnd - 1 + margin));
        const int jTop = j0 + roundUp(top - j0 + 1, lanes) - 1;
        forwardTo(std::min(height - 1, jTop + 1));
        const float* below = jTop + 1 < height ? valuesRow(jTop + 1) : dummyIn;
        // Forward values of rows below the block are read again by the next block; every other
        // row takes its backward values in place, and the columns the pass leaves alone keep
        // their forward values without a copy.
        const int inPlaceEnd = jEnd < o2 ? jEnd : height;
        for (int jb = jTop - lanes + 1; jb >= j0; jb -= lanes) {
            for (int l = 0; l < lanes; ++l) {
                const int j = jb + lanes - 1 - l;
                if (j >= height) {
                    setLane(l, j, nullptr, nullptr);
                } else if (j < inPlaceEnd) {
                    setLane(l, j, valuesRow(j), valuesRow(j));
                } else {
                    setLane(l, j, valuesRow(j), claimBackward(j));
                }
            }
            // Backward values also come from below: sources on both sides count. Spans run right
            // to left in the pass's own column order.
            u8* bandNear = t.bandNear.data() + static_cast<std::size_t>((jb - j0) / lanes) * chunks;
            const int reach2 = job.plan.reach + 2;
            const int spanCount =
                activeSpans(jb, jb + lanes - 1, jb - reach2, jb + lanes - 1 + reach2, bandNear);
            // Columns the pass leaves alone keep their forward values.
            for (int j = std::max(jb, inPlaceEnd); j < std::min(height, jb + lanes); ++j) {
                int done = 0;
                for (int span = 0; span <= spanCount; ++span) {
                    const int next = span < spanCount ? t.spans.data()[2 * span] : padded;
                    std::memcpy(backwardRowOf(j) + done, valuesRow(j) + done,
                                static_cast<std::size_t>(next - done) * sizeof(float));
                    done = span < spanCount ? t.spans.data()[2 * span + 1] : padded;
                }
            }
            const int vectorLanes = lanes / 2;
            for (int span = spanCount - 1; span >= 0; --span) {
                const int from =
                    (length - t.spans.data()[2 * span + 1]) / vectorLanes * vectorLanes;
                const int to = length - t.spans.data()[2 * span];
                k.wavefront({laneIn, laneOut, below, laneKeys, columnKeys, length, true, from, to});
            }
            below = jb < inPlaceEnd ? valuesRow(jb) : backwardRowOf(jb);
            // The band's rows of the block are final: written while they are still in cache.
            for (int j = jb; j < std::min(jEnd, jb + lanes); ++j) {
                emit(j, valuesRow(j), bandNear);
            }
        }
    }

    const RenderJob& job;
    const Kernels& k;
    DraftScratch& t;
    const Tile tile;
    const int lanes;
    const int margin;
    const int rx1;  // the region's columns: the stripe grown by the margin, in the field
    const int rx2;
    const int length;
    const int padded;
    const std::size_t rowStride;  // floats per ring row, guards included
    const int offset;             // of the stripe in the region
    const int stripeLength;
    const int ra;      // the region's first row: the tile's first grown by the margin, in the field
    const int height;  // the region's rows
    const int chunks;
    const int chunkReach;  // chunks within reach + 2 pixels

    float* dummyIn = nullptr;
    float* dummyOut = nullptr;
    float* columnKeys = nullptr;
    const float* laneIn[maxLanes] = {};
    float* laneOut[maxLanes] = {};
    float laneKeys[maxLanes] = {};
    int classified = -1;  // the last row classified
    int forwardDone = 0;  // rows up to here have their forward values
};

}  // namespace

void DraftScratch::reserve(const RenderPlan& plan) {
    const std::size_t region = static_cast<std::size_t>(plan.regionMax);
    const std::size_t chunks = region / chunkPixels;
    const std::size_t stride = region + 2 * guardFloats;
    values.reserve(plan.ringRows, stride);
    backward.reserve(plan.ringRows, stride);
    classes.reserve(plan.ringRows, region + chunkPixels);
    sources.reserve(plan.ringRows, chunks);
    fars.reserve(plan.ringRows, chunks);
    dummyRows.reserve(2 * stride);
    columnKeys.reserve(stride);
    activity.reserve(2 * chunks);
    spans.reserve(2 * chunks);
    // Bands of a block: at least 8 rows each.
    bandNear.reserve((static_cast<std::size_t>(plan.ringRows) / 8 + 1) * chunks);
    categories.reserve(static_cast<std::size_t>(plan.stripeMax + chunkPixels));
}

std::size_t DraftScratch::bytes() const {
    return values.bytes() + backward.bytes() + classes.bytes() + sources.bytes() + fars.bytes() +
           dummyRows.bytes() + columnKeys.bytes() + activity.bytes() + spans.bytes() +
           bandNear.bytes() + categories.bytes();
}

template <class PIX, int nComponents>
void renderDraftTile(const RenderJob& job, DraftScratch& scratch, int task) {
    const Tile tile = tileOf(job.plan, task);
    if (tile.x1 >= tile.x2 || tile.y1 >= tile.y2) {
        return;
    }
    DraftTile<PIX, nComponents>(job, scratch, tile).run();
}

#define ZARVEL_DRAFT_RENDERER(PIX, N)                                                              \
    template void renderDraftTile<PIX, N>(const RenderJob&, DraftScratch&, int);
ZARVEL_DRAFT_RENDERER(unsigned char, 4)
ZARVEL_DRAFT_RENDERER(unsigned short, 4)
ZARVEL_DRAFT_RENDERER(float, 4)
ZARVEL_DRAFT_RENDERER(unsigned char, 1)
ZARVEL_DRAFT_RENDERER(unsigned short, 1)
ZARVEL_DRAFT_RENDERER(float, 1)
#undef ZARVEL_DRAFT_RENDERER

}  // namespace Engine
}  // namespace OutlineKernel
