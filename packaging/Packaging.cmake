# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# Desktop installation and the Debian package. Included at the end of the top-level
# CMakeLists.txt, once every target exists: the menu entry, the icon and the manual page go
# with the program, and `cpack -G DEB` (make package) builds orvel_<version>_<arch>.deb.
include(GNUInstallDirs)
include(${CMAKE_CURRENT_LIST_DIR}/ManPage.cmake)

if(TARGET orvel)
  install(FILES ${CMAKE_CURRENT_LIST_DIR}/orvel.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # The menu finds the icon by the entry's Icon=orvel in the hicolor theme.
  install(FILES ${PROJECT_SOURCE_DIR}/resources/orvel.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps OPTIONAL)
  orvel_install_man_page(orvel)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Orvel developers")
set(CPACK_PACKAGE_CONTACT "Orvel developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Orvel developers")
set(CPACK_DEBIAN_PACKAGE_SECTION hamradio)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The summary line comes from CPACK_PACKAGE_DESCRIPTION_SUMMARY. One string: separate quoted
# parts would become a CMake list joined by semicolons.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Orvel opens a serial port, waits for the tuner to identify itself and shows what it
reports: SWR, the inductance and capacitance switched in, the side of the L-network,
the tuner's lamps and whether a tuning cycle runs. It starts tuning, sets the SWR
threshold, clears the tuner's memory and logs every protocol line in a port monitor.
The package also holds orvel-tuner-sim, a simulated tuner on a pseudo-terminal.")
# dpkg-shlibdeps finds the libraries the programs link (Qt, the C++ runtime). Qt's platform
# plugins (xcb for the X desktop) are loaded at run time, which no linker record shows; the
# window's captions are measured for Liberation Sans, the stand-in for MS Sans Serif.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(TARGET orvel)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation2")
endif()
include(CPack)
