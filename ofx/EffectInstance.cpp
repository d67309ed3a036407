// The effect instance base and its clips.
#include "ofx/ImageEffect.h"

#include <exception>
#include <map>
#include <mutex>
#include <new>

#include "ofx/Core.h"
#include "ofx/Private.h"

namespace OFX {
namespace {

const OfxImageEffectSuiteV1* imageEffectSuite() {
    return requireSuite(hostSuites.imageEffectSuite, kOfxImageEffectSuite);
}

std::mutex instancesMutex;
std::map<const ImageEffect*, OfxImageEffectHandle> liveInstances;

}  // namespace

void Private::registerInstance(ImageEffect* instance, OfxImageEffectHandle handle) {
    std::lock_guard<std::mutex> lock(instancesMutex);
    liveInstances[instance] = handle;
}

void Private::unregisterInstance(const ImageEffect* instance) noexcept {
    std::lock_guard<std::mutex> lock(instancesMutex);
    liveInstances.erase(instance);
}

bool Private::isLiveInstance(const ImageEffect* instance, OfxImageEffectHandle handle) {
    std::lock_guard<std::mutex> lock(instancesMutex);
    auto found = liveInstances.find(instance);
    return found != liveInstances.end() && found->second == handle;
}

ImageEffect* Private::takeInstanceOf(OfxImageEffectHandle handle) noexcept {
    std::lock_guard<std::mutex> lock(instancesMutex);
    for (auto entry = liveInstances.begin(); entry != liveInstances.end(); ++entry) {
        if (entry->second == handle) {
            ImageEffect* instance = const_cast<ImageEffect*>(entry->first);
            liveInstances.erase(entry);
            return instance;
        }
    }
    return nullptr;
}

std::size_t Private::liveInstanceCount() {
    std::lock_guard<std::mutex> lock(instancesMutex);
    return liveInstances.size();
}

PropertySet effectPropertySet(OfxImageEffectHandle handle) {
    OfxPropertySetHandle props = nullptr;
    checkSuiteStatus(imageEffectSuite()->getPropertySet(handle, &props));
    return PropertySet(props);
}

// ---------------------------------------------------------------------------------------------

Clip::Clip(std::string clipName, PropertySet props, OfxImageClipHandle handle, ImageEffect* owner)
    : name(std::move(clipName))
    , clipProps(props)
    , clipHandle(handle)
    , effect(owner) {}

BitDepth Clip::pixelDepth() const {
    BitDepth depth =
        bitDepthFromString(clipProps.propGetString(kOfxImageEffectPropPixelDepth, 0, true));
    if (depth == depthNone && clipProps.propGetInt(kOfxImageClipPropConnected, 0, true) != 0) {
        logError(true, "Clip %s is connected and has no pixel depth.", name.c_str());
    }
    return depth;
}

PixelComponents Clip::pixelComponents() const {
    PixelComponents components =
        pixelComponentsFromString(clipProps.propGetString(kOfxImageEffectPropComponents, 0, true));
    if (components == componentsNone &&
        clipProps.propGetInt(kOfxImageClipPropConnected, 0, true) != 0) {
        logError(true, "Clip %s is connected and has no pixel component type!", name.c_str());
    }
    return components;
}

OfxRectD Clip::regionOfDefinition(double time) const {
    OfxRectD rod = {0.0, 0.0, 0.0, 0.0};
    OfxStatus status = imageEffectSuite()->clipGetRegionOfDefinition(clipHandle, time, &rod);
    if (status == kOfxStatFailed) {
        return OfxRectD{0.0, 0.0, 0.0, 0.0};
    }
    checkSuiteStatus(status);
    return rod;
}

std::unique_ptr<Image> Clip::imageAt(double time) const {
    const OfxImageEffectSuiteV1* suite = imageEffectSuite();
    OfxPropertySetHandle imageHandle = nullptr;
    OfxStatus status = suite->clipGetImage(clipHandle, time, nullptr, &imageHandle);
    if (status == kOfxStatFailed) {
        return nullptr;
    }
    checkSuiteStatus(status);
    // The image's own constructor releases the host's image when it fails; only a failure to
    // allocate the object itself is left to handle here.
    Image* image = new (std::nothrow) Image(imageHandle);
    if (!image) {
        if (imageHandle) {
            suite->clipReleaseImage(imageHandle);
        }
        throw std::bad_alloc();
    }
    return std::unique_ptr<Image>(image);
}

// ---------------------------------------------------------------------------------------------

ImageEffect::ImageEffect(OfxImageEffectHandle handle)
    : effectHandle(handle) {
    effectProps = effectPropertySet(handle);
    Private::registerInstance(this, handle);
    try {
        effectProps.propSetPointer(kOfxPropInstanceData, this, 0, true);
        context =
            effectContextFromString(effectProps.propGetString(kOfxImageEffectPropContext, 0, true));
        OfxParamSetHandle paramSet = nullptr;
        checkSuiteStatus(imageEffectSuite()->getParamSet(handle, &paramSet));
        setParamSetHandle(paramSet);
    } catch (...) {
        // A later action must not find this half-made object through the handle.
        try {
            effectProps.propSetPointer(kOfxPropInstanceData, nullptr, 0, false);
        } catch (...) {
        }
        Private::unregisterInstance(this);
        throw;
    }
}

ImageEffect::~ImageEffect() {
    Private::unregisterInstance(this);
    // The host must not keep pointing at a dead instance, yet nothing may leave a destructor.
    try {
        effectProps.propSetPointer(kOfxPropInstanceData, nullptr, 0, true);
    } catch (const std::exception& failure) {
        logError(true, "Could not clear the instance data of a destroyed instance: %s",
                 failure.what());
    } catch (...) {
        logError(true, "Could not clear the instance data of a destroyed instance.");
    }
    for (auto& entry : clips) {
        entry.second.reset();
    }
    clips.clear();
}

void ImageEffect::onPurgeCaches() {}

void ImageEffect::onSyncPrivateData() {}

void ImageEffect::onBeginSequenceRender(const BeginSequenceRenderArguments&) {}

void ImageEffect::onEndSequenceRender(const EndSequenceRenderArguments&) {}

bool ImageEffect::onIsIdentity(const RenderArguments&, Clip*&, double&) {
    return false;
}

bool ImageEffect::onGetRegionOfDefinition(const RegionOfDefinitionArguments&, OfxRectD&) {
    return false;
}

void ImageEffect::onGetRegionsOfInterest(const RegionsOfInterestArguments&,
                                         RegionOfInterestSetter&) {}

void ImageEffect::onGetFramesNeeded(const FramesNeededArguments&, FramesNeededSetter&) {}

void ImageEffect::onGetClipPreferences(ClipPreferencesSetter&) {}

void ImageEffect::onBeginInstanceEdit() {}

void ImageEffect::onEndInstanceEdit() {}

void ImageEffect::onBeginInstanceChanged(ChangeReason) {}

void ImageEffect::onParamChanged(const InstanceChangedArgs&, const std::string&) {}

void ImageEffect::onClipChanged(const InstanceChangedArgs&, const std::string&) {}

void ImageEffect::onEndInstanceChanged(ChangeReason) {}

void ImageEffect::onKeyframeUplift(const VegasKeyframeUpliftArguments&) {}

bool ImageEffect::onInvokeAbout() {
    return false;
}

bool ImageEffect::onInvokeHelp() {
    return false;
}

bool ImageEffect::onGetTimeDomain(OfxRangeD&) {
    return false;
}

Clip* ImageEffect::getClip(const std::string& name) {
    auto found = clips.find(name);
    if (found != clips.end()) {
        return found->second.get();
    }
    OfxImageClipHandle clipHandle = nullptr;
    OfxPropertySetHandle props = nullptr;
    checkSuiteStatus(
        imageEffectSuite()->clipGetHandle(effectHandle, name.c_str(), &clipHandle, &props));
    std::unique_ptr<Clip> clip(new Clip(name, PropertySet(props), clipHandle, this));
    Clip* result = clip.get();
    clips.emplace(name, std::move(clip));
    return result;
}

bool ImageEffect::abortRequested() const {
    return imageEffectSuite()->abort(effectHandle) != 0;
}

}  // namespace OFX
