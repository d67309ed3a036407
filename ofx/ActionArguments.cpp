// Action arguments read from inArgs, and the per-clip results written into outArgs.
#include <stdexcept>

#include "ofx/Core.h"
#include "ofx/ImageEffect.h"
#include "ofx/Private.h"
#include "ofx/Properties.h"

namespace OFX {
namespace {

OfxPointD readRenderScale(const PropertySet& inArgs) {
    return OfxPointD{inArgs.propGetDouble(kOfxImageEffectPropRenderScale, 0, true),
                     inArgs.propGetDouble(kOfxImageEffectPropRenderScale, 1, true)};
}

bool readInteractive(const PropertySet& inArgs) {
    return inArgs.propGetInt(kOfxPropIsInteractive, 0, true) != 0;
}

// The whole string decides; anything else, the empty string of a host without the property
// included, keeps `current`.
RenderQuality renderQualityOf(const std::string& text, RenderQuality current) {
    if (text == kOfxImageEffectPropRenderQualityDraft) {
        return renderQualityDraft;
    }
    if (text == kOfxImageEffectPropRenderQualityPreview) {
        return renderQualityPreview;
    }
    if (text == kOfxImageEffectPropRenderQualityGood) {
        return renderQualityGood;
    }
    if (text == kOfxImageEffectPropRenderQualityBest) {
        return renderQualityBest;
    }
    logError(true, "Unknown Vegas RenderQuality '%s'", text.c_str());
    logError(true, "Unknown render quality '%s'", text.c_str());
    return current;
}

const std::string& propertyOfClip(const ClipPropertyNames& names, const std::string& clipName) {
    auto found = names.find(clipName);
    if (found == names.end()) {
        throw Exception::PropertyUnknownToHost(clipName);
    }
    return found->second;
}

class ActualROISetter : public RegionOfInterestSetter {
public:
    ActualROISetter(PropertySet& args, const ClipPropertyNames& names)
        : outArgs(args)
        , roiPropNames(names) {}

    void setRegionOfInterest(const Clip& clip, const OfxRectD& region) override {
        const std::string& property = propertyOfClip(roiPropNames, clip.getName());
        outArgs.propSetDouble(property.c_str(), region.x1, 0, true);
        outArgs.propSetDouble(property.c_str(), region.y1, 1, true);
        outArgs.propSetDouble(property.c_str(), region.x2, 2, true);
        outArgs.propSetDouble(property.c_str(), region.y2, 3, true);
        didSomething = true;
    }

    bool didSomething = false;

private:
    PropertySet& outArgs;
    const ClipPropertyNames& roiPropNames;
};

class ActualSetter : public FramesNeededSetter {
public:
    ActualSetter(PropertySet& args, const ClipPropertyNames& names)
        : outArgs(args)
        , frameRangePropNames(names) {}

    void setFramesNeeded(const Clip& clip, const OfxRangeD& range) override {
        frameRanges[clip.getName()].push_back(range);
    }

