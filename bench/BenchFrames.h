// The pictures the frame benchmark renders, as coverage (alpha) and colour per pixel. The tests
// render the same pictures at smaller sizes, so that what is timed is also what is checked.
//
// Content:
// - shapes: scattered anti-aliased ellipses, rings and rounded boxes covering about 30 % of the
//   frame. Positions and sizes are fractions of the frame, so every frame size shows the same
//   picture, scaled.
// - text: dense rows of glyph-like strokes 2 to 6 pixels thick (sizes in pixels: a larger frame
//   holds more glyphs at the same density).
// - opaque: every pixel fully covered.
// - empty: nothing covered.
// Edges are soft over about one pixel. Everything is deterministic: the same size gives the same
// picture on every run. Header-only; thread-safe (no shared state).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ZarvelBench {

enum class Content { shapes, text, opaque, empty };

inline const char* contentName(Content content) {
    switch (content) {
    case Content::shapes:
        return "shapes";
    case Content::text:
        return "text";
    case Content::opaque:
        return "opaque";
    case Content::empty:
        break;
    }
    return "empty";
}

namespace detail {

// A small generator with the same sequence on every platform (std::uniform_*_distribution is
// not specified to the bit).
class Random {
public:
    explicit Random(std::uint64_t seed)
        : state(seed * 0x9E3779B97F4A7C15ull + 1) {}

    double unit() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return double(state >> 11) / double(std::uint64_t(1) << 53);
    }

private:
    std::uint64_t state;
};

class Canvas {
public:
    Canvas(int width, int height)
        : w(width)
        , h(height)
        , alpha(std::size_t(std::max(width, 0)) * std::size_t(std::max(height, 0)), 0.0f) {}

    // Coverage of (x, y) at least `value` (limited to 0..1).
    void paint(int x, int y, double value) {
        if (x < 0 || y < 0 || x >= w || y >= h || !(value > 0.0)) {
            return;
        }
        float& a = alpha[std::size_t(y) * std::size_t(w) + std::size_t(x)];
        a = std::max(a, float(std::min(value, 1.0)));
    }

    // A box from (x1, y1) to (x2, y2) with corners rounded by `radius`.
    void box(double x1, double y1, double x2, double y2, double radius) {
        for (int y = int(std::floor(y1)) - 1; y <= int(std::ceil(y2)) + 1; ++y) {
            for (int x = int(std::floor(x1)) - 1; x <= int(std::ceil(x2)) + 1; ++x) {
                const double dx = std::max({x1 + radius - x, 0.0, x - (x2 - radius)});
                const double dy = std::max({y1 + radius - y, 0.0, y - (y2 - radius)});
                paint(x, y, radius - std::hypot(dx, dy) + 0.5);
            }
        }
    }

    // An ellipse around (cx, cy); `hole` (0..1) cuts a concentric hole of that relative size.
    void ellipse(double cx, double cy, double rx, double ry, double hole) {
        const double r = std::min(rx, ry);
        for (int y = int(std::floor(cy - ry)) - 2; y <= int(std::ceil(cy + ry)) + 2; ++y) {
            for (int x = int(std::floor(cx - rx)) - 2; x <= int(std::ceil(cx + rx)) + 2; ++x) {
                const double d = std::hypot((x - cx) / rx, (y - cy) / ry);
                const double outer = (1.0 - d) * r + 0.5;
                const double inner = hole > 0.0 ? (d - hole) * r + 0.5 : 1.0;
                paint(x, y, std::min(outer, inner));
            }
        }
    }

    double coverage() const {
        double sum = 0.0;
        for (float a : alpha) {
            sum += a;
        }
        return alpha.empty() ? 0.0 : sum / double(alpha.size());
    }

    int w;
    int h;
    std::vector<float> alpha;
};

// Batch `batch` of 24 shapes, at positions and sizes relative to the canvas.
inline void paintShapes(Canvas& canvas, int batch) {
    Random random(7 + std::uint64_t(batch));
    const double width = canvas.w;
    const double height = canvas.h;
    for (int n = 0; n < 24; ++n) {
        const double cx = random.unit() * width;
        const double cy = random.unit() * height;
        const double size = height * (0.01 + 0.07 * random.unit() * random.unit());
        const double kind = random.unit();
        const double stretch = 0.6 + random.unit();
        const double extra = random.unit();
        if (kind < 0.45) {
            canvas.ellipse(cx, cy, size * stretch, size, 0.0);
        } else if (kind < 0.65) {
            canvas.ellipse(cx, cy, size, size, 0.45 + 0.3 * extra);
        } else {
            const double sx = size * (0.2 + stretch);
            canvas.box(cx - sx, cy - size, cx + sx, cy + size, size * 0.3 * extra);
        }
    }
}

}  // namespace detail

/// Coverage 0..1 of every pixel of a `width` × `height` frame, row-major from row 0.
inline std::vector<float> frameCoverage(Content content, int width, int height) {
    detail::Canvas canvas(width, height);
    if (width <= 0 || height <= 0) {
        return canvas.alpha;
    }
    switch (content) {
    case Content::empty:
        break;
    case Content::opaque:
        std::fill(canvas.alpha.begin(), canvas.alpha.end(), 1.0f);
        break;
    case Content::shapes: {
        // Batches of shapes until about 30 % is covered, counted on a small frame of the same
        // shape so that every size gets the same batches.
        const int smallHeight = std::min(height, 270);
        const int smallWidth =
            std::max(1, int(std::lround(double(width) * smallHeight / double(height))));
        detail::Canvas small(smallWidth, smallHeight);
        int batches = 0;
        while (small.coverage() < 0.3 && batches < 1000) {
            detail::paintShapes(small, batches++);
        }
        for (int batch = 0; batch < batches; ++batch) {
            detail::paintShapes(canvas, batch);
        }
        break;
    }
    case Content::text: {
        detail::Random random(11);
        for (double y = 6; y + 22 < height; y += 26) {
            for (double x = 4 + random.unit() * 6; x + 16 < width; x += 13 + random.unit() * 4) {
                const double stroke = 2.0 + random.unit() * 4.0;
                canvas.box(x, y, x + stroke, y + 19, stroke / 3);
                const double bar = y + 6 + random.unit() * 8;
                canvas.box(x, bar, x + 11, bar + stroke, 1.0);
                if (random.unit() < 0.4) {
                    canvas.ellipse(x + 7, y + 12, 5.5, 6.5, 0.55);
                }
            }
        }
        break;
    }
    }
    return canvas.alpha;
}

/// Colour component `c` (0 red, 1 green, 2 blue) of pixel (x, y), 0..1: smooth ramps, so that
/// compositing sees many different values.
inline float frameColour(int x, int y, int c) {
    const int period = 97 + 31 * c;
    return float(((x * (c + 1) + y * (3 - c)) % period)) / float(period - 1);
}

}  // namespace ZarvelBench
