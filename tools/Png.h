// PNG files as zarvel-render sees them: 8- or 16-bit samples in gray, gray+alpha, RGB or RGBA,
// straight (not premultiplied) alpha, rows from the top of the picture down.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ZarvelTool {

struct PngImage {
    int width = 0;
    int height = 0;
    /// 1 gray, 2 gray+alpha, 3 RGB, 4 RGBA.
    int channels = 4;
    /// 8 or 16.
    int bitDepth = 8;
    /// width × height × channels samples, each 0..maxValue(); row 0 is the top row.
    std::vector<std::uint16_t> samples;

    int maxValue() const { return bitDepth == 16 ? 65535 : 255; }
    bool hasAlpha() const { return channels == 2 || channels == 4; }
    std::uint16_t& at(int x, int y, int c) {
        return samples[(static_cast<std::size_t>(y) * width + x) * channels + c];
    }
    std::uint16_t at(int x, int y, int c) const {
        return samples[(static_cast<std::size_t>(y) * width + x) * channels + c];
    }
};

/// Allocates a zeroed image of that shape. Throws std::bad_alloc.
PngImage makePngImage(int width, int height, int channels, int bitDepth);

/// "8-bit RGBA", "16-bit gray+alpha" ...
std::string describeLayout(const PngImage& image);

/// Reads the PNG file at `path`. Throws ToolError(path, reason) when the file is missing, is
/// not a regular file, is not a PNG, is truncated or corrupt, or has a layout other than the
/// four above (palette and gray below 8 bits are refused; a tRNS chunk becomes alpha).
PngImage readPng(const std::string& path);

/// Encodes `image` into `file`. Throws ToolError(name, reason) when the operating system
/// refuses to write; `name` only labels the message. Does not flush or close the file.
void writePng(std::FILE* file, const PngImage& image, const std::string& name);

}  // namespace ZarvelTool
