#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <queue>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "openfx/openfx.h"
#include "outline/OutlineKernel.h"
#include "tests/support/ReferenceOutline.h"

namespace {

namespace K = OutlineKernel;
namespace R = ReferenceOutline;

constexpr float far = K::farValue;
constexpr float edge = K::edgeValue;
constexpr float inside = K::insideValue;
const float notANumber = std::numeric_limits<float>::quiet_NaN();
const float infinity = std::numeric_limits<float>::infinity();

// Index of the first element whose bits differ, or -1.
long firstDifference(const std::vector<float>& a, const std::vector<float>& b) {
    for (std::size_t e = 0; e < a.size() && e < b.size(); ++e) {
        if (std::memcmp(&a[e], &b[e], sizeof(float)) != 0) {
            return static_cast<long>(e);
        }
    }
    return a.size() == b.size() ? -1 : static_cast<long>(std::min(a.size(), b.size()));
}

std::vector<float> separable(std::vector<float> field, int width, int height) {
    K::separableTransform(field.data(), width, height);
    return field;
}

std::vector<float> chamfer(std::vector<float> field, int width, int height) {
    K::chamferTransform(field.data(), width, height);
    return field;
}

// A random field of classification values made of a few discs (inside cores with edge rims)
// and scattered edge and inside elements, so that transforms meet realistic shapes and
// isolated points alike.
std::vector<float> randomField(std::mt19937& random, int width, int height, bool withInside) {
    std::vector<float> field(static_cast<std::size_t>(width) * height, far);
    std::uniform_int_distribution<int> discs(0, 3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const int count = discs(random);
    for (int d = 0; d < count; ++d) {
        const double cx = unit(random) * width;
        const double cy = unit(random) * height;
        const double radius = 0.5 + unit(random) * 0.3 * std::max(width, height);
        for (int j = 0; j < height; ++j) {
            for (int i = 0; i < width; ++i) {
                const double r = std::hypot(i + 0.5 - cx, j + 0.5 - cy);
                float& element = field[static_cast<std::size_t>(j) * width + i];
                if (r < radius - 1.0 && withInside) {
                    element = inside;
                } else if (r < radius && element != inside) {
                    element = edge;
                }
            }
        }
    }
    for (float& element : field) {
        const double u = unit(random);
        if (u < 0.03) {
            element = edge;
        } else if (u < 0.05 && withInside) {
            element = inside;
        }
    }
    return field;
}

// ---------------------------------------------------------------------------------------------
// Classification
// ---------------------------------------------------------------------------------------------

TEST(OutlineClassification, IntegerCoverageSplitsAboveHalfOfTheMaximum) {
    EXPECT_EQ(K::classifyAlpha<unsigned char>(0), far);
    EXPECT_EQ(K::classifyAlpha<unsigned char>(1), edge);
    EXPECT_EQ(K::classifyAlpha<unsigned char>(127), edge);    // 0.498
    EXPECT_EQ(K::classifyAlpha<unsigned char>(128), inside);  // 0.502
    EXPECT_EQ(K::classifyAlpha<unsigned char>(255), inside);
    EXPECT_EQ(K::classifyAlpha<unsigned short>(0), far);
    EXPECT_EQ(K::classifyAlpha<unsigned short>(1), edge);
    EXPECT_EQ(K::classifyAlpha<unsigned short>(32767), edge);
    EXPECT_EQ(K::classifyAlpha<unsigned short>(32768), inside);
    EXPECT_EQ(K::classifyAlpha<unsigned short>(65535), inside);
}

TEST(OutlineClassification, FloatCoverageIsFarUnlessAboveZero) {
    for (float notAbove : {0.0f, -0.0f, -0.1f, -infinity, notANumber}) {
        EXPECT_EQ(K::classifyAlpha<float>(notAbove), far) << notAbove;
    }
    for (float edgeCoverage : {1e-30f, 0.25f, 0.5f}) {
        EXPECT_EQ(K::classifyAlpha<float>(edgeCoverage), edge) << edgeCoverage;
    }
    for (float insideCoverage : {std::nextafter(0.5f, 1.0f), 1.0f, 7.0f, infinity}) {
        EXPECT_EQ(K::classifyAlpha<float>(insideCoverage), inside) << insideCoverage;
    }
}

// ---------------------------------------------------------------------------------------------
// The worked examples, on the kernel and on the reference alike
// ---------------------------------------------------------------------------------------------

TEST(OutlineKernelExamples, SevenElementRows) {
    const std::vector<float> insideRow = {far, far, far, inside, far, far, far};
    const std::vector<float> edgeRow = {far, far, far, edge, far, far, far};
    const std::vector<float> ringsAroundInside = {1, 0, 1, inside, 1, 0, 1};
    const std::vector<float> distancesToEdge = {3, 2, 1, 0, 1, 2, 3};

    EXPECT_EQ(separable(insideRow, 7, 1), ringsAroundInside);
    EXPECT_EQ(separable(edgeRow, 7, 1), distancesToEdge);
    // The chamfer transform never touches the first and last row: no outline at Draft.
    EXPECT_EQ(chamfer(insideRow, 7, 1), insideRow);
    EXPECT_EQ(chamfer(edgeRow, 7, 1), edgeRow);

    std::vector<float> reference = insideRow;
    R::separable(reference, 7, 1);
    EXPECT_EQ(reference, ringsAroundInside);
    reference = edgeRow;
    R::separable(reference, 7, 1);
    EXPECT_EQ(reference, distancesToEdge);
    // As a column the edge gives the same distances, but the inside element enters the column
    // pass as a parabola of height (−2)² = 4: √(dy² + 4) above and below it.
    EXPECT_EQ(separable(edgeRow, 1, 7), distancesToEdge);
    const float r5 = std::sqrt(5.0f);
    const float r8 = std::sqrt(8.0f);
    const float r13 = std::sqrt(13.0f);
    EXPECT_EQ(separable(insideRow, 1, 7), (std::vector<float>{r13, r8, r5, inside, r5, r8, r13}));
}

TEST(OutlineKernelExamples, FiveByFiveWithInsideCentre) {
    std::vector<float> field(25, far);
    field[12] = inside;

    const float o = -1.0f;                             // orthogonal neighbour: −2 + 1
    const float x = K::insideValue + K::diagonalStep;  // diagonal neighbour: −0.586
    const std::vector<float> chamfered = {far, far, far,    far, far,  //
                                          far, x,   o,      x,   far,  //
                                          far, o,   inside, o,   far,  //
                                          far, x,   o,      x,   far,  //
                                          far, far, far,    far, far};
    EXPECT_EQ(chamfer(field, 5, 5), chamfered);
    EXPECT_NEAR(x, -0.586f, 1e-6f);

    // Each element is √(dy² + r²), r being the row distance |dx − 2| left by the inside
    // centre: 1 beside the centre, 0 two columns away, √5 ≈ 2.24 above and below, √8 ≈ 2.83
    // two rows away.
    const float r5 = std::sqrt(5.0f);
    const float r8 = std::sqrt(8.0f);
    const float r2 = std::sqrt(2.0f);
    const std::vector<float> exact = {2, r5, r8,     r5, 2,  //
                                      1, r2, r5,     r2, 1,  //
                                      0, 1,  inside, 1,  0,  //
                                      1, r2, r5,     r2, 1,  //
                                      2, r5, r8,     r5, 2};
    EXPECT_EQ(separable(field, 5, 5), exact);
    EXPECT_NEAR(r5, 2.24f, 0.005f);
    EXPECT_NEAR(r8, 2.83f, 0.005f);

    std::vector<float> reference = field;
    R::chamfer(reference, 5, 5);
    EXPECT_EQ(reference, chamfered);
    reference = field;
    R::separable(reference, 5, 5);
    EXPECT_EQ(reference, exact);
}

TEST(OutlineKernelExamples, CoverageOfTheLastUnitBeforeTheWidth) {
    // Alpha-only float pixels write the coverage itself.
    auto coverage = [](float d, double width) {
        const K::OutputSettings settings = K::makeOutputSettings<float>(1, 1, 1, width);
        float out = -1.0f;
        K::applyOutputRule<float, 1>(d, settings, nullptr, &out);
        float reference = -1.0f;
        R::outputPixel(d, 1, 1, 1, width, R::componentFloat, 1, nullptr, &reference);
        EXPECT_EQ(out, reference) << "d " << d << " width " << width;
        return out;
    };
    EXPECT_EQ(coverage(2.5f, 3.0), 0.5f);
    EXPECT_EQ(coverage(2.0f, 3.0), 1.0f);
    EXPECT_EQ(coverage(0.0f, 3.0), 1.0f);
    EXPECT_EQ(coverage(3.0f, 3.0), 0.0f);
    EXPECT_EQ(coverage(0.0f, 0.5), 0.5f);  // w − 1 lies below d

    // d = w is still an outline pixel of coverage 0, so a source pixel is composited over it;
    // just above w nothing is drawn at all.
    const K::OutputSettings settings = K::makeOutputSettings<unsigned char>(1, 0, 0, 3.0);
    const unsigned char source[4] = {10, 20, 30, 255};
    unsigned char atWidth[4] = {1, 1, 1, 1};
    K::applyOutputRule<unsigned char, 4>(3.0f, settings, source, atWidth);
    EXPECT_EQ(std::vector<int>(atWidth, atWidth + 4), (std::vector<int>{10, 20, 30, 255}));
    unsigned char beyond[4] = {1, 1, 1, 1};
    K::applyOutputRule<unsigned char, 4>(std::nextafter(3.0f, 4.0f), settings, source, beyond);
    EXPECT_EQ(std::vector<int>(beyond, beyond + 4), (std::vector<int>{0, 0, 0, 0}));
}

TEST(OutlineKernelExamples, EightBitPixels) {
    using Pixel = std::array<unsigned char, 4>;
    auto render = [](float d, std::array<double, 3> colour, const Pixel* source) {
        const K::OutputSettings settings =
            K::makeOutputSettings<unsigned char>(colour[0], colour[1], colour[2], 3.0);
        Pixel out = {9, 9, 9, 9};
        K::applyOutputRule<unsigned char, 4>(d, settings, source ? source->data() : nullptr,
                                             out.data());
        Pixel reference = {9, 9, 9, 9};
        R::outputPixel(d, colour[0], colour[1], colour[2], 3.0, R::componentByte, 4,
                       source ? source->data() : nullptr, reference.data());
        EXPECT_EQ(out, reference) << "d " << d;
        return out;
    };
    // 0.5 × 255 = 127.5 is truncated, not rounded.
    EXPECT_EQ(render(1.0f, {1, 0.5, 0}, nullptr), (Pixel{255, 127, 0, 255}));

    // sa = 128/255, oa = 1, A = 1; the red sum is 126.99999 in single precision.
    const Pixel blueHalf = {0, 0, 255, 128};
    EXPECT_EQ(render(1.0f, {1, 0, 0}, &blueHalf), (Pixel{126, 0, 128, 255}));

    // A transparent source leaves the outline pixel as it is.
    const Pixel transparent = {200, 200, 200, 0};
    EXPECT_EQ(render(1.0f, {1, 0.5, 0}, &transparent), (Pixel{255, 127, 0, 255}));

    // A transformed value that is not a number gives a zero pixel, source or not.
    EXPECT_EQ(render(notANumber, {1, 1, 1}, &blueHalf), (Pixel{0, 0, 0, 0}));
    EXPECT_EQ(render(notANumber, {1, 1, 1}, nullptr), (Pixel{0, 0, 0, 0}));

    // Inside: the source, or zero without one.
    EXPECT_EQ(render(inside, {1, 1, 1}, &blueHalf), blueHalf);
    EXPECT_EQ(render(inside, {1, 1, 1}, nullptr), (Pixel{0, 0, 0, 0}));
}

// ---------------------------------------------------------------------------------------------
// Chamfer transform
// ---------------------------------------------------------------------------------------------

// Shortest 8-neighbour path lengths (steps 1 and 1.414) from any edge element, through interior
// elements only (the border ring is never updated, so no path passes through it).
std::vector<double> shortestPaths(const std::vector<float>& field, int width, int height) {
    const double unreachable = std::numeric_limits<double>::infinity();
    std::vector<double> distance(field.size(), unreachable);
    using Entry = std::pair<double, int>;
    std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
    for (std::size_t e = 0; e < field.size(); ++e) {
        if (field[e] == edge) {
            distance[e] = 0.0;
            queue.push({0.0, static_cast<int>(e)});
        }
    }
    while (!queue.empty()) {
        const auto [d, e] = queue.top();
        queue.pop();
        if (d > distance[e]) {
            continue;
        }
        const int i = e % width;
        const int j = e / width;
        for (int dj = -1; dj <= 1; ++dj) {
            for (int di = -1; di <= 1; ++di) {
                const int ni = i + di;
                const int nj = j + dj;
                if ((di == 0 && dj == 0) || ni < 1 || nj < 1 || ni > width - 2 || nj > height - 2) {
                    continue;
                }
                const double step = (di != 0 && dj != 0) ? 1.414 : 1.0;
                const int n = nj * width + ni;
                if (d + step < distance[n]) {
                    distance[n] = d + step;
                    queue.push({distance[n], n});
                }
            }
        }
    }
    return distance;
}

TEST(OutlineChamferTransform, InteriorIsTheShortestEightNeighbourPath) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> size(3, 24);
    for (int trial = 0; trial < 200; ++trial) {
        const int width = size(random);
        const int height = size(random);
        // Edge elements on the border ring are left out: a path from one of them may need to run
        // along the ring, which the two passes never update, so there the transform is longer
        // than the shortest path. The bit-exact comparison with the reference covers that case.
        std::vector<float> field = randomField(random, width, height, false);
        for (int j = 0; j < height; ++j) {
            for (int i = 0; i < width; ++i) {
                if (i == 0 || j == 0 || i == width - 1 || j == height - 1) {
                    field[static_cast<std::size_t>(j) * width + i] = far;
                }
            }
        }
        const std::vector<float> result = chamfer(field, width, height);
        const std::vector<double> paths = shortestPaths(field, width, height);
        for (int j = 0; j < height; ++j) {
            for (int i = 0; i < width; ++i) {
                const std::size_t e = static_cast<std::size_t>(j) * width + i;
                SCOPED_TRACE(testing::Message() << "trial " << trial << " " << width << "x"
                                                << height << " at " << i << "," << j);
                const bool border = i == 0 || j == 0 || i == width - 1 || j == height - 1;
                if (border || std::isinf(paths[e])) {
                    ASSERT_EQ(result[e], field[e]);
                } else {
                    ASSERT_NEAR(result[e], paths[e], 1e-5 * (1.0 + paths[e]));
                }
            }
        }
    }
}

TEST(OutlineChamferTransform, NarrowFieldsAreLeftAsTheyAre) {
    const std::pair<int, int> sizes[] = {{2, 9}, {9, 2}, {1, 1}, {2, 2}};
    for (const auto& [width, height] : sizes) {
        std::vector<float> field(static_cast<std::size_t>(width) * height, far);
        field[0] = inside;
        field[field.size() - 1] = edge;
        EXPECT_EQ(chamfer(field, width, height), field) << width << "x" << height;
    }
    K::chamferTransform(nullptr, 0, 0);
    K::chamferTransform(nullptr, -3, 5);
}

// ---------------------------------------------------------------------------------------------
// Separable transform and lower envelope
// ---------------------------------------------------------------------------------------------

// For a field of edge and far elements: √ of the integer squared distance to the nearest edge
// element, in single precision.
std::vector<float> euclideanDistances(const std::vector<float>& field, int width, int height) {
    std::vector<std::pair<int, int>> edges;
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            if (field[static_cast<std::size_t>(j) * width + i] == edge) {
                edges.push_back({i, j});
            }
        }
    }
    std::vector<float> distance(field.size(), far);
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            std::int64_t nearest = -1;
            for (const auto& [ei, ej] : edges) {
                const std::int64_t dx = i - ei;
                const std::int64_t dy = j - ej;
                const std::int64_t squared = dx * dx + dy * dy;
                if (nearest < 0 || squared < nearest) {
                    nearest = squared;
                }
            }
            if (nearest >= 0) {
                distance[static_cast<std::size_t>(j) * width + i] =
                    std::sqrt(static_cast<float>(nearest));
            }
        }
    }
    return distance;
}

