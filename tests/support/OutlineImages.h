// Test helpers for rendering the outline effect through the test host: the six pixel types, a
// host instance with the effect's clips and parameters, sources with hard and soft edges, and
// byte-exact comparison of images.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "host/Effect.h"
#include "host/Host.h"
#include "host/Image.h"
#include "host/Parameters.h"
#include "openfx/openfx.h"
#include "tests/support/ReferenceOutline.h"

namespace zarvel::test {

/// One of the six pixel types, for TYPED_TEST.
template <class PIX, int N>
struct OutlinePixelType {
    using Pix = PIX;
    static constexpr int components = N;
    static constexpr ZarvelHost::PixelDepth depth =
        std::is_same_v<PIX, unsigned char>    ? ZarvelHost::PixelDepth::Byte
        : std::is_same_v<PIX, unsigned short> ? ZarvelHost::PixelDepth::Short
                                              : ZarvelHost::PixelDepth::Float;
    static constexpr ZarvelHost::PixelComponents layout =
        N == 4 ? ZarvelHost::PixelComponents::RGBA : ZarvelHost::PixelComponents::Alpha;
    static constexpr int referenceType =
        std::is_same_v<PIX, unsigned char>    ? ReferenceOutline::componentByte
        : std::is_same_v<PIX, unsigned short> ? ReferenceOutline::componentShort
                                              : ReferenceOutline::componentFloat;
};

using OutlinePixelTypes =
    ::testing::Types<OutlinePixelType<unsigned char, 4>, OutlinePixelType<unsigned short, 4>,
                     OutlinePixelType<float, 4>, OutlinePixelType<unsigned char, 1>,
                     OutlinePixelType<unsigned short, 1>, OutlinePixelType<float, 1>>;

/// Readable names of the six types in test output ("Byte4", "Float1" ...).
struct OutlinePixelTypeNames {
    template <class T>
    static std::string GetName(int) {
        const char* depth = T::depth == ZarvelHost::PixelDepth::Byte    ? "Byte"
                            : T::depth == ZarvelHost::PixelDepth::Short ? "Short"
                                                                        : "Float";
        return depth + std::to_string(T::components);
    }
};

/// A filter instance on the test host as the effect's factory describes it: clips "Output" and
/// "Source", parameters "outlineColor" (RGBA), "outlineWidth" (double) and "quality" (choice),
/// at their defaults (white, 15, Good).
struct OutlineHostInstance {
    explicit OutlineHostInstance(ZarvelHost::Host& host)
        : descriptor(ZarvelHost::Effect::makeDescriptor(host))
        , contextDescriptor(ZarvelHost::Effect::makeContextDescriptor(
              host, *descriptor, kOfxImageEffectContextFilter)) {
        contextDescriptor->defineClip("Output");
        contextDescriptor->defineClip("Source");
        ZarvelHost::HostParamSet& params = contextDescriptor->params();
        params.define(kOfxParamTypeRGBA, "outlineColor")
            .properties()
            .setDoubles(kOfxParamPropDefault, {1.0, 1.0, 1.0, 1.0});
        params.define(kOfxParamTypeDouble, "outlineWidth")
            .properties()
            .setDouble(kOfxParamPropDefault, 15.0);
        params.define(kOfxParamTypeChoice, "quality").properties().setInt(kOfxParamPropDefault, 1);
        instance = ZarvelHost::Effect::makeInstance(host, *contextDescriptor);
    }

    OfxImageEffectHandle handle() const { return instance->handle(); }
    ZarvelHost::Clip& output() const { return instance->clip("Output"); }
    ZarvelHost::Clip& source() const { return instance->clip("Source"); }

    void setWidth(double width) { instance->param("outlineWidth").setValue({width}); }
    void setColor(double red, double green, double blue, double alpha = 1.0) {
        instance->param("outlineColor").setValue({red, green, blue, alpha});
    }
    void setQuality(int quality) { instance->param("quality").setValue({double(quality)}); }

