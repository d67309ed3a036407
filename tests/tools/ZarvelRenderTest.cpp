// zarvel-render run as a program on small files, with the Zarvel.ofx built in this tree: its
// pictures against the reference outline, the alpha rule against its own computation, every
// format round trip, EXR windows, tiles against full frames, every refused input with its
// one-line error and nothing left behind, the temporary-file guarantee, sequences and --pixels.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <OpenImageIO/deepdata.h>

#include "tests/support/OutlineImages.h"
#include "tests/support/ReferenceOutline.h"
#include "tests/tools/ToolTestSupport.h"
#include "tools/ImageFile.h"
#include "tools/Render.h"

#ifndef ZARVEL_RENDER_EXE
#error "ZARVEL_RENDER_EXE must name the built zarvel-render"
#endif
#ifndef ZARVEL_TEST_PLUGIN
#error "ZARVEL_TEST_PLUGIN must name the built Zarvel.ofx"
#endif
#ifndef ZARVEL_TOOL_LSAN_SUPPRESSIONS
#error "ZARVEL_TOOL_LSAN_SUPPRESSIONS must name the suppressions file"
#endif

namespace {

using zarvel::test::ImageOptions;
using zarvel::test::imageOptions;
using zarvel::test::readFile;
using zarvel::test::readImage;
using zarvel::test::RunOptions;
using zarvel::test::RunResult;
using zarvel::test::ScratchDir;
using zarvel::test::writeImage;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;
using ZarvelTool::Picture;

// Runs zarvel-render with the plug-in of this tree, whatever the environment says. In the
// AddressSanitizer build, leaks inside the image library are not ours to report (full stacks
// are needed to tell them apart).
RunResult render(const ScratchDir& scratch, std::vector<std::string> arguments,
                 RunOptions options = {}) {
    arguments.insert(arguments.begin(), {"--plugin", ZARVEL_TEST_PLUGIN});
    options.environment.emplace("OFX_PLUGIN_PATH", std::nullopt);
    options.environment.emplace("LSAN_OPTIONS",
                                std::string("suppressions=") + ZARVEL_TOOL_LSAN_SUPPRESSIONS +
                                    ":fast_unwind_on_malloc=0:print_suppressions=0");
    return zarvel::test::runProgram(ZARVEL_RENDER_EXE, arguments, scratch, options);
}

// The effect's settings a reference render uses.
struct Expected {
    double width = 15.0;
    double red = 1.0, green = 1.0, blue = 1.0;
    int quality = 1;
    PixelDepth depth = PixelDepth::Byte;
    bool alphaOnly = false;
    bool keepSize = false;
};

// What an 8- or 16-bit straight-alpha input (PNG) should become: the reference outline of the
// straight samples over the canvas the effect asks for, then each pixel the effect left
// premultiplied (where the source is transparent) divided by its alpha, in double, and rounded
// to the output's `steps`.
Picture referenceOutput(const Picture& input, const Expected& expected, int steps = 255) {
    const PixelComponents components =
        expected.alphaOnly ? PixelComponents::Alpha : PixelComponents::RGBA;
    ZarvelHost::Image source({0, 0, input.width, input.height}, expected.depth, components);
    for (int y = 0; y < input.height; ++y) {
        for (int x = 0; x < input.width; ++x) {
            for (int c = 0; c < source.componentCount(); ++c) {
                source.set(x, y, c, input.at(x, input.height - 1 - y, expected.alphaOnly ? 3 : c));
            }
        }
    }
    const double pad = expected.width * 4.0;
    const OfxRectI canvas =
        expected.keepSize
            ? source.bounds()
            : ZarvelTool::enclosingPixels({-pad, -pad, input.width + pad, input.height + pad});
    ZarvelHost::Image destination(canvas, expected.depth, components);
    const ReferenceOutline::Image sourceView = zarvel::test::referenceView(source);
    const double widthPixels = (canvas.y2 - canvas.y1) / 1080.0 * expected.width;
    ReferenceOutline::render(&sourceView, zarvel::test::referenceView(destination), canvas,
                             expected.quality, widthPixels, expected.red, expected.green,
                             expected.blue);
    Picture out = zarvel::test::makePicture(canvas.x2 - canvas.x1, canvas.y2 - canvas.y1,
                                            expected.alphaOnly ? "A" : "R,G,B,A");
    for (int row = 0; row < out.height; ++row) {
        const int y = canvas.y2 - 1 - row;
        for (int x = 0; x < out.width; ++x) {
            const int hx = canvas.x1 + x;
            const bool inSource = hx >= 0 && hx < input.width && y >= 0 && y < input.height;
            const bool transparent =
                !inSource || !(source.get(hx, y, source.componentCount() - 1) > 0.0f);
            const int n = destination.componentCount();
            const double a = destination.get(hx, y, n - 1);
            for (int c = 0; c < n; ++c) {
                double value = destination.get(hx, y, c);
                if (n == 4 && c < 3 && transparent && a > 0.0) {
                    value /= a;
                }
                out.at(x, row, c) =
                    static_cast<float>(std::round(std::clamp(value, 0.0, 1.0) * steps) / steps);
            }
        }
    }
    return out;
}

// Checks a successful run: silent, and the output file equal to `expected` (same size,
// channels and samples, as integers of `steps` levels).
void expectRendered(const RunResult& run, const std::string& outputPath, const Picture& expected,
                    int steps = 255) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    const Picture output = readImage(outputPath);
    EXPECT_EQ(output.width, expected.width);
    EXPECT_EQ(output.height, expected.height);
    EXPECT_EQ(output.channels(), expected.channels());
    ASSERT_EQ(output.samples.size(), expected.samples.size());
    std::size_t differ = 0;
    std::string first;
    for (std::size_t i = 0; i < output.samples.size(); ++i) {
        if (std::lround(output.samples[i] * steps) != std::lround(expected.samples[i] * steps) &&
            differ++ == 0) {
            first = "sample " + std::to_string(i) + ": " + std::to_string(output.samples[i]) +
                    " instead of " + std::to_string(expected.samples[i]);
        }
    }
    EXPECT_EQ(differ, 0u) << "samples differ from the reference outline, first " << first;
}

