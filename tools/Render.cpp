#include "tools/Render.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
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
#include "host/Tiling.h"
#include "openfx/ofxStatusNames.h"
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
// The effect's width is in pixels of a frame this many rows high.
constexpr double referenceRows = 1080.0;

bool isFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string formatNumber(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

void require(const ZarvelHost::ActionCall& call) {
    if (!call.succeeded()) {
        throw std::runtime_error("the plug-in failed " + call.action + " (" +
                                 statusName(call.status) + ")");
    }
}

OfxRectI intersect(const OfxRectI& a, const OfxRectI& b) {
    return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
}

OfxRectD toDouble(const OfxRectI& r) {
    return {static_cast<double>(r.x1), static_cast<double>(r.y1), static_cast<double>(r.x2),
            static_cast<double>(r.y2)};
}

float maxValue(PixelDepth depth) {
    return depth == PixelDepth::Byte ? 255.0f : depth == PixelDepth::Short ? 65535.0f : 1.0f;
}

// A 0..1 sample at the render depth: integers clamped and rounded, floats as they are.
void store(void* pixel, int c, PixelDepth depth, float value) {
    switch (depth) {
    case PixelDepth::Byte:
    case PixelDepth::Short: {
        // NaN fails the comparison and ends as 0.
        const float clamped = value > 0.0f ? std::min(value, 1.0f) : 0.0f;
        const long whole = std::lround(clamped * maxValue(depth));
        if (depth == PixelDepth::Byte) {
            static_cast<std::uint8_t*>(pixel)[c] = static_cast<std::uint8_t>(whole);
        } else {
            static_cast<std::uint16_t*>(pixel)[c] = static_cast<std::uint16_t>(whole);
        }
        break;
    }
    case PixelDepth::Float:
        static_cast<float*>(pixel)[c] = value;
        break;
    }
}

float load(const void* pixel, int c, PixelDepth depth) {
    switch (depth) {
    case PixelDepth::Byte:
        return static_cast<const std::uint8_t*>(pixel)[c] / 255.0f;
    case PixelDepth::Short:
        return static_cast<const std::uint16_t*>(pixel)[c] / 65535.0f;
    case PixelDepth::Float:
        return static_cast<const float*>(pixel)[c];
    }
    return 0.0f;
}

// The effect leaves its outline pixel unmixed, so premultiplied, where the source alpha is not
// above 0 (an integer 0, a float not above 0).
bool outlineOnly(const Image& source, int x, int y) {
    const void* pixel = source.pixelAddress(x, y);
    if (!pixel) {
        return true;
    }
    const int alpha = source.componentCount() - 1;
    return !(load(pixel, alpha, source.depth()) > 0.0f);
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
    double widthLow = -std::numeric_limits<double>::infinity();
    double widthHigh = std::numeric_limits<double>::infinity();

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
    double width() const { return param(widthParam).valueAt(0.0).at(0); }

    OfxRectI canvasFor(const Picture& input);
    double widthForPixels(const Picture& input, double pixels);
    void renderFull(const OfxRectI& canvas);
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
    // Threads kept for the whole run, as production hosts keep them, instead of started for
    // every band split.
    state.host.setMaxThreads(threads);
    state.host.setThreadMode(ZarvelHost::ThreadMode::Pool);

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
        // The host hands the effect straight colour, whatever the file holds.
        clip->properties().setString(kOfxImageEffectPropPreMultiplication,
                                     kOfxImageUnPreMultiplied);
    }

    ZarvelHost::HostParam& width = state.param(widthParam);
    ZarvelHost::HostParam& color = state.param(colorParam);
    ZarvelHost::HostParam& quality = state.param(qualityParam);
    const auto& props = width.properties();
    if (props.has(kOfxParamPropMin)) {
        state.widthLow = props.getDouble(kOfxParamPropMin);
    }
    if (props.has(kOfxParamPropMax)) {
        state.widthHigh = props.getDouble(kOfxParamPropMax);
    }
    if (settings.width) {
        if (!(*settings.width >= state.widthLow && *settings.width <= state.widthHigh)) {
            throw ToolError("--width",
                            formatNumber(*settings.width) + " is outside the effect's range " +
                                formatNumber(state.widthLow) + " to " +
                                formatNumber(state.widthHigh),
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

const std::string& Renderer::pluginPath() const {
    return state_->pluginPath;
}

// The output's pixels for the width set now: the effect's region of definition, cut to the
// display window with keepSize.
OfxRectI Renderer::State::canvasFor(const Picture& input) {
    const ZarvelHost::ActionCall rod = plugin().getRegionOfDefinition(instance(), 0.0);
    require(rod);
    OfxRectI canvas = enclosingPixels(rod.regionOfDefinition());
    if (settings.keepSize) {
        canvas = intersect(canvas, displayBounds(input));
        if (canvas.x2 <= canvas.x1 || canvas.y2 <= canvas.y1) {
            throw std::runtime_error("nothing of the picture or its outline lies inside its "
                                     "display window (--keep-size)");
        }
    }
    return canvas;
}

// The width whose drawn outline, width × output rows / 1080, is `pixels` on this output. The
// output's rows grow with the width, so the answer is found by a few rounds of fixed point;
// where the rows jump past the exact answer the last width tried is within a row's worth.
double Renderer::State::widthForPixels(const Picture& input, double pixels) {
    double width = pixels * referenceRows / input.height;
    for (int round = 0; round < 12; ++round) {
        if (!(width >= widthLow && width <= widthHigh)) {
            break;
        }
        param(widthParam).setValue({width});
        const OfxRectI canvas = canvasFor(input);
        const double next = pixels * referenceRows / (canvas.y2 - canvas.y1);
        if (next == width) {
            break;
        }
        width = next;
    }
    if (!(width >= widthLow && width <= widthHigh)) {
        throw ToolError("--pixels",
                        formatNumber(pixels) + " pixels on this " + std::to_string(input.width) +
                            "x" + std::to_string(input.height) + " picture needs a width of " +
                            formatNumber(width) + ", outside the effect's range " +
                            formatNumber(widthLow) + " to " + formatNumber(widthHigh),
                        exitUsage);
    }
    param(widthParam).setValue({width});
    return width;
}

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

Picture Renderer::render(const Picture& input, const std::string& format, FrameInfo* info) {
    State& state = *state_;
    const auto start = std::chrono::steady_clock::now();
    const PixelDepth depth = state.settings.depth.value_or(defaultDepth(input));
    const PixelComponents components =
        state.settings.alphaOnly ? PixelComponents::Alpha : PixelComponents::RGBA;
    const std::shared_ptr<Image> source = toHostImage(input, depth, components);

    ZarvelHost::Effect& effect = state.instance();
    ZarvelHost::Clip& sourceClipRef = effect.clip(sourceClip);
    ZarvelHost::Clip& outputClipRef = effect.clip(outputClip);
    // Fixed, so that the cut-down images of a tiled render keep the full region.
    sourceClipRef.setRegionOfDefinition(toDouble(source->bounds()));
    sourceClipRef.setImage(source);

    if (state.settings.pixels) {
        state.widthForPixels(input, *state.settings.pixels);
    }
    const OfxRectI canvas = state.canvasFor(input);
    const std::shared_ptr<Image> output = outputClipRef.allocateImage(canvas, depth, components);
    if (state.settings.tile) {
        const ZarvelHost::TiledFrameResult result =
            ZarvelHost::renderTiledFrame(state.plugin(), effect, source, output,
                                         state.settings.tile->width, state.settings.tile->height);
        if (result.status != kOfxStatOK) {
            throw std::runtime_error("the plug-in failed " + result.failedAction + " (" +
                                     statusName(result.status) + ")");
        }
    } else {
        state.renderFull(canvas);
    }
    sourceClipRef.clearImages();
    outputClipRef.clearImages();
    if (info) {
        info->width = state.width();
        info->depth = depth;
        info->canvas = canvas;
        info->seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    Picture result =
        toPicture(*output, *source, outputAlpha(format, input.alpha), input, keepsWindows(format));
    result.format = format;
    if (state.settings.outputType) {
        result.type = *state.settings.outputType;
    }
    result.bitsPerSample = result.type == input.type && format == input.format
                               ? input.bitsPerSample
                               : static_cast<int>(result.type.size() * 8);
    return result;
}

// -- Conversions --------------------------------------------------------------------------------------

PixelDepth defaultDepth(const Picture& picture) {
    switch (picture.type.basetype) {
    case OIIO::TypeDesc::UINT8:
        return PixelDepth::Byte;
    case OIIO::TypeDesc::UINT16:
        return PixelDepth::Short;
    default:
        return PixelDepth::Float;
    }
}

OfxRectI displayBounds(const Picture& picture) {
    return {0, 0, picture.fullWidth, picture.fullHeight};
}

OfxRectI dataBounds(const Picture& picture) {
    const int top = picture.fullY + picture.fullHeight;
    return {picture.x - picture.fullX, top - (picture.y + picture.height),
            picture.x - picture.fullX + picture.width, top - picture.y};
}

std::shared_ptr<Image> toHostImage(const Picture& picture, PixelDepth depth,
                                   PixelComponents components) {
    const OfxRectI bounds = dataBounds(picture);
    auto image = std::make_shared<Image>(bounds, depth, components);
    const int count = ZarvelHost::componentCount(components);
    const int alpha = picture.alphaChannel;
    std::vector<int> colour;
    for (int c = 0; c < picture.channels(); ++c) {
        if (c != alpha) {
            colour.push_back(c);
        }
    }
    const bool divide = picture.hasAlpha() && picture.alpha == Alpha::Premultiplied;
    for (int row = 0; row < picture.height; ++row) {
        auto* pixels =
            static_cast<unsigned char*>(image->pixelAddress(bounds.x1, bounds.y2 - 1 - row));
        for (int x = 0; x < picture.width; ++x) {
            void* pixel = pixels + static_cast<std::size_t>(x) * image->pixelBytes();
            const float a = alpha >= 0 ? picture.at(x, row, alpha) : 1.0f;
            if (count == 1) {
                store(pixel, 0, depth, a);
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                float value = colour.empty()       ? 0.0f
                              : colour.size() == 1 ? picture.at(x, row, colour[0])
                                                   : picture.at(x, row, colour[c]);
                if (divide && a > 0.0f) {
                    value = static_cast<float>(static_cast<double>(value) / a);
                }
                store(pixel, c, depth, value);
            }
            store(pixel, 3, depth, a);
        }
    }
    return image;
}

Picture toPicture(const Image& output, const Image& source, Alpha alpha, const Picture& like,
                  bool windows) {
    const OfxRectI& bounds = output.bounds();
    const int count = output.componentCount();
    Picture picture;
    picture.width = output.width();
    picture.height = output.height();
    if (windows) {
        picture.x = bounds.x1 + like.fullX;
        picture.y = like.fullY + like.fullHeight - bounds.y2;
        picture.fullX = like.fullX;
        picture.fullY = like.fullY;
        picture.fullWidth = like.fullWidth;
        picture.fullHeight = like.fullHeight;
    } else {
        picture.fullWidth = picture.width;
        picture.fullHeight = picture.height;
    }
    picture.channelNames =
        count == 1 ? std::vector<std::string>{"A"} : std::vector<std::string>{"R", "G", "B", "A"};
    picture.alphaChannel = count - 1;
    picture.alpha = alpha;
    picture.format = like.format;
    picture.type = like.type;
    picture.bitsPerSample = like.bitsPerSample;
    picture.header = like.header;
    picture.specFormat = like.specFormat;
    picture.samples.resize(static_cast<std::size_t>(picture.width) * picture.height * count);
    for (int row = 0; row < picture.height; ++row) {
        const int y = bounds.y2 - 1 - row;
        for (int x = 0; x < picture.width; ++x) {
            const void* pixel = output.pixelAddress(bounds.x1 + x, y);
            float values[4];
            for (int c = 0; c < count; ++c) {
                values[c] = load(pixel, c, output.depth());
            }
            if (count == 4) {
                const double a = values[3];
                const bool premultiplied = outlineOnly(source, bounds.x1 + x, y);
                for (int c = 0; c < 3; ++c) {
                    if (alpha == Alpha::Straight && premultiplied && a > 0.0) {
                        values[c] = static_cast<float>(values[c] / a);
                    } else if (alpha == Alpha::Premultiplied && !premultiplied) {
                        values[c] = static_cast<float>(values[c] * a);
                    }
                }
            }
            for (int c = 0; c < count; ++c) {
                picture.at(x, row, c) = values[c];
            }
        }
    }
    return picture;
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

std::string statusName(OfxStatus status) {
    const char* name = ofxStatusName(status);
    return name ? name : "status " + std::to_string(status);
}

}  // namespace ZarvelTool
