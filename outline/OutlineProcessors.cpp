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

// Wider than any frame a host can hand over; growing an int rectangle by it stays far inside
// 64-bit arithmetic.
constexpr std::int64_t largestMargin = std::int64_t(1) << 30;

int clampToInt(std::int64_t value) {
    return int(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                        std::numeric_limits<int>::max()));
}

}  // namespace

int fieldMargin(double widthPixels) {
    if (!(widthPixels > 0.0)) {
        return 8;
    }
    if (widthPixels >= double(largestMargin)) {
        return int(largestMargin);
    }
    return int(std::min<std::int64_t>(std::int64_t(std::ceil(widthPixels)) + 8, largestMargin));
}

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
    const std::int64_t margin = fieldMargin(widthPixels);
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

// Columns per thread of the column pass start on multiples of this, so that threads share no
// cache line of a field row.
constexpr int columnAlignment = 16;

int alignedColumn(std::int64_t width, unsigned index, unsigned count) {
    const std::int64_t column = width * index / count;
    return int(std::min<std::int64_t>(width, (column + columnAlignment - 1) / columnAlignment *
                                                 columnAlignment));
}

}  // namespace

class FastOutlineProcessorBase::FieldPhase : public OFX::MultiThread::Processor {
public:
    enum class Kind { rows, columns };

    FieldPhase(FastOutlineProcessorBase& processorToBuild, Kind phaseKind)
        : processor(processorToBuild)
        , kind(phaseKind) {}

    void threadBody(unsigned int threadIndex, unsigned int threadCount) override {
        FastOutlineProcessorBase& p = processor;
        if (kind == Kind::rows) {
            const OfxRectI rows =
                OFX::bandOfThread({0, 0, p.fieldWidth, p.fieldHeight}, threadIndex, threadCount);
            p.classifyRows(rows.y1, rows.y2);
            if (p.quality != 0) {
                OutlineKernel::separableRowPass(p.field.data(), p.fieldWidth, rows.y1, rows.y2);
            }
            return;
        }
        if (threadCount == 0 || threadIndex >= threadCount) {
            return;
        }
        const int first = alignedColumn(p.fieldWidth, threadIndex, threadCount);
        const int last = alignedColumn(p.fieldWidth, threadIndex + 1, threadCount);
        if (first >= last) {
            return;
        }
        OutlineKernel::ColumnScratch scratch(p.fieldHeight);
        OutlineKernel::separableColumnPass(p.field.data(), p.fieldWidth, p.fieldHeight, first, last,
                                           scratch);
    }

private:
    FastOutlineProcessorBase& processor;
    Kind kind;
};

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

