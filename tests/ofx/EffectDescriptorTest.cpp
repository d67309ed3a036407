#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "ofx/ImageEffect.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::thrownBy;

OfxStatus interactEntry(const char*, const void*, OfxPropertySetHandle, OfxPropertySetHandle) {
    return kOfxStatOK;
}

// An interact that counts its deletions.
class TestInteract : public OFX::InteractDescriptor {
public:
    TestInteract(int& deleted, OfxPluginEntryPoint* entry)
        : deleted_(deleted)
        , entry_(entry) {}
    ~TestInteract() override { ++deleted_; }
    OfxPluginEntryPoint* mainEntry() const override { return entry_; }

private:
    int& deleted_;
    OfxPluginEntryPoint* entry_;
};

// The host's descriptor of a filter being described in its context.
class EffectDescriptor : public zarvel::test::LoadedHost {
protected:
    std::unique_ptr<ZarvelHost::Effect> main = ZarvelHost::Effect::makeDescriptor(host);
    std::unique_ptr<ZarvelHost::Effect> hostDescriptor =
        ZarvelHost::Effect::makeContextDescriptor(host, *main, kOfxImageEffectContextFilter);
    ZarvelHost::HostPropertySet& props = hostDescriptor->properties();
};

TEST_F(EffectDescriptor, BindsToTheHostsPropertyAndParameterSets) {
    OFX::ImageEffectDescriptor descriptor(hostDescriptor->handle());
    EXPECT_EQ(descriptor.getEffectHandle(), hostDescriptor->handle());
    EXPECT_EQ(descriptor.getEffectProps().propSetHandle(), props.handle());
    EXPECT_EQ(descriptor.getParamSetHandle(), hostDescriptor->params().handle());
    EXPECT_NE(descriptor.defineDoubleParam("width"), nullptr);
    EXPECT_NE(hostDescriptor->params().find("width"), nullptr);

    zarvel::test::CaptureStdout out;
    for (const char* function : {"getPropertySet", "getParamSet", "paramSetGetPropertySet"}) {
        SCOPED_TRACE(function);
        host.calls().failNthCall(function, 1, kOfxStatErrBadHandle);
        EXPECT_EQ(thrownBy([&] { OFX::ImageEffectDescriptor refused(hostDescriptor->handle()); }),
                  "Suite: kOfxStatErrBadHandle");
    }
}

TEST_F(EffectDescriptor, ListDeclarationsAppendTheValuesThatHaveAString) {
    OFX::ImageEffectDescriptor descriptor(hostDescriptor->handle());
    descriptor.declareBitDepth(OFX::depthByte);
    descriptor.declareBitDepth(OFX::depthShort);
    descriptor.declareBitDepth(OFX::depthFloat);
    host.calls().resetCounts();
    descriptor.declareBitDepth(OFX::depthCustom);
    descriptor.declareBitDepth(OFX::depthNone);
    EXPECT_EQ(host.calls().callCount("propGetDimension"), 2u);
    EXPECT_EQ(host.calls().callCount("propSetString"), 0u);
    descriptor.declareBitDepth(OFX::depthShortBGR);
    EXPECT_EQ(props.getStrings(kOfxImageEffectPropSupportedPixelDepths),
              (std::vector<std::string>{kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat,
                                        kOfxBitDepthShortBGR}));

    props.setStrings(kOfxImageEffectPropSupportedContexts, {kOfxImageEffectContextGeneral});
    descriptor.declareContext(OFX::contextFilter);
    descriptor.declareContext(OFX::contextNone);
    descriptor.declareContext(OFX::contextFilter);
    EXPECT_EQ(props.getStrings(kOfxImageEffectPropSupportedContexts),
              (std::vector<std::string>{kOfxImageEffectContextGeneral, kOfxImageEffectContextFilter,
                                        kOfxImageEffectContextFilter}));

    OFX::ClipDescriptor* source = descriptor.declareClip("Source");
    source->declareComponents(OFX::componentsAlpha);
    source->declareComponents(OFX::componentsNone);
    source->declareComponents(OFX::componentsCustom);
    source->declareComponents(OFX::componentsRGBA);
    EXPECT_EQ(hostDescriptor->clip("Source").properties().getStrings(
                  kOfxImageEffectPropSupportedComponents),
              (std::vector<std::string>{kOfxImageComponentAlpha, kOfxImageComponentRGBA}));
}

