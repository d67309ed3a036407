// Writing through a temporary file: a complete new file or the old one, never a mixture, and no
// temporary file left behind.
#include "tools/SafeFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "tests/tools/ToolTestSupport.h"
#include "tools/ToolError.h"

namespace {

using zarvel::test::readFile;
using zarvel::test::ScratchDir;
using zarvel::test::writeFile;
using ZarvelTool::ToolError;

void writeText(std::FILE* file, const std::string& text) {
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
}

TEST(ToolSafeFile, ReplacesTheFileAsAWholeWithTheUsualPermissions) {
    ScratchDir scratch;
    const std::string path = scratch / "out.png";
    writeFile(path, "old contents");
    // Another name for the old file: an in-place write would change it too.
    ASSERT_EQ(::link(path.c_str(), (scratch / "other-name").c_str()), 0);

    ZarvelTool::writeFileReplacing(path, [](std::FILE* file) { writeText(file, "new"); });

    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(readFile(scratch / "other-name"), "old contents");
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"other-name", "out.png"}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST(ToolSafeFile, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    ScratchDir scratch;
    const std::string path = scratch / "out.png";
    writeFile(path, "old contents");
    EXPECT_THROW(ZarvelTool::writeFileReplacing(path,
                                                [](std::FILE* file) {
                                                    writeText(file, "half of it");
                                                    throw std::runtime_error("disk on fire");
                                                }),
                 std::runtime_error);
    EXPECT_EQ(readFile(path), "old contents");
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"out.png"}));

    // Nothing at all when there was no old file.
    const std::string fresh = scratch / "fresh.png";
    EXPECT_THROW(ZarvelTool::writeFileReplacing(
                     fresh, [](std::FILE*) { throw ToolError("x", "cannot write: No space"); }),
                 ToolError);
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"out.png"}));
}

TEST(ToolSafeFile, FoldersThatCannotTakeTheFileAreNamed) {
    ScratchDir scratch;
    writeFile(scratch / "plain", "a file, not a folder");
    const auto failure = [](const std::string& path) -> std::string {
        try {
            ZarvelTool::writeFileReplacing(path, [](std::FILE*) {});
        } catch (const ToolError& error) {
            EXPECT_EQ(error.subject(), path);
            return error.reason();
        }
        return "";
    };
    EXPECT_EQ(failure(scratch / "missing/out.png"),
              "cannot create the file: No such file or directory");
    EXPECT_EQ(failure(scratch / "plain/out.png"), "cannot create the file: Not a directory");
    EXPECT_EQ(failure(scratch.path().string()), "is a directory");
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"plain"}));
}

TEST(ToolSafeFile, SameFileMeansTheSameInodeUnderAnyName) {
    ScratchDir scratch;
    const std::string path = scratch / "a.png";
    writeFile(path, "x");
    writeFile(scratch / "b.png", "x");
    ASSERT_EQ(::symlink("a.png", (scratch / "link.png").c_str()), 0);
    EXPECT_TRUE(ZarvelTool::isSameFile(path, scratch / "link.png"));
    const auto roundabout = scratch.path() / "." / ".." / scratch.path().filename() / "a.png";
    EXPECT_TRUE(ZarvelTool::isSameFile(path, roundabout.string()));
    EXPECT_FALSE(ZarvelTool::isSameFile(path, scratch / "b.png"));
    EXPECT_FALSE(ZarvelTool::isSameFile(path, scratch / "absent.png"));
}

TEST(ToolSafeFile, MakeDirectoriesCreatesEveryMissingLevel) {
    ScratchDir scratch;
    const std::string deep = scratch / "a/b/c/";
    ZarvelTool::makeDirectories(deep);
    EXPECT_TRUE(ZarvelTool::isDirectory(scratch / "a/b/c"));
    ZarvelTool::makeDirectories(deep);  // already there
    writeFile(scratch / "file", "x");
    EXPECT_THROW(ZarvelTool::makeDirectories(scratch / "file/sub"), ToolError);
}

}  // namespace
