#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Image.h"
#include "ofx/ImageEffect.h"
#include "outline/OutlineKernel.h"
#include "outline/OutlineProcessors.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/OutlineImages.h"
#include "tests/support/ReferenceOutline.h"

namespace {

using zarvel::test::compareImages;
using zarvel::test::fillBytes;
using zarvel::test::OutlinePixelTypeNames;
using zarvel::test::OutlinePixelTypes;
using zarvel::test::referenceView;
using zarvel::test::thrownBy;
using zarvel::test::untouchedOutside;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

constexpr unsigned char untouched = 0xA5;

template <class T>
using ProcessorOf = FastOutlineProcessor<typename T::Pix, T::components,
                                         T::depth == PixelDepth::Byte    ? 255
                                         : T::depth == PixelDepth::Short ? 65535
                                                                         : 1>;

// ---------------------------------------------------------------------------------------------
// Geometry of the field
// ---------------------------------------------------------------------------------------------

bool sameRect(const OfxRectI& a, const OfxRectI& b) {
    return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

TEST(OutlineGeometry, AFullFrameFieldIsTheDestinationsBounds) {
    const OfxRectI frame = {-60, -60, 1980, 1140};
    for (double width : {0.0, 0.1, 15.0, 300.0}) {
        EXPECT_TRUE(sameRect(OutlineGeometry::fieldBounds(frame, frame, frame, width), frame));
    }
}

TEST(OutlineGeometry, ATilesFieldReachesTheMarginBeyondItsWindowWithinTheFrame) {
    const OfxRectI frame = {0, 0, 400, 300};
    const OfxRectI tile = {100, 100, 200, 150};
    // computedMargin(2.5) = ceil(2.5) + 6.
    EXPECT_TRUE(sameRect(OutlineGeometry::fieldBounds(tile, tile, frame, 2.5), {91, 91, 209, 159}));
    // Where the frame ends, the field ends: the chamfer's untouched border lies where the full
    // frame's lies.
    const OfxRectI corner = {0, 250, 50, 300};
    EXPECT_TRUE(
        sameRect(OutlineGeometry::fieldBounds(corner, corner, frame, 20.0), {0, 224, 76, 300}));
    // Bounds reaching beyond the frame extend the field there; the window is clipped to them.
    const OfxRectI wide = {-10, 240, 60, 320};
    EXPECT_TRUE(sameRect(OutlineGeometry::fieldBounds({-50, 250, 50, 400}, wide, frame, 0.0),
                         {-10, 244, 56, 320}));
    // A window that misses the bounds needs no field; huge widths stay within the frame.
    EXPECT_TRUE(OutlineGeometry::isEmpty(
        OutlineGeometry::fieldBounds({500, 0, 600, 10}, frame, frame, 2.0)));
    EXPECT_TRUE(sameRect(OutlineGeometry::fieldBounds(tile, tile, frame, 1e300), frame));
    // A destination without a region of definition: its bounds.
    EXPECT_TRUE(sameRect(OutlineGeometry::fieldBounds(tile, tile, {0, 0, 0, 0}, 1.0), tile));
}

// ---------------------------------------------------------------------------------------------
// Processors on host images
// ---------------------------------------------------------------------------------------------

// A filter instance whose "Source" and "Output" clips serve host images.
class Processors : public zarvel::test::LoadedHost {
protected:
    void SetUp() override {
        LoadedHost::SetUp();
        effect = std::make_unique<zarvel::test::PlainEffect>(hostInstance.handle());
    }

    void TearDown() override {
        src.reset();
        dst.reset();
        effect.reset();
        EXPECT_EQ(host.imagesOutstanding(), 0u);
    }

    // Serves the images and fetches them through the support layer.
    void serve(std::shared_ptr<ZarvelHost::Image> source,
               std::shared_ptr<ZarvelHost::Image> destination) {
        src.reset();
        dst.reset();
        if (source) {
            hostInstance.clip("Source").setImage(source);
            src = effect->getClip("Source")->imageAt(0.0);
        }
        hostInstance.clip("Output").setImage(destination);
        dst = effect->getClip("Output")->imageAt(0.0);
    }

    // Sets up `processor` the way a full-frame render does, over `window`.
    void configure(FastOutlineProcessorBase& processor, const OfxRectI& window, double width,
                   int quality) {
        processor.setDstImage(dst.get());
        processor.setWindow(window);
        processor.setSrcImage(src.get());
        processor.setColor(0.9, 0.4, 0.1);
        processor.setWidthPixels(width);
        processor.setQuality(quality);
        processor.setFieldBounds(dst->getBounds());
    }

    zarvel::test::HostFilterInstance hostInstance{host};
    std::unique_ptr<zarvel::test::PlainEffect> effect;
    std::unique_ptr<OFX::Image> src;
    std::unique_ptr<OFX::Image> dst;
};

template <class T>
class TypedProcessors : public Processors {};

TYPED_TEST_SUITE(TypedProcessors, OutlinePixelTypes, OutlinePixelTypeNames);

// Every pixel type, quality and window, with a destination larger than and offset from the
// source and bottom-up, padded rows, against the slow independent computation.
TYPED_TEST(TypedProcessors, MatchTheReferenceExactly) {
    const OfxRectI sourceBounds = {3, -2, 43, 30};
    const OfxRectI dstBounds = {-5, -6, 50, 36};
    const OfxRectI windows[] = {dstBounds, {0, 4, 37, 21}};
    auto source = std::make_shared<ZarvelHost::Image>(
        sourceBounds, TypeParam::depth, TypeParam::layout, ZarvelHost::RowLayout{4, true});
    auto destination = std::make_shared<ZarvelHost::Image>(
        dstBounds, TypeParam::depth, TypeParam::layout, ZarvelHost::RowLayout{12, true});
    ZarvelHost::Image expected(dstBounds, TypeParam::depth, TypeParam::layout);
    this->host.setCpuCount(3);
    for (bool soft : {false, true}) {
        zarvel::test::paintShapes(*source, soft ? 7u : 8u, soft);
        this->serve(source, destination);
        const ReferenceOutline::Image sourceView = referenceView(*source);
        for (double width : {0.5, 2.5, 6.0}) {
            for (int quality : {0, 1, 2}) {
                for (const OfxRectI& window : windows) {
                    SCOPED_TRACE(testing::Message()
                                 << "soft " << soft << " width " << width << " quality " << quality
                                 << " window x " << window.x1 << ".." << window.x2);
                    fillBytes(*destination, untouched);
                    fillBytes(expected, untouched);
                    ProcessorOf<TypeParam> processor(*this->effect);
                    this->configure(processor, window, width, quality);
                    processor.run();
                    ReferenceOutline::render(&sourceView, referenceView(expected), window, quality,
                                             width, 0.9, 0.4, 0.1);
                    EXPECT_EQ(compareImages(*destination, expected, dstBounds), "");
                    EXPECT_EQ(untouchedOutside(*destination, window, untouched), "");
                    EXPECT_TRUE(destination->guardsIntact());
                }
            }
        }
    }
}

TEST_F(Processors, ClassifyCoverageByTheHalfWayMark) {
    // 128/255 is just above one half (inside: the source pixel is copied), 127/255 just below
    // (edge: distance 0, a full outline pixel with the source composited over it), 0 far. The
    // separable transform's row distances 1, -2, 1, 0, 0, 1, 2, 3, 4 at width 2 give full
    // coverage up to 1, a falloff to 0 at 2 and nothing beyond.
    auto bytes = std::make_shared<ZarvelHost::Image>(OfxRectI{0, 0, 9, 1}, PixelDepth::Byte,
                                                     PixelComponents::RGBA);
    auto* pixel = static_cast<unsigned char*>(bytes->data());
    pixel[1 * 4 + 0] = 7;
    pixel[1 * 4 + 3] = 128;
    pixel[4 * 4 + 3] = 127;
    auto byteOutput = std::make_shared<ZarvelHost::Image>(OfxRectI{0, 0, 9, 1}, PixelDepth::Byte,
                                                          PixelComponents::RGBA);
    serve(bytes, byteOutput);
    FastOutlineProcessor<unsigned char, 4, 255> byteProcessor(*effect);
    configure(byteProcessor, {0, 0, 9, 1}, 2.0, 1);
    byteProcessor.run();
    const auto* out = static_cast<const unsigned char*>(byteOutput->data());
    const unsigned char full[4] = {229, 102, 25, 255};  // 0.9, 0.4, 0.1 × 255, truncated
    for (int x : {0, 2, 3, 5}) {
        EXPECT_EQ(std::memcmp(out + x * 4, full, 4), 0) << "outline at " << x;
    }
    EXPECT_EQ(std::memcmp(out + 1 * 4, pixel + 1 * 4, 4), 0) << "inside: the source";
    unsigned char composited[4];
    ReferenceOutline::outputPixel(0.0f, 0.9, 0.4, 0.1, 2.0, ReferenceOutline::componentByte, 4,
                                  pixel + 4 * 4, composited);
    EXPECT_EQ(std::memcmp(out + 4 * 4, composited, 4), 0) << "edge: composited over the outline";
    EXPECT_EQ(out[6 * 4 + 3], 0) << "at the width: zero coverage";
    for (int x : {7, 8}) {
        EXPECT_EQ(out[x * 4 + 3], 0) << "beyond the width at " << x;
    }

    // Float: exactly 0.5 is edge, anything not above 0 (NaN included) far. Beside an inside
    // element the row distance runs 1, 0, 1 (the separable transform's ring): distances
    // 1, 0, 1, -2, 1, 0, 0 at width 2.
    auto floats = std::make_shared<ZarvelHost::Image>(OfxRectI{10, 5, 17, 6}, PixelDepth::Float,
                                                      PixelComponents::Alpha);
    auto* alpha = static_cast<float*>(floats->data());
    alpha[0] = std::numeric_limits<float>::quiet_NaN();
    alpha[1] = -0.1f;
    alpha[3] = 0.5000001f;
    alpha[6] = 0.5f;
    auto floatOutput = std::make_shared<ZarvelHost::Image>(
        OfxRectI{10, 5, 17, 6}, PixelDepth::Float, PixelComponents::Alpha);
    serve(floats, floatOutput);
    FastOutlineProcessor<float, 1, 1> floatProcessor(*effect);
    configure(floatProcessor, {10, 5, 17, 6}, 0.5, 2);
    floatProcessor.run();
    // At width 0.5 a distance of 0 has coverage 0.5 and 1 is beyond the width; the inside pixel
    // copies its source.
    const std::vector<float> expected = {0.0f, 0.5f, 0.0f, 0.5000001f, 0.0f, 0.5f, 0.5f};
    const auto* values = static_cast<const float*>(floatOutput->data());
    EXPECT_EQ(std::vector<float>(values, values + 7), expected);
}

TEST_F(Processors, NeverWriteOutsideTheDestinationsBounds) {
    const OfxRectI bounds = {0, 0, 20, 10};
    auto source =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Float, PixelComponents::RGBA);
    zarvel::test::paintShapes(*source, 3, true);
    auto destination = std::make_shared<ZarvelHost::Image>(
        bounds, PixelDepth::Float, PixelComponents::RGBA, ZarvelHost::RowLayout{8, false});
    ZarvelHost::Image expected(bounds, PixelDepth::Float, PixelComponents::RGBA);
    ReferenceOutline::Image sourceView = referenceView(*source);
    ReferenceOutline::render(&sourceView, referenceView(expected), bounds, 1, 3.0, 0.9, 0.4, 0.1);
    serve(source, destination);
    for (unsigned cpus : {1u, 3u}) {
        host.setCpuCount(cpus);
        fillBytes(*destination, untouched);
        FastOutlineProcessor<float, 4, 1> processor(*effect);
        configure(processor, {-5, -3, 30, 15}, 3.0, 1);
        processor.run();
        EXPECT_TRUE(destination->guardsIntact()) << cpus << " threads";
        EXPECT_EQ(compareImages(*destination, expected, bounds), "") << cpus << " threads";
    }
}

TEST_F(Processors, RowsOutsideTheFieldAreSkippedAndColumnsOutsideItZeroed) {
    const OfxRectI bounds = {0, 0, 10, 10};
    auto source =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Byte, PixelComponents::Alpha);
    float opaque[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    source->fill(opaque);
    auto destination =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Byte, PixelComponents::Alpha);
    fillBytes(*destination, untouched);
    serve(source, destination);
    FastOutlineProcessor<unsigned char, 1, 255> processor(*effect);
    configure(processor, bounds, 2.0, 1);
    processor.setFieldBounds({2, 3, 8, 7});
    processor.run();
    for (int y = 0; y < 10; ++y) {
        for (int x = 0; x < 10; ++x) {
            const unsigned char value =
                *static_cast<unsigned char*>(destination->pixelAddress(x, y));
            const bool rowInField = y >= 3 && y < 7;
            const bool inField = rowInField && x >= 2 && x < 8;
            const unsigned char expected = !rowInField ? untouched : inField ? 255 : 0;
            EXPECT_EQ(value, expected) << "pixel " << x << ", " << y;
        }
    }
}

