// Test helpers that capture what the plug-in writes: its standard-output lines and its log.
#pragma once

#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>

#include "ofx/Core.h"

namespace zarvel::test {

/// Redirects std::cout (where the support layer writes its exception lines) for its lifetime.
class CaptureStdout {
public:
    CaptureStdout()
        : previous_(std::cout.rdbuf(buffer_.rdbuf())) {}
    ~CaptureStdout() { std::cout.rdbuf(previous_); }
    CaptureStdout(const CaptureStdout&) = delete;
    CaptureStdout& operator=(const CaptureStdout&) = delete;

    std::string text() const { return buffer_.str(); }

private:
    std::ostringstream buffer_;
    std::streambuf* previous_;
};

/// Attaches a temporary file as the diagnostic log for its lifetime.
class CaptureLog {
public:
    CaptureLog()
        : file_(std::tmpfile()) {
        OFX::attachLogStream(file_);
    }
    ~CaptureLog() {
        OFX::attachLogStream(nullptr);
        std::fclose(file_);
    }
    CaptureLog(const CaptureLog&) = delete;
    CaptureLog& operator=(const CaptureLog&) = delete;

    /// Everything written so far.
    std::string text() const {
        std::string all;
        std::rewind(file_);
        char chunk[4096];
        size_t got;
        while ((got = std::fread(chunk, 1, sizeof chunk, file_)) > 0) {
            all.append(chunk, got);
        }
        std::fseek(file_, 0, SEEK_END);
        return all;
    }

private:
    std::FILE* file_;
};

}  // namespace zarvel::test
