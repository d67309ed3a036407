#include "tools/Options.h"

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

// Options that take a value, and the flags.
enum class Kind { Value, Flag };

struct OptionInfo {
    const char* name;
    Kind kind;
};

const OptionInfo knownOptions[] = {
    {"--width", Kind::Value},     {"--color", Kind::Value},      {"--quality", Kind::Value},
    {"--depth", Kind::Value},     {"--threads", Kind::Value},    {"--tile", Kind::Value},
    {"--plugin", Kind::Value},    {"--output-dir", Kind::Value}, {"-o", Kind::Value},
    {"--alpha-only", Kind::Flag}, {"--keep-size", Kind::Flag},   {"--help", Kind::Flag},
    {"-h", Kind::Flag},           {"--version", Kind::Flag},
};

const OptionInfo* findOption(const std::string& name) {
    for (const OptionInfo& info : knownOptions) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

void apply(Options& options, const std::string& name, const std::string& value) {
    RenderSettings& settings = options.settings;
    if (name == "--width") {
        settings.width = parseNumber(name, value);
    } else if (name == "--color") {
        settings.color = parseColor(name, value);
    } else if (name == "--quality") {
        settings.quality = parseQuality(name, value);
    } else if (name == "--depth") {
        settings.depth = parseDepth(name, value);
    } else if (name == "--threads") {
        settings.threads = parseThreads(name, value);
    } else if (name == "--tile") {
        settings.tile = parseTile(name, value);
    } else if (name == "--plugin") {
        if (value.empty()) {
            throw ToolError(name, "needs a path", exitUsage);
        }
        options.plugin = value;
    } else if (name == "--output-dir" || name == "-o") {
        if (value.empty()) {
            throw ToolError(name, "needs a folder", exitUsage);
        }
        options.outputDir = value;
    } else if (name == "--alpha-only") {
        settings.alphaOnly = true;
    } else if (name == "--keep-size") {
        settings.keepSize = true;
    } else if (name == "--help" || name == "-h") {
        options.help = true;
    } else if (name == "--version") {
        options.version = true;
    }
}

}  // namespace

Options parseOptions(int argc, const char* const* argv) {
    Options options;
    bool filesOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (filesOnly || argument.size() < 2 || argument[0] != '-') {
            // A lone "-" would mean standard input, which a PNG renderer cannot rename into;
            // it is taken as a file name and fails as one.
            options.paths.push_back(argument);
            continue;
        }
        if (argument == "--") {
            filesOnly = true;
            continue;
        }
        std::string name = argument;
        std::optional<std::string> value;
        const std::size_t equals = argument.find('=');
        if (argument.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            value = argument.substr(equals + 1);
        }
        const OptionInfo* info = findOption(name);
        if (!info) {
            throw ToolError(name, "unknown option (see --help)", exitUsage);
        }
        if (info->kind == Kind::Flag) {
            if (value) {
                throw ToolError(name, "takes no value", exitUsage);
            }
            apply(options, name, {});
            continue;
        }
        if (!value) {
            if (i + 1 >= argc) {
                throw ToolError(name, "needs a value", exitUsage);
            }
            value = argv[++i];
        }
        apply(options, name, *value);
    }
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

std::string versionText() {
    return "zarvel-render " ZARVEL_VERSION;
}

