#include "tests/support/ReferenceOutline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace ReferenceOutline {

namespace {

const float farClass = 1e10f;
const float edgeClass = 0.0f;
const float insideClass = -2.0f;

double maxOf(int componentType) {
    if (componentType == componentByte) {
        return 255.0;
    }
    if (componentType == componentShort) {
        return 65535.0;
    }
    return 1.0;
}

// Component k of a pixel, as float (integer values converted exactly).
float readComponent(const void* pixel, int componentType, int k) {
    if (componentType == componentByte) {
        return static_cast<float>(static_cast<const unsigned char*>(pixel)[k]);
    }
    if (componentType == componentShort) {
        return static_cast<float>(static_cast<const unsigned short*>(pixel)[k]);
    }
    return static_cast<const float*>(pixel)[k];
}

// Limits to [0, max] (NaN to 0), truncates integer types, and stores component k.
void writeLimited(void* pixel, int componentType, int k, float value) {
    const float top = static_cast<float>(maxOf(componentType));
    float v = value;
    if (std::isnan(v) || v < 0.0f) {
        v = 0.0f;
    }
    if (v > top) {
        v = top;
    }
    if (componentType == componentByte) {
        static_cast<unsigned char*>(pixel)[k] = static_cast<unsigned char>(std::trunc(v));
    } else if (componentType == componentShort) {
        static_cast<unsigned short*>(pixel)[k] = static_cast<unsigned short>(std::trunc(v));
    } else {
        static_cast<float*>(pixel)[k] = v;
    }
}

void writeZero(void* pixel, int componentType, int nComponents) {
    std::memset(pixel, 0, static_cast<std::size_t>(componentBytes(componentType) * nComponents));
}

float squareOf(long long value) {
    return static_cast<float>(value * value);
}

}  // namespace

int componentBytes(int componentType) {
    if (componentType == componentByte) {
        return 1;
    }
    if (componentType == componentShort) {
        return 2;
    }
    return 4;
}

OwnedImage::OwnedImage(const OfxRectI& bounds, int componentType, int nComponents, bool bottomUp) {
    const int width = bounds.x2 > bounds.x1 ? bounds.x2 - bounds.x1 : 0;
    const int height = bounds.y2 > bounds.y1 ? bounds.y2 - bounds.y1 : 0;
    const int rowBytes = width * nComponents * componentBytes(componentType);
    storage.assign(static_cast<std::size_t>(rowBytes) * static_cast<std::size_t>(height), 0);
    view.bounds = bounds;
    view.componentType = componentType;
    view.nComponents = nComponents;
    if (bottomUp && height > 0) {
        view.data = storage.data() + static_cast<std::size_t>(rowBytes) * (height - 1);
        view.rowBytes = -rowBytes;
    } else {
        view.data = storage.data();
        view.rowBytes = rowBytes;
    }
}

void* pixelAddress(const Image& image, int x, int y) {
    if (x < image.bounds.x1 || x >= image.bounds.x2 || y < image.bounds.y1 ||
        y >= image.bounds.y2) {
        return nullptr;
    }
    const long long offset = static_cast<long long>(y - image.bounds.y1) * image.rowBytes +
                             static_cast<long long>(x - image.bounds.x1) * image.nComponents *
                                 componentBytes(image.componentType);
    return static_cast<unsigned char*>(image.data) + offset;
}

std::vector<float> classify(const Image* source, const OfxRectI& fieldBounds) {
    const int width = fieldBounds.x2 - fieldBounds.x1;
    const int height = fieldBounds.y2 - fieldBounds.y1;
    std::vector<float> field(static_cast<std::size_t>(width) * height, farClass);
    if (source == nullptr) {
        return field;
    }
    const int alphaIndex = source->nComponents == 4 ? 3 : 0;
    for (int j = 0; j < height; ++j) {
        for (int i = 0; i < width; ++i) {
            const void* pixel = pixelAddress(*source, fieldBounds.x1 + i, fieldBounds.y1 + j);
            float value = farClass;
            if (pixel != nullptr) {
                if (source->componentType == componentFloat) {
                    const float alpha = static_cast<const float*>(pixel)[alphaIndex];
                    if (alpha > 0.0f) {
                        value = alpha > 0.5f ? insideClass : edgeClass;
                    }
                } else {
                    const double alpha = readComponent(pixel, source->componentType, alphaIndex);
                    if (alpha != 0.0) {
                        value =
                            alpha / maxOf(source->componentType) > 0.5 ? insideClass : edgeClass;
                    }
                }
            }
            field[static_cast<std::size_t>(j) * width + i] = value;
        }
    }
    return field;
}

