#!/usr/bin/env bash
# Builds the program and runs its main job on the bundled demo stream.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target wirelog-cli
exec build/dev/src/cli/wirelog-cli decode data/demo.txt