TEST(OutlineSeparableTransform, EdgeFieldsGiveTheExactEuclideanDistance) {
    std::mt19937 random(5678);
    std::uniform_int_distribution<int> size(1, 40);
    for (int trial = 0; trial < 300; ++trial) {
        const int width = size(random);
        const int height = size(random);
        std::vector<float> field = randomField(random, width, height, false);
        const std::vector<float> result = separable(field, width, height);
        const std::vector<float> expected = euclideanDistances(field, width, height);
        const long at = firstDifference(result, expected);
        ASSERT_EQ(at, -1) << "trial " << trial << " " << width << "x" << height << ": "
                          << result[at] << " instead of " << expected[at];
    }
}

TEST(OutlineSeparableTransform, FieldWithoutEdgesStaysFar) {
    const std::vector<float> field(6 * 4, far);
    EXPECT_EQ(separable(field, 6, 4), field);
    K::separableTransform(nullptr, 0, 4);
    K::separableTransform(nullptr, 4, 0);
}

TEST(OutlineSeparableTransform, ColumnsTallerThan46340Rows) {
    // Positions beyond 46340 have squares beyond 32 bits. The edges lie far apart so that the
    // envelope's single-precision boundaries can still tell the nearest one.
    const int height = 50000;
    for (const std::vector<int>& edgeRows : {std::vector<int>{0}, std::vector<int>{height - 1},
                                             std::vector<int>{0, 30000, height - 1}}) {
        std::vector<float> field(height, far);
        for (int row : edgeRows) {
            field[row] = edge;
        }
        const std::vector<float> result = separable(field, 1, height);
        const std::vector<float> expected = euclideanDistances(field, 1, height);
        const long at = firstDifference(result, expected);
        ASSERT_EQ(at, -1) << "row " << at << ": " << result[at] << " instead of " << expected[at];
    }
    // Three columns with an inside element, against the reference.
    std::vector<float> field(3 * static_cast<std::size_t>(height), far);
    field[1] = inside;
    field[3 * (height - 2) + 2] = edge;
    std::vector<float> reference = field;
    R::separable(reference, 3, height);
    EXPECT_EQ(firstDifference(separable(field, 3, height), reference), -1);
}

