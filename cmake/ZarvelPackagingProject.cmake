# Read by CPack for each generator (CPACK_PROJECT_CONFIG_FILE): the Debian package puts the
# bundle where hosts look and the licence and note where Debian keeps documents; archives keep
# both at their top.
if(CPACK_GENERATOR STREQUAL "DEB")
    list(GET CPACK_INSTALL_CMAKE_PROJECTS 0 buildDir)
    set(CPACK_INSTALL_CMAKE_PROJECTS
        "${buildDir};Zarvel;ZarvelBundle;/usr/OFX/Plugins;${buildDir};Zarvel;ZarvelDocs;/usr/share/doc/zarvel")
    set(CPACK_PACKAGING_INSTALL_PREFIX "/")
endif()
