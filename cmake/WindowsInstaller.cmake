# SPDX-License-Identifier: MIT
# The Windows installer, wirelog-<version>-win64.exe in the build folder, made by every build of
# the windows preset with NSIS (Debian package nsis) from data/windows/wirelog.nsi.
find_program(WIRELOG_MAKENSIS makensis)
if(NOT WIRELOG_MAKENSIS)
  message(WARNING "makensis not found (apt-get install nsis): no Windows installer")
  return()
endif()

set(WIRELOG_INSTALLER ${CMAKE_BINARY_DIR}/wirelog-${PROJECT_VERSION}-win64.exe)
set(_wl_nsi ${PROJECT_SOURCE_DIR}/data/windows/wirelog.nsi)
add_custom_command(OUTPUT ${WIRELOG_INSTALLER}
  COMMAND ${WIRELOG_MAKENSIS} -V2 -NOCD
    -DVERSION=${PROJECT_VERSION}
    -DOUTPUT=${WIRELOG_INSTALLER}
    -DICON=${PROJECT_SOURCE_DIR}/data/icons/wirelog.ico
    -DWIRELOG_EXE=$<TARGET_FILE:wirelog>
    -DWIRELOG_CLI_EXE=$<TARGET_FILE:wirelog-cli>
    -DADAPTER_DLL=$<TARGET_FILE:wirlg000>
    -DREADME=${PROJECT_SOURCE_DIR}/README.md
    -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
    ${_wl_nsi}
  DEPENDS ${_wl_nsi} wirelog wirelog-cli wirlg000 ${PROJECT_SOURCE_DIR}/README.md
    ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/data/icons/wirelog.ico
  COMMENT "Making the Windows installer ${WIRELOG_INSTALLER}"
  VERBATIM)
add_custom_target(wirelog_installer ALL DEPENDS ${WIRELOG_INSTALLER})
