// The command line of zarvel-render: parsing (through CLI11), value syntax and the manual
// (--help).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include <OpenImageIO/typedesc.h>

#include "host/Image.h"
#include "tools/ImageFile.h"

namespace ZarvelTool {

/// A tile size in pixels, both at least 1.
struct TileSize {
    int width = 0;
    int height = 0;
};

/// What the effect and the host are asked to do; unset values keep the effect's defaults (or,
/// for the depth and the output type, follow the input file).
struct RenderSettings {
    /// "outlineWidth".
    std::optional<double> width;
    /// --pixels: the drawn outline's width in output pixels; the width is chosen per picture.
    std::optional<double> pixels;
    /// "outlineColor": red, green, blue, alpha in 0..1.
    std::optional<std::array<double, 4>> color;
    /// "quality": 0 draft, 1 good, 2 best.
    std::optional<int> quality;
    /// The depth the plug-in renders in; unset: from the input's sample type.
    std::optional<ZarvelHost::PixelDepth> depth;
    /// The output's sample type; unset: the input's.
    std::optional<OIIO::TypeDesc> outputType;
    bool alphaOnly = false;
    /// Threads offered to the plug-in; 0 means the machine's hardware threads.
    unsigned threads = 0;
    std::optional<TileSize> tile;
    bool keepSize = false;
};

struct Options {
    RenderSettings settings;
    ReadOptions read;
    /// The file arguments in order.
    std::vector<std::string> paths;
    /// -o / --output-dir.
    std::optional<std::string> outputDir;
    /// --plugin.
    std::optional<std::string> plugin;
    /// --frames, as given (Frames.h parses it).
    std::optional<std::string> frames;
    bool verbose = false;
    bool help = false;
    bool version = false;
};

/// Parses argv[1..argc-1]. Options may come before, between or after the files; "--name=value"
/// and "--name value" are both accepted; "--" ends the options; an option given twice takes the
/// last value. Throws ToolError(option, reason, exitUsage) for an unknown option, a missing
/// value or a value of the wrong form.
Options parseOptions(int argc, const char* const* argv);

// Value syntax, each throwing ToolError(option, reason, exitUsage) on bad input.

/// A finite decimal number.
double parseNumber(const std::string& option, const std::string& text);
/// "R,G,B" or "R,G,B,A" with numbers from 0 to 1, or "#RRGGBB" / "#RRGGBBAA" (alpha 1 when not
/// given).
std::array<double, 4> parseColor(const std::string& option, const std::string& text);
/// "draft", "good" or "best" → 0, 1, 2.
int parseQuality(const std::string& option, const std::string& text);
/// "byte", "short" or "float".
ZarvelHost::PixelDepth parseDepth(const std::string& option, const std::string& text);
/// "uint8", "uint16", "half" or "float".
OIIO::TypeDesc parseOutputType(const std::string& option, const std::string& text);
/// "straight", "premultiplied" (nothing) or "auto" (nothing: what the file says).
std::optional<Alpha> parseAlpha(const std::string& option, const std::string& text);
/// One to four channel names separated by commas, none empty.
std::vector<std::string> parseChannels(const std::string& option, const std::string& text);
/// A whole number from 1 to 1024.
unsigned parseThreads(const std::string& option, const std::string& text);
/// "WxH", both whole numbers from 1 to 32768.
TileSize parseTile(const std::string& option, const std::string& text);

/// The manual printed by --help. `pluginSearch` describes where the plug-in is looked for.
std::string helpText(const std::string& pluginSearch);

/// "zarvel-render <version>".
std::string versionText();

}  // namespace ZarvelTool
