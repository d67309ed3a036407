// The renderer's pixel plumbing: PNG samples into host images and back (orientation, exact
// depth conversion, clamping), cropping to a region of interest, canvases and tiles.
#include "tools/Render.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {

using ZarvelHost::Image;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;
using ZarvelTool::PngImage;

bool sameRect(const OfxRectI& a, const OfxRectI& b) {
    return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

// A 3 × 2 picture whose samples are all different.
PngImage picture(int channels, int bitDepth) {
    PngImage png = ZarvelTool::makePngImage(3, 2, channels, bitDepth);
    for (std::size_t i = 0; i < png.samples.size(); ++i) {
        png.samples[i] = static_cast<std::uint16_t>((i * 97 + 11) % (png.maxValue() + 1u));
    }
    return png;
}

TEST(ToolRender, ThePngsTopRowIsTheImagesHighestRow) {
    PngImage png = ZarvelTool::makePngImage(2, 3, 4, 8);
    png.at(0, 0, 0) = 200;  // top left
    png.at(1, 2, 1) = 100;  // bottom right
    const auto image = ZarvelTool::toHostImage(png, PixelDepth::Byte, PixelComponents::RGBA);
    EXPECT_TRUE(sameRect(image->bounds(), {0, 0, 2, 3}));
    EXPECT_EQ(static_cast<const std::uint8_t*>(image->pixelAddress(0, 2))[0], 200);
    EXPECT_EQ(static_cast<const std::uint8_t*>(image->pixelAddress(1, 0))[1], 100);
    EXPECT_EQ(ZarvelTool::toPng(*image, 8).samples, png.samples);
}

TEST(ToolRender, SamplesConvertExactlyToEveryDepthAndBack) {
    for (int bitDepth : {8, 16}) {
        const PngImage png = picture(4, bitDepth);
        for (PixelDepth depth : {PixelDepth::Short, PixelDepth::Float}) {
            SCOPED_TRACE(std::to_string(bitDepth) + " bits, depth " +
                         ZarvelHost::depthString(depth));
            const auto image = ZarvelTool::toHostImage(png, depth, PixelComponents::RGBA);
            // Short and float keep every 8- and 16-bit value exactly.
            const PngImage back = ZarvelTool::toPng(*image, bitDepth);
            EXPECT_EQ(back.samples, png.samples);
        }
    }
    // The exact values: 8-bit 255 is 65535 in short and 1 in float, 16-bit 32768 is
    // 32768 / 65535 in float and 128 in byte.
    PngImage png = ZarvelTool::makePngImage(1, 1, 4, 8);
    png.samples = {255, 0, 1, 128};
    const auto shorts = ZarvelTool::toHostImage(png, PixelDepth::Short, PixelComponents::RGBA);
    const auto* s = static_cast<const std::uint16_t*>(shorts->data());
    EXPECT_EQ(s[0], 65535);
    EXPECT_EQ(s[2], 257);
    const auto floats = ZarvelTool::toHostImage(png, PixelDepth::Float, PixelComponents::RGBA);
    const auto* f = static_cast<const float*>(floats->data());
    EXPECT_EQ(f[0], 1.0f);
    EXPECT_EQ(f[3], 128.0f / 255.0f);
    PngImage deep = ZarvelTool::makePngImage(1, 1, 4, 16);
    deep.samples = {32768, 65535, 128, 129};
    const auto bytes = ZarvelTool::toHostImage(deep, PixelDepth::Byte, PixelComponents::RGBA);
    const auto* b = static_cast<const std::uint8_t*>(bytes->data());
    EXPECT_EQ(b[0], 128);
    EXPECT_EQ(b[1], 255);
    EXPECT_EQ(b[2], 0);  // 128 / 257 = 0.498
    EXPECT_EQ(b[3], 1);  // 129 / 257 = 0.502
}

TEST(ToolRender, GrayFillsTheColourAndMissingAlphaIsOpaque) {
    const PngImage gray = picture(1, 16);
    const auto image = ZarvelTool::toHostImage(gray, PixelDepth::Short, PixelComponents::RGBA);
    const auto* pixel = static_cast<const std::uint16_t*>(image->pixelAddress(2, 1));
    const std::uint16_t value = gray.at(2, 0, 0);
    EXPECT_EQ(pixel[0], value);
    EXPECT_EQ(pixel[1], value);
    EXPECT_EQ(pixel[2], value);
    EXPECT_EQ(pixel[3], 65535);

    const PngImage rgb = picture(3, 8);
    const auto alpha = ZarvelTool::toHostImage(rgb, PixelDepth::Float, PixelComponents::Alpha);
    EXPECT_EQ(alpha->componentCount(), 1);
    EXPECT_EQ(*static_cast<const float*>(alpha->pixelAddress(0, 0)), 1.0f);
}

TEST(ToolRender, AlphaOnlyImagesKeepTheAlphaAndComeOutGray) {
    const PngImage grayAlpha = picture(2, 8);
    const auto image = ZarvelTool::toHostImage(grayAlpha, PixelDepth::Byte, PixelComponents::Alpha);
    EXPECT_EQ(*static_cast<const std::uint8_t*>(image->pixelAddress(1, 1)), grayAlpha.at(1, 0, 1));
    const PngImage back = ZarvelTool::toPng(*image, 8);
    EXPECT_EQ(back.channels, 1);
    EXPECT_EQ(back.at(1, 0, 0), grayAlpha.at(1, 0, 1));
}

TEST(ToolRender, FloatValuesAreClampedAndRoundedOnTheWayOut) {
    Image image({0, 0, 6, 1}, PixelDepth::Float, PixelComponents::Alpha);
    const float values[] = {-0.5f, std::numeric_limits<float>::quiet_NaN(),
                            1.5f,  std::numeric_limits<float>::infinity(),
                            0.5f,  1.0f / 65535.0f * 0.49f};
    for (int x = 0; x < 6; ++x) {
        static_cast<float*>(image.pixelAddress(x, 0))[0] = values[x];
    }
    EXPECT_EQ(ZarvelTool::toPng(image, 16).samples,
              (std::vector<std::uint16_t>{0, 0, 65535, 65535, 32768, 0}));
}

TEST(ToolRender, CroppingKeepsCoordinatesAndPixels) {
    const auto image =
        ZarvelTool::toHostImage(picture(4, 8), PixelDepth::Byte, PixelComponents::RGBA);
    const auto part = ZarvelTool::cropImage(*image, {1, -5, 9, 1});
    EXPECT_TRUE(sameRect(part->bounds(), {1, 0, 3, 1}));
    EXPECT_EQ(std::memcmp(part->pixelAddress(1, 0), image->pixelAddress(1, 0), 8), 0);
    const auto none = ZarvelTool::cropImage(*image, {10, 10, 20, 20});
    EXPECT_EQ(none->width(), 0);
    EXPECT_EQ(none->height(), 0);
}

TEST(ToolRender, CanvasesRoundOutwardAndRefuseNonsense) {
    EXPECT_TRUE(
        sameRect(ZarvelTool::enclosingPixels({-60.0, -60.0, 80.0, 70.0}), {-60, -60, 80, 70}));
    EXPECT_TRUE(sameRect(ZarvelTool::enclosingPixels({-0.4, 0.4, 10.2, 9.0}), {-1, 0, 11, 9}));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const OfxRectD& bad : {OfxRectD{0, 0, nan, 1}, OfxRectD{0, 0, 0, 10}, OfxRectD{5, 0, 1, 1},
                                OfxRectD{-1e300, 0, 1, 1}, OfxRectD{0, 0, 70000, 1}}) {
        EXPECT_THROW(ZarvelTool::enclosingPixels(bad), std::runtime_error);
    }
}

