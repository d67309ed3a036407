// Time of the fast outline engine on whole frames against a plain copy of the same frame,
// measured in the same run with the same threads. Every case is first checked byte for byte
// against the straightforward pipeline (classify, transform, output rule) and the program stops
// on a mismatch.
//
// Frames: 1920×1080 RGBA 8-bit shapes and dense text, 3840×2160 RGBA float shapes, and the same
// shapes at 3840×2160 and 7680×4320 in 8-bit for the scaling checks. Unless the frame alone is
// larger than the last-level cache, several copies are cycled so that every iteration reads a
// frame that is not in the cache, as a host's render would.
//
// Counters: "x_copy" is the median time of the case divided by the median time of copying the
// frame with the same thread count; "MB_work" is the engine's working memory.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include "bench/BenchFrames.h"
#include "outline/FastOutline.h"
#include "outline/OutlineKernel.h"

namespace {

namespace K = OutlineKernel;

// ---------------------------------------------------------------------------------------------
// A small persistent pool, as a host keeps one: run(n, f) calls f(t, n) for t < n on n threads
// (the calling thread is thread 0) and returns when all are done.
// ---------------------------------------------------------------------------------------------

class Pool {
public:
    explicit Pool(unsigned workers) {
        for (unsigned w = 0; w < workers; ++w) {
            threads.emplace_back([this, w] { work(w + 1); });
        }
    }
    ~Pool() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        wake.notify_all();
        for (std::thread& thread : threads) {
            thread.join();
        }
    }

    void run(unsigned count, const std::function<void(unsigned, unsigned)>& job) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            current = &job;
            active = count;
            pending = count - 1;
            ++generation;
        }
        wake.notify_all();
        job(0, count);
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [this] { return pending == 0; });
    }

private:
    void work(unsigned index) {
        unsigned seen = 0;
        for (;;) {
            const std::function<void(unsigned, unsigned)>* job = nullptr;
            unsigned count = 0;
            {
                std::unique_lock<std::mutex> lock(mutex);
                wake.wait(lock, [&] { return stopping || generation != seen; });
                if (stopping) {
                    return;
                }
                seen = generation;
                job = current;
                count = active;
            }
            if (index < count) {
                (*job)(index, count);
                std::lock_guard<std::mutex> lock(mutex);
                if (--pending == 0) {
                    done.notify_all();
                }
            }
        }
    }

    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    const std::function<void(unsigned, unsigned)>* current = nullptr;
    unsigned active = 0;
    unsigned pending = 0;
    unsigned generation = 0;
    bool stopping = false;
};

Pool& pool() {
    static Pool instance(1);
    return instance;
}

// ---------------------------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------------------------

// The pictures of the frame benchmark (bench/BenchFrames.h), so that both time the same frames.
using ZarvelBench::Content;

template <class PIX>
PIX component(double value) {
    if constexpr (std::is_same_v<PIX, float>) {
        return static_cast<float>(value);
    } else {
        return static_cast<PIX>(std::clamp(value, 0.0, 1.0) * 255.0 + 0.5);
    }
}

struct FrameSpec {
    const char* name;
    int width;
    int height;
    Content content;
    bool floats;
};

const FrameSpec frameSpecs[] = {
    {"shapes1080", 1920, 1080, Content::shapes, false},
    {"text1080", 1920, 1080, Content::text, false},
    {"shapes2160f", 3840, 2160, Content::shapes, true},
    {"shapes2160", 3840, 2160, Content::shapes, false},
    {"shapes4320", 7680, 4320, Content::shapes, false},
};

// Several source and destination copies of one frame; `pair(i)` cycles through them.
struct Frame {
    FrameSpec layout;
    int copies = 1;
    std::size_t rowBytes = 0;
    std::vector<std::vector<unsigned char>> sources;
    std::vector<std::vector<unsigned char>> destinations;

    std::size_t bytes() const { return rowBytes * static_cast<std::size_t>(layout.height); }
};

template <class PIX>
void fill(Frame& frame) {
    const std::vector<float> alpha =
        ZarvelBench::frameCoverage(frame.layout.content, frame.layout.width, frame.layout.height);
    std::vector<unsigned char> pixels(frame.bytes());
    PIX* p = reinterpret_cast<PIX*>(pixels.data());
    for (int y = 0; y < frame.layout.height; ++y) {
        for (int x = 0; x < frame.layout.width; ++x) {
            const double a = alpha[static_cast<std::size_t>(y) * frame.layout.width + x];
            PIX* pixel = p + (static_cast<std::size_t>(y) * frame.layout.width + x) * 4;
            pixel[0] = component<PIX>(a * 0.9);
            pixel[1] = component<PIX>(a * (0.2 + 0.6 * (x % 97) / 96.0));
            pixel[2] = component<PIX>(a * 0.4);
            pixel[3] = component<PIX>(a);
        }
    }
    for (int c = 0; c < frame.copies; ++c) {
        frame.sources.push_back(pixels);
        frame.destinations.emplace_back(frame.bytes(), 0);
    }
}