// Checks a failed run: exit code, exactly one line on standard error that matches `pattern`
// after "zarvel-render: " ('*' for any text), and nothing left in the scratch folder but `keep`.
void expectRefused(const RunResult& run, int exitCode, const std::string& pattern,
                   const ScratchDir& scratch, const std::vector<std::string>& keep) {
    EXPECT_EQ(run.exitCode, exitCode);
    const std::vector<std::string> lines = run.errLines();
    ASSERT_EQ(lines.size(), 1u) << run.err;
    EXPECT_TRUE(zarvel::test::globMatch(lines[0], "zarvel-render: " + pattern))
        << lines[0] << "\ndoes not match\n"
        << pattern;
    EXPECT_EQ(scratch.entries(), keep);
}

class ToolEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        struct stat info {};
        ASSERT_EQ(::stat(ZARVEL_TEST_PLUGIN, &info), 0)
            << "the plug-in is not built: " << ZARVEL_TEST_PLUGIN;
    }
};

// -- Pictures and the alpha rule ---------------------------------------------------------------

TEST_F(ToolEndToEnd, TheDefaultsDrawAWhiteOutlineThatStaysWhiteInPng) {
    ScratchDir scratch;
    const Picture input = zarvel::test::squarePicture(16);
    writeImage(scratch / "in.png", input);
    const RunResult run = render(scratch, {scratch / "in.png", scratch / "out.png"});
    const Picture expected = referenceOutput(input, {});
    expectRendered(run, scratch / "out.png", expected);
    // 16 + 2 × 60 pixels a side; the corner stays clear.
    ASSERT_EQ(expected.width, 136);
    EXPECT_EQ(expected.at(0, 0, 3), 0.0f);

    // A hard-edged shape: every outline pixel, soft edge included, is white in straight alpha.
    Picture hard = zarvel::test::makePicture(20, 20, "R,G,B,A");
    for (int y = 6; y < 14; ++y) {
        for (int x = 5; x < 15; ++x) {
            hard.at(x, y, 0) = 0.2f;
            hard.at(x, y, 3) = 1.0f;
        }
    }
    writeImage(scratch / "hard.png", hard);
    for (const char* quality : {"draft", "good"}) {
        ASSERT_EQ(render(scratch, {"--quality", quality, "--width", "20", scratch / "hard.png",
                                   scratch / "out.png"})
                      .exitCode,
                  0);
        const Picture out = readImage(scratch / "out.png");
        int soft = 0;
        for (int y = 0; y < out.height; ++y) {
            for (int x = 0; x < out.width; ++x) {
                const float a = out.at(x, y, 3);
                const bool inShape = x >= 85 && x < 95 && y >= 86 && y < 94;
                if (a > 0.0f && !inShape) {
                    soft += a < 1.0f;
                    ASSERT_EQ(out.at(x, y, 0) * 255, 255.0f) << quality << " " << x << ", " << y;
                    ASSERT_EQ(out.at(x, y, 1) * 255, 255.0f);
                }
            }
        }
        EXPECT_GT(soft, 0) << quality << ": the outline has a soft edge";
    }
}

