// Values no honest host gives: strings outside every table, null and missing pixel addresses,
// empty, inverted, negative and enormous bounds, row bytes shorter than a row, windows beyond the
// image, parameters that are not numbers, odd CPU counts, actions out of order. Each must end in
// a named status with every image released, nothing written outside the output's pixels (nor,
// on failure, inside them) and the frame's state as a finished session leaves it.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <sys/mman.h>
#endif

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "ofx/ImageEffect.h"
#include "ofx/Private.h"
#include "openfx/openfx.h"
#include "tests/reliability/FrameState.h"
#include "tests/reliability/WholeSession.h"
#include "tests/support/CaptureStdout.h"

namespace zarvel::reliability {
namespace {

using ZarvelHost::Image;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

constexpr PixelType byteRGBA{PixelDepth::Byte, PixelComponents::RGBA};
constexpr OfxRectI smallBounds{0, 0, 16, 12};

// A source and an output over the same bounds; the output starts as a marker value, so that an
// untouched output can be told from one a render wrote zeros into.
struct Frame {
    std::shared_ptr<Image> source;
    std::shared_ptr<Image> output;
    std::shared_ptr<Image> outputBefore;

    bool outputUntouched() const {
        return output->guardsIntact() && samePixels(*output, *outputBefore);
    }
};

// True when `image` holds the pixels of `expected` inside `region` and those of `untouched`
// elsewhere; all three have the same bounds and pixel type.
bool pixelsMatch(const Image& image, const Image& expected, const Image& untouched,
                 const OfxRectI& region) {
    const OfxRectI& bounds = image.bounds();
    const std::size_t bytes = std::size_t(image.pixelBytes());
    for (int y = bounds.y1; y < bounds.y2; ++y) {
        for (int x = bounds.x1; x < bounds.x2; ++x) {
            const bool inside = x >= region.x1 && x < region.x2 && y >= region.y1 && y < region.y2;
            const Image& want = inside ? expected : untouched;
            if (std::memcmp(image.pixelAddress(x, y), want.pixelAddress(x, y), bytes) != 0) {
                return false;
            }
        }
    }
    return true;
}

// Same pixel bytes row by row, wherever the two images lie.
bool sameContents(const Image& a, const Image& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.pixelBytes() != b.pixelBytes()) {
        return false;
    }
    const std::size_t rowLength = std::size_t(a.width()) * std::size_t(a.pixelBytes());
    for (int row = 0; row < a.height(); ++row) {
        if (std::memcmp(a.pixelAddress(a.bounds().x1, a.bounds().y1 + row),
                        b.pixelAddress(b.bounds().x1, b.bounds().y1 + row), rowLength) != 0) {
            return false;
        }
    }
    return true;
}

// One instance of the outline effect on a fresh host, threads run in turn on the calling thread.
class HostileValues : public ::testing::Test {
protected:
    HostileValues() {
        host.setSerialThreads(true);
        host.setCpuCount(3);
    }

    void SetUp() override {
        session = std::make_unique<ZarvelHost::Session>(host, linkedPlugin());
        ASSERT_EQ(session->start(), kOfxStatOK) << session->failedAction();
        // 2 pixels on a 12-row frame.
        session->instance().param("outlineWidth").setValue({180.0});
    }

    void TearDown() override {
        if (session) {
            EXPECT_EQ(session->finish(), kOfxStatOK);
            session.reset();
        }
        EXPECT_EQ(host.imagesOutstanding(), 0u);
        EXPECT_EQ(host.badImageReleases(), 0u);
        EXPECT_EQ(frameStateProblems(), "");
    }

    ZarvelHost::Clip& clip(const char* name) const { return session->clip(name); }

    Frame frame(PixelType type = byteRGBA, OfxRectI bounds = smallBounds,
                ZarvelHost::RowLayout layout = {}) const {
        Frame made;
        made.source = makeSourceFrame(bounds, type);
        session->setImage("Source", made.source);
        made.output = clip("Output").allocateImage(bounds, type.depth, type.components, layout);
        const float marker[] = {0.35f, 0.35f, 0.35f, 0.35f};
        made.output->fill(marker);
        made.outputBefore = copyOf(*made.output);
        return made;
    }