TEST_F(Processors, WithoutASourceNothingIsBuiltOrWritten) {
    auto destination = std::make_shared<ZarvelHost::Image>(OfxRectI{0, 0, 8, 8}, PixelDepth::Short,
                                                           PixelComponents::RGBA);
    fillBytes(*destination, untouched);
    serve(nullptr, destination);
    host.setCpuCount(4);
    FastOutlineProcessor<unsigned short, 4, 65535> processor(*effect);
    configure(processor, {0, 0, 8, 8}, 2.0, 1);
    processor.run();
    EXPECT_EQ(untouchedOutside(*destination, {0, 0, 0, 0}, untouched), "");
    EXPECT_EQ(processor.getEngine().phaseCount(), 0);
    EXPECT_EQ(host.calls().callCount("multiThread"), 0u) << "no phase, no host run";
}

// One host call per engine phase, however many threads: the fast path has one (the run's own),
// the whole-field path for widths beyond its reach three. A host running its threads one after
// another gives the same pixels.
TEST_F(Processors, RunEachEnginePhaseInOneHostCall) {
    const OfxRectI bounds = {0, 0, 40, 30};
    auto source =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Byte, PixelComponents::RGBA);
    zarvel::test::paintShapes(*source, 11, true);
    auto destination =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Byte, PixelComponents::RGBA);
    ZarvelHost::Image first(bounds, PixelDepth::Byte, PixelComponents::RGBA);
    serve(source, destination);
    for (int quality : {0, 1}) {
        for (double width : {4.0, 300.0}) {
            for (bool serial : {false, true}) {
                SCOPED_TRACE(testing::Message() << "quality " << quality << " width " << width
                                                << " serial " << serial);
                host.setCpuCount(4);
                host.setSerialThreads(serial);
                host.calls().resetCounts();
                FastOutlineProcessor<unsigned char, 4, 255> processor(*effect);
                configure(processor, bounds, width, quality);
                processor.run();
                EXPECT_EQ(host.calls().callCount("multiThread"), width < 254.0 ? 1u : 3u);
                EXPECT_EQ(processor.getEngine().usesWholeField(), width > 254.0);
                if (!serial) {
                    std::memcpy(first.data(), destination->data(), std::size_t(40 * 30 * 4));
                } else {
                    EXPECT_EQ(compareImages(*destination, first, bounds), "");
                }
            }
        }
    }
    host.setSerialThreads(false);
}

