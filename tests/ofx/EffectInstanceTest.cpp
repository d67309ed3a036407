#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Properties.h"
#include "ofx/ImageEffect.h"
#include "tests/ofx/SupportHost.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::PlainEffect;
using zarvel::test::thrownBy;

class EffectInstance : public zarvel::test::LoadedHost {
protected:
    zarvel::test::HostFilterInstance hostInstance{host};
    ZarvelHost::Effect& hostEffect = *hostInstance.instance;
};

TEST_F(EffectInstance, AnInstanceIsFoundThroughItsHandleWhileItLives) {
    {
        PlainEffect effect(hostInstance.handle());
        EXPECT_EQ(hostEffect.instanceData(), static_cast<OFX::ImageEffect*>(&effect));
        EXPECT_EQ(effect.getEffectHandle(), hostInstance.handle());
        EXPECT_EQ(effect.getEffectProps().propSetHandle(), hostEffect.properties().handle());
        EXPECT_EQ(effect.getContext(), OFX::contextFilter);
        EXPECT_EQ(effect.getParamSetHandle(), hostEffect.params().handle());
    }
    EXPECT_EQ(hostEffect.instanceData(), nullptr);

    zarvel::test::HostFilterInstance general(host, kOfxImageEffectContextGeneral);
    PlainEffect generalEffect(general.handle());
    EXPECT_EQ(generalEffect.getContext(), OFX::contextGeneral);
}

TEST_F(EffectInstance, AnUnknownContextFailsConstructionAndLeavesNoInstanceData) {
    hostEffect.properties().setString(kOfxImageEffectPropContext, "OfxImageEffectContextBogus");
    zarvel::test::CaptureLog log;
    EXPECT_EQ(thrownBy([&] { PlainEffect effect(hostInstance.handle()); }),
              "invalid_argument: OfxImageEffectContextBogus");
    EXPECT_NE(log.text().find("ERROR : Unknown image effect context 'OfxImageEffectContextBogus'"),
              std::string::npos);
    EXPECT_EQ(hostEffect.instanceData(), nullptr);
}

// Every host call of the construction, failed in turn: exactly the rule's exception, and the
// handle never left pointing at the dead object.
TEST_F(EffectInstance, EveryFailingCallOfTheConstructionThrowsItsExceptionAndUnbinds) {
    const std::uint64_t calls =
        zarvel::test::hostCallsOf(host, [&] { PlainEffect effect(hostInstance.handle()); });
    ASSERT_EQ(calls, 6u);  // five to bind, one to unbind
    for (OfxStatus status :
         {kOfxStatErrUnknown, kOfxStatErrValue, kOfxStatErrMemory, kOfxStatErrBadHandle}) {
        for (std::uint64_t index = 0; index + 1 < calls; ++index) {
            auto outcome = zarvel::test::runWithFault(
                host, index, status, [&] { PlainEffect effect(hostInstance.handle()); });
            SCOPED_TRACE(testing::Message() << "call " << index << " " << outcome.function << " "
                                            << outcome.name << " fails with " << status);
            ASSERT_TRUE(outcome.fired);
            EXPECT_EQ(outcome.thrown,
                      zarvel::test::checkedCallOutcome(outcome.function, outcome.name, status));
            EXPECT_EQ(hostEffect.instanceData(), nullptr);
        }
    }
}

TEST_F(EffectInstance, ARefusedUnbindingNeverLeavesTheDestructor) {
    zarvel::test::CaptureLog log;
    zarvel::test::CaptureStdout out;
    auto effect = std::make_unique<PlainEffect>(hostInstance.handle());
    host.calls().failNthCall("propSetPointer", 1, kOfxStatErrFatal);
    EXPECT_EQ(thrownBy([&] { effect.reset(); }), "nothing");
    EXPECT_NE(log.text().find("ERROR : Could not clear the instance data of a destroyed instance: "
                              "kOfxStatErrFatal"),
              std::string::npos);

    // An instance outliving the host's suites (destroyed after the last unload) is no worse.
    effect = std::make_unique<PlainEffect>(hostInstance.handle());
    OFX::hostSuites.propertySuite = nullptr;
    EXPECT_EQ(thrownBy([&] { effect.reset(); }), "nothing");
}