Frame& frame(int index) {
    static std::map<int, std::unique_ptr<Frame>> frames;
    std::unique_ptr<Frame>& slot = frames[index];
    if (!slot) {
        // Free the previous frames: the largest ones take hundreds of megabytes.
        frames.clear();
        std::unique_ptr<Frame>& fresh = frames[index];
        fresh = std::make_unique<Frame>();
        fresh->layout = frameSpecs[index];
        const std::size_t pixelBytes = fresh->layout.floats ? 16 : 4;
        fresh->rowBytes = pixelBytes * fresh->layout.width;
        // Enough copies that the frames cycled through are well beyond the 32 MiB cache.
        const std::size_t perPair = 2 * fresh->bytes();
        fresh->copies = static_cast<int>(std::clamp<std::size_t>((96u << 20) / perPair, 1, 4));
        if (fresh->layout.floats) {
            fill<float>(*fresh);
        } else {
            fill<unsigned char>(*fresh);
        }
        return *fresh;
    }
    return *slot;
}

// ---------------------------------------------------------------------------------------------
// Renders
// ---------------------------------------------------------------------------------------------

// Tuning by environment, for trying the engine's choices by hand: ZARVEL_SIMD (sse2, avx2 or
// avx512) limits the vector code, ZARVEL_WORK_UNITS ("stripe,bands,blockRows", 0 automatic)
// overrides the tiles.
void tuneEngine(K::FastOutline& engine) {
    if (const char* simd = std::getenv("ZARVEL_SIMD")) {
        const std::string level = simd;
        engine.limitSimd(level == "sse2"   ? K::SimdLevel::baseline
                         : level == "avx2" ? K::SimdLevel::avx2
                                           : K::SimdLevel::avx512);
    }
    if (const char* units = std::getenv("ZARVEL_WORK_UNITS")) {
        int stripe = 0;
        int bands = 0;
        int blockRows = 0;
        if (std::sscanf(units, "%d,%d,%d", &stripe, &bands, &blockRows) == 3) {
            engine.setWorkUnits({stripe, bands, blockRows});
        }
    }
}

template <class PIX>
void renderFast(K::FastOutline& engine, Frame& f, int copy, const K::FastOutlineSettings& settings,
                unsigned threads) {
    K::PixelView<const PIX> source;
    source.data = reinterpret_cast<const PIX*>(f.sources[copy].data());
    source.rowBytes = static_cast<std::ptrdiff_t>(f.rowBytes);
    source.bounds = {0, 0, f.layout.width, f.layout.height};
    K::PixelView<PIX> destination;
    destination.data = reinterpret_cast<PIX*>(f.destinations[copy].data());
    destination.rowBytes = source.rowBytes;
    destination.bounds = source.bounds;
    engine.prepare<PIX, 4>(source, destination, source.bounds, source.bounds, settings, threads);
    for (int phase = 0; phase < engine.phaseCount(); ++phase) {
        if (threads == 1) {
            engine.runPhase(phase, 0, 1);
        } else {
            pool().run(threads, [&](unsigned t, unsigned n) { engine.runPhase(phase, t, n); });
        }
    }
}

// The straightforward pipeline on the whole frame with the kernel's own functions.
template <class PIX>
std::vector<unsigned char> renderStraightforward(const Frame& f,
                                                 const K::FastOutlineSettings& settings) {
    const int width = f.layout.width;
    const int height = f.layout.height;
    const PIX* source = reinterpret_cast<const PIX*>(f.sources[0].data());
    std::vector<float> field(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < field.size(); ++i) {
        field[i] = K::classifyAlpha<PIX>(source[i * 4 + 3]);
    }
    if (settings.quality == 0) {
        K::chamferTransform(field.data(), width, height);
    } else {
        K::separableTransform(field.data(), width, height);
    }
    std::vector<unsigned char> out(f.bytes());
    const K::OutputSettings output = K::makeOutputSettings<PIX>(
        settings.red, settings.green, settings.blue, settings.widthPixels);
    for (int y = 0; y < height; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * width;
        K::applyOutputRuleRow<PIX, 4>(field.data() + row, width, output, source + row * 4,
                                      reinterpret_cast<PIX*>(out.data()) + row * 4);
    }
    return out;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Median copy time per (frame, threads), filled by the copy benchmarks that run first.
std::map<std::pair<int, unsigned>, double>& copyTimes() {
    static std::map<std::pair<int, unsigned>, double> times;
    return times;
}

template <class Body>
std::vector<double> timeIterations(benchmark::State& state, Body body) {
    std::vector<double> seconds;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body(static_cast<int>(seconds.size()));
        const auto end = std::chrono::steady_clock::now();
        const double elapsed = std::chrono::duration<double>(end - start).count();
        state.SetIterationTime(elapsed);
        seconds.push_back(elapsed);
    }
    return seconds;
}

