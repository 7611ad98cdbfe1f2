#!/usr/bin/env bash
# Builds the .deb with CPack, checks its metadata and contents, unpacks it
# into a scratch folder and starts the demo there through its launcher.
#   package_test.sh BUILD_DIR LAUNCH_CHECK
set -euo pipefail
build=$1
check=$2
scratch=$(mktemp -d /tmp/glowlattice-deb-XXXXXX)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "package_test: $*" >&2; exit 1; }

(cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/glowlattice_*.deb)
info=$(dpkg-deb -I "$deb")
grep -qx ' Package: glowlattice' <<<"$info" || fail "package name: $info"
grep -q '^ Depends:.*libsdl1.2debian[^,]* | libsdl1.2-compat' <<<"$info" || fail "either SDL 1.2 runtime: $info"
for dep in libopengl0 libgl1 libglu1-mesa; do
    grep -q "^ Depends:.*\b$dep\b" <<<"$info" || fail "missing dependency $dep"
done
contents=$(dpkg-deb -c "$deb" | awk '{print $1, $NF}')
for want in '-rwxr-xr-x ./usr/bin/glowlattice' \
    '-rwxr-xr-x ./usr/lib/glowlattice/glowlattice' \
    '-rw-r--r-- ./usr/share/glowlattice/data/sprite01.bmp' \
    '-rw-r--r-- ./usr/share/applications/glowlattice.desktop' \
    '-rw-r--r-- ./usr/share/icons/hicolor/64x64/apps/glowlattice.png'; do
    grep -qxF -- "$want" <<<"$contents" || fail "not in the package: $want"
done

dpkg-deb -x "$deb" "$scratch/root"
desktop-file-validate "$scratch/root/usr/share/applications/glowlattice.desktop"
"$check" "$scratch/root/usr/bin/glowlattice"