TEST(OutlineSeparableTransform, RowAndColumnRangesOnThreadsGiveTheWholeTransform) {
    std::mt19937 random(91);
    const int width = 53;
    const int height = 37;
    const std::vector<float> field = randomField(random, width, height, true);
    const std::vector<float> whole = separable(field, width, height);

    std::vector<float> split = field;
    const int rowCut = 11;
    std::thread top([&] { K::separableRowPass(split.data(), width, 0, rowCut); });
    std::thread bottom([&] { K::separableRowPass(split.data(), width, rowCut, height); });
    top.join();
    bottom.join();
    // Ranges that do not fall on the pass's blocks of columns, and scratch made too small.
    const int columnCuts[] = {0, 5, 23, 24, width};
    std::vector<std::thread> columns;
    for (int c = 0; c + 1 < 5; ++c) {
        columns.emplace_back([&, c] {
            K::ColumnScratch scratch(c == 0 ? 1 : height);
            K::separableColumnPass(split.data(), width, height, columnCuts[c], columnCuts[c + 1],
                                   scratch);
        });
    }
    for (std::thread& t : columns) {
        t.join();
    }
    EXPECT_EQ(firstDifference(split, whole), -1);

    // One scratch reused for ranges of fields of different heights.
    K::ColumnScratch shared;
    std::vector<float> small = field;
    K::separableRowPass(small.data(), width, 0, 7);
    K::separableColumnPass(small.data(), width, 7, 0, width, shared);
    std::vector<float> expectedSmall(field.begin(), field.begin() + 7 * width);
    K::separableTransform(expectedSmall.data(), width, 7);
    EXPECT_EQ(firstDifference(std::vector<float>(small.begin(), small.begin() + 7 * width),
                              expectedSmall),
              -1);
    std::vector<float> again = field;
    K::separableRowPass(again.data(), width, 0, height);
    K::separableColumnPass(again.data(), width, height, 0, width, shared);
    EXPECT_EQ(firstDifference(again, whole), -1);
}

