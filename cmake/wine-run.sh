#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs a Windows program under Wine in the build tree's own Wine prefix:
#   wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# The prefix is created on first use; concurrent first uses wait for one creation. Wine stays
# quiet and needs no display: no debug channels, no Mono or Gecko install prompts, no X server.
# Windows are made with Wine's null graphics driver, so window programs run without a display.
set -eu
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY

wine=$(command -v wine64 || command -v wine || true)
[ -n "$wine" ] || { [ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64; }
[ -n "$wine" ] || { echo "wine-run.sh: no wine64 or wine found (apt-get install wine64)" >&2; exit 127; }

if [ ! -f "$prefix/.wirelog-null-graphics" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/.wirelog-null-graphics" ]; then
            rm -rf "$prefix"
            "$wine" wineboot --init </dev/null >/dev/null 2>&1 9>&-
            "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f \
                </dev/null >/dev/null 2>&1 9>&-
            "$(dirname "$wine")/wineserver" -w 2>/dev/null || wineserver -w 2>/dev/null || true
            touch "$prefix/.wirelog-null-graphics"
        fi
    ) 9>"$prefix.lock"
fi
# A server that lingers between test programs: otherwise one program can start while the
# server of the previous one is shutting down, and fails with "Connection reset by peer".
# The first program on a new server also starts Wine's background services, which inherit that
# program's output and live as long as the server; a caller reading the output to its end
# (ctest, test discovery) would wait for the server to go. So whoever starts the server starts
# the services too, with no output attached, and everyone else waits for that under the lock.
server="$(dirname "$wine")/wineserver"
[ -x "$server" ] || server=wineserver
(
    flock 9
    if "$server" -p30 </dev/null >/dev/null 2>&1 9>&-; then
        "$wine" wineboot </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$prefix.lock"
exec "$wine" "$@"
