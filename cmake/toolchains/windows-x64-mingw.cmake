# Windows x64 from Debian: MinGW-w64's GCC with POSIX threads (std::thread on winpthreads).
# Programs built here run under Wine (wine64, 64-bit only) for tests, in a prefix of the build
# folder's own, without the dialogs that offer to install Mono or Gecko.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../wine-run.sh")

# Programs carry the compiler's runtimes inside them, so that Wine needs no DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
