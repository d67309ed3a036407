// Effects, clips and images through the image-effect suite: what an image handed to the
// plug-in says, the fetch/release bookkeeping, and the overrides that bend image properties.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Suites.h"

namespace {

using ZarvelHost::Clip;
using ZarvelHost::Effect;
using ZarvelHost::Host;
using ZarvelHost::HostPropertySet;
using ZarvelHost::Image;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

class TestHostEffect : public ::testing::Test {
protected:
    void SetUp() override {
        descriptor = Effect::makeDescriptor(host);
        filter = Effect::makeContextDescriptor(host, *descriptor, kOfxImageEffectContextFilter);
        OfxPropertySetHandle clipProps = nullptr;
        ASSERT_EQ(effects.clipDefine(filter->handle(), "Source", &clipProps), kOfxStatOK);
        ASSERT_EQ(props.propSetString(clipProps, kOfxImageEffectPropSupportedComponents, 0,
                                      kOfxImageComponentAlpha),
                  kOfxStatOK);
        ASSERT_EQ(effects.clipDefine(filter->handle(), "Output", &clipProps), kOfxStatOK);
        instance = Effect::makeInstance(host, *filter);
        ASSERT_EQ(effects.clipGetHandle(instance->handle(), "Source", &source, nullptr),
                  kOfxStatOK);
    }

    OfxPropertySetHandle fetch(double time = 0.0) {
        OfxPropertySetHandle image = nullptr;
        EXPECT_EQ(effects.clipGetImage(source, time, nullptr, &image), kOfxStatOK);
        return image;
    }

    Host host;
    const OfxImageEffectSuiteV1& effects = *ZarvelHost::imageEffectSuite();
    const OfxPropertySuiteV1& props = *ZarvelHost::propertySuite();
    std::unique_ptr<Effect> descriptor;
    std::unique_ptr<Effect> filter;
    std::unique_ptr<Effect> instance;
    OfxImageClipHandle source = nullptr;
};

TEST_F(TestHostEffect, InstanceCarriesTheDescribedClipsAndContext) {
    HostPropertySet& sourceProps = instance->clip("Source").properties();
    EXPECT_EQ(sourceProps.getStrings(kOfxImageEffectPropSupportedComponents),
              std::vector<std::string>{kOfxImageComponentAlpha});
    EXPECT_EQ(instance->properties().getString(kOfxImageEffectPropContext),
              kOfxImageEffectContextFilter);
    OfxImageClipHandle unknown = nullptr;
    EXPECT_EQ(effects.clipGetHandle(instance->handle(), "Mask", &unknown, nullptr),
              kOfxStatErrUnknown);
    EXPECT_EQ(effects.clipDefine(instance->handle(), "Late", nullptr), kOfxStatErrUnsupported);
    EXPECT_EQ(effects.clipDefine(filter->handle(), "Source", nullptr), kOfxStatErrExists);

    int marker = 0;
    OfxPropertySetHandle effectProps = nullptr;
    ASSERT_EQ(effects.getPropertySet(instance->handle(), &effectProps), kOfxStatOK);
    EXPECT_EQ(props.propSetPointer(effectProps, kOfxPropInstanceData, 0, &marker), kOfxStatOK);
    EXPECT_EQ(instance->instanceData(), &marker);
}

TEST_F(TestHostEffect, FailsToFetchWithoutAnImageForThatTime) {
    OfxPropertySetHandle image = nullptr;
    EXPECT_EQ(effects.clipGetImage(source, 0.0, nullptr, &image), kOfxStatFailed);
    instance->clip("Source").setImageAt(
        5.0,
        std::make_shared<Image>(OfxRectI{0, 0, 2, 2}, PixelDepth::Byte, PixelComponents::RGBA));
    EXPECT_EQ(effects.clipGetImage(source, 4.0, nullptr, &image), kOfxStatFailed);
    EXPECT_EQ(effects.clipGetImage(source, 5.0, nullptr, &image), kOfxStatOK);
    EXPECT_EQ(effects.clipReleaseImage(image), kOfxStatOK);
    instance->clip("Source").setConnected(false);
    EXPECT_EQ(effects.clipGetImage(source, 5.0, nullptr, &image), kOfxStatFailed);
    EXPECT_EQ(host.imagesFetched(), 1u);
}

TEST_F(TestHostEffect, DescribesTheHostOwnedPixels) {
    auto pixels = std::make_shared<Image>(OfxRectI{-3, 4, 7, 9}, PixelDepth::Short,
                                          PixelComponents::Alpha, ZarvelHost::RowLayout{6, true});
    instance->clip("Source").setImage(pixels);
    instance->setRenderScale({0.5, 0.5});
    OfxPropertySetHandle image = fetch();
    HostPropertySet* seen = host.findPropertySet(image);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen->getRectI(kOfxImagePropBounds).x1, -3);
    EXPECT_EQ(seen->getInt(kOfxImagePropRowBytes), -(10 * 2 + 6));
    void* data = nullptr;
    EXPECT_EQ(props.propGetPointer(image, kOfxImagePropData, 0, &data), kOfxStatOK);
    EXPECT_EQ(data, pixels->data());
    EXPECT_EQ(seen->getString(kOfxImageEffectPropPixelDepth), kOfxBitDepthShort);
    EXPECT_EQ(seen->getString(kOfxImageEffectPropComponents), kOfxImageComponentAlpha);
    EXPECT_EQ(seen->getString(kOfxImageEffectPropPreMultiplication), kOfxImagePreMultiplied);
    EXPECT_EQ(seen->getPointD(kOfxImageEffectPropRenderScale).x, 0.5);
    EXPECT_EQ(seen->getString(kOfxImagePropField), kOfxImageFieldNone);
    EXPECT_FALSE(seen->getString(kOfxImagePropUniqueIdentifier).empty());
    EXPECT_EQ(props.propSetInt(image, kOfxImagePropRowBytes, 0, 1), kOfxStatErrValue);
    EXPECT_EQ(instance->clip("Source").properties().getString(kOfxImageEffectPropPixelDepth),
              kOfxBitDepthShort);
    EXPECT_EQ(effects.clipReleaseImage(image), kOfxStatOK);
}

