#include "host/Effect.h"

#include <cmath>
#include <stdexcept>
#include <utility>

#include "host/Host.h"
#include "host/Names.h"

namespace ZarvelHost {

namespace {

void defineEffectDescriptorProperties(HostPropertySet& props) {
    props.defineString(kOfxPropType, {kOfxTypeImageEffect}, Access::ReadOnly);
    props.defineString(kOfxPropLabel, {""});
    props.defineString(kOfxPropShortLabel, {""});
    props.defineString(kOfxPropLongLabel, {""});
    props.defineString(kOfxPropPluginDescription, {""});
    props.defineString(kOfxImageEffectPluginPropGrouping, {""});
    props.defineString(kOfxImageEffectPropSupportedContexts, {}, Access::ReadWrite,
                       Dimension::Variable);
    props.defineString(kOfxImageEffectPropSupportedPixelDepths, {}, Access::ReadWrite,
                       Dimension::Variable);
    props.defineInt(kOfxImageEffectPluginPropSingleInstance, {0});
    props.defineInt(kOfxImageEffectPluginPropHostFrameThreading, {0});
    props.defineInt(kOfxImageEffectPropSupportsMultiResolution, {1});
    props.defineInt(kOfxImageEffectPropSupportsTiles, {1});
    props.defineInt(kOfxImageEffectPropTemporalClipAccess, {0});
    props.defineInt(kOfxImageEffectPluginPropFieldRenderTwiceAlways, {1});
    props.defineInt(kOfxImageEffectPropSupportsMultipleClipPARs, {0});
    props.defineInt(kOfxImageEffectPropMultipleClipDepths, {0});
    props.definePointer(kOfxImageEffectPluginPropOverlayInteractV1, {nullptr});
    props.definePointer(kOfxImageEffectPluginPropHWndInteractV1, {nullptr});
    props.defineString(Names::renderThreadSafety, {Names::renderInstanceSafe});
}

void defineEffectInstanceProperties(HostPropertySet& props, const HostPropertySet& descriptor,
                                    const std::string& context) {
    props.defineString(kOfxPropType, {kOfxTypeImageEffectInstance}, Access::ReadOnly);
    props.defineString(kOfxImageEffectPropContext, {context}, Access::ReadOnly);
    props.definePointer(kOfxPropInstanceData, {nullptr});
    props.defineInt(kOfxPropIsInteractive, {0}, Access::ReadOnly);
    props.defineDouble(Names::projectSize, {1920.0, 1080.0}, Access::ReadOnly);
    props.defineDouble(Names::projectOffset, {0.0, 0.0}, Access::ReadOnly);
    props.defineDouble(Names::projectExtent, {1920.0, 1080.0}, Access::ReadOnly);
    props.defineDouble(Names::projectPixelAspectRatio, {1.0}, Access::ReadOnly);
    props.defineDouble(Names::effectDuration, {1.0}, Access::ReadOnly);
    props.defineDouble(Names::frameRate, {24.0}, Access::ReadOnly);
    // The plug-in may switch tiling off per instance; it starts as the descriptor said.
    int tiles = 1;
    if (descriptor.has(kOfxImageEffectPropSupportsTiles) &&
        descriptor.type(kOfxImageEffectPropSupportsTiles) == PropertyType::Int &&
        descriptor.dimension(kOfxImageEffectPropSupportsTiles) > 0) {
        tiles = descriptor.getInt(kOfxImageEffectPropSupportsTiles);
    }
    props.defineInt(kOfxImageEffectPropSupportsTiles, {tiles});
}

void defineClipDescriptorProperties(HostPropertySet& props, const std::string& name) {
    props.defineString(kOfxPropType, {kOfxTypeClip}, Access::ReadOnly);
    props.defineString(kOfxPropName, {name}, Access::ReadOnly);
    props.defineString(kOfxPropLabel, {name});
    props.defineString(kOfxPropShortLabel, {name});
    props.defineString(kOfxPropLongLabel, {name});
    props.defineString(kOfxImageEffectPropSupportedComponents, {}, Access::ReadWrite,
                       Dimension::Variable);
    props.defineInt(kOfxImageEffectPropTemporalClipAccess, {0});
    props.defineInt(kOfxImageClipPropOptional, {0});
    props.defineString(Names::clipFieldExtraction, {Names::fieldDoubled});
    props.defineInt(kOfxImageClipPropIsMask, {0});
    props.defineInt(kOfxImageEffectPropSupportsTiles, {1});
}

// Adds the instance properties to a clip whose descriptor properties are in place, then makes
// the whole set read-only to the plug-in, as clip instances are.
void defineClipInstanceProperties(HostPropertySet& props) {
    bool optional = false;
    if (props.has(kOfxImageClipPropOptional) &&
        props.type(kOfxImageClipPropOptional) == PropertyType::Int &&
        props.dimension(kOfxImageClipPropOptional) > 0) {
        optional = props.getInt(kOfxImageClipPropOptional) != 0;
    }
    props.defineString(kOfxImageEffectPropPixelDepth, {kOfxBitDepthNone});
    props.defineString(kOfxImageEffectPropComponents, {kOfxImageComponentNone});
    props.defineString(Names::unmappedPixelDepth, {kOfxBitDepthNone});
    props.defineString(Names::unmappedComponents, {kOfxImageComponentNone});
    props.defineString(kOfxImageEffectPropPreMultiplication, {kOfxImagePreMultiplied});
    props.defineDouble(kOfxImagePropPixelAspectRatio, {1.0});
    props.defineDouble(Names::frameRate, {24.0});
    props.defineDouble(kOfxImageEffectPropFrameRange, {0.0, 0.0});
    props.defineString(Names::clipFieldOrder, {kOfxImageFieldNone});
    props.defineInt(kOfxImageClipPropConnected, {optional ? 0 : 1});
    props.defineDouble(Names::unmappedFrameRange, {0.0, 0.0});
    props.defineDouble(Names::unmappedFrameRate, {24.0});
    props.defineInt(Names::continuousSamples, {0});
    for (const std::string& name : props.names()) {
        props.setAccess(name, Access::ReadOnly);
    }
}

// Property reads that tolerate whatever a test has done to the clip's properties.
std::string stringOr(const HostPropertySet& props, const char* name, const char* fallback) {
    try {
        return props.getString(name);
    } catch (const std::exception&) {
        return fallback;
    }
}

double doubleOr(const HostPropertySet& props, const char* name, double fallback) {
    try {
        return props.getDouble(name);
    } catch (const std::exception&) {
        return fallback;
    }
}

// Rounds a canonical coordinate to pixels, saturating at the int range.
int toPixel(double value, bool up) {
    const double rounded = up ? std::ceil(value) : std::floor(value);
    if (!(rounded > -2147483648.0)) {
        return rounded != rounded ? 0 : -2147483647 - 1;
    }
    if (rounded > 2147483647.0) {
        return 2147483647;
    }
    return static_cast<int>(rounded);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// FetchedImage
// ---------------------------------------------------------------------------------------------

FetchedImage::FetchedImage(Host& host, const std::string& clipName, std::shared_ptr<Image> image)
    : properties(host, "image:" + clipName)
    , pixels(std::move(image)) {}

// ---------------------------------------------------------------------------------------------
// Clip
// ---------------------------------------------------------------------------------------------

Clip::Clip(Effect& effect, std::string name)
    : effect_(effect)
    , name_(std::move(name))
    , properties_(std::make_unique<HostPropertySet>(effect.host(), "clip:" + name_))
    , imageOverrides_(std::make_unique<HostPropertySet>(effect.host(), "imageOverrides:" + name_)) {
    defineClipDescriptorProperties(*properties_, name_);
    if (effect_.isInstance()) {
        defineClipInstanceProperties(*properties_);
    }
    effect_.host().registerHandle(this, handleKind);
}

Clip::Clip(Effect& effect, const Clip& descriptor)
    : effect_(effect)
    , name_(descriptor.name_)
    , properties_(std::make_unique<HostPropertySet>(effect.host(), "clip:" + name_))
    , imageOverrides_(std::make_unique<HostPropertySet>(effect.host(), "imageOverrides:" + name_)) {
    properties_->copyFrom(*descriptor.properties_);
    defineClipInstanceProperties(*properties_);
    effect_.host().registerHandle(this, handleKind);
}

Clip::~Clip() {
    effect_.host().unregisterHandle(this);
}

OfxImageClipHandle Clip::handle() const {
    return reinterpret_cast<OfxImageClipHandle>(const_cast<Clip*>(this));
}

namespace {

void describeImageOnClip(HostPropertySet& props, const Image& image) {
    props.setString(kOfxImageEffectPropPixelDepth, depthString(image.depth()));
    props.setString(kOfxImageEffectPropComponents, componentsString(image.components()));
    props.setString(Names::unmappedPixelDepth, depthString(image.depth()));
    props.setString(Names::unmappedComponents, componentsString(image.components()));
    props.setInt(kOfxImageClipPropConnected, 1);
}

}  // namespace

void Clip::setImage(std::shared_ptr<Image> image) {
    if (image) {
        describeImageOnClip(*properties_, *image);
    }
    std::lock_guard lock(mutex_);
    anyTimeImage_ = std::move(image);
}

std::shared_ptr<Image> Clip::allocateImage(const OfxRectI& bounds, PixelDepth depth,
                                           PixelComponents components, RowLayout layout) {
    auto image = std::make_shared<Image>(bounds, depth, components, layout);
    setImage(image);
    return image;
}

void Clip::setImageAt(double time, std::shared_ptr<Image> image) {
    if (!image) {
        std::lock_guard lock(mutex_);
        images_.erase(time);
        return;
    }
    describeImageOnClip(*properties_, *image);
    std::lock_guard lock(mutex_);
    images_[time] = std::move(image);
}

void Clip::clearImages() {
    std::lock_guard lock(mutex_);
    anyTimeImage_.reset();
    images_.clear();
}

std::shared_ptr<Image> Clip::imageAt(double time) const {
    std::lock_guard lock(mutex_);
    auto found = images_.find(time);
    return found != images_.end() ? found->second : anyTimeImage_;
}

void Clip::removeImageProperty(const std::string& name) {
    std::lock_guard lock(mutex_);
    removedImageProperties_.push_back(name);
}

void Clip::setConnected(bool connected) {
    properties_->setInt(kOfxImageClipPropConnected, connected ? 1 : 0);
}

bool Clip::isConnected() const {
    try {
        return properties_->getInt(kOfxImageClipPropConnected) != 0;
    } catch (const std::exception&) {
        return false;
    }
}

void Clip::setRegionOfDefinition(const OfxRectD& rod) {
    std::lock_guard lock(mutex_);
    hasRod_ = true;
    rod_ = rod;
}

void Clip::clearRegionOfDefinition() {
    std::lock_guard lock(mutex_);
    hasRod_ = false;
}

OfxStatus Clip::suiteGetImage(double time, const OfxRectD* /*region*/,
                              OfxPropertySetHandle* imageHandle) {
    if (!imageHandle) {
        return kOfxStatErrValue;
    }
    if (!isConnected()) {
        return kOfxStatFailed;
    }
    std::shared_ptr<Image> pixels = imageAt(time);
    if (!pixels) {
        return kOfxStatFailed;
    }
    const OfxPointD scale = effect_.renderScale();
    const double par = doubleOr(*properties_, kOfxImagePropPixelAspectRatio, 1.0);
    OfxRectI rod = pixels->bounds();
    std::vector<std::string> removed;
    {
        std::lock_guard lock(mutex_);
        if (hasRod_) {
            rod = {toPixel(rod_.x1 * scale.x / par, false), toPixel(rod_.y1 * scale.y, false),
                   toPixel(rod_.x2 * scale.x / par, true), toPixel(rod_.y2 * scale.y, true)};
        }
        removed = removedImageProperties_;
    }

    auto fetched = std::make_unique<FetchedImage>(effect_.host(), name_, pixels);
    HostPropertySet& props = fetched->properties;
    props.defineString(kOfxPropType, {kOfxTypeImage}, Access::ReadOnly);
    props.defineString(kOfxImageEffectPropPixelDepth, {depthString(pixels->depth())},
                       Access::ReadOnly);
    props.defineString(kOfxImageEffectPropComponents, {componentsString(pixels->components())},
                       Access::ReadOnly);
    props.defineString(
        kOfxImageEffectPropPreMultiplication,
        {stringOr(*properties_, kOfxImageEffectPropPreMultiplication, kOfxImagePreMultiplied)},
        Access::ReadOnly);
    props.defineDouble(kOfxImageEffectPropRenderScale, {scale.x, scale.y}, Access::ReadOnly);
    props.defineDouble(kOfxImagePropPixelAspectRatio, {par}, Access::ReadOnly);
    props.definePointer(kOfxImagePropData, {pixels->data()}, Access::ReadOnly);
    const OfxRectI& bounds = pixels->bounds();
    props.defineInt(kOfxImagePropBounds, {bounds.x1, bounds.y1, bounds.x2, bounds.y2},
                    Access::ReadOnly);
    props.defineInt(kOfxImagePropRegionOfDefinition, {rod.x1, rod.y1, rod.x2, rod.y2},
                    Access::ReadOnly);
    props.defineInt(kOfxImagePropRowBytes, {pixels->rowBytes()}, Access::ReadOnly);
    props.defineString(kOfxImagePropField, {effect_.renderField()}, Access::ReadOnly);
    props.defineString(
        kOfxImagePropUniqueIdentifier,
        {"zarvel-image-" + std::to_string(pixels->serial()) + "@" + std::to_string(time)},
        Access::ReadOnly);
    props.copyFrom(*imageOverrides_);
    for (const std::string& name : removed) {
        props.remove(name);
    }
    for (const std::string& name : props.names()) {
        props.setAccess(name, Access::ReadOnly);
    }

    *imageHandle = props.handle();
    effect_.host().adoptImage(std::move(fetched));
    return kOfxStatOK;
}

OfxPropertySetHandle Clip::fetchImage(double time) {
    OfxPropertySetHandle image = nullptr;
    return suiteGetImage(time, nullptr, &image) == kOfxStatOK ? image : nullptr;
}

OfxStatus Clip::suiteGetRegionOfDefinition(double time, OfxRectD* rod) const {
    if (!rod) {
        return kOfxStatErrValue;
    }
    {
        std::lock_guard lock(mutex_);
        if (hasRod_) {
            *rod = rod_;
            return kOfxStatOK;
        }
    }
    std::shared_ptr<Image> pixels = imageAt(time);
    if (!pixels) {
        return kOfxStatFailed;
    }
    const OfxPointD scale = effect_.renderScale();
    const double par = doubleOr(*properties_, kOfxImagePropPixelAspectRatio, 1.0);
    const OfxRectI& b = pixels->bounds();
    *rod = {b.x1 * par / scale.x, b.y1 / scale.y, b.x2 * par / scale.x, b.y2 / scale.y};
    return kOfxStatOK;
}

// ---------------------------------------------------------------------------------------------
// Effect
// ---------------------------------------------------------------------------------------------

Effect::Effect(Host& host, EffectKind kind, std::string context)
    : host_(host)
    , kind_(kind)
    , context_(std::move(context))
    , properties_(std::make_unique<HostPropertySet>(host, "effect"))
    , params_(std::make_unique<HostParamSet>(host, kind != EffectKind::Instance)) {
    host_.registerHandle(this, handleKind);
}

Effect::~Effect() {
    // Clips and parameters go first: they refer back to this effect.
    {
        std::unique_lock lock(clipsMutex_);
        clips_.clear();
    }
    params_.reset();
    host_.unregisterHandle(this);
}

std::unique_ptr<Effect> Effect::makeDescriptor(Host& host) {
    std::unique_ptr<Effect> effect(new Effect(host, EffectKind::Descriptor, ""));
    defineEffectDescriptorProperties(*effect->properties_);
    return effect;
}

std::unique_ptr<Effect> Effect::makeContextDescriptor(Host& host, const Effect& descriptor,
                                                      const std::string& context) {
    std::unique_ptr<Effect> effect(new Effect(host, EffectKind::ContextDescriptor, context));
    effect->properties_->copyFrom(*descriptor.properties_);
    effect->properties_->defineString(kOfxImageEffectPropContext, {context}, Access::ReadOnly);
    return effect;
}

std::unique_ptr<Effect> Effect::makeInstance(Host& host, const Effect& contextDescriptor) {
    std::unique_ptr<Effect> effect(
        new Effect(host, EffectKind::Instance, contextDescriptor.context()));
    defineEffectInstanceProperties(*effect->properties_, *contextDescriptor.properties_,
                                   contextDescriptor.context());
    for (Clip* clip : contextDescriptor.clips()) {
        effect->clips_.push_back(std::make_unique<Clip>(*effect, *clip));
    }
    effect->params_->instantiateFrom(*contextDescriptor.params_);
    return effect;
}

OfxImageEffectHandle Effect::handle() const {
    return reinterpret_cast<OfxImageEffectHandle>(const_cast<Effect*>(this));
}

Clip& Effect::defineClip(const std::string& name) {
    std::unique_lock lock(clipsMutex_);
    for (const auto& clip : clips_) {
        if (clip->name() == name) {
            throw std::logic_error("clip '" + name + "' is already defined");
        }
    }
    clips_.push_back(std::make_unique<Clip>(*this, name));
    return *clips_.back();
}

Clip* Effect::findClip(std::string_view name) const {
    std::shared_lock lock(clipsMutex_);
    for (const auto& clip : clips_) {
        if (clip->name() == name) {
            return clip.get();
        }
    }
    return nullptr;
}

Clip& Effect::clip(std::string_view name) const {
    Clip* found = findClip(name);
    if (!found) {
        throw std::out_of_range("no clip '" + std::string(name) + "'");
    }
    return *found;
}

std::vector<Clip*> Effect::clips() const {
    std::shared_lock lock(clipsMutex_);
    std::vector<Clip*> result;
    for (const auto& clip : clips_) {
        result.push_back(clip.get());
    }
    return result;
}

void* Effect::instanceData() const {
    try {
        return properties_->getPointer(kOfxPropInstanceData);
    } catch (const std::exception&) {
        return nullptr;
    }
}

void Effect::setRenderScale(const OfxPointD& scale) {
    std::lock_guard lock(renderMutex_);
    renderScale_ = scale;
}

OfxPointD Effect::renderScale() const {
    std::lock_guard lock(renderMutex_);
    return renderScale_;
}

void Effect::setRenderField(const std::string& field) {
    std::lock_guard lock(renderMutex_);
    renderField_ = field;
}

std::string Effect::renderField() const {
    std::lock_guard lock(renderMutex_);
    return renderField_;
}

OfxStatus Effect::suiteDefineClip(const char* name, Clip** clip) {
    if (!name) {
        return kOfxStatErrValue;
    }
    if (kind_ == EffectKind::Instance) {
        return kOfxStatErrUnsupported;
    }
    std::unique_lock lock(clipsMutex_);
    for (const auto& existing : clips_) {
        if (existing->name() == name) {
            return kOfxStatErrExists;
        }
    }
    clips_.push_back(std::make_unique<Clip>(*this, name));
    if (clip) {
        *clip = clips_.back().get();
    }
    return kOfxStatOK;
}

}  // namespace ZarvelHost
