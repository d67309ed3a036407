#include "tools/Frames.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "tools/ToolError.h"

namespace ZarvelTool {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Replaces "%%" by "%".
std::string unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
        }
    }
    return out;
}

}  // namespace

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    if (folder.empty()) {
        return name;
    }
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

std::optional<FramePattern> FramePattern::parse(const std::string& path) {
    // Find every directive: '%', an optional '0', up to 9 width digits, 'd'.
    std::size_t found = std::string::npos;
    std::size_t foundEnd = 0;
    FramePattern pattern;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] != '%') {
            continue;
        }
        if (i + 1 < path.size() && path[i + 1] == '%') {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        bool zero = false;
        if (j < path.size() && path[j] == '0') {
            zero = true;
            ++j;
        }
        const std::size_t digitsStart = j;
        while (j < path.size() && isDigit(path[j]) && j - digitsStart < 9) {
            ++j;
        }
        if (j >= path.size() || path[j] != 'd') {
            continue;  // a plain '%' in a name
        }
        if (found != std::string::npos) {
            throw ToolError(path, "a frame pattern takes one frame number (%d, %4d or %04d)",
                            exitUsage);
        }
        found = i;
        foundEnd = j + 1;
        pattern.zeroPad_ = zero;
        pattern.width_ = j > digitsStart ? std::stoi(path.substr(digitsStart, j - digitsStart)) : 0;
    }
    if (found == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > found) {
        throw ToolError(path, "the frame number must be in the file name, not in a folder",
                        exitUsage);
    }
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    pattern.text_ = path;
    pattern.folder_ = unescape(path.substr(0, nameStart));
    pattern.prefix_ = unescape(path.substr(nameStart, found - nameStart));
    pattern.suffix_ = unescape(path.substr(foundEnd));
    return pattern;
}

std::string FramePattern::format(long frame) const {
    std::string number = std::to_string(frame);
    if (static_cast<int>(number.size()) < width_) {
        number.insert(0, width_ - number.size(), zeroPad_ ? '0' : ' ');
    }
    return folder_ + prefix_ + number + suffix_;
}

std::optional<long> FramePattern::match(const std::string& fileName) const {
    if (fileName.size() <= prefix_.size() + suffix_.size() ||
        fileName.compare(0, prefix_.size(), prefix_) != 0 ||
        fileName.compare(fileName.size() - suffix_.size(), suffix_.size(), suffix_) != 0) {
        return std::nullopt;
    }
    std::string middle =
        fileName.substr(prefix_.size(), fileName.size() - prefix_.size() - suffix_.size());
    const std::size_t firstDigit = zeroPad_ ? 0 : middle.find_first_not_of(' ');
    if (firstDigit == std::string::npos || middle.size() - firstDigit > 9 ||
        !std::all_of(middle.begin() + firstDigit, middle.end(), isDigit)) {
        return std::nullopt;
    }
    const long frame = std::stol(middle.substr(firstDigit));
    // The name must be exactly what the pattern makes of that number ("7" is not "%04d").
    if (format(frame) != folder_ + fileName) {
        return std::nullopt;
    }
    return frame;
}

std::vector<std::pair<long, std::string>> FramePattern::existingFrames() const {
    const std::string folder = folder_.empty() ? "." : folder_;
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        throw ToolError(text_, "cannot read the folder " + folder + ": " + std::strerror(errno));
    }
    std::vector<std::pair<long, std::string>> frames;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (const std::optional<long> frame = match(entry->d_name)) {
            frames.emplace_back(*frame, folder_ + entry->d_name);
        }
    }
    std::sort(frames.begin(), frames.end());
    return frames;
}

Plan planJobs(const std::vector<std::string>& paths, const std::optional<std::string>& outputDir) {
    Plan plan;
    if (paths.empty()) {
        throw ToolError("usage", "no input file given (see --help)", exitUsage);
    }
    auto framesOf = [](const FramePattern& pattern, const std::string& text) {
        auto frames = pattern.existingFrames();
        if (frames.empty()) {
            throw ToolError(text, "no file matches this frame pattern");
        }
        return frames;
    };

    if (outputDir) {
        plan.batch = true;
        plan.outputFolder = *outputDir;
        for (const std::string& path : paths) {
            if (const std::optional<FramePattern> pattern = FramePattern::parse(path)) {
                for (const auto& [frame, input] : framesOf(*pattern, path)) {
                    plan.jobs.push_back({input, joinPath(*outputDir, baseName(input))});
                }
            } else {
                plan.jobs.push_back({path, joinPath(*outputDir, baseName(path))});
            }
        }
    } else {
        if (paths.size() != 2) {
            throw ToolError("usage",
                            paths.size() < 2
                                ? "an output file is needed: INPUT.png OUTPUT.png (see --help)"
                                : "several inputs need an output folder: -o OUTDIR INPUT.png... "
                                  "(see --help)",
                            exitUsage);
        }
        const std::optional<FramePattern> input = FramePattern::parse(paths[0]);
        if (input) {
            const std::optional<FramePattern> output = FramePattern::parse(paths[1]);
            if (!output) {
                throw ToolError(paths[1],
                                "the input is a frame pattern, so the output must be one too "
                                "(or use -o OUTDIR)",
                                exitUsage);
            }
            plan.batch = true;
            plan.outputFolder = output->folder();
            for (const auto& [frame, path] : framesOf(*input, paths[0])) {
                plan.jobs.push_back({path, output->format(frame)});
            }
        } else {
            plan.jobs.push_back({paths[0], paths[1]});
        }
    }

    std::map<std::string, const Job*> outputs;
    for (const Job& job : plan.jobs) {
        const auto [where, added] = outputs.emplace(job.output, &job);
        if (!added) {
            throw ToolError(job.output,
                            "would be written twice, from " + where->second->input + " and from " +
                                job.input,
                            exitUsage);
        }
    }
    return plan;
}

}  // namespace ZarvelTool