    OfxStatus render(const OfxRectI& window = smallBounds) const {
        zarvel::test::CaptureStdout quiet;
        ZarvelHost::RenderOptions options;
        options.window = window;
        return session->render(options).status;
    }

    // The output of an ordinary render of `type` over the small bounds.
    std::shared_ptr<Image> reference(PixelType type = byteRGBA) const {
        Frame plain = frame(type);
        EXPECT_EQ(render(), kOfxStatOK);
        return copyOf(*plain.output);
    }

    ZarvelHost::Host host;
    std::unique_ptr<ZarvelHost::Session> session;
};

TEST_F(HostileValues, AClipDepthOrLayoutOutsideTheTablesIsUnsupportedAndFetchesNothing) {
    for (const char* depth :
         {"", "OfxBitDepthHalf", "OfxBitDepthNone", "OfxBitDepthByte ", "ofxbitdepthbyte"}) {
        SCOPED_TRACE(std::string("depth '") + depth + "'");
        const Frame made = frame();
        clip("Output").properties().setString(kOfxImageEffectPropPixelDepth, depth);
        const std::uint64_t fetched = host.imagesFetched();
        EXPECT_EQ(render(), kOfxStatErrUnsupported);
        EXPECT_EQ(host.imagesFetched(), fetched);
        EXPECT_TRUE(made.outputUntouched());
    }
    for (const char* components : {"", "OfxImageComponentRGB", "OfxImageComponentNone",
                                   "OfxImageComponentAlpha\n", "OfxImageComponentYUVA"}) {
        SCOPED_TRACE(std::string("components '") + components + "'");
        const Frame made = frame();
        clip("Output").properties().setString(kOfxImageEffectPropComponents, components);
        const std::uint64_t fetched = host.imagesFetched();
        EXPECT_EQ(render(), kOfxStatErrUnsupported);
        EXPECT_EQ(host.imagesFetched(), fetched);
        EXPECT_TRUE(made.outputUntouched());
    }
}

TEST_F(HostileValues, AnImageThatContradictsItsClipIsAFormatError) {
    const std::pair<const char*, const char*> claims[] = {
        {kOfxImageEffectPropPixelDepth, kOfxBitDepthFloat},
        {kOfxImageEffectPropPixelDepth, ""},
        {kOfxImageEffectPropPixelDepth, "OfxBitDepthHalf"},
        {kOfxImageEffectPropComponents, kOfxImageComponentAlpha},
        {kOfxImageEffectPropComponents, "OfxImageComponentRGB"},
        {kOfxImageEffectPropComponents, ""}};
    for (const char* clipName : {"Output", "Source"}) {
        for (const auto& [property, value] : claims) {
            SCOPED_TRACE(std::string(clipName) + " image " + property + " '" + value + "'");
            const Frame made = frame();
            clip(clipName).imageOverrides().defineString(property, {value});
            EXPECT_EQ(render(), kOfxStatErrFormat);
            EXPECT_TRUE(made.outputUntouched());
            EXPECT_EQ(host.imagesOutstanding(), 0u);
            clip(clipName).imageOverrides().remove(property);
        }
    }
}

TEST_F(HostileValues, AnUnknownPremultiplicationFailsTheRenderAndReleasesBothImages) {
    for (const char* clipName : {"Output", "Source"}) {
        for (const char* premultiplication :
             {"", "OfxImageOpaque ", "OfxImageAlphaPremultipliedX"}) {
            SCOPED_TRACE(std::string(clipName) + " '" + premultiplication + "'");
            const Frame made = frame();
            clip(clipName).imageOverrides().defineString(kOfxImageEffectPropPreMultiplication,
                                                         {premultiplication});
            EXPECT_EQ(render(), kOfxStatFailed);
            EXPECT_TRUE(made.outputUntouched());
            EXPECT_EQ(host.imagesOutstanding(), 0u);
            clip(clipName).imageOverrides().remove(kOfxImageEffectPropPreMultiplication);
        }
    }
}

TEST_F(HostileValues, FieldStringsOutsideTheTableRenderAsUnfielded) {
    const auto expected = reference();
    for (const char* field : {"", "OfxFieldBothX", "\xff"}) {
        SCOPED_TRACE(std::string("field '") + field + "'");
        const Frame made = frame();
        clip("Source").imageOverrides().defineString(kOfxImagePropField, {field});
        zarvel::test::CaptureStdout quiet;
        ZarvelHost::RenderOptions options;
        options.window = smallBounds;
        options.field = field;  // the render's own field to render, too
        EXPECT_EQ(session->render(options).status, kOfxStatOK);
        EXPECT_TRUE(samePixels(*made.output, *expected));
        EXPECT_TRUE(made.output->guardsIntact());
    }
}

TEST_F(HostileValues, APixelAddressThatIsNullIsAFormatErrorUnlessThereAreNoPixels) {
    for (const char* clipName : {"Output", "Source"}) {
        SCOPED_TRACE(clipName);
        const Frame made = frame();
        clip(clipName).imageOverrides().definePointer(kOfxImagePropData, {nullptr});
        EXPECT_EQ(render(), kOfxStatErrFormat);
        EXPECT_TRUE(made.outputUntouched());
        clip(clipName).imageOverrides().remove(kOfxImagePropData);
    }
    // No pixels, so nothing to address: the render has nothing to do.
    const Frame made = frame();
    clip("Output").imageOverrides().definePointer(kOfxImagePropData, {nullptr});
    clip("Output").imageOverrides().defineInt(kOfxImagePropBounds, {4, 4, 4, 9});
    EXPECT_EQ(render(), kOfxStatOK);
    EXPECT_TRUE(made.outputUntouched());
}

TEST_F(HostileValues, AnImageWithoutAPixelAddressIsAMissingHostFeature) {
    const Frame made = frame();
    clip("Output").removeImageProperty(kOfxImagePropData);
    EXPECT_EQ(render(), kOfxStatErrMissingHostFeature);
    EXPECT_TRUE(made.outputUntouched());
}

TEST_F(HostileValues, EmptyAndInvertedBoundsWriteNothing) {
    const OfxRectI claims[] = {{5, 5, 5, 5}, {0, 0, 16, 0}, {12, 10, 2, 3}, {0, 0, -16, -12}};
    for (const char* clipName : {"Output", "Source"}) {
        for (const OfxRectI& bounds : claims) {
            SCOPED_TRACE(std::string(clipName) + " bounds " + std::to_string(bounds.x1) + " " +
                         std::to_string(bounds.y1) + " " + std::to_string(bounds.x2) + " " +
                         std::to_string(bounds.y2));
            const Frame made = frame();
            clip(clipName).imageOverrides().defineInt(kOfxImagePropBounds,
                                                      {bounds.x1, bounds.y1, bounds.x2, bounds.y2});
            const OfxStatus status = render();
            EXPECT_EQ(status, kOfxStatOK);
            if (std::string(clipName) == "Output") {
                EXPECT_TRUE(made.outputUntouched());
            } else {
                // No source pixel: an output of zeros, and only inside the output's pixels.
                EXPECT_TRUE(made.output->guardsIntact());
            }
            clip(clipName).imageOverrides().remove(kOfxImagePropBounds);
        }
    }
}

TEST_F(HostileValues, ImagesAtNegativeCoordinatesRenderAsAtTheOrigin) {
    for (const PixelType& type : allPixelTypes()) {
        SCOPED_TRACE(nameOf(type));
        const auto expected = reference(type);
        const OfxRectI away{-40, -30, -24, -18};
        const Frame made = frame(type, away);
        EXPECT_EQ(render(away), kOfxStatOK);
        EXPECT_TRUE(sameContents(*made.output, *expected));
        EXPECT_TRUE(made.output->guardsIntact());
    }
}

TEST_F(HostileValues, RowBytesShorterThanARowAreAFormatError) {
    const int rowLength = 16 * 4;
    for (const char* clipName : {"Output", "Source"}) {
        for (int rowBytes : {rowLength - 1, 1, 0, -1, -(rowLength - 1)}) {
            SCOPED_TRACE(std::string(clipName) + " row bytes " + std::to_string(rowBytes));
            const Frame made = frame();
            clip(clipName).imageOverrides().defineInt(kOfxImagePropRowBytes, {rowBytes});
            EXPECT_EQ(render(), kOfxStatErrFormat);
            EXPECT_TRUE(made.outputUntouched());
            clip(clipName).imageOverrides().remove(kOfxImagePropRowBytes);
        }
    }
}

TEST_F(HostileValues, PixelsNotAlignedToTheirComponentsAreAFormatError) {
    // 16-bit rows 3 bytes longer than their pixels: every other row starts on an odd address.
    const PixelType shortRGBA{PixelDepth::Short, PixelComponents::RGBA};
    for (const char* clipName : {"Output", "Source"}) {
        SCOPED_TRACE(clipName);
        const Frame made = frame(shortRGBA, smallBounds, {3, false});
        if (std::string(clipName) == "Source") {
            // An aligned output, so that only the source is at fault.
            const Frame aligned = frame(shortRGBA);
            session->setImage("Source", std::make_shared<Image>(smallBounds, shortRGBA.depth,
                                                                shortRGBA.components,
                                                                ZarvelHost::RowLayout{3, false}));
            EXPECT_EQ(render(), kOfxStatErrFormat);
            EXPECT_TRUE(aligned.outputUntouched());
        } else {
            EXPECT_EQ(render(), kOfxStatErrFormat);
            EXPECT_TRUE(made.outputUntouched());
        }
    }
    // Float pixels whose first byte is not on a multiple of 4.
    const PixelType floatAlpha{PixelDepth::Float, PixelComponents::Alpha};
    const Frame made = frame(floatAlpha, smallBounds, {8, false});
    clip("Output").imageOverrides().definePointer(
        kOfxImagePropData, {static_cast<unsigned char*>(made.output->data()) + 2});
    EXPECT_EQ(render(), kOfxStatErrFormat);
    EXPECT_TRUE(made.outputUntouched());
}

TEST_F(HostileValues, BoundsNoMemoryCouldHoldAreAFormatError) {
    // The row bytes stay those of the real 16-pixel rows; the bounds claim far longer rows.
    const OfxRectI claims[] = {{0, 0, 1 << 30, 1 << 30},
                               {INT_MIN, INT_MIN, INT_MAX, INT_MAX},
                               {-(1 << 30), 0, (1 << 30) + 16, 12},
                               {0, 0, 65536, 65536}};
    for (const char* clipName : {"Output", "Source"}) {
        for (const OfxRectI& bounds : claims) {
            SCOPED_TRACE(std::string(clipName) + " bounds " + std::to_string(bounds.x1) + " " +
                         std::to_string(bounds.x2));
            const Frame made = frame();
            clip(clipName).imageOverrides().defineInt(kOfxImagePropBounds,
                                                      {bounds.x1, bounds.y1, bounds.x2, bounds.y2});
            EXPECT_EQ(render(bounds), kOfxStatErrFormat);
            EXPECT_TRUE(made.outputUntouched());
            clip(clipName).imageOverrides().remove(kOfxImagePropBounds);
        }
    }
}

// Address space for a frame larger than memory: pages are only made when touched.
class MappedPixels {
public:
#ifdef _WIN32
    explicit MappedPixels(std::size_t bytes)
        : data_(VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE)) {}
    ~MappedPixels() {
        if (data_) {
            VirtualFree(data_, 0, MEM_RELEASE);
        }
    }
    bool ok() const {
        return data_ != nullptr;
    }
#else
    explicit MappedPixels(std::size_t bytes)
        : bytes_(bytes)
        , data_(mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0)) {}
    ~MappedPixels() {
        if (data_ != MAP_FAILED) {
            munmap(data_, bytes_);
        }
    }
    bool ok() const {
        return data_ != MAP_FAILED;
    }
