#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the .deb (tools/deb.sh), holds it to lintian, checks its metadata,
# contents and debug symbols, and starts the unpacked demo through its launcher.
#   package_test.sh PYTEST...    (the end-to-end suite's command)
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
scratch=$(mktemp -d /tmp/glowlattice-deb-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

# Its build's own run of the unit tests is left out: this run has them.
DEB_BUILD_OPTIONS=nocheck bash "$repo/tools/deb.sh" "$scratch/out" >"$scratch/build.log" 2>&1 ||
    { cat "$scratch/build.log"; fail "the package did not build"; }
deb=$(ls "$scratch"/out/glowlattice_*.deb)
dbgsym=$(ls "$scratch"/out/glowlattice-dbgsym_*.deb)
lintian --fail-on error,warning --display-info "$deb" || fail "lintian"

# Its dependencies computed from the libraries linked, plus libgl1 that SDL opens itself.
info=$(dpkg-deb -I "$deb")
for want in 'Package: glowlattice$' 'Section: games$' 'Depends:.*\b'{libc6,libsdl1.2debian,libopengl0,libglu1-mesa,libgl1}'\b'; do
    grep -q "^ $want" <<<"$info" || fail "no '$want' in: $info"
done

# Every file, with its mode; nothing more (directories aside).
diff -u - <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $1, $NF}') <<'WANT' || fail "contents differ"
-rwxr-xr-x ./usr/games/glowlattice
-rwxr-xr-x ./usr/lib/games/glowlattice/glowlattice
-rw-r--r-- ./usr/share/applications/glowlattice.desktop
-rw-r--r-- ./usr/share/doc/glowlattice/changelog.gz
-rw-r--r-- ./usr/share/doc/glowlattice/copyright
-rw-r--r-- ./usr/share/games/glowlattice/data/sprite01.bmp
-rw-r--r-- ./usr/share/icons/hicolor/64x64/apps/glowlattice.png
-rw-r--r-- ./usr/share/man/man6/glowlattice.6.gz
-rw-r--r-- ./usr/share/metainfo/example.c_seed_38fb757c.glowlattice.metainfo.xml
WANT

root=$scratch/root
dpkg-deb -x "$deb" "$root"
program=$root/usr/lib/games/glowlattice/glowlattice
# (No grep -q: a writer's broken pipe would fail under pipefail.)
! readelf -S --wide "$program" | grep -E '\.(symtab|debug_)' >/dev/null || fail "the program is not stripped"
id=$(readelf -n "$program" | awk '/Build ID/ {print $3}')
dpkg-deb -c "$dbgsym" | grep "/usr/lib/debug/.build-id/${id:0:2}/${id:2}.debug$" >/dev/null ||
    fail "no debug symbols for build id $id in $dbgsym"

desktop-file-validate "$root/usr/share/applications/glowlattice.desktop"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml >/dev/null ||
    appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml

# On Wayland the launcher keeps SDL 1.2.15 from changing modes; a user's stands.
stub=$scratch/stub
mkdir -p "$stub/games" "$stub/lib/games/glowlattice" "$stub/share/games/glowlattice"
cp "$root/usr/games/glowlattice" "$stub/games/"
printf '#!/bin/sh\nenv | grep ^SDL_ | sort | tr "\\n" " "\n' >"$stub/lib/games/glowlattice/glowlattice"
chmod +x "$stub/lib/games/glowlattice/glowlattice"
for wayland in "" wayland-0; do
    got=$(env -i PATH="$PATH" ${wayland:+WAYLAND_DISPLAY=$wayland} SDL_MOUSE_RELATIVE=1 "$stub/games/glowlattice")
    [ "$got" = "SDL_MOUSE_RELATIVE=1 ${wayland:+SDL_VIDEO_X11_VIDMODE=0 SDL_VIDEO_X11_XRANDR=0 }" ] ||
        fail "the launcher's settings with WAYLAND_DISPLAY='$wayland': $got"
done

E2E_COMMAND=$root/usr/games/glowlattice E2E_SCREEN=1920x1080 E2E_WM=openbox "$@" -k FindsItsOwnSprite
