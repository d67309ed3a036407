#include "outline/OutlineProcessors.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <type_traits>

#include "outline/OutlineKernel.h"

// ---------------------------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------------------------

namespace OutlineGeometry {

namespace {

int clampToInt(std::int64_t value) {
    return int(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                        std::numeric_limits<int>::max()));
}

}  // namespace

OfxRectI intersection(const OfxRectI& a, const OfxRectI& b) {
    return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
}

OfxRectI fieldBounds(const OfxRectI& window, const OfxRectI& bounds, const OfxRectI& rod,
                     double widthPixels) {
    const OfxRectI written = intersection(window, bounds);
    if (isEmpty(written)) {
        return {0, 0, 0, 0};
    }
    OfxRectI area = bounds;
    if (!isEmpty(rod)) {
        area = {std::min(rod.x1, bounds.x1), std::min(rod.y1, bounds.y1),
                std::max(rod.x2, bounds.x2), std::max(rod.y2, bounds.y2)};
    }
    const std::int64_t margin = OutlineKernel::computedMargin(widthPixels);
    const OfxRectI grown = {clampToInt(written.x1 - margin), clampToInt(written.y1 - margin),
                            clampToInt(written.x2 + margin), clampToInt(written.y2 + margin)};
    return intersection(grown, area);
}

}  // namespace OutlineGeometry

// ---------------------------------------------------------------------------------------------
// FastOutlineProcessorBase
// ---------------------------------------------------------------------------------------------

namespace {

// Colours are limited to this magnitude: scaled by 65535 it is still a finite float, and no
// coverage a field can produce tells it from anything larger, so the limited outputs are the same.
constexpr double largestColor = 1e30;

double usableColor(double value) {
    if (std::isnan(value)) {
        return 0.0;
    }
    return std::clamp(value, -largestColor, largestColor);
}

// The output rule takes the width in single precision; a finite double beyond its range has no
// defined conversion. FLT_MAX and infinity draw the same pixels.
double convertibleWidth(double value) {
    const double largest = double(std::numeric_limits<float>::max());
    return std::isnan(value) ? value : std::clamp(value, -largest, largest);
}

OutlineKernel::PixelRect pixelRect(const OfxRectI& rect) {
    return {rect.x1, rect.y1, rect.x2, rect.y2};
}

}  // namespace

FastOutlineProcessorBase::FastOutlineProcessorBase(OFX::ImageEffect& effectInstance)
    : OFX::ImageProcessor(effectInstance) {}

FastOutlineProcessorBase::~FastOutlineProcessorBase() = default;

void FastOutlineProcessorBase::setColor(double red, double green, double blue) {
    colorRed = usableColor(red);
    colorGreen = usableColor(green);
    colorBlue = usableColor(blue);
}

void FastOutlineProcessorBase::setFieldBounds(const OfxRectI& bounds) {
    fieldBounds = bounds;
    if (OutlineGeometry::isEmpty(bounds)) {
        fieldWidth = 0;
        fieldHeight = 0;
        return;
    }
    fieldWidth = bounds.x2 - bounds.x1;
    fieldHeight = bounds.y2 - bounds.y1;
}

bool FastOutlineProcessorBase::rowAborted(void* processor) {
    return static_cast<FastOutlineProcessorBase*>(processor)->effect.abortRequested();
}

void FastOutlineProcessorBase::beforeThreads() {
    if (srcImage == nullptr || dstImage == nullptr || fieldWidth <= 0 || fieldHeight <= 0) {
        return;
    }
    engine.setAbortQuery(&FastOutlineProcessorBase::rowAborted, this);
    prepareEngine(std::max(1u, getThreadCount()));
}

unsigned int FastOutlineProcessorBase::phaseCount() const {
    return static_cast<unsigned int>(engine.phaseCount());
}

void FastOutlineProcessorBase::processPhase(unsigned int phase, unsigned int threadIndex,
                                            unsigned int threadCount) {
    engine.runPhase(static_cast<int>(phase), threadIndex, threadCount);
}

// ---------------------------------------------------------------------------------------------
// FastOutlineProcessor
// ---------------------------------------------------------------------------------------------

namespace {

template <class PIX>
constexpr OFX::BitDepth depthOf() {
    if constexpr (std::is_same_v<PIX, unsigned char>) {
        return OFX::depthByte;
    } else if constexpr (std::is_same_v<PIX, unsigned short>) {
        return OFX::depthShort;
    } else {
        static_assert(std::is_same_v<PIX, float>, "pixels are 8-bit, 16-bit or float");
        return OFX::depthFloat;
    }
}

}  // namespace

template <class PIX, int nComponents, int maxValue>
bool FastOutlineProcessor<PIX, nComponents, maxValue>::acceptsImage(const OFX::Image& image) const {
    static_assert(double(maxValue) == OutlineKernel::PixelTraits<PIX>::maxValue,
                  "maxValue must be the component type's");
    static_assert(nComponents == 1 || nComponents == 4, "pixels have 1 or 4 components");
    const OFX::PixelComponents components =
        nComponents == 4 ? OFX::componentsRGBA : OFX::componentsAlpha;
    if (image.getBitDepth() != depthOf<PIX>() || image.getComponents() != components) {
        return false;
    }
    const OfxRectI& bounds = image.getBounds();
    if (OutlineGeometry::isEmpty(bounds)) {
        return true;
    }
    // Rows shorter than a row of pixels would overlap, and bands would write each other's bytes.
    const std::int64_t rowLength =
        (std::int64_t(bounds.x2) - bounds.x1) * std::int64_t(sizeof(PIX)) * nComponents;
    return image.getPixelData() != nullptr && std::llabs(image.getRowBytes()) >= rowLength;
}

template <class PIX, int nComponents, int maxValue>
void FastOutlineProcessor<PIX, nComponents, maxValue>::prepareEngine(unsigned threads) {
    OutlineKernel::PixelView<const PIX> source;
    source.data = reinterpret_cast<const PIX*>(srcImage->getPixelData());
    source.rowBytes = srcImage->getRowBytes();
    source.bounds = pixelRect(srcImage->getBounds());
    OutlineKernel::PixelView<PIX> destination;
    destination.data = reinterpret_cast<PIX*>(dstImage->getPixelData());
    destination.rowBytes = dstImage->getRowBytes();
    destination.bounds = pixelRect(dstImage->getBounds());
    OutlineKernel::FastOutlineSettings settings;
    settings.quality = quality;
    settings.widthPixels = convertibleWidth(widthPixels);
    settings.red = colorRed;
    settings.green = colorGreen;
    settings.blue = colorBlue;
    engine.prepare<PIX, nComponents>(source, destination, pixelRect(fieldBounds), pixelRect(window),
                                     settings, threads);
}

template class FastOutlineProcessor<unsigned char, 4, 255>;
template class FastOutlineProcessor<unsigned short, 4, 65535>;
template class FastOutlineProcessor<float, 4, 1>;
template class FastOutlineProcessor<unsigned char, 1, 255>;
template class FastOutlineProcessor<unsigned short, 1, 65535>;
template class FastOutlineProcessor<float, 1, 1>;
