#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "bench/BenchFrames.h"
#include "openfx/openfx.h"
#include "outline/FastOutline.h"
#include "outline/OutlineKernel.h"
#include "tests/support/ReferenceOutline.h"

namespace {

namespace K = OutlineKernel;
namespace R = ReferenceOutline;

// Sanitizer builds run a fraction of the random cases.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int caseScale = 1;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr int caseScale = 1;
#else
constexpr int caseScale = 10;
#endif
#else
constexpr int caseScale = 10;
#endif

template <class P, int N>
struct PixelType {
    using Pix = P;
    static constexpr int components = N;
    static constexpr int componentType = std::is_same_v<P, unsigned char>    ? R::componentByte
                                         : std::is_same_v<P, unsigned short> ? R::componentShort
                                                                             : R::componentFloat;
};

using AllPixelTypes = ::testing::Types<PixelType<unsigned char, 4>, PixelType<unsigned short, 4>,
                                       PixelType<float, 4>, PixelType<unsigned char, 1>,
                                       PixelType<unsigned short, 1>, PixelType<float, 1>>;

// An image in memory of its own, rows optionally bottom-up and padded.
struct TestImage {
    TestImage(const OfxRectI& bounds, int componentType, int components, bool bottomUp = false,
              int paddingBytes = 0) {
        const int width = std::max(0, bounds.x2 - bounds.x1);
        const int height = std::max(0, bounds.y2 - bounds.y1);
        const int rowBytes = width * components * R::componentBytes(componentType) + paddingBytes;
        storage.assign(static_cast<std::size_t>(rowBytes) * height + 1, 0);
        view.bounds = bounds;
        view.componentType = componentType;
        view.nComponents = components;
        if (bottomUp && height > 0) {
            view.data = storage.data() + static_cast<std::size_t>(rowBytes) * (height - 1);
            view.rowBytes = -rowBytes;
        } else {
            view.data = storage.data();
            view.rowBytes = rowBytes;
        }
    }