TEST_F(Processors, AFailingPhaseLeavesRunAndWritesNothing) {
    const OfxRectI bounds = {0, 0, 16, 12};
    auto source =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Float, PixelComponents::Alpha);
    zarvel::test::paintShapes(*source, 5, false);
    auto destination =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Float, PixelComponents::Alpha);
    serve(source, destination);
    host.setCpuCount(2);
    // The fast path's one call, and the second of the whole-field path's three (widths beyond
    // the fast reach), which runs after the first has built part of the field.
    const struct {
        double width;
        std::uint64_t call;
        OfxStatus status;
        std::string thrown;
    } cases[] = {{2.0, 1, kOfxStatErrMemory, "bad_alloc"},
                 {300.0, 2, kOfxStatErrFatal, "Suite: kOfxStatErrFatal"}};
    for (const auto& c : cases) {
        fillBytes(*destination, untouched);
        host.calls().clearFaults();
        host.calls().failNthCall("multiThread", c.call, c.status);
        FastOutlineProcessor<float, 1, 1> processor(*effect);
        configure(processor, bounds, c.width, 1);
        zarvel::test::CaptureStdout capture;
        EXPECT_EQ(thrownBy([&] { processor.run(); }), c.thrown);
        EXPECT_EQ(untouchedOutside(*destination, {0, 0, 0, 0}, untouched), "");
    }
    host.calls().clearFaults();
}

