# Checks the built plug-in library as a host sees it:
#  - it sits where hosts look for it, inside Zarvel.ofx.bundle/Contents/<ARCH>/;
#  - it exports exactly OfxGetNumberOfPlugins and OfxGetPlugin (ELF: its dynamic symbol table;
#    a Windows DLL: its export table);
#  - it needs no shared library beyond the C and C++ runtime (and, in a sanitizer build, the
#    sanitizer's runtime); a Windows DLL nothing beyond Windows' own DLLs, with the compiler's
#    C++ runtime, libgcc and winpthreads inside it;
#  - `cmake --install` puts the bundle, icon included, into the plug-in folder (under a scratch
#    DESTDIR here).
# Run as: cmake -DMODULE=... -DARCH=... -DNM=... -DREADELF=... -DOBJDUMP=... -DBUILD_DIR=...
#               -DINSTALL_DIR=... -DSCRATCH_DIR=... -P CheckModule.cmake
set(bundleTail "Zarvel.ofx.bundle/Contents/${ARCH}/Zarvel.ofx")

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

set(exported)
set(needed)
if(ARCH STREQUAL "Win64")
    execute_process(COMMAND "${OBJDUMP}" -p "${MODULE}"
        OUTPUT_VARIABLE dump RESULT_VARIABLE dumpStatus)
    if(NOT dumpStatus EQUAL 0)
        message(FATAL_ERROR "${OBJDUMP} failed on ${MODULE}")
    endif()
    # The names of the export table, then the DLLs of the import tables.
    string(REGEX MATCH "\\[Ordinal/Name Pointer\\] Table\n([^\n]+\n)*" nameTable "${dump}")
    string(REGEX MATCHALL "\\[ *[0-9]+\\] [^\n]+" nameLines "${nameTable}")
    foreach(line IN LISTS nameLines)
        string(REGEX REPLACE "^\\[ *[0-9]+\\] " "" name "${line}")
        list(APPEND exported "${name}")
    endforeach()
    string(REGEX MATCHALL "DLL Name: [^\n]+" dllLines "${dump}")
    foreach(line IN LISTS dllLines)
        string(REGEX REPLACE "^DLL Name: " "" library "${line}")
        list(APPEND needed "${library}")
    endforeach()
    set(runtime "^(kernel32|msvcrt|ucrtbase|api-ms-win-[a-z0-9-]+|ntdll|advapi32|user32)\\.dll$")
else()
    execute_process(COMMAND "${NM}" -D --defined-only "${MODULE}"
        OUTPUT_VARIABLE nmOutput RESULT_VARIABLE nmStatus)
    if(NOT nmStatus EQUAL 0)
        message(FATAL_ERROR "${NM} failed on ${MODULE}")
    endif()
    string(REGEX MATCHALL "[^\n]+" nmLines "${nmOutput}")
    foreach(line IN LISTS nmLines)
        string(REGEX REPLACE "^.* " "" name "${line}")
        list(APPEND exported "${name}")
    endforeach()
    execute_process(COMMAND "${READELF}" -d -W "${MODULE}"
        OUTPUT_VARIABLE readelfOutput RESULT_VARIABLE readelfStatus)
    if(NOT readelfStatus EQUAL 0)
        message(FATAL_ERROR "${READELF} failed on ${MODULE}")
    endif()
    string(REGEX MATCHALL "\\(NEEDED\\)[^\n]*\\[[^]\n]+\\]" neededLines "${readelfOutput}")
    foreach(line IN LISTS neededLines)
        string(REGEX REPLACE "^.*\\[(.*)\\]$" "\\1" library "${line}")
        list(APPEND needed "${library}")
    endforeach()
    set(runtime
        "^(libstdc\\+\\+|libm|libgcc_s|libc|ld-linux-x86-64|ld-linux-aarch64|lib(a|ub|t|l|hwa)san)\\.so")
endif()

list(SORT exported)
if(NOT exported STREQUAL "OfxGetNumberOfPlugins;OfxGetPlugin")
    message(FATAL_ERROR "the library exports [${exported}], not exactly the two entry points")
endif()
foreach(library IN LISTS needed)
    string(TOLOWER "${library}" lower)
    if(NOT lower MATCHES "${runtime}")
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
file(GLOB_RECURSE installed RELATIVE "${SCRATCH_DIR}" "${SCRATCH_DIR}/*")
if(ARCH STREQUAL "Win64")
    # On the build machine a Windows folder ("C:/...") is not absolute: it lands under the
    # prefix, but must still end in the plug-in folder.
    set(found FALSE)
    foreach(path IN LISTS installed)
        string(FIND "${path}" "${INSTALL_DIR}/${bundleTail}" at REVERSE)
        if(at GREATER_EQUAL 0)
            set(found TRUE)
        endif()
    endforeach()
elseif(EXISTS "${SCRATCH_DIR}/${INSTALL_DIR}/${bundleTail}")
    set(found TRUE)
else()
    set(found FALSE)
endif()
if(NOT found)
    message(FATAL_ERROR "the bundle was not installed into ${INSTALL_DIR}: [${installed}]")
endif()
if(NOT installed MATCHES "Zarvel.ofx.bundle/Contents/Resources/org.zarvel.outline.png")
    message(FATAL_ERROR "the bundle was installed without its icon: [${installed}]")
endif()
file(REMOVE_RECURSE "${SCRATCH_DIR}")
message(STATUS "exports: ${exported}; needs: ${needed}; installs into ${INSTALL_DIR}")
