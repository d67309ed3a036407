// The clip-preferences setter: per-clip results written under the descriptor's property names.
#include "ofx/ImageEffect.h"

#include "ofx/Core.h"

namespace OFX {
namespace {

const std::string& propertyOf(const ClipPropertyNames& names, const Clip& clip) {
    auto found = names.find(clip.getName());
    if (found == names.end()) {
        throw Exception::PropertyUnknownToHost(clip.getName());
    }
    return found->second;
}

}  // namespace

ClipPreferencesSetter::ClipPreferencesSetter(PropertySet outArgsSet,
                                             const ClipPropertyNames& depthNames,
                                             const ClipPropertyNames& componentsNames,
                                             const ClipPropertyNames& parNames)
    : outArgs(outArgsSet)
    , depthPropNames(depthNames)
    , componentsPropNames(componentsNames)
    , parPropNames(parNames) {}

ClipPreferencesSetter::ClipPreferencesSetter(PropertySet outArgsSet,
                                             const ImageEffectDescriptor& descriptor)
    : ClipPreferencesSetter(outArgsSet, descriptor.getDepthPropNames(),
                            descriptor.getComponentsPropNames(), descriptor.getParPropNames()) {}

void ClipPreferencesSetter::setClipComponents(const Clip& clip, PixelComponents components) {
    const std::string& property = propertyOf(componentsPropNames, clip);
    if (const char* text = pixelComponentsString(components)) {
        outArgs.propSetString(property.c_str(), text, 0, true);
        didSomething = true;
    }
}

void ClipPreferencesSetter::setClipBitDepth(const Clip& clip, BitDepth depth) {
    const std::string& property = propertyOf(depthPropNames, clip);
    if (const char* text = bitDepthString(depth)) {
        outArgs.propSetString(property.c_str(), text, 0, true);
        didSomething = true;
    }
}

void ClipPreferencesSetter::setPixelAspectRatio(const Clip& clip, double ratio) {
    const std::string& property = propertyOf(parPropNames, clip);
    outArgs.propSetDouble(property.c_str(), ratio, 0, true);
    didSomething = true;
}

}  // namespace OFX