TEST(ToolRender, TilesCoverTheCanvasOnceWithSmallerTilesAtTheEdges) {
    const OfxRectI canvas{-3, 2, 7, 7};
    const auto tiles = ZarvelTool::splitIntoTiles(canvas, {4, 3});
    ASSERT_EQ(tiles.size(), 6u);
    EXPECT_TRUE(sameRect(tiles[0], {-3, 2, 1, 5}));
    EXPECT_TRUE(sameRect(tiles[2], {5, 2, 7, 5}));
    EXPECT_TRUE(sameRect(tiles[5], {5, 5, 7, 7}));
    int area = 0;
    for (const OfxRectI& tile : tiles) {
        area += (tile.x2 - tile.x1) * (tile.y2 - tile.y1);
    }
    EXPECT_EQ(area, 10 * 5);
    EXPECT_EQ(ZarvelTool::splitIntoTiles(canvas, {100, 100}).size(), 1u);
}

TEST(ToolRender, StatusNamesForMessages) {
    EXPECT_EQ(ZarvelTool::statusName(kOfxStatErrFormat), "kOfxStatErrFormat");
    EXPECT_EQ(ZarvelTool::statusName(kOfxStatErrImageFormat), "kOfxStatErrImageFormat");
    EXPECT_EQ(ZarvelTool::statusName(-7), "status -7");
}

}  // namespace