    std::unique_ptr<ZarvelHost::Effect> descriptor;
    std::unique_ptr<ZarvelHost::Effect> contextDescriptor;
    std::unique_ptr<ZarvelHost::Effect> instance;
};

/// The reference's view of a host image (same memory).
inline ReferenceOutline::Image referenceView(const ZarvelHost::Image& image) {
    ReferenceOutline::Image view;
    view.data = image.data();
    view.rowBytes = image.rowBytes();
    view.bounds = image.bounds();
    view.componentType =
        image.depth() == ZarvelHost::PixelDepth::Byte    ? ReferenceOutline::componentByte
        : image.depth() == ZarvelHost::PixelDepth::Short ? ReferenceOutline::componentShort
                                                         : ReferenceOutline::componentFloat;
    view.nComponents = image.componentCount();
    return view;
}

/// Paints a source: a few discs and rectangles, some cut by the image's edges, over a clear
/// background, with random colours. Hard edges give alpha 0 or 1 only; soft edges ramp the alpha
/// over three pixels, so that coverage values just below, at and above one half all occur.
/// Lone pixels of low (edge) and high (inside) coverage are scattered over the background, so
/// that the transforms meet isolated points next to each other as well as shapes.
inline void paintShapes(ZarvelHost::Image& image, unsigned seed, bool softEdges) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const OfxRectI b = image.bounds();
    const float width = float(b.x2 - b.x1);
    const float height = float(b.y2 - b.y1);
    struct Shape {
        bool disc;
        float cx, cy, rx, ry;
        float colour[3];
    };
    std::vector<Shape> shapes;
    const int count = 3 + int(random() % 3);
    for (int s = 0; s < count; ++s) {
        Shape shape;
        shape.disc = s % 2 == 0;
        // The first two shapes sit on the image's corners, cut by its edges.
        shape.cx = s == 0 ? 0.0f : s == 1 ? width : unit(random) * width;
        shape.cy = s == 0 ? height * 0.3f : s == 1 ? height : unit(random) * height;
        shape.rx = 2.0f + unit(random) * width * 0.25f;
        shape.ry = 2.0f + unit(random) * height * 0.25f;
        for (float& c : shape.colour) {
            c = unit(random);
        }
        shapes.push_back(shape);
    }
    const int components = image.componentCount();
    for (int y = b.y1; y < b.y2; ++y) {
        for (int x = b.x1; x < b.x2; ++x) {
            const float px = float(x - b.x1) + 0.5f;
            const float py = float(y - b.y1) + 0.5f;
            float alpha = 0.0f;
            float colour[3] = {unit(random) * 0.1f, 0.0f, 0.0f};
            for (const Shape& shape : shapes) {
                const float dx = (px - shape.cx) / shape.rx;
                const float dy = (py - shape.cy) / shape.ry;
                // Signed distance in pixels, roughly, from the shape's outline (negative inside).
                const float outside = shape.disc ? (std::sqrt(dx * dx + dy * dy) - 1.0f) *
                                                       std::min(shape.rx, shape.ry)
                                                 : (std::max(std::fabs(dx), std::fabs(dy)) - 1.0f) *
                                                       std::min(shape.rx, shape.ry);
                const float a = softEdges ? std::clamp(0.5f - outside / 3.0f, 0.0f, 1.0f)
                                          : (outside < 0.0f ? 1.0f : 0.0f);
                if (a > alpha) {
                    alpha = a;
                    std::copy(shape.colour, shape.colour + 3, colour);
                }
            }
            if (alpha == 0.0f && random() % 53 == 0) {
                alpha = random() % 2 == 0 ? 0.25f : 0.9f;
            }
            if (components == 1) {
                image.set(x, y, 0, alpha);
            } else {
                image.set(x, y, 0, colour[0]);
                image.set(x, y, 1, colour[1]);
                image.set(x, y, 2, colour[2]);
                image.set(x, y, 3, alpha);
            }
        }
    }
}

/// A copy of the pixels of `image` within `region` (clipped to the image's bounds).
inline std::shared_ptr<ZarvelHost::Image> cropImage(const ZarvelHost::Image& image,
                                                    const OfxRectI& region) {
    const OfxRectI b = image.bounds();
    const OfxRectI r = {std::max(region.x1, b.x1), std::max(region.y1, b.y1),
                        std::min(region.x2, b.x2), std::min(region.y2, b.y2)};
    auto copy = std::make_shared<ZarvelHost::Image>(r, image.depth(), image.components());
    for (int y = r.y1; y < r.y2; ++y) {
        if (r.x2 > r.x1) {
            std::memcpy(copy->pixelAddress(r.x1, y), image.pixelAddress(r.x1, y),
                        std::size_t(r.x2 - r.x1) * std::size_t(image.pixelBytes()));
        }
    }
    return copy;
}

/// Sets every byte of every pixel of `image` to `byte`.
inline void fillBytes(ZarvelHost::Image& image, unsigned char byte) {
    const OfxRectI b = image.bounds();
    for (int y = b.y1; y < b.y2; ++y) {
        if (b.x2 > b.x1) {
            std::memset(image.pixelAddress(b.x1, y), byte,
                        std::size_t(b.x2 - b.x1) * std::size_t(image.pixelBytes()));
        }
    }
}

/// Empty when the pixels of `actual` and `expected` within `region` are equal byte for byte;
/// otherwise the first differing pixel and how many differ.
inline std::string compareImages(const ZarvelHost::Image& actual, const ZarvelHost::Image& expected,
                                 const OfxRectI& region) {
    const std::size_t bytes = std::size_t(actual.pixelBytes());
    if (bytes != std::size_t(expected.pixelBytes())) {
        return "different pixel sizes";
    }
    long differing = 0;
    std::ostringstream first;
    for (int y = region.y1; y < region.y2; ++y) {
        for (int x = region.x1; x < region.x2; ++x) {
            const void* a = actual.pixelAddress(x, y);
            const void* e = expected.pixelAddress(x, y);
            if (a == nullptr || e == nullptr) {
                return "region outside an image";
            }
            if (std::memcmp(a, e, bytes) != 0) {
                if (differing++ == 0) {
                    first << "pixel (" << x << ", " << y << "): component 0 is "
                          << actual.get(x, y, 0) << ", expected " << expected.get(x, y, 0)
                          << "; last component " << actual.get(x, y, actual.componentCount() - 1)
                          << ", expected " << expected.get(x, y, expected.componentCount() - 1);
                }
            }
        }
    }
    if (differing == 0) {
        return "";
    }
    return std::to_string(differing) + " pixels differ, first " + first.str();
}

/// Empty when every byte of `image` outside `region` still is `byte`; otherwise the first pixel
/// that changed.
inline std::string untouchedOutside(const ZarvelHost::Image& image, const OfxRectI& region,
                                    unsigned char byte) {
    const OfxRectI b = image.bounds();
    for (int y = b.y1; y < b.y2; ++y) {
        for (int x = b.x1; x < b.x2; ++x) {
            if (x >= region.x1 && x < region.x2 && y >= region.y1 && y < region.y2) {
                continue;
            }
            const auto* p = static_cast<const unsigned char*>(image.pixelAddress(x, y));
            for (int k = 0; k < image.pixelBytes(); ++k) {
                if (p[k] != byte) {
                    return "pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                           ") was written";
                }
            }
        }
    }
    return "";
}

}  // namespace zarvel::test