TEST_F(EffectDescriptor, TextsAndFlagsAreWrittenAtOnce) {
    OFX::ImageEffectDescriptor descriptor(hostDescriptor->handle());
    descriptor.declareLabels("Outline", "Outl", "Fast outline");
    descriptor.declareDescription("Draws an outline");
    descriptor.declareGrouping("Filter");
    EXPECT_EQ(props.getString(kOfxPropLabel), "Outline");
    EXPECT_EQ(props.getString(kOfxPropShortLabel), "Outl");
    EXPECT_EQ(props.getString(kOfxPropLongLabel), "Fast outline");
    EXPECT_EQ(props.getString(kOfxPropPluginDescription), "Draws an outline");
    EXPECT_EQ(props.getString(kOfxImageEffectPluginPropGrouping), "Filter");

    using Declare = void (OFX::ImageEffectDescriptor::*)(bool);
    const std::pair<Declare, const char*> flags[] = {
        {&OFX::ImageEffectDescriptor::declareSingleInstance,
         kOfxImageEffectPluginPropSingleInstance},
        {&OFX::ImageEffectDescriptor::declareHostFrameThreading,
         kOfxImageEffectPluginPropHostFrameThreading},
        {&OFX::ImageEffectDescriptor::declareMultiResolution,
         kOfxImageEffectPropSupportsMultiResolution},
        {&OFX::ImageEffectDescriptor::declareTiles, kOfxImageEffectPropSupportsTiles},
        {&OFX::ImageEffectDescriptor::declareTemporalClipAccess,
         kOfxImageEffectPropTemporalClipAccess},
        {&OFX::ImageEffectDescriptor::declareRenderTwiceAlways,
         kOfxImageEffectPluginPropFieldRenderTwiceAlways},
        {&OFX::ImageEffectDescriptor::declareMultipleClipPARs,
         kOfxImageEffectPropSupportsMultipleClipPARs},
        {&OFX::ImageEffectDescriptor::declareMultipleClipDepths,
         kOfxImageEffectPropMultipleClipDepths},
    };
    for (const auto& [declare, property] : flags) {
        SCOPED_TRACE(property);
        (descriptor.*declare)(true);
        EXPECT_EQ(props.getInt(property), 1);
        (descriptor.*declare)(false);
        EXPECT_EQ(props.getInt(property), 0);
    }

    OFX::ClipDescriptor* mask = descriptor.declareClip("Mask");
    ZarvelHost::HostPropertySet& clipProps = hostDescriptor->clip("Mask").properties();
    using DeclareClip = void (OFX::ClipDescriptor::*)(bool);
    const std::pair<DeclareClip, const char*> clipFlags[] = {
        {&OFX::ClipDescriptor::declareTemporalClipAccess, kOfxImageEffectPropTemporalClipAccess},
        {&OFX::ClipDescriptor::declareTiles, kOfxImageEffectPropSupportsTiles},
        {&OFX::ClipDescriptor::declareIsMask, kOfxImageClipPropIsMask},
        {&OFX::ClipDescriptor::declareOptional, kOfxImageClipPropOptional},
    };
    for (const auto& [declare, property] : clipFlags) {
        SCOPED_TRACE(property);
        (mask->*declare)(true);
        EXPECT_EQ(clipProps.getInt(property), 1);
        (mask->*declare)(false);
        EXPECT_EQ(clipProps.getInt(property), 0);
    }
}

TEST_F(EffectDescriptor, OnlyTheLabelIsRequiredOfTheHost) {
    OFX::ImageEffectDescriptor descriptor(hostDescriptor->handle());
    props.remove(kOfxPropShortLabel);
    props.remove(kOfxPropLongLabel);
    EXPECT_EQ(thrownBy([&] { descriptor.declareLabels("Outline", "Outl", "Fast outline"); }),
              "nothing");
    props.remove(kOfxPropLabel);
    EXPECT_EQ(thrownBy([&] { descriptor.declareLabels("Outline", "Outl", "Fast outline"); }),
              "PropertyUnknownToHost: OfxPropLabel");
}

// Every checked host call of the declarations, failed in turn, raises its rule's exception.
TEST_F(EffectDescriptor, EveryFailingDeclarationRaisesItsPropertyFailure) {
    OFX::ImageEffectDescriptor descriptor(hostDescriptor->handle());
    OFX::ClipDescriptor* source = descriptor.declareClip("Source");
    auto describe = [&] {
        descriptor.declareLabels("Outline", "Outl", "Fast outline");
        descriptor.declareGrouping("Filter");
        descriptor.declareContext(OFX::contextFilter);
        descriptor.declareBitDepth(OFX::depthFloat);
        descriptor.declareTiles(true);
        source->declareComponents(OFX::componentsRGBA);
        source->declareOptional(false);
    };
    const std::uint64_t calls = zarvel::test::hostCallsOf(host, describe);
    ASSERT_EQ(calls, 12u);
    for (OfxStatus status : {kOfxStatErrUnknown, kOfxStatErrValue, kOfxStatErrMemory}) {
        for (std::uint64_t index = 0; index < calls; ++index) {
            auto outcome = zarvel::test::runWithFault(host, index, status, describe);
            SCOPED_TRACE(testing::Message() << "call " << index << " " << outcome.function << " "
                                            << outcome.name << " fails with " << status);
            ASSERT_TRUE(outcome.fired);
            bool optionalText =
                outcome.name == kOfxPropShortLabel || outcome.name == kOfxPropLongLabel;
            EXPECT_EQ(outcome.thrown,
                      optionalText ? "nothing"
                                   : zarvel::test::propertyRuleOutcome(status, outcome.name));
        }
    }
}

