// A plug-in whose instance does what a test scripts and records what the dispatcher hands it,
// registered with the frame next to the library's own, and driven through the test host.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Plugin.h"
#include "ofx/Core.h"
#include "ofx/ImageEffect.h"
#include "ofx/Private.h"
#include "openfx/openfx.h"
#include "tests/ofx/SupportHost.h"

namespace zarvel::test {

/// What the scripted instance answers, and what it was given. One per process, reset by the
/// fixture; tests touch it only between actions.
struct Script {
    // -- Answers ------------------------------------------------------------------------------
    /// onIsIdentity answers true with this clip (null when empty) and time.
    bool identity = false;
    std::string identityClip;
    double identityTime = 0.0;
    /// onGetRegionOfDefinition answers true with `rod`.
    bool answersRod = false;
    OfxRectD rod{0.0, 0.0, 0.0, 0.0};
    /// Given to the setters, in order, by onGetRegionsOfInterest and onGetFramesNeeded.
    std::vector<std::pair<std::string, OfxRectD>> regionsOfInterest;
    std::vector<std::pair<std::string, OfxRangeD>> framesNeeded;
    /// onGetClipPreferences sets the "Source" components to alpha.
    bool setsClipPreferences = false;
    /// onGetTimeDomain answers true with `timeDomain`.
    bool answersTimeDomain = false;
    OfxRangeD timeDomain{0.0, 0.0};
    bool answersHelp = false;
    bool answersAbout = false;
    /// Run first by every operation of the instance (`calls` already records it); may throw.
    std::function<void(const std::string& operation)> hook;

    // -- Record -------------------------------------------------------------------------------
    /// The operations called, in order ("onRender", "onParamChanged outlineWidth", ...).
    std::vector<std::string> calls;
    OFX::RenderArguments render;
    OFX::BeginSequenceRenderArguments beginSequence;
    OFX::EndSequenceRenderArguments endSequence;
    OFX::RegionOfDefinitionArguments regionOfDefinition;
    OFX::RegionsOfInterestArguments regionsOfInterestArgs;
    OFX::FramesNeededArguments framesNeededArgs;
    OFX::InstanceChangedArgs instanceChanged;
    OFX::ChangeReason changeReason = OFX::changeTime;
    std::string upliftGuid;
    int upliftKeyframeCount = -1;
    void* upliftData = nullptr;
    int upliftDataLength = -1;
    /// Instances constructed and destroyed.
    int constructed = 0;
    int destroyed = 0;
    /// Describe and describe-in-context calls of the factory.
    int describes = 0;
    std::vector<OFX::EffectContext> describedContexts;
};

inline Script& script() {
    static Script value;
    return value;
}

class ScriptedEffect : public OFX::ImageEffect {
public:
    explicit ScriptedEffect(OfxImageEffectHandle handle)
        : OFX::ImageEffect(handle) {
        ++script().constructed;
    }
    ~ScriptedEffect() override { ++script().destroyed; }

    void onPurgeCaches() override { enter("onPurgeCaches"); }
    void onSyncPrivateData() override { enter("onSyncPrivateData"); }
    void onRender(const OFX::RenderArguments& args) override {
        script().render = args;
        enter("onRender");
    }
    void onBeginSequenceRender(const OFX::BeginSequenceRenderArguments& args) override {
        script().beginSequence = args;
        enter("onBeginSequenceRender");
    }
    void onEndSequenceRender(const OFX::EndSequenceRenderArguments& args) override {
        script().endSequence = args;
        enter("onEndSequenceRender");
    }
    bool onIsIdentity(const OFX::RenderArguments& args, OFX::Clip*& clip, double& time) override {
        script().render = args;
        enter("onIsIdentity");
        if (!script().identity) {
            return false;
        }
        clip = script().identityClip.empty() ? nullptr : getClip(script().identityClip);
        time = script().identityTime;
        return true;
    }
    bool onGetRegionOfDefinition(const OFX::RegionOfDefinitionArguments& args,
                                 OfxRectD& rod) override {
        script().regionOfDefinition = args;
        enter("onGetRegionOfDefinition");
        rod = script().rod;
        return script().answersRod;
    }
    void onGetRegionsOfInterest(const OFX::RegionsOfInterestArguments& args,
                                OFX::RegionOfInterestSetter& rois) override {
        script().regionsOfInterestArgs = args;
        enter("onGetRegionsOfInterest");
        for (const auto& [clip, region] : script().regionsOfInterest) {
            rois.setRegionOfInterest(*getClip(clip), region);
        }
    }
    void onGetFramesNeeded(const OFX::FramesNeededArguments& args,
                           OFX::FramesNeededSetter& frames) override {
        script().framesNeededArgs = args;
        enter("onGetFramesNeeded");
        for (const auto& [clip, range] : script().framesNeeded) {
            frames.setFramesNeeded(*getClip(clip), range);
        }
    }
    void onGetClipPreferences(OFX::ClipPreferencesSetter& preferences) override {
        enter("onGetClipPreferences");
        if (script().setsClipPreferences) {
            preferences.setClipComponents(*getClip("Source"), OFX::componentsAlpha);
        }
    }
    void onBeginInstanceEdit() override { enter("onBeginInstanceEdit"); }
    void onEndInstanceEdit() override { enter("onEndInstanceEdit"); }
    void onBeginInstanceChanged(OFX::ChangeReason reason) override {
        script().changeReason = reason;
        enter("onBeginInstanceChanged");
    }
    void onParamChanged(const OFX::InstanceChangedArgs& args, const std::string& name) override {
        script().instanceChanged = args;
        enter("onParamChanged " + name);
    }
    void onClipChanged(const OFX::InstanceChangedArgs& args, const std::string& name) override {
        script().instanceChanged = args;
        enter("onClipChanged " + name);
    }
    void onEndInstanceChanged(OFX::ChangeReason reason) override {
        script().changeReason = reason;
        enter("onEndInstanceChanged");
    }
    void onKeyframeUplift(const OFX::VegasKeyframeUpliftArguments& args) override {
        script().upliftGuid = args.guid;
        script().upliftKeyframeCount = args.keyframeCount;
        script().upliftData = args.data;
        script().upliftDataLength = args.dataLength;
        enter("onKeyframeUplift");
    }
    bool onInvokeAbout() override {
        enter("onInvokeAbout");
        return script().answersAbout;
    }
    bool onInvokeHelp() override {
        enter("onInvokeHelp");
        return script().answersHelp;
    }
    bool onGetTimeDomain(OfxRangeD& range) override {
        enter("onGetTimeDomain");
        range = script().timeDomain;
        return script().answersTimeDomain;
    }

private:
    static void enter(const std::string& operation) {
        script().calls.push_back(operation);
        if (script().hook) {
            script().hook(operation);
        }
    }
};

/// Describes a filter (also general) with the clips "Source" and "Output".
class ScriptedFactory : public OFX::PluginFactoryHelper<ScriptedFactory> {
public:
    ScriptedFactory()
        : OFX::PluginFactoryHelper<ScriptedFactory>("org.zarvel.test.scripted", 1, 0) {}