    std::vector<unsigned char> storage;
    R::Image view;
};

K::PixelRect toRect(const OfxRectI& r) {
    return {r.x1, r.y1, r.x2, r.y2};
}

template <class PIX>
K::PixelView<PIX> viewOf(const TestImage& image) {
    K::PixelView<PIX> view;
    view.data = static_cast<PIX*>(image.view.data);
    view.rowBytes = image.view.rowBytes;
    view.bounds = toRect(image.view.bounds);
    return view;
}

// The straightforward pipeline, from the independent reference: the field over `field`
// classified from the source at the same coordinates, transformed, and the output rule on every
// window pixel of a row inside the field (zero outside its columns).
void renderOracle(const R::Image* source, const R::Image& destination, const OfxRectI& field,
                  const OfxRectI& window, const K::FastOutlineSettings& settings) {
    const int width = field.x2 - field.x1;
    const int height = field.y2 - field.y1;
    if (width <= 0 || height <= 0) {
        return;
    }
    std::vector<float> values = R::classify(source, field);
    R::transform(values, width, height, settings.quality);
    const std::size_t pixelBytes =
        static_cast<std::size_t>(R::componentBytes(destination.componentType)) *
        destination.nComponents;
    for (int y = window.y1; y < window.y2; ++y) {
        const int j = y - field.y1;
        if (j < 0 || j >= height) {
            continue;
        }
        for (int x = window.x1; x < window.x2; ++x) {
            void* dst = R::pixelAddress(destination, x, y);
            const int i = x - field.x1;
            if (i < 0 || i >= width) {
                std::memset(dst, 0, pixelBytes);
                continue;
            }
            R::outputPixel(values[static_cast<std::size_t>(j) * width + i], settings.red,
                           settings.green, settings.blue, settings.widthPixels,
                           destination.componentType, destination.nComponents,
                           source != nullptr ? R::pixelAddress(*source, x, y) : nullptr, dst);
        }
    }
}

enum class Schedule { inOrder, reversed, threads };

template <class PIX, int N>
void renderFast(K::FastOutline& engine, const TestImage* source, TestImage& destination,
                const OfxRectI& field, const OfxRectI& window,
                const K::FastOutlineSettings& settings, unsigned threadCount, Schedule schedule,
                K::SimdLevel level) {
    engine.limitSimd(level);
    K::PixelView<const PIX> src;
    if (source != nullptr) {
        const K::PixelView<PIX> view = viewOf<PIX>(*source);
        src.data = view.data;
        src.rowBytes = view.rowBytes;
        src.bounds = view.bounds;
    }
    engine.prepare<PIX, N>(src, viewOf<PIX>(destination), toRect(field), toRect(window), settings,
                           threadCount);
    for (int phase = 0; phase < engine.phaseCount(); ++phase) {
        if (schedule == Schedule::threads) {
            std::vector<std::thread> threads;
            for (unsigned t = 0; t < threadCount; ++t) {
                threads.emplace_back(
                    [&engine, phase, t, threadCount] { engine.runPhase(phase, t, threadCount); });
            }
            for (std::thread& thread : threads) {
                thread.join();
            }
        } else {
            for (unsigned k = 0; k < threadCount; ++k) {
                const unsigned t = schedule == Schedule::inOrder ? k : threadCount - 1 - k;
                engine.runPhase(phase, t, threadCount);
            }
        }
    }
}

std::string describe(const OfxRectI& r) {
    std::ostringstream out;
    out << "(" << r.x1 << "," << r.y1 << ")-(" << r.x2 << "," << r.y2 << ")";
    return out.str();
}

// First differing byte offset of two images of the same layout, or -1.
long firstDifference(const TestImage& a, const TestImage& b) {
    for (std::size_t i = 0; i < a.storage.size(); ++i) {
        if (a.storage[i] != b.storage[i]) {
            return static_cast<long>(i);
        }
    }
    return -1;
}

// Where a byte offset of an image lies, for failure messages.
std::string locate(const TestImage& image, long offset) {
    const R::Image& v = image.view;
    const long rowBytes = std::max(1L, std::labs(static_cast<long>(v.rowBytes)));
    const long height = v.bounds.y2 - v.bounds.y1;
    const long memoryRow = offset / rowBytes;
    const long row = v.rowBytes < 0 ? height - 1 - memoryRow : memoryRow;
    const long column = (offset % rowBytes) / (R::componentBytes(v.componentType) * v.nComponents);
    std::ostringstream out;
    out << "pixel (" << v.bounds.x1 + column << ", " << v.bounds.y1 + row << ")";
    return out.str();
}

// ---------------------------------------------------------------------------------------------
// Source content
// ---------------------------------------------------------------------------------------------

template <class PIX>
PIX alphaOf(double coverage) {
    if constexpr (std::is_same_v<PIX, float>) {
        return static_cast<float>(coverage);
    } else {
        const double top = std::is_same_v<PIX, unsigned char> ? 255.0 : 65535.0;
        return static_cast<PIX>(std::clamp(coverage, 0.0, 1.0) * top + 0.5);
    }
}

// Alpha values at the classification boundaries and beyond.
template <class PIX>
PIX specialAlpha(std::mt19937& random) {
    if constexpr (std::is_same_v<PIX, float>) {
        const float values[] = {0.0f,
                                -0.0f,
                                -0.1f,
                                1e-30f,
                                0.25f,
                                0.5f,
                                0.50001f,
                                1.0f,
                                7.0f,
                                std::numeric_limits<float>::quiet_NaN(),
                                std::numeric_limits<float>::infinity()};
        return values[random() % (sizeof values / sizeof values[0])];
    } else if constexpr (std::is_same_v<PIX, unsigned char>) {
        const unsigned char values[] = {0, 1, 64, 127, 128, 200, 255};
        return values[random() % sizeof values];
    } else {
        const unsigned short values[] = {0, 1, 1000, 32767, 32768, 40000, 65535};
        return values[random() % (sizeof values / sizeof values[0])];
    }
}

template <class PIX>
PIX randomColour(std::mt19937& random) {
    if constexpr (std::is_same_v<PIX, float>) {
        if (random() % 50 == 0) {
            return std::numeric_limits<float>::quiet_NaN();
        }
        return std::uniform_real_distribution<float>(-0.25f, 1.25f)(random);
    } else {
        return static_cast<PIX>(random());
    }
}

// Fills the source: random colours everywhere, and alpha from one of several patterns (sparse
// points, soft discs, shapes against the border, a single pixel, nothing, noise).
template <class PIX, int N>
void paintSource(std::mt19937& random, TestImage& image) {
    const OfxRectI b = image.view.bounds;
    const int width = b.x2 - b.x1;
    const int height = b.y2 - b.y1;
    if (width <= 0 || height <= 0) {
        return;
    }
    std::vector<double> coverage(static_cast<std::size_t>(width) * height, 0.0);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int pattern = static_cast<int>(random() % 6);
    auto at = [&](int i, int j) -> double& {
        return coverage[static_cast<std::size_t>(j) * width + i];
    };
    if (pattern == 0) {
        const double density = unit(random) * 0.3;
        for (double& c : coverage) {
            c = unit(random) < density ? unit(random) : 0.0;
        }
    } else if (pattern == 1 || pattern == 2) {
        const int discs = 1 + static_cast<int>(random() % 4);
        for (int d = 0; d < discs; ++d) {
            // Pattern 2 puts the centres on the border so that shapes touch it.
            const double cx =
                pattern == 2 ? (random() % 2 ? 0.0 : width - 1.0) : unit(random) * width;
            const double cy = unit(random) * height;
            const double radius = 0.3 + unit(random) * std::max(width, height) / 3.0;
            for (int j = 0; j < height; ++j) {
                for (int i = 0; i < width; ++i) {
                    const double value = radius - std::hypot(i - cx, j - cy) + 0.5;
                    at(i, j) = std::max(at(i, j), std::clamp(value, 0.0, 1.0));
                }
            }
        }
    } else if (pattern == 3) {
        at(static_cast<int>(random() % width), static_cast<int>(random() % height)) =
            random() % 2 ? 1.0 : 0.3;
    } else if (pattern == 5) {
        for (double& c : coverage) {
            c = unit(random) < 0.5 ? 1.0 : 0.0;
        }
    }
    const bool specials = random() % 4 == 0;
    for (int y = b.y1; y < b.y2; ++y) {
        for (int x = b.x1; x < b.x2; ++x) {
            PIX* pixel = static_cast<PIX*>(R::pixelAddress(image.view, x, y));
            for (int c = 0; c < N; ++c) {
                pixel[c] = randomColour<PIX>(random);
            }
            double value = at(x - b.x1, y - b.y1);
            PIX alpha = alphaOf<PIX>(value);
            if (specials && random() % 8 == 0) {
                alpha = specialAlpha<PIX>(random);
            }
            pixel[N == 4 ? 3 : 0] = alpha;
        }
    }
}

OfxRectI randomRect(std::mt19937& random, int around, int maxSize) {
    const int x1 = static_cast<int>(random() % (2 * around + 1)) - around;
    const int y1 = static_cast<int>(random() % (2 * around + 1)) - around;
    // Thin rectangles (one row or column) come up often.
    const int shape = static_cast<int>(random() % 6);
    const int w = shape == 0 ? 1 : 1 + static_cast<int>(random() % maxSize);
    const int h = shape == 1 ? 1 : 1 + static_cast<int>(random() % maxSize);
    return {x1, y1, x1 + w, y1 + h};
}

double randomWidth(std::mt19937& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    switch (random() % 9) {
    case 0:
        return 0.0;
    case 1:
        return 0.1;
    case 2:
        return static_cast<double>(random() % 8);
    case 3:
        return 1.0 + unit(random);
    case 4:
        return unit(random) * 40.0;
    case 5:
        return static_cast<double>(random() % 41);
    case 6: {
        // Beyond the fast path: the whole-field pipeline.
        const double large[] = {254.0, 254.5, 255.0, 300.0, 1e6, 1e12, 1e40};
        return large[random() % 7];
    }
    default:
        return unit(random) * 12.0;
    }
}

double randomChannel(std::mt19937& random) {
    const int pick = static_cast<int>(random() % 12);
    if (pick == 0) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    if (pick == 1) {
        return -0.3;
    }
    if (pick == 2) {
        return 1.7;
    }
    return std::uniform_real_distribution<double>(0.0, 1.0)(random);
}

const K::SimdLevel allLevels[] = {K::SimdLevel::baseline, K::SimdLevel::avx2, K::SimdLevel::avx512};

K::SimdLevel randomLevel(std::mt19937& random) {
    const int best = static_cast<int>(K::detectedSimdLevel());
    return allLevels[random() % (best + 1)];
}

// Test names by pixel type: Rgba8, Rgba16, RgbaFloat, Alpha8, Alpha16, AlphaFloat.
struct PixelTypeNames {
    template <class T>
    static std::string GetName(int) {
        const char* depth = T::componentType == R::componentByte    ? "8"
                            : T::componentType == R::componentShort ? "16"
                                                                    : "Float";
        return std::string(T::components == 4 ? "Rgba" : "Alpha") + depth;
    }
};

template <class T>
class FastOutlineRandom : public ::testing::Test {};
TYPED_TEST_SUITE(FastOutlineRandom, AllPixelTypes, PixelTypeNames);

// Thousands of small renders with random sizes, offsets, windows, widths, colours, content,
// thread counts, schedules and vector paths, each compared byte for byte with the
// straightforward pipeline, destination pixels outside the window included.
TYPED_TEST(FastOutlineRandom, MatchesTheStraightforwardPipelineToTheByte) {
    using PIX = typename TypeParam::Pix;
    constexpr int N = TypeParam::components;
    constexpr int type = TypeParam::componentType;
    std::mt19937 random(1234u + static_cast<unsigned>(type * 10 + N));
    K::FastOutline engine;
    const unsigned threadCounts[] = {1, 2, 3, 7};
    const int cases = 300 * caseScale;
    for (int n = 0; n < cases; ++n) {
        const OfxRectI sourceBounds = randomRect(random, 6, 36);
        const OfxRectI field = randomRect(random, 10, 44);
        OfxRectI destinationBounds = randomRect(random, 12, 50);
        OfxRectI window = destinationBounds;
        if (random() % 3 != 0) {
            const int w = destinationBounds.x2 - destinationBounds.x1;
            const int h = destinationBounds.y2 - destinationBounds.y1;
            window.x1 += static_cast<int>(random() % w);
            window.y1 += static_cast<int>(random() % h);
            window.x2 =
                window.x1 + static_cast<int>(random() % (destinationBounds.x2 - window.x1 + 1));
            window.y2 =
                window.y1 + static_cast<int>(random() % (destinationBounds.y2 - window.y1 + 1));
        }
        const bool bottomUp = random() % 3 == 0;
        const int padding = random() % 3 == 0
                                ? static_cast<int>(random() % 3) * 4 * static_cast<int>(sizeof(PIX))
                                : 0;
        TestImage source(sourceBounds, type, N, random() % 2 == 0, padding);
        paintSource<PIX, N>(random, source);
        const bool noSource = random() % 25 == 0;
        TestImage expected(destinationBounds, type, N, bottomUp, padding);
        for (unsigned char& byte : expected.storage) {
            byte = static_cast<unsigned char>(random());
        }
        TestImage actual = expected;
        actual.view.data =
            actual.storage.data() +
            (static_cast<unsigned char*>(expected.view.data) - expected.storage.data());

        K::FastOutlineSettings settings;
        settings.quality = static_cast<int>(random() % 3);
        settings.widthPixels = randomWidth(random);
        settings.red = randomChannel(random);
        settings.green = randomChannel(random);
        settings.blue = randomChannel(random);
        const unsigned threads = threadCounts[random() % 4];
        const Schedule schedule = static_cast<Schedule>(random() % 3);
        const K::SimdLevel level = randomLevel(random);

        renderOracle(noSource ? nullptr : &source.view, expected.view, field, window, settings);
        renderFast<PIX, N>(engine, noSource ? nullptr : &source, actual, field, window, settings,
                           threads, schedule, level);
        const long difference = firstDifference(expected, actual);
        if (difference >= 0) {
            ADD_FAILURE() << "case " << n << ": source " << describe(sourceBounds)
                          << (noSource ? " (absent)" : "") << " field " << describe(field)
                          << " destination " << describe(destinationBounds) << " window "
                          << describe(window) << " quality " << settings.quality << " width "
                          << settings.widthPixels << " threads " << threads << " schedule "
                          << static_cast<int>(schedule) << " simd " << static_cast<int>(level)
                          << ": first difference at " << locate(expected, difference);
            return;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Realistic frames
// ---------------------------------------------------------------------------------------------

// Coverage of a frame of shapes (ellipses, rounded boxes, a ring, dots) or of dense text-like
// strokes 2 to 6 pixels wide, with soft one-pixel edges.
std::vector<float> frameCoverage(int width, int height, bool text, unsigned seed) {
    std::vector<float> alpha(static_cast<std::size_t>(width) * height, 0.0f);
    auto paint = [&](int x, int y, double coverage) {
        if (x >= 0 && y >= 0 && x < width && y < height && coverage > 0.0) {
            float& a = alpha[static_cast<std::size_t>(y) * width + x];
            a = std::max(a, static_cast<float>(std::min(coverage, 1.0)));
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
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    if (text) {
        for (double y = 8; y + 20 < height; y += 24) {
            for (double x = 6 + unit(random) * 6; x + 14 < width; x += 12 + unit(random) * 4) {
                const double stroke = 2 + unit(random) * 4;
                box(x, y, x + stroke, y + 18, stroke / 3);
                box(x, y + 8 + unit(random) * 8, x + 10, y + 8 + unit(random) * 8 + stroke, 1);
                if (unit(random) < 0.4) {
                    ellipse(x + 6, y + 12, 5, 6, 0.5);
                }
            }
        }
    } else {
        ellipse(width * 0.25, height * 0.37, width * 0.16, height * 0.2, 0.0);
        ellipse(width * 0.78, height * 0.28, width * 0.09, width * 0.09, 0.7);
        box(width * 0.47, height * 0.11, width * 0.68, height * 0.39, 12);
        box(width * 0.75, height * 0.57, width * 0.96, height * 0.93, 6);
        for (int dot = 0; dot < 120; ++dot) {
            ellipse(unit(random) * width, unit(random) * height, 1.5 + dot % 4, 1.5 + dot % 3, 0.0);
        }
        for (int glyph = 0; glyph < 20; ++glyph) {
            box(40 + glyph * 14, height * 0.7, 46 + glyph * 14 + glyph % 5, height * 0.7 + 20, 2);
        }
    }
    return alpha;
}

template <class PIX, int N>
TestImage frameImage(int width, int height, bool text, unsigned seed) {
    constexpr int type = PixelType<PIX, N>::componentType;
    TestImage image({0, 0, width, height}, type, N);
    const std::vector<float> coverage = frameCoverage(width, height, text, seed);
    std::mt19937 random(seed + 1);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            PIX* pixel = static_cast<PIX*>(R::pixelAddress(image.view, x, y));
            const double a = coverage[static_cast<std::size_t>(y) * width + x];
            for (int c = 0; c + 1 < N; ++c) {
                pixel[c] = alphaOf<PIX>(a * (0.3 + 0.7 * ((x + c * 7 + y) % 11) / 10.0));
            }
            pixel[N == 4 ? 3 : 0] = alphaOf<PIX>(a);
        }
    }
    return image;
}

template <class PIX, int N>
void expectFrameMatches(const TestImage& source, int quality, double width, const OfxRectI& field,
                        const OfxRectI& window, unsigned threads) {
    constexpr int type = PixelType<PIX, N>::componentType;
    K::FastOutlineSettings settings;
    settings.quality = quality;
    settings.widthPixels = width;
    settings.red = 0.9;
    settings.green = 0.45;
    settings.blue = 0.1;
    TestImage expected(source.view.bounds, type, N);
    TestImage actual(source.view.bounds, type, N);
    renderOracle(&source.view, expected.view, field, window, settings);
    K::FastOutline engine;
    renderFast<PIX, N>(engine, &source, actual, field, window, settings, threads, Schedule::threads,
                       K::detectedSimdLevel());
    const long difference = firstDifference(expected, actual);
    EXPECT_EQ(difference, -1) << "quality " << quality << " width " << width << " field "
                              << describe(field) << " window " << describe(window) << ": "
                              << (difference >= 0 ? locate(expected, difference) : "");
}

TEST(FastOutlineFrames, ShapesAndTextMatchAtEveryQualityAndWidth) {
    const int width = 640;
    const int height = 360;
    const OfxRectI all = {0, 0, width, height};
    for (const bool text : {false, true}) {
        SCOPED_TRACE(text ? "text" : "shapes");
        const TestImage rgba = frameImage<unsigned char, 4>(width, height, text, 7);
        for (const int quality : {0, 1}) {
            for (const double w : {2.5, 7.5, 15.0, 40.0}) {
                expectFrameMatches<unsigned char, 4>(rgba, quality, w, all, all, 2);
            }
        }
        const TestImage floats = frameImage<float, 4>(width, height, text, 9);
        expectFrameMatches<float, 4>(floats, 0, 10.0, all, all, 3);
        expectFrameMatches<float, 4>(floats, 1, 10.0, all, all, 3);
    }
}

// A tall field at the largest fast width: the integer column search against the
// single-precision lower envelope where squared positions are largest.
TEST(FastOutlineFrames, TallFieldsMatchAtTheLargestFastWidth) {
    const int width = 24;
    const int height = 4088;
    const TestImage source = frameImage<unsigned short, 1>(width, height, true, 3);
    const OfxRectI all = {0, 0, width, height};
    for (const int quality : {0, 1}) {
        for (const double w : {3.0, 180.0, 254.0}) {
            expectFrameMatches<unsigned short, 1>(source, quality, w, all, all, 2);
        }
    }
}

// Above 4088 rows the single-precision lower envelope rounds squared row positions and can pick
// another parabola than the nearest; Good takes the envelope itself in the rows it can happen in
// and stays exact. Random narrow tall fields with sources crowded about those rows, windows and
// tiles: without the envelope rows about one in five of them differs. Draft is exact at any
// height.
TEST(FastOutlineFrames, FieldsTallerThan4088RowsStayExactAtGood) {
    std::mt19937 random(1);
    auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    const double widths[] = {1.5, 3.0, 7.5, 15.0, 30.0, 60.0, 120.0, 254.0};
    const double densities[] = {0.001, 0.01, 0.05, 0.2};
    for (int n = 0; n < 60; ++n) {
        const int width = uniform(4, 40);
        const int height = uniform(4089, 4600);
        const double w = widths[uniform(0, 7)];
        const double density = densities[uniform(0, 3)];
        const bool crowded = uniform(0, 1) == 1;
        const OfxRectI all = {0, 0, width, height};
        TestImage source(all, R::componentByte, 1);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const double d = crowded && y < 3900 ? density / 10 : density;
                if (std::uniform_real_distribution<double>(0.0, 1.0)(random) < d) {
                    *static_cast<unsigned char*>(R::pixelAddress(source.view, x, y)) =
                        static_cast<unsigned char>(uniform(1, 255));
                }
            }
        }
        OfxRectI window = all;
        if (n % 2 == 1) {
            window.x1 = uniform(0, width - 1);
            window.x2 = uniform(window.x1 + 1, width);
            window.y1 = uniform(0, height - 1);
            window.y2 = n % 4 == 1 ? height : uniform(window.y1 + 1, height);
        }
        K::FastOutlineSettings settings;
        settings.widthPixels = w;
        TestImage expected(all, R::componentByte, 1);
        TestImage actual(all, R::componentByte, 1);
        renderOracle(&source.view, expected.view, all, window, settings);
        K::FastOutline engine;
        engine.setWorkUnits({n % 3 == 0 ? uniform(8, 40) : 0, n % 5 == 0 ? uniform(2, 7) : 0, 0});
        renderFast<unsigned char, 1>(engine, &source, actual, all, window, settings, 2,
                                     Schedule::threads, K::detectedSimdLevel());
        ASSERT_FALSE(engine.usesWholeField());
        EXPECT_LT(engine.plan().envelopeRows, height);
        const long difference = firstDifference(expected, actual);
        ASSERT_EQ(difference, -1) << "case " << n << ", " << width << " x " << height << " width "
                                  << w << " window " << describe(window) << ": "
                                  << locate(expected, difference);
    }
    // Draft keeps its own fast path at any height.
    const OfxRectI tall = {0, 0, 12, 4200};
    const TestImage shapes = frameImage<unsigned char, 1>(12, 4200, true, 4);
    expectFrameMatches<unsigned char, 1>(shapes, 0, 60.0, tall, tall, 2);
}

// The frames the benchmark times, at a quarter of 1080p: every content, both transforms, the
// benchmark's widths scaled to the frame and a few in pixels.
TEST(FastOutlineFrames, TheBenchmarkFramesMatch) {
    const int width = 480;
    const int height = 270;
    const OfxRectI all = {0, 0, width, height};
    using ZarvelBench::Content;
    for (const Content content :
         {Content::shapes, Content::text, Content::opaque, Content::empty}) {
        SCOPED_TRACE(ZarvelBench::contentName(content));
        const std::vector<float> coverage = ZarvelBench::frameCoverage(content, width, height);
        TestImage bytes(all, R::componentByte, 4);
        TestImage floats(all, R::componentFloat, 4);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                auto* b = static_cast<unsigned char*>(R::pixelAddress(bytes.view, x, y));
                auto* f = static_cast<float*>(R::pixelAddress(floats.view, x, y));
                for (int c = 0; c < 4; ++c) {
                    const float value = c == 3 ? coverage[std::size_t(y) * width + x]
                                               : ZarvelBench::frameColour(x, y, c);
                    b[c] = alphaOf<unsigned char>(value);
                    f[c] = value;
                }
            }
        }
        for (const int quality : {0, 1}) {
            for (const double w : {2.5 / 4, 15.0 / 4, 20.0 / 4, 160.0 / 4, 15.0, 40.0}) {
                expectFrameMatches<unsigned char, 4>(bytes, quality, w, all, all, 2);
            }
            expectFrameMatches<float, 4>(floats, quality, 3.75, all, all, 2);
        }
    }
}

