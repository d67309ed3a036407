#include "outline/FastOutlinePlugin.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>

#include "ofx/Core.h"
#include "outline/RenderPlan.h"

// ---------------------------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------------------------

namespace OutlineGeometry {

namespace {

// A 1080-row frame is the frame the width parameter is measured in.
constexpr double referenceRows = 1080.0;

// Far wider than any frame, and small enough that every product below stays finite.
constexpr double largestWidth = 1e30;

}  // namespace

double usableWidth(double width) {
    if (!std::isfinite(width) || width < 0.0) {
        return 0.0;
    }
    return std::min(width, largestWidth);
}

double regionPadding(double width, double sourceHeight) {
    const double w = usableWidth(width);
    if (w == 0.0) {
        return 0.0;
    }
    const double height =
        std::isfinite(sourceHeight) && sourceHeight > 0.0 ? std::min(sourceHeight, 1e300) : 0.0;
    double pad = w * 4.0;
    // P ≥ w (h + 2 + 2P) / 1080 solved for P; no P satisfies it once 2w reaches 1080.
    if (2.0 * w < referenceRows) {
        const double needed = w * (height + 2.0) / (referenceRows - 2.0 * w);
        if (std::isfinite(needed) && needed > pad) {
            pad = needed;
        }
    }
    return pad;
}

double drawnWidthPixels(double width, const OfxRectI& rod, const OfxRectI& bounds) {
    const OfxRectI& rows = isEmpty(rod) ? bounds : rod;
    const double height = double(std::int64_t(rows.y2) - rows.y1);
    return (height / referenceRows) * usableWidth(width);
}

OfxRectI frameOf(const OfxRectI& rod, const OfxRectI& bounds) {
    constexpr std::int64_t largestSpan = std::int64_t(1) << 30;
    constexpr int infiniteMin = std::numeric_limits<int>::min();
    constexpr int infiniteMax = std::numeric_limits<int>::max();
    if (isEmpty(rod) || rod.x1 == infiniteMin || rod.y1 == infiniteMin || rod.x2 == infiniteMax ||
        rod.y2 == infiniteMax) {
        return bounds;
    }
    const std::int64_t x1 = std::min(rod.x1, bounds.x1);
    const std::int64_t y1 = std::min(rod.y1, bounds.y1);
    const std::int64_t x2 = std::max(rod.x2, bounds.x2);
    const std::int64_t y2 = std::max(rod.y2, bounds.y2);
    return x2 - x1 > largestSpan || y2 - y1 > largestSpan ? bounds : rod;
}

}  // namespace OutlineGeometry

// ---------------------------------------------------------------------------------------------
// FastOutlinePlugin
// ---------------------------------------------------------------------------------------------

namespace {

// A render scale as a divisor: hosts that send none we can use are taken to render at full size.
double usableScale(double scale) {
    return std::isfinite(scale) && scale > 0.0 ? scale : 1.0;
}

// Components are read and written as values of their own type: pixels at an address or a row
// step that is not a multiple of the component's size hold no such values. An image without
// pixels has nothing to misplace.
bool componentsAligned(const OFX::Image& image) {
    const std::uintptr_t size = image.getBitDepth() == OFX::depthShort   ? 2
                                : image.getBitDepth() == OFX::depthFloat ? 4
                                                                         : 1;
    const std::int64_t rowBytes = image.getRowBytes();
    return OutlineGeometry::isEmpty(image.getBounds()) ||
           (reinterpret_cast<std::uintptr_t>(image.getPixelData()) % size == 0 &&
            rowBytes % std::int64_t(size) == 0);
}

// Moves a rectangle's sides out by `padX` and `padY`, keeping finite sides finite: a reach past
// the largest double means everything all the same, and hosts need not meet an infinity.
void enlarge(OfxRectD& rect, double padX, double padY) {
    auto move = [](double side, double step) {
        const double largest = std::numeric_limits<double>::max();
        if (std::isnan(step) || !std::isfinite(side)) {
            return side;
        }
        return std::clamp(side + std::clamp(step, -largest, largest), -largest, largest);
    };
    rect.x1 = move(rect.x1, -padX);
    rect.y1 = move(rect.y1, -padY);
    rect.x2 = move(rect.x2, padX);
    rect.y2 = move(rect.y2, padY);
}

}  // namespace

FastOutlinePlugin::FastOutlinePlugin(OfxImageEffectHandle handle)
    : OFX::ImageEffect(handle)
    , dstClip(getClip("Output"))
    , srcClip(getClip("Source"))
    , colorParam(fetchRGBAParam("outlineColor"))
    , widthParam(fetchDoubleParam("outlineWidth"))
    , qualityParam(fetchChoiceParam("quality")) {}

FastOutlinePlugin::~FastOutlinePlugin() = default;

