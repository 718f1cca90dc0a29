# SPDX-License-Identifier: GPL-3.0-or-later

# What `cmake --install` puts in place, and the Debian package made of it.

include(GNUInstallDirs)

# User units are searched in <prefix>/lib/systemd/user for /usr and /usr/local;
# an installation under ~/.local needs share/systemd/user instead.
set(QUORVEL_SYSTEMD_USER_UNIT_DIR "lib/systemd/user" CACHE STRING
    "Folder, relative to the installation prefix, of the directory server's systemd user unit")

install(TARGETS quorvel-radio quorvel-directory)
install(TARGETS quorvel_http LIBRARY DESTINATION ${QUORVEL_MODULE_INSTALL_DIR})
install(FILES resources/org.quorvel.Radio.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/org.quorvel.Radio.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 48 128)
    install(FILES resources/quorvel-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME quorvel-radio.png)
endforeach()

# Manual pages and the package's change log, compressed reproducibly as Debian wants them.
set(quorvel_compressed_files)
foreach(source man/quorvel-radio.1 man/quorvel-directory.1 debian/changelog)
    set(output ${CMAKE_BINARY_DIR}/compressed/${source}.gz)
    get_filename_component(folder ${output} DIRECTORY)
    add_custom_command(OUTPUT ${output}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${folder}
        COMMAND gzip -9nc ${PROJECT_SOURCE_DIR}/resources/${source} > ${output}
        DEPENDS ${PROJECT_SOURCE_DIR}/resources/${source}
        VERBATIM)
    list(APPEND quorvel_compressed_files ${output})
endforeach()
add_custom_target(quorvel_compressed_files ALL DEPENDS ${quorvel_compressed_files})
install(FILES ${CMAKE_BINARY_DIR}/compressed/man/quorvel-radio.1.gz
    ${CMAKE_BINARY_DIR}/compressed/man/quorvel-directory.1.gz
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# The change log, and beside it the copyright file, which Debian wants uncompressed.
install(FILES ${CMAKE_BINARY_DIR}/compressed/debian/changelog.gz
    ${PROJECT_SOURCE_DIR}/resources/debian/copyright
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvel-radio)
# The load balancer of "Running many instances" in the server's README.
install(FILES ${PROJECT_SOURCE_DIR}/resources/haproxy.cfg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvel-radio/examples)

# The unit names the server by its installed path, which is known only when
# installing (the package installs under /usr whatever the configured prefix).
install(CODE "
    set(QUORVEL_DIRECTORY_BINARY \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/quorvel-directory\")
    configure_file(${PROJECT_SOURCE_DIR}/resources/systemd/quorvel-directory.service.in
        ${CMAKE_BINARY_DIR}/systemd/quorvel-directory.service @ONLY)
    configure_file(${PROJECT_SOURCE_DIR}/resources/systemd/quorvel-directory@.service.in
        ${CMAKE_BINARY_DIR}/systemd/quorvel-directory@.service @ONLY)
")
install(FILES ${CMAKE_BINARY_DIR}/systemd/quorvel-directory.service
    ${CMAKE_BINARY_DIR}/systemd/quorvel-directory@.service
    DESTINATION ${QUORVEL_SYSTEMD_USER_UNIT_DIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorvel-radio)
set(CPACK_PACKAGE_VENDOR "Quorvel")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "internet radio player with a station directory")
set(CPACK_PACKAGE_DESCRIPTION
    "A small internet-radio player for the desktop. It lists the stations of a
directory server in a table with their region and popularity and plays a
station chosen from the table, by its channel number or through quick search.
The companion directory server quorvel-directory runs for every user as a
systemd user service on 127.0.0.1:8159 with a demo directory and generated
streams, so the player works without internet.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel developers <radio@quorvel.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://quorvel.org/")
# Libraries come from dpkg-shlibdeps; these are the plugins that are loaded at
# run time: the screen, the stream decoders and audio outputs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, vlc-plugin-base, libvlc-bin, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-arphic-gbsn00lp, fonts-noto-cjk, qt6-wayland, systemd")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/resources/debian/postinst
    ${PROJECT_SOURCE_DIR}/resources/debian/prerm
    ${PROJECT_SOURCE_DIR}/resources/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