TEST_F(EffectInstance, AClipIsFetchedOnceAndAnUnknownOneNotAtAll) {
    PlainEffect effect(hostInstance.handle());
    host.calls().resetCounts();
    OFX::Clip* source = effect.getClip("Source");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(effect.getClip("Source"), source);
    EXPECT_EQ(host.calls().callCount("clipGetHandle"), 1u);
    EXPECT_EQ(source->getName(), "Source");
    EXPECT_EQ(source->getClipHandle(), hostInstance.clip("Source").handle());
    EXPECT_EQ(source->getClipProps().propSetHandle(),
              hostInstance.clip("Source").properties().handle());
    EXPECT_EQ(source->getEffect(), &effect);
    EXPECT_NE(effect.getClip("Output"), source);

    zarvel::test::CaptureStdout out;
    EXPECT_EQ(thrownBy([&] { effect.getClip("Mask"); }), "Suite: kOfxStatErrUnknown");
    EXPECT_EQ(thrownBy([&] { effect.getClip("Mask"); }), "Suite: kOfxStatErrUnknown");
    EXPECT_EQ(host.calls().callCount("clipGetHandle"), 4u) << "a failed fetch keeps nothing";
}

TEST_F(EffectInstance, ClipDepthAndComponentsComeFromTheHostsStrings) {
    PlainEffect effect(hostInstance.handle());
    OFX::Clip* source = effect.getClip("Source");
    ZarvelHost::HostPropertySet& props = hostInstance.clip("Source").properties();
    zarvel::test::CaptureLog log;

    props.setString(kOfxImageEffectPropPixelDepth, kOfxBitDepthFloat);
    props.setString(kOfxImageEffectPropComponents, kOfxImageComponentAlpha);
    EXPECT_EQ(source->pixelDepth(), OFX::depthFloat);
    EXPECT_EQ(source->pixelComponents(), OFX::componentsAlpha);
    props.setString(kOfxImageEffectPropPixelDepth, "OfxBitDepthHalf");
    props.setString(kOfxImageEffectPropComponents, "OfxImageComponentRGB");
    EXPECT_EQ(source->pixelDepth(), OFX::depthCustom);
    EXPECT_EQ(source->pixelComponents(), OFX::componentsCustom);
    props.setString(kOfxImageEffectPropPixelDepth, "");
    EXPECT_EQ(source->pixelDepth(), OFX::depthCustom);
    EXPECT_EQ(log.text().find("ERROR"), std::string::npos);

    // "None" is worth an error line only on a clip that is connected.
    props.setString(kOfxImageEffectPropPixelDepth, kOfxBitDepthNone);
    props.setString(kOfxImageEffectPropComponents, kOfxImageComponentNone);
    props.setInt(kOfxImageClipPropConnected, 0);
    EXPECT_EQ(source->pixelDepth(), OFX::depthNone);
    EXPECT_EQ(source->pixelComponents(), OFX::componentsNone);
    EXPECT_EQ(log.text().find("ERROR"), std::string::npos);
    props.setInt(kOfxImageClipPropConnected, 1);
    EXPECT_EQ(source->pixelDepth(), OFX::depthNone);
    EXPECT_EQ(source->pixelComponents(), OFX::componentsNone);
    EXPECT_NE(log.text().find("ERROR : Clip Source is connected and has no pixel depth.\n"),
              std::string::npos);
    EXPECT_NE(log.text().find("ERROR : Clip Source is connected and has no pixel component "
                              "type!\n"),
              std::string::npos);

    props.remove(kOfxImageEffectPropPixelDepth);
    EXPECT_EQ(thrownBy([&] { source->pixelDepth(); }),
              "PropertyUnknownToHost: OfxImageEffectPropPixelDepth");
}

