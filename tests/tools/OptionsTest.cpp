// The command line: accepted spellings, and the exact one-line complaint for each bad value.
#include "tools/Options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/ToolError.h"

namespace {

using ZarvelHost::PixelDepth;
using ZarvelTool::Options;
using ZarvelTool::ToolError;

Options parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "zarvel-render");
    return ZarvelTool::parseOptions(static_cast<int>(arguments.size()), arguments.data());
}

// The complaint as printed after "zarvel-render: ", or "" when the line parses.
std::string complaint(std::vector<const char*> arguments) {
    try {
        parse(std::move(arguments));
    } catch (const ToolError& error) {
        EXPECT_EQ(error.exitCode(), ZarvelTool::exitUsage);
        return error.what();
    }
    return "";
}

TEST(ToolOptions, NothingGivenKeepsTheEffectsDefaults) {
    const Options options = parse({"in.png", "out.png"});
    EXPECT_EQ(options.paths, (std::vector<std::string>{"in.png", "out.png"}));
    const ZarvelTool::RenderSettings& settings = options.settings;
    EXPECT_FALSE(settings.width);
    EXPECT_FALSE(settings.color);
    EXPECT_FALSE(settings.quality);
    EXPECT_FALSE(settings.depth);
    EXPECT_FALSE(settings.tile);
    EXPECT_FALSE(settings.alphaOnly);
    EXPECT_FALSE(settings.keepSize);
    EXPECT_FALSE(settings.pixels);
    EXPECT_FALSE(settings.outputType);
    EXPECT_EQ(settings.threads, 0u);
    EXPECT_FALSE(options.outputDir);
    EXPECT_FALSE(options.frames);
    EXPECT_FALSE(options.read.alpha);
    EXPECT_TRUE(options.read.channels.empty());
    EXPECT_FALSE(options.verbose);
}

TEST(ToolOptions, EveryOptionInBothSpellings) {
    const Options options = parse({"--width",
                                   "2.5",
                                   "a.png",
                                   "--color=0,0.5,1",
                                   "--quality",
                                   "draft",
                                   "--depth=float",
                                   "--alpha-only",
                                   "--threads",
                                   "3",
                                   "--tile=16x8",
                                   "--keep-size",
                                   "-o",
                                   "out",
                                   "--plugin=/x/Zarvel.ofx",
                                   "b.png",
                                   "--output-type=half",
                                   "--alpha",
                                   "straight",
                                   "--channels",
                                   "Y,A",
                                   "--frames",
                                   "1-9x2",
                                   "-v",
                                   "--width",
                                   "3",
                                   "--",
                                   "--c.png"});
    EXPECT_EQ(options.paths, (std::vector<std::string>{"a.png", "b.png", "--c.png"}));
    EXPECT_EQ(*options.settings.width, 3.0);  // the last one given
    EXPECT_EQ(*options.settings.outputType, OIIO::TypeDesc::HALF);
    EXPECT_EQ(*options.read.alpha, ZarvelTool::Alpha::Straight);
    EXPECT_EQ(options.read.channels, (std::vector<std::string>{"Y", "A"}));
    EXPECT_EQ(*options.frames, "1-9x2");
    EXPECT_TRUE(options.verbose);
    EXPECT_EQ(*options.settings.color, (std::array<double, 4>{0.0, 0.5, 1.0, 1.0}));
    EXPECT_EQ(*options.settings.quality, 0);
    EXPECT_EQ(*options.settings.depth, PixelDepth::Float);
    EXPECT_TRUE(options.settings.alphaOnly);
    EXPECT_EQ(options.settings.threads, 3u);
    EXPECT_EQ(options.settings.tile->width, 16);
    EXPECT_EQ(options.settings.tile->height, 8);
    EXPECT_TRUE(options.settings.keepSize);
    EXPECT_EQ(*options.outputDir, "out");
    EXPECT_EQ(*options.plugin, "/x/Zarvel.ofx");
}

TEST(ToolOptions, ColoursInHexadecimalAndAsNumbers) {
    using Color = std::array<double, 4>;
    EXPECT_EQ(ZarvelTool::parseColor("--color", "#ff8000"), (Color{1.0, 128 / 255.0, 0.0, 1.0}));
    EXPECT_EQ(ZarvelTool::parseColor("--color", "#FF800040"),
              (Color{1.0, 128 / 255.0, 0.0, 64 / 255.0}));
    EXPECT_EQ(ZarvelTool::parseColor("--color", "1,0.5,0"), (Color{1.0, 0.5, 0.0, 1.0}));
    EXPECT_EQ(ZarvelTool::parseColor("--color", "0,0,0,0.25"), (Color{0.0, 0.0, 0.0, 0.25}));
}

