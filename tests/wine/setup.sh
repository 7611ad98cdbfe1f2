#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Unpacks the Windows zip into a fresh scratch folder and checks it holds
# what a user needs and nothing more; makes the Wine prefix the tests run
# in, once per build folder (about 15 s and 700 MB), and starts its server
# and Wine's own processes on the tests' desktop until "stop".
#   setup.sh ZIP DIR WINE SESSION    (DIR/unpacked, DIR/prefix, DIR/wine.log)
#   setup.sh stop DIR
set -euo pipefail
if [ "$1" = stop ]; then
    WINEPREFIX=$2/prefix wineserver -k 2>/dev/null || true
    exit 0
fi
zip=$1 dir=$2 wine=$3 session=$4
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
# they start again on the tests' desktop, or the programs' keys go astray.
wineserver -k 2>/dev/null || true
wineserver -w
# Started here and kept, Wine's services and desktop process write to this
# log: started by the first program, they would share its standard error,
# and one of Wine's drivers faulting on a busy machine printed into what a
# case reads as the program's own. (Nor may they keep the test's output
# open, or CTest waits for them.)
export "$(grep '^DISPLAY=' "$session/session")"
wineserver -p >"$dir/wine.log" 2>&1 </dev/null
"$wine" wineboot >>"$dir/wine.log" 2>&1 </dev/null
