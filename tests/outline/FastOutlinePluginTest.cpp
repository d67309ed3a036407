#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Image.h"
#include "host/Tiling.h"
#include "ofx/ImageEffect.h"
#include "outline/FastOutlinePlugin.h"
#include "outline/OutlineProcessors.h"
#include "outline/RenderPlan.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/OutlineImages.h"
#include "tests/support/ReferenceOutline.h"

namespace {

using zarvel::test::compareImages;
using zarvel::test::fillBytes;
using zarvel::test::OutlinePixelType;
using zarvel::test::OutlinePixelTypeNames;
using zarvel::test::OutlinePixelTypes;
using zarvel::test::referenceView;
using zarvel::test::thrownBy;
using zarvel::test::untouchedOutside;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

constexpr unsigned char untouched = 0xA5;
const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

OfxRectD canonical(const OfxRectI& rect, double scale = 1.0) {
    return {rect.x1 / scale, rect.y1 / scale, rect.x2 / scale, rect.y2 / scale};
}

// Pixels a host covers for a canonical region at `scale`: rounded outwards.
OfxRectI pixels(const OfxRectD& rect, double scale = 1.0) {
    return {int(std::floor(rect.x1 * scale)), int(std::floor(rect.y1 * scale)),
            int(std::ceil(rect.x2 * scale)), int(std::ceil(rect.y2 * scale))};
}

std::string text(const OfxRectD& rect) {
    std::ostringstream out;
    out << rect.x1 << ", " << rect.y1 << ", " << rect.x2 << ", " << rect.y2;
    return out.str();
}

class CapturedRegion final : public OFX::RegionOfInterestSetter {
public:
    void setRegionOfInterest(const OFX::Clip& clip, const OfxRectD& region) override {
        clips.push_back(clip.getName());
        last = region;
    }
    std::vector<std::string> clips;
    OfxRectD last = {0, 0, 0, 0};
};

// An outline instance on the test host; every image fetched must be released by the end.
class Plugin : public zarvel::test::LoadedHost {
protected:
    void SetUp() override {
        LoadedHost::SetUp();
        plugin = std::make_unique<FastOutlinePlugin>(hostInstance.handle());
        host.calls().resetCounts();
    }

    void TearDown() override {
        plugin.reset();
        EXPECT_EQ(host.imagesOutstanding(), 0u) << "every image fetched must be released";
        EXPECT_EQ(host.imagesFetched(), host.imagesReleased());
        EXPECT_EQ(host.badImageReleases(), 0u);
    }

    OfxRectD regionOfDefinition() {
        OFX::RegionOfDefinitionArguments args;
        OfxRectD rod = {0, 0, 0, 0};
        EXPECT_TRUE(plugin->onGetRegionOfDefinition(args, rod));
        return rod;
    }

    OfxRectD regionOfInterest(const OfxRectD& region, double scale = 1.0) {
        OFX::RegionsOfInterestArguments args;
        args.regionOfInterest = region;
        args.renderScale = {scale, scale};
        CapturedRegion setter;
        plugin->onGetRegionsOfInterest(args, setter);
        EXPECT_EQ(setter.clips, std::vector<std::string>{"Source"});
        return setter.last;
    }

    void render(const OfxRectI& window) {
        OFX::RenderArguments args;
        args.renderWindow = window;
        plugin->onRender(args);
    }

    // Renders the whole frame at render scale 1: the output image covers the effect's region of
    // definition, and so does the window.
    std::shared_ptr<ZarvelHost::Image> renderFullFrame(std::shared_ptr<ZarvelHost::Image> source) {
        hostInstance.source().setImage(source);
        const OfxRectI frame = pixels(regionOfDefinition());
        auto output =
            hostInstance.output().allocateImage(frame, source->depth(), source->components());
        render(frame);
        return output;
    }