TEST(OutlineSeparableTransform, InsideElementsStayInsideAndNothingElseIsNegative) {
    std::mt19937 random(4242);
    std::uniform_int_distribution<int> size(1, 30);
    for (int trial = 0; trial < 100; ++trial) {
        const int width = size(random);
        const int height = size(random);
        const std::vector<float> field = randomField(random, width, height, true);
        const std::vector<float> result = separable(field, width, height);
        for (std::size_t e = 0; e < field.size(); ++e) {
            if (field[e] == inside) {
                ASSERT_EQ(result[e], inside) << "trial " << trial << " element " << e;
            } else {
                ASSERT_GE(result[e], 0.0f) << "trial " << trial << " element " << e;
            }
        }
    }
}

std::vector<float> envelope(const std::vector<float>& f) {
    std::vector<float> g(f.size(), -7.0f);
    std::vector<int> positions(f.size());
    std::vector<float> boundaries(f.size() + 1);
    K::lowerEnvelope(f.data(), g.data(), static_cast<int>(f.size()), positions.data(),
                     boundaries.data());
    return g;
}

TEST(OutlineLowerEnvelope, IsTheSmallestParabolaAtEveryPosition) {
    std::mt19937 random(77);
    std::uniform_int_distribution<int> length(1, 60);
    std::uniform_int_distribution<int> value(0, 400);
    for (int trial = 0; trial < 500; ++trial) {
        std::vector<float> f(static_cast<std::size_t>(length(random)));
        for (float& x : f) {
            const int v = value(random);
            x = v > 300 ? 1e20f : static_cast<float>(v);  // squared far rows included
        }
        const std::vector<float> g = envelope(f);
        for (std::size_t q = 0; q < f.size(); ++q) {
            float smallest = std::numeric_limits<float>::infinity();
            for (std::size_t p = 0; p < f.size(); ++p) {
                const float dq = static_cast<float>(q) - static_cast<float>(p);
                smallest = std::min(smallest, dq * dq + f[p]);
            }
            ASSERT_EQ(g[q], smallest) << "trial " << trial << " q " << q;
        }
        ASSERT_EQ(g, R::lowerEnvelope(f)) << "trial " << trial;
    }
}

