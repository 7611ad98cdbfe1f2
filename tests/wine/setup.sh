#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Unpacks the Windows zip into a fresh scratch folder and checks it holds
# what a user needs and nothing more; makes the Wine prefix the tests run
# in, once per build folder (about 15 s and 700 MB).
#   setup.sh ZIP DIR WINE      (DIR/unpacked, DIR/prefix)
set -euo pipefail
zip=$1 dir=$2 wine=$3
fail() { echo "wine setup: $*" >&2; exit 1; }

rm -rf "$dir/unpacked"
mkdir -p "$dir"
unzip -q "$zip" -d "$dir/unpacked"
top=$(basename "$zip" .zip)
got=$(cd "$dir/unpacked" && find . -type f | sort | tr '\n' ' ')
want="./$top/COPYING-SDL.txt ./$top/LICENSE.txt ./$top/README.txt ./$top/SDL.dll ./$top/data/sprite01.bmp ./$top/glowlattice.exe "
[ "$got" = "$want" ] || fail "the zip holds: $got"
grep -q "Escape" "$dir/unpacked/$top/README.txt" || fail "README.txt lacks the controls"
grep -q "Lesser General Public License" "$dir/unpacked/$top/COPYING-SDL.txt" || fail "no LGPL text"

# Without a window manager, Wine's managed windows make every program wait
# about 4 s before it ends; the program's own full-screen window needs none.
export WINEPREFIX=$dir/prefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= DISPLAY=
if [ ! -f "$WINEPREFIX/.ready" ]; then
    rm -rf "$WINEPREFIX"
    "$wine" wineboot -i
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null
    touch "$WINEPREFIX/.ready"
fi
# Its server and Wine's desktop process were started here with no display;
# the tests' programs must start them afresh on theirs, or their keys go
# astray.
wineserver -k 2>/dev/null || true
wineserver -w