TEST_F(ToolEndToEnd, EveryOptionReachesTheEffectAndTheHost) {
    ScratchDir scratch;
    const Picture input = zarvel::test::squarePicture(20);
    writeImage(scratch / "in.png", input);
    struct Case {
        std::vector<std::string> options;
        Expected expected;
        int steps;
    };
    Expected colour;
    colour.width = 2.5;
    colour.green = 128 / 255.0;
    colour.blue = 0.0;
    colour.quality = 0;
    Expected floats;
    floats.depth = PixelDepth::Float;
    floats.quality = 2;
    floats.width = 20;
    Expected alpha;
    alpha.alphaOnly = true;
    alpha.depth = PixelDepth::Short;
    Expected kept;
    kept.keepSize = true;
    kept.width = 0.1;
    const std::vector<Case> cases = {
        {{"--width", "2.5", "--color", "#ff8000", "--quality", "draft"}, colour, 255},
        {{"--depth", "float", "--quality=best", "--width=20", "--threads", "3"}, floats, 255},
        {{"--alpha-only", "--depth", "short", "--threads", "1", "--output-type", "uint16"},
         alpha,
         65535},
        {{"--keep-size", "--width", "0.1"}, kept, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        std::vector<std::string> arguments = c.options;
        arguments.push_back(scratch / "in.png");
        arguments.push_back(scratch / "out.png");
        expectRendered(render(scratch, arguments), scratch / "out.png",
                       referenceOutput(input, c.expected, c.steps), c.steps);
    }
}

// EXR holds premultiplied colour: inside pixels come back as they went in, outline pixels are
// colour × coverage, and the soft source pixels are the straight composite times its alpha.
TEST_F(ToolEndToEnd, AnExrRoundTripKeepsPremultipliedDataPremultiplied) {
    ScratchDir scratch;
    Picture input = zarvel::test::squarePicture(24, 64);  // on a grid of 1/64: exact in half
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            for (int c = 0; c < 3; ++c) {
                input.at(x, y, c) *= input.at(x, y, 3);
            }
        }
    }
    writeImage(scratch / "in.exr", input, imageOptions(OIIO::TypeDesc::HALF, false));
    ASSERT_EQ(render(scratch, {"--color", "0.5,0.25,1", "--width", "6", scratch / "in.exr",
                               scratch / "out.exr"})
                  .exitCode,
              0);
    const Picture out = readImage(scratch / "out.exr");
    EXPECT_EQ(out.alpha, ZarvelTool::Alpha::Premultiplied);
    EXPECT_EQ(out.type, OIIO::TypeDesc::HALF);
    // The effect's own output at float depth from the straight input, by the reference.
    Picture straight = input;
    for (int y = 0; y < 24; ++y) {
        for (int x = 0; x < 24; ++x) {
            const float a = input.at(x, y, 3);
            for (int c = 0; c < 3; ++c) {
                straight.at(x, y, c) = a > 0.0f ? input.at(x, y, c) / a : input.at(x, y, c);
            }
        }
    }
    Expected expected;
    expected.width = 6;
    expected.red = 0.5;
    expected.green = 0.25;
    expected.blue = 1.0;
    expected.depth = PixelDepth::Float;
    // referenceOutput divides the outline pixels; multiplied back, every pixel is premultiplied.
    const Picture reference = referenceOutput(straight, expected, 1 << 20);
    ASSERT_EQ(out.width, reference.width);
    ASSERT_EQ(out.x, -24);
    int inside = 0;
    int outline = 0;
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width; ++x) {
            const float a = out.at(x, y, 3);
            EXPECT_NEAR(a, reference.at(x, y, 3), 1e-3) << x << ", " << y;
            const int ix = x + out.x;
            const int iy = y + out.y;
            const bool inInput = ix >= 0 && ix < 24 && iy >= 0 && iy < 24;
            for (int c = 0; c < 3; ++c) {
                if (inInput && input.at(ix, iy, 3) > 0.5f) {
                    ++inside;
                    ASSERT_EQ(out.at(x, y, c), input.at(ix, iy, c)) << ix << ", " << iy;
                } else {
                    outline += !inInput || input.at(ix, iy, 3) == 0.0f;
                    ASSERT_NEAR(out.at(x, y, c), reference.at(x, y, c) * a, 2e-3) << x << ", " << y;
                }
            }
        }
    }
    EXPECT_GT(inside, 0);
    EXPECT_GT(outline, 0);
}

TEST_F(ToolEndToEnd, AlphaSaysWhatTheInputsColourIs) {
    ScratchDir scratch;
    // Every pixel inside (alpha 0.6), colour 0.3: copied by the effect.
    Picture input = zarvel::test::makePicture(4, 4, "R,G,B,A");
    for (std::size_t i = 0; i < input.samples.size(); ++i) {
        input.samples[i] = i % 4 == 3 ? 0.75f : 0.15f;
    }
    writeImage(scratch / "in.exr", input, imageOptions(OIIO::TypeDesc::FLOAT, false));
    const auto redOf = [&](const std::vector<std::string>& options) {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), {"--keep-size", scratch / "in.exr", scratch / "o.png"});
        const RunResult run = render(scratch, arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        return std::lround(readImage(scratch / "o.png").at(1, 1, 0) * 255);
    };
    EXPECT_EQ(redOf({}), 51);  // 0.15 / 0.75, straight in PNG
    EXPECT_EQ(redOf({"--alpha", "auto"}), 51);
    EXPECT_EQ(redOf({"--alpha", "premultiplied"}), 51);
    EXPECT_EQ(redOf({"--alpha", "straight"}), 38);  // 0.15 as it is
}

// -- Formats -----------------------------------------------------------------------------------