TEST_F(TestHostEffect, CountsFetchesReleasesAndBadReleases) {
    instance->clip("Source").setImage(
        std::make_shared<Image>(OfxRectI{0, 0, 4, 4}, PixelDepth::Float, PixelComponents::RGBA));
    OfxPropertySetHandle first = fetch();
    OfxPropertySetHandle second = fetch();
    EXPECT_NE(first, second);
    EXPECT_EQ(host.imagesOutstanding(), 2u);
    EXPECT_EQ(effects.clipReleaseImage(first), kOfxStatOK);
    EXPECT_EQ(effects.clipReleaseImage(first), kOfxStatErrBadHandle);
    EXPECT_EQ(effects.clipReleaseImage(nullptr), kOfxStatErrBadHandle);
    EXPECT_EQ(effects.clipReleaseImage(instance->properties().handle()), kOfxStatErrBadHandle);
    EXPECT_EQ(host.imagesFetched(), 2u);
    EXPECT_EQ(host.imagesReleased(), 1u);
    EXPECT_EQ(host.badImageReleases(), 3u);
    EXPECT_EQ(host.imagesOutstanding(), 1u);
    int value = 0;
    EXPECT_EQ(props.propGetInt(first, kOfxImagePropRowBytes, 0, &value), kOfxStatErrBadHandle)
        << "a released image's properties are gone";
    EXPECT_EQ(effects.clipReleaseImage(second), kOfxStatOK);
}