// Draft works only where a value up to the width can arise: far pixels within reach of a
// source. Wide fields with sources far apart, solid blocks with holes and empty stretches put
// the edges of that work everywhere, at every vector width and tiling.
TEST(FastOutlineSeams, DraftSkipsOnlyWhatCannotMatter) {
    std::mt19937 random(31);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    K::FastOutline engine;
    for (int n = 0; n < 20 * caseScale; ++n) {
        const int width = 200 + static_cast<int>(random() % 500);
        const int height = 30 + static_cast<int>(random() % 110);
        const OfxRectI field = {-7, 3, width - 7, height + 3};
        TestImage source(field, R::componentByte, 4);
        std::vector<double> coverage(static_cast<std::size_t>(width) * height, 0.0);
        auto at = [&](int i, int j) -> double& {
            return coverage[static_cast<std::size_t>(j) * width + i];
        };
        const int things = 1 + static_cast<int>(random() % 6);
        for (int thing = 0; thing < things; ++thing) {
            const int cx = static_cast<int>(random() % width);
            const int cy = static_cast<int>(random() % height);
            const int kind = static_cast<int>(random() % 3);
            if (kind == 0) {
                at(cx, cy) = random() % 2 ? 1.0 : 0.3;  // a lone pixel
            } else {
                // A solid block, with far holes in it when kind is 2.
                const int w = 1 + static_cast<int>(random() % 150);
                const int h = 1 + static_cast<int>(random() % 60);
                for (int j = cy; j < std::min(height, cy + h); ++j) {
                    for (int i = cx; i < std::min(width, cx + w); ++i) {
                        at(i, j) = kind == 2 && random() % 9 == 0 ? 0.0 : 1.0;
                    }
                }
            }
        }
        for (int y = field.y1; y < field.y2; ++y) {
            for (int x = field.x1; x < field.x2; ++x) {
                auto* pixel = static_cast<unsigned char*>(R::pixelAddress(source.view, x, y));
                for (int c = 0; c < 3; ++c) {
                    pixel[c] = static_cast<unsigned char>(random());
                }
                pixel[3] = alphaOf<unsigned char>(at(x - field.x1, y - field.y1));
            }
        }
        K::FastOutlineSettings settings;
        settings.quality = 0;
        settings.widthPixels = unit(random) * 40.0;
        TestImage expected(field, R::componentByte, 4);
        TestImage actual(field, R::componentByte, 4);
        renderOracle(&source.view, expected.view, field, field, settings);
        if (random() % 2 == 0) {
            engine.setWorkUnits({0, 0, 0});
        } else {
            engine.setWorkUnits({64 + static_cast<int>(random() % 300),
                                 1 + static_cast<int>(random() % 4),
                                 1 + static_cast<int>(random() % 90)});
        }
        renderFast<unsigned char, 4>(engine, &source, actual, field, field, settings,
                                     1 + static_cast<unsigned>(random() % 3), Schedule::inOrder,
                                     randomLevel(random));
        const long difference = firstDifference(expected, actual);
        if (difference >= 0) {
            ADD_FAILURE() << "case " << n << ": field " << describe(field) << " width "
                          << settings.widthPixels << ": first difference at "
                          << locate(expected, difference);
            return;
        }
    }
}

