// The straightforward pipeline on a whole field, for what the fast paths leave: widths beyond
// their reach (or not a width at all), and at Good fields taller than the integer column search
// is exact for. One float per field pixel, three phases, each split into tasks: exact by
// construction, since it is the kernel of OutlineKernel.h itself.
#include <cstring>

#include "outline/engine/Renderers.h"

namespace OutlineKernel {
namespace Engine {

namespace {

// Phase 0: classify rows [j1, j2) of the field, and at Good run their row pass.
template <class PIX, int nComponents>
void classifyRows(const RenderJob& job, float* field, WholeFieldScratch& scratch, int j1, int j2) {
    const PixelRect& bounds = job.plan.field;
    const int width = bounds.x2 - bounds.x1;
    static const float classValues[3] = {farValue, edgeValue, insideValue};
    u8* classes = scratch.classes.data();
    for (int j = j1; j < j2; ++j) {
        classifyRow<PIX, nComponents>(job, bounds.y1 + j, bounds.x1, bounds.x2, classes);
        float* row = field + static_cast<std::size_t>(j) * width;
        for (int i = 0; i < width; ++i) {
            row[i] = classValues[classes[i]];
        }
    }
    if (job.plan.quality != 0) {
        separableRowPass(field, width, j1, j2);
    }
}

// Phase 2: the output rule over rows [y1, y2) of the window (inner rows).
template <class PIX, int nComponents>
void writeRows(const RenderJob& job, const float* field, int y1, int y2) {
    const RenderPlan& plan = job.plan;
    const int width = plan.field.x2 - plan.field.x1;
    const int count = plan.inner.x2 - plan.inner.x1;
    for (int y = y1; y < y2; ++y) {
        if (job.rowAborted()) {
            continue;
        }
        zeroPixels<PIX, nComponents>(job, y, plan.window.x1, plan.inner.x1);
        zeroPixels<PIX, nComponents>(job, y, plan.inner.x2, plan.window.x2);
        const float* row = field + static_cast<std::size_t>(y - plan.field.y1) * width +
                           (plan.inner.x1 - plan.field.x1);
        const auto lanes = sourceLanes(job.source, y, plan.inner.x1, count);
        PIX* out = job.destination.pixel<PIX, nComponents>(plan.inner.x1, y);
        const PIX* src = lanes.first < lanes.second
                             ? job.source.pixel<PIX, nComponents>(plan.inner.x1, y)
                             : nullptr;
        for (int i = 0; i < count; ++i) {
            const PIX* pixel = i >= lanes.first && i < lanes.second
                                   ? src + static_cast<std::ptrdiff_t>(i) * nComponents
                                   : nullptr;
            applyOutputRule<PIX, nComponents>(row[i], job.settings, pixel,
                                              out + static_cast<std::ptrdiff_t>(i) * nComponents);
        }
    }
}

}  // namespace

void WholeFieldScratch::reserve(const RenderPlan& plan) {
    classes.reserve(static_cast<std::size_t>(plan.field.x2 - plan.field.x1));
    if (plan.quality != 0) {
        column.reserve(plan.field.y2 - plan.field.y1);
    }
}

std::size_t WholeFieldScratch::bytes() const {
    return classes.bytes() +
           (column.column.size() + column.envelope.size() + column.boundaries.size()) *
               sizeof(float) +
           column.positions.size() * sizeof(int);
}

template <class PIX, int nComponents>
void renderWholeFieldTask(const RenderJob& job, float* field, WholeFieldScratch& scratch, int phase,
                          int task) {
    const RenderPlan& plan = job.plan;
    const int width = plan.field.x2 - plan.field.x1;
    const int height = plan.field.y2 - plan.field.y1;
    if (phase == 0) {
        const int j1 = task * plan.taskRows;
        classifyRows<PIX, nComponents>(job, field, scratch, j1,
                                       std::min(height, j1 + plan.taskRows));
    } else if (phase == 1) {
        if (plan.quality == 0) {
            chamferTransform(field, width, height);
        } else {
            const int i1 = task * plan.taskColumns;
            separableColumnPass(field, width, height, i1, std::min(width, i1 + plan.taskColumns),
                                scratch.column);
        }
    } else {
        const int y1 = plan.inner.y1 + task * plan.taskRows;
        writeRows<PIX, nComponents>(job, field, y1, std::min(plan.inner.y2, y1 + plan.taskRows));
    }
}

template <class PIX, int nComponents>
void renderZeroRows(const RenderJob& job) {
    const RenderPlan& plan = job.plan;
    for (int y = plan.inner.y1; y < plan.inner.y2; ++y) {
        if (!job.rowAborted()) {
            zeroPixels<PIX, nComponents>(job, y, plan.window.x1, plan.window.x2);
        }
    }
}

#define ZARVEL_WHOLE_FIELD_RENDERER(PIX, N)                                                        \
    template void renderWholeFieldTask<PIX, N>(const RenderJob&, float*, WholeFieldScratch&, int,  \
                                               int);                                               \
    template void renderZeroRows<PIX, N>(const RenderJob&);
ZARVEL_WHOLE_FIELD_RENDERER(unsigned char, 4)
ZARVEL_WHOLE_FIELD_RENDERER(unsigned short, 4)
ZARVEL_WHOLE_FIELD_RENDERER(float, 4)
ZARVEL_WHOLE_FIELD_RENDERER(unsigned char, 1)
ZARVEL_WHOLE_FIELD_RENDERER(unsigned short, 1)
ZARVEL_WHOLE_FIELD_RENDERER(float, 1)
#undef ZARVEL_WHOLE_FIELD_RENDERER

}  // namespace Engine
}  // namespace OutlineKernel