TEST(ToolOptions, QualityAndDepthNames) {
    EXPECT_EQ(ZarvelTool::parseQuality("--quality", "good"), 1);
    EXPECT_EQ(ZarvelTool::parseQuality("--quality", "best"), 2);
    EXPECT_EQ(ZarvelTool::parseDepth("--depth", "byte"), PixelDepth::Byte);
    EXPECT_EQ(ZarvelTool::parseDepth("--depth", "short"), PixelDepth::Short);
    EXPECT_EQ(ZarvelTool::parseOutputType("--output-type", "uint16"), OIIO::TypeDesc::UINT16);
    EXPECT_EQ(ZarvelTool::parseAlpha("--alpha", "premultiplied"), ZarvelTool::Alpha::Premultiplied);
    EXPECT_FALSE(ZarvelTool::parseAlpha("--alpha", "auto"));
    EXPECT_EQ(parse({"--pixels", "2.5"}).settings.pixels, 2.5);
}

TEST(ToolOptions, BadValuesAreNamedWithWhatWasExpected) {
    EXPECT_EQ(complaint({"--width", "abc"}), "--width: 'abc' is not a number");
    EXPECT_EQ(complaint({"--width=15px"}), "--width: '15px' is not a number");
    EXPECT_EQ(complaint({"--width", "nan"}), "--width: 'nan' is not a number");
    EXPECT_EQ(complaint({"--width", ""}), "--width: '' is not a number");
    EXPECT_EQ(complaint({"--color", "2,0,0"}), "--color: '2,0,0': red 2 is out of range (0 to 1)");
    EXPECT_EQ(complaint({"--color", "0,0,-0.1"}),
              "--color: '0,0,-0.1': blue -0.1 is out of range (0 to 1)");
    const std::string notAColour = "is not a colour (R,G,B with numbers from 0 to 1, or #RRGGBB)";
    EXPECT_EQ(complaint({"--color", "#ggg000"}), "--color: '#ggg000' " + notAColour);
    EXPECT_EQ(complaint({"--color", "#fff"}), "--color: '#fff' " + notAColour);
    EXPECT_EQ(complaint({"--color", "1,1"}), "--color: '1,1' " + notAColour);
    EXPECT_EQ(complaint({"--color", "1,,1"}), "--color: '1,,1' " + notAColour);
    EXPECT_EQ(complaint({"--quality", "ultra"}),
              "--quality: 'ultra' is not one of draft, good, best");
    EXPECT_EQ(complaint({"--depth", "half"}), "--depth: 'half' is not one of byte, short, float");
    EXPECT_EQ(complaint({"--threads", "0"}),
              "--threads: '0' is not a whole number of threads from 1 to 1024");
    EXPECT_EQ(complaint({"--threads", "2.5"}),
              "--threads: '2.5' is not a whole number of threads from 1 to 1024");
    const std::string notATile = "is not a tile size WxH (whole numbers from 1 to 32768)";
    EXPECT_EQ(complaint({"--tile", "0x5"}), "--tile: '0x5' " + notATile);
    EXPECT_EQ(complaint({"--tile", "64"}), "--tile: '64' " + notATile);
    EXPECT_EQ(complaint({"--tile", "64x-1"}), "--tile: '64x-1' " + notATile);
    EXPECT_EQ(complaint({"--pixels", "0"}), "--pixels: '0' is not a width above 0 pixels");
    EXPECT_EQ(complaint({"--pixels", "2", "--width", "3"}),
              "--pixels: give either --width or --pixels, not both");
    const std::string notChannels = "is not one to four channel names separated by commas";
    EXPECT_EQ(complaint({"--channels", "R,,B"}), "--channels: 'R,,B' " + notChannels);
    EXPECT_EQ(complaint({"--channels", "R,G,B,A,Z"}), "--channels: 'R,G,B,A,Z' " + notChannels);
}

TEST(ToolOptions, UnknownOptionsAndMissingValues) {
    EXPECT_EQ(complaint({"--frobnicate"}), "--frobnicate: unknown option (see --help)");
    EXPECT_EQ(complaint({"--frobnicate=3", "a.png"}), "--frobnicate: unknown option (see --help)");
    EXPECT_EQ(complaint({"-x"}), "-x: unknown option (see --help)");
    EXPECT_EQ(complaint({"--width"}), "--width: needs a value");
    EXPECT_EQ(complaint({"a.png", "-o"}), "--output-dir: needs a value");
    EXPECT_EQ(complaint({"-o", ""}), "-o: needs a folder");
}

TEST(ToolOptions, TheManualMentionsEveryOptionAndExitCode) {
    const std::string help = ZarvelTool::helpText("  (search order)\n");
    for (const char* word :
         {"--width",       "--pixels",    "--color",    "--quality",      "--depth",
          "--output-type", "--alpha ",    "--channels", "--alpha-only",   "--threads",
          "--tile",        "--keep-size", "--plugin",   "--output-dir",   "--frames",
          "--verbose",     "--help",      "--version",  "(search order)", "Exit status",
          "  3  ",         "Alpha:",      "Sequences:"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
    }
}

}  // namespace
