# SPDX-License-Identifier: MIT
# Every project target calls wirelog_warnings() so the flags stay in one place.
function(wirelog_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  if(WIRELOG_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()