// A run over part of the frame writes the frame's pixels there and nothing else, also where the
// window reaches past the destination.
TEST_F(Processors, ARunOverAWindowRendersItAlone) {
    const OfxRectI bounds = {0, 0, 30, 24};
    auto source =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Short, PixelComponents::RGBA);
    zarvel::test::paintShapes(*source, 9, true);
    auto destination =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Short, PixelComponents::RGBA);
    ZarvelHost::Image expected(bounds, PixelDepth::Short, PixelComponents::RGBA);
    const ReferenceOutline::Image sourceView = referenceView(*source);
    serve(source, destination);
    for (int quality : {0, 1}) {
        fillBytes(*destination, untouched);
        fillBytes(expected, untouched);
        const OfxRectI bands[] = {{0, 0, 30, 7}, {4, 7, 26, 16}, {0, 16, 40, 30}};
        for (const OfxRectI& band : bands) {
            FastOutlineProcessor<unsigned short, 4, 65535> processor(*effect);
            configure(processor, bounds, 3.5, quality);
            processor.setWindow(band);
            processor.run();
            const OfxRectI written = OutlineGeometry::intersection(band, bounds);
            ReferenceOutline::render(&sourceView, referenceView(expected), written, quality, 3.5,
                                     0.9, 0.4, 0.1);
        }
        EXPECT_EQ(compareImages(*destination, expected, bounds), "") << "quality " << quality;
        EXPECT_TRUE(destination->guardsIntact());
    }
}

