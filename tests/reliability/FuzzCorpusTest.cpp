// The fuzz target's corpus, replayed with this build's compiler and sanitizers: every seed, and
// every input that once broke something (fuzz/corpus/regressions), must pass every check of the
// hostile host (see fuzz/HostFromBytes.h).
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/HostFromBytes.h"
#include "tests/support/CaptureStdout.h"

namespace zarvel::reliability {
namespace {

std::vector<std::filesystem::path> corpusFiles(const std::string& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(ZARVEL_FUZZ_CORPUS) / folder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

void replay(const std::string& folder) {
    const auto files = corpusFiles(folder);
    ASSERT_FALSE(files.empty()) << "no inputs in " << folder;
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                              std::istreambuf_iterator<char>());
        zarvel::test::CaptureStdout quiet;
        EXPECT_EQ(zarvel::fuzz::runHostFromBytes(bytes.data(), bytes.size()), "")
            << file.filename().string();
    }
}

TEST(FuzzCorpus, EverySeedPassesTheHostileHostsChecks) {
    replay("seeds");
}

TEST(FuzzCorpus, EveryInputThatOnceBrokeSomethingNowPasses) {
    replay("regressions");
}

}  // namespace
}  // namespace zarvel::reliability