void chamfer(std::vector<float>& field, int width, int height) {
    auto at = [&](int i, int j) -> float& {
        return field[static_cast<std::size_t>(j) * width + i];
    };
    for (int j = 1; j <= height - 2; ++j) {
        for (int i = 1; i <= width - 2; ++i) {
            float v = at(i, j);
            if (v > 0.0f) {
                v = std::min(v, at(i - 1, j) + 1.0f);
                v = std::min(v, at(i, j - 1) + 1.0f);
                v = std::min(v, at(i - 1, j - 1) + 1.414f);
                v = std::min(v, at(i + 1, j - 1) + 1.414f);
                at(i, j) = v;
            }
        }
    }
    for (int j = height - 2; j >= 1; --j) {
        for (int i = width - 2; i >= 1; --i) {
            float v = at(i, j);
            if (v > 0.0f) {
                v = std::min(v, at(i + 1, j) + 1.0f);
                v = std::min(v, at(i, j + 1) + 1.0f);
                v = std::min(v, at(i + 1, j + 1) + 1.414f);
                v = std::min(v, at(i - 1, j + 1) + 1.414f);
                at(i, j) = v;
            }
        }
    }
}

std::vector<float> lowerEnvelope(const std::vector<float>& f) {
    const int n = static_cast<int>(f.size());
    std::vector<float> g(f.size());
    if (n <= 0) {
        return g;
    }
    std::vector<int> v(f.size());
    std::vector<float> z(f.size() + 1);
    auto crossing = [&](int q, int p) {
        const float numerator = (f[q] + squareOf(q)) - (f[p] + squareOf(p));
        const float denominator = (static_cast<float>(q) + static_cast<float>(q)) -
                                  (static_cast<float>(p) + static_cast<float>(p));
        return numerator / denominator;
    };
    int k = 0;
    v[0] = 0;
    z[0] = -1e20f;
    z[1] = 1e20f;
    for (int q = 1; q < n; ++q) {
        float s = 0.0f;
        for (;;) {
            s = crossing(q, v[k]);
            if (s > z[k] || k == 0) {
                break;
            }
            --k;
        }
        if (s <= z[k]) {
            // Below the first parabola at the lower bound: the new one replaces it.
            v[0] = q;
            z[1] = 1e20f;
        } else {
            ++k;
            v[k] = q;
            z[k] = s;
            z[k + 1] = 1e20f;
        }
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < static_cast<float>(q)) {
            ++k;
        }
        g[q] = squareOf(static_cast<long long>(q) - v[k]) + f[v[k]];
    }
    return g;
}

void separable(std::vector<float>& field, int width, int height) {
    std::vector<bool> inside(field.size());
    for (std::size_t e = 0; e < field.size(); ++e) {
        inside[e] = field[e] == insideClass;
    }
    for (int j = 0; j < height; ++j) {
        float* row = field.data() + static_cast<std::size_t>(j) * width;
        for (int i = 1; i < width; ++i) {
            if (row[i] > row[i - 1] + 1.0f) {
                row[i] = row[i - 1] + 1.0f;
            }
        }
        for (int i = width - 2; i >= 0; --i) {
            if (row[i] > row[i + 1] + 1.0f) {
                row[i] = row[i + 1] + 1.0f;
            }
        }
        for (int i = 0; i < width; ++i) {
            row[i] = row[i] * row[i];
        }
    }
    for (int i = 0; i < width; ++i) {
        std::vector<float> column(static_cast<std::size_t>(height));
        for (int j = 0; j < height; ++j) {
            column[j] = field[static_cast<std::size_t>(j) * width + i];
        }
        const std::vector<float> g = lowerEnvelope(column);
        for (int j = 0; j < height; ++j) {
            field[static_cast<std::size_t>(j) * width + i] = std::sqrt(g[j]);
        }
    }
    for (std::size_t e = 0; e < field.size(); ++e) {
        if (inside[e]) {
            field[e] = insideClass;
        }
    }
}

