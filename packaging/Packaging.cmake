# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# Desktop installation and the Debian package. Included at the end of the top-level
# CMakeLists.txt, once every target exists: the menu entry, the icon and the manual page go
# with the program, and `cpack -G DEB` (make package) builds orvel_<version>_<arch>.deb.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/ManPage.cmake)

# The menu entry and the software centres' entry share one id.
set(ORVEL_DESKTOP_ID org.example.orvel)

if(TARGET orvel)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/${ORVEL_DESKTOP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/${ORVEL_DESKTOP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  # The menu finds the icon by the entry's Icon=orvel in the hicolor theme.
  install(FILES ${PROJECT_SOURCE_DIR}/resources/orvel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps OPTIONAL)
  orvel_install_man_page(orvel)
endif()

# Debian's place for the licence and the history of a native package; the history compressed
# as the policy wants it (gzip -9n: no name, no time stamp, so the package builds reproducibly).
set(orvel_doc_dir ${CMAKE_INSTALL_DATADIR}/doc/orvel)
set(orvel_changelog ${PROJECT_BINARY_DIR}/packaging/changelog.gz)
add_custom_command(
  OUTPUT ${orvel_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
  COMMAND gzip -9 -n -c ${CMAKE_CURRENT_LIST_DIR}/changelog > ${orvel_changelog}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/changelog
  COMMENT "Compressing the changelog")
add_custom_target(orvel_changelog ALL DEPENDS ${orvel_changelog})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${orvel_changelog} DESTINATION ${orvel_doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvel developers")
set(CPACK_PACKAGE_CONTACT "Orvel developers <orvel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY. One string (separate quoted
# parts would become a CMake list joined by semicolons), lines of at most 80 characters.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvel opens a serial port, waits for the tuner to identify itself and
shows what it reports: SWR, the inductance and capacitance switched in, the
side of the L-network, the tuner's lamps and whether a tuning cycle runs. It
starts tuning, sets the SWR threshold, clears the tuner's memory and logs
every protocol line in a port monitor. The package also holds
orvel-tuner-sim, a simulated tuner on a pseudo-terminal, and orvel-station,
which puts a tuner beside a small computer on the network with ser2net
(RFC 2217 inside TLS, for the operators allowed there).")
# dpkg-shlibdeps finds the libraries the programs link (Qt, the C++ runtime). Qt's platform
# plugins (xcb for the X desktop) are loaded at run time, which no linker record shows; the
# window's captions are measured for Liberation Sans, the stand-in for MS Sans Serif.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# orvel-station is a Python program that reads and writes ser2net's YAML with ruamel.yaml.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "python3, python3-ruamel.yaml")
if(TARGET orvel)
  string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", qt6-qpa-plugins, fonts-liberation2")
endif()
# Only the station's computer needs these, for orvel-station; the operator's does not (avahi
# announces the station on the local network, sysctl applies its keepalive).
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ser2net, openssl, avahi-daemon, procps")
include(CPack)