// An opaque picture comes back unchanged in every format, with its sample type, its layout's
// values in RGBA, and the metadata the format carries.
TEST_F(ToolEndToEnd, EveryFormatRoundTripsOpaquePixelsExactly) {
    ScratchDir scratch;
    struct Case {
        std::string name;
        std::string channels;
        ImageOptions options;
        int steps;  // the grid of values the format holds exactly
        std::string output;
    };
    const auto with = [](OIIO::TypeDesc type, int tile = 0, const std::string& compression = "",
                         int bits = 0) {
        ImageOptions options;
        options.type = type;
        options.tile = tile;
        options.compression = compression;
        options.bits = bits;
        return options;
    };
    ImageOptions described = with(OIIO::TypeDesc::HALF, 0, "piz");
    described.attributes = {{"zarvelNote", "kept"}};
    described.pixelAspect = 2.0f;
    const std::vector<Case> cases = {
        {"half.exr", "R,G,B,A", described, 1024, ""},
        {"float.exr", "R,G,B,A", with(OIIO::TypeDesc::FLOAT, 16, "zip"), 1 << 20, ""},
        {"rgb.exr", "R,G,B", with(OIIO::TypeDesc::HALF), 1024, ""},
        {"y.exr", "Y", with(OIIO::TypeDesc::HALF, 8), 1024, ""},
        {"ya.exr", "Y,A", with(OIIO::TypeDesc::FLOAT), 1 << 20, ""},
        {"byte.tif", "R,G,B,A", with(OIIO::TypeDesc::UINT8, 0, "lzw"), 255, ""},
        {"short.tif", "R,G,B,A", with(OIIO::TypeDesc::UINT16), 65535, ""},
        {"float.tif", "R,G,B,A", with(OIIO::TypeDesc::FLOAT), 1 << 20, ""},
        {"byte.png", "R,G,B,A", with(OIIO::TypeDesc::UINT8), 255, ""},
        {"short.png", "R,G,B,A", with(OIIO::TypeDesc::UINT16), 65535, ""},
        {"ten.dpx", "R,G,B", with(OIIO::TypeDesc::UINT16, 0, "", 10), 1023, ""},
        {"photo.jpg", "R,G,B", with(OIIO::TypeDesc::UINT8), 255, "photo.png"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture input = zarvel::test::makePicture(7, 5, c.channels);
        for (std::size_t i = 0; i < input.samples.size(); ++i) {
            const bool alpha = input.hasAlpha() && int(i % input.channels()) == input.alphaChannel;
            input.samples[i] = alpha ? 1.0f : static_cast<float>((i * 37 + 5) % c.steps) / c.steps;
        }
        if (c.name == "photo.jpg") {
            input.samples.assign(input.samples.size(), 128 / 255.0f);  // flat: lossless enough
        }
        const std::string in = scratch / c.name;
        const std::string outName = c.output.empty() ? "out-" + c.name : c.output;
        writeImage(in, input, c.options);
        const RunResult run = render(scratch, {"--keep-size", in, scratch / outName});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const Picture out = readImage(scratch / outName);
        const Picture i = readImage(in);
        ASSERT_EQ(out.width, 7);
        ASSERT_EQ(out.channelNames, (std::vector<std::string>{"R", "G", "B", "A"}));
        if (c.output.empty()) {
            EXPECT_EQ(out.type, c.options.type);
            EXPECT_EQ(out.bitsPerSample,
                      c.options.bits ? c.options.bits : int(c.options.type.size() * 8));
            EXPECT_EQ(out.header.tile_width, c.options.tile);
        }
        if (!c.options.compression.empty()) {
            EXPECT_EQ(out.header.get_string_attribute("compression"), c.options.compression);
        }
        for (int y = 0; y < 5; ++y) {
            for (int x = 0; x < 7; ++x) {
                for (int k = 0; k < 3; ++k) {
                    const int from = i.colourChannels() == 1 ? 0 : k;
                    ASSERT_EQ(out.at(x, y, k), i.at(x, y, from)) << x << ", " << y << ", " << k;
                }
                ASSERT_EQ(out.at(x, y, 3), 1.0f);
            }
        }
    }
    const Picture described2 = readImage(scratch / "out-half.exr");
    EXPECT_EQ(described2.header.get_string_attribute("zarvelNote"), "kept");
    EXPECT_EQ(described2.header.get_float_attribute("PixelAspectRatio"), 2.0f);
}

// The output's data window is the effect's region of definition, its display window the
// input's; --keep-size cuts the data window to the display window; PNG has neither.
TEST_F(ToolEndToEnd, ExrWindowsHoldTheEnlargedCanvasInTheInputsFrame) {
    ScratchDir scratch;
    Picture input = zarvel::test::makePicture(20, 10, "R,G,B,A");
    input.x = 5;
    input.y = 3;
    input.fullWidth = 40;
    input.fullHeight = 30;
    for (int y = 2; y < 8; ++y) {
        for (int x = 2; x < 18; ++x) {
            input.at(x, y, 0) = 0.5f;
            input.at(x, y, 3) = 1.0f;
        }
    }
    writeImage(scratch / "in.exr", input, imageOptions(OIIO::TypeDesc::HALF, false));
    // Width 2: the effect pads by 8 pixels on every side.
    ASSERT_EQ(render(scratch, {"--width", "2", scratch / "in.exr", scratch / "out.exr"}).exitCode,
              0);
    const Picture out = readImage(scratch / "out.exr");
    EXPECT_EQ(out.x, 5 - 8);
    EXPECT_EQ(out.y, 3 - 8);
    EXPECT_EQ(out.width, 20 + 16);
    EXPECT_EQ(out.height, 10 + 16);
    EXPECT_EQ(out.fullX, 0);
    EXPECT_EQ(out.fullY, 0);
    EXPECT_EQ(out.fullWidth, 40);
    EXPECT_EQ(out.fullHeight, 30);
    // The source sits where it was in the frame.
    EXPECT_EQ(out.at(5 + 3 - out.x, 3 + 4 - out.y, 0), 0.5f);

    ASSERT_EQ(
        render(scratch, {"--width", "2", "--keep-size", scratch / "in.exr", scratch / "kept.exr"})
            .exitCode,
        0);
    const Picture kept = readImage(scratch / "kept.exr");
    EXPECT_EQ(kept.x, 0);
    EXPECT_EQ(kept.y, 0);
    EXPECT_EQ(kept.width, 5 + 20 + 8);
    EXPECT_EQ(kept.height, 3 + 10 + 8);
    EXPECT_EQ(kept.fullWidth, 40);
    EXPECT_EQ(kept.at(5 + 3, 3 + 4, 0), 0.5f);

    ASSERT_EQ(render(scratch, {"--width", "2", scratch / "in.exr", scratch / "flat.png"}).exitCode,
              0);
    const Picture flat = readImage(scratch / "flat.png");
    EXPECT_EQ(flat.x, 0);
    EXPECT_EQ(flat.width, 36);
    EXPECT_EQ(flat.fullWidth, 36);
}

// -- Tiles, refusals, safe writes ----------------------------------------------------------------

TEST_F(ToolEndToEnd, TilesGiveExactlyTheFullFrame) {
    ScratchDir scratch;
    const std::string input = scratch / "in.png";
    writeImage(input, zarvel::test::squarePicture(24));
    for (const char* depth : {"byte", "float"}) {
        for (const char* quality : {"draft", "good"}) {
            SCOPED_TRACE(std::string(depth) + " " + quality);
            const std::vector<std::string> options = {"--depth", depth,     "--quality",
                                                      quality,   "--width", "6"};
            std::vector<std::string> full = options;
            full.insert(full.end(), {input, scratch / "full.png"});
            ASSERT_EQ(render(scratch, full).exitCode, 0);
            const Picture whole = readImage(scratch / "full.png");
            for (const char* tile : {"16x16", "7x5", "1000x1"}) {
                SCOPED_TRACE(tile);
                std::vector<std::string> tiled = options;
                tiled.insert(tiled.end(), {"--tile", tile, input, scratch / "tiled.png"});
                expectRendered(render(scratch, tiled), scratch / "tiled.png", whole);
            }
        }
    }
}

TEST_F(ToolEndToEnd, EveryRefusedInputGetsItsOneLineErrorAndLeavesNothingBehind) {
    ScratchDir scratch;
    const std::string good = scratch / "good.png";
    writeImage(good, zarvel::test::squarePicture(12));
    const std::string bytes = readFile(good);
    zarvel::test::writeFile(scratch / "text.png", "hello\n");
    zarvel::test::writeFile(scratch / "cut.png", bytes.substr(0, bytes.size() / 2));
    Picture big = zarvel::test::makePicture(64, 64, "R,G,B,A");
    big.samples.assign(big.samples.size(), 0.5f);
    writeImage(scratch / "whole.exr", big, imageOptions(OIIO::TypeDesc::FLOAT, false));
    const std::string exr = readFile(scratch / "whole.exr");
    zarvel::test::writeFile(scratch / "cut.exr", exr.substr(0, exr.size() - 200));
    std::filesystem::remove(scratch / "whole.exr");
    Picture five = zarvel::test::makePicture(4, 4, "R,G,B,A,Z");
    writeImage(scratch / "five.exr", five, imageOptions(OIIO::TypeDesc::HALF, false));
    {
        // A deep image: one sample of alpha and depth per pixel.
        OIIO::ImageSpec header(2, 2, 2, OIIO::TypeDesc::FLOAT);
        header.channelnames = {"A", "Z"};
        header.alpha_channel = 0;
        header.z_channel = 1;
        header.deep = true;
        OIIO::DeepData deep(header);
        for (int p = 0; p < 4; ++p) {
            deep.set_samples(p, 1);
            deep.set_deep_value(p, 0, 0, 1.0f);
            deep.set_deep_value(p, 1, 0, 2.0f);
        }
        auto out = OIIO::ImageOutput::create(scratch / "deep.exr");
        ASSERT_TRUE(out->open(scratch / "deep.exr", header));
        ASSERT_TRUE(out->write_deep_image(deep));
        out->close();
    }
    {
        // Two parts.
        OIIO::ImageSpec specs[2] = {OIIO::ImageSpec(2, 2, 4, OIIO::TypeDesc::HALF),
                                    OIIO::ImageSpec(2, 2, 4, OIIO::TypeDesc::HALF)};
        specs[0].attribute("name", "beauty");
        specs[1].attribute("name", "extra");
        const std::vector<float> pixels(16, 0.5f);
        auto out = OIIO::ImageOutput::create(scratch / "parts.exr");
        ASSERT_TRUE(out->open(scratch / "parts.exr", 2, specs));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()));
        ASSERT_TRUE(out->open(scratch / "parts.exr", specs[1], OIIO::ImageOutput::AppendSubimage));
        ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, pixels.data()));
        out->close();
    }
    zarvel::test::writeFile(scratch / "plain", "not a folder");
    ::mkdir((scratch / "folder").c_str(), 0777);
    ASSERT_EQ(::symlink("good.png", (scratch / "alias.png").c_str()), 0);
    const std::vector<std::string> inputs = {"alias.png", "cut.exr", "cut.png",  "deep.exr",
                                             "five.exr",  "folder",  "good.png", "parts.exr",
                                             "plain",     "text.png"};
    const std::string out = scratch / "out.png";
    const std::string s = scratch.path().string() + "/";

    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string pattern;
    };
    const std::vector<Case> cases = {
        {{scratch / "absent.png", out}, 1, s + "absent.png: No such file or directory"},
        {{scratch / "folder", out}, 1, s + "folder: is a directory, not an image file"},
        {{scratch / "text.png", out}, 1, s + "text.png: cannot read: Not a PNG file"},
        {{scratch / "cut.png", out}, 1, s + "cut.png: cannot read: *"},
        {{scratch / "cut.exr", out}, 1, s + "cut.exr: cannot read: *"},
        {{scratch / "deep.exr", out},
         1,
         s + "deep.exr: is a deep image: only flat images can be rendered"},
        {{scratch / "parts.exr", out},
         1,
         s + "parts.exr: holds 2 images (parts or pages): only single-image files can be "
             "rendered; take one out first"},
        {{scratch / "five.exr", out},
         1,
         s + "five.exr: has 5 channels (R, G, B, A, Z): pick at most four with --channels, e.g. "
             "--channels R,G,B,A"},
        {{"--channels", "R,G,B,W", scratch / "five.exr", out},
         1,
         s + "five.exr: has no channel \"W\" (it has R, G, B, A, Z)"},
        {{good, scratch / "out.jpg"},
         1,
         s + "out.jpg: the jpeg format holds no alpha, which the outline needs (write .exr, .tif "
             "or .png)"},
        {{good, scratch / "out.xyz"}, 1, s + "out.xyz: no image format writes files named like *"},
        {{good, scratch / "missing/out.png"},
         1,
         s + "missing/out.png: cannot create the file: No such file or directory"},
        {{good, scratch / "plain/out.png"},
         1,
         s + "plain/out.png: cannot create the file: Not a directory"},
        {{good, good}, 1, s + "good.png: is the input *; refusing to overwrite an input"},
        {{good, scratch / "alias.png"},
         1,
         s + "alias.png: is the input *good.png; refusing to overwrite an input"},
        {{"--width", "abc", good, out}, 2, "--width: 'abc' is not a number"},
        {{"--width", "25", good, out}, 2, "--width: 25 is outside the effect's range 0.1 to 20"},
        {{"--color", "1,2,0", good, out}, 2, "--color: '1,2,0': green 2 is out of range (0 to 1)"},
        {{"--tile", "0x0", good, out}, 2, "--tile: '0x0' is not a tile size *"},
        {{"--output-type", "int7", good, out},
         2,
         "--output-type: 'int7' is not one of uint8, uint16, half, float"},
        {{"--alpha", "maybe", good, out},
         2,
         "--alpha: 'maybe' is not one of straight, premultiplied, auto"},
        {{"--bogus", good, out}, 2, "--bogus: unknown option (see --help)"},
        {{good, out, "--width"}, 2, "--width: needs a value"},
        {{"--frames", "1-3", good, out}, 2, "--frames: needs an input with a frame pattern *"},
        {{good}, 2, "usage: an output file is needed: *"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        expectRefused(render(scratch, c.arguments), c.exitCode, c.pattern, scratch, inputs);
    }
    EXPECT_EQ(readFile(good), bytes);
    // Picked, the five channels render.
    EXPECT_EQ(render(scratch, {"--channels", "R,G,B,A", scratch / "five.exr", out}).exitCode, 0);

    const RunResult noPlugin = zarvel::test::runProgram(
        ZARVEL_RENDER_EXE, {"--plugin", scratch / "nowhere/Zarvel.ofx", good, out}, scratch);
    expectRefused(noPlugin, 3, s + "nowhere/Zarvel.ofx: no Zarvel.ofx plug-in there", scratch,
                  {"alias.png", "cut.exr", "cut.png", "deep.exr", "five.exr", "folder", "good.png",
                   "out.png", "parts.exr", "plain", "text.png"});
}

