#include "tools/SafeFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "tools/ToolError.h"

namespace ZarvelTool {

namespace {

// The temporary file being written, for the signal handlers. Filled before `tempActive` is set
// and cleared only after it is reset, so a handler never sees a half-written name.
char tempPath[PATH_MAX + 1];
volatile sig_atomic_t tempActive = 0;

void onFatalSignal(int signalNumber) {
    if (tempActive) {
        ::unlink(tempPath);
    }
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

mode_t currentUmask() {
    // umask can only be read by setting it; this runs before any other thread exists.
    static const mode_t mask = [] {
        const mode_t old = ::umask(022);
        ::umask(old);
        return old;
    }();
    return mask;
}

std::string errorText(int error) {
    return std::strerror(error);
}

// The temporary file of one write: closed, and removed unless it was renamed into place.
struct TempFile {
    std::string path;
    bool created = false;
    int fd = -1;
    std::FILE* file = nullptr;
    bool renamed = false;

    ~TempFile() {
        if (file) {
            std::fclose(file);
        } else if (fd >= 0) {
            ::close(fd);
        }
        if (created && !renamed) {
            tempActive = 0;
            ::unlink(path.c_str());
        }
    }
};

}  // namespace

void installCleanupHandlers() {
    currentUmask();
    struct sigaction action {};
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        ::sigaction(signalNumber, &action, nullptr);
    }
    ::signal(SIGXFSZ, SIG_IGN);
}

void writeFileReplacing(const std::string& path, const std::function<void(std::FILE*)>& write) {
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        throw ToolError(path, "is a directory");
    }
    if (isDirectory(path)) {
        throw ToolError(path, "is a directory");
    }
    TempFile temp;
    temp.path = folder + "." + name + ".XXXXXX";
    if (temp.path.size() > PATH_MAX) {
        throw ToolError(path, errorText(ENAMETOOLONG));
    }
    // Block the cleanup signals while the handlers' file name changes.
    sigset_t block;
    sigset_t previous;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &block, &previous);
    const int fd = ::mkstemp(temp.path.data());
    const int createError = errno;
    if (fd >= 0) {
        temp.created = true;
        temp.fd = fd;
        std::memcpy(tempPath, temp.path.c_str(), temp.path.size() + 1);
        tempActive = 1;
    }
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (fd < 0) {
        throw ToolError(path, "cannot create the file: " + errorText(createError));
    }

    if (::fchmod(fd, 0666 & ~currentUmask()) != 0) {
        throw ToolError(path, "cannot set the file's permissions: " + errorText(errno));
    }
    temp.file = ::fdopen(fd, "wb");
    if (!temp.file) {
        throw ToolError(path, "cannot write: " + errorText(errno));
    }
    write(temp.file);
    if (std::fflush(temp.file) != 0 || std::ferror(temp.file)) {
        throw ToolError(path, "cannot write: " + errorText(errno));
    }
    if (::fsync(fd) != 0) {
        throw ToolError(path, "cannot write: " + errorText(errno));
    }
    std::FILE* file = temp.file;
    temp.file = nullptr;
    temp.fd = -1;
    if (std::fclose(file) != 0) {
        throw ToolError(path, "cannot write: " + errorText(errno));
    }
    if (::rename(temp.path.c_str(), path.c_str()) != 0) {
        throw ToolError(path, "cannot replace the file: " + errorText(errno));
    }
    temp.renamed = true;
    tempActive = 0;
}

bool isSameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    if (::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) {
        return false;
    }
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void makeDirectories(const std::string& path) {
    const std::size_t end = path.find_last_not_of('/');
    if (end == std::string::npos || isDirectory(path)) {
        return;
    }
    const std::string trimmed = path.substr(0, end + 1);
    const std::size_t slash = trimmed.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        makeDirectories(trimmed.substr(0, slash));
    }
    if (::mkdir(trimmed.c_str(), 0777) != 0 && !(errno == EEXIST && isDirectory(trimmed))) {
        throw ToolError(path, "cannot create the folder: " + errorText(errno));
    }
}

}  // namespace ZarvelTool
