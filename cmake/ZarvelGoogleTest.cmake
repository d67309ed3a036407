# GoogleTest for the test executables: the installed libraries of the build machine
# (libgtest-dev, libgmock-dev), or, for a cross build, built here from the source that Debian's
# googletest package ships, for the target. Either way the targets are GTest::gtest,
# GTest::gmock and GTest::gtest_main (the source defines them too).
option(ZARVEL_GTEST_FROM_SOURCE "Build GoogleTest from its source (cross builds)" ${CMAKE_CROSSCOMPILING})
set(ZARVEL_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest's source (googletest)")

if(ZARVEL_GTEST_FROM_SOURCE)
    if(NOT EXISTS "${ZARVEL_GTEST_SOURCE_DIR}/CMakeLists.txt")
        message(FATAL_ERROR "no GoogleTest source in ${ZARVEL_GTEST_SOURCE_DIR} (apt-get install googletest)")
    endif()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    # SYSTEM: its headers raise no warnings in our targets.
    add_subdirectory("${ZARVEL_GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest"
        EXCLUDE_FROM_ALL SYSTEM)
else()
    find_package(GTest REQUIRED)
endif()

# Listing the tests of a cross build goes through the emulator, and Wine's first start makes its
# prefix: on a busy machine that can take minutes.
if(CMAKE_CROSSCOMPILING)
    set(ZARVEL_DISCOVERY_TIMEOUT 600)
else()
    set(ZARVEL_DISCOVERY_TIMEOUT 60)
endif()

# Tests that depend on the process itself learn that they run under qemu's user-mode emulator:
# /proc then describes the emulator, and a program cannot exec itself (SoakTest.cpp,
# RingsTest.cpp).
set(ZARVEL_TEST_ENVIRONMENT)
if(CMAKE_CROSSCOMPILING_EMULATOR MATCHES "qemu")
    set(ZARVEL_TEST_ENVIRONMENT ENVIRONMENT ZARVEL_UNDER_QEMU=1)
endif()