void FastOutlineProcessorBase::beforeThreads() {
    fieldBuilt = false;
    field.clear();
    if (srcImage == nullptr || dstImage == nullptr || fieldWidth <= 0 || fieldHeight <= 0 ||
        OutlineGeometry::isEmpty(OutlineGeometry::intersection(window, dstImage->getBounds()))) {
        return;
    }
    // One field per run, built in whole before any band reads it. The phases below are where the
    // fast engine takes over: everything it needs (views of both images, fieldBounds, the window
    // clipped to the destination, quality, width, colour) is fixed at this point.
    field.resize(std::size_t(fieldWidth) * std::size_t(fieldHeight));
    FieldPhase(*this, FieldPhase::Kind::rows).runThreads(0);
    if (quality == 0) {
        // The chamfer passes read what they wrote just before: one serial sweep each way.
        OutlineKernel::chamferTransform(field.data(), fieldWidth, fieldHeight);
    } else {
        FieldPhase(*this, FieldPhase::Kind::columns).runThreads(0);
    }
    fieldBuilt = true;
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

// Row y of an image from column x1 on, with the columns [x1, x2) of the row it holds; null
// (and an empty range) when the row lies outside the image.
template <class PIX>
struct RowSpan {
    const PIX* pixels = nullptr;
    int x1 = 0;
    int x2 = 0;
};

template <class PIX>
RowSpan<PIX> rowSpan(const OFX::Image& image, int y, int x1, int x2) {
    const OfxRectI& bounds = image.getBounds();
    RowSpan<PIX> span;
    span.x1 = std::max(x1, bounds.x1);
    span.x2 = std::min(x2, bounds.x2);
    if (y < bounds.y1 || y >= bounds.y2 || span.x1 >= span.x2) {
        span.x1 = span.x2 = x1;
        return span;
    }
    span.pixels = static_cast<const PIX*>(image.pixelAt(span.x1, y));
    return span;
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
void FastOutlineProcessor<PIX, nComponents, maxValue>::classifyRows(int rowBegin, int rowEnd) {
    constexpr int alpha = nComponents - 1;
    for (int j = rowBegin; j < rowEnd; ++j) {
        float* row = field.data() + std::size_t(j) * std::size_t(fieldWidth);
        std::fill(row, row + fieldWidth, OutlineKernel::farValue);
        const RowSpan<PIX> source =
            rowSpan<PIX>(*srcImage, fieldBounds.y1 + j, fieldBounds.x1, fieldBounds.x2);
        if (source.pixels == nullptr) {
            continue;
        }
        float* element = row + (source.x1 - fieldBounds.x1);
        const int count = source.x2 - source.x1;
        for (int k = 0; k < count; ++k) {
            element[k] = OutlineKernel::classifyAlpha<PIX>(source.pixels[k * nComponents + alpha]);
        }
    }
}

template <class PIX, int nComponents, int maxValue>
void FastOutlineProcessor<PIX, nComponents, maxValue>::processWindow(const OfxRectI& band) {
    if (!hasField()) {
        return;
    }
    const OfxRectI rows = OutlineGeometry::intersection(band, dstImage->getBounds());
    if (OutlineGeometry::isEmpty(rows)) {
        return;
    }
    const OutlineKernel::OutputSettings settings = OutlineKernel::makeOutputSettings<PIX>(
        colorRed, colorGreen, colorBlue, convertibleWidth(widthPixels));
    // Columns of the row: [rows.x1, inField) zero, [inField, outField) the output rule,
    // [outField, rows.x2) zero.
    const int inField = std::clamp(fieldBounds.x1, rows.x1, rows.x2);
    const int outField = std::clamp(fieldBounds.x2, inField, rows.x2);
    auto zero = [](PIX* pixels, int count) {
        std::fill(pixels, pixels + std::size_t(count) * nComponents, PIX(0));
    };
    for (int y = rows.y1; y < rows.y2; ++y) {
        if (effect.abortRequested()) {
            continue;
        }
        const int j = y - fieldBounds.y1;
        if (j < 0 || j >= fieldHeight) {
            continue;
        }
        PIX* dst = static_cast<PIX*>(dstImage->pixelAt(rows.x1, y));
        zero(dst, inField - rows.x1);
        dst += std::size_t(inField - rows.x1) * nComponents;
        if (outField > inField) {
            const float* d = field.data() + std::size_t(j) * std::size_t(fieldWidth) +
                             std::size_t(inField - fieldBounds.x1);
            const RowSpan<PIX> source = rowSpan<PIX>(*srcImage, y, inField, outField);
            // Pixels without a source pixel, then with one, then without again.
            const int before = source.x1 - inField;
            const int within = source.x2 - source.x1;
            const int after = outField - source.x2;
            OutlineKernel::applyOutputRuleRow<PIX, nComponents>(d, before, settings, nullptr, dst);
            OutlineKernel::applyOutputRuleRow<PIX, nComponents>(
                d + before, within, settings, source.pixels,
                dst + std::size_t(before) * nComponents);
            OutlineKernel::applyOutputRuleRow<PIX, nComponents>(
                d + before + within, after, settings, nullptr,
                dst + std::size_t(before + within) * nComponents);
        }
        zero(dst + std::size_t(outField - inField) * nComponents, rows.x2 - outField);
    }
}

template class FastOutlineProcessor<unsigned char, 4, 255>;
template class FastOutlineProcessor<unsigned short, 4, 65535>;
template class FastOutlineProcessor<float, 4, 1>;
template class FastOutlineProcessor<unsigned char, 1, 255>;
template class FastOutlineProcessor<unsigned short, 1, 65535>;
template class FastOutlineProcessor<float, 1, 1>;
