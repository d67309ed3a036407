#include "tools/Render.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <thread>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Parameters.h"
#include "host/Plugin.h"
#include "tools/SafeFile.h"
#include "tools/ToolError.h"

#ifndef ZARVEL_BUILT_PLUGIN
#define ZARVEL_BUILT_PLUGIN ""
#endif
#ifndef ZARVEL_INSTALLED_PLUGIN
#define ZARVEL_INSTALLED_PLUGIN ""
#endif

namespace ZarvelTool {

using ZarvelHost::Image;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;

namespace {

constexpr const char* sourceClip = "Source";
constexpr const char* outputClip = "Output";
constexpr const char* widthParam = "outlineWidth";
constexpr const char* colorParam = "outlineColor";
constexpr const char* qualityParam = "quality";
constexpr int maxCanvasSide = 65536;

bool isFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// 16-bit to 8-bit, rounded to nearest: v × 255 / 65535.
std::uint8_t toByte(std::uint32_t sixteen) {
    return static_cast<std::uint8_t>((sixteen * 255u + 32767u) / 65535u);
}

// A sample of 0..pngMax at the render depth.
void storeSample(void* row, std::size_t index, PixelDepth depth, std::uint16_t value, int pngMax) {
    switch (depth) {
    case PixelDepth::Byte:
        static_cast<std::uint8_t*>(row)[index] =
            pngMax == 255 ? static_cast<std::uint8_t>(value) : toByte(value);
        break;
    case PixelDepth::Short:
        static_cast<std::uint16_t*>(row)[index] =
            pngMax == 255 ? static_cast<std::uint16_t>(value * 257u) : value;
        break;
    case PixelDepth::Float:
        static_cast<float*>(row)[index] = static_cast<float>(value) / static_cast<float>(pngMax);
        break;
    }
}

// A sample of the image as a PNG sample of `bitDepth` bits.
std::uint16_t loadSample(const void* row, std::size_t index, PixelDepth depth, int bitDepth) {
    switch (depth) {
    case PixelDepth::Byte: {
        const std::uint8_t value = static_cast<const std::uint8_t*>(row)[index];
        return bitDepth == 8 ? value : static_cast<std::uint16_t>(value * 257u);
    }
    case PixelDepth::Short: {
        const std::uint16_t value = static_cast<const std::uint16_t*>(row)[index];
        return bitDepth == 16 ? value : toByte(value);
    }
    case PixelDepth::Float: {
        const float value = static_cast<const float*>(row)[index];
        const double max = bitDepth == 16 ? 65535.0 : 255.0;
        // NaN fails both comparisons and ends as 0.
        const double clamped = value > 0.0f ? std::min(static_cast<double>(value), 1.0) : 0.0;
        return static_cast<std::uint16_t>(std::lround(clamped * max));
    }
    }
    return 0;
}

std::string failure(const ZarvelHost::ActionCall& call) {
    return "the plug-in failed " + call.action + " (" + statusName(call.status) + ")";
}

void require(const ZarvelHost::ActionCall& call) {
    if (!call.succeeded()) {
        throw std::runtime_error(failure(call));
    }
}

OfxRectI intersect(const OfxRectI& a, const OfxRectI& b) {
    return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
}

}  // namespace

// -- Plug-in search ---------------------------------------------------------------------------------

std::string bundleLibrary(const std::string& bundle) {
    std::string path = bundle;
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path + "/Contents/Linux-x86-64/Zarvel.ofx";
}

std::string findPlugin(const std::optional<std::string>& option) {
    if (option) {
        std::string path = *option;
        if (isDirectory(path)) {
            const std::string inside = bundleLibrary(path + "/Zarvel.ofx.bundle");
            path = isFile(inside) ? inside : bundleLibrary(path);
        }
        if (!isFile(path)) {
            throw ToolError(*option, "no Zarvel.ofx plug-in there", exitPlugin);
        }
        return path;
    }
    if (const char* list = std::getenv("OFX_PLUGIN_PATH")) {
        const std::string folders = list;
        std::size_t start = 0;
        while (start <= folders.size()) {
            std::size_t colon = folders.find(':', start);
            if (colon == std::string::npos) {
                colon = folders.size();
            }
            const std::string folder = folders.substr(start, colon - start);
            if (!folder.empty()) {
                const std::string candidate = bundleLibrary(folder + "/Zarvel.ofx.bundle");
                if (isFile(candidate)) {
                    return candidate;
                }
            }
            start = colon + 1;
        }
    }
    for (const char* candidate : {ZARVEL_BUILT_PLUGIN, ZARVEL_INSTALLED_PLUGIN}) {
        if (*candidate && isFile(candidate)) {
            return candidate;
        }
    }
    throw ToolError("Zarvel.ofx",
                    "plug-in not found: build the Zarvel target, give --plugin PATH or set "
                    "OFX_PLUGIN_PATH (see --help)",
                    exitPlugin);
}

std::string describePluginSearch() {
    const char* list = std::getenv("OFX_PLUGIN_PATH");
    std::string text =
        "  --plugin PATH if given; else the first Zarvel.ofx.bundle found in the folders of\n"
        "  OFX_PLUGIN_PATH (separated by ':'; ";
    text += list && *list ? std::string("now \"") + list + "\")" : std::string("not set now)");
    text += ";\n  else the plug-in built with this program:\n    ";
    text += *ZARVEL_BUILT_PLUGIN ? ZARVEL_BUILT_PLUGIN : "(none)";
    text += "\n  else the installed one:\n    ";
    text += *ZARVEL_INSTALLED_PLUGIN ? ZARVEL_INSTALLED_PLUGIN : "(none)";
    text += "\n";
    return text;
}

// -- Renderer -----------------------------------------------------------------------------------------

struct Renderer::State {
    RenderSettings settings;
    std::string pluginPath;
    // Before the library and the session, so that it is destroyed after them: they live on it.
    ZarvelHost::Host host;
    std::unique_ptr<ZarvelHost::PluginLibrary> library;
    std::unique_ptr<ZarvelHost::Session> session;

