#pragma once

// The outline effect instance: renders the outline of its "Source" clip into its "Output" clip,
// and tells the host how far the outline reaches beyond the source.
//
// Width. The parameter "outlineWidth" is a width in pixels of a 1080-row frame: a render draws
// width × (rows of the destination's region of definition) / 1080 destination pixels, so every
// tile and every resolution of one frame draws the same outline. Widths that are not a number,
// infinite or below 0 draw no outline and enlarge no region.
//
// Tiles. A render of any window writes the same pixels as a render of the whole frame would
// there, as long as the host delivers the source over the region of interest the effect asks
// for: the distance field covers the window plus a margin wider than anything the window's
// pixels depend on, clipped where the frame's own field ends (see OutlineGeometry).
//
// Region of definition. The source's region, enlarged on every side by `regionPadding`: 4 × the
// width in canonical units, or more where the frame is so tall that the drawn width would
// otherwise not fit in the enlargement.
//
// Hostile values. A destination region of definition that is infinite (the standard's INT_MIN /
// INT_MAX flags) or beyond any frame stands for nothing the width could scale with: the image's
// bounds are the frame then (`frameOf`). A render whose distance field would exceed
// `maxFieldPixels` fails with std::bad_alloc before asking for memory. Regions answered to the
// host are finite whenever the host's own are.
//
// Thread-safety: the host calls one action of an instance at a time; a render spreads its work
// over the host's threads (see OutlineProcessors.h). Nothing thrown here is caught: every
// failure leaves the operation for the action dispatcher to turn into a status.

#include <cstdint>

#include "ofx/ImageEffect.h"
#include "ofx/Parameters.h"
#include "openfx/openfx.h"
#include "outline/OutlineProcessors.h"

namespace OutlineGeometry {

/// The width parameter as the effect uses it: values that are not a number, infinite or below 0
/// become 0 (no outline); values above 1e30 become 1e30 (already far wider than any frame).
double usableWidth(double width);

/// The enlargement (canonical units, every side) of the region of definition for the width
/// parameter `width` and a source region `sourceHeight` canonical units high: 4 × width, or,
/// where that is smaller, the least pad P with P ≥ width × (sourceHeight + 2 + 2P) / 1080, so
/// that the drawn width (which scales with the enlarged height, plus a pixel of rounding at each
/// edge) fits in it. For any frame up to 4,000 rows high and width up to 20 this is exactly
/// 4 × width. A width of 540 or more draws more than any enlargement adds; the pad is then
/// 4 × width. An unusable width, or 0, gives 0. A height that is not a number or below 0 counts
/// as 0. Never NaN or infinite.
double regionPadding(double width, double sourceHeight);

/// The drawn width in destination pixels: (`rod` rows / 1080) × `width` (`usableWidth`), where
/// `rod` is the destination image's region of definition, or its `bounds` when the rod holds no
/// pixel. In a full-frame render both are the same.
double drawnWidthPixels(double width, const OfxRectI& rod, const OfxRectI& bounds);

/// The frame a destination image belongs to, for the width rule and the field's extent (pixel
/// coordinates): its region of definition `rod`, or its `bounds` when the rod holds no pixel,
/// reaches an infinite flag (INT_MIN or INT_MAX), or spans with the bounds more than 2^30
/// pixels in either direction (further than any frame, and too far for int arithmetic).
OfxRectI frameOf(const OfxRectI& rod, const OfxRectI& bounds);

/// Most pixels a render's distance field may cover (2^30, 4 GiB of field): a 32768-pixel square
/// frame. A render that would need more fails with std::bad_alloc.
constexpr std::int64_t maxFieldPixels = std::int64_t(1) << 30;

}  // namespace OutlineGeometry

/// The effect instance. Its clips and parameters are fetched once, at construction, and belong
/// to the base's collections.
class FastOutlinePlugin : public OFX::ImageEffect {
public:
    /// Binds to the host instance `handle` (see OFX::ImageEffect), then fetches the clips
    /// "Output" and "Source" and the parameters "outlineColor" (RGBA), "outlineWidth" (double)
    /// and "quality" (choice), in that order. Throws what the base and the fetches throw.
    explicit FastOutlinePlugin(OfxImageEffectHandle handle);
    ~FastOutlinePlugin() override;

    /// Renders `args.renderWindow` at `args.time` with the processor of the output clip's depth
    /// (8-bit, 16-bit, float) and components (RGBA, alpha). Any other depth or components:
    /// OFX::Exception::Suite(kOfxStatErrUnsupported), and no image is fetched. Otherwise as
    /// `setupAndProcess`.
    void onRender(const OFX::RenderArguments& args) override;

    /// The common part of every render, for the processor of the output clip's pixel type:
    ///  1. fetches the output image (none: Suite(kOfxStatFailed)) and the source image (none:
    ///     the render writes nothing);
    ///  2. a source of another depth or other components than the output, or either image not
    ///     of `processor`'s pixel type, without pixel data, or with an address or row bytes that
    ///     are no multiple of its component size: Suite(kOfxStatErrFormat);
    ///  3. reads the colour, the width and the quality at `args.time`;
    ///  4. runs `processor` over the render window with the drawn width (`drawnWidthPixels`) and
    ///     the field over `fieldBounds` of the window, both for the frame `frameOf` gives; a
    ///     field of more than `maxFieldPixels` throws std::bad_alloc first.
    /// Both images are released before this returns or throws, the source first.
    void setupAndProcess(FastOutlineProcessorBase& processor, const OFX::RenderArguments& args);

    /// The source clip's region of definition at `args.time` (canonical coordinates), enlarged on
    /// every side by `regionPadding` of the width at that time. Always true.
    bool onGetRegionOfDefinition(const OFX::RegionOfDefinitionArguments& args,
                                 OfxRectD& rod) override;

    /// Asks for the source over the region of interest enlarged by the region padding, and at
    /// least by `OutlineKernel::sourceReach` of the drawn width (in pixels at `args.renderScale`;
    /// the reach rule of outline/RenderPlan.h), so that a tile's outline is the frame's outline
    /// there. An unusable width enlarges nothing. Nothing is asked for the output clip.
    void onGetRegionsOfInterest(const OFX::RegionsOfInterestArguments& args,
                                OFX::RegionOfInterestSetter& rois) override;

private:
    OFX::Clip* dstClip;
    OFX::Clip* srcClip;
    OFX::RGBAParam* colorParam;
    OFX::DoubleParam* widthParam;
    OFX::ChoiceParam* qualityParam;
};
