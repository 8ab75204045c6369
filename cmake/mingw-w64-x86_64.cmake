# SPDX-License-Identifier: MIT
# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads flavour, for std::thread),
# run through Wine. The C and C++ runtimes and winpthread are linked statically so the programs and
# wirlg000.dll need only the DLLs every Windows system has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_wl_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_wl_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_wl_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_wl_triple}-windres)
set(CMAKE_OBJDUMP ${_wl_triple}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${_wl_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(_wl_static_runtime "-static")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${_wl_static_runtime}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${_wl_static_runtime}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${_wl_static_runtime}")
