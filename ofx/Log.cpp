// The diagnostic log: one process-wide stream, indented by the dispatcher's nesting depth.
#include "ofx/Core.h"

#include <atomic>
#include <cstdarg>
#include <cstdlib>

namespace OFX {
namespace {

std::string readLogFileName() {
    const char* fromEnvironment = std::getenv("OFX_PLUGIN_LOGFILE");
    return fromEnvironment ? fromEnvironment : "ofxTestLog.txt";
}

// Read once at library start-up, as the name must not change while the library is loaded.
const std::string logFileNameValue = readLogFileName();
std::FILE* stream = nullptr;
// Host threads enter actions concurrently; an atomic keeps the count exact without a lock.
std::atomic<int> depth{0};

ZARVEL_PRINTF_FORMAT(2, 0)
void writeLine(const char* prefix, const char* format, va_list arguments) {
    if (!stream) {
        return;
    }
    for (int level = depth.load(std::memory_order_relaxed); level > 0; --level) {
        std::fputs("    ", stream);
    }
    std::fputs(prefix, stream);
    std::vfprintf(stream, format, arguments);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

const std::string& logFileName() {
    return logFileNameValue;
}

void attachLogStream(std::FILE* newStream) {
    stream = newStream;
}

std::FILE* logStream() {
    return stream;
}

int logDepth() {
    return depth.load(std::memory_order_relaxed);
}

void logPrint(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    writeLine("", format, arguments);
    va_end(arguments);
}

void logWarning(bool condition, const char* format, ...) {
    if (!condition) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    writeLine("WARNING : ", format, arguments);
    va_end(arguments);
}

void logError(bool condition, const char* format, ...) {
    if (!condition) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    writeLine("ERROR : ", format, arguments);
    va_end(arguments);
}

void logIndent() {
    depth.fetch_add(1, std::memory_order_relaxed);
}

void logOutdent() {
    depth.fetch_sub(1, std::memory_order_relaxed);
}

}  // namespace OFX
