// zarvel-make-sample: writes the bundled sample picture, a small logo-like RGBA PNG with hard
// and soft edges and holes, so that the outline has something of each kind to go around:
//  - a ring (hard, anti-aliased edges; its middle is a hole),
//  - a "Z" inside the ring (hard edges; the gaps between it and the ring are holes),
//  - a rounded badge with a feathered edge and a hard round hole, half hidden under the ring.
// The picture is computed, not stored: the same program always writes the same bytes.
//
// zarvel-make-sample --checkerboard IN OUT composites a picture over a grey checkerboard into an
// opaque one, so that the README's pictures show their outline on any page and in any viewer.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "tools/ImageFile.h"
#include "tools/SafeFile.h"
#include "tools/ToolError.h"

namespace {

using ZarvelTool::Picture;

constexpr int width = 360;
constexpr int height = 240;
// Sub-samples per pixel side for the anti-aliased edges.
constexpr int subsamples = 4;

struct Rgba {
    double r, g, b, a;
};

// Straight-alpha "over".
Rgba over(const Rgba& top, const Rgba& bottom) {
    const double a = top.a + bottom.a * (1.0 - top.a);
    if (a <= 0.0) {
        return {0.0, 0.0, 0.0, 0.0};
    }
    const double under = bottom.a * (1.0 - top.a);
    return {(top.r * top.a + bottom.r * under) / a, (top.g * top.a + bottom.g * under) / a,
            (top.b * top.a + bottom.b * under) / a, a};
}

bool inRing(double x, double y) {
    const double d = std::hypot(x - 112.0, y - 120.0);
    return d <= 92.0 && d >= 62.0;
}

// A "Z": two bars joined by a slanted stroke.
bool inZ(double x, double y) {
    const bool topBar = x >= 78.0 && x <= 146.0 && y >= 80.0 && y <= 96.0;
    const bool bottomBar = x >= 78.0 && x <= 146.0 && y >= 144.0 && y <= 160.0;
    // The stroke runs from the top bar's right end to the bottom bar's left end.
    const double t = (y - 96.0) / (144.0 - 96.0);
    const double centre = 134.0 + t * (90.0 - 134.0);
    const bool stroke = y >= 92.0 && y <= 148.0 && std::fabs(x - centre) <= 11.0;
    return topBar || bottomBar || stroke;
}

// Fraction of the pixel at (px, py) inside `shape`.
template <class Shape>
double coverage(int px, int py, Shape shape) {
    int inside = 0;
    for (int sy = 0; sy < subsamples; ++sy) {
        for (int sx = 0; sx < subsamples; ++sx) {
            if (shape(px + (sx + 0.5) / subsamples, py + (sy + 0.5) / subsamples)) {
                ++inside;
            }
        }
    }
    return static_cast<double>(inside) / (subsamples * subsamples);
}

// The badge: a rounded rectangle whose alpha fades to 0 over its outer 16 pixels.
double badgeAlpha(double x, double y) {
    const double cx = 262.0;
    const double cy = 110.0;
    const double halfWidth = 80.0;
    const double halfHeight = 74.0;
    const double radius = 28.0;
    const double feather = 16.0;
    // Signed distance to the rounded rectangle (negative inside).
    const double qx = std::fabs(x - cx) - (halfWidth - radius);
    const double qy = std::fabs(y - cy) - (halfHeight - radius);
    const double outside = std::hypot(std::max(qx, 0.0), std::max(qy, 0.0));
    const double distance = outside + std::min(std::max(qx, qy), 0.0) - radius;
    return std::clamp(-distance / feather, 0.0, 1.0);
}

// The badge's hard round hole.
bool outsideHole(double x, double y) {
    return std::hypot(x - 290.0, y - 150.0) > 20.0;
}

Picture rgbaPicture(int pictureWidth, int pictureHeight) {
    Picture picture;
    picture.width = picture.fullWidth = pictureWidth;
    picture.height = picture.fullHeight = pictureHeight;
    picture.channelNames = {"R", "G", "B", "A"};
    picture.alphaChannel = 3;
    picture.alpha = ZarvelTool::Alpha::Straight;
    picture.format = "png";
    picture.type = OIIO::TypeDesc::UINT8;
    picture.bitsPerSample = 8;
    picture.samples.assign(static_cast<std::size_t>(pictureWidth) * pictureHeight * 4, 0.0f);
    return picture;
}

Picture makeSample() {
    Picture image = rgbaPicture(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double cx = x + 0.5;
            const double cy = y + 0.5;
            Rgba pixel{0.0, 0.0, 0.0, 0.0};
            // Badge: teal to violet from left to right.
            const double across = std::clamp((cx - 182.0) / 160.0, 0.0, 1.0);
            pixel = over({0.10 + 0.45 * across, 0.65 - 0.35 * across, 0.70 + 0.2 * across,
                          badgeAlpha(cx, cy) * coverage(x, y, outsideHole)},
                         pixel);
            // Ring: orange to red from top to bottom.
            const double down = std::clamp((cy - 28.0) / 184.0, 0.0, 1.0);
            pixel = over({1.0, 0.62 - 0.42 * down, 0.10, coverage(x, y, inRing)}, pixel);
            // Z: deep blue.
            pixel = over({0.12, 0.20, 0.55, coverage(x, y, inZ)}, pixel);

            const std::array<double, 4> values{pixel.r, pixel.g, pixel.b, pixel.a};
            for (int c = 0; c < 4; ++c) {
                image.at(x, y, c) = static_cast<float>(std::lround(values[c] * 255.0)) / 255.0f;
            }
        }
    }
    return image;
}