#endif
    MappedPixels(const MappedPixels&) = delete;
    MappedPixels& operator=(const MappedPixels&) = delete;

    unsigned char* data() const {
        return static_cast<unsigned char*>(data_);
    }

private:
#ifndef _WIN32
    std::size_t bytes_;
#endif
    void* data_;
};

TEST_F(HostileValues, AFrameWhoseAreaOverflows32BitsIsRenderedOnlyInItsWindow) {
    // 70000 × 70000 alpha bytes: 4.9e9 pixels, past 2^32.
    constexpr int side = 70000;
    constexpr OfxRectI bounds{0, 0, side, side};
    const std::size_t bytes = std::size_t(side) * std::size_t(side);
    MappedPixels sourcePixels(bytes);
    MappedPixels outputPixels(bytes);
#ifdef _WIN32
    // Windows counts committed pages against the page file whether touched or not.
    if (!sourcePixels.ok() || !outputPixels.ok()) {
        GTEST_SKIP() << "Windows would not commit 2 x 4.9 GB of pages for the frame";
    }
#endif
    ASSERT_TRUE(sourcePixels.ok() && outputPixels.ok());
    auto source = std::make_shared<Image>(
        Image::wrap(sourcePixels.data(), bounds, PixelDepth::Byte, PixelComponents::Alpha, side));
    auto output = std::make_shared<Image>(
        Image::wrap(outputPixels.data(), bounds, PixelDepth::Byte, PixelComponents::Alpha, side));
    // An opaque square in the middle, and a ring of marker bytes around the window.
    constexpr OfxRectI window{35000, 35000, 35040, 35030};
    for (int y = 35010; y < 35020; ++y) {
        for (int x = 35010; x < 35020; ++x) {
            source->set(x, y, 0, 1.0f);
        }
    }
    for (int y = window.y1 - 2; y < window.y2 + 2; ++y) {
        for (int x = window.x1 - 2; x < window.x2 + 2; ++x) {
            output->set(x, y, 0, 0.5f);
        }
    }
    const float marker = output->get(window.x1 - 1, window.y1 - 1, 0);
    session->setImage("Source", source);
    session->setImage("Output", output);
    // The drawn width scales with the 70000 rows: 3 pixels.
    session->instance().param("outlineWidth").setValue({3.0 * 1080.0 / side});
    EXPECT_EQ(render(window), kOfxStatOK);

    int outline = 0;
    int markers = 0;
    for (int y = window.y1 - 2; y < window.y2 + 2; ++y) {
        for (int x = window.x1 - 2; x < window.x2 + 2; ++x) {
            const bool inside = x >= window.x1 && x < window.x2 && y >= window.y1 && y < window.y2;
            const float value = output->get(x, y, 0);
            if (!inside) {
                markers += value == marker ? 1 : 0;
            } else if (value == 1.0f && (x < 35010 || x >= 35020 || y < 35010 || y >= 35020)) {
                ++outline;
            }
        }
    }
    EXPECT_EQ(markers, (40 + 4) * (30 + 4) - 40 * 30) << "pixels outside the window were written";
    EXPECT_GT(outline, 0) << "an outline is drawn around the square";
    session->setImage("Source", nullptr);
    session->setImage("Output", nullptr);
}

