#pragma once

// The outline processors: the outline kernel applied to host images, for one render.
//
// A processor is a local object of one render call (see OFX::ImageProcessor): the effect
// instance constructs it, sets the destination image and render window, the source image, the
// outline colour, the width in destination pixels, the quality and the rectangle the distance
// field covers, calls `run`, and destroys it. It never releases its images.
//
// One run:
//   1. `beforeThreads` (calling thread) builds the one distance field of the run over
//      `fieldBounds`: classification from the source alpha (and, for Good and Best, the row pass)
//      as one host multiThread call split by field rows; then for Good and Best the column pass
//      as a second multiThread call split by field columns, each thread with its own scratch; for
//      Draft the chamfer transform on the calling thread. No thread ever waits for another inside
//      a call, so a host that runs its threads one after another gives the same result.
//   2. The bands of the render window (one per host thread) apply the output rule to every pixel
//      of their rows, reading the complete field. Bands are clipped to the destination's bounds:
//      nothing outside the host's buffer is ever written.
// The field is read-only while the bands run; each band writes only its own destination rows.
//
// Coordinates are pixel coordinates of the images (x2 and y2 exclusive). Pixels are packed,
// nComponents components of type PIX per pixel, red first; the alpha (coverage) is component 3
// of an RGBA pixel and the only component of an alpha pixel.
//
// Failures: std::bad_alloc when the field or the scratch cannot be had; the host's refusal of a
// multiThread call as the general status rule says. Either leaves `run`.

#include <vector>

#include "ofx/ImageEffect.h"
#include "ofx/MultiThread.h"
#include "openfx/openfx.h"

namespace OutlineGeometry {

/// Rows and columns the distance field reaches beyond the render window, for an outline width
/// of `widthPixels` destination pixels: ceil(width) + 8. Every transformed value that can change
/// an output pixel depends only on source pixels within ceil(width) + 4 pixels and on field
/// elements within that distance, and the chamfer transform never changes a field's outer ring;
/// a margin beyond both keeps the window's values equal to those of a field over the whole
/// frame. A width that is not a number or below 0 counts as 0; the result is at most 2^30.
int fieldMargin(double widthPixels);

/// The rectangle the distance field of a render covers: the render window clipped to the
/// destination's `bounds`, grown by `fieldMargin(widthPixels)` on every side, then clipped to
/// the destination's region of definition `rod`, or to `bounds` on the sides where those reach
/// further (a `rod` holding no pixel counts as `bounds`). In a full-frame render (window, bounds
/// and rod equal) this is the destination's bounds. Empty (all 0) when the window and the
/// bounds share no pixel. Pure; thread-safe.
OfxRectI fieldBounds(const OfxRectI& window, const OfxRectI& bounds, const OfxRectI& rod,
                     double widthPixels);

/// The intersection of two rectangles; x2 <= x1 or y2 <= y1 when they share no pixel.
OfxRectI intersection(const OfxRectI& a, const OfxRectI& b);

/// True when the rectangle holds no pixel.
inline bool isEmpty(const OfxRectI& rect) {
    return rect.x2 <= rect.x1 || rect.y2 <= rect.y1;
}

}  // namespace OutlineGeometry

/// Everything a render of the outline needs except the pixel type: the source image, the outline
/// colour, the width, the quality and the distance field with the rectangle it covers.
class FastOutlineProcessorBase : public OFX::ImageProcessor {
public:
    /// Bound to `effectInstance` (for its abort query); no images, colour white, width 2
    /// pixels, quality 1 (Good), no field.
    explicit FastOutlineProcessorBase(OFX::ImageEffect& effectInstance);
    /// Releases the field; never the images.
    ~FastOutlineProcessorBase() override;

