// zarvel-render: renders image files through the Zarvel plug-in. See --help (Options.cpp) for
// the manual.
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "tools/Frames.h"
#include "tools/ImageFile.h"
#include "tools/Options.h"
#include "tools/Render.h"
#include "tools/SafeFile.h"
#include "tools/ToolError.h"

namespace {

using namespace ZarvelTool;

// One line on standard error, whatever the reason holds.
void report(const std::string& subject, const std::string& reason) {
    std::string line = "zarvel-render: " + subject + ": " + reason;
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

void report(const ToolError& error) {
    report(error.subject(), error.reason());
}

// A one-line progress bar redrawn in place on standard error; silent when it is not a terminal.
class Progress {
public:
    Progress(std::size_t total, bool enabled)
        : total_(total)
        , enabled_(enabled) {}

    void show(std::size_t done, const std::string& name) {
        if (!enabled_) {
            return;
        }
        winsize size{};
        const int columns =
            ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        const int barWidth = std::clamp(columns / 3, 10, 30);
        const int filled = total_ == 0 ? barWidth : static_cast<int>(done * barWidth / total_);
        std::string line = "\r[" + std::string(filled, '#') + std::string(barWidth - filled, ' ') +
                           "] " + std::to_string(done) + "/" + std::to_string(total_) + " ";
        const int room = columns - 1 - static_cast<int>(line.size() - 1);
        if (room > 3) {
            line += static_cast<int>(name.size()) <= room
                        ? name
                        : "..." + name.substr(name.size() - room + 3);
        }
        std::fprintf(stderr, "%s\033[K", line.c_str());
        std::fflush(stderr);
    }

    void clear() {
        if (enabled_) {
            std::fprintf(stderr, "\r\033[K");
            std::fflush(stderr);
        }
    }

private:
    std::size_t total_;
    bool enabled_;
};

std::string depthName(ZarvelHost::PixelDepth depth) {
    switch (depth) {
    case ZarvelHost::PixelDepth::Byte:
        return "byte";
    case ZarvelHost::PixelDepth::Short:
        return "short";
    case ZarvelHost::PixelDepth::Float:
        return "float";
    }
    return "?";
}

std::string describe(const Picture& picture) {
    std::string text = std::to_string(picture.width) + "x" + std::to_string(picture.height);
    if (picture.x != 0 || picture.y != 0 || picture.fullWidth != picture.width ||
        picture.fullHeight != picture.height || picture.fullX != 0 || picture.fullY != 0) {
        text += " (data window at " + std::to_string(picture.x) + "," + std::to_string(picture.y) +
                ", display window " + std::to_string(picture.fullWidth) + "x" +
                std::to_string(picture.fullHeight) + ")";
    }
    std::string channels;
    for (const std::string& name : picture.channelNames) {
        channels += name;
    }
    text += " " + picture.format + " " + picture.type.c_str();
    if (picture.bitsPerSample != static_cast<int>(picture.type.size() * 8)) {
        text += " (" + std::to_string(picture.bitsPerSample) + "-bit)";
    }
    text += " " + channels;
    if (picture.hasAlpha()) {
        text += std::string(" ") + alphaName(picture.alpha);
    }
    return text;
}

int run(int argc, const char* const* argv) {
    installCleanupHandlers();

    Options options;
    Plan plan;
    try {
        options = parseOptions(argc, argv);
        if (options.help) {
            std::fputs(helpText(describePluginSearch()).c_str(), stdout);
            return exitSuccess;
        }
        if (options.version) {
            std::printf("%s\n", versionText().c_str());
            return exitSuccess;
        }
        std::optional<std::vector<long>> frames;
        if (options.frames) {
            frames = parseFrameList("--frames", *options.frames);
        }
        plan = planJobs(options.paths, options.outputDir, frames);
    } catch (const ToolError& error) {
        report(error);
        return error.exitCode();
    }

    std::optional<Renderer> renderer;
    std::string pluginPath;
    try {
        pluginPath = findPlugin(options.plugin);
        renderer.emplace(pluginPath, options.settings);
    } catch (const ToolError& error) {
        report(error);
        return error.exitCode();
    } catch (const std::exception& error) {
        // A plug-in that describes itself in a way the host cannot use.
        report(pluginPath, error.what());
        return exitPlugin;
    }
    if (options.verbose) {
        std::printf("Plug-in: %s\n", pluginPath.c_str());
        std::fflush(stdout);
    }
    try {
        makeDirectories(plan.outputFolder);
    } catch (const ToolError& error) {
        report(error);
        return error.exitCode();
    }

    std::vector<std::string> inputs;
    for (const Job& job : plan.jobs) {
        inputs.push_back(job.input);
    }

    Progress progress(plan.jobs.size(), plan.batch && ::isatty(STDERR_FILENO));
    const auto start = std::chrono::steady_clock::now();
    std::size_t rendered = 0;
    int status = exitSuccess;
    for (std::size_t i = 0; i < plan.jobs.size(); ++i) {
        const Job& job = plan.jobs[i];
        progress.show(i, job.input);
        try {
            if (job.missing) {
                throw ToolError(job.input, "frame " + std::to_string(*job.frame) + " is missing");
            }
            for (const std::string& input : inputs) {
                if (isSameFile(job.output, input)) {
                    throw ToolError(job.output,
                                    "is the input " + input + "; refusing to overwrite an input");
                }
            }
            const std::string format = outputFormat(job.output);
            if (!options.settings.alphaOnly && !holdsAlpha(format)) {
                throw ToolError(job.output, "the " + format +
                                                " format holds no alpha, which the outline "
                                                "needs (write .exr, .tif or .png)");
            }
            const Picture source = readPicture(job.input, options.read);
            Picture result;
            FrameInfo info;
            try {
                result = renderer->render(source, format, &info);
            } catch (const ToolError&) {
                throw;
            } catch (const std::runtime_error& error) {
                throw ToolError(job.input, error.what());
            }
            writeFileReplacing(job.output,
                               [&](std::FILE* file) { writePicture(file, result, job.output); });
            ++rendered;
            if (options.verbose) {
                progress.clear();
                std::printf("%s: %s; rendered in %s at width %.9g over %dx%d in %.3f s; %s: %s\n",
                            job.input.c_str(), describe(source).c_str(),
                            depthName(info.depth).c_str(), info.width,
                            info.canvas.x2 - info.canvas.x1, info.canvas.y2 - info.canvas.y1,
                            info.seconds, job.output.c_str(), describe(result).c_str());
                std::fflush(stdout);
            }
        } catch (const ToolError& error) {
            progress.clear();
            report(error);
            status =
                std::max(status, static_cast<int>(error.exitCode() == exitUsage ? exitUsage
                                                                                : exitFrameFailed));
        } catch (const std::bad_alloc&) {
            progress.clear();
            report(job.input, "out of memory");
            status = std::max(status, static_cast<int>(exitFrameFailed));
        }
    }
    progress.clear();

    const std::size_t failed = plan.jobs.size() - rendered;
    if (plan.batch) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("Rendered %zu of %zu frames in %.2f s (%.1f frames/s)%s\n", rendered,
                    plan.jobs.size(), seconds, seconds > 0 ? rendered / seconds : 0.0,
                    failed ? ("; " + std::to_string(failed) + " failed").c_str() : "");
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& error) {
        report("error", error.what());
    } catch (...) {
        report("error", "unexpected failure");
    }
    return ZarvelTool::exitFrameFailed;
}
