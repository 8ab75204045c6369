#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds and runs every test: the default preset, then AddressSanitizer + UBSan on all tests,
# then ThreadSanitizer on the tests labelled "threads", then the Windows build with its tests
# under Wine, then builds and checks the Debian package. Long fuzz and soak runs are separate.
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
echo "=== package"
scripts/package-check.sh
