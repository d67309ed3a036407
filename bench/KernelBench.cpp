// Time of the two distance transforms on an HD field of the frame benchmark's shapes, reported per megapixel
// (the "s_per_Mpx" counter) so that other sizes can be estimated from it.

#include <algorithm>
#include <cmath>
#include <vector>

#include <benchmark/benchmark.h>

#include "bench/BenchFrames.h"
#include "outline/OutlineKernel.h"

namespace {

constexpr int fieldWidth = 1920;
constexpr int fieldHeight = 1080;

const std::vector<float>& classifiedField() {
    static const std::vector<float> field = [] {
        std::vector<float> result =
            ZarvelBench::frameCoverage(ZarvelBench::Content::shapes, fieldWidth, fieldHeight);
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
