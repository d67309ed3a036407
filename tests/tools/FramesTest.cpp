// Which files a command line reads and writes: frame patterns, output folders, and the plans
// that must be refused before anything is rendered.
#include "tools/Frames.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/tools/ToolTestSupport.h"
#include "tools/ToolError.h"

namespace {

using zarvel::test::ScratchDir;
using ZarvelTool::FramePattern;
using ZarvelTool::Job;
using ZarvelTool::Plan;
using ZarvelTool::ToolError;

std::vector<std::string> outputsOf(const Plan& plan) {
    std::vector<std::string> outputs;
    for (const Job& job : plan.jobs) {
        outputs.push_back(job.output);
    }
    return outputs;
}

// The error planJobs raises, as "<subject>: <reason>", with its exit code.
std::pair<std::string, int> planFailure(const std::vector<std::string>& paths,
                                        const std::optional<std::string>& outputDir) {
    try {
        ZarvelTool::planJobs(paths, outputDir);
    } catch (const ToolError& error) {
        return {error.what(), error.exitCode()};
    }
    return {"", 0};
}

TEST(ToolFrames, PatternsFormatAndMatchTheirOwnNamesOnly) {
    const auto padded = FramePattern::parse("in/frame%04d.png");
    ASSERT_TRUE(padded);
    EXPECT_EQ(padded->folder(), "in/");
    EXPECT_EQ(padded->format(7), "in/frame0007.png");
    EXPECT_EQ(padded->format(123456), "in/frame123456.png");
    EXPECT_EQ(padded->match("frame0007.png"), 7);
    EXPECT_EQ(padded->match("frame12345.png"), 12345);
    EXPECT_FALSE(padded->match("frame7.png"));
    EXPECT_FALSE(padded->match("frame00007.png"));
    EXPECT_FALSE(padded->match("frame.png"));
    EXPECT_FALSE(padded->match("frame00a7.png"));
    EXPECT_FALSE(padded->match("frame0007.png.tmp"));

    const auto plain = FramePattern::parse("shot_%d_v2.png");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->folder(), "");
    EXPECT_EQ(plain->format(42), "shot_42_v2.png");
    EXPECT_EQ(plain->match("shot_42_v2.png"), 42);
    EXPECT_FALSE(plain->match("shot_042_v2.png"));

    const auto spaced = FramePattern::parse("f%3d.png");
    ASSERT_TRUE(spaced);
    EXPECT_EQ(spaced->format(5), "f  5.png");
    EXPECT_EQ(spaced->match("f  5.png"), 5);
}

TEST(ToolFrames, HashesAndAtsStandForOneDigitEach) {
    const auto hashes = FramePattern::parse("in/shot.####.exr");
    ASSERT_TRUE(hashes);
    EXPECT_EQ(hashes->format(7), "in/shot.0007.exr");
    EXPECT_EQ(hashes->format(1001), "in/shot.1001.exr");
    EXPECT_EQ(hashes->match("shot.1001.exr"), 1001);
    EXPECT_FALSE(hashes->match("shot.101.exr"));
    const auto ats = FramePattern::parse("f@@@.png");
    ASSERT_TRUE(ats);
    EXPECT_EQ(ats->format(5), "f005.png");
    EXPECT_THROW(FramePattern::parse("a##_%d.png"), ToolError);
    EXPECT_THROW(FramePattern::parse("s##/f.png"), ToolError);
}

TEST(ToolFrames, FrameListsWithRangesAndSteps) {
    using Frames = std::vector<long>;
    EXPECT_EQ(ZarvelTool::parseFrameList("--frames", "1001-1004"),
              (Frames{1001, 1002, 1003, 1004}));
    EXPECT_EQ(ZarvelTool::parseFrameList("--frames", "1-10x4"), (Frames{1, 5, 9}));
    EXPECT_EQ(ZarvelTool::parseFrameList("--frames", "7,3-4,4"), (Frames{7, 3, 4}));
    for (const char* bad : {"", "5-1", "a", "1-", "1x2", "1-5x0", "1,,2", "-3"}) {
        try {
            ZarvelTool::parseFrameList("--frames", bad);
            ADD_FAILURE() << bad;
        } catch (const ToolError& error) {
            EXPECT_EQ(error.exitCode(), ZarvelTool::exitUsage);
            EXPECT_EQ(error.what(), std::string("--frames: '") + bad +
                                        "' is not a frame list (such as 1001-1100, 1-100x5, 7 or "
                                        "1,5,10-20)");
        }
    }
}

