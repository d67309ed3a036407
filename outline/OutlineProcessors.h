#pragma once

// The outline processors: the outline kernel applied to host images, for one render.
//
// A processor is a local object of one render call (see OFX::ImageProcessor): the effect
// instance constructs it, sets the destination image and render window, the source image, the
// outline colour, the width in destination pixels, the quality and the rectangle the distance
// field covers, calls `run`, and destroys it. It never releases its images.
//
// A run goes through the fast outline engine (outline/FastOutline.h), which writes exactly the
// pixels of the straightforward pipeline (the whole field over `fieldBounds` classified from the
// source alpha, transformed by the quality, the output rule on every window pixel) without
// building that field on its fast paths. `beforeThreads` plans and prepares the engine for the
// render window, for the host's thread count; every phase of the engine's plan is then a phase of
// the run (one host multiThread call), whose threads take the phase's tasks (tiles of the window:
// stripes of columns × bands of rows) from a shared counter, so a host that runs its threads one
// after another, or fewer at a time, gives the same result. No thread ever waits for another
// inside a call. Only the whole-field pipeline has more than one phase.
//
// Tasks write disjoint pixels; nothing outside the window clipped to the destination's bounds is
// ever written. The abort query is asked before every row a task writes (once per row and
// stripe); an aborted row is left unwritten.
//
// Coordinates are pixel coordinates of the images (x2 and y2 exclusive). Pixels are packed,
// nComponents components of type PIX per pixel, red first; the alpha (coverage) is component 3
// of an RGBA pixel and the only component of an alpha pixel.
//
// Failures: std::bad_alloc when the field or the scratch cannot be had; the host's refusal of a
// multiThread call as the general status rule says. Either leaves `run`.

#include "ofx/ImageEffect.h"
#include "ofx/MultiThread.h"
#include "openfx/openfx.h"
#include "outline/FastOutline.h"

namespace OutlineGeometry {

/// The rectangle the distance field of a render covers: the render window clipped to the
/// destination's `bounds`, grown by `OutlineKernel::computedMargin(widthPixels)` on every side
/// (the reach rule of outline/RenderPlan.h), then clipped to
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
/// colour, the width, the quality, the rectangle the distance field covers, and the engine.
class FastOutlineProcessorBase : public OFX::ImageProcessor {
public:
    /// Bound to `effectInstance` (for its abort query); no images, colour white, width 2
    /// pixels, quality 1 (Good), no field.
    explicit FastOutlineProcessorBase(OFX::ImageEffect& effectInstance);
    /// Releases the engine's memory; never the images.
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
    /// The engine of the last run: its plan, working memory and path. For tests.
    const OutlineKernel::FastOutline& getEngine() const { return engine; }

    /// True when `image` can be read or written as this processor's pixels: its depth and
    /// components are the processor's, and it has pixel data (or no pixel at all).
    virtual bool acceptsImage(const OFX::Image& image) const = 0;

    /// Plans and prepares the engine for the render window and the host's thread count (see
    /// the top of this file). Leaves nothing to do without a source, with an empty field or when
    /// the window and the destination's bounds share no pixel. Throws std::bad_alloc.
    void beforeThreads() override;
    /// The engine's phases for this run (0: nothing to do).
    unsigned int phaseCount() const override;
    /// Thread `threadIndex` of `threadCount` of engine phase `phase`: takes tasks until none is
    /// left.
    void processPhase(unsigned int phase, unsigned int threadIndex,
                      unsigned int threadCount) override;

protected:
    /// Prepares the engine for this processor's pixel type and the window, for `threads`
    /// threads at most.
    virtual void prepareEngine(unsigned threads) = 0;

    OFX::Image* srcImage = nullptr;
    double colorRed = 1.0;
    double colorGreen = 1.0;
    double colorBlue = 1.0;
    double widthPixels = 2.0;
    OfxRectI fieldBounds = {0, 0, 0, 0};
    int quality = 1;
    int fieldWidth = 0;
    int fieldHeight = 0;
    OutlineKernel::FastOutline engine;

private:
    // The engine's abort query: the effect's, for every row.
    static bool rowAborted(void* processor);
};

/// The processor of one pixel type: PIX is unsigned char, unsigned short or float, nComponents
/// 4 (RGBA) or 1 (alpha), maxValue 255, 65535 or 1. Only loads and stores depend on the type;
/// the arithmetic is the kernel's.
template <class PIX, int nComponents, int maxValue>
class FastOutlineProcessor : public FastOutlineProcessorBase {
public:
    using FastOutlineProcessorBase::FastOutlineProcessorBase;

    bool acceptsImage(const OFX::Image& image) const override;

protected:
    void prepareEngine(unsigned threads) override;
};

extern template class FastOutlineProcessor<unsigned char, 4, 255>;
extern template class FastOutlineProcessor<unsigned short, 4, 65535>;
extern template class FastOutlineProcessor<float, 4, 1>;
extern template class FastOutlineProcessor<unsigned char, 1, 255>;
extern template class FastOutlineProcessor<unsigned short, 1, 65535>;
extern template class FastOutlineProcessor<float, 1, 1>;