TEST_F(ToolEndToEnd, AnOutputIsReplacedWholeOrNotAtAll) {
    ScratchDir scratch;
    writeImage(scratch / "in.png", zarvel::test::squarePicture(40));
    zarvel::test::writeFile(scratch / "out.png", "the previous render");
    // A file-size limit makes the write fail half way through the new picture.
    RunOptions limited;
    limited.fileSizeLimit = 300;
    const RunResult failed = render(scratch, {scratch / "in.png", scratch / "out.png"}, limited);
    expectRefused(failed, 1, (scratch / "out.png") + ": cannot write*", scratch,
                  {"in.png", "out.png"});
    EXPECT_EQ(readFile(scratch / "out.png"), "the previous render");

    // Once it can be written, the new file replaces the old one as a whole: a second name
    // for the old file keeps the old contents.
    ASSERT_EQ(::link((scratch / "out.png").c_str(), (scratch / "old.png").c_str()), 0);
    ASSERT_EQ(render(scratch, {scratch / "in.png", scratch / "out.png"}).exitCode, 0);
    EXPECT_EQ(readFile(scratch / "old.png"), "the previous render");
    EXPECT_EQ(readImage(scratch / "out.png").width, 40 + 120);
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"in.png", "old.png", "out.png"}));
}

// -- Sequences, --pixels, --verbose ------------------------------------------------------------