// Draft writes zeros without transformed values where no source lies within reach + 2 of a
// pixel, judged by chunks of 64 columns and by bands of rows. Lone sources just inside and just
// beyond that distance of chunk and band edges, at widths whose reach + 2 is one short of, equal
// to and one past a chunk, find any pixel zeroed that should not be.
TEST(FastOutlineSeams, DraftZeroesOnlyPixelsBeyondTheReachOfEverySource) {
    const OfxRectI field = {-7, 3, 513, 303};
    TestImage source(field, R::componentByte, 4);
    for (int y = field.y1; y < field.y2; ++y) {
        for (int x = field.x1; x < field.x2; ++x) {
            auto* pixel = static_cast<unsigned char*>(R::pixelAddress(source.view, x, y));
            pixel[0] = static_cast<unsigned char>(x * 7 + y);
            pixel[1] = static_cast<unsigned char>(x + y * 3);
            pixel[2] = 90;
            pixel[3] = 0;
        }
    }
    // An inside pixel, an edge pixel, and a pair either side of a chunk edge, in rows near the
    // top, the middle and the bottom.
    const int sources[][3] = {{183, 40, 255},  {256, 150, 100}, {319, 151, 255},
                              {320, 260, 100}, {440, 297, 255}, {-6, 200, 255}};
    for (const auto& at : sources) {
        static_cast<unsigned char*>(R::pixelAddress(source.view, at[0], at[1]))[3] =
            static_cast<unsigned char>(at[2]);
    }
    K::FastOutline engine;
    int n = 0;
    for (const double width : {1.0, 61.5, 62.0, 63.0, 125.0, 126.0}) {
        for (const K::SimdLevel level : allLevels) {
            if (static_cast<int>(level) > static_cast<int>(K::detectedSimdLevel())) {
                continue;
            }
            K::FastOutlineSettings settings;
            settings.quality = 0;
            settings.widthPixels = width;
            TestImage expected(field, R::componentByte, 4);
            TestImage actual(field, R::componentByte, 4);
            renderOracle(&source.view, expected.view, field, field, settings);
            // Automatic tiles, then narrow stripes, several bands and short blocks.
            engine.setWorkUnits({n % 2 == 0 ? 0 : 192, n % 2 == 0 ? 0 : 3, n % 2 == 0 ? 0 : 24});
            renderFast<unsigned char, 4>(engine, &source, actual, field, field, settings, 2,
                                         Schedule::reversed, level);
            const long difference = firstDifference(expected, actual);
            EXPECT_LT(difference, 0) << "width " << width << " level " << static_cast<int>(level)
                                     << ": first difference at " << locate(expected, difference);
            ++n;
        }
    }
}

