// zarvel-render run as a program on small files, with the Zarvel.ofx built in this tree: its
// pictures against the reference outline, tiles against full frames, 16-bit round trips, every
// bad input with its one-line error and exit code, the temporary-file guarantee, and batches.
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/OutlineImages.h"
#include "tests/support/ReferenceOutline.h"
#include "tests/tools/ToolTestSupport.h"
#include "tools/Png.h"
#include "tools/Render.h"

#ifndef ZARVEL_RENDER_EXE
#error "ZARVEL_RENDER_EXE must name the built zarvel-render"
#endif
#ifndef ZARVEL_TEST_PLUGIN
#error "ZARVEL_TEST_PLUGIN must name the built Zarvel.ofx"
#endif

namespace {

using zarvel::test::readFile;
using zarvel::test::RunOptions;
using zarvel::test::RunResult;
using zarvel::test::ScratchDir;
using ZarvelHost::PixelComponents;
using ZarvelHost::PixelDepth;
using ZarvelTool::PngImage;

// Runs zarvel-render with the plug-in of this tree, whatever the environment says.
RunResult render(const ScratchDir& scratch, std::vector<std::string> arguments,
                 RunOptions options = {}) {
    arguments.insert(arguments.begin(), {"--plugin", ZARVEL_TEST_PLUGIN});
    options.environment.emplace("OFX_PLUGIN_PATH", std::nullopt);
    return zarvel::test::runProgram(ZARVEL_RENDER_EXE, arguments, scratch, options);
}

// What the effect should make of `input`: the reference outline over the canvas the tool must
// choose, converted to PNG samples the way the tool converts.
struct Expected {
    double width = 15.0;
    double red = 1.0, green = 1.0, blue = 1.0;
    int quality = 1;
    PixelDepth depth = PixelDepth::Byte;
    bool alphaOnly = false;
    bool keepSize = false;
};

PngImage referenceOutput(const PngImage& input, const Expected& expected) {
    const PixelComponents components =
        expected.alphaOnly ? PixelComponents::Alpha : PixelComponents::RGBA;
    const auto source = ZarvelTool::toHostImage(input, expected.depth, components);
    const double pad = expected.width * 4.0;
    const OfxRectI canvas =
        expected.keepSize
            ? source->bounds()
            : ZarvelTool::enclosingPixels({-pad, -pad, input.width + pad, input.height + pad});
    ZarvelHost::Image destination(canvas, expected.depth, components);
    const ReferenceOutline::Image sourceView = zarvel::test::referenceView(*source);
    const double widthPixels = (canvas.y2 - canvas.y1) / 1080.0 * expected.width;
    ReferenceOutline::render(&sourceView, zarvel::test::referenceView(destination), canvas,
                             expected.quality, widthPixels, expected.red, expected.green,
                             expected.blue);
    return ZarvelTool::toPng(destination, ZarvelTool::outputBitDepth(expected.depth));
}

// Checks a successful run: silent, and the output file equal to `expected`.
void expectRendered(const RunResult& run, const std::string& outputPath, const PngImage& expected) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
    const PngImage output = ZarvelTool::readPng(outputPath);
    EXPECT_EQ(output.width, expected.width);
    EXPECT_EQ(output.height, expected.height);
    EXPECT_EQ(output.channels, expected.channels);
    EXPECT_EQ(output.bitDepth, expected.bitDepth);
    EXPECT_TRUE(output.samples == expected.samples) << "pixels differ from the reference outline";
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

TEST_F(ToolEndToEnd, TheDefaultsDrawAWhiteOutlineOnTheEffectsCanvas) {
    ScratchDir scratch;
    const PngImage input = zarvel::test::squarePicture(16);
    zarvel::test::writePngFile(scratch / "in.png", input);
    const RunResult run = render(scratch, {scratch / "in.png", scratch / "out.png"});
    const PngImage expected = referenceOutput(input, {});
    expectRendered(run, scratch / "out.png", expected);
    // 16 + 2 × 60 pixels a side; the corner stays clear, and the pixel just left of the
    // square (input row 8, column 3) is opaque white outline.
    ASSERT_EQ(expected.width, 136);
    EXPECT_EQ(expected.at(0, 0, 3), 0);
    EXPECT_EQ(expected.at(63, 68, 0), 255);
    EXPECT_EQ(expected.at(63, 68, 3), 255);
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"in.png", "out.png"}));
}

