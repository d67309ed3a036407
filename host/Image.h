// Host-owned pixel buffers: what the test host hands the plug-in as clip images.
//
// An `Image` is a block of pixels with the layout of the standard's images: bounds in pixel
// coordinates (x2 and y2 exclusive), a pixel depth (8-bit, 16-bit or 32-bit float components),
// RGBA or alpha-only pixels, and a row stride in bytes that may be negative (rows go downwards in
// memory) and may carry padding beyond the pixels of a row. `data()` is the address of pixel
// (bounds.x1, bounds.y1), which is what the image's "OfxImagePropData" gives the plug-in.
//
// Images the host allocates are surrounded by guard bytes, and row padding is filled with the
// same pattern, so a test can check with `guardsIntact()` that nothing wrote outside the pixels.
//
// Thread-safety: the pixels are plain memory. Concurrent reads are fine; concurrent writes to
// different pixels are fine; anything else needs the caller's synchronisation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "openfx/openfx.h"

namespace ZarvelHost {

/// Component type: unsigned 8-bit, unsigned 16-bit, 32-bit float.
enum class PixelDepth { Byte, Short, Float };

/// Pixel layout: four components in the order R, G, B, A, or one alpha component.
enum class PixelComponents { RGBA, Alpha };

/// "OfxBitDepthByte", "OfxBitDepthShort" or "OfxBitDepthFloat".
const char* depthString(PixelDepth depth);
/// "OfxImageComponentRGBA" or "OfxImageComponentAlpha".
const char* componentsString(PixelComponents components);
/// 1, 2 or 4.
int bytesPerComponent(PixelDepth depth);
/// 4 or 1.
int componentCount(PixelComponents components);

/// How the rows of a new image are laid out in memory.
struct RowLayout {
    /// Bytes after the pixels of each row (filled with the guard pattern).
    int paddingBytes = 0;
    /// Rows go downwards in memory (negative row bytes): row y1 is the last in the block.
    bool bottomUp = false;
};

class Image {
public:
    /// Allocates an image, all pixels zero. Empty bounds (x2 <= x1 or y2 <= y1) give an image of
    /// no pixels whose data() is still a valid, non-null address. Throws std::length_error when
    /// the size does not fit in memory arithmetic, std::bad_alloc when it cannot be had.
    Image(const OfxRectI& bounds, PixelDepth depth, PixelComponents components,
          RowLayout layout = {});

    /// Wraps pixels owned by someone else (no guard bytes; guardsIntact() is always true).
    /// `data` is the address of pixel (bounds.x1, bounds.y1); `rowBytes` may be negative. The
    /// memory must outlive the image and every fetch of it.
    static Image wrap(void* data, const OfxRectI& bounds, PixelDepth depth,
                      PixelComponents components, int rowBytes);

    Image(Image&&) noexcept = default;
    Image& operator=(Image&&) noexcept = default;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    const OfxRectI& bounds() const { return bounds_; }
    int width() const;
    int height() const;
    PixelDepth depth() const { return depth_; }
    PixelComponents components() const { return components_; }
    int componentCount() const;
    /// Bytes of one pixel: components × bytes per component.
    int pixelBytes() const;
    /// Byte distance from row y to row y + 1; negative for bottom-up images.
    int rowBytes() const { return rowBytes_; }
    /// Address of pixel (bounds.x1, bounds.y1).
    void* data() const { return data_; }

    /// Address of pixel (x, y); null outside the bounds.
    void* pixelAddress(int x, int y) const;

    /// Component `c` of pixel (x, y) as a float: bytes and shorts are normalised to 0..1 (divided
    /// by 255 or 65535), floats returned as stored. Throws std::out_of_range outside the bounds
    /// or the components.
    float get(int x, int y, int c) const;
    /// Writes component `c` of pixel (x, y): bytes and shorts from 0..1, clamped and rounded to
    /// the nearest step; floats stored as given (NaN and infinities included).
    void set(int x, int y, int c, float value);
    /// Sets every pixel to `value` (RGBA: four components; alpha: only the first is used).
    void fill(const float value[4]);

    /// True while every guard and padding byte still holds the pattern written at allocation.
    bool guardsIntact() const;

    /// A serial number, unique among the images of this process.
    std::uint64_t serial() const { return serial_; }

private:
    Image() = default;

    OfxRectI bounds_{0, 0, 0, 0};
    PixelDepth depth_ = PixelDepth::Byte;
    PixelComponents components_ = PixelComponents::RGBA;
    int rowBytes_ = 0;
    int paddingBytes_ = 0;
    std::vector<unsigned char> storage_;
    unsigned char* data_ = nullptr;
    std::uint64_t serial_ = 0;
};

}  // namespace ZarvelHost
