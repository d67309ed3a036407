// The one place where the engine fuzzer (EngineFuzzTarget.cpp) touches the fast outline engine:
// plain rectangles and pixel views in, one render out, run phase by phase with the thread
// indices of each phase in a shuffled order. When the engine's interface changes, only this
// file follows it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <vector>

#include "outline/FastOutline.h"

namespace zarvel::fuzz {

/// Pixel coordinates; x2 and y2 exclusive. Empty when x2 <= x1 or y2 <= y1.
struct Rect {
    int x1 = 0;
    int y1 = 0;
    int x2 = 0;
    int y2 = 0;
};

/// Packed pixels someone else owns: `data` is the address of pixel (bounds.x1, bounds.y1),
/// rows `rowBytes` apart (negative: bottom-up). Null `data` or empty bounds: no pixels.
template <class PIX>
struct Pixels {
    PIX* data = nullptr;
    std::ptrdiff_t rowBytes = 0;
    Rect bounds;
};

struct EngineSettings {
    int quality = 1;  // 0 Draft, 1 Good, 2 Best
    double widthPixels = 2.0;
    double red = 1.0;
    double green = 1.0;
    double blue = 1.0;
};

/// How a render is cut and run; the output must never depend on any of it.
struct EngineSchedule {
    int simdLevel = 0;    // 0 .. engineSimdLevels() - 1, lowest first
    int stripeWidth = 0;  // forced work units; 0 leaves the engine's choice
    int bands = 0;
    int blockRows = 0;
    unsigned maxThreads = 1;  // the engine prepares for this many threads ...
    unsigned threads = 1;     // ... and each phase runs indices 0 .. threads-1 (<= maxThreads)
    std::uint32_t orderSeed = 0;
};

/// Instruction-set levels this processor offers the engine, counted from the lowest.
inline int engineSimdLevels() {
    return static_cast<int>(OutlineKernel::detectedSimdLevel()) + 1;
}

inline const char* engineSimdLevelName(int level) {
    static const char* const names[] = {"baseline", "avx2", "avx512"};
    return level >= 0 && level < 3 ? names[level] : "?";
}

class Engine {
public:
    /// One render of `window` (clipped to the destination's bounds) with the field over `field`.
    template <class PIX, int nComponents>
    void render(const Pixels<const PIX>& source, const Pixels<PIX>& destination, const Rect& field,
                const Rect& window, const EngineSettings& settings,
                const EngineSchedule& schedule) {
        engine.limitSimd(static_cast<OutlineKernel::SimdLevel>(schedule.simdLevel));
        OutlineKernel::WorkUnits units;
        units.stripeWidth = schedule.stripeWidth;
        units.bands = schedule.bands;
        units.blockRows = schedule.blockRows;
        engine.setWorkUnits(units);
        OutlineKernel::FastOutlineSettings fast;
        fast.quality = settings.quality;
        fast.widthPixels = settings.widthPixels;
        fast.red = settings.red;
        fast.green = settings.green;
        fast.blue = settings.blue;
        engine.prepare<PIX, nComponents>(view(source), view(destination), rect(field), rect(window),
                                         fast, schedule.maxThreads);
        std::vector<unsigned> order(schedule.threads);
        std::uint32_t state = schedule.orderSeed * 2654435761u + 1;
        for (int phase = 0; phase < engine.phaseCount(); ++phase) {
            std::iota(order.begin(), order.end(), 0u);
            for (std::size_t i = order.size(); i > 1; --i) {
                state ^= state << 13;
                state ^= state >> 17;
                state ^= state << 5;
                std::swap(order[i - 1], order[state % i]);
            }
            for (unsigned index : order) {
                engine.runPhase(phase, index, schedule.threads);
            }
        }
    }

    /// The last render took the whole-field pipeline.
    bool usedWholeField() const { return engine.usesWholeField(); }

private:
    static OutlineKernel::PixelRect rect(const Rect& r) { return {r.x1, r.y1, r.x2, r.y2}; }

    template <class PIX>
    static OutlineKernel::PixelView<PIX> view(const Pixels<PIX>& pixels) {
        OutlineKernel::PixelView<PIX> v;
        v.data = pixels.data;
        v.rowBytes = pixels.rowBytes;
        v.bounds = rect(pixels.bounds);
        return v;
    }

    OutlineKernel::FastOutline engine;
};

}  // namespace zarvel::fuzz
