#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# A capture's full buffer (999,999 events) into the window's log list, both ways in one run:
# the Win32 list under Wine (windows preset) and the Qt list on Linux (release preset), each
# printing its time and the resident memory it adds. The two builds come first.
set -euo pipefail
cd "$(dirname "$0")/../.."
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER-ccache}
jobs=${JOBS:-2}
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target wirelog_win32_bench >/dev/null
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target wirelog_ui_bench >/dev/null

echo "=== Win32 list, under Wine"
cmake/wine-run.sh "$PWD/build/windows/wine-prefix" build/windows/bench/win32/wirelog_win32_bench.exe
echo "=== Qt list, Linux (offscreen)"
# Only the full-buffer figures; the rest of that benchmark compares Qt views with each other.
stdbuf -oL build/release/bench/ui/wirelog_ui_bench |
    awk '/^full buffer/ { shown = 1 } shown { print } /resident memory added/ { exit }'