TEST(OutlineLowerEnvelope, ValuesBeyondTheBoundsKeepItWithinItsArrays) {
    // A parabola below the first one even at the lower bound would walk the search off the front
    // of the scratch arrays; it takes the first one's place instead.
    EXPECT_EQ(envelope({1e30f, 0.0f}), (std::vector<float>{1.0f, 0.0f}));
    EXPECT_EQ(envelope({infinity, 0.0f, infinity}), (std::vector<float>{1.0f, 0.0f, 1.0f}));
    EXPECT_EQ(envelope({0.0f, -infinity}), (std::vector<float>{-infinity, -infinity}));
    EXPECT_EQ(R::lowerEnvelope({1e30f, 0.0f}), (std::vector<float>{1.0f, 0.0f}));
    EXPECT_EQ(envelope({}), std::vector<float>{});
    EXPECT_EQ(envelope({5.0f}), std::vector<float>{5.0f});
}

// ---------------------------------------------------------------------------------------------
// Output rule for every pixel type
// ---------------------------------------------------------------------------------------------

template <class PIX, int N, int TYPE>
struct PixelKind {
    using Pix = PIX;
    static constexpr int components = N;
    static constexpr int componentType = TYPE;
    static constexpr double max = K::PixelTraits<PIX>::maxValue;
};

using PixelKinds = ::testing::Types<
    PixelKind<unsigned char, 4, R::componentByte>, PixelKind<unsigned short, 4, R::componentShort>,
    PixelKind<float, 4, R::componentFloat>, PixelKind<unsigned char, 1, R::componentByte>,
    PixelKind<unsigned short, 1, R::componentShort>, PixelKind<float, 1, R::componentFloat>>;

template <class Kind>
class OutlineOutputRule : public ::testing::Test {
protected:
    using Pix = typename Kind::Pix;
    static constexpr int n = Kind::components;
    using Pixel = std::array<Pix, n>;

    // Runs the output rule on the kernel and on the reference, expects the same bytes, and
    // returns the kernel's pixel as doubles.
    static std::vector<double> render(float d, double width, std::array<double, 3> colour,
                                      const Pixel* source) {
        const K::OutputSettings settings =
            K::makeOutputSettings<Pix>(colour[0], colour[1], colour[2], width);
        Pixel out;
        out.fill(Pix(3));
        K::applyOutputRule<Pix, n>(d, settings, source ? source->data() : nullptr, out.data());
        Pixel reference;
        reference.fill(Pix(3));
        R::outputPixel(d, colour[0], colour[1], colour[2], width, Kind::componentType, n,
                       source ? source->data() : nullptr, reference.data());
        EXPECT_EQ(std::memcmp(out.data(), reference.data(), sizeof(Pixel)), 0)
            << "kernel and reference differ at d " << d;
        return std::vector<double>(out.begin(), out.end());
    }

    static std::vector<double> zero() { return std::vector<double>(n, 0.0); }