TEST_F(HostileValues, AnInfiniteRegionOfDefinitionDrawsAsTheImageBoundsDo) {
    const auto expected = reference();
    const Frame made = frame();
    // The standard's flags for an infinite region.
    clip("Output").imageOverrides().defineInt(kOfxImagePropRegionOfDefinition,
                                              {INT_MIN, INT_MIN, INT_MAX, INT_MAX});
    EXPECT_EQ(render(), kOfxStatOK);
    EXPECT_TRUE(samePixels(*made.output, *expected));
    EXPECT_TRUE(made.output->guardsIntact());
}

TEST_F(HostileValues, ARegionOfDefinitionTooLargeForAnyFieldIsOutOfMemory) {
    // Rows enough to draw an outline 10^8 pixels wide around a 16-pixel image: no distance
    // field of that reach fits in memory, so the render says so before asking for it.
    const Frame made = frame();
    clip("Output").imageOverrides().defineInt(kOfxImagePropRegionOfDefinition,
                                              {-(1 << 29), -(1 << 29), 1 << 29, 1 << 29});
    EXPECT_EQ(render(), kOfxStatErrMemory);
    EXPECT_TRUE(made.outputUntouched());
}

TEST_F(HostileValues, WindowsReachingBeyondTheImageWriteOnlyItsPixels) {
    const auto expected = reference();
    const OfxRectI windows[] = {{INT_MIN, INT_MIN, INT_MAX, INT_MAX},
                                {-100, -100, 5, 5},
                                {10, 10, 0, 0},
                                {100, 100, 200, 200},
                                {INT_MAX - 1, 0, INT_MAX, 12},
                                {3, -5, 9, INT_MAX}};
    for (const OfxRectI& window : windows) {
        SCOPED_TRACE("window " + std::to_string(window.x1) + " " + std::to_string(window.y1) + " " +
                     std::to_string(window.x2) + " " + std::to_string(window.y2));
        const Frame made = frame();
        EXPECT_EQ(render(window), kOfxStatOK);
        const OfxRectI written{std::max(window.x1, 0), std::max(window.y1, 0),
                               std::min(window.x2, 16), std::min(window.y2, 12)};
        EXPECT_TRUE(pixelsMatch(*made.output, *expected, *made.outputBefore, written));
        EXPECT_TRUE(made.output->guardsIntact());
    }
}

