# What `cmake --install` puts on a Linux system, and the Debian package made
# of it: `cpack -G DEB` in the build folder writes quillon_<version>_amd64.deb.
include(GNUInstallDirs)

set(_resources ${PROJECT_SOURCE_DIR}/resources)
set(_doc ${CMAKE_INSTALL_DATADIR}/doc/quillon)
set(_metainfo_id example.quillon.Quillon)

# The versions beside the project's must agree with it; a package whose
# changelog or metadata names another release would mislead its users.
file(STRINGS ${_resources}/debian/changelog _changelog_top LIMIT_COUNT 1)
file(READ ${_resources}/quillon.metainfo.xml _metainfo)
if(NOT _changelog_top MATCHES "^quillon \\(${PROJECT_VERSION}\\) "
   OR NOT _metainfo MATCHES "<release version=\"${PROJECT_VERSION}\"")
    message(FATAL_ERROR "resources/debian/changelog and resources/quillon.metainfo.xml "
                        "must name version ${PROJECT_VERSION} first")
endif()

install(TARGETS quillon quillon-reg quillon-probe RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${_resources}/index.htm DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon)
install(FILES ${_resources}/quillon.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_resources}/quillon.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo RENAME ${_metainfo_id}.metainfo.xml)
foreach(_size 16 32 48 256)
    install(FILES ${_resources}/icon128-${_size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps
            RENAME quillon.png)
endforeach()
install(FILES ${_resources}/debian/copyright DESTINATION ${_doc})

# Manual pages and the changelog go compressed, as Debian keeps them
# (-n: no name or time stamp inside, so the package builds the same twice).
set(_compressed)
foreach(_file quillon.1 quillon-reg.1 quillon-probe.1 debian/changelog)
    get_filename_component(_name ${_file} NAME)
    set(_gz ${CMAKE_BINARY_DIR}/package/${_name}.gz)
    add_custom_command(OUTPUT ${_gz}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/package
        COMMAND gzip -9n -c ${_resources}/${_file} > ${_gz}
        DEPENDS ${_resources}/${_file} VERBATIM)
    list(APPEND _compressed ${_gz})
    if(_name MATCHES "\\.1$")
        install(FILES ${_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    else()
        install(FILES ${_gz} DESTINATION ${_doc})
    endif()
endforeach()
add_custom_target(package_files ALL DEPENDS ${_compressed})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon)
set(CPACK_PACKAGE_VENDOR "The Quillon developers")
set(CPACK_PACKAGE_CONTACT "The Quillon developers <developers@quillon.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "browse through an anonymous proxy and clear browsing traces")
set(CPACK_PACKAGE_DESCRIPTION
    "Quillon is a tray program that runs an HTTP proxy on 127.0.0.1:8080, points
the desktop's proxy settings at it and relays every connection through an
upstream anonymous proxy, chosen from a downloadable list or typed in, which
it can test first. It filters unwanted content and clears the cache,
cookies, site data, history and typed addresses of Firefox and Chromium
every ten seconds.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "http://www.quillon.example/")
# The libraries' packages come from dpkg-shlibdeps. The proxy schema GNOME
# reads is data, not a library: without it the program still runs and
# leaves GNOME's settings alone. Qt's Wayland platform is a plugin, loaded
# only in a Wayland session: without it Qt falls back to XWayland, where
# the window gets neither its app id nor a launcher's activation.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gsettings-desktop-schemas, qt6-wayland")
include(CPack)