    // A pixel from component values in 0..1 of the maximum (truncated for integer types).
    static Pixel pixel(std::array<double, 4> unit) {
        Pixel p{};
        for (int c = 0; c < n; ++c) {
            p[c] = static_cast<Pix>(unit[n == 1 ? 3 : c] * Kind::max);
        }
        return p;
    }
};

// Readable names for the typed tests: Byte4, Short4, Float4, Byte1, Short1, Float1.
struct PixelKindNames {
    template <class Kind>
    static std::string GetName(int) {
        const char* const types[] = {"Byte", "Short", "Float"};
        return types[Kind::componentType] + std::to_string(Kind::components);
    }
};

TYPED_TEST_SUITE(OutlineOutputRule, PixelKinds, PixelKindNames);

TYPED_TEST(OutlineOutputRule, InsideCopiesTheSourceOrWritesZero) {
    using T = TestFixture;
    const typename T::Pixel source = T::pixel({0.2, 0.4, 0.6, 0.8});
    const std::vector<double> copy(source.begin(), source.end());
    for (float d : {inside, -1.0f, -0.586f, -1e-30f}) {
        EXPECT_EQ(T::render(d, 3.0, {1, 1, 1}, &source), copy) << d;
        EXPECT_EQ(T::render(d, 3.0, {1, 1, 1}, nullptr), T::zero()) << d;
    }
}

TYPED_TEST(OutlineOutputRule, NothingIsDrawnBeyondTheWidth) {
    using T = TestFixture;
    const typename T::Pixel source = T::pixel({0.2, 0.4, 0.6, 0.8});
    for (float d : {std::nextafter(3.0f, 4.0f), 4.0f, far, notANumber}) {
        EXPECT_EQ(T::render(d, 3.0, {1, 1, 1}, &source), T::zero()) << d;
        EXPECT_EQ(T::render(d, 3.0, {1, 1, 1}, nullptr), T::zero()) << d;
    }
    // A NaN width draws nothing; a negative one leaves only inside pixels.
    EXPECT_EQ(T::render(0.0f, std::nan(""), {1, 1, 1}, nullptr), T::zero());
    EXPECT_EQ(T::render(0.0f, -1.0, {1, 1, 1}, nullptr), T::zero());
}

TYPED_TEST(OutlineOutputRule, CoverageFallsOffOverTheLastUnitAndIsTruncated) {
    using T = TestFixture;
    const double max = TypeParam::max;
    auto alpha = [](const std::vector<double>& p) { return p.back(); };
    EXPECT_EQ(alpha(T::render(0.0f, 3.0, {1, 1, 1}, nullptr)), max);
    EXPECT_EQ(alpha(T::render(2.0f, 3.0, {1, 1, 1}, nullptr)), max);
    // Half coverage: 127.5 and 32767.5 truncate to 127 and 32767.
    const double half = std::is_same_v<typename T::Pix, float> ? 0.5 : std::floor(max / 2);
    EXPECT_EQ(alpha(T::render(2.5f, 3.0, {1, 1, 1}, nullptr)), half);
    EXPECT_EQ(alpha(T::render(0.0f, 0.5, {1, 1, 1}, nullptr)), half);
    EXPECT_EQ(T::render(3.0f, 3.0, {1, 1, 1}, nullptr), T::zero());
    // An infinite width covers every non-negative value fully.
    EXPECT_EQ(alpha(T::render(1e9f, 1e40, {1, 1, 1}, nullptr)), max);
}

TYPED_TEST(OutlineOutputRule, ColourIsScaledLimitedAndTruncated) {
    using T = TestFixture;
    if constexpr (T::n == 4) {
        const double max = TypeParam::max;
        const double half = std::is_same_v<typename T::Pix, float> ? 0.5 : std::floor(max / 2);
        EXPECT_EQ(T::render(1.0f, 3.0, {2.0, -1.0, 0.5}, nullptr),
                  (std::vector<double>{max, 0, half, max}));
        EXPECT_EQ(T::render(1.0f, 3.0, {1e30, -1e30, 1.0}, nullptr),
                  (std::vector<double>{max, 0, max, max}));
        // A colour that is not a number has no place in the range: 0.
        EXPECT_EQ(T::render(1.0f, 3.0, {std::nan(""), 1.0, 0.0}, nullptr),
                  (std::vector<double>{0, max, 0, max}));
        // The colour's share of a partly covered pixel is truncated too.
        EXPECT_EQ(T::render(2.5f, 3.0, {1.0, 1.0, 0.0}, nullptr),
                  (std::vector<double>{half, half, 0, half}));
    } else {
        // Alpha-only pixels carry the coverage alone, whatever the colour.
        EXPECT_EQ(T::render(1.0f, 3.0, {2.0, -1.0, std::nan("")}, nullptr),
                  (std::vector<double>{TypeParam::max}));
    }
}