TEST_F(HostileValues, ParameterValuesOfAnyKindKeepEveryActionDefinedAndInBounds) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double widths[] = {nan, inf, -inf, -1.0, 0.0, 1e-300, 1e300, 5e9};
    const std::vector<double> colours[] = {
        {nan, nan, nan, nan}, {inf, -inf, 1e300, nan}, {-1.0, 2.0, 0.5, -inf}};
    const double qualities[] = {-1.0, 3.0, 1e6, double(INT_MIN), nan};
    session->clip("Source").setRegionOfDefinition({0.0, 0.0, 16.0, 12.0});
    int run = 0;
    for (const double width : widths) {
        const PixelType& type = allPixelTypes()[std::size_t(run) % allPixelTypes().size()];
        SCOPED_TRACE(nameOf(type) + " width " + std::to_string(width));
        ZarvelHost::Effect& instance = session->instance();
        instance.param("outlineWidth").setValue({width});
        instance.param("outlineColor").setValue(colours[run % 3]);
        instance.param("quality").setValue({qualities[run % 5]});
        ++run;
        const Frame made = frame(type);
        EXPECT_EQ(render(), kOfxStatOK);
        EXPECT_TRUE(made.output->guardsIntact());

        const auto rod = session->plugin().getRegionOfDefinition(instance, 0.0);
        EXPECT_EQ(rod.status, kOfxStatOK);
        const OfxRectD region = rod.regionOfDefinition();
        EXPECT_TRUE(std::isfinite(region.x1) && std::isfinite(region.y1) &&
                    std::isfinite(region.x2) && std::isfinite(region.y2));
        for (const OfxPointD scale : {OfxPointD{1.0, 1.0}, OfxPointD{0.0, 0.0},
                                      OfxPointD{nan, -1.0}, OfxPointD{inf, 1e-300}}) {
            const auto rois =
                session->plugin().getRegionsOfInterest(instance, 0.0, {0, 0, 16, 12}, scale);
            EXPECT_EQ(rois.status, kOfxStatOK);
            const OfxRectD roi = rois.regionOfInterest("Source");
            EXPECT_TRUE(std::isfinite(roi.x1) && std::isfinite(roi.y1) && std::isfinite(roi.x2) &&
                        std::isfinite(roi.y2));
        }
    }
}