    ZarvelHost::Effect& instance() const { return session->instance(); }
    ZarvelHost::Plugin& plugin() const { return session->plugin(); }
    [[noreturn]] void pluginError(const std::string& reason) const {
        throw ToolError(pluginPath, reason, exitPlugin);
    }
    ZarvelHost::HostParam& param(const char* name) const {
        ZarvelHost::HostParam* found = instance().params().find(name);
        if (!found) {
            pluginError(std::string("the effect has no parameter \"") + name + "\"");
        }
        return *found;
    }

    void renderFull(const OfxRectI& canvas);
    void renderTiled(const OfxRectI& canvas, const std::shared_ptr<Image>& source,
                     const TileSize& tile);
};

Renderer::Renderer(const std::string& pluginPath, const RenderSettings& settings)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.settings = settings;
    state.pluginPath = pluginPath;
    const unsigned threads = settings.threads != 0
                                 ? settings.threads
                                 : std::max(1u, std::thread::hardware_concurrency());
    state.host.setCpuCount(threads);

    try {
        state.library = ZarvelHost::PluginLibrary::open(pluginPath);
        state.session = std::make_unique<ZarvelHost::Session>(state.host, *state.library);
    } catch (const std::runtime_error& error) {
        state.pluginError(error.what());
    }
    const OfxStatus status = state.session->start();
    if (status != kOfxStatOK) {
        state.pluginError("the plug-in failed " + state.session->failedAction() + " (" +
                          statusName(status) + ")");
    }
    for (const char* name : {sourceClip, outputClip}) {
        ZarvelHost::Clip* clip = state.instance().findClip(name);
        if (!clip) {
            state.pluginError(std::string("the effect has no \"") + name + "\" clip");
        }
        // PNG alpha is straight; the effect ignores the flag, but a host says what it gives.
        clip->properties().setString(kOfxImageEffectPropPreMultiplication,
                                     kOfxImageUnPreMultiplied);
    }