TEST_F(ToolEndToEnd, EveryOptionReachesTheEffectAndTheHost) {
    ScratchDir scratch;
    const PngImage input = zarvel::test::squarePicture(20);
    zarvel::test::writePngFile(scratch / "in.png", input);
    struct Case {
        std::vector<std::string> options;
        Expected expected;
    };
    Expected colour;
    colour.width = 2.5;
    colour.red = 1.0;
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
        {{"--width", "2.5", "--color", "#ff8000", "--quality", "draft"}, colour},
        {{"--depth", "float", "--quality=best", "--width=20", "--threads", "3"}, floats},
        {{"--alpha-only", "--depth", "short", "--threads", "1"}, alpha},
        {{"--keep-size", "--width", "0.1"}, kept},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.options));
        std::vector<std::string> arguments = c.options;
        arguments.push_back(scratch / "in.png");
        arguments.push_back(scratch / "out.png");
        expectRendered(render(scratch, arguments), scratch / "out.png",
                       referenceOutput(input, c.expected));
    }
}

TEST_F(ToolEndToEnd, TilesGiveExactlyTheFullFrame) {
    ScratchDir scratch;
    const std::string input = scratch / "in.png";
    zarvel::test::writePngFile(input, zarvel::test::squarePicture(24));
    for (const char* depth : {"byte", "float"}) {
        for (const char* quality : {"draft", "good"}) {
            SCOPED_TRACE(std::string(depth) + " " + quality);
            const std::vector<std::string> options = {"--depth", depth,     "--quality",
                                                      quality,   "--width", "6"};
            std::vector<std::string> full = options;
            full.insert(full.end(), {input, scratch / "full.png"});
            ASSERT_EQ(render(scratch, full).exitCode, 0);
            const PngImage whole = ZarvelTool::readPng(scratch / "full.png");
            for (const char* tile : {"16x16", "7x5", "1000x1", "1x1000"}) {
                SCOPED_TRACE(tile);
                std::vector<std::string> tiled = options;
                tiled.insert(tiled.end(), {"--tile", tile, input, scratch / "tiled.png"});
                expectRendered(render(scratch, tiled), scratch / "tiled.png", whole);
            }
        }
    }
}

TEST_F(ToolEndToEnd, SixteenBitValuesRoundTripExactly) {
    ScratchDir scratch;
    // Opaque everywhere, so that every input pixel is inside and copied as it is.
    PngImage input = ZarvelTool::makePngImage(9, 7, 4, 16);
    for (std::size_t i = 0; i < input.samples.size(); ++i) {
        input.samples[i] = (i % 4 == 3) ? 65535 : static_cast<std::uint16_t>(i * 1021 + 1);
    }
    zarvel::test::writePngFile(scratch / "in.png", input);
    for (const char* depth : {"short", "float"}) {
        SCOPED_TRACE(depth);
        const RunResult run = render(
            scratch, {"--keep-size", "--depth", depth, scratch / "in.png", scratch / "out.png"});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        const PngImage output = ZarvelTool::readPng(scratch / "out.png");
        EXPECT_EQ(output.bitDepth, 16);
        EXPECT_EQ(output.samples, input.samples);
    }
    // Gray 16-bit in, RGBA 16-bit out, the gray in every colour component.
    PngImage gray = ZarvelTool::makePngImage(3, 3, 1, 16);
    gray.samples = {1, 258, 65534, 4097, 65535, 0, 300, 301, 302};
    zarvel::test::writePngFile(scratch / "gray.png", gray);
    ASSERT_EQ(render(scratch, {"--keep-size", scratch / "gray.png", scratch / "out.png"}).exitCode,
              0);
    const PngImage output = ZarvelTool::readPng(scratch / "out.png");
    ASSERT_EQ(output.channels, 4);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(output.at(i % 3, i / 3, 1), gray.samples[i]);
        EXPECT_EQ(output.at(i % 3, i / 3, 3), 65535);
    }
}