TEST_F(HostileValues, AnyCpuCountRendersTheSameOrFailsCleanly) {
    const auto expected = reference();
    for (const unsigned cpus : {1u, 2u, 5u, 12u, 64u, 1000u, 1u << 20, 4294967295u}) {
        SCOPED_TRACE(std::to_string(cpus) + " CPUs");
        host.setCpuCount(cpus);
        const Frame made = frame();
        // A host reporting billions of CPUs would run billions of empty bands if asked to.
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(render(), kOfxStatOK);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        EXPECT_TRUE(samePixels(*made.output, *expected));
        EXPECT_TRUE(made.output->guardsIntact());
    }
    // A host that says it has no CPU, then refuses to run no thread.
    host.setCpuCount(0);
    const Frame made = frame();
    EXPECT_TRUE(isNamedStatus(render()));
    EXPECT_TRUE(made.output->guardsIntact());
}

TEST_F(HostileValues, InstanceDataTheHostMixedUpIsABadHandle) {
    const Frame made = frame();
    ZarvelHost::Effect& instance = session->instance();
    void* const real = instance.instanceData();
    ASSERT_NE(real, nullptr);
    int stranger = 0;
    for (void* data : {static_cast<void*>(&stranger), static_cast<void*>(&instance),
                       static_cast<void*>(static_cast<char*>(real) + 8)}) {
        instance.properties().setPointer(kOfxPropInstanceData, data);
        zarvel::test::CaptureStdout quiet;
        EXPECT_EQ(render(), kOfxStatErrBadHandle);
        EXPECT_EQ(session->plugin().getRegionOfDefinition(instance, 0.0).status,
                  kOfxStatErrBadHandle);
    }
    EXPECT_TRUE(made.outputUntouched());
    instance.properties().setPointer(kOfxPropInstanceData, real);
    EXPECT_EQ(render(), kOfxStatOK);
}