    ZarvelHost::HostParam& width = state.param(widthParam);
    ZarvelHost::HostParam& color = state.param(colorParam);
    ZarvelHost::HostParam& quality = state.param(qualityParam);
    if (settings.width) {
        const auto& props = width.properties();
        const double low = props.has(kOfxParamPropMin) ? props.getDouble(kOfxParamPropMin)
                                                       : -std::numeric_limits<double>::infinity();
        const double high = props.has(kOfxParamPropMax) ? props.getDouble(kOfxParamPropMax)
                                                        : std::numeric_limits<double>::infinity();
        if (!(*settings.width >= low && *settings.width <= high)) {
            throw ToolError("--width",
                            formatNumber(*settings.width) + " is outside the effect's range " +
                                formatNumber(low) + " to " + formatNumber(high),
                            exitUsage);
        }
        width.setValue({*settings.width});
    }
    if (settings.color) {
        const auto& rgba = *settings.color;
        color.setValue({rgba[0], rgba[1], rgba[2], rgba[3]});
    }
    if (settings.quality) {
        quality.setValue({static_cast<double>(*settings.quality)});
    }
}

Renderer::~Renderer() = default;

void Renderer::State::renderFull(const OfxRectI& canvas) {
    ZarvelHost::RenderOptions options;
    options.window = canvas;
    const ZarvelHost::FrameResult result = session->renderFrame(options);
    if (!ZarvelHost::isSuccess(result.status)) {
        throw std::runtime_error("the plug-in failed " + result.failedAction + " (" +
                                 statusName(result.status) + ")");
    }
    if (result.identity) {
        // The effect says its output is its source: a host then shows the source as it is.
        const std::shared_ptr<Image> source = instance().clip(sourceClip).imageAt(0.0);
        const std::shared_ptr<Image> output = instance().clip(outputClip).imageAt(0.0);
        const OfxRectI overlap = intersect(source->bounds(), intersect(output->bounds(), canvas));
        for (int y = overlap.y1; y < overlap.y2 && overlap.x2 > overlap.x1; ++y) {
            std::memcpy(output->pixelAddress(overlap.x1, y), source->pixelAddress(overlap.x1, y),
                        static_cast<std::size_t>(overlap.x2 - overlap.x1) * output->pixelBytes());
        }
    }
}

void Renderer::State::renderTiled(const OfxRectI& canvas, const std::shared_ptr<Image>& source,
                                  const TileSize& tile) {
    ZarvelHost::Effect& effect = instance();
    ZarvelHost::Clip& input = effect.clip(sourceClip);
    ZarvelHost::Clip& outputClipRef = effect.clip(outputClip);
    const std::shared_ptr<Image> canvasImage = outputClipRef.imageAt(0.0);
    // As a tiling host does: each tile is rendered into a destination image of the tile's size
    // whose region of definition is still the whole canvas, then copied into place.
    outputClipRef.setRegionOfDefinition(
        {static_cast<double>(canvas.x1), static_cast<double>(canvas.y1),
         static_cast<double>(canvas.x2), static_cast<double>(canvas.y2)});
    ZarvelHost::SequenceOptions sequence;
    require(plugin().beginSequenceRender(effect, sequence));
    try {
        for (const OfxRectI& window : splitIntoTiles(canvas, tile)) {
            const OfxRectD region{static_cast<double>(window.x1), static_cast<double>(window.y1),
                                  static_cast<double>(window.x2), static_cast<double>(window.y2)};
            const ZarvelHost::ActionCall roi = plugin().getRegionsOfInterest(effect, 0.0, region);
            require(roi);
            // Deliver only what the effect asked for, as a host that fetches by region does:
            // an effect asking for too little renders differently from the full frame.
            const OfxRectI wanted = enclosingPixels(roi.regionOfInterest(sourceClip));
            input.setImage(cropImage(*source, wanted));
            const std::shared_ptr<Image> tileImage = outputClipRef.allocateImage(
                window, canvasImage->depth(), canvasImage->components());
            ZarvelHost::RenderOptions options;
            options.window = window;
            require(plugin().render(effect, options));
            for (int y = window.y1; y < window.y2; ++y) {
                std::memcpy(
                    canvasImage->pixelAddress(window.x1, y), tileImage->pixelAddress(window.x1, y),
                    static_cast<std::size_t>(window.x2 - window.x1) * canvasImage->pixelBytes());
            }
        }
    } catch (...) {
        plugin().endSequenceRender(effect, sequence);
        outputClipRef.clearRegionOfDefinition();
        throw;
    }
    outputClipRef.clearRegionOfDefinition();
    require(plugin().endSequenceRender(effect, sequence));
}

