# Release archives (CPack): the bundle, the licence and an install note.
#   Linux x86-64:  Zarvel-<version>-Linux-x86-64.tar.gz, and a Debian package that installs
#                  the bundle into /usr/OFX/Plugins (the licence and the note into
#                  /usr/share/doc/zarvel);
#   Windows:       Zarvel-<version>-Win64.zip;
#   64-bit ARM:    Zarvel-<version>-Linux-arm64.tar.gz.
# The package components (ZarvelBundle, ZarvelDocs) install with paths relative to the package;
# `cmake --install` of ZarvelPlugin puts the bundle into ZARVEL_OFX_INSTALL_DIR instead.
set(ZARVEL_PACKAGE_VERSION "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}")
set(ZARVEL_PACKAGE_PLATFORM "${ZARVEL_BUNDLE_ARCH}")
if(WIN32)
    set(ZARVEL_INSTALL_NOTE_HOW "which needs an administrator")
    set(ZARVEL_INSTALL_NOTE_NEEDS "Windows' own DLLs")
else()
    set(ZARVEL_INSTALL_NOTE_NEEDS "the system's C and C++ runtime libraries")
    set(ZARVEL_INSTALL_NOTE_HOW "as root, e.g. sudo cp -r Zarvel.ofx.bundle @ZARVEL_OFX_INSTALL_DIR@/")
    string(CONFIGURE "${ZARVEL_INSTALL_NOTE_HOW}" ZARVEL_INSTALL_NOTE_HOW @ONLY)
endif()
if(WIN32)
    set(newlines CRLF)
else()
    set(newlines UNIX)
endif()
configure_file("${PROJECT_SOURCE_DIR}/resources/INSTALL.txt.in" "${CMAKE_BINARY_DIR}/INSTALL.txt"
    @ONLY NEWLINE_STYLE ${newlines})

install(TARGETS Zarvel
    LIBRARY DESTINATION "Zarvel.ofx.bundle/Contents/${ZARVEL_BUNDLE_ARCH}"
    COMPONENT ZarvelBundle)
install(FILES "${PROJECT_SOURCE_DIR}/resources/org.zarvel.outline.png"
    DESTINATION "Zarvel.ofx.bundle/Contents/Resources"
    COMPONENT ZarvelBundle)
install(FILES "${PROJECT_SOURCE_DIR}/LICENSE" "${CMAKE_BINARY_DIR}/INSTALL.txt"
    DESTINATION "."
    COMPONENT ZarvelDocs)

set(CPACK_PACKAGE_NAME "Zarvel")
set(CPACK_PACKAGE_VENDOR "The Zarvel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION "${ZARVEL_PACKAGE_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "Zarvel-${ZARVEL_PACKAGE_VERSION}-${ZARVEL_PACKAGE_PLATFORM}")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_CHECKSUM SHA256)
if(WIN32)
    set(CPACK_GENERATOR "ZIP")
elseif(ZARVEL_BUNDLE_ARCH STREQUAL "Linux-x86-64")
    set(CPACK_GENERATOR "TGZ;DEB")
else()
    set(CPACK_GENERATOR "TGZ")
endif()

# Where each component goes, per generator (ZarvelPackagingProject.cmake reads these).
set(ZARVEL_PACKAGE_BUILD_DIR "${CMAKE_BINARY_DIR}")
set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CMAKE_BINARY_DIR};Zarvel;ZarvelBundle;/;${CMAKE_BINARY_DIR};Zarvel;ZarvelDocs;/")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/ZarvelPackagingProject.cmake")

set(CPACK_DEBIAN_PACKAGE_NAME "zarvel")
set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Zarvel developers")
set(CPACK_DEBIAN_PACKAGE_SECTION "graphics")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "An OpenFX image effect that draws a coloured outline of a chosen width around the opaque parts of its source, in 8-bit, 16-bit and float, RGBA or alpha. OpenFX hosts find it in /usr/OFX/Plugins.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
