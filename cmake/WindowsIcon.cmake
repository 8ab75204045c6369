# SPDX-License-Identifier: MIT
# Compiles the program's icon group into a Windows executable; elsewhere it does nothing.
function(wirelog_windows_icon target)
  if(WIN32)
    set(rc "${PROJECT_SOURCE_DIR}/data/icons/wirelog.rc")
    target_sources(${target} PRIVATE "${rc}")
    # The resource compiler finds wirelog.ico beside the script.
    set_property(SOURCE "${rc}" APPEND PROPERTY INCLUDE_DIRECTORIES "${PROJECT_SOURCE_DIR}/data/icons")
  endif()
endfunction()
