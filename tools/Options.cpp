#include "tools/Options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "tools/ToolError.h"

#ifndef ZARVEL_VERSION
#define ZARVEL_VERSION "unknown"
#endif

namespace ZarvelTool {

namespace {

[[noreturn]] void badValue(const std::string& option, const std::string& text,
                           const std::string& expected) {
    throw ToolError(option, "'" + text + "' is not " + expected, exitUsage);
}

// A whole decimal number in [low, high], all of `text`.
long parseWhole(const std::string& option, const std::string& text, long low, long high,
                const std::string& expected) {
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') {
        badValue(option, text, expected);
    }
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) {
        badValue(option, text, expected);
    }
    return value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Every option as the text given; the values are checked after parsing, with our own messages.
struct RawOptions {
    std::optional<std::string> width, pixels, color, quality, depth, outputType, alpha, channels,
        threads, tile, plugin, outputDir, frames;
    bool alphaOnly = false;
    bool keepSize = false;
    bool verbose = false;
    bool version = false;
    std::vector<std::string> files;
};

const char* const manualHead =
    "zarvel-render " ZARVEL_VERSION " - draw the Zarvel outline around the opaque parts of images\n"
    "\n"
    "Loads the Zarvel.ofx plug-in through an OpenFX host, hands it each picture as the \"Source\"\n"
    "clip and writes what it renders: a coloured outline of the chosen width around the opaque\n"
    "parts of the picture, with the picture composited over it. Files are read and written\n"
    "through OpenImageIO: OpenEXR, TIFF, PNG, DPX, JPEG and the other formats it knows.\n"
    "\n"
    "Usage:\n"
    "  zarvel-render [OPTIONS] INPUT OUTPUT\n"
    "  zarvel-render [OPTIONS] -o OUTDIR INPUT...\n"
    "  zarvel-render [OPTIONS] [--frames 1001-1100] 'in/shot.####.exr' 'out/shot.####.exr'\n";

std::string manual(const std::string& pluginSearch) {
    return R"(
Canvas:
  The effect enlarges the picture so that the outline has room: by 4 x the width on every
  side, and more on tall pictures, where the drawn width grows with the height: the padding P
  is the larger of 4 x W and W x (H + 2) / (1080 - 2 x W) for a picture H rows high (a
  1000x6000 picture at width 20 grows by 116 pixels a side). OpenEXR output keeps that canvas
  as its data window and the input's display window, so a compositor gets the enlarged canvas
  without a resized frame; --keep-size cuts the data window to the display window. Formats
  without windows (PNG, TIFF, DPX ...) are written at the canvas's size, or at the input's
  with --keep-size.

Formats and depth:
  The output's format follows its extension. The plug-in renders in byte for 8-bit input,
  short for 10-, 12- and 16-bit input and float for half and float input (--depth overrides).
  The output keeps the input's sample type (half EXR in, half EXR out, 10-bit DPX in, 10-bit
  DPX out) unless --output-type says otherwise, and keeps its metadata (colour space, pixel
  aspect, custom attributes), and, within one format, its compression and tiles. Gray and RGB
  input is opaque; the output is RGBA (or one alpha channel with --alpha-only). JPEG and the
  other formats without alpha are read, but cannot take an RGBA output.
  Refused, with nothing written: deep images, files holding several images (multi-part EXR,
  multi-page TIFF: take the part out first), more than four channels unless --channels picks
  them, unreadable, truncated or corrupt files.

Alpha:
  OpenEXR, and TIFF with associated alpha, hold premultiplied colour; PNG and TIFF with
  unassociated alpha hold straight colour; other formats as the library reports them (DPX:
  premultiplied). --alpha overrides what the input file says. The host hands the effect
  straight colour (dividing premultiplied input by its alpha, in float) and says so
  ("OfxImageAlphaUnPremultiplied"). The effect copies source pixels above half coverage,
  composites the source over the outline with straight alpha, and writes outline pixels where
  the source is transparent as colour x coverage (premultiplied). On the way out every pixel is
  converted in float to what the output format holds: a white outline's soft edge is written
  (255, 255, 255, a) to PNG and (a, a, a, a) to EXR, and a fully opaque pixel is never changed.
  TIFF output keeps the input's convention; DPX and others are written as the input was.

Sequences:
  With -o DIR, or with a frame pattern in the input's file name, several frames render in one
  run. A pattern is a printf-style %d, %4d or %04d, or a run of # or @, one per digit (####
  and @@@@ are %04d). Without --frames every existing file that matches renders, in frame
  order; --frames 1001-1100 (also 1-100x5, 7, 1,5,10-20) names the frames, and each one
  missing is reported and skipped. A frame that fails is reported and the others still render;
  the exit status then says some failed. A progress bar is drawn on standard error when it is
  a terminal, and a summary line (frames, time, frames per second) ends the run. A name that is
  an existing file is never taken as a pattern.