TYPED_TEST(OutlineOutputRule, SourceIsCompositedWithTheCoverageCountedTwice) {
    using T = TestFixture;
    const double max = TypeParam::max;
    const typename T::Pixel source = T::pixel({0.0, 0.0, 1.0, 0.5});
    // Red outline at coverage 0.5 under a half-transparent blue source: sa = oa = inv = 0.5 and
    // A = 0.75. The outline's red, already 0.5, is weighted by oa again: 0.125 / 0.75 = 1/6 of
    // the maximum, not the 1/3 a single entry of the coverage would give.
    const std::vector<double> out = T::render(2.5f, 3.0, {1, 0, 0}, &source);
    if constexpr (T::n == 4) {
        const double unit = std::is_same_v<typename T::Pix, float> ? 1e-6 : 2.0;
        EXPECT_NEAR(out[0], max / 6, unit);
        EXPECT_EQ(out[1], 0);
        EXPECT_NEAR(out[2], max * 2 / 3, unit);
        EXPECT_NEAR(out[3], max * 0.75, unit);
    } else {
        EXPECT_EQ(out, (std::vector<double>{
                           std::is_same_v<typename T::Pix, float> ? 0.5 : std::floor(max / 2)}));
    }
    // A fully covered outline under an opaque source gives the source.
    const typename T::Pixel opaque = T::pixel({0.25, 0.5, 0.75, 1.0});
    EXPECT_EQ(T::render(0.0f, 3.0, {1, 0, 0}, &opaque),
              std::vector<double>(opaque.begin(), opaque.end()));
}

TYPED_TEST(OutlineOutputRule, TransparentSourceLeavesTheOutlinePixel) {
    using T = TestFixture;
    const std::vector<double> alone = T::render(2.5f, 3.0, {1, 0.5, 0.25}, nullptr);
    std::vector<typename T::Pixel> transparent = {T::pixel({1, 1, 1, 0})};
    if constexpr (std::is_same_v<typename T::Pix, float>) {
        transparent.push_back({});
        transparent.back().fill(-0.5f);
        transparent.push_back({});
        transparent.back().fill(notANumber);
    }
    for (const typename T::Pixel& source : transparent) {
        EXPECT_EQ(T::render(2.5f, 3.0, {1, 0.5, 0.25}, &source), alone);
    }
}

TYPED_TEST(OutlineOutputRule, MatchesTheReferenceOnRandomPixels) {
    using T = TestFixture;
    using Component = typename T::Pix;
    std::mt19937 random(2024 + T::n);
    std::uniform_real_distribution<double> unit(-0.2, 1.2);
    std::uniform_real_distribution<float> distance(-3.0f, 8.0f);
    std::uniform_int_distribution<int> pick(0, 9);
    const float unusualValues[] = {inside, 0.0f, notANumber, far, 1.0f, 2.0f};
    for (int trial = 0; trial < 4000; ++trial) {
        const double width = pick(random) < 2 ? 0.5 : 0.25 + 6.0 * (unit(random) + 0.2);
        const std::array<double, 3> colour = {unit(random), unit(random), unit(random)};
        float d = distance(random);
        if (pick(random) < 3) {
            d = unusualValues[pick(random) % 6];
        } else if (pick(random) < 3) {
            d = static_cast<float>(width) - 0.5f * (d / 8.0f);  // near the falloff
        }
        typename T::Pixel source{};
        for (Component& c : source) {
            const double u = unit(random);
            c = std::is_same_v<Component, float>
                    ? static_cast<Component>(u)
                    : static_cast<Component>(std::clamp(u, 0.0, 1.0) * TypeParam::max);
        }
        if (pick(random) == 0) {
            source.back() = Component(0);
        }
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        T::render(d, width, colour, pick(random) < 2 ? nullptr : &source);
    }
}

TYPED_TEST(OutlineOutputRule, RowFormMatchesPixelByPixel) {
    using T = TestFixture;
    using Component = typename T::Pix;
    const K::OutputSettings settings = K::makeOutputSettings<Component>(0.3, 0.6, 0.9, 2.5);
    const std::vector<float> d = {inside, 0.0f, 1.0f, 1.7f, 2.2f, 2.5f, 3.0f, far, notANumber};
    std::vector<Component> source(d.size() * T::n);
    for (std::size_t k = 0; k < source.size(); ++k) {
        source[k] = static_cast<Component>((k % 5) * 0.25 * TypeParam::max);
    }
    const Component* const sources[] = {nullptr, source.data()};
    for (const Component* src : sources) {
        std::vector<Component> row(source.size(), Component(1));
        std::vector<Component> single(source.size(), Component(1));
        K::applyOutputRuleRow<Component, T::n>(d.data(), static_cast<int>(d.size()), settings, src,
                                               row.data());
        for (std::size_t k = 0; k < d.size(); ++k) {
            K::applyOutputRule<Component, T::n>(d[k], settings, src ? src + k * T::n : nullptr,
                                                single.data() + k * T::n);
        }
        EXPECT_EQ(std::memcmp(row.data(), single.data(), row.size() * sizeof(Component)), 0);
    }
}

// ---------------------------------------------------------------------------------------------
// The kernel against the independent reference
// ---------------------------------------------------------------------------------------------

TEST(ReferenceOutlineCrossCheck, TransformsAgreeToTheBit) {
    std::mt19937 random(31337);
    std::uniform_int_distribution<int> size(1, 48);
    for (int trial = 0; trial < 300; ++trial) {
        const int width = trial % 10 == 0 ? 1 : size(random);
        const int height = trial % 10 == 5 ? 1 : size(random);
        const std::vector<float> field = randomField(random, width, height, true);
        std::vector<float> reference = field;
        R::chamfer(reference, width, height);
        const long chamferAt = firstDifference(chamfer(field, width, height), reference);
        ASSERT_EQ(chamferAt, -1) << "chamfer, trial " << trial;
        reference = field;
        R::separable(reference, width, height);
        const long separableAt = firstDifference(separable(field, width, height), reference);
        ASSERT_EQ(separableAt, -1) << "separable, trial " << trial;
    }
}

