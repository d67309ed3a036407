// The renderer's pixel plumbing: file samples into host images and back (orientation, windows,
// exact depth conversion, clamping, the alpha rule), canvases, and the host's tiling helpers.
#include "tools/Render.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <gtest/gtest.h>

#include "host/Tiling.h"
#include "tests/tools/ToolTestSupport.h"

namespace {

using ZarvelHost::Image;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;
using ZarvelTool::Alpha;
using ZarvelTool::Picture;

bool sameRect(const OfxRectI& a, const OfxRectI& b) {
    return a.x1 == b.x1 && a.y1 == b.y1 && a.x2 == b.x2 && a.y2 == b.y2;
}

// A 3 × 2 RGBA picture whose 8-bit samples are all different, opaque.
Picture picture8() {
    Picture picture = zarvel::test::makePicture(3, 2, "R,G,B,A");
    for (std::size_t i = 0; i < picture.samples.size(); ++i) {
        picture.samples[i] = i % 4 == 3 ? 1.0f : static_cast<float>((i * 97 + 11) % 256) / 255.0f;
    }
    return picture;
}

TEST(ToolRender, TheTopRowIsTheHighestAndWindowsKeepTheirPlace) {
    Picture picture = zarvel::test::makePicture(2, 3, "R,G,B,A");
    picture.at(0, 0, 0) = 200 / 255.0f;  // top left
    picture.at(1, 2, 1) = 100 / 255.0f;  // bottom right
    const auto image = ZarvelTool::toHostImage(picture, PixelDepth::Byte, PixelComponents::RGBA);
    EXPECT_TRUE(sameRect(image->bounds(), {0, 0, 2, 3}));
    EXPECT_EQ(static_cast<const std::uint8_t*>(image->pixelAddress(0, 2))[0], 200);
    EXPECT_EQ(static_cast<const std::uint8_t*>(image->pixelAddress(1, 0))[1], 100);

    // A data window 2 × 3 at (5, 1) inside a 10 × 8 display window at (4, -2): the display
    // window is (0, 0, 10, 8), the data window's top row is file row 1, 3 rows below the top.
    picture.x = 5;
    picture.y = 1;
    picture.fullX = 4;
    picture.fullY = -2;
    picture.fullWidth = 10;
    picture.fullHeight = 8;
    EXPECT_TRUE(sameRect(ZarvelTool::displayBounds(picture), {0, 0, 10, 8}));
    EXPECT_TRUE(sameRect(ZarvelTool::dataBounds(picture), {1, 2, 3, 5}));

    // Back: with windows the data window is the output's bounds, the display window the input's.
    Image output({-1, 0, 4, 6}, PixelDepth::Byte, PixelComponents::RGBA);
    const Picture back = ZarvelTool::toPicture(output, *image, Alpha::Straight, picture, true);
    EXPECT_EQ(back.x, 3);
    EXPECT_EQ(back.y, 0);
    EXPECT_EQ(back.width, 5);
    EXPECT_EQ(back.height, 6);
    EXPECT_EQ(back.fullX, 4);
    EXPECT_EQ(back.fullWidth, 10);
    const Picture flat = ZarvelTool::toPicture(output, *image, Alpha::Straight, picture, false);
    EXPECT_EQ(flat.x, 0);
    EXPECT_EQ(flat.fullWidth, 5);
    EXPECT_EQ(flat.fullHeight, 6);
}

TEST(ToolRender, SamplesConvertExactlyToEveryDepthAndBack) {
    const Picture picture = picture8();
    for (PixelDepth depth : {PixelDepth::Byte, PixelDepth::Short, PixelDepth::Float}) {
        SCOPED_TRACE(ZarvelHost::depthString(depth));
        const auto image = ZarvelTool::toHostImage(picture, depth, PixelComponents::RGBA);
        // The source is opaque, so every pixel is straight and comes back as it went in.
        const Picture back =
            ZarvelTool::toPicture(*image, *image, Alpha::Premultiplied, picture, false);
        for (std::size_t i = 0; i < picture.samples.size(); ++i) {
            EXPECT_EQ(std::lround(back.samples[i] * 255.0f), std::lround(picture.samples[i] * 255))
                << i;
        }
    }
    // 8-bit 255 is 65535 in short, 1 in byte 255; 16-bit 32768 is 128 in byte.
    Picture one = zarvel::test::makePicture(1, 1, "R,G,B,A");
    one.samples = {1.0f, 0.0f, 1.0f / 255.0f, 32768.0f / 65535.0f};
    const auto shorts = ZarvelTool::toHostImage(one, PixelDepth::Short, PixelComponents::RGBA);
    const auto* s = static_cast<const std::uint16_t*>(shorts->data());
    EXPECT_EQ(s[0], 65535);
    EXPECT_EQ(s[2], 257);
    EXPECT_EQ(s[3], 32768);
    const auto bytes = ZarvelTool::toHostImage(one, PixelDepth::Byte, PixelComponents::RGBA);
    EXPECT_EQ(static_cast<const std::uint8_t*>(bytes->data())[3], 128);
}

TEST(ToolRender, GrayFillsTheColourMissingAlphaIsOpaqueAndAlphaOnlyKeepsTheAlpha) {
    Picture gray = zarvel::test::makePicture(2, 1, "Y");
    gray.samples = {0.25f, 0.5f};
    const auto image = ZarvelTool::toHostImage(gray, PixelDepth::Float, PixelComponents::RGBA);
    const auto* pixel = static_cast<const float*>(image->pixelAddress(1, 0));
    EXPECT_EQ(pixel[0], 0.5f);
    EXPECT_EQ(pixel[2], 0.5f);
    EXPECT_EQ(pixel[3], 1.0f);

    Picture grayAlpha = zarvel::test::makePicture(1, 1, "Y,A");
    grayAlpha.samples = {0.25f, 0.5f};
    const auto alpha = ZarvelTool::toHostImage(grayAlpha, PixelDepth::Byte, PixelComponents::Alpha);
    EXPECT_EQ(alpha->componentCount(), 1);
    EXPECT_EQ(*static_cast<const std::uint8_t*>(alpha->data()), 128);
    const Picture back =
        ZarvelTool::toPicture(*alpha, *alpha, Alpha::Premultiplied, grayAlpha, false);
    EXPECT_EQ(back.channelNames, std::vector<std::string>{"A"});
    EXPECT_EQ(back.samples[0], 128 / 255.0f);
}

TEST(ToolRender, PremultipliedInputReachesThePluginStraight) {
    Picture picture = zarvel::test::makePicture(3, 1, "R,G,B,A");
    picture.samples = {0.2f, 0.1f, 0.0f, 0.5f,  // premultiplied: straight 0.4, 0.2, 0
                       0.3f, 0.3f, 0.3f, 0.0f,  // no alpha: left as it is
                       0.6f, 0.7f, 0.8f, 1.0f};
    picture.alpha = Alpha::Premultiplied;
    const auto image = ZarvelTool::toHostImage(picture, PixelDepth::Float, PixelComponents::RGBA);
    const auto* f = static_cast<const float*>(image->data());
    EXPECT_FLOAT_EQ(f[0], 0.4f);
    EXPECT_FLOAT_EQ(f[1], 0.2f);
    EXPECT_EQ(f[4], 0.3f);
    EXPECT_EQ(f[8], 0.6f);
    EXPECT_EQ(f[11], 1.0f);
    picture.alpha = Alpha::Straight;
    const auto straight =
        ZarvelTool::toHostImage(picture, PixelDepth::Float, PixelComponents::RGBA);
    EXPECT_EQ(static_cast<const float*>(straight->data())[0], 0.2f);
}

// The effect's output is straight where the source's alpha is above 0 and premultiplied where
// it is 0: each file gets what it holds.
TEST(ToolRender, OnTheWayOutOutlinePixelsAndSourcePixelsConvertApart) {
    Image source({0, 0, 2, 1}, PixelDepth::Byte, PixelComponents::RGBA);
    const float edge[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    source.fill(edge);
    source.set(1, 0, 3, 0.4f);  // a soft source pixel at x = 1
    Image output({-1, 0, 2, 1}, PixelDepth::Byte, PixelComponents::RGBA);
    // x = -1: outside the source; x = 0: over a transparent source pixel; x = 1: composited.
    for (int x : {-1, 0, 1}) {
        output.set(x, 0, 0, 102 / 255.0f);
        output.set(x, 0, 1, 51 / 255.0f);
        output.set(x, 0, 2, 0.0f);
        output.set(x, 0, 3, 204 / 255.0f);
    }
    const Picture like = zarvel::test::makePicture(2, 1, "R,G,B,A");
    const Picture straight = ZarvelTool::toPicture(output, source, Alpha::Straight, like, false);
    for (int x : {0, 1}) {
        EXPECT_FLOAT_EQ(straight.at(x, 0, 0), 0.5f) << x;  // 102 / 204
        EXPECT_FLOAT_EQ(straight.at(x, 0, 1), 0.25f) << x;
        EXPECT_EQ(straight.at(x, 0, 3), 0.8f) << x;
    }
    EXPECT_EQ(straight.at(2, 0, 0), 0.4f);  // straight already
    const Picture premultiplied =
        ZarvelTool::toPicture(output, source, Alpha::Premultiplied, like, false);
    EXPECT_EQ(premultiplied.at(0, 0, 0), 0.4f);  // premultiplied already
    EXPECT_FLOAT_EQ(premultiplied.at(2, 0, 0), 0.4f * 0.8f);
    EXPECT_EQ(premultiplied.at(2, 0, 3), 0.8f);
}

TEST(ToolRender, FloatValuesAreClampedForIntegerDepths) {
    Picture picture = zarvel::test::makePicture(4, 1, "A");
    picture.samples = {-0.5f, std::numeric_limits<float>::quiet_NaN(), 1.5f, 0.5f};
    const auto image = ZarvelTool::toHostImage(picture, PixelDepth::Short, PixelComponents::Alpha);
    const auto* s = static_cast<const std::uint16_t*>(image->data());
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 0);
    EXPECT_EQ(s[2], 65535);
    EXPECT_EQ(s[3], 32768);
}

TEST(ToolRender, DepthFollowsTheSampleType) {
    Picture picture = zarvel::test::makePicture(1, 1, "Y");
    const std::pair<OIIO::TypeDesc, PixelDepth> cases[] = {
        {OIIO::TypeDesc::UINT8, PixelDepth::Byte},
        {OIIO::TypeDesc::UINT16, PixelDepth::Short},
        {OIIO::TypeDesc::HALF, PixelDepth::Float},
        {OIIO::TypeDesc::FLOAT, PixelDepth::Float},
        {OIIO::TypeDesc::UINT32, PixelDepth::Float}};
    for (const auto& [type, depth] : cases) {
        picture.type = type;
        EXPECT_EQ(ZarvelTool::defaultDepth(picture), depth) << type.c_str();
    }
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

TEST(ToolRender, TilesCoverTheFrameOnceAndCropsKeepCoordinates) {
    const OfxRectI frame{-3, 2, 7, 7};
    const auto tiles = ZarvelHost::splitIntoTiles(frame, 4, 3);
    ASSERT_EQ(tiles.size(), 6u);
    EXPECT_TRUE(sameRect(tiles[0], {-3, 2, 1, 5}));
    EXPECT_TRUE(sameRect(tiles[2], {5, 2, 7, 5}));
    EXPECT_TRUE(sameRect(tiles[5], {5, 5, 7, 7}));
    EXPECT_EQ(ZarvelHost::splitIntoTiles(frame, 100, 100).size(), 1u);

    const auto image = ZarvelTool::toHostImage(picture8(), PixelDepth::Byte, PixelComponents::RGBA);
    const auto part = ZarvelHost::cropImage(*image, {1, -5, 9, 1});
    EXPECT_TRUE(sameRect(part->bounds(), {1, 0, 3, 1}));
    EXPECT_EQ(std::memcmp(part->pixelAddress(1, 0), image->pixelAddress(1, 0), 8), 0);
    EXPECT_EQ(ZarvelHost::cropImage(*image, {10, 10, 20, 20})->width(), 0);
    EXPECT_TRUE(
        sameRect(ZarvelHost::coveringPixels({-0.5, 1.0, 2.5, 1e300}, 2.0), {-1, 2, 5, 1073741824}));
}

TEST(ToolRender, StatusNamesForMessages) {
    EXPECT_EQ(ZarvelTool::statusName(kOfxStatErrFormat), "kOfxStatErrFormat");
    EXPECT_EQ(ZarvelTool::statusName(kOfxStatErrImageFormat), "kOfxStatErrImageFormat");
    EXPECT_EQ(ZarvelTool::statusName(-7), "status -7");
}

}  // namespace