TEST_F(ToolEndToEnd, ASequenceReportsMissingAndCorruptFramesAndRendersTheOthers) {
    ScratchDir scratch;
    ::mkdir((scratch / "in").c_str(), 0777);
    for (int frame : {1001, 1002, 1004, 1005}) {
        writeImage(scratch / ("in/shot." + std::to_string(frame) + ".exr"),
                   zarvel::test::squarePicture(8 + frame % 10), imageOptions(OIIO::TypeDesc::HALF));
    }
    const std::string bytes = readFile(scratch / "in/shot.1004.exr");
    zarvel::test::writeFile(scratch / "in/shot.1004.exr", bytes.substr(0, bytes.size() / 2));

    const RunResult run =
        render(scratch, {"--width", "3", "--frames", "1001-1005", scratch / "in/shot.####.exr",
                         scratch / "out/o.@@@@.exr"});
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.errLines().size(), 2u) << run.err;
    EXPECT_EQ(run.errLines()[0],
              "zarvel-render: " + (scratch / "in/shot.1003.exr") + ": frame 1003 is missing");
    EXPECT_TRUE(zarvel::test::globMatch(
        run.errLines()[1], "zarvel-render: " + (scratch / "in/shot.1004.exr") + ": cannot read*"));
    EXPECT_TRUE(
        zarvel::test::globMatch(run.out, "Rendered 3 of 5 frames in * s (* frames/s); 2 failed\n"))
        << run.out;
    const auto filesIn = [](const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(filesIn(scratch / "out"),
              (std::vector<std::string>{"o.1001.exr", "o.1002.exr", "o.1005.exr"}));

    // Steps, and -o: each frame keeps its name; without --frames only what exists renders.
    const RunResult stepped = render(
        scratch, {"--frames", "1001-1005x2", "-o", scratch / "o2", scratch / "in/shot.%04d.exr"});
    EXPECT_EQ(stepped.exitCode, 1);
    EXPECT_EQ(stepped.errLines().size(), 1u) << stepped.err;  // 1003
    EXPECT_EQ(filesIn(scratch / "o2"),
              (std::vector<std::string>{"shot.1001.exr", "shot.1005.exr"}));
    const RunResult existing =
        render(scratch, {"-o", scratch / "o3", scratch / "in/shot.####.exr"});
    EXPECT_EQ(existing.errLines().size(), 1u) << existing.err;
    EXPECT_EQ(filesIn(scratch / "o3").size(), 3u);
}

