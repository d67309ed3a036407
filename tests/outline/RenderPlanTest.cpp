#include "outline/RenderPlan.h"

#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

namespace {

namespace K = OutlineKernel;

K::RenderRequest request(const K::PixelRect& field, const K::PixelRect& window, int quality,
                         float width, unsigned threads = 2) {
    K::RenderRequest r;
    r.fieldBounds = field;
    r.window = window;
    r.destinationBounds = field;
    r.quality = quality;
    r.width = width;
    r.threads = threads;
    return r;
}

TEST(ReachRule, EveryRegionFollowsFromTheRoundedUpWidth) {
    EXPECT_EQ(K::outlineReach(0.1), 1);
    EXPECT_EQ(K::outlineReach(2.5), 3);
    EXPECT_EQ(K::outlineReach(3.0), 3);
    EXPECT_EQ(K::outlineReach(-1.0), 0);
    EXPECT_EQ(K::outlineReach(std::nan("")), 0);
    EXPECT_EQ(K::outlineReach(1e300), 1 << 30);
    EXPECT_EQ(K::sourceReach(2.5), 7);
    EXPECT_EQ(K::sourceReach(-1.0), 4);
    EXPECT_EQ(K::computedMargin(2.5), 9);
    // A Draft tile computes its own region with the same margin a tile's field has.
    const K::RenderPlan draft =
        K::planRender(request({0, 0, 500, 400}, {0, 0, 500, 400}, 0, 15.0f));
    EXPECT_EQ(draft.margin, K::computedMargin(15.0));
}

TEST(RenderPlan, ChoosesThePathFromTheRectanglesTheQualityAndTheWidth) {
    const K::PixelRect field = {10, 20, 300, 200};
    auto path = [&](const K::PixelRect& window, int quality, float width,
                    const K::PixelRect& f = {10, 20, 300, 200}) {
        return K::planRender(request(f, window, quality, width)).path;
    };
    EXPECT_EQ(path({10, 20, 300, 200}, 1, 5.0f), K::RenderPath::good);
    EXPECT_EQ(path({10, 20, 300, 200}, 2, 5.0f), K::RenderPath::good);
    EXPECT_EQ(path({10, 20, 300, 200}, 0, 5.0f), K::RenderPath::draft);
    EXPECT_EQ(path({10, 20, 300, 200}, 0, 254.0f), K::RenderPath::draft);
    EXPECT_EQ(path({10, 20, 300, 200}, 0, 254.5f), K::RenderPath::wholeField);
    EXPECT_EQ(path({10, 20, 300, 200}, 1, -1.0f), K::RenderPath::wholeField);
    EXPECT_EQ(path({10, 20, 300, 200}, 1, std::nanf("")), K::RenderPath::wholeField);
    // No window row in the field, or no pixel at all: nothing. Rows but no columns: zero rows.
    EXPECT_EQ(path({10, 200, 300, 250}, 1, 5.0f), K::RenderPath::nothing);
    EXPECT_EQ(path({50, 50, 50, 90}, 1, 5.0f), K::RenderPath::nothing);
    EXPECT_EQ(path({50, 50, 90, 90}, 1, 5.0f, {0, 0, 0, 0}), K::RenderPath::nothing);
    K::RenderRequest beside = request(field, {300, 30, 340, 60}, 1, 5.0f);
    beside.destinationBounds = {0, 0, 400, 300};
    EXPECT_EQ(K::planRender(beside).path, K::RenderPath::zeroRows);
    EXPECT_EQ(K::planRender(beside).phases[0].tasks, 1);
    // Good on fields taller than the column search is exact for: the rows from about 4088 on
    // take the single-precision envelope itself, over enough rows above them.
    const K::PixelRect tall = {0, 0, 8, K::exactEnvelopeRows};
    EXPECT_EQ(K::planRender(request(tall, tall, 1, 5.0f)).envelopeRows, K::exactEnvelopeRows);
    const K::PixelRect taller = {0, 0, 8, K::exactEnvelopeRows + 500};
    const K::RenderPlan p = K::planRender(request(taller, taller, 1, 5.0f));
    EXPECT_EQ(p.path, K::RenderPath::good);
    EXPECT_LE(p.envelopeRows, K::exactEnvelopeRows - p.reach);
    EXPECT_GE(p.envelopeLookback, p.reach + 1);
    EXPECT_GE(p.envelopeSpan, taller.y2 - p.envelopeRows);
    EXPECT_EQ(path(taller, 0, 5.0f, taller), K::RenderPath::draft);
}

TEST(RenderPlan, ClipsTheWindowToTheDestinationAndTheField) {
    K::RenderRequest r = request({0, 0, 100, 80}, {-20, 10, 140, 90}, 1, 3.0f);
    r.destinationBounds = {-10, 0, 120, 85};
    const K::RenderPlan p = K::planRender(r);
    EXPECT_EQ(p.window.x1, -10);
    EXPECT_EQ(p.window.x2, 120);
    EXPECT_EQ(p.window.y2, 85);
    EXPECT_EQ(p.inner.x1, 0);
    EXPECT_EQ(p.inner.x2, 100);
    EXPECT_EQ(p.inner.y1, 10);
    EXPECT_EQ(p.inner.y2, 80);
}

TEST(RenderPlan, WholeFieldPhasesCoverTheFieldAndTheWindow) {
    for (int quality : {0, 1}) {
        const K::RenderPlan p =
            K::planRender(request({0, 0, 1000, 700}, {0, 100, 1000, 400}, quality, 300.0f, 4));
        ASSERT_EQ(p.phaseCount, 3);
        EXPECT_EQ(p.phases[0].tasks * p.taskRows >= 700, true);
        EXPECT_EQ(p.phases[1].tasks, quality == 0 ? 1 : (1000 + p.taskColumns - 1) / p.taskColumns)
            << "the chamfer transform is one serial task";
        EXPECT_GE(p.phases[2].tasks * p.taskRows, 300);
        EXPECT_LE(p.threads, 4u);
    }
}

// Whatever the request, the tiles cover the pixels the output rule gives exactly once, the
// scratch holds every tile, and no more threads get scratch than can have a tile.
TEST(RenderPlan, TilesCoverTheInnerWindowExactlyOnceWithinTheirScratch) {
    std::mt19937 random(20261209);
    auto uniform = [&](int lo, int hi) {
        return std::uniform_int_distribution<int>(lo, hi)(random);
    };
    for (int n = 0; n < 400; ++n) {
        K::PixelRect field;
        field.x1 = uniform(-300, 300);
        field.y1 = uniform(-300, 300);
        field.x2 = field.x1 + uniform(1, 3000);
        field.y2 = field.y1 + uniform(1, 1500);
        K::PixelRect window = {field.x1 + uniform(-50, 200), field.y1 + uniform(-50, 200), 0, 0};
        window.x2 = window.x1 + uniform(1, 3000);
        window.y2 = window.y1 + uniform(1, 1500);
        const int quality = uniform(0, 1);
        const float width = n % 7 == 0 ? float(uniform(1, 254)) : float(uniform(1, 400)) / 10.0f;
        K::RenderRequest r = request(field, window, quality, width, unsigned(uniform(1, 8)));
        if (n % 3 == 0) {
            r.units = {uniform(0, 500), uniform(0, 9), uniform(0, 300)};
        }
        const K::RenderPlan p = K::planRender(r);
        SCOPED_TRACE(testing::Message() << "request " << n);
        if (p.path != K::RenderPath::good && p.path != K::RenderPath::draft) {
            continue;
        }
        ASSERT_EQ(p.phaseCount, 1);
        const int tasks = p.phases[0].tasks;
        ASSERT_EQ(tasks, p.stripes * p.bands);
        EXPECT_GE(p.threads, 1u);
        EXPECT_LE(p.threads, std::min(r.threads, unsigned(tasks)));
        const int w = p.inner.x2 - p.inner.x1;
        const int h = p.inner.y2 - p.inner.y1;
        std::vector<unsigned char> covered(static_cast<std::size_t>(w) * h, 0);
        for (int task = 0; task < tasks; ++task) {
            const K::Tile tile = K::tileOf(p, task);
            ASSERT_LE(tile.x2 - tile.x1, p.stripeMax);
            ASSERT_EQ(tile.first, tile.x1 == p.inner.x1);
            ASSERT_EQ(tile.last, tile.x2 == p.inner.x2);
            for (int y = tile.y1; y < tile.y2; ++y) {
                for (int x = tile.x1; x < tile.x2; ++x) {
                    ++covered[static_cast<std::size_t>(y - p.inner.y1) * w + (x - p.inner.x1)];
                }
            }
        }
        for (unsigned char c : covered) {
            ASSERT_EQ(c, 1);
        }
        EXPECT_EQ(p.stripeMax % 64, 0);
        EXPECT_EQ(p.regionMax % 64, 0);
        if (p.path == K::RenderPath::good) {
            EXPECT_EQ(p.ringRows, 2 * p.reach + 1);
            EXPECT_GE(p.regionMax, std::min(field.x2 - field.x1, p.stripeMax));
        } else {
            EXPECT_EQ(p.blockRows % p.lanes, 0);
            // A block, the margin below it, and the bands the forward pass runs ahead.
            EXPECT_GE(p.ringRows, p.blockRows + p.margin + 2 * p.lanes);
        }
    }
}

TEST(RenderPlan, SharesTilesEvenlyAndKeepsOneThreadWhole) {
    const K::PixelRect frame = {0, 0, 1920, 1080};
    for (int quality : {0, 1}) {
        const K::RenderPlan one = K::planRender(request(frame, frame, quality, 15.0f, 1));
        EXPECT_EQ(one.bands, 1);
        EXPECT_EQ(one.threads, 1u);
        const K::RenderPlan two = K::planRender(request(frame, frame, quality, 15.0f, 2));
        EXPECT_EQ(two.phases[0].tasks % 2, 0) << "quality " << quality;
        EXPECT_GE(two.phases[0].tasks, 4);
        EXPECT_EQ(two.threads, 2u);
        // Forced units win.
        K::RenderRequest forced = request(frame, frame, quality, 15.0f, 2);
        forced.units = {128, 5, 64};
        const K::RenderPlan f = K::planRender(forced);
        EXPECT_EQ(f.stripeWidth, 128);
        EXPECT_EQ(f.stripes, 15);
        EXPECT_EQ(f.bands, 5);
        if (quality == 0) {
            EXPECT_EQ(f.blockRows, 64);
        }
    }
}

}  // namespace
