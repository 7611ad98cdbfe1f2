#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The Windows build's scratch copy and the Wine prefix its tests run in:
#   setup.sh ZIP DIR WINE   unpacks the zip into DIR/unpacked, checks it holds
#                           what a user needs and nothing more, and makes the
#                           prefix DIR/prefix once per build folder
#   setup.sh desktop DIR    starts the prefix's server and Wine's own
#                           processes on the desktop in DISPLAY
#   setup.sh stop DIR       ends them
set -euo pipefail
export WINEPREFIX=$2/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
case $1 in
stop)
    wineserver -k 2>/dev/null || true
    exit 0
    ;;
desktop)
    # Started with no display, they would send the programs' keys astray.
    # Started here and kept, Wine's services and desktop process write to a
    # log of their own rather than into what a case reads as the program's
    # standard error (nor may they keep the test's output open).
    wineserver -k 2>/dev/null || true
    wineserver -w
    wineserver -p >"$2/wine.log" 2>&1 </dev/null
    "$(sed -n 's/^wine=//p' "$2/wine.path")" wineboot >>"$2/wine.log" 2>&1 </dev/null
    exit 0
    ;;
esac
zip=$1 dir=$2 wine=$3
fail() { echo "wine setup: $*" >&2; exit 1; }
rm -rf "$dir/unpacked"
mkdir -p "$dir"
echo "wine=$wine" >"$dir/wine.path"
unzip -q "$zip" -d "$dir/unpacked"
top=$(basename "$zip" .zip)
got=$(cd "$dir/unpacked" && find . -type f | sort | tr '\n' ' ')
want="./$top/COPYING-SDL.txt ./$top/LICENSE.txt ./$top/README.txt ./$top/SDL.dll ./$top/data/sprite01.bmp ./$top/glowlattice.exe "
[ "$got" = "$want" ] || fail "the zip holds: $got"
grep -q "Escape" "$dir/unpacked/$top/README.txt" || fail "README.txt lacks the controls"
grep -q "Lesser General Public License" "$dir/unpacked/$top/COPYING-SDL.txt" || fail "no LGPL text"
# Without a window manager, Wine's managed windows make every program wait
# about 4 s before it ends; the program's own full-screen window needs none.
if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    DISPLAY= "$wine" wineboot -i
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    wineserver -w
    touch "$WINEPREFIX/.ready"
fi