TEST_F(HostileValues, DestroyingAnInstanceTheHostCannotFindStillDeletesIt) {
    ASSERT_EQ(OFX::Private::liveInstanceCount(), 1u);
    session->instance().properties().setPointer(kOfxPropInstanceData, nullptr);
    EXPECT_EQ(session->finish(), kOfxStatOK);
    EXPECT_EQ(OFX::Private::liveInstanceCount(), 0u);

    // And when the host fails to hand over the instance's property set at all.
    ASSERT_EQ(session->start(), kOfxStatOK);
    ASSERT_EQ(OFX::Private::liveInstanceCount(), 1u);
    host.calls().failNthCall("getPropertySet", 1, kOfxStatErrBadHandle);
    zarvel::test::CaptureStdout quiet;
    EXPECT_EQ(session->finish(), kOfxStatErrBadHandle);
    EXPECT_EQ(OFX::Private::liveInstanceCount(), 0u);
}

// Hosts that call actions in an order the standard doesn't allow.
TEST(HostileActionOrder, UnbalancedLoadsAndUnloadsLeaveThePlugInUsable) {
    zarvel::test::CaptureStdout quiet;
    {
        ZarvelHost::Host host;
        ZarvelHost::Plugin plugin(host, linkedPlugin());
        EXPECT_EQ(plugin.unload(), kOfxStatOK);  // an unload before any load
        EXPECT_EQ(plugin.load(), kOfxStatOK);
        EXPECT_EQ(plugin.load(), kOfxStatOK);
        EXPECT_EQ(plugin.unload(), kOfxStatOK);
        EXPECT_EQ(plugin.unload(), kOfxStatOK);
        EXPECT_EQ(plugin.unload(), kOfxStatOK);  // one too many
        EXPECT_EQ(frameStateProblems(), "");
        // Actions after the last unload find no suites.
        EXPECT_EQ(plugin.describe(), kOfxStatErrMissingHostFeature);
    }
    ZarvelHost::Host host;
    const SessionRecord run = runWholeSession(host, linkedPlugin());
    for (const ActionRecord& action : run.actions) {
        EXPECT_TRUE(ZarvelHost::isSuccess(action.status)) << action.action;
    }
    EXPECT_EQ(frameStateProblems(), "");
}

