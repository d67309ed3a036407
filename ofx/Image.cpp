// Images: reading an image's properties once, and releasing it on every path.
#include "ofx/ImageEffect.h"

#include "ofx/Core.h"

namespace OFX {
namespace {

// Never throws: it runs in destructors and on the way out of a failed construction. The host's
// status is ignored, as nothing could be done about it.
void releaseImage(OfxPropertySetHandle imageHandle) noexcept {
    const OfxImageEffectSuiteV1* suite =
        hostSuites.imageEffectSuite.load(std::memory_order_acquire);
    if (imageHandle && suite) {
        suite->clipReleaseImage(imageHandle);
    }
}

int bytesPerComponent(BitDepth depth) {
    switch (depth) {
    case depthByte:
        return 1;
    case depthShort:
        return 2;
    case depthFloat:
        return 4;
    case depthNone:
    case depthCustom:
    case depthByteBGR:
    case depthShortBGR:
    case depthFloatBGR:
        break;
    }
    return 0;
}

int componentCount(PixelComponents components) {
    switch (components) {
    case componentsRGBA:
        return 4;
    case componentsAlpha:
        return 1;
    case componentsNone:
    case componentsCustom:
        break;
    }
    return 0;
}

}  // namespace

int pixelBytesOf(PixelComponents components, BitDepth depth) {
    return componentCount(components) * bytesPerComponent(depth);
}

Image::Image(OfxPropertySetHandle imageHandle)
    : imageProps(imageHandle) {
    try {
        readProperties();
    } catch (...) {
        // The destructor won't run for a half-made image, so the host's image is handed back here.
        releaseImage(imageHandle);
        throw;
    }
}

Image::~Image() {
    releaseImage(imageProps.propSetHandle());
}

void Image::readProperties() {
    pixelData = static_cast<unsigned char*>(imageProps.propGetPointer(kOfxImagePropData, 0, true));
    rowBytes = imageProps.propGetInt(kOfxImagePropRowBytes, 0, true);
    pixelAspectRatio = imageProps.propGetDouble(kOfxImagePropPixelAspectRatio, 0, true);
    components =
        pixelComponentsFromString(imageProps.propGetString(kOfxImageEffectPropComponents, 0, true));
    bitDepth = bitDepthFromString(imageProps.propGetString(kOfxImageEffectPropPixelDepth, 0, true));
    pixelBytes = pixelBytesOf(components, bitDepth);
    premultiplication = premultiplicationFromString(
        imageProps.propGetString(kOfxImageEffectPropPreMultiplication, 0, true));
    rod.x1 = imageProps.propGetInt(kOfxImagePropRegionOfDefinition, 0, true);
    rod.y1 = imageProps.propGetInt(kOfxImagePropRegionOfDefinition, 1, true);
    rod.x2 = imageProps.propGetInt(kOfxImagePropRegionOfDefinition, 2, true);
    rod.y2 = imageProps.propGetInt(kOfxImagePropRegionOfDefinition, 3, true);
    bounds.x1 = imageProps.propGetInt(kOfxImagePropBounds, 0, true);
    bounds.y1 = imageProps.propGetInt(kOfxImagePropBounds, 1, true);
    bounds.x2 = imageProps.propGetInt(kOfxImagePropBounds, 2, true);
    bounds.y2 = imageProps.propGetInt(kOfxImagePropBounds, 3, true);
    fieldOrder = imageFieldOrderFromString(imageProps.propGetString(kOfxImagePropField, 0, true));
    uniqueId = imageProps.propGetString(kOfxImagePropUniqueIdentifier, 0, true);
    renderScale.x = imageProps.propGetDouble(kOfxImageEffectPropRenderScale, 0, true);
    renderScale.y = imageProps.propGetDouble(kOfxImageEffectPropRenderScale, 1, true);
}

}  // namespace OFX
