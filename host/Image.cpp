#include "host/Image.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace ZarvelHost {

namespace {

// Bytes of guard pattern before and after the pixels of an allocated image.
constexpr std::size_t kGuardBytes = 64;
constexpr unsigned char kGuardPattern = 0xA5;

std::atomic<std::uint64_t> nextSerial{1};

std::int64_t span(int from, int to) {
    return std::max<std::int64_t>(0, static_cast<std::int64_t>(to) - from);
}

}  // namespace

const char* depthString(PixelDepth depth) {
    switch (depth) {
    case PixelDepth::Byte:
        return kOfxBitDepthByte;
    case PixelDepth::Short:
        return kOfxBitDepthShort;
    case PixelDepth::Float:
        return kOfxBitDepthFloat;
    }
    return kOfxBitDepthNone;
}

const char* componentsString(PixelComponents components) {
    switch (components) {
    case PixelComponents::RGBA:
        return kOfxImageComponentRGBA;
    case PixelComponents::Alpha:
        return kOfxImageComponentAlpha;
    }
    return kOfxImageComponentNone;
}

int bytesPerComponent(PixelDepth depth) {
    switch (depth) {
    case PixelDepth::Byte:
        return 1;
    case PixelDepth::Short:
        return 2;
    case PixelDepth::Float:
        return 4;
    }
    return 0;
}

int componentCount(PixelComponents components) {
    return components == PixelComponents::RGBA ? 4 : 1;
}

Image::Image(const OfxRectI& bounds, PixelDepth depth, PixelComponents components, RowLayout layout)
    : bounds_(bounds)
    , depth_(depth)
    , components_(components)
    , paddingBytes_(layout.paddingBytes)
    , serial_(nextSerial++) {
    if (layout.paddingBytes < 0) {
        throw std::invalid_argument("Image: negative row padding");
    }
    const std::int64_t w = span(bounds.x1, bounds.x2);
    const std::int64_t h = span(bounds.y1, bounds.y2);
    const std::int64_t stride = w * pixelBytes() + layout.paddingBytes;
    if (stride > INT_MAX) {
        throw std::length_error("Image: a row of " + std::to_string(stride) +
                                " bytes does not fit the standard's int row bytes");
    }
    // Rows times stride fits in 64 bits here: both factors are below 2^31.
    const std::uint64_t pixelBlock =
        static_cast<std::uint64_t>(stride) * static_cast<std::uint64_t>(h);
    if (pixelBlock > (std::uint64_t(1) << 40)) {
        throw std::length_error("Image: " + std::to_string(pixelBlock) + " bytes is too large");
    }
    storage_.assign(static_cast<std::size_t>(pixelBlock) + 2 * kGuardBytes, kGuardPattern);
    unsigned char* first = storage_.data() + kGuardBytes;
    for (std::int64_t row = 0; row < h; ++row) {
        std::memset(first + row * stride, 0, static_cast<std::size_t>(w * pixelBytes()));
    }
    if (layout.bottomUp) {
        rowBytes_ = -static_cast<int>(stride);
        data_ = h > 0 ? first + (h - 1) * stride : first;
    } else {
        rowBytes_ = static_cast<int>(stride);
        data_ = first;
    }
}

Image Image::wrap(void* data, const OfxRectI& bounds, PixelDepth depth, PixelComponents components,
                  int rowBytes) {
    Image image;
    image.bounds_ = bounds;
    image.depth_ = depth;
    image.components_ = components;
    image.rowBytes_ = rowBytes;
    image.data_ = static_cast<unsigned char*>(data);
    image.serial_ = nextSerial++;
    return image;
}

int Image::width() const {
    return static_cast<int>(span(bounds_.x1, bounds_.x2));
}

int Image::height() const {
    return static_cast<int>(span(bounds_.y1, bounds_.y2));
}

int Image::componentCount() const {
    return ZarvelHost::componentCount(components_);
}

int Image::pixelBytes() const {
    return componentCount() * bytesPerComponent(depth_);
}

void* Image::pixelAddress(int x, int y) const {
    if (x < bounds_.x1 || x >= bounds_.x2 || y < bounds_.y1 || y >= bounds_.y2) {
        return nullptr;
    }
    const std::ptrdiff_t offset = static_cast<std::ptrdiff_t>(y - bounds_.y1) * rowBytes_ +
                                  static_cast<std::ptrdiff_t>(x - bounds_.x1) * pixelBytes();
    return data_ + offset;
}

float Image::get(int x, int y, int c) const {
    const unsigned char* pixel = static_cast<const unsigned char*>(pixelAddress(x, y));
    if (!pixel || c < 0 || c >= componentCount()) {
        throw std::out_of_range("Image::get: no component " + std::to_string(c) + " at (" +
                                std::to_string(x) + ", " + std::to_string(y) + ")");
    }
    switch (depth_) {
    case PixelDepth::Byte:
        return static_cast<float>(pixel[c]) / 255.0f;
    case PixelDepth::Short: {
        std::uint16_t value;
        std::memcpy(&value, pixel + 2 * c, sizeof value);
        return static_cast<float>(value) / 65535.0f;
    }
    case PixelDepth::Float: {
        float value;
        std::memcpy(&value, pixel + 4 * c, sizeof value);
        return value;
    }
    }
    return 0.0f;
}

void Image::set(int x, int y, int c, float value) {
    unsigned char* pixel = static_cast<unsigned char*>(pixelAddress(x, y));
    if (!pixel || c < 0 || c >= componentCount()) {
        throw std::out_of_range("Image::set: no component " + std::to_string(c) + " at (" +
                                std::to_string(x) + ", " + std::to_string(y) + ")");
    }
    // NaN compares false both ways and ends up as 0 for the integer depths.
    const float unit = value > 0.0f ? std::min(value, 1.0f) : 0.0f;
    switch (depth_) {
    case PixelDepth::Byte:
        pixel[c] = static_cast<unsigned char>(std::lround(unit * 255.0f));
        break;
    case PixelDepth::Short: {
        const auto stored = static_cast<std::uint16_t>(std::lround(unit * 65535.0f));
        std::memcpy(pixel + 2 * c, &stored, sizeof stored);
        break;
    }
    case PixelDepth::Float:
        std::memcpy(pixel + 4 * c, &value, sizeof value);
        break;
    }
}

void Image::fill(const float value[4]) {
    for (int y = bounds_.y1; y < bounds_.y2; ++y) {
        for (int x = bounds_.x1; x < bounds_.x2; ++x) {
            for (int c = 0; c < componentCount(); ++c) {
                set(x, y, c, value[c]);
            }
        }
    }
}

bool Image::guardsIntact() const {
    if (storage_.empty()) {
        return true;
    }
    const std::size_t total = storage_.size();
    for (std::size_t i = 0; i < kGuardBytes; ++i) {
        if (storage_[i] != kGuardPattern || storage_[total - 1 - i] != kGuardPattern) {
            return false;
        }
    }
    if (paddingBytes_ > 0) {
        const std::size_t stride = static_cast<std::size_t>(rowBytes_ < 0 ? -rowBytes_ : rowBytes_);
        const std::size_t rowPixels = stride - static_cast<std::size_t>(paddingBytes_);
        for (int row = 0; row < height(); ++row) {
            const std::size_t start =
                kGuardBytes + static_cast<std::size_t>(row) * stride + rowPixels;
            for (std::size_t i = 0; i < static_cast<std::size_t>(paddingBytes_); ++i) {
                if (storage_[start + i] != kGuardPattern) {
                    return false;
                }
            }
        }
    }
    return true;
}

}  // namespace ZarvelHost