std::string helpText(const std::string& pluginSearch) {
    const unsigned machineThreads = std::max(1u, std::thread::hardware_concurrency());
    return R"(zarvel-render )" ZARVEL_VERSION
           R"( - draw the Zarvel outline around the opaque parts of PNG images

Usage:
  zarvel-render [OPTIONS] INPUT.png OUTPUT.png
  zarvel-render [OPTIONS] -o OUTDIR INPUT.png...
  zarvel-render [OPTIONS] 'in/frame%04d.png' 'out/frame%04d.png'

Loads the Zarvel.ofx plug-in through an OpenFX host, hands it each PNG as the "Source" clip and
writes what it renders: a coloured outline of the chosen width around the opaque parts of the
image, with the image composited over it. The output is larger than the input by the padding
the effect asks for (4 x the width on every side), unless --keep-size.

Effect (the defaults are the effect's own):
  --width W            outline width, 0.1 to 20; default 15. W is in pixels of a 1080-row
                       image: the outline drawn is W x (output height / 1080) pixels wide.
  --color R,G,B        outline colour, three numbers from 0 to 1 (a fourth, alpha, is accepted
  --color '#RRGGBB'    but the effect ignores it), or hexadecimal; default white (1,1,1).
  --quality Q          draft (chamfer distance, fastest), good (exact Euclidean distance) or
                       best (renders as good); default good.

Images:
  --depth D            the pixel depth the plug-in renders in: byte, short or float. Default:
                       byte for 8-bit input, short for 16-bit input.
  --alpha-only         hand the plug-in alpha-only images; the output is a gray PNG of the
                       coverage (the input's alpha, the outline's coverage around it).
  --keep-size          keep the input's size instead of the effect's region of definition
                       (an outline reaching past the edge is cut off).

Rendering:
  --threads N          threads the host offers the plug-in, 1 to 1024; default the machine's
                       ()" +
           std::to_string(machineThreads) +
           R"( here).
  --tile WxH           render the frame tile by tile, W x H pixels at a time, as a tiling host
                       does: each tile a Render action into a destination of the tile's size,
                       with the source cut to the region of interest the effect asks for. Same
                       result as a full-frame render.
  --plugin PATH        the plug-in to load: a Zarvel.ofx file or a Zarvel.ofx.bundle folder.
  -o, --output-dir DIR render every input into DIR under its own file name (created if
                       missing).
  -h, --help           show this manual.
  --version            show the version.

Files:
  Input: PNG, 8- or 16-bit, gray, gray+alpha, RGB or RGBA (palette and 1-, 2- or 4-bit images
  are refused: convert them first). What has no alpha is opaque; a tRNS chunk counts as alpha.
  Alpha is straight, as PNG stores it: the clips are marked "OfxImageAlphaUnPremultiplied",
  and the effect composites the source over the outline with straight alpha.
  Conversion to the render depth is exact: 8-bit samples are used as they are in byte, x 257
  in short and / 255 in float; 16-bit samples as they are in short, / 65535 in float, and
  rounded to the nearest of 0..255 in byte.
  Output: PNG, RGBA (gray with --alpha-only), 8-bit when rendering in byte, 16-bit when
  rendering in short or float (float values are clamped to 0..1 and rounded to 16 bits).
  The output is written to a temporary file beside it and renamed into place only when it is
  complete, so a failed or interrupted render never leaves a partial file. An output that is
  one of the inputs (the same file under any name) is refused.

Batches:
  With -o DIR, or with a frame pattern (a printf-style %d, %4d or %04d in the input's file
  name, which renders every existing file that matches, in frame order, into the output
  pattern or DIR), several frames render in one run. A frame that fails is reported and the
  others still render. A progress bar is drawn on standard error when it is a terminal, and a
  summary line (frames, time, frames per second) is printed on standard output at the end.

Plug-in:
)" + pluginSearch +
           R"(
Errors:
  Each problem is one line on standard error, "zarvel-render: <file or option>: <reason>".

Exit status:
  0  every frame rendered
  1  a frame failed: input missing, not a PNG, truncated, corrupt or of an unsupported layout,
     output not writable or equal to an input, or the render failed
  2  bad command line: unknown option, bad value (a width that is not a number or outside the
     effect's range, a colour out of range ...), wrong number of files
  3  the plug-in could not be found, loaded or started

Examples:
  zarvel-render logo.png logo-outlined.png
  zarvel-render --width 8 --color '#ff8000' --quality best logo.png logo-orange.png
  zarvel-render --depth float --tile 256x256 scan16.png scan16-outlined.png
  zarvel-render -o outlined shots/*.png
  zarvel-render 'in/frame%04d.png' 'out/frame%04d.png'
)";
}

}  // namespace ZarvelTool
