// Helpers for the zarvel-render tests: a scratch folder per test inside the build folder, the
// program run as a child process with its exit code and output, and small pictures written in
// any format through OpenImageIO directly (not through the tool's own writer).
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>

#include "tools/ImageFile.h"

#ifndef ZARVEL_TOOL_SCRATCH
#error "ZARVEL_TOOL_SCRATCH must name a folder inside the build folder"
#endif

namespace zarvel::test {

/// A folder for one test under the build folder's scratch area, emptied at the start and
/// removed at the end when the test passed (kept for a look when it failed).
class ScratchDir {
public:
    ScratchDir() {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        path_ = std::filesystem::path(ZARVEL_TOOL_SCRATCH) /
                (std::string(info->test_suite_name()) + "." + info->name());
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        if (!::testing::Test::HasFailure()) {
            std::error_code ignored;
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    /// `name` inside the folder.
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

    /// The names of the entries in the folder, sorted.
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

/// True when `text` matches `pattern` as a whole, where '*' in the pattern stands for any run of
/// characters (none included) and every other character for itself.
inline bool globMatch(const std::string& text, const std::string& pattern) {
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starAt = std::string::npos;
    std::size_t resumeAt = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = t;
        } else if (p < pattern.size() && pattern[p] == text[t]) {
            ++p;
            ++t;
        } else if (starAt != std::string::npos) {
            p = starAt + 1;
            t = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

/// What a run of a program gave.
struct RunResult {
    /// The exit code, or 128 + the signal number when a signal ended it.
    int exitCode = -1;
    std::string out;
    std::string err;

    /// The lines of `err` (without their newlines).
    std::vector<std::string> errLines() const {
        std::vector<std::string> lines;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

struct RunOptions {
    /// Variables to set (a value) or remove (no value) in the child's environment.
    std::map<std::string, std::optional<std::string>> environment;
    /// RLIMIT_FSIZE for the child, in bytes.
    std::optional<rlim_t> fileSizeLimit;
    /// The child's working folder.
    std::optional<std::string> workingDir;
    /// Standard error is a terminal (a pseudo-terminal whose output is captured) instead of a
    /// file. Keep what the child writes there small: it is read once the child has exited.
    bool stderrIsTerminal = false;
};

/// Runs `program` with `arguments` (argv[0] is added), standard input from /dev/null and the
/// two output streams captured through files in `scratch`; waits for it.
inline RunResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                            const ScratchDir& scratch, const RunOptions& options = {}) {
    const std::string outPath = scratch / ".run-stdout";
    const std::string errPath = scratch / ".run-stderr";
    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argvStrings) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);
    // The environment is built before fork: the child may only make async-signal-safe calls.
    std::map<std::string, std::string> environment;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::size_t equals = text.find('=');
        environment[text.substr(0, equals)] =
            equals == std::string::npos ? "" : text.substr(equals + 1);
    }
    for (const auto& [name, value] : options.environment) {
        if (value) {
            environment[name] = *value;
        } else {
            environment.erase(name);
        }
    }
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : environment) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const char* workingDir = options.workingDir ? options.workingDir->c_str() : nullptr;
    int terminal = -1;
    std::string terminalName;
    if (options.stderrIsTerminal) {
        terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(terminal, 0) << "no pseudo-terminal";
        if (terminal < 0 || ::grantpt(terminal) != 0 || ::unlockpt(terminal) != 0) {
            return {};
        }
        terminalName = ::ptsname(terminal);
    }

    const pid_t pid = ::fork();
    if (pid == 0) {
        const int in = ::open("/dev/null", O_RDONLY);
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = terminal >= 0 ? ::open(terminalName.c_str(), O_RDWR | O_NOCTTY)
                                      : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || ::dup2(in, 0) < 0 || ::dup2(out, 1) < 0 ||
            ::dup2(err, 2) < 0) {
            ::_exit(126);
        }
        if (options.fileSizeLimit) {
            const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (workingDir && ::chdir(workingDir) != 0) {
            ::_exit(126);
        }
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    RunResult result;
    EXPECT_GT(pid, 0) << "fork failed";
    if (pid <= 0) {
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(outPath);
    if (terminal >= 0) {
        // The child has gone: the terminal holds what it wrote, then reports an error.
        char buffer[4096];
        ::fcntl(terminal, F_SETFL, O_NONBLOCK);
        for (ssize_t got; (got = ::read(terminal, buffer, sizeof buffer)) > 0;) {
            result.err.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(terminal);
    } else {
        result.err = readFile(errPath);
    }
    std::filesystem::remove(outPath);
    std::filesystem::remove(errPath);
    return result;
}

// -- Pictures ----------------------------------------------------------------------------------

/// A picture of `width` × `height` with `channels` ("R,G,B,A", "Y", "Y,A" ...; a channel named A
/// is the alpha), zeroed, in straight colour.
inline ZarvelTool::Picture makePicture(int width, int height, const std::string& channels) {
    ZarvelTool::Picture picture;
    picture.width = picture.fullWidth = width;
    picture.height = picture.fullHeight = height;
    std::size_t start = 0;
    while (start <= channels.size()) {
        std::size_t comma = channels.find(',', start);
        if (comma == std::string::npos) {
            comma = channels.size();
        }
        picture.channelNames.push_back(channels.substr(start, comma - start));
        if (picture.channelNames.back() == "A") {
            picture.alphaChannel = picture.channels() - 1;
        }
        start = comma + 1;
    }
    picture.samples.assign(static_cast<std::size_t>(width) * height * picture.channels(), 0.0f);
    return picture;
}

/// Options for writeImage.
struct ImageOptions {
    OIIO::TypeDesc type = OIIO::TypeDesc::UINT8;
    /// oiio:BitsPerSample when not the type's (10 for 10-bit DPX).
    int bits = 0;
    /// Stored as straight (unassociated) alpha; otherwise as premultiplied.
    bool straight = true;
    /// Tiles of this size (0: scanlines).
    int tile = 0;
    std::string compression;
    /// Extra attributes: name and string value.
    std::vector<std::pair<std::string, std::string>> attributes;
    float pixelAspect = 0.0f;
};

inline ImageOptions imageOptions(OIIO::TypeDesc type, bool straight = true) {
    ImageOptions options;
    options.type = type;
    options.straight = straight;
    return options;
}

/// Writes `picture` (its windows, channels and samples as they are) to `path` in the format
/// of its extension, with OpenImageIO itself.
inline void writeImage(const std::string& path, const ZarvelTool::Picture& picture,
                       const ImageOptions& options = {}) {
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out) << path;
    OIIO::ImageSpec header(picture.width, picture.height, picture.channels(), options.type);
    header.x = picture.x;
    header.y = picture.y;
    header.full_x = picture.fullX;
    header.full_y = picture.fullY;
    header.full_width = picture.fullWidth;
    header.full_height = picture.fullHeight;
    header.channelnames.assign(picture.channelNames.begin(), picture.channelNames.end());
    header.alpha_channel = picture.alphaChannel;
    if (options.bits) {
        header.attribute("oiio:BitsPerSample", options.bits);
    }
    if (options.straight && picture.hasAlpha()) {
        header.attribute("oiio:UnassociatedAlpha", 1);
    }
    if (options.tile) {
        header.tile_width = header.tile_height = options.tile;
    }
    if (!options.compression.empty()) {
        header.attribute("compression", options.compression);
    }
    for (const auto& [name, value] : options.attributes) {
        header.attribute(name, value);
    }
    if (options.pixelAspect > 0.0f) {
        header.attribute("PixelAspectRatio", options.pixelAspect);
    }
    ASSERT_TRUE(out->open(path, header)) << out->geterror();
    ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, picture.samples.data())) << out->geterror();
    ASSERT_TRUE(out->close());
}

/// The file at `path` as the tool reads it (what the file says about alpha).
inline ZarvelTool::Picture readImage(const std::string& path) {
    return ZarvelTool::readPicture(path, {});
}

/// A small RGBA picture: an opaque square with a half-transparent rim on a clear background,
/// `size` pixels a side (at least 8), colours that vary across it, on a grid of `steps` levels
/// (255 for 8-bit files, 65535 for 16-bit ones).
inline ZarvelTool::Picture squarePicture(int size, int steps = 255) {
    ZarvelTool::Picture picture = makePicture(size, size, "R,G,B,A");
    const int low = size / 4;
    const int high = size - size / 4;
    const auto level = [&](int numerator, int denominator) {
        return static_cast<float>(steps * numerator / denominator) / static_cast<float>(steps);
    };
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const bool core = x > low && x < high - 1 && y > low && y < high - 1;
            const bool rim = x >= low && x < high && y >= low && y < high;
            picture.at(x, y, 0) = level(x, size - 1);
            picture.at(x, y, 1) = level(y, size - 1);
            picture.at(x, y, 2) = level(1, 3);
            picture.at(x, y, 3) = core ? 1.0f : rim ? level(2, 5) : 0.0f;
        }
    }
    return picture;
}

}  // namespace zarvel::test
