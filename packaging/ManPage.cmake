# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The Orvel developers
# orvel_install_man_page(<name>): installs docs/man/<name>.1, compressed as Debian wants its
# manual pages, into share/man/man1.
include(GNUInstallDirs)

function(orvel_install_man_page name)
  set(source ${PROJECT_SOURCE_DIR}/docs/man/${name}.1)
  set(compressed ${PROJECT_BINARY_DIR}/man/${name}.1.gz)
  add_custom_command(
    OUTPUT ${compressed}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND gzip -9 -n -c ${source} > ${compressed}
    DEPENDS ${source}
    COMMENT "Compressing the manual page ${name}.1")
  add_custom_target(${name}_man_page ALL DEPENDS ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
