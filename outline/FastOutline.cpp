// The engine's front: plans a render, sizes the scratch the plan asks for, and hands the tasks of
// each phase to the path's renderer (outline/engine/).
#include "outline/FastOutline.h"

#include <algorithm>
#include <atomic>
#include <vector>

#include "outline/OutlineKernel.h"
#include "outline/engine/Kernels.h"
#include "outline/engine/Renderers.h"

namespace OutlineKernel {

namespace {

using namespace Engine;

// The scratch of one thread: one set per path, grown only for the paths its renders take.
struct ThreadScratch {
    GoodScratch good;
    DraftScratch draft;
    WholeFieldScratch wholeField;

    std::size_t bytes() const { return good.bytes() + draft.bytes() + wholeField.bytes(); }
};

}  // namespace

struct FastOutline::State {
    SimdLevel simdLimit = SimdLevel::avx512;
    WorkUnits units;
    RenderJob job;
    std::vector<ThreadScratch> scratch;
    Buffer<float> field;  // the whole-field path's field
    std::atomic<int> nextTask[3];
    // The task of a phase for the prepared pixel type and path.
    void (*runTask)(State&, ThreadScratch&, int phase, int task) = nullptr;
};

namespace {

using State = FastOutline::State;

template <class PIX, int nComponents>
void goodTask(State& s, ThreadScratch& t, int, int task) {
    renderGoodTile<PIX, nComponents>(s.job, t.good, task);
}

template <class PIX, int nComponents>
void draftTask(State& s, ThreadScratch& t, int, int task) {
    renderDraftTile<PIX, nComponents>(s.job, t.draft, task);
}

template <class PIX, int nComponents>
void wholeFieldTask(State& s, ThreadScratch& t, int phase, int task) {
    renderWholeFieldTask<PIX, nComponents>(s.job, s.field.data(), t.wholeField, phase, task);
}

template <class PIX, int nComponents>
void zeroRowsTask(State& s, ThreadScratch&, int, int) {
    renderZeroRows<PIX, nComponents>(s.job);
}

template <class PIX>
ImageRows imageRows(const PixelView<PIX>& view) {
    ImageRows rows;
    rows.data = reinterpret_cast<const char*>(view.data);
    rows.rowBytes = view.rowBytes;
    rows.bounds = view.bounds;
    rows.valid =
        view.data != nullptr && view.bounds.x2 > view.bounds.x1 && view.bounds.y2 > view.bounds.y1;
    return rows;
}

SimdLevel clampLevel(SimdLevel wanted) {
    const SimdLevel best = detectedSimdLevel();
    return static_cast<int>(wanted) < static_cast<int>(best) ? wanted : best;
}

}  // namespace

FastOutline::FastOutline()
    : state(std::make_unique<State>()) {}

FastOutline::~FastOutline() = default;

void FastOutline::limitSimd(SimdLevel level) {
    state->simdLimit = level;
}

void FastOutline::setWorkUnits(const WorkUnits& units) {
    state->units.stripeWidth = std::max(0, units.stripeWidth);
    state->units.bands = std::max(0, units.bands);
    state->units.blockRows = std::max(0, units.blockRows);
}

void FastOutline::setAbortQuery(bool (*aborted)(void* context), void* context) {
    state->job.abortQuery = aborted;
    state->job.abortContext = context;
}

const RenderPlan& FastOutline::plan() const {
    return state->job.plan;
}

int FastOutline::phaseCount() const {
    return state->job.plan.phaseCount;
}

bool FastOutline::usesWholeField() const {
    return state->job.plan.path == RenderPath::wholeField;
}

std::size_t FastOutline::workingBytes() const {
    std::size_t total = state->field.bytes();
    for (const ThreadScratch& t : state->scratch) {
        total += t.bytes();
    }
    return total;
}

void FastOutline::runPhase(int phase, unsigned threadIndex, unsigned /*threadCount*/) {
    State& s = *state;
    const RenderPlan& plan = s.job.plan;
    // Indices beyond the scratch of the render have nothing to do: the others take every task.
    if (phase < 0 || phase >= plan.phaseCount || threadIndex >= plan.threads) {
        return;
    }
    ThreadScratch& t = s.scratch[threadIndex];
    // Tasks are handed out in order to whichever thread asks next, so threads that run at the
    // same time share the work and a thread that runs alone does all of it.
    for (;;) {
        const int task = s.nextTask[phase].fetch_add(1, std::memory_order_relaxed);
        if (task >= plan.phases[phase].tasks) {
            return;
        }
        s.runTask(s, t, phase, task);
    }
}

template <class PIX, int nComponents>
void FastOutline::prepare(const PixelView<const PIX>& source, const PixelView<PIX>& destination,
                          const PixelRect& fieldBounds, const PixelRect& window,
                          const FastOutlineSettings& settings, unsigned maxThreads) {
    State& s = *state;
    RenderJob& job = s.job;
    job.settings =
        makeOutputSettings<PIX>(settings.red, settings.green, settings.blue, settings.widthPixels);
    RenderRequest request;
    request.fieldBounds = fieldBounds;
    request.window = window;
    request.destinationBounds = destination.bounds;
    request.quality = settings.quality;
    request.width = job.settings.width;
    request.threads = maxThreads;
    request.level = clampLevel(s.simdLimit);
    request.units = s.units;
    job.plan = planRender(request);
    for (std::atomic<int>& next : s.nextTask) {
        next.store(0, std::memory_order_relaxed);
    }
    if (destination.data == nullptr) {
        job.plan.phaseCount = 0;
    }
    const RenderPlan& plan = job.plan;
    if (plan.phaseCount == 0) {
        return;
    }
    job.kernels = &kernelsFor(plan.level);
    job.source = imageRows(source);
    job.destination = imageRows(destination);
    makeOutputTables<PIX, nComponents>(plan, job.settings, job.tables);

    if (s.scratch.size() < plan.threads) {
        s.scratch.resize(plan.threads);
    }
    for (unsigned i = 0; i < plan.threads; ++i) {
        ThreadScratch& t = s.scratch[i];
        switch (plan.path) {
        case RenderPath::good:
            t.good.reserve(plan);
            break;
        case RenderPath::draft:
            t.draft.reserve(plan);
            break;
        case RenderPath::wholeField:
            t.wholeField.reserve(plan);
            break;
        case RenderPath::nothing:
        case RenderPath::zeroRows:
            break;
        }
    }
    switch (plan.path) {
    case RenderPath::good:
        s.runTask = &goodTask<PIX, nComponents>;
        break;
    case RenderPath::draft:
        s.runTask = &draftTask<PIX, nComponents>;
        break;
    case RenderPath::wholeField:
        s.field.reserve(static_cast<std::size_t>(plan.field.x2 - plan.field.x1) *
                        static_cast<std::size_t>(plan.field.y2 - plan.field.y1));
        s.runTask = &wholeFieldTask<PIX, nComponents>;
        break;
    case RenderPath::zeroRows:
        s.runTask = &zeroRowsTask<PIX, nComponents>;
        break;
    case RenderPath::nothing:
        break;
    }
}

#define ZARVEL_FAST_OUTLINE(PIX, N)                                                                \
    template void FastOutline::prepare<PIX, N>(const PixelView<const PIX>&, const PixelView<PIX>&, \
                                               const PixelRect&, const PixelRect&,                 \
                                               const FastOutlineSettings&, unsigned);
ZARVEL_FAST_OUTLINE(unsigned char, 4)
ZARVEL_FAST_OUTLINE(unsigned short, 4)
ZARVEL_FAST_OUTLINE(float, 4)
ZARVEL_FAST_OUTLINE(unsigned char, 1)
ZARVEL_FAST_OUTLINE(unsigned short, 1)
ZARVEL_FAST_OUTLINE(float, 1)
#undef ZARVEL_FAST_OUTLINE

}  // namespace OutlineKernel
