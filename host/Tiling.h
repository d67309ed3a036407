// What a tiling host does with an effect: each tile of a frame is rendered on its own, into a
// destination image of the tile's size (or any bounds holding it), after asking the effect which
// part of the source the tile needs and serving only that part. An effect that asks for too
// little renders a tile differently from the full frame, which is what this catches.
//
// Coordinates: windows, bounds and images are in pixel coordinates at the render scale (x2, y2
// exclusive); regions of interest are canonical (pixel coordinates divided by the scale).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/Effect.h"
#include "host/Image.h"
#include "host/Plugin.h"
#include "openfx/openfx.h"

namespace ZarvelHost {

/// The smallest pixel rectangle at `scale` holding the canonical `region` (x1, y1 rounded down,
/// x2, y2 up). Sides beyond ±2^30 pixels, infinite or not a number, are held at ±2^30.
OfxRectI coveringPixels(const OfxRectD& region, double scale = 1.0);

/// A copy of the part of `image` inside `region`; empty bounds at the corner of `image` when they
/// do not overlap. Throws std::bad_alloc.
std::shared_ptr<Image> cropImage(const Image& image, const OfxRectI& region);

/// `frame` cut into tiles of `width` × `height` pixels (both at least 1), row by row from (x1, y1);
/// the last tile of a row or column is smaller when the size does not divide.
std::vector<OfxRectI> splitIntoTiles(const OfxRectI& frame, int width, int height);

/// One tile of a tiling host, whatever drives the effect (its C interface or its classes).
struct TileStep {
    /// The region of the source the effect asks for to render `region` (canonical).
    std::function<OfxRectD(const OfxRectD& region)> regionOfInterest;
    /// Renders `window` into `destination`, which `output` serves by then.
    std::function<void(const OfxRectI& window, Image& destination)> render;
};

/// Renders `window` as a tiling host does: asks `step.regionOfInterest` for the window, serves
/// `fullSource` cut to the answer (rounded out to pixels at `scale`) from `source`, allocates a
/// zeroed destination of `bounds` (which must hold the window) at the source's depth and
/// components, serves it from `output` and calls `step.render`. Returns the destination. What
/// the callbacks throw passes through; `source` and `output` keep serving the tile's images.
std::shared_ptr<Image> renderTile(Clip& source, const Image& fullSource, Clip& output,
                                  const OfxRectI& window, const OfxRectI& bounds,
                                  const TileStep& step, double scale = 1.0);

/// What renderTiledFrame did.
struct TiledFrameResult {
    /// kOfxStatOK, or the status of the first action that failed.
    OfxStatus status = kOfxStatOK;
    /// The action that failed; empty when none did.
    std::string failedAction;
};

/// A whole frame of `instance` rendered tile by tile through the plug-in's C interface at render
/// scale 1 and time 0, into `canvas`: BeginSequenceRender, then for each tile of `tileWidth` ×
/// `tileHeight` pixels over the canvas's bounds GetRegionsOfInterest and Render as in
/// renderTile (the source clip "Source" serving `fullSource` cut down, the output clip "Output"
/// a destination of the tile's size whose region of definition is the canvas), the tile copied
/// into `canvas`; EndSequenceRender (also after a failure). Stops at the first failing action.
/// The output clip serves `canvas` again afterwards, and its region of definition is cleared.
/// Throws std::bad_alloc, and std::out_of_range when a clip is missing.
TiledFrameResult renderTiledFrame(Plugin& plugin, Effect& instance,
                                  const std::shared_ptr<Image>& fullSource,
                                  const std::shared_ptr<Image>& canvas, int tileWidth,
                                  int tileHeight);

}  // namespace ZarvelHost