TEST_F(ToolEndToEnd, ABatchDrawsAProgressBarOnlyOnATerminal) {
    ScratchDir scratch;
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        writeImage(scratch / name, zarvel::test::squarePicture(10));
    }
    const std::vector<std::string> arguments = {"-o", scratch / "out", scratch / "a.png",
                                                scratch / "b.png", scratch / "c.png"};
    RunOptions terminal;
    terminal.stderrIsTerminal = true;
    const RunResult drawn = render(scratch, arguments, terminal);
    EXPECT_EQ(drawn.exitCode, 0);
    EXPECT_TRUE(zarvel::test::globMatch(drawn.err, "*\r[ * ] 0/3 *a.png\033[K*")) << drawn.err;
    EXPECT_TRUE(zarvel::test::globMatch(drawn.err, "*\r[#* ] 2/3 *c.png\033[K*")) << drawn.err;
    // The bar is wiped before the summary.
    ASSERT_GE(drawn.err.size(), 4u);
    EXPECT_EQ(drawn.err.substr(drawn.err.size() - 4), "\r\033[K");
    EXPECT_EQ(drawn.out.rfind("Rendered 3 of 3 frames in ", 0), 0u) << drawn.out;

    const RunResult plain = render(scratch, arguments);
    EXPECT_EQ(plain.exitCode, 0);
    EXPECT_EQ(plain.err, "");
    EXPECT_EQ(plain.out.rfind("Rendered 3 of 3 frames in ", 0), 0u) << plain.out;
}

