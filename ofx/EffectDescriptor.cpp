// Effect and clip descriptors: what the effect declares while it is described.
#include "ofx/ImageEffect.h"

#include "ofx/Core.h"

namespace OFX {
namespace {

const OfxImageEffectSuiteV1* imageEffectSuite() {
    return requireSuite(hostSuites.imageEffectSuite, kOfxImageEffectSuite);
}

// Appends `text` after the values the host already holds; a value without a string (null) writes
// nothing, though the dimension has been read.
void appendString(PropertySet& props, const char* property, const char* text) {
    int next = props.propGetDimension(property, true);
    if (text) {
        props.propSetString(property, text, next, true);
    }
}

// Writes an interact's main entry into `property` when there is one to write.
void writeInteractEntry(PropertySet& props, const char* property,
                        const InteractDescriptor* interact) {
    OfxPluginEntryPoint* entry = interact ? interact->mainEntry() : nullptr;
    if (entry) {
        // The standard carries entry points in pointer properties.
        props.propSetPointer(property, reinterpret_cast<void*>(entry), 0, true);
    }
}

}  // namespace

InteractDescriptor::~InteractDescriptor() = default;

ClipDescriptor::ClipDescriptor(std::string clipName, PropertySet props)
    : name(std::move(clipName))
    , clipProps(props) {}

void ClipDescriptor::declareComponents(PixelComponents components) {
    appendString(clipProps, kOfxImageEffectPropSupportedComponents,
                 pixelComponentsString(components));
}

void ClipDescriptor::declareTemporalClipAccess(bool flag) {
    clipProps.propSetInt(kOfxImageEffectPropTemporalClipAccess, flag ? 1 : 0, 0, true);
}

void ClipDescriptor::declareTiles(bool flag) {
    clipProps.propSetInt(kOfxImageEffectPropSupportsTiles, flag ? 1 : 0, 0, true);
}

void ClipDescriptor::declareIsMask(bool flag) {
    clipProps.propSetInt(kOfxImageClipPropIsMask, flag ? 1 : 0, 0, true);
}

void ClipDescriptor::declareOptional(bool flag) {
    clipProps.propSetInt(kOfxImageClipPropOptional, flag ? 1 : 0, 0, true);
}

// ---------------------------------------------------------------------------------------------

ImageEffectDescriptor::ImageEffectDescriptor(OfxImageEffectHandle handle)
    : effectHandle(handle) {
    effectProps = effectPropertySet(handle);
    OfxParamSetHandle paramSet = nullptr;
    checkSuiteStatus(imageEffectSuite()->getParamSet(handle, &paramSet));
    setParamSetHandle(paramSet);
}

ImageEffectDescriptor::~ImageEffectDescriptor() {
    for (auto& entry : clipDescriptors) {
        entry.second.reset();
    }
    clipDescriptors.clear();
    windowInteract.reset();
    overlayInteract.reset();
}

void ImageEffectDescriptor::attachOverlayInteract(InteractDescriptor* interact) {
    if (overlayInteract.get() != interact) {
        overlayInteract.reset(interact);
    }
    if (hostDescription().supportsOverlays) {
        writeInteractEntry(effectProps, kOfxImageEffectPluginPropOverlayInteractV1, interact);
    }
}

void ImageEffectDescriptor::attachWindowInteract(InteractDescriptor* interact) {
    if (windowInteract.get() != interact) {
        windowInteract.reset(interact);
    }
    writeInteractEntry(effectProps, kOfxImageEffectPluginPropHWndInteractV1, interact);
}

void ImageEffectDescriptor::declareLabels(const std::string& label, const std::string& shortLabel,
                                          const std::string& longLabel) {
    effectProps.propSetString(kOfxPropLabel, label, 0, true);
    effectProps.propSetString(kOfxPropShortLabel, shortLabel, 0, false);
    effectProps.propSetString(kOfxPropLongLabel, longLabel, 0, false);
}

void ImageEffectDescriptor::declareDescription(const std::string& description) {
    effectProps.propSetString(kOfxPropPluginDescription, description, 0, true);
}

void ImageEffectDescriptor::declareGrouping(const std::string& grouping) {
    effectProps.propSetString(kOfxImageEffectPluginPropGrouping, grouping, 0, true);
}

void ImageEffectDescriptor::declareContext(EffectContext context) {
    appendString(effectProps, kOfxImageEffectPropSupportedContexts, effectContextString(context));
}

void ImageEffectDescriptor::declareBitDepth(BitDepth depth) {
    appendString(effectProps, kOfxImageEffectPropSupportedPixelDepths, bitDepthString(depth));
}

void ImageEffectDescriptor::declareFlag(const char* property, bool flag) {
    effectProps.propSetInt(property, flag ? 1 : 0, 0, true);
}

void ImageEffectDescriptor::declareSingleInstance(bool flag) {
    declareFlag(kOfxImageEffectPluginPropSingleInstance, flag);
}

void ImageEffectDescriptor::declareHostFrameThreading(bool flag) {
    declareFlag(kOfxImageEffectPluginPropHostFrameThreading, flag);
}

void ImageEffectDescriptor::declareMultiResolution(bool flag) {
    declareFlag(kOfxImageEffectPropSupportsMultiResolution, flag);
}

void ImageEffectDescriptor::declareTiles(bool flag) {
    declareFlag(kOfxImageEffectPropSupportsTiles, flag);
}

void ImageEffectDescriptor::declareTemporalClipAccess(bool flag) {
    declareFlag(kOfxImageEffectPropTemporalClipAccess, flag);
}

void ImageEffectDescriptor::declareRenderTwiceAlways(bool flag) {
    declareFlag(kOfxImageEffectPluginPropFieldRenderTwiceAlways, flag);
}

void ImageEffectDescriptor::declareMultipleClipPARs(bool flag) {
    declareFlag(kOfxImageEffectPropSupportsMultipleClipPARs, flag);
}

void ImageEffectDescriptor::declareMultipleClipDepths(bool flag) {
    declareFlag(kOfxImageEffectPropMultipleClipDepths, flag);
}

ClipDescriptor* ImageEffectDescriptor::declareClip(const std::string& name) {
    auto found = clipDescriptors.find(name);
    if (found != clipDescriptors.end()) {
        return found->second.get();
    }
    OfxPropertySetHandle props = nullptr;
    // A refused definition leaves the handle undefined: no descriptor may be made over it.
    checkSuiteStatus(imageEffectSuite()->clipDefine(effectHandle, name.c_str(), &props));
    std::unique_ptr<ClipDescriptor> clip(new ClipDescriptor(name, PropertySet(props)));
    ClipDescriptor* result = clip.get();
    clipDescriptors.emplace(name, std::move(clip));
    componentsPropNames[name] = kOfxImageClipPropComponentsPrefix + name;
    depthPropNames[name] = kOfxImageClipPropDepthPrefix + name;
    parPropNames[name] = kOfxImageClipPropPARPrefix + name;
    roiPropNames[name] = kOfxImageClipPropRoIPrefix + name;
    frameRangePropNames[name] = kOfxImageClipPropFrameRangePrefix + name;
    return result;
}

}  // namespace OFX