// At wide reaches the rows a backward block looks up for sources reach above the rows the engine
// keeps: a lone source there, 70 rows above the second block and 100 columns to one side,
// still outlines the block's first rows (which only a pass that moves sideways reaches).
TEST(FastOutlineSeams, DraftSeesSourcesFarAboveABlock) {
    const OfxRectI field = {0, 0, 420, 1100};
    TestImage source(field, R::componentByte, 1);
    std::memset(source.storage.data(), 0, source.storage.size());
    for (const int column : {120, 300}) {
        *static_cast<unsigned char*>(R::pixelAddress(source.view, column, 352 - 70)) = 255;
    }
    K::FastOutline engine;
    for (const double width : {130.0, 160.0}) {
        K::FastOutlineSettings settings;
        settings.quality = 0;
        settings.widthPixels = width;
        TestImage expected(field, R::componentByte, 1);
        TestImage actual(field, R::componentByte, 1);
        renderOracle(&source.view, expected.view, field, field, settings);
        engine.setWorkUnits({0, 1, 0});
        renderFast<unsigned char, 1>(engine, &source, actual, field, field, settings, 1,
                                     Schedule::inOrder, K::detectedSimdLevel());
        const long difference = firstDifference(expected, actual);
        EXPECT_LT(difference, 0) << "width " << width << ": first difference at "
                                 << locate(expected, difference);
    }
}