TEST_F(ToolEndToEnd, EveryBadInputGetsItsOneLineErrorAndLeavesNothingBehind) {
    ScratchDir scratch;
    const std::string good = scratch / "good.png";
    zarvel::test::writePngFile(good, zarvel::test::squarePicture(12));
    const std::string bytes = readFile(good);
    zarvel::test::writeFile(scratch / "text.png", "hello\n");
    zarvel::test::writeFile(scratch / "cut.png", bytes.substr(0, bytes.size() / 2));
    std::string damaged = bytes;
    damaged[damaged.find("IDAT") + 8] ^= 0x20;
    zarvel::test::writeFile(scratch / "damaged.png", damaged);
    zarvel::test::writeFile(scratch / "palette.png",
                            zarvel::test::pngFile(1, 1, 8, 3, std::string("\0\0", 2),
                                                  zarvel::test::pngChunk("PLTE", "abc")));
    zarvel::test::writeFile(scratch / "plain", "not a folder");
    ::mkdir((scratch / "folder").c_str(), 0777);
    ASSERT_EQ(::symlink("good.png", (scratch / "alias.png").c_str()), 0);
    const std::vector<std::string> inputs = {"alias.png", "cut.png",     "damaged.png", "folder",
                                             "good.png",  "palette.png", "plain",       "text.png"};
    const std::string out = scratch / "out.png";
    const std::string s = scratch.path().string() + "/";

    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string pattern;
    };
    const std::vector<Case> cases = {
        {{scratch / "absent.png", out}, 1, s + "absent.png: No such file or directory"},
        {{scratch / "text.png", out}, 1, s + "text.png: not a PNG file"},
        {{scratch / "cut.png", out},
         1,
         s + "cut.png: truncated PNG: the file ends before the image does"},
        {{scratch / "damaged.png", out}, 1, s + "damaged.png: corrupt PNG data (IDAT: *)"},
        {{scratch / "palette.png", out},
         1,
         s + "palette.png: unsupported PNG layout: 8-bit palette (*)"},
        {{good, scratch / "missing/out.png"},
         1,
         s + "missing/out.png: cannot create the file: No such file or directory"},
        {{good, scratch / "plain/out.png"},
         1,
         s + "plain/out.png: cannot create the file: Not a directory"},
        {{good, scratch / "folder"}, 1, s + "folder: is a directory"},
        {{good, good}, 1, s + "good.png: is the input *; refusing to overwrite an input"},
        {{good, scratch / "alias.png"},
         1,
         s + "alias.png: is the input *good.png; refusing to overwrite an input"},
        {{"--width", "abc", good, out}, 2, "--width: 'abc' is not a number"},
        {{"--width", "25", good, out}, 2, "--width: 25 is outside the effect's range 0.1 to 20"},
        {{"--width", "0", good, out}, 2, "--width: 0 is outside the effect's range 0.1 to 20"},
        {{"--color", "1,2,0", good, out}, 2, "--color: '1,2,0': green 2 is out of range (0 to 1)"},
        {{"--tile", "0x0", good, out}, 2, "--tile: '0x0' is not a tile size *"},
        {{"--bogus", good, out}, 2, "--bogus: unknown option (see --help)"},
        {{good}, 2, "usage: an output file is needed: *"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.arguments));
        expectRefused(render(scratch, c.arguments), c.exitCode, c.pattern, scratch, inputs);
    }
    EXPECT_EQ(readFile(good), bytes);

    // A plug-in that is not there.
    const RunResult noPlugin = zarvel::test::runProgram(
        ZARVEL_RENDER_EXE, {"--plugin", scratch / "nowhere/Zarvel.ofx", good, out}, scratch);
    expectRefused(noPlugin, 3, s + "nowhere/Zarvel.ofx: no Zarvel.ofx plug-in there", scratch,
                  inputs);
    // A file that is not a plug-in.
    const RunResult notPlugin = zarvel::test::runProgram(
        ZARVEL_RENDER_EXE, {"--plugin", scratch / "plain", good, out}, scratch);
    expectRefused(notPlugin, 3, s + "plain: cannot load plug-in library *", scratch, inputs);
}

TEST_F(ToolEndToEnd, AnOutputIsReplacedWholeOrNotAtAll) {
    ScratchDir scratch;
    zarvel::test::writePngFile(scratch / "in.png", zarvel::test::squarePicture(40));
    zarvel::test::writeFile(scratch / "out.png", "the previous render");
    // A file-size limit makes the write fail half way through the new picture.
    RunOptions limited;
    limited.fileSizeLimit = 300;
    const RunResult failed = render(scratch, {scratch / "in.png", scratch / "out.png"}, limited);
    expectRefused(failed, 1, (scratch / "out.png") + ": cannot write: File too large", scratch,
                  {"in.png", "out.png"});
    EXPECT_EQ(readFile(scratch / "out.png"), "the previous render");

    // Once it can be written, the new file replaces the old one as a whole: a second name
    // for the old file keeps the old contents.
    ASSERT_EQ(::link((scratch / "out.png").c_str(), (scratch / "old.png").c_str()), 0);
    ASSERT_EQ(render(scratch, {scratch / "in.png", scratch / "out.png"}).exitCode, 0);
    EXPECT_EQ(readFile(scratch / "old.png"), "the previous render");
    EXPECT_EQ(ZarvelTool::readPng(scratch / "out.png").width, 40 + 120);
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"in.png", "old.png", "out.png"}));
}