// `picture` (straight alpha) over squares of 8 pixels, light and mid grey.
Picture overCheckerboard(const Picture& picture) {
    Picture board = rgbaPicture(picture.width, picture.height);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const float grey = ((x / 8 + y / 8) % 2 == 0) ? 0.75f : 0.45f;
            const float a = picture.hasAlpha() ? picture.at(x, y, picture.alphaChannel) : 1.0f;
            for (int c = 0; c < 3; ++c) {
                const float colour = picture.at(x, y, picture.colourChannels() == 1 ? 0 : c);
                const float mixed = colour * a + grey * (1.0f - a);
                board.at(x, y, c) = std::round(std::clamp(mixed, 0.0f, 1.0f) * 255.0f) / 255.0f;
            }
            board.at(x, y, 3) = 1.0f;
        }
    }
    return board;
}

void write(const std::string& path, const Picture& picture) {
    ZarvelTool::writeFileReplacing(
        path, [&](std::FILE* file) { ZarvelTool::writePicture(file, picture, path); });
}

}  // namespace

int main(int argc, char** argv) {
    const bool checkerboard = argc == 4 && std::string(argv[1]) == "--checkerboard";
    if (!checkerboard && (argc != 2 || argv[1][0] == '-')) {
        std::fprintf(stderr, "usage: zarvel-make-sample OUTPUT.png\n"
                             "       zarvel-make-sample --checkerboard INPUT OUTPUT.png\n");
        return 2;
    }
    const std::string path = argv[argc - 1];
    try {
        ZarvelTool::installCleanupHandlers();
        if (checkerboard) {
            ZarvelTool::ReadOptions straight;
            straight.alpha = ZarvelTool::Alpha::Straight;
            write(path, overCheckerboard(ZarvelTool::readPicture(argv[2], straight)));
        } else {
            write(path, makeSample());
        }
    } catch (const ZarvelTool::ToolError& error) {
        std::fprintf(stderr, "zarvel-make-sample: %s\n", error.what());
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "zarvel-make-sample: %s: %s\n", path.c_str(), error.what());
        return 1;
    }
    return 0;
}
