// The one kind of failure zarvel-render reports: a subject (a file, an option, the plug-in) and
// a reason, printed as the single line "zarvel-render: <subject>: <reason>", and the exit code
// the failure calls for.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>

namespace ZarvelTool {

/// Exit codes of zarvel-render (also listed in --help).
enum ExitCode {
    exitSuccess = 0,
    /// A frame could not be read, rendered or written (in a batch: at least one).
    exitFrameFailed = 1,
    /// The command line is wrong: unknown option, bad value, wrong number of files.
    exitUsage = 2,
    /// The plug-in could not be found, loaded or started.
    exitPlugin = 3,
};

class ToolError : public std::runtime_error {
public:
    /// `reason` is one line without the subject; what() is "<subject>: <reason>".
    ToolError(std::string subject, const std::string& reason, ExitCode exitCode = exitFrameFailed)
        : std::runtime_error(subject + ": " + reason)
        , subject_(std::move(subject))
        , reason_(reason)
        , exitCode_(exitCode) {}

    const std::string& subject() const { return subject_; }
    const std::string& reason() const { return reason_; }
    ExitCode exitCode() const { return exitCode_; }

private:
    std::string subject_;
    std::string reason_;
    ExitCode exitCode_;
};

}  // namespace ZarvelTool
