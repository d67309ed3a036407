#include <cstdint>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Image.h"
#include "ofx/ImageEffect.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::PlainEffect;
using zarvel::test::thrownBy;
using ZarvelHost::PixelDepth;

std::intptr_t address(const void* pointer) {
    return reinterpret_cast<std::intptr_t>(pointer);
}

// An instance whose "Source" clip serves one host image at every time.
class Image : public zarvel::test::LoadedHost {
protected:
    std::shared_ptr<ZarvelHost::Image>
    serve(const OfxRectI& bounds, PixelDepth depth = PixelDepth::Byte,
          ZarvelHost::PixelComponents components = ZarvelHost::PixelComponents::RGBA,
          ZarvelHost::RowLayout layout = {}) {
        auto pixels = std::make_shared<ZarvelHost::Image>(bounds, depth, components, layout);
        hostInstance.clip("Source").setImage(pixels);
        return pixels;
    }

    std::unique_ptr<OFX::Image> fetch() { return effect->getClip("Source")->imageAt(0.0); }

    ZarvelHost::Clip& hostClip() { return hostInstance.clip("Source"); }

    void SetUp() override {
        LoadedHost::SetUp();
        effect = std::make_unique<PlainEffect>(hostInstance.handle());
    }

    void TearDown() override {
        effect.reset();
        EXPECT_EQ(host.imagesOutstanding(), 0u) << "every image fetched must be released";
        EXPECT_EQ(host.badImageReleases(), 0u);
    }

    zarvel::test::HostFilterInstance hostInstance{host};
    std::unique_ptr<PlainEffect> effect;
};

TEST_F(Image, ReadsEveryPropertyOnceAndReleasesTheHostsImageWhenDestroyed) {
    auto pixels =
        serve({-3, 5, 7, 9}, PixelDepth::Float, ZarvelHost::PixelComponents::RGBA, {8, false});
    hostInstance.instance->setRenderScale({0.5, 0.25});
    hostInstance.instance->setRenderField(kOfxImageFieldLower);
    hostClip().properties().setString(kOfxImageEffectPropPreMultiplication, kOfxImageOpaque);
    hostClip().imageOverrides().setInts(kOfxImagePropRegionOfDefinition, {-4, 4, 8, 10});
    hostClip().imageOverrides().setDouble(kOfxImagePropPixelAspectRatio, 2.0);
    hostClip().imageOverrides().setString(kOfxImagePropUniqueIdentifier, "frame-7");

    std::unique_ptr<OFX::Image> image = fetch();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(host.imagesOutstanding(), 1u);
    host.calls().resetCounts();
    EXPECT_EQ(image->getPixelData(), pixels->data());
    EXPECT_EQ(image->getRowBytes(), 10 * 16 + 8);
    EXPECT_EQ(image->getPixelBytes(), 16);
    EXPECT_EQ(image->getBitDepth(), OFX::depthFloat);
    EXPECT_EQ(image->getComponents(), OFX::componentsRGBA);
    EXPECT_EQ(image->getPremultiplication(), OFX::premultOpaque);
    EXPECT_EQ(image->getBounds().x1, -3);
    EXPECT_EQ(image->getBounds().y1, 5);
    EXPECT_EQ(image->getBounds().x2, 7);
    EXPECT_EQ(image->getBounds().y2, 9);
    EXPECT_EQ(image->getRod().x1, -4);
    EXPECT_EQ(image->getRod().y2, 10);
    EXPECT_EQ(image->getPixelAspectRatio(), 2.0);
    EXPECT_EQ(image->getFieldOrder(), OFX::fieldLower);
    EXPECT_EQ(image->getUniqueId(), "frame-7");
    EXPECT_EQ(image->getRenderScale().x, 0.5);
    EXPECT_EQ(image->getRenderScale().y, 0.25);
    EXPECT_EQ(image->pixelAt(6, 8), pixels->pixelAddress(6, 8));
    EXPECT_EQ(host.calls().callCount(), 0u) << "nothing is asked again after construction";

    image.reset();
    EXPECT_EQ(host.imagesReleased(), 1u);
}