TEST_F(ToolEndToEnd, ABatchReportsTheCorruptFrameAndRendersTheOthers) {
    ScratchDir scratch;
    ::mkdir((scratch / "in").c_str(), 0777);
    for (int frame = 1; frame <= 4; ++frame) {
        zarvel::test::writePngFile(scratch / ("in/f000" + std::to_string(frame) + ".png"),
                                   zarvel::test::squarePicture(8 + frame));
    }
    const std::string bytes = readFile(scratch / "in/f0003.png");
    zarvel::test::writeFile(scratch / "in/f0003.png", bytes.substr(0, bytes.size() - 30));

    const RunResult run =
        render(scratch, {"--width", "3", scratch / "in/f%04d.png", scratch / "out/g%d.png"});
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_EQ(run.errLines().size(), 1u) << run.err;
    EXPECT_EQ(run.errLines()[0], "zarvel-render: " + (scratch / "in/f0003.png") +
                                     ": truncated PNG: the file ends before the image does");
    EXPECT_TRUE(
        zarvel::test::globMatch(run.out, "Rendered 3 of 4 frames in * s (* frames/s); 1 failed\n"))
        << run.out;
    const auto filesIn = [](const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_EQ(filesIn(scratch / "out"), (std::vector<std::string>{"g1.png", "g2.png", "g4.png"}));
    EXPECT_EQ(ZarvelTool::readPng(scratch / "out/g4.png").width, 12 + 24);

    // With -o each frame keeps its name.
    const RunResult folder = render(scratch, {"-o", scratch / "o2", scratch / "in/f%04d.png"});
    EXPECT_EQ(folder.exitCode, 1);
    EXPECT_EQ(folder.errLines().size(), 1u);
    EXPECT_EQ(filesIn(scratch / "o2"),
              (std::vector<std::string>{"f0001.png", "f0002.png", "f0004.png"}));
}

TEST_F(ToolEndToEnd, ABatchDrawsAProgressBarOnlyOnATerminal) {
    ScratchDir scratch;
    for (const char* name : {"a.png", "b.png", "c.png"}) {
        zarvel::test::writePngFile(scratch / name, zarvel::test::squarePicture(10));
    }
    const std::vector<std::string> arguments = {"-o", scratch / "out", scratch / "a.png",
                                                scratch / "b.png", scratch / "c.png"};
    RunOptions terminal;
    terminal.stderrIsTerminal = true;
    const RunResult drawn = render(scratch, arguments, terminal);
    EXPECT_EQ(drawn.exitCode, 0);
    // Long names are cut from the left to fit the line.
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

TEST_F(ToolEndToEnd, AnOutputFolderNeverOverwritesAnInput) {
    ScratchDir scratch;
    zarvel::test::writePngFile(scratch / "a.png", zarvel::test::squarePicture(10));
    zarvel::test::writePngFile(scratch / "b.png", zarvel::test::squarePicture(10));
    const std::string before = readFile(scratch / "a.png");
    const RunResult run =
        render(scratch, {"-o", scratch.path().string(), scratch / "a.png", scratch / "b.png"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errLines().size(), 2u) << run.err;
    EXPECT_EQ(readFile(scratch / "a.png"), before);
    EXPECT_NE(run.out.find("Rendered 0 of 2 frames"), std::string::npos) << run.out;
}

TEST_F(ToolEndToEnd, ThePluginIsFoundThroughOfxPluginPath) {
    ScratchDir scratch;
    zarvel::test::writePngFile(scratch / "in.png", zarvel::test::squarePicture(10));
    // A plug-in folder holding a bundle whose library is the one built here.
    const std::string bundle = scratch / "plugins/Zarvel.ofx.bundle/Contents/Linux-x86-64";
    std::filesystem::create_directories(bundle);
    std::filesystem::create_symlink(ZARVEL_TEST_PLUGIN, bundle + "/Zarvel.ofx");
    RunOptions options;
    options.environment["OFX_PLUGIN_PATH"] = "/nonexistent:" + (scratch / "plugins");
    const RunResult run = zarvel::test::runProgram(
        ZARVEL_RENDER_EXE, {scratch / "in.png", scratch / "out.png"}, scratch, options);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    // A bundle folder given to --plugin works too.
    const RunResult bundleOption = zarvel::test::runProgram(
        ZARVEL_RENDER_EXE,
        {"--plugin", scratch / "plugins/Zarvel.ofx.bundle", scratch / "in.png", scratch / "o2.png"},
        scratch);
    EXPECT_EQ(bundleOption.exitCode, 0) << bundleOption.err;
    EXPECT_EQ(readFile(scratch / "out.png"), readFile(scratch / "o2.png"));
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
