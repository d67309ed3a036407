#include "host/SharedLibrary.h"

#include <stdexcept>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace ZarvelHost {

#ifdef _WIN32

namespace {

std::wstring widened(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size = static_cast<int>(text.size());
    const int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), count);
    return wide;
}

std::string systemMessage(DWORD code) {
    char* text = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

}  // namespace

SharedLibrary::SharedLibrary(const std::string& path) {
    // No "cannot find DLL" dialog box for a library the plug-in needs and lacks.
    const UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    handle_ = LoadLibraryW(widened(path).c_str());
    const DWORD error = GetLastError();
    SetErrorMode(oldMode);
    if (!handle_) {
        throw std::runtime_error("cannot load plug-in library '" + path +
                                 "': " + systemMessage(error));
    }
}

SharedLibrary::~SharedLibrary() {
    FreeLibrary(static_cast<HMODULE>(handle_));
}

SharedLibrary::Function SharedLibrary::function(const char* name) const {
    return reinterpret_cast<Function>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

#else

SharedLibrary::SharedLibrary(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* error = dlerror();
        throw std::runtime_error("cannot load plug-in library '" + path +
                                 "': " + (error ? error : "unknown error"));
    }
}

SharedLibrary::~SharedLibrary() {
    dlclose(handle_);
}

SharedLibrary::Function SharedLibrary::function(const char* name) const {
    // POSIX guarantees that a data pointer from dlsym converts to the function's pointer.
    return reinterpret_cast<Function>(dlsym(handle_, name));
}

#endif

}  // namespace ZarvelHost