// Every address pixelAt gives matches the host's own, for every layout, depth and pixel type,
// and pixels outside the bounds have none.
TEST_F(Image, PixelAddressesMatchTheHostsForEveryLayout) {
    const OfxRectI boundsList[] = {{0, 0, 10, 10}, {-7, 3, 2, 6}, {100, -50, 103, -45}};
    const ZarvelHost::RowLayout layouts[] = {{0, false}, {0, true}, {12, false}, {12, true}};
    for (const OfxRectI& bounds : boundsList) {
        for (const ZarvelHost::RowLayout& layout : layouts) {
            for (PixelDepth depth : {PixelDepth::Byte, PixelDepth::Short, PixelDepth::Float}) {
                for (auto components :
                     {ZarvelHost::PixelComponents::RGBA, ZarvelHost::PixelComponents::Alpha}) {
                    auto pixels = serve(bounds, depth, components, layout);
                    std::unique_ptr<OFX::Image> image = fetch();
                    SCOPED_TRACE(testing::Message()
                                 << "bounds x " << bounds.x1 << " y " << bounds.y1 << " row bytes "
                                 << image->getRowBytes() << " pixel bytes "
                                 << image->getPixelBytes());
                    EXPECT_EQ(image->getPixelBytes(), pixels->pixelBytes());
                    for (int y = bounds.y1 - 2; y < bounds.y2 + 2; ++y) {
                        for (int x = bounds.x1 - 2; x < bounds.x2 + 2; ++x) {
                            ASSERT_EQ(image->pixelAt(x, y), pixels->pixelAddress(x, y))
                                << "pixel " << x << ", " << y;
                        }
                    }
                }
            }
        }
    }
}

// Offsets beyond 2 GiB (either way) need 64-bit arithmetic; the data address is made up, as
// only the arithmetic is under test.
TEST_F(Image, OffsetsOfLargeImagesDoNotOverflow) {
    serve({0, 0, 1, 1});
    auto* fakeData = reinterpret_cast<void*>(std::intptr_t(1) << 44);
    hostClip().imageOverrides().setPointer(kOfxImagePropData, fakeData);
    hostClip().imageOverrides().setInts(kOfxImagePropBounds, {-20000, -10, 5000, 30000});
    for (int rowBytes : {100000, -100000}) {
        hostClip().imageOverrides().setInt(kOfxImagePropRowBytes, rowBytes);
        std::unique_ptr<OFX::Image> image = fetch();
        const std::int64_t lastRow = std::int64_t(29999) - -10;
        const std::int64_t lastColumn = std::int64_t(4999) - -20000;
        EXPECT_EQ(address(image->pixelAt(4999, 29999)) - address(fakeData),
                  lastRow * rowBytes + lastColumn * 4);
        EXPECT_EQ(address(image->pixelAt(-20000, -10)), address(fakeData));
    }
}

TEST_F(Image, OnlyByteShortAndFloatRGBAOrAlphaPixelsAreAddressable) {
    struct Case {
        OFX::PixelComponents components;
        OFX::BitDepth depth;
        int bytes;
    };
    const Case cases[] = {
        {OFX::componentsRGBA, OFX::depthByte, 4},     {OFX::componentsRGBA, OFX::depthShort, 8},
        {OFX::componentsRGBA, OFX::depthFloat, 16},   {OFX::componentsAlpha, OFX::depthByte, 1},
        {OFX::componentsAlpha, OFX::depthShort, 2},   {OFX::componentsAlpha, OFX::depthFloat, 4},
        {OFX::componentsNone, OFX::depthFloat, 0},    {OFX::componentsCustom, OFX::depthByte, 0},
        {OFX::componentsRGBA, OFX::depthNone, 0},     {OFX::componentsRGBA, OFX::depthCustom, 0},
        {OFX::componentsRGBA, OFX::depthByteBGR, 0},  {OFX::componentsAlpha, OFX::depthShortBGR, 0},
        {OFX::componentsRGBA, OFX::depthFloatBGR, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OFX::pixelBytesOf(c.components, c.depth), c.bytes)
            << "components " << c.components << " depth " << c.depth;
    }

    serve({0, 0, 4, 4});
    for (auto [components, depth] : {std::pair{kOfxImageComponentNone, kOfxBitDepthByte},
                                     std::pair{kOfxImageComponentRGBA, kOfxBitDepthByteBGR}}) {
        SCOPED_TRACE(testing::Message() << components << " " << depth);
        hostClip().imageOverrides().setString(kOfxImageEffectPropComponents, components);
        hostClip().imageOverrides().setString(kOfxImageEffectPropPixelDepth, depth);
        std::unique_ptr<OFX::Image> image = fetch();
        EXPECT_EQ(image->getPixelBytes(), 0);
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 4; ++x) {
                EXPECT_EQ(image->pixelAt(x, y), nullptr);
            }
        }
    }
}

TEST_F(Image, AnUnknownFieldIsLoggedAndTakenAsNone) {
    serve({0, 0, 2, 2});
    hostClip().imageOverrides().setString(kOfxImagePropField, "OfxFieldBogus");
    zarvel::test::CaptureLog log;
    std::unique_ptr<OFX::Image> image = fetch();
    EXPECT_EQ(image->getFieldOrder(), OFX::fieldNone);
    EXPECT_NE(log.text().find("ERROR : Unknown field state 'OfxFieldBogus' reported on an image\n"),
              std::string::npos);
}