TEST_F(ToolEndToEnd, PixelsChoosesTheWidthForThisOutputOrSaysWhyNot) {
    ScratchDir scratch;
    Picture input = zarvel::test::makePicture(60, 300, "R,G,B,A");
    for (int y = 100; y < 200; ++y) {
        for (int x = 20; x < 40; ++x) {
            input.at(x, y, 3) = 1.0f;
        }
    }
    writeImage(scratch / "in.png", input);
    const RunResult run =
        render(scratch, {"-v", "--pixels", "3", scratch / "in.png", scratch / "out.png"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    double width = 0.0;
    const std::size_t at = run.out.find("at width ");
    ASSERT_NE(at, std::string::npos) << run.out;
    width = std::stod(run.out.substr(at + 9));
    const Picture out = readImage(scratch / "out.png");
    EXPECT_NEAR(out.height * width / 1080.0, 3.0, 0.02) << run.out;
    // The same width given as --width renders the same picture.
    ASSERT_EQ(render(scratch,
                     {"--width", std::to_string(width), scratch / "in.png", scratch / "again.png"})
                  .exitCode,
              0);
    EXPECT_EQ(readImage(scratch / "again.png").samples, out.samples);

    expectRefused(render(scratch, {"--pixels", "30", scratch / "in.png", scratch / "o.png"}), 2,
                  "--pixels: 30 pixels on this 60x300 picture needs a width of *, outside the "
                  "effect's range 0.1 to 20",
                  scratch, {"again.png", "in.png", "out.png"});
    expectRefused(render(scratch, {"--pixels", "x", scratch / "in.png", scratch / "o.png"}), 2,
                  "--pixels: 'x' is not a number", scratch, {"again.png", "in.png", "out.png"});
}

TEST_F(ToolEndToEnd, VerboseSaysThePluginAndEachFramesSizeDepthAndTime) {
    ScratchDir scratch;
    writeImage(scratch / "in.tif", zarvel::test::squarePicture(10, 65535),
               imageOptions(OIIO::TypeDesc::UINT16));
    const RunResult run = render(scratch, {"--verbose", scratch / "in.tif", scratch / "o.exr"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_TRUE(zarvel::test::globMatch(
        run.out, std::string("Plug-in: ") + ZARVEL_TEST_PLUGIN + "\n" + (scratch / "in.tif") +
                     ": 10x10 tiff uint16 RGBA straight; rendered in short at width 15 over "
                     "130x130 in * s; " +
                     (scratch / "o.exr") + ": 130x130 (data window at -60,-60, *) openexr *\n"))
        << run.out;
}

TEST_F(ToolEndToEnd, ThePluginIsFoundThroughOfxPluginPath) {
    ScratchDir scratch;
    writeImage(scratch / "in.png", zarvel::test::squarePicture(10));
    // A plug-in folder holding a bundle whose library is the one built here.
    const std::string bundle = scratch / "plugins/Zarvel.ofx.bundle/Contents/Linux-x86-64";
    std::filesystem::create_directories(bundle);
    std::filesystem::create_symlink(ZARVEL_TEST_PLUGIN, bundle + "/Zarvel.ofx");
    RunOptions options;
    options.environment["OFX_PLUGIN_PATH"] = "/nonexistent:" + (scratch / "plugins");
    const RunResult run = zarvel::test::runProgram(
        ZARVEL_RENDER_EXE, {scratch / "in.png", scratch / "out.png"}, scratch, options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const RunResult bundleOption = zarvel::test::runProgram(
        ZARVEL_RENDER_EXE,
        {"--plugin", scratch / "plugins/Zarvel.ofx.bundle", scratch / "in.png", scratch / "o2.png"},
        scratch);
    EXPECT_EQ(bundleOption.exitCode, 0) << bundleOption.err;
    EXPECT_EQ(readImage(scratch / "out.png").samples, readImage(scratch / "o2.png").samples);
}

TEST_F(ToolEndToEnd, HelpAndVersion) {
    ScratchDir scratch;
    const RunResult help = render(scratch, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    EXPECT_EQ(help.out.rfind("zarvel-render ", 0), 0u);
    EXPECT_NE(help.out.find("Exit status:"), std::string::npos);
    const RunResult version = render(scratch, {"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_TRUE(zarvel::test::globMatch(version.out, "zarvel-render *.*.*\n")) << version.out;
}

}  // namespace
