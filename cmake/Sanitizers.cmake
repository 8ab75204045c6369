# SPDX-License-Identifier: MIT
# Applied globally so that every library a test links is instrumented alike; mixing
# instrumented and uninstrumented project code hides races and overflows at the seams.
if(WIRELOG_SANITIZE)
  list(JOIN WIRELOG_SANITIZE "," _wl_san)
  add_compile_options(-fsanitize=${_wl_san} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${_wl_san})
  if("undefined" IN_LIST WIRELOG_SANITIZE)
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# Fuzz builds: every library the fuzz targets reach carries libFuzzer's coverage hooks, and
# AddressSanitizer + UBSan so a bad access stops the run at its cause.
if(WIRELOG_BUILD_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined
                      -fno-sanitize-recover=undefined -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