TEST_F(Image, PremultiplicationOutsideTheThreeFailsTheFetchAndReleasesTheImage) {
    serve({0, 0, 2, 2});
    for (auto [text, value] : {std::pair{kOfxImageOpaque, OFX::premultOpaque},
                               std::pair{kOfxImagePreMultiplied, OFX::premultPremultiplied},
                               std::pair{kOfxImageUnPreMultiplied, OFX::premultUnPremultiplied}}) {
        hostClip().imageOverrides().setString(kOfxImageEffectPropPreMultiplication, text);
        EXPECT_EQ(fetch()->getPremultiplication(), value);
    }
    for (const char* text : {"", "OfxImageAlphaPremultipliedX"}) {
        hostClip().imageOverrides().setString(kOfxImageEffectPropPreMultiplication, text);
        EXPECT_EQ(thrownBy([&] { fetch(); }), "invalid_argument: ");
        EXPECT_EQ(host.imagesOutstanding(), 0u);
    }
    EXPECT_EQ(host.imagesReleased(), host.imagesFetched());
}

TEST_F(Image, AnyPropertyTheHostCannotSupplyFailsTheFetchAndReleasesTheImage) {
    const char* properties[] = {
        kOfxImagePropData,
        kOfxImagePropRowBytes,
        kOfxImagePropPixelAspectRatio,
        kOfxImageEffectPropComponents,
        kOfxImageEffectPropPixelDepth,
        kOfxImageEffectPropPreMultiplication,
        kOfxImagePropRegionOfDefinition,
        kOfxImagePropBounds,
        kOfxImagePropField,
        kOfxImagePropUniqueIdentifier,
        kOfxImageEffectPropRenderScale,
    };
    for (const char* property : properties) {
        SCOPED_TRACE(property);
        effect.reset();
        hostInstance.instance.reset();
        hostInstance.instance =
            ZarvelHost::Effect::makeInstance(host, *hostInstance.contextDescriptor);
        effect = std::make_unique<PlainEffect>(hostInstance.handle());
        serve({0, 0, 2, 2});
        hostClip().removeImageProperty(property);
        EXPECT_EQ(thrownBy([&] { fetch(); }), std::string("PropertyUnknownToHost: ") + property);
        EXPECT_EQ(host.imagesOutstanding(), 0u);
    }
}

// Each host call of a fetch, failed in turn: the exception its rule names, a null image for a
// host that has none, and the host's image released whatever happened.
TEST_F(Image, EveryFailingCallOfAFetchRaisesItsExceptionAndLeaksNoImage) {
    serve({0, 0, 3, 3});
    effect->getClip("Source");
    const std::uint64_t calls = zarvel::test::hostCallsOf(host, [&] { fetch(); });
    ASSERT_EQ(calls, 20u);  // the fetch, 18 property reads, the release
    for (OfxStatus status : {kOfxStatFailed, kOfxStatErrUnknown, kOfxStatErrValue,
                             kOfxStatErrMemory, kOfxStatErrBadIndex}) {
        for (std::uint64_t index = 0; index + 1 < calls; ++index) {
            bool gotImage = false;
            auto outcome = zarvel::test::runWithFault(host, index, status,
                                                      [&] { gotImage = fetch() != nullptr; });
            SCOPED_TRACE(testing::Message() << "call " << index << " " << outcome.function << " "
                                            << outcome.name << " fails with " << status);
            ASSERT_TRUE(outcome.fired);
            if (outcome.function == "clipGetImage" && status == kOfxStatFailed) {
                EXPECT_EQ(outcome.thrown, "nothing");
                EXPECT_FALSE(gotImage) << "no image, no exception";
            } else {
                EXPECT_EQ(outcome.thrown,
                          zarvel::test::checkedCallOutcome(outcome.function, outcome.name, status));
            }
            EXPECT_EQ(host.imagesOutstanding(), 0u);
        }
    }
}

TEST_F(Image, ARefusedReleaseIsIgnoredAndAMissingImageIsNull) {
    serve({0, 0, 2, 2});
    std::unique_ptr<OFX::Image> image = fetch();
    OfxPropertySetHandle handle = image->getImageProps().propSetHandle();
    host.calls().failNthCall("clipReleaseImage", 1, kOfxStatErrBadHandle);
    EXPECT_EQ(thrownBy([&] { image.reset(); }), "nothing");
    EXPECT_EQ(host.imagesOutstanding(), 1u);
    // The host still holds it; hand it back so the fixture's balance holds.
    OFX::hostSuites.imageEffectSuite.load()->clipReleaseImage(handle);

    hostClip().clearImages();
    EXPECT_EQ(fetch(), nullptr);
}

}  // namespace