    void describe(OFX::ImageEffectDescriptor& descriptor) override {
        ++script().describes;
        descriptor.declareLabels("Scripted", "Scripted", "Scripted");
        descriptor.declareContext(OFX::contextFilter);
        descriptor.declareContext(OFX::contextGeneral);
    }
    void describeInContext(OFX::ImageEffectDescriptor& descriptor,
                           OFX::EffectContext context) override {
        script().describedContexts.push_back(context);
        descriptor.declareClip("Source");
        descriptor.declareClip("Output");
    }
    OFX::ImageEffect* createInstance(OfxImageEffectHandle handle, OFX::EffectContext) override {
        return new ScriptedEffect(handle);
    }
};

inline ScriptedFactory& scriptedFactory() {
    static ScriptedFactory factory;
    return factory;
}

/// The scripted plug-in's record (made once, kept for the process).
inline OfxPlugin* scriptedRecord() {
    static std::unique_ptr<OfxPlugin> record =
        OFX::Private::makePluginRecord(&scriptedFactory()).second;
    return record.get();
}

/// A test host driving the scripted plug-in: registered under its key in the frame's registry
/// for the test, with the layer's process-wide state (and the script) reset around it.
class ScriptedPluginHost : public ::testing::Test {
protected:
    ScriptedPluginHost() {
        // The members were made first: the plug-in already has its host, which the reset forgets.
        resetSupportLayer();
        OFX::setHost(host.ofxHost());
        script() = Script();
        std::lock_guard<std::mutex> lock(OFX::frameMutex);
        OFX::Private::ensureRegistry();
        OFX::pluginRegistry[key()] = OFX::RegistryEntry{&scriptedFactory(), scriptedRecord()};
    }
    ~ScriptedPluginHost() override {
        // An instance a test left alive goes the way DestroyInstance would take it, without
        // needing the suites a test may have unloaded.
        if (instance) {
            delete static_cast<OFX::ImageEffect*>(instance->instanceData());
            instance.reset();
        }
        {
            std::lock_guard<std::mutex> lock(OFX::frameMutex);
            OFX::pluginRegistry.erase(key());
            OFX::descriptorRegistry.erase(key());
        }
        script() = Script();
        resetSupportLayer();
    }

    static const std::string& key() { return scriptedFactory().uniqueKey(); }

    /// Load, Describe, DescribeInContext and CreateInstance in `context`; the instance is kept.
    void start(const std::string& context = kOfxImageEffectContextFilter) {
        ASSERT_EQ(plugin.loadAndDescribe(context), kOfxStatOK);
        auto created = plugin.createInstance(context);
        ASSERT_EQ(created.status, kOfxStatOK);
        instance = std::move(created.instance);
    }

    /// The frame's descriptor of the scripted plug-in for `context`, or null.
    static std::shared_ptr<const OFX::ImageEffectDescriptor>
    keptDescriptor(OFX::EffectContext context) {
        std::lock_guard<std::mutex> lock(OFX::frameMutex);
        auto plugin = OFX::descriptorRegistry.find(key());
        if (plugin == OFX::descriptorRegistry.end()) {
            return nullptr;
        }
        auto found = plugin->second.find(context);
        return found == plugin->second.end() ? nullptr : found->second;
    }

    static int countOne() { return 1; }
    static OfxPlugin* getScripted(int nth) { return nth == 0 ? scriptedRecord() : nullptr; }

    ZarvelHost::Host host;
    ZarvelHost::PluginLibrary library{&countOne, &getScripted};
    ZarvelHost::Plugin plugin{host, library};
    std::unique_ptr<ZarvelHost::Effect> instance;
};

}  // namespace zarvel::test
