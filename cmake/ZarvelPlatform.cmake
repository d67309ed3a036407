# What differs between the platforms Zarvel.ofx is built for: the folder of the bundle that holds
# the library, the folder hosts look in, and how the library is linked so that it exports only
# its two entry points and needs nothing but the system at run time.
#
# ZARVEL_BUNDLE_ARCH: the folder under Zarvel.ofx.bundle/Contents/ that hosts on this platform
# read: Win64, MacOS, Linux-x86-64, and Linux-arm64 on 64-bit ARM (see README.md, "Install").
if(WIN32)
    if(NOT CMAKE_SIZEOF_VOID_P EQUAL 8)
        message(FATAL_ERROR "Zarvel builds for 64-bit Windows only")
    endif()
    set(ZARVEL_BUNDLE_ARCH "Win64")
    set(zarvelDefaultInstallDir "C:/Program Files/Common Files/OFX/Plugins")
elseif(APPLE)
    set(ZARVEL_BUNDLE_ARCH "MacOS")
    set(zarvelDefaultInstallDir "/Library/OFX/Plugins")
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64|ARM64)$")
    set(ZARVEL_BUNDLE_ARCH "Linux-arm64")
    set(zarvelDefaultInstallDir "/usr/OFX/Plugins")
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|amd64|AMD64)$")
    set(ZARVEL_BUNDLE_ARCH "Linux-x86-64")
    set(zarvelDefaultInstallDir "/usr/OFX/Plugins")
else()
    message(FATAL_ERROR "no bundle folder is known for ${CMAKE_SYSTEM_NAME} on ${CMAKE_SYSTEM_PROCESSOR}")
endif()
set(ZARVEL_OFX_INSTALL_DIR "${zarvelDefaultInstallDir}" CACHE PATH
    "Folder the Zarvel.ofx.bundle is installed into")

# zarvel_bundle_module(target): makes the MODULE library `target` the bundle's Zarvel.ofx, in
# <build>/Zarvel.ofx.bundle/Contents/${ZARVEL_BUNDLE_ARCH}/, exporting OfxGetNumberOfPlugins and
# OfxGetPlugin alone and resolving everything inside itself or in the system's libraries, and
# installs it with the bundle's icon into ${ZARVEL_OFX_INSTALL_DIR} (component ZarvelPlugin).
function(zarvel_bundle_module target)
    set(binaryDir "${CMAKE_BINARY_DIR}/Zarvel.ofx.bundle/Contents/${ZARVEL_BUNDLE_ARCH}")
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        SUFFIX ".ofx"
        LIBRARY_OUTPUT_DIRECTORY "${binaryDir}"
        RUNTIME_OUTPUT_DIRECTORY "${binaryDir}")
    # The icon hosts show beside the effect, in the build tree's bundle too.
    add_custom_command(TARGET ${target} POST_BUILD
        COMMAND "${CMAKE_COMMAND}" -E copy_if_different
            "${PROJECT_SOURCE_DIR}/resources/org.zarvel.outline.png"
            "${CMAKE_BINARY_DIR}/Zarvel.ofx.bundle/Contents/Resources/org.zarvel.outline.png"
        VERBATIM)
    if(WIN32)
        # The entry points are the only functions marked for export (OfxExport), which turns off
        # exporting everything. The C and C++ runtimes of the compiler and its threads go inside
        # the DLL: a host has no libstdc++ or winpthreads beside it.
        target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
    else()
        set(exports "${CMAKE_CURRENT_BINARY_DIR}/${target}Exports.map")
        file(CONFIGURE OUTPUT "${exports}" CONTENT [[
{
  global: OfxGetNumberOfPlugins; OfxGetPlugin;
  local: *;
};
]])
        set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS "${exports}")
        target_link_options(${target} PRIVATE "LINKER:--version-script=${exports}")
        # Clang links its sanitizer runtimes into executables only, leaving them undefined in
        # libraries.
        if(NOT (CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND CMAKE_CXX_FLAGS MATCHES "-fsanitize"))
            target_link_options(${target} PRIVATE "LINKER:--no-undefined")
        endif()
    endif()
    install(TARGETS ${target}
        LIBRARY DESTINATION "${ZARVEL_OFX_INSTALL_DIR}/Zarvel.ofx.bundle/Contents/${ZARVEL_BUNDLE_ARCH}"
        COMPONENT ZarvelPlugin)
    install(FILES "${PROJECT_SOURCE_DIR}/resources/org.zarvel.outline.png"
        DESTINATION "${ZARVEL_OFX_INSTALL_DIR}/Zarvel.ofx.bundle/Contents/Resources"
        COMPONENT ZarvelPlugin)
endfunction()
