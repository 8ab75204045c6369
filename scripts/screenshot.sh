#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes docs/window.png: starts the window program under a virtual X server (Xvfb) with the
# simulated module, presses S (START) and auto-scroll so that live traffic shows, and captures
# the window. Needs xvfb, xauth, imagemagick, x11-utils and xdotool (not part of the build or
# the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

# Runs inside the virtual display: start the program, wait for its window, capture it.
capture() {
    cd build/screenshot
    WIRELOG_SIM=demo QT_QPA_PLATFORM=xcb ../dev/src/ui/main/wirelog &
    local program=$!
    local title="Wirelog (TM) Protocol Analyzer - v1.003"
    local id=""
    for _ in $(seq 100); do
        id=$(xwininfo -root -tree | awk -v t="\"$title\"" 'index($0, t) { print $1; exit }')
        [ -n "$id" ] && break
        kill -0 "$program" 2>/dev/null || { echo "wirelog ended before its window showed" >&2; exit 1; }
        sleep 0.1
    done
    [ -n "$id" ] || { echo "no window appeared" >&2; kill "$program"; exit 1; }
    sleep 1 # let the first paint finish
    # S starts the capture; Tab three times from SCAN reaches the auto-scroll box, which Space
    # checks, so the newest lines stay in view.
    xdotool windowfocus --sync "$id" key s Tab Tab Tab space
    sleep 1.5 # a second and a half of demo traffic
    import -window "$id" "$root/docs/window.png"
    kill "$program"
    wait "$program" 2>/dev/null || true
}

if [ "${1:-}" = "--inside-display" ]; then
    capture
    exit
fi

for tool in xvfb-run import xwininfo xdotool; do
    command -v "$tool" >/dev/null || {
        echo "screenshot.sh needs $tool (apt-get install xvfb xauth imagemagick x11-utils xdotool)" >&2
        exit 1
    }
done
scripts/deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev -j "$(nproc)" --target wirelog
mkdir -p build/screenshot
rm -f build/screenshot/wirlg000.dll

xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-display
echo "wrote docs/window.png"