// Tiles: a window with the field grown by ceil(width) + 8 around it, clipped to the frame,
// reproduces the full-frame render. This is the locality the engine rests on, checked from the
// outside.
TEST(FastOutlineFrames, TilesWithAMarginReproduceTheFullFrame) {
    const int width = 320;
    const int height = 200;
    const TestImage source = frameImage<unsigned char, 4>(width, height, false, 5);
    const OfxRectI all = {0, 0, width, height};
    std::mt19937 random(11);
    for (const int quality : {0, 1}) {
        for (const double w : {0.5, 4.0, 13.7}) {
            K::FastOutlineSettings settings;
            settings.quality = quality;
            settings.widthPixels = w;
            settings.red = 0.2;
            settings.green = 1.0;
            settings.blue = 0.6;
            TestImage full(all, R::componentByte, 4);
            renderOracle(&source.view, full.view, all, all, settings);
            TestImage tiled(all, R::componentByte, 4);
            K::FastOutline engine;
            const int margin = static_cast<int>(std::ceil(w)) + 8;
            for (int ty = 0; ty < height; ty += 64) {
                for (int tx = 0; tx < width; tx += 96) {
                    const OfxRectI tile = {tx, ty, std::min(width, tx + 96),
                                           std::min(height, ty + 64)};
                    const OfxRectI field = {
                        std::max(0, tile.x1 - margin), std::max(0, tile.y1 - margin),
                        std::min(width, tile.x2 + margin), std::min(height, tile.y2 + margin)};
                    renderFast<unsigned char, 4>(engine, &source, tiled, field, tile, settings,
                                                 1 + random() % 3, Schedule::inOrder,
                                                 K::detectedSimdLevel());
                }
            }
            const long difference = firstDifference(full, tiled);
            EXPECT_EQ(difference, -1) << "quality " << quality << " width " << w << ": "
                                      << (difference >= 0 ? locate(full, difference) : "");
        }
    }
}

