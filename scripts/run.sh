#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the window program and starts it with the simulated capture module, which streams
# demo bus traffic once START is pressed. The program writes its adapter library
# ("wirlg000.dll") into its current directory, so it runs in a scratch directory under build/;
# a file left there by an earlier build is removed first, so the library just built is the one
# the window binds.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target wirelog
mkdir -p build/run
cd build/run
rm -f wirlg000.dll
WIRELOG_SIM=demo exec ../dev/src/ui/main/wirelog