    /// Writes the collected ranges; true when any clip but the output was written.
    bool writeRanges() {
        bool wroteAny = false;
        for (const auto& [clipName, ranges] : frameRanges) {
            if (clipName == "Output") {
                continue;
            }
            const std::string& property = propertyOfClip(frameRangePropNames, clipName);
            int index = 0;
            for (const OfxRangeD& range : ranges) {
                outArgs.propSetDouble(property.c_str(), range.min, index++, true);
                outArgs.propSetDouble(property.c_str(), range.max, index++, true);
            }
            wroteAny = true;
        }
        return wroteAny;
    }

private:
    PropertySet& outArgs;
    std::map<std::string, std::vector<OfxRangeD>> frameRanges;
    const ClipPropertyNames& frameRangePropNames;
};

}  // namespace

namespace Private {

RenderArguments readRenderArguments(const PropertySet& inArgs) {
    RenderArguments args;
    args.time = inArgs.propGetDouble(kOfxPropTime, 0, true);
    args.renderScale = readRenderScale(inArgs);
    args.renderWindow.x1 = inArgs.propGetInt(kOfxImageEffectPropRenderWindow, 0, true);
    args.renderWindow.y1 = inArgs.propGetInt(kOfxImageEffectPropRenderWindow, 1, true);
    args.renderWindow.x2 = inArgs.propGetInt(kOfxImageEffectPropRenderWindow, 2, true);
    args.renderWindow.y2 = inArgs.propGetInt(kOfxImageEffectPropRenderWindow, 3, true);
    args.viewsToRender = inArgs.propGetInt(kOfxImageEffectPropViewsToRender, 0, false);
    args.renderView = inArgs.propGetInt(kOfxImageEffectPropRenderView, 0, false);
    const std::string field = inArgs.propGetString(kOfxImageEffectPropFieldToRender, 0, true);
    try {
        args.fieldToRender = fieldOrderFromString(field);
    } catch (const std::invalid_argument&) {
        logError(true, "Unknown field to render '%s'", field.c_str());
    }
    args.renderQuality = renderQualityOf(
        inArgs.propGetString(kOfxImageEffectPropRenderQuality, 0, false), args.renderQuality);
    return args;
}

BeginSequenceRenderArguments readBeginSequenceRenderArguments(const PropertySet& inArgs) {
    BeginSequenceRenderArguments args;
    args.frameRange.min = inArgs.propGetDouble(kOfxImageEffectPropFrameRange, 0, true);
    args.frameRange.max = inArgs.propGetDouble(kOfxImageEffectPropFrameRange, 1, true);
    args.frameStep = inArgs.propGetDouble(kOfxImageEffectPropFrameStep, 0, true);
    args.renderScale = readRenderScale(inArgs);
    args.isInteractive = readInteractive(inArgs);
    return args;
}

EndSequenceRenderArguments readEndSequenceRenderArguments(const PropertySet& inArgs) {
    EndSequenceRenderArguments args;
    args.renderScale = readRenderScale(inArgs);
    args.isInteractive = readInteractive(inArgs);
    return args;
}

RegionOfDefinitionArguments readRegionOfDefinitionArguments(const PropertySet& inArgs) {
    RegionOfDefinitionArguments args;
    args.renderScale = readRenderScale(inArgs);
    args.time = inArgs.propGetDouble(kOfxPropTime, 0, true);
    return args;
}

RegionsOfInterestArguments readRegionsOfInterestArguments(const PropertySet& inArgs) {
    RegionsOfInterestArguments args;
    args.renderScale = readRenderScale(inArgs);
    args.regionOfInterest.x1 = inArgs.propGetDouble(kOfxImageEffectPropRegionOfInterest, 0, true);
    args.regionOfInterest.y1 = inArgs.propGetDouble(kOfxImageEffectPropRegionOfInterest, 1, true);
    args.regionOfInterest.x2 = inArgs.propGetDouble(kOfxImageEffectPropRegionOfInterest, 2, true);
    args.regionOfInterest.y2 = inArgs.propGetDouble(kOfxImageEffectPropRegionOfInterest, 3, true);
    args.time = inArgs.propGetDouble(kOfxPropTime, 0, true);
    return args;
}

FramesNeededArguments readFramesNeededArguments(const PropertySet& inArgs) {
    FramesNeededArguments args;
    args.time = inArgs.propGetDouble(kOfxPropTime, 0, true);
    return args;
}

InstanceChangedArgs readInstanceChangedArgs(const PropertySet& inArgs) {
    InstanceChangedArgs args;
    args.reason = changeReasonFromString(inArgs.propGetString(kOfxPropChangeReason, 0, true));
    args.time = inArgs.propGetDouble(kOfxPropTime, 0, true);
    args.renderScale = readRenderScale(inArgs);
    return args;
}

VegasKeyframeUpliftArguments readVegasKeyframeUpliftArguments(const PropertySet& inArgs) {
    VegasKeyframeUpliftArguments args;
    args.props = inArgs;
    args.keyframeCount = inArgs.propGetDimension(kOfxPropVegasUpliftKeyframeData, true);
    args.guid = inArgs.propGetString(kOfxImageEffectPropVegasUpliftGUID, 0, true);
    args.data = inArgs.propGetPointer(kOfxPropVegasUpliftData, 0, false);
    args.dataLength = inArgs.propGetInt(kOfxPropVegasUpliftDataLength, 0, false);
    return args;
}

bool regionsOfInterestAction(OfxImageEffectHandle handle, PropertySet inArgs, PropertySet& outArgs,
                             const char* uniqueKey) {
    ImageEffect& instance = requireInstance(handle);
    const RegionsOfInterestArguments args = readRegionsOfInterestArguments(inArgs);
    const auto descriptor = requireDescriptor(uniqueKey, instance.getContext());
    ActualROISetter setter(outArgs, descriptor->getRoiPropNames());
    instance.onGetRegionsOfInterest(args, setter);
    return setter.didSomething;
}

bool framesNeededAction(OfxImageEffectHandle handle, PropertySet inArgs, PropertySet& outArgs,
                        const char* uniqueKey) {
    ImageEffect& instance = requireInstance(handle);
    const FramesNeededArguments args = readFramesNeededArguments(inArgs);
    const auto descriptor = requireDescriptor(uniqueKey, instance.getContext());
    ActualSetter setter(outArgs, descriptor->getFrameRangePropNames());
    instance.onGetFramesNeeded(args, setter);
    return setter.writeRanges();
}

void instanceChangedAction(OfxImageEffectHandle handle, PropertySet inArgs) {
    ImageEffect& instance = requireInstance(handle);
    const InstanceChangedArgs args = readInstanceChangedArgs(inArgs);
    const std::string type = inArgs.propGetString(kOfxPropType, 0, true);
    const std::string name = inArgs.propGetString(kOfxPropName, 0, true);
    if (type == kOfxTypeParameter) {
        instance.onParamChanged(args, name);
    } else if (type == kOfxTypeClip) {
        instance.onClipChanged(args, name);
    } else {
        logError(true, "Instance Changed called with unknown type '%s' of object '%s'",
                 type.c_str(), name.c_str());
    }
}

void keyframeUpliftAction(OfxImageEffectHandle handle, PropertySet inArgs) {
    ImageEffect& instance = requireInstance(handle);
    instance.onKeyframeUplift(readVegasKeyframeUpliftArguments(inArgs));
}

}  // namespace Private
}  // namespace OFX
