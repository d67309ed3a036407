// Loading a shared library at run time and finding its functions, the one place where the host
// meets the system's loader: dlopen/dlsym on Linux and other POSIX systems,
// LoadLibraryW/GetProcAddress on Windows.
#pragma once

#include <string>

namespace ZarvelHost {

class SharedLibrary {
public:
    /// Any exported function, converted by the caller to its real type.
    using Function = void (*)();

    /// Loads the library at `path` (UTF-8). On POSIX systems its symbols are resolved now and
    /// kept local to it. Throws std::runtime_error naming the path and with the loader's
    /// message when it cannot be loaded.
    explicit SharedLibrary(const std::string& path);
    /// Unloads it: no function of it may be called afterwards.
    ~SharedLibrary();
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    /// The exported function `name`, or null when the library does not export it.
    Function function(const char* name) const;

private:
    void* handle_ = nullptr;
};

}  // namespace ZarvelHost