// A host may report any number of CPUs: threads beyond the tiles of the render get no scratch
// and take no tile, and the pixels don't change.
TEST_F(Processors, ScratchIsForTheThreadsThatCanHaveATile) {
    const OfxRectI bounds = {0, 0, 64, 48};
    auto source =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Byte, PixelComponents::RGBA);
    zarvel::test::paintShapes(*source, 12, true);
    auto destination =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Byte, PixelComponents::RGBA);
    ZarvelHost::Image expected(bounds, PixelDepth::Byte, PixelComponents::RGBA);
    const ReferenceOutline::Image sourceView = referenceView(*source);
    ReferenceOutline::render(&sourceView, referenceView(expected), bounds, 1, 4.0, 0.9, 0.4, 0.1);
    serve(source, destination);
    std::size_t bytesForTwo = 0;
    for (unsigned cpus : {2u, 1000u}) {
        host.setCpuCount(cpus);
        host.setMaxThreads(8);
        fillBytes(*destination, untouched);
        FastOutlineProcessor<unsigned char, 4, 255> processor(*effect);
        configure(processor, bounds, 4.0, 1);
        processor.run();
        EXPECT_EQ(compareImages(*destination, expected, bounds), "") << cpus << " CPUs";
        if (cpus == 2) {
            bytesForTwo = processor.getEngine().workingBytes();
        } else {
            EXPECT_LE(processor.getEngine().workingBytes(), 8 * bytesForTwo);
        }
    }
    host.setMaxThreads(64);
}

TEST_F(Processors, RowsFromAnAbortOnAreSkipped) {
    const OfxRectI bounds = {0, 0, 6, 10};
    auto source =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Byte, PixelComponents::Alpha);
    float opaque[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    source->fill(opaque);
    auto destination =
        std::make_shared<ZarvelHost::Image>(bounds, PixelDepth::Byte, PixelComponents::Alpha);
    fillBytes(*destination, untouched);
    serve(source, destination);
    host.setCpuCount(1);
    host.setAbortAfter(4);
    FastOutlineProcessor<unsigned char, 1, 255> processor(*effect);
    configure(processor, bounds, 2.0, 1);
    processor.run();
    host.clearAbort();
    EXPECT_EQ(untouchedOutside(*destination, {0, 0, 6, 4}, untouched), "");
    EXPECT_EQ(*static_cast<unsigned char*>(destination->pixelAddress(5, 3)), 255);
    EXPECT_EQ(host.abortCalls(), 10u) << "asked once per row";
}

}  // namespace