// Every vector path gives the same bytes on a realistic frame.
TEST(FastOutlineFrames, EveryVectorPathGivesTheSameBytes) {
    const int width = 400;
    const int height = 240;
    const TestImage source = frameImage<float, 4>(width, height, true, 13);
    const OfxRectI all = {0, 0, width, height};
    const int best = static_cast<int>(K::detectedSimdLevel());
    for (const int quality : {0, 1}) {
        K::FastOutlineSettings settings;
        settings.quality = quality;
        settings.widthPixels = 6.5;
        TestImage first(all, R::componentFloat, 4);
        K::FastOutline engine;
        renderFast<float, 4>(engine, &source, first, all, all, settings, 2, Schedule::threads,
                             K::SimdLevel::baseline);
        for (int level = 1; level <= best; ++level) {
            TestImage other(all, R::componentFloat, 4);
            renderFast<float, 4>(engine, &source, other, all, all, settings, 2, Schedule::threads,
                                 allLevels[level]);
            EXPECT_EQ(firstDifference(first, other), -1)
                << "quality " << quality << " level " << level;
        }
    }
}

// Narrow stripes and short backward blocks on medium fields with sparse isolated sources: every
// stripe seam and every cut at the edge of a stripe's margins lies among sources at all
// distances, so a margin one pixel too small shows.
template <class PIX, int N>
void checkSeams(unsigned seed, int cases) {
    constexpr int type = PixelType<PIX, N>::componentType;
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    K::FastOutline engine;
    for (int n = 0; n < cases; ++n) {
        const int width = 30 + static_cast<int>(random() % 130);
        const int height = 20 + static_cast<int>(random() % 70);
        const OfxRectI field = {-3, 2, width - 3, height + 2};
        TestImage source(field, type, N);
        const double density = 0.002 + unit(random) * 0.03;
        for (int y = field.y1; y < field.y2; ++y) {
            for (int x = field.x1; x < field.x2; ++x) {
                PIX* pixel = static_cast<PIX*>(R::pixelAddress(source.view, x, y));
                for (int c = 0; c < N; ++c) {
                    pixel[c] = randomColour<PIX>(random);
                }
                const double pick = unit(random);
                pixel[N == 4 ? 3 : 0] =
                    alphaOf<PIX>(pick < density / 2 ? 1.0 : (pick < density ? 0.3 : 0.0));
            }
        }
        const int wx = static_cast<int>(random() % width);
        const int wy = static_cast<int>(random() % height);
        const OfxRectI window = {field.x1 + wx, field.y1 + wy,
                                 field.x1 + wx + 1 + static_cast<int>(random() % (width - wx)),
                                 field.y1 + wy + 1 + static_cast<int>(random() % (height - wy))};
        K::FastOutlineSettings settings;
        settings.quality = static_cast<int>(random() % 2);
        settings.widthPixels =
            random() % 2 ? static_cast<double>(random() % 25) : unit(random) * 24;
        TestImage expected(field, type, N);
        TestImage actual(field, type, N);
        renderOracle(&source.view, expected.view, field, window, settings);
        engine.setWorkUnits({1 + static_cast<int>(random() % 40),
                             1 + static_cast<int>(random() % 6),
                             1 + static_cast<int>(random() % 10)});
        renderFast<PIX, N>(engine, &source, actual, field, window, settings,
                           1 + static_cast<unsigned>(random() % 3), Schedule::inOrder,
                           randomLevel(random));
        const long difference = firstDifference(expected, actual);
        if (difference >= 0) {
            ADD_FAILURE() << "case " << n << ": field " << describe(field) << " window "
                          << describe(window) << " quality " << settings.quality << " width "
                          << settings.widthPixels << ": first difference at "
                          << locate(expected, difference);
            return;
        }
    }
}

