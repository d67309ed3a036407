// Test helpers that capture what the plug-in writes: its standard-output lines and its log.
#pragma once

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

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

/// Sends the process's standard output (file descriptor 1) to a temporary file for its
/// lifetime: what a loaded plug-in library writes to std::cout, whichever C++ runtime it carries
/// (a Windows DLL has its own std::cout, which writes through the C runtime's stdout).
class CaptureProcessStdout {
public:
    CaptureProcessStdout()
        : file_(std::tmpfile()) {
        flush();
        saved_ = dupDescriptor(1);
        redirect(descriptorOf(file_), 1);
    }
    ~CaptureProcessStdout() {
        flush();
        redirect(saved_, 1);
        closeDescriptor(saved_);
        std::fclose(file_);
    }
    CaptureProcessStdout(const CaptureProcessStdout&) = delete;
    CaptureProcessStdout& operator=(const CaptureProcessStdout&) = delete;

    /// Everything written so far.
    std::string text() const {
        flush();
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
    static void flush() {
        std::cout.flush();
        std::fflush(stdout);
    }
#ifdef _WIN32
    static int descriptorOf(std::FILE* file) {
        return _fileno(file);
    }
    static int dupDescriptor(int fd) {
        return _dup(fd);
    }
    static void redirect(int from, int to) {
        _dup2(from, to);
    }
    static void closeDescriptor(int fd) {
        _close(fd);
    }
#else
    static int descriptorOf(std::FILE* file) {
        return fileno(file);
    }
    static int dupDescriptor(int fd) {
        return dup(fd);
    }
    static void redirect(int from, int to) {
        dup2(from, to);
    }
    static void closeDescriptor(int fd) {
        close(fd);
    }
#endif

    std::FILE* file_;
    int saved_ = -1;
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