TEST(HostileActionOrder, InstanceActionsOnHandlesThatAreNotInstancesAreBadHandles) {
    zarvel::test::CaptureStdout quiet;
    ZarvelHost::Host host;
    ZarvelHost::Session session(host, linkedPlugin());
    ASSERT_EQ(session.start(), kOfxStatOK);
    ZarvelHost::Plugin& plugin = session.plugin();
    // The descriptor has no instance data at all; a host instance the plug-in never saw has it
    // null.
    auto stranger = ZarvelHost::Effect::makeInstance(
        host, *plugin.contextDescriptor(kOfxImageEffectContextFilter));
    for (ZarvelHost::Effect* effect :
         {plugin.contextDescriptor(kOfxImageEffectContextFilter), stranger.get()}) {
        ZarvelHost::RenderOptions options;
        options.window = {0, 0, 4, 4};
        const OfxStatus render = plugin.render(*effect, options).status;
        EXPECT_TRUE(render == kOfxStatErrBadHandle || render == kOfxStatErrMissingHostFeature);
        EXPECT_EQ(plugin.getRegionOfDefinition(*effect, 0.0).status, render);
    }
    // A second CreateInstance on a live instance's handle: the host asks for two, and one
    // DestroyInstance of the handle ends both.
    EXPECT_EQ(plugin.callMainEntry(kOfxActionCreateInstance, session.instance().handle(), nullptr,
                                   nullptr),
              kOfxStatOK);
    EXPECT_EQ(OFX::Private::liveInstanceCount(), 2u);
    EXPECT_EQ(session.finish(), kOfxStatOK);
    EXPECT_EQ(OFX::Private::liveInstanceCount(), 0u);
    EXPECT_EQ(host.imagesOutstanding(), 0u);
}

TEST(HostileActionOrder, ContextStringsOutsideTheTableFailOnlyTheirAction) {
    zarvel::test::CaptureStdout quiet;
    ZarvelHost::Host host;
    {
        ZarvelHost::Plugin plugin(host, linkedPlugin());
        ASSERT_EQ(plugin.load(), kOfxStatOK);
        ASSERT_EQ(plugin.describe(), kOfxStatOK);
        for (const char* context : {"", "OfxImageEffectContextFilterX", "filter"}) {
            SCOPED_TRACE(context);
            EXPECT_EQ(plugin.describeInContext(context).status, kOfxStatFailed);
        }
        ASSERT_EQ(plugin.describeInContext(kOfxImageEffectContextFilter).status, kOfxStatOK);
        // An instance whose context the host states as something unknown.
        auto instance = ZarvelHost::Effect::makeInstance(
            host, *plugin.contextDescriptor(kOfxImageEffectContextFilter));
        instance->properties().setString(kOfxImageEffectPropContext, "OfxImageEffectContextNew");
        EXPECT_EQ(
            plugin.callMainEntry(kOfxActionCreateInstance, instance->handle(), nullptr, nullptr),
            kOfxStatFailed);
        EXPECT_EQ(instance->instanceData(), nullptr);
        EXPECT_EQ(OFX::Private::liveInstanceCount(), 0u);
        EXPECT_EQ(plugin.unload(), kOfxStatOK);
    }
    EXPECT_EQ(frameStateProblems(), "");
}

TEST(HostileActionOrder, AHostDescriptionWithAnUnknownContextFailsTheLoadAndNothingAfter) {
    zarvel::test::CaptureStdout quiet;
    // The description is read once per process: start from none.
    forgetHostDescription();
    {
        ZarvelHost::Host host;
        host.properties().setStrings(kOfxImageEffectPropSupportedContexts,
                                     {kOfxImageEffectContextFilter, "OfxImageEffectContextNew"});
        ZarvelHost::Plugin plugin(host, linkedPlugin());
        EXPECT_EQ(plugin.load(), kOfxStatFailed);
        EXPECT_EQ(frameStateProblems(), "");
    }
    // A host that loads the plug-in again later finds it as new.
    ZarvelHost::Host host;
    const SessionRecord run = runWholeSession(host, linkedPlugin());
    ASSERT_EQ(run.actions.size(), 14u);
    for (const ActionRecord& action : run.actions) {
        EXPECT_TRUE(ZarvelHost::isSuccess(action.status)) << action.action;
    }
    EXPECT_EQ(frameStateProblems(), "");
}

}  // namespace
}  // namespace zarvel::reliability
