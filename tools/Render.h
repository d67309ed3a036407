// Rendering PNG images with the Zarvel plug-in, driven through our OpenFX host over the plug-in's
// real C interface, and the pixel conversions between PNG samples and host images.
//
// Coordinates: host images use the standard's pixel coordinates (y up, x2 and y2 exclusive).
// The top row of a PNG is the highest row of its image: a W × H input becomes an image with
// bounds (0, 0, W, H) whose row H − 1 is the PNG's row 0. Canonical coordinates equal pixel
// coordinates here (render scale 1, pixel aspect 1).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Image.h"
#include "openfx/openfx.h"
#include "tools/Options.h"
#include "tools/Png.h"

namespace ZarvelTool {

/// The library inside a bundle folder: "<bundle>/Contents/Linux-x86-64/Zarvel.ofx".
std::string bundleLibrary(const std::string& bundle);

/// The plug-in library to load: `option` (a Zarvel.ofx file, a Zarvel.ofx.bundle folder, or a
/// folder holding one), else the first folder of OFX_PLUGIN_PATH (':'-separated) that holds a
/// Zarvel.ofx.bundle, else the plug-in built with this program, else the installed one.
/// Throws ToolError(..., exitPlugin) when none exists.
std::string findPlugin(const std::optional<std::string>& option);

/// The search order above with this build's paths, for --help.
std::string describePluginSearch();

/// One plug-in instance in the filter context with its parameters set, rendering frame after
/// frame. Holds the host, the loaded library and the session; not thread-safe (one frame at a
/// time). The plug-in itself spreads each render over `settings.threads` host threads.
class Renderer {
public:
    /// Loads `pluginPath`, runs Load, Describe, DescribeInContext and CreateInstance, marks both
    /// clips as straight alpha and sets the parameters the settings give. Throws
    /// ToolError(pluginPath, reason, exitPlugin) when the plug-in cannot be loaded, fails an
    /// action or lacks a clip or parameter, and ToolError("--width", reason, exitUsage) when the
    /// width is outside the range the effect declares.
    Renderer(const std::string& pluginPath, const RenderSettings& settings);
    /// Destroys the instance and unloads the plug-in.
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    /// Renders one frame: the effect's region of definition (or the input's size with
    /// keepSize) at the settings' depth and components. Full frame: one Render with the whole
    /// canvas as its window. Tiled: one Render per tile, the tile as the render window into the
    /// same canvas-sized destination, and the source cut to the region of interest the effect
    /// asks for that tile; the result equals the full frame's. Throws
    /// std::runtime_error with a one-line reason when an action fails or the region of
    /// definition is unusable, std::bad_alloc when memory runs out.
    PngImage render(const PngImage& input);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// -- Pixel conversions (pure functions) -----------------------------------------------------------

/// Byte for 8-bit PNGs, Short for 16-bit ones.
ZarvelHost::PixelDepth defaultDepth(const PngImage& png);
/// 8 for Byte, 16 for Short and Float.
int outputBitDepth(ZarvelHost::PixelDepth depth);

/// The host image of a PNG, bounds (0, 0, width, height), at `depth`: 8-bit samples as they are
/// in Byte, × 257 in Short, / 255 in Float; 16-bit samples rounded to 0..255 in Byte, as they
/// are in Short, / 65535 in Float. Gray becomes R = G = B; missing alpha is opaque; Alpha
/// components keep only the alpha. Throws std::bad_alloc.
std::shared_ptr<ZarvelHost::Image> toHostImage(const PngImage& png, ZarvelHost::PixelDepth depth,
                                               ZarvelHost::PixelComponents components);

/// The PNG of a host image: RGBA or gray (Alpha components), `bitDepth` 8 or 16; byte and
/// short values rescaled exactly when the bit depth differs; float values clamped to 0..1 (NaN
/// as 0) and rounded. Throws std::bad_alloc.
PngImage toPng(const ZarvelHost::Image& image, int bitDepth);

/// A copy of the part of `image` inside `region` (pixel coordinates); empty bounds at the
/// corner of `image` when they do not overlap.
std::shared_ptr<ZarvelHost::Image> cropImage(const ZarvelHost::Image& image,
                                             const OfxRectI& region);

/// The smallest pixel rectangle holding `region` (x1, y1 rounded down, x2, y2 up). Throws
/// std::runtime_error when a coordinate is not finite, the rectangle is empty, or a side is
/// longer than 65536 pixels.
OfxRectI enclosingPixels(const OfxRectD& region);

/// `canvas` cut into tiles of `tile` pixels, row by row from (x1, y1); the last tile of a row
/// or column is smaller when the size does not divide.
std::vector<OfxRectI> splitIntoTiles(const OfxRectI& canvas, const TileSize& tile);

/// "kOfxStatErrFormat" and the like.
std::string statusName(OfxStatus status);

}  // namespace ZarvelTool