PngImage Renderer::render(const PngImage& input) {
    State& state = *state_;
    const PixelDepth depth = state.settings.depth.value_or(defaultDepth(input));
    const PixelComponents components =
        state.settings.alphaOnly ? PixelComponents::Alpha : PixelComponents::RGBA;
    const std::shared_ptr<Image> source = toHostImage(input, depth, components);

    ZarvelHost::Effect& effect = state.instance();
    ZarvelHost::Clip& sourceClipRef = effect.clip(sourceClip);
    // Fixed, so that the cut-down images of a tiled render keep the full region.
    sourceClipRef.setRegionOfDefinition(
        {0.0, 0.0, static_cast<double>(input.width), static_cast<double>(input.height)});
    sourceClipRef.setImage(source);

    OfxRectI canvas = source->bounds();
    if (!state.settings.keepSize) {
        const ZarvelHost::ActionCall rod = state.plugin().getRegionOfDefinition(effect, 0.0);
        require(rod);
        canvas = enclosingPixels(rod.regionOfDefinition());
    }
    const std::shared_ptr<Image> output =
        effect.clip(outputClip).allocateImage(canvas, depth, components);
    if (state.settings.tile) {
        state.renderTiled(canvas, source, *state.settings.tile);
    } else {
        state.renderFull(canvas);
    }
    sourceClipRef.clearImages();
    effect.clip(outputClip).clearImages();
    return toPng(*output, outputBitDepth(depth));
}

// -- Pixel conversions --------------------------------------------------------------------------------

PixelDepth defaultDepth(const PngImage& png) {
    return png.bitDepth == 16 ? PixelDepth::Short : PixelDepth::Byte;
}

int outputBitDepth(PixelDepth depth) {
    return depth == PixelDepth::Byte ? 8 : 16;
}

std::shared_ptr<Image> toHostImage(const PngImage& png, PixelDepth depth,
                                   PixelComponents components) {
    auto image = std::make_shared<Image>(OfxRectI{0, 0, png.width, png.height}, depth, components);
    const int count = ZarvelHost::componentCount(components);
    const int pngMax = png.maxValue();
    for (int row = 0; row < png.height; ++row) {
        void* pixels = image->pixelAddress(0, png.height - 1 - row);
        for (int x = 0; x < png.width; ++x) {
            std::uint16_t rgba[4];
            switch (png.channels) {
            case 1:
            case 2:
                rgba[0] = rgba[1] = rgba[2] = png.at(x, row, 0);
                rgba[3] =
                    png.channels == 2 ? png.at(x, row, 1) : static_cast<std::uint16_t>(pngMax);
                break;
            default:
                for (int c = 0; c < 3; ++c) {
                    rgba[c] = png.at(x, row, c);
                }
                rgba[3] =
                    png.channels == 4 ? png.at(x, row, 3) : static_cast<std::uint16_t>(pngMax);
                break;
            }
            const std::size_t first = static_cast<std::size_t>(x) * count;
            for (int c = 0; c < count; ++c) {
                storeSample(pixels, first + c, depth, count == 1 ? rgba[3] : rgba[c], pngMax);
            }
        }
    }
    return image;
}

PngImage toPng(const Image& image, int bitDepth) {
    const OfxRectI& bounds = image.bounds();
    const int count = image.componentCount();
    PngImage png = makePngImage(image.width(), image.height(), count, bitDepth);
    for (int row = 0; row < png.height; ++row) {
        const void* pixels = image.pixelAddress(bounds.x1, bounds.y2 - 1 - row);
        for (int x = 0; x < png.width; ++x) {
            for (int c = 0; c < count; ++c) {
                const std::size_t index = static_cast<std::size_t>(x) * count + c;
                png.at(x, row, c) = loadSample(pixels, index, image.depth(), bitDepth);
            }
        }
    }
    return png;
}

