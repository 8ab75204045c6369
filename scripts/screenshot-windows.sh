#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Takes docs/window-windows.png: wirelog.exe of the windows preset under Wine, in a Wine virtual
# desktop on a virtual X server (Xvfb), with the simulated module; presses S (START) and checks
# auto-scroll so that live traffic shows, and captures the window. Uses a Wine prefix of its
# own that draws with X (the tests' prefix has no display). Needs xvfb, xauth, imagemagick,
# x11-utils and xdotool (not part of the build or the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
prefix=$root/build/windows/screenshot-prefix
wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

capture() {
    cd "$root/build/screenshot-windows"
    [ -f "$prefix/.ready" ] || { "$wine" wineboot --init >/dev/null 2>&1; touch "$prefix/.ready"; }
    WIRELOG_SIM=demo "$wine" explorer /desktop=Wirelog,800x340 \
        "$root/build/windows/src/win32/wirelog.exe" >/dev/null 2>&1 &
    local program=$!
    local id=""
    for _ in $(seq 300); do
        id=$(xwininfo -root -tree | awk 'index($0, "\"Wirelog - Wine desktop\"") { print $1; exit }')
        [ -n "$id" ] && break
        sleep 0.1
    done
    [ -n "$id" ] || { echo "no Wine desktop appeared" >&2; kill "$program"; exit 1; }
    sleep 3 # the program starts and paints
    # A click on the window gives it the keyboard; S starts the capture; Tab three times from
    # SCAN reaches the auto-scroll box, which Space checks, so the newest lines stay in view.
    xdotool mousemove --window "$id" 300 60 click 1 sleep 0.5 key s Tab Tab Tab space
    sleep 3 # three seconds of demo traffic
    import -window "$id" "$root/docs/window-windows.png"
    kill "$program"
    "$(dirname "$wine")/wineserver" -k 2>/dev/null || wineserver -k 2>/dev/null || true
}

if [ "${1:-}" = "--inside-display" ]; then
    capture
    exit
fi

for tool in xvfb-run import xwininfo xdotool; do
    command -v "$tool" >/dev/null || {
        echo "screenshot-windows.sh needs $tool (apt-get install xvfb xauth imagemagick x11-utils xdotool)" >&2
        exit 1
    }
done
cmake --preset windows >/dev/null
cmake --build --preset windows -j 2 --target wirelog
mkdir -p build/screenshot-windows
rm -f build/screenshot-windows/wirlg000.dll
xvfb-run -a -s "-screen 0 1024x768x24" "$0" --inside-display
echo "wrote docs/window-windows.png"