Safety:
  The output is written to a temporary file beside it and renamed into place only when it is
  complete, so a failed or interrupted render never leaves a partial file. An output that is
  one of the inputs (the same file under any name) is refused.

Plug-in:
)" + pluginSearch +
           R"(
Errors:
  Each problem is one line on standard error, "zarvel-render: <file or option>: <reason>".

Exit status:
  0  every frame rendered
  1  a frame failed: input missing, unreadable, truncated, corrupt or of a layout that is
     refused, output not writable or equal to an input, or the render failed
  2  bad command line: unknown option, bad value (a width that is not a number or outside the
     effect's range, a colour out of range, --pixels needing a width outside it ...), wrong
     number of files
  3  the plug-in could not be found, loaded or started

Examples:
  zarvel-render logo.png logo-outlined.png
  zarvel-render --pixels 6 --color '#ff8000' --quality best logo.png logo-orange.png
  zarvel-render --depth float --tile 256x256 plate.exr plate-outlined.exr
  zarvel-render --channels R,G,B,A --output-type half render.exr outlined.exr
  zarvel-render -o outlined shots/*.tif
  zarvel-render --frames 1001-1100 'in/shot.####.exr' 'out/shot.####.exr'
)";
}

// Descriptions are wrapped here: the help formatter prints them on one line.
std::string wrap(const std::string& text) {
    constexpr std::size_t columns = 72;
    std::string out;
    std::size_t lineStart = 0;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string word = text.substr(start, end - start);
        if (out.size() > lineStart && out.size() - lineStart + 1 + word.size() > columns) {
            out += '\n';
            lineStart = out.size();
        } else if (out.size() > lineStart) {
            out += ' ';
        }
        out += word;
        start = end + 1;
    }
    return out;
}

// The manual's own usage lines stand in for CLI11's one.
class ManualFormatter : public CLI::Formatter {
public:
    std::string make_usage(const CLI::App*, std::string) const override { return ""; }
};

void addOptions(CLI::App& app, RawOptions& raw) {
    const unsigned machineThreads = std::max(1u, std::thread::hardware_concurrency());
    app.allow_extras();
    app.set_help_flag("-h,--help", "show this manual");
    const auto last = CLI::MultiOptionPolicy::TakeLast;
    // "W: what it does" gives the value's placeholder and the description.
    auto split = [](const std::string& what) {
        const std::size_t colon = what.find(": ");
        return std::make_pair(what.substr(0, colon), wrap(what.substr(colon + 2)));
    };
    auto text = [&](const char* name, std::optional<std::string>& value, const std::string& what,
                    const char* group) {
        const auto [placeholder, description] = split(what);
        app.add_option(name, value, description)
            ->multi_option_policy(last)
            ->group(group)
            ->type_name(placeholder);
    };
    const char* effect = "Effect (the defaults are the effect's own)";
    text("--width", raw.width,
         "W: outline width, 0.1 to 20, default 15, in pixels of a 1080-row picture: the outline "
         "drawn is W x output height / 1080 pixels wide",
         effect);
    text("--pixels", raw.pixels,
         "N: choose the width so that the outline drawn is N pixels wide on this output "
         "(refused when that needs a width outside 0.1 to 20)",
         effect);
    text("--color", raw.color,
         "R,G,B: outline colour, three numbers from 0 to 1 or '#RRGGBB', default white (a "
         "fourth number, alpha, is accepted and ignored by the effect)",
         effect);
    text("--quality", raw.quality,
         "Q: draft (chamfer distance, fastest), good (exact Euclidean distance, default) or "
         "best (renders as good)",
         effect);
    const char* images = "Images";
    text("--depth", raw.depth,
         "D: what the plug-in renders in: byte, short or float (default: from the input)", images);
    text("--output-type", raw.outputType,
         "T: the output's samples: uint8, uint16, half or float (default: the input's)", images);
    text("--alpha", raw.alpha,
         "A: the input's colour is straight, premultiplied, or auto (what the file says; "
         "default)",
         images);
    text("--channels", raw.channels,
         "C: the input channels to use, e.g. R,G,B,A or Y or diffuse.R,diffuse.G,diffuse.B,A",
         images);
    app.add_flag(
           "--alpha-only", raw.alphaOnly,
           wrap("hand the plug-in alpha-only images; the output is one channel, the coverage"))
        ->group(images);
    app.add_flag(
           "--keep-size", raw.keepSize,
           wrap("cut the output to the input's display window (an outline reaching past it is "
                "cut off)"))
        ->group(images);
    const char* rendering = "Rendering";
    const std::string threadsHelp =
        "N: threads the host offers the plug-in, kept in a pool for the run, 1 to 1024 (default "
        "the machine's, " +
        std::to_string(machineThreads) + " here)";
    text("--threads", raw.threads, threadsHelp, rendering);
    text("--tile", raw.tile,
         "WxH: render tile by tile as a tiling host does, each tile its own Render action into "
         "a destination of the tile's size, the source cut to the region the effect asks for; "
         "same result as a full frame",
         rendering);
    text("--plugin", raw.plugin, "PATH: the Zarvel.ofx file or Zarvel.ofx.bundle folder to load",
         rendering);
    const char* files = "Files";
    text("-o,--output-dir", raw.outputDir,
         "DIR: render every input into DIR under its own file name (created if missing)", files);
    text("--frames", raw.frames,
         "LIST: the frames of a pattern to render: 1001-1100, 1-100x5, 7, or several with commas",
         files);
    app.add_flag("-v,--verbose", raw.verbose,
                 wrap("say which plug-in was loaded, and each frame's size, depth and render time"))
        ->group(files);
    app.add_flag("--version", raw.version, "show the version")->group(files);
    app.add_option("files", raw.files, "input and output files or patterns")->group("");
}

std::string requireText(const std::string& option, const std::string& value,
                        const std::string& what) {
    if (value.empty()) {
        throw ToolError(option, "needs " + what, exitUsage);
    }
    return value;
}

}  // namespace

Options parseOptions(int argc, const char* const* argv) {
    RawOptions raw;
    CLI::App app;
    addOptions(app, raw);
    Options options;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
        return options;
    } catch (const CLI::ParseError& error) {
        // "--width: 1 required TEXT missing" and the like: the option, then CLI11's words.
        const std::string what = error.what();
        const std::size_t colon = what.find(':');
        const std::string name = colon == std::string::npos ? "usage" : what.substr(0, colon);
        throw ToolError(name, error.get_name() == "ArgumentMismatch" ? "needs a value" : what,
                        exitUsage);
    }
    for (const std::string& extra : app.remaining()) {
        if (extra != "--" && extra.size() > 1 && extra[0] == '-') {
            const std::size_t equals = extra.find('=');
            throw ToolError(extra.substr(0, equals), "unknown option (see --help)", exitUsage);
        }
    }

    RenderSettings& settings = options.settings;
    if (raw.width) {
        settings.width = parseNumber("--width", *raw.width);
    }
    if (raw.pixels) {
        settings.pixels = parseNumber("--pixels", *raw.pixels);
        if (!(*settings.pixels > 0.0)) {
            throw ToolError("--pixels", "'" + *raw.pixels + "' is not a width above 0 pixels",
                            exitUsage);
        }
        if (raw.width) {
            throw ToolError("--pixels", "give either --width or --pixels, not both", exitUsage);
        }
    }
    if (raw.color) {
        settings.color = parseColor("--color", *raw.color);
    }
    if (raw.quality) {
        settings.quality = parseQuality("--quality", *raw.quality);
    }
    if (raw.depth) {
        settings.depth = parseDepth("--depth", *raw.depth);
    }
    if (raw.outputType) {
        settings.outputType = parseOutputType("--output-type", *raw.outputType);
    }
    if (raw.alpha) {
        options.read.alpha = parseAlpha("--alpha", *raw.alpha);
    }
    if (raw.channels) {
        options.read.channels = parseChannels("--channels", *raw.channels);
    }
    if (raw.threads) {
        settings.threads = parseThreads("--threads", *raw.threads);
    }
    if (raw.tile) {
        settings.tile = parseTile("--tile", *raw.tile);
    }
    if (raw.plugin) {
        options.plugin = requireText("--plugin", *raw.plugin, "a path");
    }
    if (raw.outputDir) {
        options.outputDir = requireText("-o", *raw.outputDir, "a folder");
    }
    options.frames = raw.frames;
    settings.alphaOnly = raw.alphaOnly;
    settings.keepSize = raw.keepSize;
    options.verbose = raw.verbose;
    options.version = raw.version;
    options.paths = raw.files;
    return options;
}

double parseNumber(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || std::isspace(static_cast<unsigned char>(text[0])) || *end != '\0' ||
        errno == ERANGE || !std::isfinite(value)) {
        badValue(option, text, "a number");
    }
    return value;
}

std::array<double, 4> parseColor(const std::string& option, const std::string& text) {
    const std::string expected = "a colour (R,G,B with numbers from 0 to 1, or #RRGGBB)";
    std::array<double, 4> color{1.0, 1.0, 1.0, 1.0};
    if (!text.empty() && text[0] == '#') {
        const std::size_t digits = text.size() - 1;
        if (digits != 6 && digits != 8) {
            badValue(option, text, expected);
        }
        for (std::size_t c = 0; c < digits / 2; ++c) {
            const int high = hexDigit(text[1 + 2 * c]);
            const int low = hexDigit(text[2 + 2 * c]);
            if (high < 0 || low < 0) {
                badValue(option, text, expected);
            }
            color[c] = (high * 16 + low) / 255.0;
        }
        return color;
    }

    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    if (parts.size() != 3 && parts.size() != 4) {
        badValue(option, text, expected);
    }
    static const char* const names[] = {"red", "green", "blue", "alpha"};
    for (std::size_t c = 0; c < parts.size(); ++c) {
        errno = 0;
        char* end = nullptr;
        const double value = std::strtod(parts[c].c_str(), &end);
        if (parts[c].empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
            badValue(option, text, expected);
        }
        if (value < 0.0 || value > 1.0) {
            throw ToolError(option,
                            "'" + text + "': " + names[c] + " " + parts[c] +
                                " is out of range (0 to 1)",
                            exitUsage);
        }
        color[c] = value;
    }
    return color;
}

int parseQuality(const std::string& option, const std::string& text) {
    if (text == "draft") {
        return 0;
    }
    if (text == "good") {
        return 1;
    }
    if (text == "best") {
        return 2;
    }
    badValue(option, text, "one of draft, good, best");
}

ZarvelHost::PixelDepth parseDepth(const std::string& option, const std::string& text) {
    if (text == "byte") {
        return ZarvelHost::PixelDepth::Byte;
    }
    if (text == "short") {
        return ZarvelHost::PixelDepth::Short;
    }
    if (text == "float") {
        return ZarvelHost::PixelDepth::Float;
    }
    badValue(option, text, "one of byte, short, float");
}

unsigned parseThreads(const std::string& option, const std::string& text) {
    return static_cast<unsigned>(
        parseWhole(option, text, 1, 1024, "a whole number of threads from 1 to 1024"));
}

TileSize parseTile(const std::string& option, const std::string& text) {
    const std::string expected = "a tile size WxH (whole numbers from 1 to 32768)";
    const std::size_t x = text.find('x');
    if (x != std::string::npos) {
        try {
            TileSize tile;
            tile.width = static_cast<int>(parseWhole(option, text.substr(0, x), 1, 32768, ""));
            tile.height = static_cast<int>(parseWhole(option, text.substr(x + 1), 1, 32768, ""));
            return tile;
        } catch (const ToolError&) {
            // Reported below with the whole value.
        }
    }
    badValue(option, text, expected);
}

OIIO::TypeDesc parseOutputType(const std::string& option, const std::string& text) {
    if (text == "uint8") {
        return OIIO::TypeDesc::UINT8;
    }
    if (text == "uint16") {
        return OIIO::TypeDesc::UINT16;
    }
    if (text == "half") {
        return OIIO::TypeDesc::HALF;
    }
    if (text == "float") {
        return OIIO::TypeDesc::FLOAT;
    }
    badValue(option, text, "one of uint8, uint16, half, float");
}

std::optional<Alpha> parseAlpha(const std::string& option, const std::string& text) {
    if (text == "straight") {
        return Alpha::Straight;
    }
    if (text == "premultiplied") {
        return Alpha::Premultiplied;
    }
    if (text == "auto") {
        return std::nullopt;
    }
    badValue(option, text, "one of straight, premultiplied, auto");
}

std::vector<std::string> parseChannels(const std::string& option, const std::string& text) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = text.find(',', start);
        names.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    const bool blank = std::any_of(names.begin(), names.end(),
                                   [](const std::string& name) { return name.empty(); });
    if (blank || names.size() > 4) {
        badValue(option, text, "one to four channel names separated by commas");
    }
    return names;
}

std::string versionText() {
    return "zarvel-render " ZARVEL_VERSION;
}

std::string helpText(const std::string& pluginSearch) {
    RawOptions raw;
    CLI::App app(manualHead, "zarvel-render");
    addOptions(app, raw);
    app.footer(manual(pluginSearch));
    auto formatter = std::make_shared<ManualFormatter>();
    formatter->column_width(26);
    app.formatter(formatter);
    return app.help();
}

}  // namespace ZarvelTool
