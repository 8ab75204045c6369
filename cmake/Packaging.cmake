# SPDX-License-Identifier: MIT
# What `cmake --install` adds around the programs (each program installs itself where it is
# built), and the Debian package CPack makes of it all: `cpack --preset package`.
include(GNUInstallDirs)

# The udev rule goes where udev reads packaged rules when the prefix is /usr, as in the package.
install(FILES support/udev/70-wirelog.rules DESTINATION lib/udev/rules.d)

if(WIRELOG_BUILD_UI)
  install(FILES data/wirelog.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size IN ITEMS 16 32 48 256)
    install(FILES data/icons/wirelog-${size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME wirelog.png)
  endforeach()
  install(FILES data/icons/wirelog.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# Man pages are installed compressed, as man-db and Debian expect; -n keeps the build reproducible.
set(_wl_man ${PROJECT_BINARY_DIR}/man/wirelog-cli.1)
add_custom_command(OUTPUT ${_wl_man}.gz
  COMMAND ${CMAKE_COMMAND} -E copy ${PROJECT_SOURCE_DIR}/docs/wirelog-cli.1 ${_wl_man}
  COMMAND gzip -9nf ${_wl_man}
  DEPENDS docs/wirelog-cli.1 VERBATIM)
add_custom_target(wirelog_man_page ALL DEPENDS ${_wl_man}.gz)
install(FILES ${_wl_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
set(_wl_docdir ${CMAKE_INSTALL_DATADIR}/doc/wirelog)
file(GLOB _wl_docs CONFIGURE_DEPENDS docs/*.md docs/*.png)
install(FILES README.md LICENSE ${_wl_docs} DESTINATION ${_wl_docdir})
install(FILES LICENSE DESTINATION ${_wl_docdir} RENAME copyright)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wirelog)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Wirelog")
set(CPACK_PACKAGE_CONTACT "Wirelog developers <maintainers@users.noreply.c-seed-3d792d40.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "I2C bus protocol analyzer for Wirelog capture modules")
set(CPACK_PACKAGE_DESCRIPTION
  "Wirelog lists the attached Wirelog capture modules, captures what they report of an I2C bus "
  "and shows every bus condition as an English log line that can be saved. wirelog-cli does the "
  "same without a window and decodes recorded captures. A simulated module (WIRELOG_SIM=demo) "
  "shows both at work without hardware.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # wirelog_<version>_<architecture>.deb
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
# Dependencies are read off the installed binaries by dpkg-shlibdeps (package dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_SOURCE_DIR}/cmake/debian/postinst ${PROJECT_SOURCE_DIR}/cmake/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
