#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: the default preset, then AddressSanitizer + UBSan on all tests,
# then ThreadSanitizer on the tests labelled "threads" (only their programs are built), then the
# Windows build with its tests under Wine, then builds and checks the Debian package. Long fuzz
# and soak runs are separate.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
for preset in dev asan tsan windows; do
    echo "=== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j "$jobs"
    ctest --preset "$preset" -j "$jobs"
done
# The tsan preset builds only the "threads" programs; a program it missed would register no
# labelled tests there, so the two counts differ.
threads_tests() { ctest --preset "$1" -N -L threads | sed -n 's/^Total Tests: //p'; }
if [ "$(threads_tests tsan)" != "$(threads_tests dev)" ]; then
    echo "tsan preset builds $(threads_tests tsan) threads tests, dev has $(threads_tests dev)" >&2
    exit 1
fi
echo "=== package"
scripts/package-check.sh
