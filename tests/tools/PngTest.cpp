// PNG reading and writing: every supported layout round trips exactly, and every kind of bad
// file is refused with a reason that says what is wrong.
#include "tools/Png.h"

#include <string>

#include <gtest/gtest.h>

#include "tests/tools/ToolTestSupport.h"
#include "tools/ToolError.h"

namespace {

using zarvel::test::pngChunk;
using zarvel::test::pngFile;
using zarvel::test::ScratchDir;
using ZarvelTool::PngImage;
using ZarvelTool::ToolError;

// The reason readPng gives for `path`, or "" when it reads.
std::string readFailure(const std::string& path) {
    try {
        ZarvelTool::readPng(path);
    } catch (const ToolError& error) {
        EXPECT_EQ(error.subject(), path);
        EXPECT_EQ(error.exitCode(), ZarvelTool::exitFrameFailed);
        EXPECT_EQ(error.reason().find('\n'), std::string::npos);
        return error.reason();
    }
    return "";
}

// 2 × 2 8-bit RGB rows, filter byte 0.
std::string rgbRows() {
    return std::string("\0\x10\x20\x30\x40\x50\x60\0\x70\x80\x90\xa0\xb0\xc0", 14);
}

TEST(ToolPng, EveryLayoutRoundTripsExactly) {
    ScratchDir scratch;
    for (int bitDepth : {8, 16}) {
        for (int channels = 1; channels <= 4; ++channels) {
            SCOPED_TRACE(std::to_string(bitDepth) + "-bit, " + std::to_string(channels) +
                         " channels");
            PngImage image = ZarvelTool::makePngImage(5, 3, channels, bitDepth);
            for (std::size_t i = 0; i < image.samples.size(); ++i) {
                // Extreme values, and 16-bit values whose two bytes differ.
                image.samples[i] =
                    static_cast<std::uint16_t>((i * 40503u + 7u) % (image.maxValue() + 1u));
            }
            image.samples[0] = 0;
            image.samples[1] = static_cast<std::uint16_t>(image.maxValue());
            const std::string path = scratch / "round-trip.png";
            zarvel::test::writePngFile(path, image);
            const PngImage back = ZarvelTool::readPng(path);
            EXPECT_EQ(back.width, 5);
            EXPECT_EQ(back.height, 3);
            EXPECT_EQ(back.channels, channels);
            EXPECT_EQ(back.bitDepth, bitDepth);
            EXPECT_EQ(back.samples, image.samples);
        }
    }
}

TEST(ToolPng, RowsAreReadTopFirst) {
    ScratchDir scratch;
    const std::string path = scratch / "rgb.png";
    zarvel::test::writeFile(path, pngFile(2, 2, 8, 2, rgbRows()));
    const PngImage image = ZarvelTool::readPng(path);
    EXPECT_EQ(image.at(0, 0, 0), 0x10);
    EXPECT_EQ(image.at(1, 0, 2), 0x60);
    EXPECT_EQ(image.at(0, 1, 0), 0x70);
    EXPECT_EQ(image.at(1, 1, 2), 0xc0);
}

TEST(ToolPng, ATransparentColourBecomesAlpha) {
    ScratchDir scratch;
    const std::string path = scratch / "trns.png";
    // tRNS for RGB: the colour 0x10 0x20 0x30 (16-bit values) is transparent.
    const std::string trns("\0\x10\0\x20\0\x30", 6);
    zarvel::test::writeFile(path, pngFile(2, 2, 8, 2, rgbRows(), pngChunk("tRNS", trns)));
    const PngImage image = ZarvelTool::readPng(path);
    ASSERT_EQ(image.channels, 4);
    EXPECT_EQ(image.at(0, 0, 3), 0);
    EXPECT_EQ(image.at(1, 0, 3), 255);
    EXPECT_EQ(image.at(1, 1, 3), 255);
}

TEST(ToolPng, MissingAndNonPngFilesAreRefused) {
    ScratchDir scratch;
    EXPECT_EQ(readFailure(scratch / "absent.png"), "No such file or directory");
    EXPECT_EQ(readFailure(scratch.path().string()), "is a directory, not a PNG file");

    zarvel::test::writeFile(scratch / "empty.png", "");
    EXPECT_EQ(readFailure(scratch / "empty.png"), "not a PNG file (the file is empty)");
    zarvel::test::writeFile(scratch / "text.png", "just some text, long enough\n");
    EXPECT_EQ(readFailure(scratch / "text.png"), "not a PNG file");
    zarvel::test::writeFile(scratch / "short.png", "\x89PN");
    EXPECT_EQ(readFailure(scratch / "short.png"), "not a PNG file");
}

TEST(ToolPng, UnsupportedLayoutsAreNamed) {
    ScratchDir scratch;
    const std::string palette = scratch / "palette.png";
    zarvel::test::writeFile(palette, pngFile(2, 1, 8, 3, std::string("\0\0\1", 3),
                                             pngChunk("PLTE", std::string(6, '\x7f'))));
    EXPECT_EQ(readFailure(palette),
              "unsupported PNG layout: 8-bit palette (supported: 8- or 16-bit gray, gray+alpha, "
              "RGB or RGBA)");

    const std::string bilevel = scratch / "bilevel.png";
    zarvel::test::writeFile(bilevel, pngFile(8, 1, 1, 0, std::string("\0\xa5", 2)));
    EXPECT_EQ(readFailure(bilevel).rfind("unsupported PNG layout: 1-bit gray", 0), 0u);
}

TEST(ToolPng, TruncatedFilesAreRefusedWhereverTheyEnd) {
    ScratchDir scratch;
    PngImage image = zarvel::test::squarePicture(24);
    const std::string whole = scratch / "whole.png";
    zarvel::test::writePngFile(whole, image);
    const std::string bytes = zarvel::test::readFile(whole);
    const std::string cut = scratch / "cut.png";
    // Inside IHDR, inside IDAT, and just before the end of IEND.
    for (std::size_t length : {std::size_t{20}, bytes.size() / 2, bytes.size() - 1}) {
        SCOPED_TRACE(length);
        zarvel::test::writeFile(cut, bytes.substr(0, length));
        EXPECT_EQ(readFailure(cut), "truncated PNG: the file ends before the image does");
    }
}

TEST(ToolPng, DamagedDataIsReportedAsCorrupt) {
    ScratchDir scratch;
    const std::string whole = scratch / "whole.png";
    zarvel::test::writePngFile(whole, zarvel::test::squarePicture(24));
    std::string bytes = zarvel::test::readFile(whole);
    const std::size_t idat = bytes.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    bytes[idat + 10] = static_cast<char>(bytes[idat + 10] ^ 0x55);
    const std::string damaged = scratch / "damaged.png";
    zarvel::test::writeFile(damaged, bytes);
    // zlib's own check may notice before the chunk's CRC does.
    EXPECT_EQ(readFailure(damaged).rfind("corrupt PNG data (IDAT: ", 0), 0u);

    // A valid checksum over a broken compressed stream.
    const std::string broken = scratch / "broken.png";
    std::string header;
    zarvel::test::appendBigEndian(header, 2);
    zarvel::test::appendBigEndian(header, 2);
    header += std::string("\x08\x02\0\0\0", 5);
    zarvel::test::writeFile(broken, std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", header) +
                                        pngChunk("IDAT", "not a zlib stream") +
                                        pngChunk("IEND", ""));
    EXPECT_EQ(readFailure(broken).rfind("corrupt PNG data (", 0), 0u);
}

}  // namespace