TEST(FastOutlineSeams, StripeSeamsAndMarginsAreInvisible) {
    checkSeams<unsigned char, 4>(21, 60 * caseScale);
    checkSeams<float, 1>(22, 60 * caseScale);
}

// ---------------------------------------------------------------------------------------------
// Contract details
// ---------------------------------------------------------------------------------------------

TEST(FastOutline, WritesNothingWhenTheWindowHasNoRowInTheField) {
    TestImage source({0, 0, 8, 8}, R::componentByte, 4);
    TestImage destination({0, 0, 8, 20}, R::componentByte, 4);
    std::fill(destination.storage.begin(), destination.storage.end(), 0xab);
    K::FastOutline engine;
    K::FastOutlineSettings settings;
    renderFast<unsigned char, 4>(engine, &source, destination, {0, 0, 8, 8}, {0, 10, 8, 20},
                                 settings, 2, Schedule::inOrder, K::detectedSimdLevel());
    EXPECT_EQ(engine.phaseCount(), 0);
    for (unsigned char byte : destination.storage) {
        ASSERT_EQ(byte, 0xab);
    }
}

TEST(FastOutline, WidthsBeyondTheFastReachUseTheWholeField) {
    TestImage source({0, 0, 16, 16}, R::componentFloat, 1);
    TestImage destination({0, 0, 16, 16}, R::componentFloat, 1);
    K::FastOutline engine;
    K::FastOutlineSettings settings;
    for (const double w : {0.0, 15.0, 254.0}) {
        settings.widthPixels = w;
        renderFast<float, 1>(engine, &source, destination, {0, 0, 16, 16}, {0, 0, 16, 16}, settings,
                             1, Schedule::inOrder, K::detectedSimdLevel());
        EXPECT_FALSE(engine.usesWholeField()) << w;
        EXPECT_EQ(engine.phaseCount(), 1) << w;
    }
    settings.widthPixels = 254.01;
    renderFast<float, 1>(engine, &source, destination, {0, 0, 16, 16}, {0, 0, 16, 16}, settings, 1,
                         Schedule::inOrder, K::detectedSimdLevel());
    EXPECT_TRUE(engine.usesWholeField());
    EXPECT_EQ(engine.phaseCount(), 3);
    EXPECT_GE(engine.workingBytes(), 16u * 16u * sizeof(float));
}

}  // namespace