    /// The source image (not owned; null: no source, the run writes nothing). It must have the
    /// destination's pixel type (`acceptsImage`).
    void setSrcImage(OFX::Image* image) { srcImage = image; }
    /// The outline colour, nominally 0..1 per component. NaN counts as 0, and magnitudes beyond
    /// 1e30 as 1e30 (either way every written value is limited to the pixel type's range).
    void setColor(double red, double green, double blue);
    /// The outline width in destination pixels. A width that is not a number or below 0 draws
    /// no outline.
    void setWidthPixels(double width) { widthPixels = width; }
    /// The quality index: 0 Draft (chamfer transform); anything else the separable transform.
    void setQuality(int qualityIndex) { quality = qualityIndex; }
    /// The rectangle the field covers (pixel coordinates); sets `fieldWidth` and `fieldHeight`
    /// (0 for a rectangle that holds no pixel: the run then writes nothing).
    void setFieldBounds(const OfxRectI& bounds);

    const OfxRectI& getFieldBounds() const { return fieldBounds; }
    double getWidthPixels() const { return widthPixels; }
    int getQuality() const { return quality; }
    OFX::Image* getSrcImage() const { return srcImage; }
    OFX::Image* getDstImage() const { return dstImage; }
    const OfxRectI& getWindow() const { return window; }
    /// The transformed field of the last run, row-major over `fieldBounds` (empty when the run
    /// wrote nothing). For tests.
    const std::vector<float>& getField() const { return field; }

    /// True when `image` can be read or written as this processor's pixels: its depth and
    /// components are the processor's, and it has pixel data (or no pixel at all).
    virtual bool acceptsImage(const OFX::Image& image) const = 0;

    /// Builds the field of this run (see the top of this file). Does nothing without a source,
    /// with an empty field or when the window and the destination's bounds share no pixel.
    void beforeThreads() override;

protected:
    /// Classification of field rows [rowBegin, rowEnd) from the source alpha: far where the
    /// source has no pixel. Runs concurrently for disjoint row ranges.
    virtual void classifyRows(int rowBegin, int rowEnd) = 0;

    /// True once `beforeThreads` has built the field of this run.
    bool hasField() const { return fieldBuilt; }

    OFX::Image* srcImage = nullptr;
    double colorRed = 1.0;
    double colorGreen = 1.0;
    double colorBlue = 1.0;
    double widthPixels = 2.0;
    OfxRectI fieldBounds = {0, 0, 0, 0};
    int quality = 1;
    std::vector<float> field;
    int fieldWidth = 0;
    int fieldHeight = 0;

private:
    // One host multiThread call of the field build (rows or columns).
    class FieldPhase;

    bool fieldBuilt = false;
};

/// The processor of one pixel type: PIX is unsigned char, unsigned short or float, nComponents
/// 4 (RGBA) or 1 (alpha), maxValue 255, 65535 or 1. Only loads and stores depend on the type;
/// the arithmetic is the kernel's.
template <class PIX, int nComponents, int maxValue>
class FastOutlineProcessor : public FastOutlineProcessorBase {
public:
    using FastOutlineProcessorBase::FastOutlineProcessorBase;

    bool acceptsImage(const OFX::Image& image) const override;

    /// Applies the output rule to every pixel of `band` clipped to the destination's bounds, row
    /// by row: a row is skipped when the host asks to abort (asked once per row) or when it lies
    /// outside `fieldBounds`; in the other rows pixels outside `fieldBounds` become 0 and the rest
    /// get the output rule of their field value, the colour, the width and the source pixel at
    /// the same coordinates (none outside the source's bounds). Writes nothing before the field
    /// of the run is built.
    void processWindow(const OfxRectI& band) override;

protected:
    void classifyRows(int rowBegin, int rowEnd) override;
};

extern template class FastOutlineProcessor<unsigned char, 4, 255>;
extern template class FastOutlineProcessor<unsigned short, 4, 65535>;
extern template class FastOutlineProcessor<float, 4, 1>;
extern template class FastOutlineProcessor<unsigned char, 1, 255>;
extern template class FastOutlineProcessor<unsigned short, 1, 65535>;
extern template class FastOutlineProcessor<float, 1, 1>;
