// Rendering pictures with the Zarvel plug-in, driven through our OpenFX host over the plug-in's
// real C interface, and the conversions between file samples and host images.
//
// Coordinates: host images use the standard's pixel coordinates (y up, x2 and y2 exclusive). A
// file's display window becomes (0, 0, fullWidth, fullHeight), its top row the highest: a file
// pixel (x, y) is the host pixel (x − fullX, fullY + fullHeight − 1 − y). Canonical coordinates
// equal pixel coordinates (render scale 1, pixel aspect 1).
//
// The alpha rule. The effect copies source pixels above half coverage, composites the source
// over the outline with straight-alpha arithmetic, and writes an outline pixel where the source
// is transparent as colour × coverage with alpha = coverage. So the host hands it straight
// colour (premultiplied files are divided by alpha in float first) and says so
// ("OfxImageAlphaUnPremultiplied"); what it renders is straight wherever the source's alpha is
// above 0 and premultiplied where it is 0. On the way out each pixel is converted, in float, to
// what the output file holds: straight files get the outline pixels divided by their alpha,
// premultiplied files get the other pixels multiplied by theirs. An opaque pixel is never
// changed; a white outline's soft edge is (1, 1, 1, a) straight and (a, a, a, a) premultiplied.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/Image.h"
#include "openfx/openfx.h"
#include "tools/ImageFile.h"
#include "tools/Options.h"

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

/// What one render did, for --verbose.
struct FrameInfo {
    /// The effect's width parameter used (the one given, the one --pixels chose, or the default).
    double width = 0.0;
    ZarvelHost::PixelDepth depth = ZarvelHost::PixelDepth::Byte;
    /// The output's pixels (host coordinates).
    OfxRectI canvas{0, 0, 0, 0};
    /// Seconds spent in the plug-in's actions.
    double seconds = 0.0;
};

/// One plug-in instance in the filter context with its parameters set, rendering frame after
/// frame. Holds the host, the loaded library and the session; not thread-safe (one frame at a
/// time). The plug-in itself spreads each render over `settings.threads` host threads, which
/// the host keeps in its persistent pool for the renderer's lifetime.
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

    /// Renders one picture for a file of `format` (see ImageFile.h): over the effect's region of
    /// definition (cut to the display window with keepSize), at the settings' depth (default:
    /// defaultDepth), converted by the alpha rule above to what `format` holds, with the input's
    /// display window and metadata and the sample type of the settings or the input. With
    /// `settings.pixels` the width is chosen for this picture first. Full frame: one host
    /// sequence with the whole canvas as the window; tiled: ZarvelHost::renderTiledFrame.
    /// Throws ToolError("--pixels", reason, exitUsage) when the width it needs is outside the
    /// effect's range, std::runtime_error with a one-line reason when an action fails or the
    /// region of definition is unusable, std::bad_alloc when memory runs out.
    Picture render(const Picture& input, const std::string& format, FrameInfo* info = nullptr);

    /// The path of the plug-in loaded.
    const std::string& pluginPath() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// -- Conversions (pure functions) ----------------------------------------------------------------

/// Byte for 8-bit samples, Short for 9- to 16-bit integer ones (10-bit DPX included), Float for
/// half, float and anything else.
ZarvelHost::PixelDepth defaultDepth(const Picture& picture);

/// The display window in host coordinates: (0, 0, fullWidth, fullHeight).
OfxRectI displayBounds(const Picture& picture);
/// The data window in host coordinates.
OfxRectI dataBounds(const Picture& picture);

/// The host image of `picture` over dataBounds at `depth`, in straight colour: premultiplied
/// samples are divided by their alpha (where it is above 0) in float, then every sample is
/// clamped to 0..1 and rounded for Byte and Short (× 255, × 65535) and kept as it is in Float.
/// Gray becomes R = G = B, no colour black; missing alpha is opaque; Alpha components keep only
/// the alpha. Throws std::bad_alloc.
std::shared_ptr<ZarvelHost::Image> toHostImage(const Picture& picture, ZarvelHost::PixelDepth depth,
                                               ZarvelHost::PixelComponents components);

/// The picture of `output` (RGBA or Alpha components) in `alpha`, by the alpha rule above:
/// `source` (the image the effect was given) tells where the effect wrote premultiplied
/// outline pixels. Byte and short values become floats (/ 255, / 65535). The windows are set
/// from `output`'s bounds and `like`'s display window when `windows`, else to the output's size
/// at 0, 0. The metadata, format of the header and sample type are `like`'s. Throws
/// std::bad_alloc.
Picture toPicture(const ZarvelHost::Image& output, const ZarvelHost::Image& source, Alpha alpha,
                  const Picture& like, bool windows);

/// The smallest pixel rectangle holding `region` (x1, y1 rounded down, x2, y2 up). Throws
/// std::runtime_error when a coordinate is not finite, the rectangle is empty, or a side is
/// longer than 65536 pixels.
OfxRectI enclosingPixels(const OfxRectD& region);

/// "kOfxStatErrFormat" and the like, "status -7" for codes the standard does not name.
std::string statusName(OfxStatus status);

}  // namespace ZarvelTool
