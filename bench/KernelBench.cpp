// Time of the two distance transforms on an HD field of realistic shapes, reported per megapixel
// (the "s_per_Mpx" counter) so that other sizes can be estimated from it.

#include <algorithm>
#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "outline/OutlineKernel.h"

namespace {

constexpr int fieldWidth = 1920;
constexpr int fieldHeight = 1080;

// Coverage of a frame with what outlines are usually drawn around: a large logo-like ellipse,
// rounded boxes, a ring, lines of small glyph-like strokes and a scatter of dots, all with soft
// one-pixel edges, on a transparent background.
std::vector<float> realisticCoverage() {
    std::vector<float> alpha(static_cast<std::size_t>(fieldWidth) * fieldHeight, 0.0f);
    auto paint = [&](int x, int y, double coverage) {
        if (x >= 0 && y >= 0 && x < fieldWidth && y < fieldHeight && coverage > 0.0) {
            float& a = alpha[static_cast<std::size_t>(y) * fieldWidth + x];
            a = std::max(a, static_cast<float>(std::min(coverage, 1.0)));
        }
    };
    auto ellipse = [&](double cx, double cy, double rx, double ry, double hole) {
        for (int y = static_cast<int>(cy - ry - 2); y <= cy + ry + 2; ++y) {
            for (int x = static_cast<int>(cx - rx - 2); x <= cx + rx + 2; ++x) {
                const double r = std::hypot((x - cx) / rx, (y - cy) / ry);
                const double outer = (1.0 - r) * std::min(rx, ry) + 0.5;
                const double inner = hole > 0 ? (r - hole) * std::min(rx, ry) + 0.5 : 1.0;
                paint(x, y, std::min(outer, inner));
            }
        }
    };
    auto box = [&](double x1, double y1, double x2, double y2, double radius) {
        for (int y = static_cast<int>(y1 - 1); y <= y2 + 1; ++y) {
            for (int x = static_cast<int>(x1 - 1); x <= x2 + 1; ++x) {
                const double dx = std::max({x1 + radius - x, 0.0, x - (x2 - radius)});
                const double dy = std::max({y1 + radius - y, 0.0, y - (y2 - radius)});
                paint(x, y, radius - std::hypot(dx, dy) + 0.5);
            }
        }
    };
    ellipse(480, 400, 300, 220, 0.0);
    ellipse(1500, 300, 180, 180, 0.7);
    box(900, 120, 1300, 420, 30);
    box(1450, 620, 1850, 1000, 12);
    for (int line = 0; line < 6; ++line) {
        for (int glyph = 0; glyph < 40; ++glyph) {
            const double x = 80 + glyph * 30;
            const double y = 700 + line * 55;
            box(x, y, x + 6 + (glyph * 7) % 14, y + 38, 3);
            if (glyph % 3 == 0) {
                ellipse(x + 14, y + 20, 9, 12, 0.5);
            }
        }
    }
    for (int dot = 0; dot < 400; ++dot) {
        ellipse((dot * 7919) % fieldWidth, (dot * 104729) % fieldHeight, 1.5 + dot % 4,
                1.5 + dot % 3, 0.0);
    }
    return alpha;
}

const std::vector<float>& classifiedField() {
    static const std::vector<float> field = [] {
        std::vector<float> result = realisticCoverage();
        for (float& element : result) {
            element = OutlineKernel::classifyFloatAlpha(element);
        }
        return result;
    }();
    return field;
}

void reportPerMegapixel(benchmark::State& state) {
    const double megapixels = fieldWidth * static_cast<double>(fieldHeight) / 1e6;
    state.counters["s_per_Mpx"] = benchmark::Counter(
        megapixels, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

template <class Transform>
void runTransform(benchmark::State& state, Transform transform) {
    const std::vector<float>& classified = classifiedField();
    std::vector<float> field(classified.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(classified.begin(), classified.end(), field.begin());
        state.ResumeTiming();
        transform(field.data());
        benchmark::DoNotOptimize(field.data());
        benchmark::ClobberMemory();
    }
    reportPerMegapixel(state);
}

void chamferTransform(benchmark::State& state) {
    runTransform(state, [](float* field) {
        OutlineKernel::chamferTransform(field, fieldWidth, fieldHeight);
    });
}

void separableTransform(benchmark::State& state) {
    runTransform(state, [](float* field) {
        OutlineKernel::separableTransform(field, fieldWidth, fieldHeight);
    });
}

// The two phases of the separable transform apart, as threads would run them.
void separableRowPass(benchmark::State& state) {
    runTransform(state, [](float* field) {
        OutlineKernel::separableRowPass(field, fieldWidth, 0, fieldHeight);
    });
}

void separableColumnPass(benchmark::State& state) {
    OutlineKernel::ColumnScratch scratch(fieldHeight);
    std::vector<float> rowPassed = classifiedField();
    OutlineKernel::separableRowPass(rowPassed.data(), fieldWidth, 0, fieldHeight);
    std::vector<float> field(rowPassed.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(rowPassed.begin(), rowPassed.end(), field.begin());
        state.ResumeTiming();
        OutlineKernel::separableColumnPass(field.data(), fieldWidth, fieldHeight, 0, fieldWidth,
                                           scratch);
        benchmark::DoNotOptimize(field.data());
        benchmark::ClobberMemory();
    }
    reportPerMegapixel(state);
}

BENCHMARK(chamferTransform)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(separableTransform)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(separableRowPass)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(separableColumnPass)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