TEST_F(EffectInstance, ARegionOfDefinitionTheHostCannotGiveIsEmpty) {
    PlainEffect effect(hostInstance.handle());
    OFX::Clip* source = effect.getClip("Source");
    hostInstance.clip("Source").setRegionOfDefinition({-10.5, 0.0, 1920.0, 1080.25});
    OfxRectD rod = source->regionOfDefinition(3.0);
    EXPECT_EQ(rod.x1, -10.5);
    EXPECT_EQ(rod.y2, 1080.25);

    host.calls().failNthCall("clipGetRegionOfDefinition", 1, kOfxStatFailed);
    rod = source->regionOfDefinition(3.0);
    EXPECT_EQ(rod.x1, 0.0);
    EXPECT_EQ(rod.y1, 0.0);
    EXPECT_EQ(rod.x2, 0.0);
    EXPECT_EQ(rod.y2, 0.0);

    zarvel::test::CaptureStdout out;
    host.calls().failNthCall("clipGetRegionOfDefinition", 1, kOfxStatErrBadHandle);
    EXPECT_EQ(thrownBy([&] { source->regionOfDefinition(3.0); }), "Suite: kOfxStatErrBadHandle");
    host.calls().failNthCall("clipGetRegionOfDefinition", 1, kOfxStatReplyDefault);
    EXPECT_EQ(thrownBy([&] { source->regionOfDefinition(3.0); }), "nothing");
}

TEST_F(EffectInstance, AbortFollowsTheHost) {
    PlainEffect effect(hostInstance.handle());
    EXPECT_FALSE(effect.abortRequested());
    host.setAbort(true);
    EXPECT_TRUE(effect.abortRequested());
    host.setAbort(false);
    host.setAbortAfter(2);
    EXPECT_FALSE(effect.abortRequested());
    EXPECT_FALSE(effect.abortRequested());
    EXPECT_TRUE(effect.abortRequested());
}

// The clip preferences of an instance, written under the per-clip names of a descriptor that
// declared only "Output".
TEST_F(EffectInstance, ClipPreferencesAreWrittenUnderTheDescriptorsNames) {
    auto hostDescriptor = ZarvelHost::Effect::makeContextDescriptor(host, *hostInstance.descriptor,
                                                                    kOfxImageEffectContextFilter);
    OFX::ImageEffectDescriptor descriptor(hostDescriptor->handle());
    descriptor.declareClip("Output");
    PlainEffect effect(hostInstance.handle());
    OFX::Clip* output = effect.getClip("Output");
    OFX::Clip* source = effect.getClip("Source");

    ZarvelHost::HostPropertySet outArgs(host, "outArgs");
    outArgs.defineString("OfxImageClipPropComponents_Output", {""});
    outArgs.defineString("OfxImageClipPropDepth_Output", {""});
    outArgs.defineDouble("OfxImageClipPropPAR_Output", {1.0});

    OFX::ClipPreferencesSetter nothing(OFX::PropertySet(outArgs.handle()), descriptor);
    nothing.setClipBitDepth(*output, OFX::depthCustom);
    nothing.setClipComponents(*output, OFX::componentsNone);
    EXPECT_FALSE(nothing.didSomething);
    EXPECT_EQ(outArgs.getString("OfxImageClipPropDepth_Output"), "");

    OFX::ClipPreferencesSetter preferences(OFX::PropertySet(outArgs.handle()), descriptor);
    preferences.setClipComponents(*output, OFX::componentsAlpha);
    EXPECT_TRUE(preferences.didSomething);
    preferences.setClipBitDepth(*output, OFX::depthShort);
    preferences.setPixelAspectRatio(*output, 2.0);
    EXPECT_EQ(outArgs.getString("OfxImageClipPropComponents_Output"), kOfxImageComponentAlpha);
    EXPECT_EQ(outArgs.getString("OfxImageClipPropDepth_Output"), kOfxBitDepthShort);
    EXPECT_EQ(outArgs.getDouble("OfxImageClipPropPAR_Output"), 2.0);

    OFX::ClipPreferencesSetter unknown(OFX::PropertySet(outArgs.handle()), descriptor);
    EXPECT_EQ(thrownBy([&] { unknown.setClipBitDepth(*source, OFX::depthFloat); }),
              "PropertyUnknownToHost: Source");
    EXPECT_EQ(thrownBy([&] { unknown.setPixelAspectRatio(*source, 1.0); }),
              "PropertyUnknownToHost: Source");
    EXPECT_FALSE(unknown.didSomething);
}

}  // namespace