TEST_F(EffectDescriptor, AClipIsDefinedOnceWithItsFivePropertyNames) {
    OFX::ImageEffectDescriptor descriptor(hostDescriptor->handle());
    OFX::ClipDescriptor* output = descriptor.declareClip("Output");
    EXPECT_EQ(descriptor.declareClip("Output"), output);
    EXPECT_EQ(host.calls().callCount("clipDefine"), 1u);
    EXPECT_EQ(output->getName(), "Output");
    EXPECT_EQ(output->getClipProps().propSetHandle(),
              hostDescriptor->clip("Output").properties().handle());
    using Names = OFX::ClipPropertyNames;
    EXPECT_EQ(descriptor.getComponentsPropNames(),
              (Names{{"Output", "OfxImageClipPropComponents_Output"}}));
    EXPECT_EQ(descriptor.getDepthPropNames(), (Names{{"Output", "OfxImageClipPropDepth_Output"}}));
    EXPECT_EQ(descriptor.getParPropNames(), (Names{{"Output", "OfxImageClipPropPAR_Output"}}));
    EXPECT_EQ(descriptor.getRoiPropNames(), (Names{{"Output", "OfxImageClipPropRoI_Output"}}));
    EXPECT_EQ(descriptor.getFrameRangePropNames(),
              (Names{{"Output", "OfxImageClipPropFrameRange_Output"}}));
}

TEST_F(EffectDescriptor, ARefusedClipDefinitionMakesNoClip) {
    OFX::ImageEffectDescriptor descriptor(hostDescriptor->handle());
    zarvel::test::CaptureStdout out;
    host.calls().failNthCall("clipDefine", 1, kOfxStatErrValue);
    EXPECT_EQ(thrownBy([&] { descriptor.declareClip("Source"); }), "Suite: kOfxStatErrValue");
    host.calls().failNthCall("clipDefine", 1, kOfxStatErrMemory);
    EXPECT_EQ(thrownBy([&] { descriptor.declareClip("Source"); }), "bad_alloc");
    EXPECT_TRUE(descriptor.getRoiPropNames().empty());
    // The host's own refusal of a name it already has is a failure too.
    hostDescriptor->defineClip("Taken");
    EXPECT_EQ(thrownBy([&] { descriptor.declareClip("Taken"); }), "Suite: kOfxStatErrExists");
    EXPECT_EQ(descriptor.getDepthPropNames().count("Taken"), 0u);

    OFX::ClipDescriptor* source = descriptor.declareClip("Source");
    EXPECT_EQ(source->getClipProps().propSetHandle(),
              hostDescriptor->clip("Source").properties().handle());
}

TEST_F(EffectDescriptor, InteractsAreOwnedAndTheirEntriesWrittenWhereTheHostTakesThem) {
    int deleted = 0;
    {
        OFX::ImageEffectDescriptor descriptor(hostDescriptor->handle());
        ASSERT_FALSE(OFX::hostDescription().supportsOverlays);
        auto* overlay = new TestInteract(deleted, &interactEntry);
        descriptor.attachOverlayInteract(overlay);
        EXPECT_EQ(descriptor.getOverlayInteract(), overlay);
        EXPECT_EQ(props.getPointer(kOfxImageEffectPluginPropOverlayInteractV1), nullptr)
            << "the host has no overlays";

        OFX::Private::mutableHostDescription().supportsOverlays = true;
        descriptor.attachOverlayInteract(overlay);
        EXPECT_EQ(deleted, 0) << "attaching the same interact again keeps it";
        EXPECT_EQ(props.getPointer(kOfxImageEffectPluginPropOverlayInteractV1),
                  reinterpret_cast<void*>(&interactEntry));

        descriptor.attachOverlayInteract(new TestInteract(deleted, nullptr));
        EXPECT_EQ(deleted, 1);

        auto* window = new TestInteract(deleted, &interactEntry);
        descriptor.attachWindowInteract(window);
        EXPECT_EQ(props.getPointer(kOfxImageEffectPluginPropHWndInteractV1),
                  reinterpret_cast<void*>(&interactEntry));
        descriptor.attachWindowInteract(nullptr);
        EXPECT_EQ(deleted, 2);
        descriptor.attachWindowInteract(new TestInteract(deleted, nullptr));
    }
    EXPECT_EQ(deleted, 4);
}

}  // namespace
