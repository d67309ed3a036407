#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/Plugin.h"
#include "host/Properties.h"
#include "ofx/ImageEffect.h"
#include "openfx/openfx.h"
#include "tests/ofx/ScriptedPlugin.h"
#include "tests/support/CaptureStdout.h"

namespace {

using zarvel::test::CaptureLog;
using zarvel::test::CaptureStdout;
using zarvel::test::script;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class ActionArguments : public zarvel::test::ScriptedPluginHost {
protected:
    void SetUp() override { start(); }
};

TEST_F(ActionArguments, RenderArgumentsAreCopiedWhole) {
    ZarvelHost::RenderOptions options;
    options.time = 12.5;
    options.window = {-3, 4, 640, 481};
    options.renderScale = {0.5, 0.25};
    options.field = kOfxImageFieldLower;
    options.quality = kOfxImageEffectPropRenderQualityBest;
    options.viewsToRender = 2;
    options.renderView = 1;
    ASSERT_EQ(plugin.render(*instance, options).status, kOfxStatOK);
    const OFX::RenderArguments& args = script().render;
    EXPECT_EQ(args.time, 12.5);
    EXPECT_EQ(args.renderScale.x, 0.5);
    EXPECT_EQ(args.renderScale.y, 0.25);
    EXPECT_EQ(args.renderWindow.x1, -3);
    EXPECT_EQ(args.renderWindow.y1, 4);
    EXPECT_EQ(args.renderWindow.x2, 640);
    EXPECT_EQ(args.renderWindow.y2, 481);
    EXPECT_EQ(args.fieldToRender, OFX::fieldLower);
    EXPECT_EQ(args.viewsToRender, 2);
    EXPECT_EQ(args.renderView, 1);
    EXPECT_EQ(args.renderQuality, OFX::renderQualityBest);

    const std::pair<const char*, OFX::RenderQuality> qualities[] = {
        {kOfxImageEffectPropRenderQualityDraft, OFX::renderQualityDraft},
        {kOfxImageEffectPropRenderQualityPreview, OFX::renderQualityPreview},
        {kOfxImageEffectPropRenderQualityGood, OFX::renderQualityGood}};
    for (const auto& [text, quality] : qualities) {
        options.quality = text;
        ASSERT_EQ(plugin.isIdentity(*instance, options).status, kOfxStatReplyDefault);
        EXPECT_EQ(script().render.renderQuality, quality) << text;
    }
}

TEST_F(ActionArguments, UnknownFieldAndQualityAreOnlyLogged) {
    ZarvelHost::RenderOptions options;
    options.field = "OfxFieldBogus";
    options.quality = "OfxImageEffectPropRenderQualityBest ";
    {
        CaptureLog log;
        ASSERT_EQ(plugin.render(*instance, options).status, kOfxStatOK);
        EXPECT_TRUE(contains(log.text(), "    ERROR : Unknown field to render 'OfxFieldBogus'\n"));
        EXPECT_TRUE(contains(log.text(), "    ERROR : Unknown Vegas RenderQuality "
                                         "'OfxImageEffectPropRenderQualityBest '\n"
                                         "    ERROR : Unknown render quality "
                                         "'OfxImageEffectPropRenderQualityBest '\n"))
            << log.text();
        EXPECT_EQ(script().render.fieldToRender, OFX::fieldNone);
        EXPECT_EQ(script().render.renderQuality, OFX::renderQualityUnset);
    }
    // Most hosts send no quality at all, and the frame still renders.
    options.field = kOfxImageFieldNone;
    options.quality.reset();
    CaptureLog log;
    CaptureStdout out;
    ASSERT_EQ(plugin.render(*instance, options).status, kOfxStatOK);
    EXPECT_TRUE(contains(log.text(), "    ERROR : Unknown Vegas RenderQuality ''\n"
                                     "    ERROR : Unknown render quality ''\n"));
    EXPECT_EQ(out.text(), "");
}

TEST_F(ActionArguments, SequenceAndRegionArgumentsAreCopied) {
    ZarvelHost::SequenceOptions sequence;
    sequence.frameRange = {10.0, 20.0};
    sequence.frameStep = 2.0;
    sequence.interactive = true;
    sequence.renderScale = {0.5, 0.5};
    plugin.beginSequenceRender(*instance, sequence);
    EXPECT_EQ(script().beginSequence.frameRange.min, 10.0);
    EXPECT_EQ(script().beginSequence.frameRange.max, 20.0);
    EXPECT_EQ(script().beginSequence.frameStep, 2.0);
    EXPECT_TRUE(script().beginSequence.isInteractive);
    EXPECT_EQ(script().beginSequence.renderScale.y, 0.5);
    sequence.interactive = false;
    plugin.endSequenceRender(*instance, sequence);
    EXPECT_FALSE(script().endSequence.isInteractive);
    EXPECT_EQ(script().endSequence.renderScale.x, 0.5);

    plugin.getRegionOfDefinition(*instance, 4.0, {0.25, 0.5});
    EXPECT_EQ(script().regionOfDefinition.time, 4.0);
    EXPECT_EQ(script().regionOfDefinition.renderScale.x, 0.25);
    EXPECT_EQ(script().regionOfDefinition.renderScale.y, 0.5);

    plugin.getRegionsOfInterest(*instance, 5.0, {1.0, 2.0, 3.0, 4.0}, {1.0, 0.5});
    const OFX::RegionsOfInterestArguments& roi = script().regionsOfInterestArgs;
    EXPECT_EQ(roi.time, 5.0);
    EXPECT_EQ(roi.renderScale.y, 0.5);
    EXPECT_EQ(roi.regionOfInterest.x1, 1.0);
    EXPECT_EQ(roi.regionOfInterest.y1, 2.0);
    EXPECT_EQ(roi.regionOfInterest.x2, 3.0);
    EXPECT_EQ(roi.regionOfInterest.y2, 4.0);

    plugin.getFramesNeeded(*instance, 6.0);
    EXPECT_EQ(script().framesNeededArgs.time, 6.0);
}

TEST_F(ActionArguments, RegionsOfInterestGoUnderTheDescriptorsPropertyNames) {
    script().regionsOfInterest = {{"Source", {1.0, 2.0, 3.0, 4.0}},
                                  {"Source", {-10.0, -20.0, 30.0, 40.0}}};
    auto call = plugin.getRegionsOfInterest(*instance, 0.0, {0.0, 0.0, 8.0, 8.0});
    EXPECT_EQ(call.status, kOfxStatOK);
    const OfxRectD region = call.regionOfInterest("Source");
    EXPECT_EQ(region.x1, -10.0);
    EXPECT_EQ(region.y1, -20.0);
    EXPECT_EQ(region.x2, 30.0);
    EXPECT_EQ(region.y2, 40.0);

    script().regionsOfInterest.clear();
    EXPECT_EQ(plugin.getRegionsOfInterest(*instance, 0.0, {0.0, 0.0, 8.0, 8.0}).status,
              kOfxStatReplyDefault);
}

TEST_F(ActionArguments, AClipTheDescriptorLacksEndsThePerClipActions) {
    // The host has a clip the plug-in never described.
    ZarvelHost::Effect* described = plugin.contextDescriptor(kOfxImageEffectContextFilter);
    described->defineClip("Matte");
    auto created = plugin.createInstance(kOfxImageEffectContextFilter);
    ASSERT_EQ(created.status, kOfxStatOK);

    script().regionsOfInterest = {{"Matte", {1.0, 2.0, 3.0, 4.0}}};
    {
        CaptureStdout out;
        EXPECT_EQ(plugin.getRegionsOfInterest(*created.instance, 0.0, {0, 0, 1, 1}).status,
                  kOfxStatErrMissingHostFeature);
        EXPECT_EQ(out.text(), "Caught OFX::Exception::PropertyUnknownToHost\n");
    }
    script().framesNeeded = {{"Matte", {1.0, 2.0}}};
    {
        CaptureStdout out;
        EXPECT_EQ(plugin.getFramesNeeded(*created.instance, 0.0).status,
                  kOfxStatErrMissingHostFeature);
        EXPECT_EQ(out.text(), "Caught OFX::Exception::PropertyUnknownToHost\n");
    }
    EXPECT_EQ(plugin.destroyInstance(std::move(created.instance)), kOfxStatOK);
}

TEST_F(ActionArguments, FramesNeededWritesEveryRangeOfEachInputClip) {
    script().framesNeeded = {
        {"Source", {1.0, 2.0}}, {"Output", {5.0, 6.0}}, {"Source", {8.0, 9.0}}};
    auto call = plugin.getFramesNeeded(*instance, 3.0);
    EXPECT_EQ(call.status, kOfxStatOK);
    EXPECT_EQ(call.framesNeeded("Source"), (std::vector<double>{1.0, 2.0, 8.0, 9.0}));
    EXPECT_FALSE(call.outArgs->has("OfxImageClipPropFrameRange_Output"));

    // Ranges for the output alone are no answer: the host keeps its own.
    script().framesNeeded = {{"Output", {5.0, 6.0}}};
    call = plugin.getFramesNeeded(*instance, 3.0);
    EXPECT_EQ(call.status, kOfxStatReplyDefault);
    EXPECT_EQ(call.framesNeeded("Source"), (std::vector<double>{3.0, 3.0}));
}

TEST_F(ActionArguments, InstanceChangedCallsTheOperationOfItsObjectType) {
    auto call =
        plugin.instanceChanged(*instance, kOfxTypeClip, "Source", kOfxChangeTime, 2.0, {0.5, 1.0});
    EXPECT_EQ(call.status, kOfxStatReplyDefault);
    EXPECT_EQ(script().calls.back(), "onClipChanged Source");
    EXPECT_EQ(script().instanceChanged.reason, OFX::changeTime);
    EXPECT_EQ(script().instanceChanged.time, 2.0);
    EXPECT_EQ(script().instanceChanged.renderScale.x, 0.5);

    plugin.instanceChanged(*instance, kOfxTypeParameter, "outlineWidth", kOfxChangePluginEdited,
                           0.0);
    EXPECT_EQ(script().calls.back(), "onParamChanged outlineWidth");
    EXPECT_EQ(script().instanceChanged.reason, OFX::changePluginEdited);

    script().calls.clear();
    {
        CaptureLog log;
        EXPECT_EQ(
            plugin.instanceChanged(*instance, "OfxTypeMystery", "thing", kOfxChangeTime, 0).status,
            kOfxStatReplyDefault);
        EXPECT_TRUE(contains(log.text(), "    ERROR : Instance Changed called with unknown type "
                                         "'OfxTypeMystery' of object 'thing'\n"));
        EXPECT_TRUE(script().calls.empty());
    }
    CaptureStdout out;
    EXPECT_EQ(plugin.instanceChanged(*instance, kOfxTypeClip, "Source", "OfxChangeBogus", 0).status,
              kOfxStatFailed);
    EXPECT_EQ(out.text(), "Caught Unknown exception\n");
    EXPECT_EQ(plugin.beginInstanceChanged(*instance, "OfxChangeBogus").status, kOfxStatFailed);
    EXPECT_TRUE(script().calls.empty());

    plugin.endInstanceChanged(*instance, kOfxChangeUserEdited);
    EXPECT_EQ(script().changeReason, OFX::changeUserEdited);
}

TEST_F(ActionArguments, KeyframeUpliftArgumentsAreCopied) {
    int payload = 0;
    plugin.setArgumentsHook([&](const std::string& action, ZarvelHost::HostPropertySet* inArgs,
                                ZarvelHost::HostPropertySet*) {
        if (action == kOfxImageEffectActionVegasKeyframeUplift) {
            inArgs->setPointers(kOfxPropVegasUpliftKeyframeData, {&payload, &payload, &payload});
            inArgs->setString(kOfxImageEffectPropVegasUpliftGUID, "{guid}");
            inArgs->setPointer(kOfxPropVegasUpliftData, &payload);
            inArgs->setInt(kOfxPropVegasUpliftDataLength, 4);
        }
    });
    EXPECT_EQ(plugin.simpleAction(*instance, kOfxImageEffectActionVegasKeyframeUplift).status,
              kOfxStatReplyDefault);
    EXPECT_EQ(script().upliftKeyframeCount, 3);
    EXPECT_EQ(script().upliftGuid, "{guid}");
    EXPECT_EQ(script().upliftData, &payload);
    EXPECT_EQ(script().upliftDataLength, 4);
}

}  // namespace
