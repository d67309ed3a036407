# Checks the built plug-in library as a host sees it:
#  - it sits where hosts look for it, inside Zarvel.ofx.bundle/Contents/Linux-x86-64/;
#  - its dynamic symbol table defines exactly OfxGetNumberOfPlugins and OfxGetPlugin;
#  - it needs no shared library beyond the C and C++ runtime (and, in a sanitizer build, the
#    sanitizer's runtime);
#  - `cmake --install` puts the bundle into the plug-in folder (under a scratch DESTDIR here).
# Run as: cmake -DMODULE=... -DNM=... -DREADELF=... -DBUILD_DIR=... -DINSTALL_DIR=...
#               -DSCRATCH_DIR=... -P CheckModule.cmake
set(bundleTail "Zarvel.ofx.bundle/Contents/Linux-x86-64/Zarvel.ofx")

string(LENGTH "${MODULE}" moduleLength)
string(LENGTH "${bundleTail}" tailLength)
math(EXPR tailStart "${moduleLength} - ${tailLength}")
if(tailStart LESS 1)
    message(FATAL_ERROR "the library is not inside a bundle: ${MODULE}")
endif()
string(SUBSTRING "${MODULE}" ${tailStart} -1 tail)
if(NOT tail STREQUAL "/${bundleTail}" AND NOT tail STREQUAL "${bundleTail}")
    message(FATAL_ERROR "the library is not at .../${bundleTail}: ${MODULE}")
endif()

execute_process(COMMAND "${NM}" -D --defined-only "${MODULE}"
    OUTPUT_VARIABLE nmOutput RESULT_VARIABLE nmStatus)
if(NOT nmStatus EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[^\n]+" nmLines "${nmOutput}")
set(exported)
foreach(line IN LISTS nmLines)
    string(REGEX REPLACE "^.* " "" name "${line}")
    list(APPEND exported "${name}")
endforeach()
list(SORT exported)
if(NOT exported STREQUAL "OfxGetNumberOfPlugins;OfxGetPlugin")
    message(FATAL_ERROR "the library exports [${exported}], not exactly the two entry points")
endif()

execute_process(COMMAND "${READELF}" -d -W "${MODULE}"
    OUTPUT_VARIABLE readelfOutput RESULT_VARIABLE readelfStatus)
if(NOT readelfStatus EQUAL 0)
    message(FATAL_ERROR "${READELF} failed on ${MODULE}")
endif()
string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" neededLines "${readelfOutput}")
set(runtime "^(libstdc\\+\\+|libm|libgcc_s|libc|ld-linux-x86-64|lib(a|ub|t|l|hwa)san)\\.so")
foreach(line IN LISTS neededLines)
    string(REGEX REPLACE "^.*\\[(.*)\\]$" "\\1" library "${line}")
    if(NOT library MATCHES "${runtime}")
        message(FATAL_ERROR "the library needs ${library} at run time")
    endif()
endforeach()

file(REMOVE_RECURSE "${SCRATCH_DIR}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E env "DESTDIR=${SCRATCH_DIR}"
        "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --component ZarvelPlugin
    RESULT_VARIABLE installStatus OUTPUT_QUIET)
if(NOT installStatus EQUAL 0)
    message(FATAL_ERROR "cmake --install of the plug-in component failed")
endif()
if(NOT EXISTS "${SCRATCH_DIR}/${INSTALL_DIR}/${bundleTail}")
    message(FATAL_ERROR "the bundle was not installed into ${INSTALL_DIR}")
endif()
file(REMOVE_RECURSE "${SCRATCH_DIR}")
message(STATUS "exports: ${exported}; installs into ${INSTALL_DIR}")