    // What a full-frame render writes, by the slow independent computation.
    std::shared_ptr<ZarvelHost::Image> referenceFullFrame(const ZarvelHost::Image& source,
                                                          const OfxRectI& frame, double width,
                                                          int quality, const double colour[3]) {
        auto expected =
            std::make_shared<ZarvelHost::Image>(frame, source.depth(), source.components());
        const ReferenceOutline::Image sourceView = referenceView(source);
        const double widthPixels = double(frame.y2 - frame.y1) / 1080.0 * width;
        ReferenceOutline::render(&sourceView, referenceView(*expected), frame, quality, widthPixels,
                                 colour[0], colour[1], colour[2]);
        return expected;
    }

    zarvel::test::OutlineHostInstance hostInstance{host};
    std::unique_ptr<FastOutlinePlugin> plugin;
};

template <class T>
class TypedPlugin : public Plugin {};

TYPED_TEST_SUITE(TypedPlugin, OutlinePixelTypes, OutlinePixelTypeNames);

// ---------------------------------------------------------------------------------------------
// Exactness
// ---------------------------------------------------------------------------------------------

TYPED_TEST(TypedPlugin, AFullFrameMatchesTheReferenceAtEveryQuality) {
    const double colour[3] = {0.2, 0.7, 1.0};
    this->hostInstance.setColor(colour[0], colour[1], colour[2], 0.3);
    for (bool soft : {false, true}) {
        auto source = std::make_shared<ZarvelHost::Image>(OfxRectI{0, 0, 48, 40}, TypeParam::depth,
                                                          TypeParam::layout);
        zarvel::test::paintShapes(*source, soft ? 21u : 22u, soft);
        for (double width : {2.5, 15.0, 30.0}) {
            this->hostInstance.setWidth(width);
            std::shared_ptr<ZarvelHost::Image> good;
            for (int quality : {0, 1, 2}) {
                SCOPED_TRACE(testing::Message()
                             << "soft " << soft << " width " << width << " quality " << quality);
                this->hostInstance.setQuality(quality);
                auto output = this->renderFullFrame(source);
                auto expected =
                    this->referenceFullFrame(*source, output->bounds(), width, quality, colour);
                EXPECT_EQ(compareImages(*output, *expected, output->bounds()), "");
                if (quality == 1) {
                    good = output;
                } else if (quality == 2) {
                    EXPECT_EQ(compareImages(*output, *good, output->bounds()), "")
                        << "Best renders as Good";
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Tiles
// ---------------------------------------------------------------------------------------------

// One frame rendered whole and in pieces: the source spans `sourceBounds` (canonical), the
// output's region of definition is the effect's, and every render asks the effect for its
// region of interest and gets the source cropped to it.
class Tiles : public Plugin {
protected:
    void prepare(PixelDepth depth, PixelComponents layout, const OfxRectI& sourceBounds,
                 unsigned seed, double scale = 1.0) {
        renderScale = scale;
        hostInstance.instance->setRenderScale({scale, scale});
        hostInstance.source().setRegionOfDefinition(canonical(sourceBounds));
        const OfxRectI sourcePixels = pixels(canonical(sourceBounds), scale);
        fullSource = std::make_shared<ZarvelHost::Image>(sourcePixels, depth, layout);
        zarvel::test::paintShapes(*fullSource, seed, seed % 2 == 0);
    }

    // Sets the width and renders the whole frame; returns the frame's pixel rectangle.
    OfxRectI renderFrame(double width, int quality) {
        hostInstance.setWidth(width);
        hostInstance.setQuality(quality);
        hostInstance.output().clearRegionOfDefinition();
        const OfxRectD frameRod = regionOfDefinition();
        hostInstance.output().setRegionOfDefinition(frameRod);
        const OfxRectI frame = pixels(frameRod, renderScale);
        full = renderPiece(frame, frame);
        return frame;
    }

    // Renders `window` into a destination with `bounds`, checks that nothing outside the window
    // was written, and returns the destination.
    std::shared_ptr<ZarvelHost::Image> renderPiece(const OfxRectI& window, const OfxRectI& bounds) {
        ZarvelHost::TileStep step;
        step.regionOfInterest = [&](const OfxRectD& region) {
            return regionOfInterest(region, renderScale);
        };
        step.render = [&](const OfxRectI& tile, ZarvelHost::Image& destination) {
            fillBytes(destination, untouched);
            render(tile);
        };
        auto output =
            ZarvelHost::renderTile(hostInstance.source(), *fullSource, hostInstance.output(),
                                   window, bounds, step, renderScale);
        EXPECT_EQ(untouchedOutside(*output, window, untouched), "");
        return output;
    }

    // Renders the frame as n × n tiles with uneven cuts, each into a destination of its own,
    // and compares every tile with the full frame.
    void compareTiles(const OfxRectI& frame, int n, bool largerBounds) {
        std::vector<int> xs = {frame.x1}, ys = {frame.y1};
        for (int k = 1; k < n; ++k) {
            xs.push_back(frame.x1 + (frame.x2 - frame.x1) * k / n + (k % 2 == 0 ? 3 : -5));
            ys.push_back(frame.y1 + (frame.y2 - frame.y1) * k / n + (k % 2 == 0 ? -7 : 2));
        }
        xs.push_back(frame.x2);
        ys.push_back(frame.y2);
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                const OfxRectI tile = {xs[i], ys[j], xs[i + 1], ys[j + 1]};
                const OfxRectI bounds =
                    largerBounds ? OutlineGeometry::intersection(
                                       {tile.x1 - 9, tile.y1 - 4, tile.x2 + 6, tile.y2 + 11}, frame)
                                 : tile;
                SCOPED_TRACE(testing::Message() << n << " x " << n << " tile " << i << ", " << j
                                                << " larger bounds " << largerBounds);
                auto piece = renderPiece(tile, bounds);
                EXPECT_EQ(compareImages(*piece, *full, tile), "");
            }
        }
    }

    double renderScale = 1.0;
    std::shared_ptr<ZarvelHost::Image> fullSource;
    std::shared_ptr<ZarvelHost::Image> full;
};

TEST_F(Tiles, FourAndNineTilesEqualTheFullFrame) {
    const struct {
        PixelDepth depth;
        PixelComponents layout;
    } types[] = {{PixelDepth::Byte, PixelComponents::RGBA},
                 {PixelDepth::Float, PixelComponents::Alpha}};
    for (const auto& type : types) {
        prepare(type.depth, type.layout, {0, 0, 120, 1000}, 31);
        for (double width : {0.1, 2.5, 15.0, 20.0}) {
            for (int quality : {0, 1}) {
                SCOPED_TRACE(testing::Message() << "width " << width << " quality " << quality);
                const OfxRectI frame = renderFrame(width, quality);
                compareTiles(frame, 2, false);
                compareTiles(frame, 3, false);
                compareTiles(frame, 3, true);
            }
        }
    }
}

TEST_F(Tiles, RandomWindowsEqualTheFullFrameAtEveryScale) {
    std::mt19937 random(5);
    for (double scale : {1.0, 0.5}) {
        prepare(PixelDepth::Short, PixelComponents::RGBA, {0, 0, 96, 220}, scale == 1.0 ? 40 : 41,
                scale);
        for (int round = 0; round < 4; ++round) {
            const double width = std::uniform_real_distribution<double>(0.0, 25.0)(random);
            for (int quality : {0, 1}) {
                const OfxRectI frame = renderFrame(width, quality);
                for (int k = 0; k < 6; ++k) {
                    std::uniform_int_distribution<int> x(frame.x1, frame.x2 - 1);
                    std::uniform_int_distribution<int> y(frame.y1, frame.y2 - 1);
                    int x1 = x(random), x2 = x(random), y1 = y(random), y2 = y(random);
                    const OfxRectI window = {std::min(x1, x2), std::min(y1, y2),
                                             std::max(x1, x2) + 1, std::max(y1, y2) + 1};
                    const OfxRectI bounds = k % 2 == 0 ? window : frame;
                    SCOPED_TRACE(testing::Message()
                                 << "scale " << scale << " width " << width << " quality "
                                 << quality << " window " << window.x1 << ", " << window.y1 << ", "
                                 << window.x2 << ", " << window.y2);
                    auto piece = renderPiece(window, bounds);
                    EXPECT_EQ(compareImages(*piece, *full, window), "");
                }
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Threads
// ---------------------------------------------------------------------------------------------

TEST_F(Plugin, EveryThreadCountGivesTheSamePixels) {
    auto source = std::make_shared<ZarvelHost::Image>(OfxRectI{0, 0, 64, 50}, PixelDepth::Float,
                                                      PixelComponents::RGBA);
    zarvel::test::paintShapes(*source, 9, true);
    hostInstance.setWidth(40.0);
    for (int quality : {0, 1}) {
        hostInstance.setQuality(quality);
        host.setCpuCount(1);
        auto first = renderFullFrame(source);
        for (bool serial : {false, true}) {
            for (unsigned cpus : {2u, 3u, 8u}) {
                SCOPED_TRACE(testing::Message()
                             << "quality " << quality << " serial " << serial << " cpus " << cpus);
                host.setSerialThreads(serial);
                host.setCpuCount(cpus);
                auto output = renderFullFrame(source);
                EXPECT_EQ(compareImages(*output, *first, first->bounds()), "");
            }
        }
        host.setSerialThreads(false);
    }
}

// ---------------------------------------------------------------------------------------------
// Failures
// ---------------------------------------------------------------------------------------------

TEST_F(Plugin, AnUnsupportedOutputFetchesNothing) {
    hostInstance.output().allocateImage({0, 0, 4, 4}, PixelDepth::Byte, PixelComponents::RGBA);
    hostInstance.source().allocateImage({0, 0, 4, 4}, PixelDepth::Byte, PixelComponents::RGBA);
    const struct {
        const char* depth;
        const char* components;
    } cases[] = {{"OfxBitDepthHalf", kOfxImageComponentRGBA},
                 {kOfxBitDepthNone, kOfxImageComponentRGBA},
                 {kOfxBitDepthFloat, "OfxImageComponentRGB"},
                 {kOfxBitDepthByte, "OfxImageComponentYUVA"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.depth << " " << c.components);
        hostInstance.output().properties().setString(kOfxImageEffectPropPixelDepth, c.depth);
        hostInstance.output().properties().setString(kOfxImageEffectPropComponents, c.components);
        zarvel::test::CaptureStdout capture;
        EXPECT_EQ(thrownBy([&] { render({0, 0, 4, 4}); }), "Suite: kOfxStatErrUnsupported");
        EXPECT_EQ(host.imagesFetched(), 0u);
    }
}

TEST_F(Plugin, ASourceOfAnotherTypeIsRefusedAndBothImagesReleased) {
    const struct {
        PixelDepth depth;
        PixelComponents layout;
    } sources[] = {{PixelDepth::Byte, PixelComponents::RGBA},
                   {PixelDepth::Float, PixelComponents::Alpha}};
    auto output =
        hostInstance.output().allocateImage({0, 0, 6, 6}, PixelDepth::Float, PixelComponents::RGBA);
    fillBytes(*output, untouched);
    for (const auto& s : sources) {
        hostInstance.source().allocateImage({0, 0, 6, 6}, s.depth, s.layout);
        const std::uint64_t fetched = host.imagesFetched();
        zarvel::test::CaptureStdout capture;
        EXPECT_EQ(thrownBy([&] { render({0, 0, 6, 6}); }), "Suite: kOfxStatErrFormat");
        EXPECT_EQ(host.imagesFetched(), fetched + 2);
        EXPECT_EQ(host.imagesOutstanding(), 0u);
    }
    EXPECT_EQ(untouchedOutside(*output, {0, 0, 0, 0}, untouched), "");
}

TEST_F(Plugin, ImagesThatContradictTheClipAreRefused) {
    // A host handing over an image of another depth than its clip says, or without pixels,
    // would have it written as something it is not.
    hostInstance.output().allocateImage({0, 0, 6, 6}, PixelDepth::Float, PixelComponents::RGBA);
    hostInstance.source().allocateImage({0, 0, 6, 6}, PixelDepth::Float, PixelComponents::RGBA);
    zarvel::test::CaptureStdout capture;
    hostInstance.output().imageOverrides().defineString(kOfxImageEffectPropPixelDepth,
                                                        {kOfxBitDepthByte});
    hostInstance.source().imageOverrides().defineString(kOfxImageEffectPropPixelDepth,
                                                        {kOfxBitDepthByte});
    EXPECT_EQ(thrownBy([&] { render({0, 0, 6, 6}); }), "Suite: kOfxStatErrFormat");
    hostInstance.output().imageOverrides().remove(kOfxImageEffectPropPixelDepth);
    hostInstance.source().imageOverrides().remove(kOfxImageEffectPropPixelDepth);
    hostInstance.output().imageOverrides().definePointer(kOfxImagePropData, {nullptr});
    EXPECT_EQ(thrownBy([&] { render({0, 0, 6, 6}); }), "Suite: kOfxStatErrFormat");
    EXPECT_EQ(host.imagesOutstanding(), 0u);
}

TEST_F(Plugin, NoOutputImageFailsAndNoSourceWritesNothing) {
    auto output = hostInstance.output().allocateImage({0, 0, 6, 6}, PixelDepth::Short,
                                                      PixelComponents::Alpha);
    fillBytes(*output, untouched);
    EXPECT_EQ(thrownBy([&] { render({0, 0, 6, 6}); }), "nothing") << "no source connected";
    EXPECT_EQ(untouchedOutside(*output, {0, 0, 0, 0}, untouched), "");
    EXPECT_EQ(host.imagesFetched(), 1u);

    hostInstance.output().clearImages();
    hostInstance.output().setConnected(true);
    zarvel::test::CaptureStdout capture;
    EXPECT_EQ(thrownBy([&] { render({0, 0, 6, 6}); }), "Suite: kOfxStatFailed");
    EXPECT_EQ(host.imagesFetched(), 1u);
}

// Every host call of a render failed in turn: whatever the render then does, it releases every
// image it fetched.
TEST_F(Plugin, ImagesAreReleasedWhicheverHostCallFails) {
    hostInstance.source().allocateImage({0, 0, 10, 6}, PixelDepth::Byte, PixelComponents::RGBA);
    auto source = hostInstance.source().imageAt(0.0);
    zarvel::test::paintShapes(*source, 3, true);
    hostInstance.output().allocateImage({-2, -2, 12, 8}, PixelDepth::Byte, PixelComponents::RGBA);
    host.setCpuCount(2);
    host.setSerialThreads(true);  // the same call order every time
    const auto renderAll = [&] { render({-2, -2, 12, 8}); };
    zarvel::test::CaptureStdout capture;
    host.calls().setRecording(true);
    const std::uint64_t calls = zarvel::test::hostCallsOf(host, renderAll);
    const std::vector<ZarvelHost::CallRecord> records = host.calls().records();
    host.calls().setRecording(false);
    ASSERT_GT(calls, 20u);
    ASSERT_EQ(records.size(), calls);
    int failedRenders = 0;
    for (std::uint64_t k = 0; k < calls; ++k) {
        // A host that refuses a release keeps its image; nothing the plug-in can do about it.
        if (records[k].function == "clipReleaseImage") {
            continue;
        }
        for (OfxStatus status : {kOfxStatErrUnknown, kOfxStatErrMemory}) {
            const zarvel::test::FaultOutcome outcome =
                zarvel::test::runWithFault(host, k, status, renderAll);
            failedRenders += outcome.thrown != "nothing";
            EXPECT_EQ(host.imagesOutstanding(), 0u)
                << "call " << k << " (" << outcome.function << " " << outcome.name << ") failed";
        }
    }
    EXPECT_GT(failedRenders, 20);
}

// ---------------------------------------------------------------------------------------------
// Parameter values from the host
// ---------------------------------------------------------------------------------------------

TEST_F(Plugin, UnusableWidthsDrawNoOutlineAndPadNothing) {
    const OfxRectI sourceBounds = {0, 0, 30, 20};
    auto source =
        std::make_shared<ZarvelHost::Image>(sourceBounds, PixelDepth::Byte, PixelComponents::RGBA);
    zarvel::test::paintShapes(*source, 4, true);
    hostInstance.source().setImage(source);
    const OfxRectD region = {5.5, 6.0, 17.0, 19.25};
    const double colour[3] = {1.0, 1.0, 1.0};
    for (double width : {notANumber, infinity, -infinity, -1.0, -1e300}) {
        SCOPED_TRACE(testing::Message() << "width " << width);
        hostInstance.setWidth(width);
        EXPECT_EQ(text(regionOfDefinition()), text(canonical(sourceBounds)));
        EXPECT_EQ(text(regionOfInterest(region)), text(region));
        for (int quality : {0, 1}) {
            hostInstance.setQuality(quality);
            auto output = renderFullFrame(source);
            auto expected = referenceFullFrame(*source, sourceBounds, 0.0, quality, colour);
            EXPECT_EQ(compareImages(*output, *expected, sourceBounds), "");
        }
    }
}

TYPED_TEST(TypedPlugin, ColoursOutOfRangeAreLimitedLikeTheReference) {
    auto source = std::make_shared<ZarvelHost::Image>(OfxRectI{0, 0, 24, 20}, TypeParam::depth,
                                                      TypeParam::layout);
    zarvel::test::paintShapes(*source, 12, true);
    this->hostInstance.setWidth(60.0);
    const double colours[][3] = {{notANumber, infinity, -infinity}, {-5.0, 7.0, 0.5}};
    for (const auto& colour : colours) {
        this->hostInstance.setColor(colour[0], colour[1], colour[2], notANumber);
        auto output = this->renderFullFrame(source);
        auto expected = this->referenceFullFrame(*source, output->bounds(), 60.0, 1, colour);
        EXPECT_EQ(compareImages(*output, *expected, output->bounds()), "");
    }
    // Beyond what single precision holds: still limited, never a NaN or out-of-range value.
    this->hostInstance.setColor(1e300, -1e300, 1e39);
    auto output = this->renderFullFrame(source);
    const OfxRectI b = output->bounds();
    for (int y = b.y1; y < b.y2; ++y) {
        for (int x = b.x1; x < b.x2; ++x) {
            for (int c = 0; c < output->componentCount(); ++c) {
                const float value = output->get(x, y, c);
                ASSERT_TRUE(value >= 0.0f && value <= 1.0f) << x << ", " << y << ", " << c;
            }
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Regions
// ---------------------------------------------------------------------------------------------

TEST_F(Plugin, RegionsAreEnlargedByFourTimesTheWidthOnOrdinaryFrames) {
    hostInstance.source().setRegionOfDefinition({0, 0, 1920, 1080});
    hostInstance.setWidth(15.0);
    EXPECT_EQ(text(regionOfDefinition()), text({-60, -60, 1980, 1140}));
    hostInstance.setWidth(2.5);
    EXPECT_EQ(text(regionOfInterest({100, 100, 200, 200})), text({90, 90, 210, 210}));
    for (double height : {1080.0, 2160.0, 4000.0}) {
        for (double width : {0.1, 2.5, 15.0, 20.0}) {
            EXPECT_EQ(OutlineGeometry::regionPadding(width, height), 4.0 * width)
                << width << " on " << height << " rows";
        }
    }
}

TEST_F(Plugin, TheRegionOfInterestCoversWhatTheOutlineDependsOn) {
    // At small widths four times the width is less than the few pixels around a window that its
    // outline depends on; the region asked for grows to them, in pixels of the render scale.
    hostInstance.source().setRegionOfDefinition({0, 0, 1920, 1080});
    hostInstance.setWidth(0.1);
    EXPECT_EQ(text(regionOfInterest({100, 100, 200, 200})), text({95, 95, 205, 205}));
    EXPECT_EQ(text(regionOfInterest({100, 100, 200, 200}, 0.5)), text({90, 90, 210, 210}));
    EXPECT_EQ(OutlineKernel::sourceReach(0.1), 5);
    EXPECT_EQ(OutlineKernel::sourceReach(7.0), 11);
}

// Above 4320 rows four times the width no longer holds the drawn width, which grows with the
// frame; the pad does, and the outline fades out within the region of definition.
TEST_F(Plugin, TallFramesKeepTheirOutlineInsideTheRegionOfDefinition) {
    for (double height : {4400.0, 5000.0, 20000.0, 1e6}) {
        for (double width : {0.1, 15.0, 20.0, 100.0}) {
            const double pad = OutlineGeometry::regionPadding(width, height);
            const double rows = height + 2.0 * pad;
            EXPECT_GE(pad, width * 4.0);
            EXPECT_GE(pad, rows / 1080.0 * width) << width << " on " << height << " rows";
        }
    }
    auto source = std::make_shared<ZarvelHost::Image>(OfxRectI{0, 0, 6, 5000}, PixelDepth::Byte,
                                                      PixelComponents::Alpha);
    const float edge[4] = {0.3f, 0.3f, 0.3f, 0.3f};
    source->fill(edge);
    hostInstance.setWidth(20.0);
    auto output = renderFullFrame(source);
    const OfxRectI b = output->bounds();
    const double drawn = double(b.y2 - b.y1) / 1080.0 * 20.0;
    ASSERT_GT(drawn, 80.0) << "more than four times the width";
    EXPECT_EQ(*static_cast<unsigned char*>(output->pixelAddress(3, b.y1)), 0);
    EXPECT_EQ(*static_cast<unsigned char*>(output->pixelAddress(3, b.y2 - 1)), 0);
    EXPECT_EQ(*static_cast<unsigned char*>(output->pixelAddress(3, -int(drawn) + 1)), 255);
}

TEST_F(Plugin, TheWidthScalesWithTheDestinationsRegionOfDefinition) {
    hostInstance.setWidth(15.0);
    const struct {
        OfxRectI bounds;
        double expected;
    } cases[] = {{{0, 0, 4, 1080}, 15.0}, {{0, 0, 4, 540}, 7.5}, {{0, 0, 4, 2160}, 30.0}};
    for (const auto& c : cases) {
        hostInstance.output().allocateImage(c.bounds, PixelDepth::Byte, PixelComponents::RGBA);
        FastOutlineProcessor<unsigned char, 4, 255> processor(*plugin);
        OFX::RenderArguments args;
        args.renderWindow = c.bounds;
        plugin->setupAndProcess(processor, args);
        EXPECT_EQ(processor.getWidthPixels(), c.expected);
    }
    // A tile of a 1080-row frame draws the frame's width, not one scaled by its own height.
    hostInstance.output().setRegionOfDefinition({0, 0, 4, 1080});
    hostInstance.output().allocateImage({0, 500, 4, 600}, PixelDepth::Byte, PixelComponents::RGBA);
    FastOutlineProcessor<unsigned char, 4, 255> processor(*plugin);
    OFX::RenderArguments args;
    args.renderWindow = {0, 500, 4, 600};
    plugin->setupAndProcess(processor, args);
    EXPECT_EQ(processor.getWidthPixels(), 15.0);
    EXPECT_EQ(processor.getFieldBounds().y1, 500 - OutlineKernel::computedMargin(15.0));
}

}  // namespace
