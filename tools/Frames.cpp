#include "tools/Frames.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>

#include "tools/ToolError.h"

namespace ZarvelTool {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
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
    // Find every directive: '%', an optional '0', up to 9 width digits, 'd'; or a run of '#' or
    // '@'.
    std::size_t found = std::string::npos;
    std::size_t foundEnd = 0;
    FramePattern pattern;
    const auto take = [&](std::size_t start, std::size_t end, int width, bool zero) {
        if (found != std::string::npos) {
            throw ToolError(path, "a frame pattern takes one frame number (%04d, #### or @@@@)",
                            exitUsage);
        }
        found = start;
        foundEnd = end;
        pattern.width_ = width;
        pattern.zeroPad_ = zero;
    };
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '#' || path[i] == '@') {
            std::size_t j = i;
            while (j < path.size() && path[j] == path[i] && j - i < 9) {
                ++j;
            }
            take(i, j, static_cast<int>(j - i), true);
            i = j - 1;
            continue;
        }
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
        take(i, j + 1, j > digitsStart ? std::stoi(path.substr(digitsStart, j - digitsStart)) : 0,
             zero);
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

std::vector<long> parseFrameList(const std::string& option, const std::string& text) {
    const std::string expected = "'" + text +
                                 "' is not a frame list (such as 1001-1100, 1-100x5, 7 or "
                                 "1,5,10-20)";
    const auto number = [&](const std::string& part) {
        if (part.empty() || part.size() > 9 || !std::all_of(part.begin(), part.end(), isDigit)) {
            throw ToolError(option, expected, exitUsage);
        }
        return std::stol(part);
    };
    std::vector<long> frames;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t comma = text.find(',', start);
        if (comma == std::string::npos) {
            comma = text.size();
        }
        std::string part = text.substr(start, comma - start);
        long step = 1;
        const std::size_t x = part.find('x');
        if (x != std::string::npos) {
            step = number(part.substr(x + 1));
            part.resize(x);
            if (step < 1) {
                throw ToolError(option, expected, exitUsage);
            }
        }
        const std::size_t dash = part.find('-');
        const long first = number(part.substr(0, dash));
        const long last = dash == std::string::npos ? first : number(part.substr(dash + 1));
        if (last < first || (dash == std::string::npos && x != std::string::npos)) {
            throw ToolError(option, expected, exitUsage);
        }
        for (long frame = first; frame <= last; frame += step) {
            if (std::find(frames.begin(), frames.end(), frame) == frames.end()) {
                frames.push_back(frame);
            }
            if (frames.size() > 1000000) {
                throw ToolError(option, "'" + text + "' names more than a million frames",
                                exitUsage);
            }
        }
        start = comma + 1;
    }
    return frames;
}

Plan planJobs(const std::vector<std::string>& paths, const std::optional<std::string>& outputDir,
              const std::optional<std::vector<long>>& frames) {
    Plan plan;
    if (paths.empty()) {
        throw ToolError("usage", "no input file given (see --help)", exitUsage);
    }
    bool patterns = false;
    // An existing file keeps its name, '#', '@' and '%' included.
    const auto inputPattern = [&](const std::string& path) -> std::optional<FramePattern> {
        if (isFile(path)) {
            return std::nullopt;
        }
        std::optional<FramePattern> pattern = FramePattern::parse(path);
        patterns = patterns || pattern.has_value();
        return pattern;
    };
    // (frame, input path, missing)
    const auto framesOf = [&](const FramePattern& pattern, const std::string& text) {
        std::vector<std::tuple<long, std::string, bool>> list;
        if (frames) {
            for (long frame : *frames) {
                const std::string path = pattern.format(frame);
                list.emplace_back(frame, path, !isFile(path));
            }
            return list;
        }
        for (const auto& [frame, path] : pattern.existingFrames()) {
            list.emplace_back(frame, path, false);
        }
        if (list.empty()) {
            throw ToolError(text, "no file matches this frame pattern");
        }
        return list;
    };

    if (outputDir) {
        plan.batch = true;
        plan.outputFolder = *outputDir;
        for (const std::string& path : paths) {
            if (const std::optional<FramePattern> pattern = inputPattern(path)) {
                for (const auto& [frame, input, missing] : framesOf(*pattern, path)) {
                    plan.jobs.push_back(
                        {input, joinPath(*outputDir, baseName(input)), missing, frame});
                }
            } else {
                plan.jobs.push_back(
                    {path, joinPath(*outputDir, baseName(path)), false, std::nullopt});
            }
        }
    } else {
        if (paths.size() != 2) {
            throw ToolError("usage",
                            paths.size() < 2
                                ? "an output file is needed: INPUT OUTPUT (see --help)"
                                : "several inputs need an output folder: -o OUTDIR INPUT... "
                                  "(see --help)",
                            exitUsage);
        }
        const std::optional<FramePattern> input = inputPattern(paths[0]);
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
            for (const auto& [frame, path, missing] : framesOf(*input, paths[0])) {
                plan.jobs.push_back({path, output->format(frame), missing, frame});
            }
        } else {
            plan.jobs.push_back({paths[0], paths[1], false, std::nullopt});
        }
    }
    if (frames && !patterns) {
        throw ToolError("--frames", "needs an input with a frame pattern (%04d, #### or @@@@)",
                        exitUsage);
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