void transform(std::vector<float>& field, int width, int height, int quality) {
    if (quality == 0) {
        chamfer(field, width, height);
    } else {
        separable(field, width, height);
    }
}

void outputPixel(float d, double red, double green, double blue, double widthPixels,
                 int componentType, int nComponents, const void* src, void* dst) {
    if (d < 0.0f) {
        if (src == nullptr) {
            writeZero(dst, componentType, nComponents);
        } else {
            std::memcpy(dst, src,
                        static_cast<std::size_t>(componentBytes(componentType) * nComponents));
        }
        return;
    }
    const float w = static_cast<float>(widthPixels);
    const float wm1 = w - 1.0f;
    if (!(w >= d)) {
        writeZero(dst, componentType, nComponents);
        return;
    }
    float coverage = 1.0f;
    if (d > wm1 && w > wm1) {
        coverage = 1.0f - (d - wm1) / (w - wm1);
        coverage = coverage < 0.0f ? 0.0f : std::min(coverage, 1.0f);
    }
    const double maxDouble = maxOf(componentType);
    const float top = static_cast<float>(maxDouble);
    if (nComponents == 1) {
        writeLimited(dst, componentType, 0, coverage * top);
        return;
    }
    const float colour[3] = {static_cast<float>(red * maxDouble),
                             static_cast<float>(green * maxDouble),
                             static_cast<float>(blue * maxDouble)};
    for (int k = 0; k < 3; ++k) {
        writeLimited(dst, componentType, k, colour[k] * coverage);
    }
    writeLimited(dst, componentType, 3, coverage * top);

    if (src == nullptr || !(readComponent(src, componentType, 3) > 0.0f)) {
        return;
    }
    const float sa = readComponent(src, componentType, 3) / top;
    const float oa = readComponent(dst, componentType, 3) / top;
    const float inv = 1.0f - sa;
    const float a = oa * inv + sa;
    if (a > 0.001f) {
        for (int k = 0; k < 3; ++k) {
            const float o = readComponent(dst, componentType, k);
            const float s = readComponent(src, componentType, k);
            writeLimited(dst, componentType, k, (o * oa * inv + s * sa) * (1.0f / a));
        }
        writeLimited(dst, componentType, 3, a * top);
    }
}

void render(const Image* source, const Image& destination, const OfxRectI& window, int quality,
            double widthPixels, double red, double green, double blue) {
    const OfxRectI fieldBounds = destination.bounds;
    const int width = fieldBounds.x2 - fieldBounds.x1;
    const int height = fieldBounds.y2 - fieldBounds.y1;
    if (source == nullptr || width <= 0 || height <= 0) {
        return;
    }
    std::vector<float> field = classify(source, fieldBounds);
    transform(field, width, height, quality);
    for (int y = window.y1; y < window.y2; ++y) {
        const int j = y - fieldBounds.y1;
        if (j < 0 || j >= height) {
            continue;
        }
        for (int x = window.x1; x < window.x2; ++x) {
            void* dst = pixelAddress(destination, x, y);
            const int i = x - fieldBounds.x1;
            if (i < 0 || i >= width) {
                writeZero(dst, destination.componentType, destination.nComponents);
                continue;
            }
            outputPixel(field[static_cast<std::size_t>(j) * width + i], red, green, blue,
                        widthPixels, destination.componentType, destination.nComponents,
                        pixelAddress(*source, x, y), dst);
        }
    }
}

}  // namespace ReferenceOutline
