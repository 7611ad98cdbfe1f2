#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
#   setup.sh ZIP DIR WINE      unpacks and checks the zip, makes the prefix
#   setup.sh desktop DIR WINE  starts the prefix's server on DISPLAY's desktop
#   setup.sh stop DIR
set -euo pipefail
export WINEPREFIX=$2/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
case $1 in
stop) wineserver -k 2>/dev/null; exit 0 ;;
desktop)
    # Started on no display they send keys astray; started by a program they
    # would write into what a case reads as its standard error.
    wineserver -k 2>/dev/null || true
    wineserver -w
    wineserver -p >"$2/wine.log" 2>&1 </dev/null
    "$3" wineboot >>"$2/wine.log" 2>&1 </dev/null
    exit 0
    ;;
esac
zip=$1 dir=$2 wine=$3
fail() { echo "wine setup: $*" >&2; exit 1; }
trap 'fail "$BASH_COMMAND exited $?"' ERR
rm -rf "$dir/unpacked"
mkdir -p "$dir"
unzip -q "$zip" -d "$dir/unpacked"
top=$(basename "$zip" .zip)
got=$(cd "$dir/unpacked" && find . -type f | sort | tr '\n' ' ')
want="./$top/COPYING-SDL.txt ./$top/LICENSE.txt ./$top/README.txt ./$top/SDL.dll ./$top/data/sprite01.bmp ./$top/glowlattice.exe "
[ "$got" = "$want" ] || fail "the zip holds: $got"
grep -q "Escape" "$dir/unpacked/$top/README.txt" || fail "README.txt lacks the controls"
grep -q "Lesser General Public License" "$dir/unpacked/$top/COPYING-SDL.txt" || fail "no LGPL text"
# Unmanaged windows: with no window manager, managed ones delay each exit 4 s.
# Written into the stopped prefix's registry file: no second Wine process to
# race what wineboot leaves running.
if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    DISPLAY= "$wine" wineboot -i
    wineserver -w
    printf '\n[Software\\\\Wine\\\\X11 Driver]\n"Managed"="N"\n' >>"$WINEPREFIX/user.reg"
    touch "$WINEPREFIX/.ready"
fi