void copyFrame(benchmark::State& state, int frameIndex, unsigned threads) {
    Frame& f = frame(frameIndex);
    const std::size_t bytes = f.bytes();
    const std::vector<double> seconds = timeIterations(state, [&](int i) {
        const int copy = i % f.copies;
        const unsigned char* from = f.sources[copy].data();
        unsigned char* to = f.destinations[copy].data();
        if (threads == 1) {
            std::memcpy(to, from, bytes);
        } else {
            pool().run(threads, [&](unsigned t, unsigned n) {
                const std::size_t begin = bytes * t / n;
                const std::size_t end = bytes * (t + 1) / n;
                std::memcpy(to + begin, from + begin, end - begin);
            });
        }
        benchmark::ClobberMemory();
    });
    copyTimes()[{frameIndex, threads}] = median(seconds);
    state.counters["ms_median"] = median(seconds) * 1e3;
}

template <class PIX>
void outline(benchmark::State& state, int frameIndex, int quality, double width, unsigned threads) {
    Frame& f = frame(frameIndex);
    K::FastOutlineSettings settings;
    settings.quality = quality;
    settings.widthPixels = width;
    settings.red = 1.0;
    settings.green = 0.8;
    settings.blue = 0.1;
    K::FastOutline engine;
    tuneEngine(engine);
    // Check first: every copy of the destination against the straightforward pipeline. On
    // fields more than 4096 rows high the straightforward lower envelope rounds squared row
    // positions and can be one unit off where the engine is exact: there, pixels may differ
    // in the rows within reach of the rounding, and the count is reported.
    const std::vector<unsigned char> expected = renderStraightforward<PIX>(f, settings);
    const std::size_t pixelBytes = f.rowBytes / static_cast<std::size_t>(f.layout.width);
    const int roundingFrom = 4096 - static_cast<int>(std::ceil(width)) - 2;
    const bool mayRound = quality != 0 && f.layout.height > roundingFrom;
    double differing = 0.0;
    for (int copy = 0; copy < f.copies; ++copy) {
        std::fill(f.destinations[copy].begin(), f.destinations[copy].end(), 0xcd);
        renderFast<PIX>(engine, f, copy, settings, threads);
        std::size_t count = 0;
        for (std::size_t at = 0; at < expected.size(); at += pixelBytes) {
            if (std::memcmp(&expected[at], &f.destinations[copy][at], pixelBytes) == 0) {
                continue;
            }
            const std::size_t row = at / f.rowBytes;
            if (!mayRound || row < static_cast<std::size_t>(roundingFrom)) {
                std::fprintf(stderr, "MISMATCH %s quality %d width %g: pixel %zu, %zu\n",
                             f.layout.name, quality, width, (at % f.rowBytes) / pixelBytes, row);
                std::exit(1);
            }
            ++count;
        }
        differing = static_cast<double>(count);
    }
    const std::vector<double> seconds = timeIterations(state, [&](int i) {
        renderFast<PIX>(engine, f, i % f.copies, settings, threads);
        benchmark::ClobberMemory();
    });
    const double copy = copyTimes()[{frameIndex, threads}];
    state.counters["ms_median"] = median(seconds) * 1e3;
    if (copy > 0.0) {
        state.counters["x_copy"] = median(seconds) / copy;
    }
    state.counters["MB_work"] = static_cast<double>(engine.workingBytes()) / (1 << 20);
    if (mayRound) {
        state.counters["px_rounding"] = differing;
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["MB_peak_rss"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void registerFrame(int frameIndex, const std::vector<double>& widths,
                   const std::vector<unsigned>& threadCounts) {
    const FrameSpec& layout = frameSpecs[frameIndex];
    for (unsigned threads : threadCounts) {
        const std::string name =
            std::string("copy/") + layout.name + "/threads:" + std::to_string(threads);
        benchmark::RegisterBenchmark(
            name.c_str(), [=](benchmark::State& state) { copyFrame(state, frameIndex, threads); })
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond)
            ->MinTime(0.5);
    }
    for (int quality : {0, 1}) {
        for (double width : widths) {
            for (unsigned threads : threadCounts) {
                char name[128];
                std::snprintf(name, sizeof name, "outline/%s/%s/width:%g/threads:%u", layout.name,
                              quality == 0 ? "draft" : "good", width, threads);
                benchmark::RegisterBenchmark(
                    name,
                    [=](benchmark::State& state) {
                        if (layout.floats) {
                            outline<float>(state, frameIndex, quality, width, threads);
                        } else {
                            outline<unsigned char>(state, frameIndex, quality, width, threads);
                        }
                    })
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(0.5);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    registerFrame(0, {2.5, 15.0, 20.0, 160.0}, {1, 2});
    registerFrame(1, {2.5, 15.0, 20.0}, {1, 2});
    registerFrame(2, {15.0 * 2}, {1, 2});
    registerFrame(3, {15.0 * 2}, {1, 2});
    registerFrame(4, {15.0 * 4, 160.0}, {2});
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
