#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds the Debian package for another architecture the Debian way
# and checks it under QEMU's user-mode emulator, each in a fresh root
# (tools/root.sh) of the committed tree (HEAD):
#  1. ARCH added to dpkg, Debian's cross toolchain and the build dependencies
#     for ARCH (apt-get build-dep -a), dpkg-buildpackage -a, whose unit tests
#     run under qemu-CPU-static (debian/rules passes it to CMake);
#  2. a second root with only the package's own dependencies: the package
#     installed with apt, the end-to-end harness, natively, running it under
#     the emulator on Xvfb: the pictures, Escape, a missing sprite, and a
#     start in the installed data folder.
# Downloaded packages are kept between runs. Needs root.
#   tools/cross.sh ARCH [bookworm|trixie]   (checked: arm64, s390x, i386;
#   by default this machine's release). The packages land in
#   build/cross/ARCH/; the last line printed is the .deb's path.
set -euo pipefail
arch=${1:-}
# shellcheck source=/dev/null
release=${2:-$(. /etc/os-release && echo "${VERSION_CODENAME:-}")}
[[ $arch =~ ^[a-z0-9]+$ && $release =~ ^(bookworm|trixie)$ ]] ||
    { echo "usage: $0 ARCH [bookworm|trixie]" >&2; exit 2; }
source "$(dirname "$0")/root.sh"
cache=${XDG_CACHE_HOME:-$HOME/.cache}/glowlattice
tarball=$cache/cross-$release.tar
# One per architecture too: two runs at once would share apt's lock on it.
archives=$cache/cross-$release-$arch-debs
log=$cache/cross-$release-$arch.log
out=$root_repo/build/cross/$arch
# An X server in the program's byte order, as a machine's own display is
# (Mesa hands one of the other order its pixels unconverted): on a
# big-endian ARCH its own Xvfb, emulated, with its xkbcomp, whose keymaps
# it reads in its own byte order; told to take the harness's clients where
# it refuses the other order by default (Debian 13's).
own_order_display=$(
    cat <<'END'
xkbcomp=$(dpkg -S /usr/bin/xkbcomp | cut -d: -f1)
(cd /tmp && apt-get download -q "$xkbcomp:$arch" && dpkg-deb -x "$xkbcomp"_*_"$arch".deb /opt/$arch)
dpkg-divert --quiet --local --rename --add /usr/bin/xkbcomp
swapped=$(grep -q byteswappedclients /usr/bin/Xvfb && echo +byteswappedclients || true)
printf '#!/bin/sh\nexec qemu-%s-static /opt/%s/usr/bin/xkbcomp "$@"\n' $cpu $arch >/usr/bin/xkbcomp
printf '#!/bin/sh\nexec qemu-%s-static /usr/bin/Xvfb %s "$@"\n' $cpu "$swapped" >/usr/local/bin/Xvfb
chmod +x /usr/bin/xkbcomp /usr/local/bin/Xvfb
END
)
# Under the emulator Mesa's llvmpipe takes seconds a frame.
patience=${GLOWLATTICE_CROSS_PATIENCE:-30}

last=0 times=() step="making the root"
mark() { times+=("$1 $((SECONDS - last))s") && last=$SECONDS; } # for the summary
summary() {
    printf 'cross %s %s: %s in %dm%02ds (%s; log: %s)\n' "$arch" "$release" "$1" \
        $((SECONDS / 60)) $((SECONDS % 60)) "${times[*]:-}" "$log"
}
on_exit() { # and what a failing picture check saw, for looking at
    [ -z "$(ls -A "${root:-/nonexistent}/root/shots" 2>/dev/null)" ] || cp -r "$root/root/shots" "$out"
    [ "$1" -eq 0 ] || summary "FAILED while $step"
}

mkdir -p "$cache" "$archives" "$out"
exec > >(tee "$log") 2>&1

cross_root() { # with ARCH added to dpkg
    root_new cross-"$release-$arch" "$tarball"
    root_bind "$archives" /var/cache/apt/archives
    inside "dpkg --add-architecture $arch && apt-get update -q"
}
root_tarball "$tarball" "$release" apt git,ca-certificates,build-essential,qemu-user-static
cross_root
# QEMU's name for the CPU, where it is not GNU's (as in debian/rules).
cpu=$(inside "dpkg-architecture -a$arch -qDEB_HOST_GNU_CPU 2>/dev/null")
cpu=${cpu/powerpc64le/ppc64le}
[[ $cpu == i?86 ]] && cpu=i386
big_endian=$(inside "dpkg-architecture -a$arch -qDEB_HOST_ARCH_ENDIAN 2>/dev/null" | grep -x big || true)
server=xvfb # the X server for the checks: the native one, or ARCH's (above)
[ -z "$big_endian" ] || server="xvfb:$arch libxkbfile1:$arch"
# This kernel runs i386 programs itself, and the checks do so: under
# qemu-i386-static the squares' overlaps come out brighter than natively.
qemu="qemu-$cpu-static"
[ "$arch" != i386 ] || qemu=
mark make

step="building for $arch"
inside DEBIAN_FRONTEND=noninteractive "
apt-get install -y -q --no-install-recommends crossbuild-essential-$arch
apt-get build-dep -y -q --no-install-recommends -a $arch ./
# The emulator runs what the build makes: debhelper's word for that.
DEB_BUILD_OPTIONS=crossbuildcanrunhostbinaries dpkg-buildpackage -a $arch -b -us -uc -j2"
rm -f "$out"/*.deb
cp "$root"/root/glowlattice*_"$arch".deb "$out"/
deb=$(ls "$out"/glowlattice_*_"$arch".deb)
mark build

step="checking the installed package"
cross_root
cp "$deb" "$root/root/"
program=/usr/lib/games/glowlattice/glowlattice
inside DEBIAN_FRONTEND=noninteractive "
apt-get install -y -q --no-install-recommends python3-pytest python3-xlib python3-numpy $server
apt-get install -y -q /root/${deb##*/}"
[ -z "$big_endian" ] || inside "arch=$arch cpu=$cpu
$own_order_display"
inside "
export E2E_PATIENCE=$patience
mkdir -p /root/shots && cd /root/shots
e2e=(python3 -m pytest -p no:cacheprovider -q /root/glowlattice/tests/e2e/test_e2e.py)
# Started in the harness's scratch folder, which holds the test's sprite:
# the pictures the references show; then Escape, and a missing sprite.
E2E_COMMAND='$qemu $program' \"\${e2e[@]}\" --basetemp=/tmp/e2e-a -k 'Picture or MissingSprite'
# Started in the installed data folder, with the package's own sprite:
# centred, at rest, ended by a close request with 0.
E2E_COMMAND='/usr/bin/env -C /usr/share/games/glowlattice $qemu $program' \
    \"\${e2e[@]}\" --basetemp=/tmp/e2e-b -k FindsItsOwnSprite"
mark checks

summary passed
echo "$deb"