TEST_F(TestHostEffect, HostSideFetchCountsTheImageButNoCall) {
    Clip& clip = instance->clip("Source");
    EXPECT_EQ(clip.fetchImage(0.0), nullptr);
    clip.setImage(
        std::make_shared<Image>(OfxRectI{0, 0, 1, 1}, PixelDepth::Float, PixelComponents::Alpha));
    const std::uint64_t callsBefore = host.calls().callCount();
    OfxPropertySetHandle image = clip.fetchImage(0.0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(host.calls().callCount(), callsBefore);
    EXPECT_EQ(host.imagesOutstanding(), 1u);
    EXPECT_EQ(host.releaseImage(image), kOfxStatOK);
    EXPECT_EQ(host.imagesOutstanding(), 0u);
}

TEST_F(TestHostEffect, OverridesGiveImagesAnyValueAtAll) {
    Clip& clip = instance->clip("Source");
    clip.setImage(
        std::make_shared<Image>(OfxRectI{0, 0, 4, 4}, PixelDepth::Byte, PixelComponents::RGBA));
    clip.imageOverrides().setPointer(kOfxImagePropData, nullptr);
    clip.imageOverrides().setInt(kOfxImagePropRowBytes, 3);
    clip.imageOverrides().setString(kOfxImageEffectPropPixelDepth, "OfxBitDepthHalf");
    clip.imageOverrides().setInts(kOfxImagePropBounds, {5, 5, -5, -5});
    clip.removeImageProperty(kOfxImagePropField);
    OfxPropertySetHandle image = fetch();
    void* data = &image;
    EXPECT_EQ(props.propGetPointer(image, kOfxImagePropData, 0, &data), kOfxStatOK);
    EXPECT_EQ(data, nullptr);
    int rowBytes = 0;
    EXPECT_EQ(props.propGetInt(image, kOfxImagePropRowBytes, 0, &rowBytes), kOfxStatOK);
    EXPECT_EQ(rowBytes, 3);
    char* depth = nullptr;
    EXPECT_EQ(props.propGetString(image, kOfxImageEffectPropPixelDepth, 0, &depth), kOfxStatOK);
    EXPECT_STREQ(depth, "OfxBitDepthHalf");
    int x2 = 0;
    EXPECT_EQ(props.propGetInt(image, kOfxImagePropBounds, 2, &x2), kOfxStatOK);
    EXPECT_EQ(x2, -5);
    EXPECT_EQ(props.propGetString(image, kOfxImagePropField, 0, &depth), kOfxStatErrUnknown);
    EXPECT_EQ(effects.clipReleaseImage(image), kOfxStatOK);
}

TEST_F(TestHostEffect, AnswersTheRegionOfDefinitionSetOrTheImageBounds) {
    OfxRectD rod{};
    EXPECT_EQ(effects.clipGetRegionOfDefinition(source, 0.0, &rod), kOfxStatFailed);
    instance->clip("Source").setImage(
        std::make_shared<Image>(OfxRectI{2, 3, 12, 23}, PixelDepth::Byte, PixelComponents::RGBA));
    instance->setRenderScale({0.5, 0.5});
    EXPECT_EQ(effects.clipGetRegionOfDefinition(source, 0.0, &rod), kOfxStatOK);
    EXPECT_EQ(rod.x1, 4.0);
    EXPECT_EQ(rod.y2, 46.0);
    instance->clip("Source").setRegionOfDefinition({-1.5, 0, 100, 50});
    EXPECT_EQ(effects.clipGetRegionOfDefinition(source, 0.0, &rod), kOfxStatOK);
    EXPECT_EQ(rod.x1, -1.5);
}

TEST_F(TestHostEffect, AbortsOnTheSwitchOrAfterSomeCalls) {
    EXPECT_EQ(effects.abort(instance->handle()), 0);
    host.setAbort(true);
    EXPECT_EQ(effects.abort(instance->handle()), 1);
    host.clearAbort();
    host.setAbortAfter(2);
    EXPECT_EQ(effects.abort(instance->handle()), 0);
    EXPECT_EQ(effects.abort(instance->handle()), 0);
    EXPECT_EQ(effects.abort(instance->handle()), 1);
    EXPECT_EQ(effects.abort(instance->handle()), 1);
    host.clearAbort();
    EXPECT_EQ(effects.abort(instance->handle()), 0);
}

TEST(TestHostImage, LaysRowsOutWithTheirSignAndPadding) {
    Image image(OfxRectI{10, 20, 13, 22}, PixelDepth::Byte, PixelComponents::RGBA,
                ZarvelHost::RowLayout{4, true});
    EXPECT_EQ(image.rowBytes(), -16);
    auto* base = static_cast<unsigned char*>(image.data());
    EXPECT_EQ(image.pixelAddress(10, 21), base - 16);
    EXPECT_EQ(image.pixelAddress(12, 20), base + 8);
    EXPECT_EQ(image.pixelAddress(13, 20), nullptr);
    EXPECT_EQ(image.pixelAddress(10, 19), nullptr);

    image.set(12, 21, 3, 1.0f);
    EXPECT_EQ(image.get(12, 21, 3), 1.0f);
    EXPECT_TRUE(image.guardsIntact());
    base[-16 + 12] = 1;  // the padding after row 21
    EXPECT_FALSE(image.guardsIntact());
}

TEST(TestHostImage, ConvertsNormalisedValuesPerDepth) {
    Image shorts(OfxRectI{0, 0, 1, 1}, PixelDepth::Short, PixelComponents::Alpha);
    shorts.set(0, 0, 0, 0.5f);
    EXPECT_EQ(*static_cast<unsigned short*>(shorts.data()), 32768);
    shorts.set(0, 0, 0, 7.0f);
    EXPECT_EQ(shorts.get(0, 0, 0), 1.0f);
    Image floats(OfxRectI{0, 0, 1, 1}, PixelDepth::Float, PixelComponents::RGBA);
    floats.set(0, 0, 2, -3.0f);
    EXPECT_EQ(floats.get(0, 0, 2), -3.0f);
    EXPECT_THROW(floats.get(0, 0, 4), std::out_of_range);
    Image empty(OfxRectI{5, 5, 5, 9}, PixelDepth::Byte, PixelComponents::RGBA);
    EXPECT_NE(empty.data(), nullptr);
    EXPECT_EQ(empty.width(), 0);
}

}  // namespace