// A full-frame render composed from the kernel's pieces, the way a processor uses them.
template <class PIX, int N>
void kernelRender(const R::Image& source, const R::Image& destination, const OfxRectI& window,
                  int quality, double widthPixels, std::array<double, 3> colour) {
    const OfxRectI bounds = destination.bounds;
    const int width = bounds.x2 - bounds.x1;
    const int height = bounds.y2 - bounds.y1;
    std::vector<float> field(static_cast<std::size_t>(width) * height);
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            const auto* pixel =
                static_cast<const PIX*>(R::pixelAddress(source, bounds.x1 + i, bounds.y1 + j));
            field[static_cast<std::size_t>(j) * width + i] =
                pixel ? K::classifyAlpha<PIX>(pixel[N - 1]) : far;
        }
    }
    if (quality == 0) {
        K::chamferTransform(field.data(), width, height);
    } else {
        K::separableTransform(field.data(), width, height);
    }
    const K::OutputSettings settings =
        K::makeOutputSettings<PIX>(colour[0], colour[1], colour[2], widthPixels);
    for (int y = window.y1; y < window.y2; ++y) {
        for (int x = window.x1; x < window.x2; ++x) {
            const std::size_t e = static_cast<std::size_t>(y - bounds.y1) * width + (x - bounds.x1);
            K::applyOutputRule<PIX, N>(field[e], settings,
                                       static_cast<const PIX*>(R::pixelAddress(source, x, y)),
                                       static_cast<PIX*>(R::pixelAddress(destination, x, y)));
        }
    }
}

template <class PIX, int N>
void checkRenders(int componentType) {
    std::mt19937 random(99 + componentType * 10 + N);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 12; ++trial) {
        const OfxRectI sourceBounds = {-7, 3, 33, 29};
        const OfxRectI destinationBounds = {-12, -1, 37, 35};
        const OfxRectI window = {-10, 2, 30, 33};
        R::OwnedImage source(sourceBounds, componentType, N, trial % 2 == 0);
        // Soft discs of random colour: coverage from far through edge to inside.
        const double cx = 13 + unit(random) * 6;
        const double cy = 15 + unit(random) * 6;
        const double radius = 3 + unit(random) * 8;
        for (int y = sourceBounds.y1; y < sourceBounds.y2; ++y) {
            for (int x = sourceBounds.x1; x < sourceBounds.x2; ++x) {
                PIX* p = static_cast<PIX*>(R::pixelAddress(source.view, x, y));
                const double coverage = std::clamp(radius - std::hypot(x - cx, y - cy), 0.0, 1.0);
                for (int c = 0; c < N; ++c) {
                    const double value = c == N - 1 ? coverage : unit(random) * coverage;
                    p[c] = static_cast<PIX>(value * K::PixelTraits<PIX>::maxValue);
                }
            }
        }
        const int quality = trial % 3;
        const double widthPixels = 0.5 + unit(random) * 6;
        const std::array<double, 3> colour = {unit(random), unit(random), unit(random)};
        R::OwnedImage ours(destinationBounds, componentType, N, trial % 3 == 1);
        R::OwnedImage theirs(destinationBounds, componentType, N, trial % 3 == 1);
        // Pixels outside the window keep what was there.
        std::fill(ours.storage.begin(), ours.storage.end(), 0x5a);
        std::fill(theirs.storage.begin(), theirs.storage.end(), 0x5a);
        kernelRender<PIX, N>(source.view, ours.view, window, quality, widthPixels, colour);
        R::render(&source.view, theirs.view, window, quality, widthPixels, colour[0], colour[1],
                  colour[2]);
        ASSERT_EQ(ours.storage, theirs.storage) << "trial " << trial;
        EXPECT_EQ(reinterpret_cast<unsigned char*>(R::pixelAddress(ours.view, -12, -1))[0], 0x5a);
    }
}

TEST(ReferenceOutlineCrossCheck, RendersAgreeForEveryPixelType) {
    checkRenders<unsigned char, 4>(R::componentByte);
    checkRenders<unsigned short, 4>(R::componentShort);
    checkRenders<float, 4>(R::componentFloat);
    checkRenders<unsigned char, 1>(R::componentByte);
    checkRenders<unsigned short, 1>(R::componentShort);
    checkRenders<float, 1>(R::componentFloat);
}

TEST(ReferenceOutlineCrossCheck, RenderWithoutSourceWritesNothing) {
    R::OwnedImage destination({0, 0, 4, 4}, R::componentByte, 4);
    std::fill(destination.storage.begin(), destination.storage.end(), 7);
    R::render(nullptr, destination.view, {0, 0, 4, 4}, 1, 2.0, 1, 1, 1);
    EXPECT_TRUE(std::all_of(destination.storage.begin(), destination.storage.end(),
                            [](unsigned char b) { return b == 7; }));
}

}  // namespace