TEST(ToolFrames, FramesAskedForAreMarkedMissingAndExistingNamesStayPlain) {
    ScratchDir scratch;
    zarvel::test::writeFile(scratch / "f01.png", "x");
    zarvel::test::writeFile(scratch / "f03.png", "x");
    zarvel::test::writeFile(scratch / "odd##.png", "x");
    const Plan plan = ZarvelTool::planJobs({scratch / "f##.png", "o/g####.png"}, std::nullopt,
                                           std::vector<long>{1, 2, 3});
    ASSERT_EQ(plan.jobs.size(), 3u);
    EXPECT_FALSE(plan.jobs[0].missing);
    EXPECT_TRUE(plan.jobs[1].missing);
    EXPECT_EQ(plan.jobs[1].input, scratch / "f02.png");
    EXPECT_EQ(*plan.jobs[1].frame, 2);
    EXPECT_EQ(plan.jobs[2].output, "o/g0003.png");
    const Plan plain = ZarvelTool::planJobs({scratch / "odd##.png", "out.png"}, std::nullopt);
    EXPECT_FALSE(plain.batch);
    EXPECT_EQ(plain.jobs[0].input, scratch / "odd##.png");
}

TEST(ToolFrames, PercentSignsThatAreNotFrameNumbersStayPlainNames) {
    EXPECT_FALSE(FramePattern::parse("50%off.png"));
    EXPECT_FALSE(FramePattern::parse("100%%.png"));
    const auto escaped = FramePattern::parse("100%%_%02d.png");
    ASSERT_TRUE(escaped);
    EXPECT_EQ(escaped->format(3), "100%_03.png");
}

TEST(ToolFrames, MalformedPatternsAreRefused) {
    EXPECT_THROW(FramePattern::parse("a%d_%d.png"), ToolError);
    EXPECT_THROW(FramePattern::parse("shot%02d/frame.png"), ToolError);
}

TEST(ToolFrames, OneInputAndOneOutput) {
    const Plan plan = ZarvelTool::planJobs({"in.png", "out/x.png"}, std::nullopt);
    ASSERT_EQ(plan.jobs.size(), 1u);
    EXPECT_EQ(plan.jobs[0].input, "in.png");
    EXPECT_EQ(plan.jobs[0].output, "out/x.png");
    EXPECT_FALSE(plan.batch);
}

TEST(ToolFrames, InputsGoIntoTheOutputFolderUnderTheirOwnNames) {
    const Plan plan = ZarvelTool::planJobs({"a/one.png", "two.png"}, std::string("out/"));
    EXPECT_TRUE(plan.batch);
    EXPECT_EQ(outputsOf(plan), (std::vector<std::string>{"out/one.png", "out/two.png"}));
}

TEST(ToolFrames, APatternRendersEveryExistingFrameInOrder) {
    ScratchDir scratch;
    for (const char* name : {"f0010.png", "f0002.png", "f0003.png", "f3.png", "g0004.png"}) {
        zarvel::test::writeFile(scratch / name, "x");
    }
    const std::string in = scratch / "f%04d.png";
    const Plan toPattern = ZarvelTool::planJobs({in, "out/o%d.png"}, std::nullopt);
    EXPECT_TRUE(toPattern.batch);
    ASSERT_EQ(toPattern.jobs.size(), 3u);
    EXPECT_EQ(toPattern.jobs[0].input, scratch / "f0002.png");
    EXPECT_EQ(outputsOf(toPattern),
              (std::vector<std::string>{"out/o2.png", "out/o3.png", "out/o10.png"}));

    const Plan toFolder = ZarvelTool::planJobs({in}, std::string("out"));
    EXPECT_EQ(outputsOf(toFolder),
              (std::vector<std::string>{"out/f0002.png", "out/f0003.png", "out/f0010.png"}));
}

TEST(ToolFrames, PlansThatCannotWorkAreRefusedUpFront) {
    ScratchDir scratch;
    const int usage = ZarvelTool::exitUsage;
    EXPECT_EQ(planFailure({}, std::nullopt),
              std::make_pair(std::string("usage: no input file given (see --help)"), usage));
    EXPECT_EQ(planFailure({"in.png"}, std::nullopt),
              std::make_pair(std::string("usage: an output file is needed: INPUT OUTPUT "
                                         "(see --help)"),
                             usage));
    EXPECT_EQ(planFailure({"a.png", "b.png", "c.png"}, std::nullopt).second, usage);
    EXPECT_EQ(planFailure({"x/a.png", "y/a.png"}, std::string("out")),
              std::make_pair(std::string("out/a.png: would be written twice, from x/a.png and "
                                         "from y/a.png"),
                             usage));

    zarvel::test::writeFile(scratch / "f1.png", "x");
    const std::string in = scratch / "f%d.png";
    EXPECT_EQ(planFailure({in, "out.png"}, std::nullopt),
              std::make_pair(std::string("out.png: the input is a frame pattern, so the output "
                                         "must be one too (or use -o OUTDIR)"),
                             usage));
    const std::string none = scratch / "none%04d.png";
    EXPECT_EQ(planFailure({none, "o%04d.png"}, std::nullopt),
              std::make_pair(none + ": no file matches this frame pattern",
                             static_cast<int>(ZarvelTool::exitFrameFailed)));
}

}  // namespace