void FastOutlinePlugin::onRender(const OFX::RenderArguments& args) {
    const OFX::BitDepth depth = dstClip->pixelDepth();
    const OFX::PixelComponents components = dstClip->pixelComponents();
    const bool rgba = components == OFX::componentsRGBA;
    if (!rgba && components != OFX::componentsAlpha) {
        OFX::checkSuiteStatus(kOfxStatErrUnsupported);
    }
    switch (depth) {
    case OFX::depthByte:
        if (rgba) {
            FastOutlineProcessor<unsigned char, 4, 255> processor(*this);
            setupAndProcess(processor, args);
        } else {
            FastOutlineProcessor<unsigned char, 1, 255> processor(*this);
            setupAndProcess(processor, args);
        }
        return;
    case OFX::depthShort:
        if (rgba) {
            FastOutlineProcessor<unsigned short, 4, 65535> processor(*this);
            setupAndProcess(processor, args);
        } else {
            FastOutlineProcessor<unsigned short, 1, 65535> processor(*this);
            setupAndProcess(processor, args);
        }
        return;
    case OFX::depthFloat:
        if (rgba) {
            FastOutlineProcessor<float, 4, 1> processor(*this);
            setupAndProcess(processor, args);
        } else {
            FastOutlineProcessor<float, 1, 1> processor(*this);
            setupAndProcess(processor, args);
        }
        return;
    case OFX::depthNone:
    case OFX::depthCustom:
    case OFX::depthByteBGR:
    case OFX::depthShortBGR:
    case OFX::depthFloatBGR:
        break;
    }
    OFX::checkSuiteStatus(kOfxStatErrUnsupported);
}

void FastOutlinePlugin::setupAndProcess(FastOutlineProcessorBase& processor,
                                        const OFX::RenderArguments& args) {
    // Declared in this order so that the source is released first, on every path.
    const std::unique_ptr<OFX::Image> dst = dstClip->imageAt(args.time);
    if (!dst) {
        OFX::checkSuiteStatus(kOfxStatFailed);
    }
    const std::unique_ptr<OFX::Image> src = srcClip->imageAt(args.time);
    if (src && (src->getBitDepth() != dst->getBitDepth() ||
                src->getComponents() != dst->getComponents())) {
        OFX::checkSuiteStatus(kOfxStatErrFormat);
    }
    // The processor was chosen by the clip's description; an image that says otherwise, or has
    // no pixels to address, would be written as something it is not.
    if (!processor.acceptsImage(*dst) || (src && !processor.acceptsImage(*src))) {
        OFX::checkSuiteStatus(kOfxStatErrFormat);
    }
    if (!componentsAligned(*dst) || (src && !componentsAligned(*src))) {
        OFX::checkSuiteStatus(kOfxStatErrFormat);
    }

    double red = 1.0;
    double green = 1.0;
    double blue = 1.0;
    double alpha = 1.0;
    colorParam->getValueAtTime(args.time, red, green, blue, alpha);
    double width = 0.0;
    widthParam->getValueAtTime(args.time, width);
    int quality = 1;
    qualityParam->getValueAtTime(args.time, quality);

    const OfxRectI frame = OutlineGeometry::frameOf(dst->getRod(), dst->getBounds());
    const double widthPixels = OutlineGeometry::drawnWidthPixels(width, frame, dst->getBounds());
    const OfxRectI field =
        OutlineGeometry::fieldBounds(args.renderWindow, dst->getBounds(), frame, widthPixels);
    if (!OutlineGeometry::isEmpty(field) &&
        (std::int64_t(field.x2) - field.x1) * (std::int64_t(field.y2) - field.y1) >
            OutlineGeometry::maxFieldPixels) {
        throw std::bad_alloc();
    }
    processor.setDstImage(dst.get());
    processor.setWindow(args.renderWindow);
    processor.setSrcImage(src.get());
    processor.setColor(red, green, blue);
    processor.setWidthPixels(widthPixels);
    processor.setQuality(quality);
    processor.setFieldBounds(field);
    processor.run();
}

bool FastOutlinePlugin::onGetRegionOfDefinition(const OFX::RegionOfDefinitionArguments& args,
                                                OfxRectD& rod) {
    rod = srcClip->regionOfDefinition(args.time);
    double width = 0.0;
    widthParam->getValueAtTime(args.time, width);
    const double pad = OutlineGeometry::regionPadding(width, rod.y2 - rod.y1);
    enlarge(rod, pad, pad);
    return true;
}

void FastOutlinePlugin::onGetRegionsOfInterest(const OFX::RegionsOfInterestArguments& args,
                                               OFX::RegionOfInterestSetter& rois) {
    OfxRectD region = args.regionOfInterest;
    double width = 0.0;
    widthParam->getValueAtTime(args.time, width);
    if (std::isfinite(width) && width >= 0.0) {
        // The drawn width depends on the output's height, which is the source's plus the pad.
        const OfxRectD source = srcClip->regionOfDefinition(args.time);
        const double sourceHeight = source.y2 - source.y1;
        const double pad = OutlineGeometry::regionPadding(width, sourceHeight);
        // Output rows at this scale, with a pixel of rounding at each edge.
        const double rows =
            (std::max(sourceHeight, 0.0) + 2.0 * pad) * usableScale(args.renderScale.y) + 2.0;
        const int reach = OutlineKernel::sourceReach(
            std::isfinite(rows) ? rows / 1080.0 * OutlineGeometry::usableWidth(width) : 0.0);
        const double padX = std::max(pad, reach / usableScale(args.renderScale.x));
        const double padY = std::max(pad, reach / usableScale(args.renderScale.y));
        enlarge(region, padX, padY);
    }
    rois.setRegionOfInterest(*srcClip, region);
}
