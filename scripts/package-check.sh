#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the Debian package from the package preset and checks what a user gets from it: the
# file list, the dependencies dpkg-shlibdeps found, the maintainer scripts, and the programs
# run from the unpacked tree (the simulated module listed, --version and every --help, the man
# page rendered without warnings).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh man-db desktop-file-utils
start=$SECONDS
cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)"
cpack --preset package >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/package/CMakeCache.txt)
deb=build/package/wirelog_${version}_$(dpkg --print-architecture).deb
failures=0
fail() {
    echo "package check: $*" >&2
    failures=$((failures + 1))
}
[ -f "$deb" ] || { fail "no $deb"; exit 1; }

files=$(dpkg-deb --contents "$deb" | awk '{print $6}')
for path in usr/bin/wirelog usr/bin/wirelog-cli usr/bin/libwirlg000.so \
            usr/lib/udev/rules.d/70-wirelog.rules usr/share/applications/wirelog.desktop \
            usr/share/icons/hicolor/16x16/apps/wirelog.png \
            usr/share/icons/hicolor/32x32/apps/wirelog.png \
            usr/share/icons/hicolor/48x48/apps/wirelog.png \
            usr/share/icons/hicolor/256x256/apps/wirelog.png \
            usr/share/icons/hicolor/scalable/apps/wirelog.svg \
            usr/share/man/man1/wirelog-cli.1.gz usr/share/doc/wirelog/copyright \
            usr/share/doc/wirelog/README.md usr/share/doc/wirelog/cli.md; do
    grep -qx "\./$path" <<<"$files" || fail "$path is not in the package"
done
# Nothing of the build tree (tests, benchmarks, static libraries, headers) slips in.
if unexpected=$(grep -E '\.(a|h)$|_tests?$|_bench$' <<<"$files"); then
    fail "unexpected files: $unexpected"
fi

depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6widgets6 libqt6gui6 libqt6core6 libftdi1-2 libstdc++6 libc6; do
    [[ ", $depends," == *", $package "* || ", $depends," == *", $package,"* ]] ||
        fail "Depends lacks $package: $depends"
done
for script in postinst postrm; do
    dpkg-deb --info "$deb" "$script" >/dev/null 2>&1 || fail "no $script"
done

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb --extract "$deb" "$tree"
cli=$tree/usr/bin/wirelog-cli
listed=$(WIRELOG_SIM=demo "$cli" list) || fail "wirelog-cli list failed"
[ "$listed" = "0 (s/n SIM00001)" ] || fail "wirelog-cli list gave '$listed'"
[ "$("$cli" --version)" = "wirelog-cli $version" ] || fail "wrong --version"
for command in "" decode list capture; do
    # shellcheck disable=SC2086 # the empty command is no argument
    usage=$("$cli" $command --help) || fail "'wirelog-cli $command --help' failed"
    [[ $usage == "usage: wirelog-cli ${command:-<command>}"* ]] ||
        fail "'wirelog-cli $command --help' prints no usage"
done
man_warnings=$(MANWIDTH=80 man --warnings -l "$tree/usr/share/man/man1/wirelog-cli.1.gz" 2>&1 >/dev/null)
[ -z "$man_warnings" ] || fail "the man page renders with warnings: $man_warnings"
desktop-file-validate "$tree/usr/share/applications/wirelog.desktop" || fail "bad desktop entry"

((failures == 0)) || exit 1
echo "package check: $deb passed ($((SECONDS - start)) s)"
echo "  Depends: $depends"
