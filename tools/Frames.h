// Which files a run of zarvel-render reads and writes: one input and one output, several inputs
// into an output folder, or the frames of a pattern (printf-style, or # and @ padding).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace ZarvelTool {

/// One frame: the file to read and the file to write.
struct Job {
    std::string input;
    std::string output;
    /// A frame --frames asks for whose input does not exist: reported, not rendered.
    bool missing = false;
    /// The frame number, for a frame of a pattern.
    std::optional<long> frame;
};

struct Plan {
    std::vector<Job> jobs;
    /// Several frames were asked for (-o or a pattern): each failure is reported and the others
    /// still render, and a summary line ends the run.
    bool batch = false;
    /// The folder a batch writes into (-o, or the output pattern's folder), to create before
    /// rendering; empty for none.
    std::string outputFolder;
};

/// A file name with one frame number in the file-name part of a path: printf-style %d, %Nd or
/// %0Nd (N from 1 to 9; "%%" stands for one "%"), or a run of '#' or '@', one per digit, zero
/// padded ("####" and "@@@@" are "%04d").
class FramePattern {
public:
    /// The pattern in `path`, or nothing when `path` has no frame number (it is then a plain
    /// file name, "%" included). Throws ToolError(path, reason, exitUsage) for two frame
    /// numbers, or one in the folder part.
    static std::optional<FramePattern> parse(const std::string& path);

    /// The path of frame `frame` (frame >= 0).
    std::string format(long frame) const;
    /// The frame number when `fileName` (no folder) is a name this pattern formats, padding
    /// included.
    std::optional<long> match(const std::string& fileName) const;
    /// The files that exist in the pattern's folder and match, as (frame, path), in frame
    /// order. Throws ToolError(pattern, reason) when the folder cannot be read.
    std::vector<std::pair<long, std::string>> existingFrames() const;

    /// The folder part, with its trailing '/', or empty for the current folder.
    const std::string& folder() const { return folder_; }

private:
    std::string text_;
    std::string folder_;
    std::string prefix_;
    std::string suffix_;
    int width_ = 0;
    bool zeroPad_ = false;
};

/// The file-name part of `path` (after the last '/').
std::string baseName(const std::string& path);

/// `folder` and `name` joined by one '/'.
std::string joinPath(const std::string& folder, const std::string& name);

/// The frames of a --frames list: "1001-1100", "1-100x5" (every fifth), "7", several separated
/// by commas; in the order given, each once. Frames are 0 to 999999999. Throws
/// ToolError(option, reason, exitUsage) for anything else, or a range that ends before it
/// starts.
std::vector<long> parseFrameList(const std::string& option, const std::string& text);

/// The jobs of a command line's file arguments:
///  - no output folder: exactly INPUT OUTPUT, or INPUT_PATTERN OUTPUT_PATTERN (the frames of the
///    input pattern to the same frames of the output pattern);
///  - an output folder: every argument is an input file or pattern, written into the folder
///    under its own file name.
/// The frames of a pattern are every existing file that matches, in frame order, or with
/// `frames` those frames, the ones without a file marked missing. An input that names an
/// existing file is never a pattern. Throws ToolError(..., exitUsage) for a wrong number of
/// files, an input pattern with a plain output, `frames` without an input pattern, or two inputs
/// that would write the same output; ToolError(pattern, ...) with exitFrameFailed when a
/// pattern without `frames` matches no file.
Plan planJobs(const std::vector<std::string>& paths, const std::optional<std::string>& outputDir,
              const std::optional<std::vector<long>>& frames = std::nullopt);

}  // namespace ZarvelTool
