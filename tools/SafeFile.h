// Writing an output file so that nothing half-written is ever seen under its name, and the
// checks that keep an input from being overwritten.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace ZarvelTool {

/// Writes `path` through a temporary file in the same folder (".<name>.XXXXXX", mode 0666 less
/// the umask), which `write` fills, and renames it over `path` only once it is completely
/// written, flushed and synced. On any failure the temporary file is removed and `path` is left
/// as it was (absent, or its old contents). An existing `path` is replaced by a new file, so
/// other hard links to the old one keep the old contents.
///
/// Throws ToolError(path, reason) when the file cannot be created, written or renamed; anything
/// `write` throws passes through after the clean-up. Not reentrant: one write at a time per
/// process (the signal handlers of installCleanupHandlers know one temporary file).
void writeFileReplacing(const std::string& path, const std::function<void(std::FILE*)>& write);

/// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file being written before the process
/// dies of the signal, and makes SIGXFSZ (file-size limit) fail the write with EFBIG instead of
/// killing the process. Call once at start-up, before any other thread exists.
void installCleanupHandlers();

/// True when both paths name the same existing file (same device and inode; a hard link or a
/// symbolic link to it counts as the same file).
bool isSameFile(const std::string& a, const std::string& b);

/// True when `path` names an existing directory.
bool isDirectory(const std::string& path);

/// Creates `path` and any missing parent folders (mode 0777 less the umask). Throws
/// ToolError(path, reason) when that fails or `path` exists and is not a folder.
void makeDirectories(const std::string& path);

}  // namespace ZarvelTool