std::shared_ptr<Image> cropImage(const Image& image, const OfxRectI& region) {
    OfxRectI bounds = intersect(image.bounds(), region);
    if (bounds.x2 <= bounds.x1 || bounds.y2 <= bounds.y1) {
        bounds = {image.bounds().x1, image.bounds().y1, image.bounds().x1, image.bounds().y1};
    }
    auto part = std::make_shared<Image>(bounds, image.depth(), image.components());
    const std::size_t rowBytes = static_cast<std::size_t>(part->width()) * image.pixelBytes();
    for (int y = bounds.y1; y < bounds.y2; ++y) {
        std::memcpy(part->pixelAddress(bounds.x1, y), image.pixelAddress(bounds.x1, y), rowBytes);
    }
    return part;
}

OfxRectI enclosingPixels(const OfxRectD& region) {
    const double x1 = std::floor(region.x1);
    const double y1 = std::floor(region.y1);
    const double x2 = std::ceil(region.x2);
    const double y2 = std::ceil(region.y2);
    const double limit = 1e9;
    if (!(std::fabs(x1) < limit && std::fabs(y1) < limit && std::fabs(x2) < limit &&
          std::fabs(y2) < limit) ||
        !(x2 > x1 && y2 > y1) || x2 - x1 > maxCanvasSide || y2 - y1 > maxCanvasSide) {
        throw std::runtime_error("the plug-in asked for an unusable region (" +
                                 formatNumber(region.x1) + ", " + formatNumber(region.y1) +
                                 ") to (" + formatNumber(region.x2) + ", " +
                                 formatNumber(region.y2) + ")");
    }
    return {static_cast<int>(x1), static_cast<int>(y1), static_cast<int>(x2), static_cast<int>(y2)};
}

std::vector<OfxRectI> splitIntoTiles(const OfxRectI& canvas, const TileSize& tile) {
    std::vector<OfxRectI> tiles;
    for (int y = canvas.y1; y < canvas.y2; y += std::min(tile.height, canvas.y2 - y)) {
        const int y2 = y + std::min(tile.height, canvas.y2 - y);
        for (int x = canvas.x1; x < canvas.x2; x += std::min(tile.width, canvas.x2 - x)) {
            tiles.push_back({x, y, x + std::min(tile.width, canvas.x2 - x), y2});
        }
    }
    return tiles;
}

std::string statusName(OfxStatus status) {
    switch (status) {
    case kOfxStatOK:
        return "kOfxStatOK";
    case kOfxStatFailed:
        return "kOfxStatFailed";
    case kOfxStatErrFatal:
        return "kOfxStatErrFatal";
    case kOfxStatErrUnknown:
        return "kOfxStatErrUnknown";
    case kOfxStatErrMissingHostFeature:
        return "kOfxStatErrMissingHostFeature";
    case kOfxStatErrUnsupported:
        return "kOfxStatErrUnsupported";
    case kOfxStatErrExists:
        return "kOfxStatErrExists";
    case kOfxStatErrFormat:
        return "kOfxStatErrFormat";
    case kOfxStatErrMemory:
        return "kOfxStatErrMemory";
    case kOfxStatErrBadHandle:
        return "kOfxStatErrBadHandle";
    case kOfxStatErrBadIndex:
        return "kOfxStatErrBadIndex";
    case kOfxStatErrValue:
        return "kOfxStatErrValue";
    case kOfxStatReplyYes:
        return "kOfxStatReplyYes";
    case kOfxStatReplyNo:
        return "kOfxStatReplyNo";
    case kOfxStatReplyDefault:
        return "kOfxStatReplyDefault";
    case kOfxStatErrImageFormat:
        return "kOfxStatErrImageFormat";
    default:
        return "status " + std::to_string(status);
    }
}

}  // namespace ZarvelTool
