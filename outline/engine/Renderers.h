#pragma once

// The renderers of the engine's paths, one file each: GoodRenderer.cpp (Good and Best),
// DraftRenderer.cpp and WholeFieldRenderer.cpp. Each takes the render job (the plan, the kernel
// table, the images; read-only) and the scratch of the thread running it, and renders one task of
// a phase. Tasks of a phase write disjoint destination pixels and may run concurrently, in any
// order; a renderer allocates nothing (the scratch was reserved for the plan beforehand) and
// throws only what the job's abort query throws.
//
// PIX is unsigned char, unsigned short or float and nComponents 4 (RGBA) or 1 (alpha).

#include <cstddef>

#include "outline/OutlineKernel.h"
#include "outline/RenderPlan.h"
#include "outline/engine/PixelRows.h"
#include "outline/engine/Rings.h"

namespace OutlineKernel {
namespace Engine {

/// Scratch of one thread for Good tiles.
struct GoodScratch {
    RowRing<u8> squares;       ///< squared row distances of the rows within reach, squareBytes each
    RowRing<u8> classes;       ///< their classes
    RowRing<u8> flags;         ///< their chunk activity, with a zero guard on each side
    Buffer<u8> regionClasses;  ///< classes of one region row (padded)
    Buffer<s16> regionDistances;  ///< its row distances
    Buffer<int> counts;           ///< active rows within reach, per chunk
    Buffer<u16> near;             ///< the column search's n of an output row
    Buffer<u8> categories;        ///< its categories
    Buffer<const void*> rowPointers;
    Buffer<const u8*> flagPointers;
    // Rows that take the lower envelope itself (see RenderPlan::envelopeRows): row distances of
    // the rows it covers, its input and output for a block of columns, its n per output row.
    Buffer<s16> envelopeDistances;
    Buffer<float> envelopeIn;
    Buffer<float> envelopeOut;
    Buffer<int> envelopePositions;
    Buffer<float> envelopeBoundaries;
    Buffer<u16> envelopeNear;

    /// Room for every tile of `plan` (a Good plan). Throws std::bad_alloc.
    void reserve(const RenderPlan& plan);
    std::size_t bytes() const;
};

/// Scratch of one thread for Draft tiles.
struct DraftScratch {
    RowRing<float> values;    ///< class values, then forward values, then backward values
    RowRing<float> backward;  ///< backward values of rows the next block reads forward again
    RowRing<u8> classes;
    RowRing<u8> sources;       ///< per chunk: the row holds a source
    RowRing<u8> fars;          ///< per chunk: the row holds a far pixel
    Buffer<float> dummyRows;   ///< a far row and a row to write, for lanes past the last row
    Buffer<float> columnKeys;  ///< frozen columns of the region
    Buffer<u8> activity;       ///< chunks of a band near a source, and active ones
    Buffer<int> spans;         ///< column runs of a band the passes work on
    Buffer<u8> bandNear;       ///< per band of a block: chunks near a source
    Buffer<u8> categories;

    /// Room for every tile of `plan` (a Draft plan). Throws std::bad_alloc.
    void reserve(const RenderPlan& plan);
    std::size_t bytes() const;
};

/// Scratch of one thread for the whole-field pipeline.
struct WholeFieldScratch {
    Buffer<u8> classes;    ///< one field row
    ColumnScratch column;  ///< the column pass of the separable transform

    /// Room for every task of `plan` (a whole-field plan). Throws std::bad_alloc.
    void reserve(const RenderPlan& plan);
    std::size_t bytes() const;
};

/// Good and Best: tile `task` of the plan's only phase.
template <class PIX, int nComponents>
void renderGoodTile(const RenderJob& job, GoodScratch& scratch, int task);

/// Draft: tile `task` of the plan's only phase.
template <class PIX, int nComponents>
void renderDraftTile(const RenderJob& job, DraftScratch& scratch, int task);

/// The whole-field pipeline, on `field` (one float per field pixel, shared by every task):
/// phase 0 classifies rows (and runs the separable row pass), phase 1 transforms (the chamfer
/// transform as one task, or columns of the separable column pass), phase 2 writes rows.
template <class PIX, int nComponents>
void renderWholeFieldTask(const RenderJob& job, float* field, WholeFieldScratch& scratch, int phase,
                          int task);

/// Window rows in the field but no field column: every such row becomes zero (one task).
template <class PIX, int nComponents>
void renderZeroRows(const RenderJob& job);

}  // namespace Engine
}  // namespace OutlineKernel
