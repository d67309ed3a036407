#include "host/Tiling.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace ZarvelHost {

namespace {

constexpr double largestSide = 1073741824.0;  // 2^30: far beyond any frame, safe in int
constexpr const char* sourceClip = "Source";
constexpr const char* outputClip = "Output";

int toPixel(double value, bool up) {
    if (std::isnan(value)) {
        return 0;
    }
    const double rounded = up ? std::ceil(value) : std::floor(value);
    return static_cast<int>(std::clamp(rounded, -largestSide, largestSide));
}

OfxRectI intersect(const OfxRectI& a, const OfxRectI& b) {
    return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
}

void copyRows(Image& to, const Image& from, const OfxRectI& region) {
    const OfxRectI r = intersect(region, intersect(to.bounds(), from.bounds()));
    if (r.x2 <= r.x1) {
        return;
    }
    const std::size_t rowBytes = static_cast<std::size_t>(r.x2 - r.x1) * to.pixelBytes();
    for (int y = r.y1; y < r.y2; ++y) {
        std::memcpy(to.pixelAddress(r.x1, y), from.pixelAddress(r.x1, y), rowBytes);
    }
}

// An action call that failed, as a result.
struct ActionFailed {
    ActionCall call;
};

void require(ActionCall&& call) {
    if (!call.succeeded()) {
        throw ActionFailed{std::move(call)};
    }
}

}  // namespace

OfxRectI coveringPixels(const OfxRectD& region, double scale) {
    return {toPixel(region.x1 * scale, false), toPixel(region.y1 * scale, false),
            toPixel(region.x2 * scale, true), toPixel(region.y2 * scale, true)};
}

std::shared_ptr<Image> cropImage(const Image& image, const OfxRectI& region) {
    OfxRectI bounds = intersect(image.bounds(), region);
    if (bounds.x2 <= bounds.x1 || bounds.y2 <= bounds.y1) {
        bounds = {image.bounds().x1, image.bounds().y1, image.bounds().x1, image.bounds().y1};
    }
    auto part = std::make_shared<Image>(bounds, image.depth(), image.components());
    copyRows(*part, image, bounds);
    return part;
}

std::vector<OfxRectI> splitIntoTiles(const OfxRectI& frame, int width, int height) {
    std::vector<OfxRectI> tiles;
    for (int y = frame.y1; y < frame.y2; y += std::min(height, frame.y2 - y)) {
        const int y2 = y + std::min(height, frame.y2 - y);
        for (int x = frame.x1; x < frame.x2; x += std::min(width, frame.x2 - x)) {
            tiles.push_back({x, y, x + std::min(width, frame.x2 - x), y2});
        }
    }
    return tiles;
}

std::shared_ptr<Image> renderTile(Clip& source, const Image& fullSource, Clip& output,
                                  const OfxRectI& window, const OfxRectI& bounds,
                                  const TileStep& step, double scale) {
    const OfxRectD region{window.x1 / scale, window.y1 / scale, window.x2 / scale,
                          window.y2 / scale};
    source.setImage(cropImage(fullSource, coveringPixels(step.regionOfInterest(region), scale)));
    const std::shared_ptr<Image> destination =
        output.allocateImage(bounds, fullSource.depth(), fullSource.components());
    step.render(window, *destination);
    return destination;
}

TiledFrameResult renderTiledFrame(Plugin& plugin, Effect& instance,
                                  const std::shared_ptr<Image>& fullSource,
                                  const std::shared_ptr<Image>& canvas, int tileWidth,
                                  int tileHeight) {
    Clip& source = instance.clip(sourceClip);
    Clip& output = instance.clip(outputClip);
    const OfxRectI frame = canvas->bounds();
    // Each tile's destination is only the tile, but the frame it belongs to is the canvas.
    output.setRegionOfDefinition({static_cast<double>(frame.x1), static_cast<double>(frame.y1),
                                  static_cast<double>(frame.x2), static_cast<double>(frame.y2)});
    TiledFrameResult result;
    const SequenceOptions sequence;
    ActionCall begin = plugin.beginSequenceRender(instance, sequence);
    if (!begin.succeeded()) {
        output.clearRegionOfDefinition();
        output.setImage(canvas);
        return {begin.status, begin.action};
    }
    TileStep step;
    step.regionOfInterest = [&](const OfxRectD& region) {
        ActionCall call = plugin.getRegionsOfInterest(instance, 0.0, region);
        const OfxRectD wanted = call.regionOfInterest(sourceClip);
        require(std::move(call));
        return wanted;
    };
    step.render = [&](const OfxRectI& window, Image&) {
        RenderOptions options;
        options.window = window;
        require(plugin.render(instance, options));
    };
    try {
        for (const OfxRectI& tile : splitIntoTiles(frame, tileWidth, tileHeight)) {
            const std::shared_ptr<Image> piece =
                renderTile(source, *fullSource, output, tile, tile, step);
            copyRows(*canvas, *piece, tile);
        }
    } catch (ActionFailed& failed) {
        result = {failed.call.status, failed.call.action};
    } catch (...) {
        plugin.endSequenceRender(instance, sequence);
        output.clearRegionOfDefinition();
        source.setImage(fullSource);
        output.setImage(canvas);
        throw;
    }
    const ActionCall end = plugin.endSequenceRender(instance, sequence);
    if (result.status == kOfxStatOK && !end.succeeded()) {
        result = {end.status, end.action};
    }
    output.clearRegionOfDefinition();
    source.setImage(fullSource);
    output.setImage(canvas);
    return result;
}

}  // namespace ZarvelHost
