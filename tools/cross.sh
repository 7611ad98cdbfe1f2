#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds the Debian package for another architecture on this machine,
# the Debian way, and checks what it built under QEMU's user-mode emulator:
#  1. in a fresh root: the architecture added to dpkg, Debian's cross
#     toolchain and the build dependencies for it (apt-get build-dep -a),
#     dpkg-buildpackage -a, whose unit tests run under qemu-CPU-static
#     (debian/rules passes it to CMake);
#  2. in a second fresh root, so that only the package's own dependencies
#     are there for it: the package installed with apt, and the end-to-end
#     harness, natively, running the installed program under the
#     emulator on Xvfb: the pictures against the references, Escape, a
#     missing sprite, and a start in the installed data folder.
# The root is made with mmdebstrap once per release and kept as a tarball;
# each root is a fresh copy of it, with the committed tree (HEAD) cloned in.
# Downloaded packages are kept between runs. Needs root.
#   tools/cross.sh ARCH [RELEASE]
# ARCH: a Debian architecture QEMU emulates (checked: arm64, s390x, i386);
# RELEASE: bookworm or trixie, by default this machine's own. The packages
# land in build/cross/ARCH/; the last line printed is the .deb's path.
set -euo pipefail
arch=${1:-}
# shellcheck source=/dev/null
release=${2:-$(. /etc/os-release && echo "${VERSION_CODENAME:-}")}
usage() {
    echo "usage: $0 ARCH [bookworm|trixie]" >&2
    exit 2
}
[[ $arch =~ ^[a-z0-9]+$ ]] || usage
case "$release" in bookworm | trixie) ;; *) usage ;; esac
[ "$(id -u)" -eq 0 ] || { echo "cross: needs root (mmdebstrap, mount, chroot)" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/glowlattice
tarball=$cache/cross-$release.tar
# One per architecture too: two runs at once would share apt's lock on it.
archives=$cache/cross-$release-$arch-debs
log=$cache/cross-$release-$arch.log
out=$repo/build/cross/$arch
# What the end-to-end harness needs, natively.
check_deps=(python3-pytest python3-xlib python3-numpy)
# The X server in the program's own byte order, as a machine's own display
# is: Mesa's software renderer hands a server of the other order its pixels
# unconverted (red and green swapped, alpha for blue). On a big-endian
# architecture that is its own Xvfb, emulated too and started by name from
# the test's session; it reads the keymap xkbcomp compiles for it in its own byte
# order, so the architecture's xkbcomp, emulated, stands in for the native
# one. A server that refuses clients of the other order by default (Debian
# 13's) is told to take the harness's.
own_order_display=$(
    cat <<'EOF'
xkbcomp=$(dpkg -S /usr/bin/xkbcomp | cut -d: -f1)
(cd /tmp && apt-get download -q "$xkbcomp:$arch" && dpkg-deb -x "$xkbcomp"_*_"$arch".deb /opt/$arch)
dpkg-divert --quiet --local --rename --add /usr/bin/xkbcomp
swapped=$(grep -q byteswappedclients /usr/bin/Xvfb && echo +byteswappedclients || true)
printf '#!/bin/sh\nexec qemu-%s-static /opt/%s/usr/bin/xkbcomp "$@"\n' $cpu $arch >/usr/bin/xkbcomp
printf '#!/bin/sh\nexec qemu-%s-static /usr/bin/Xvfb %s "$@"\n' $cpu "$swapped" >/usr/local/bin/Xvfb
chmod +x /usr/bin/xkbcomp /usr/local/bin/Xvfb
EOF
)
# The picture at rest, farther and nearer, then Escape; a missing sprite.
filter='Picture or MissingSprite'
# Under the emulator Mesa's llvmpipe takes seconds a frame.
patience=${GLOWLATTICE_CROSS_PATIENCE:-30}

began=$(date +%s)
last=$began
times=()
step="making the root"
roots=()
mkdir -p "$cache" "$archives" "$out"

# Seconds since the last mark, under a name, for the summary.
mark() {
    local now
    now=$(date +%s)
    times+=("$1 $((now - last))s")
    last=$now
}

summary() {
    local secs=$(($(date +%s) - began))
    printf 'cross %s %s: %s in %dm%02ds (%s; log: %s)\n' "$arch" "$release" "$1" \
        $((secs / 60)) $((secs % 60)) "${times[*]:-}" "$log"
}

# Whatever happened: end what still runs inside the roots, detach their
# mounts (lazily, so that a busy one cannot keep them), and only then delete
# them.
cleanup() {
    local status=$? p root m
    trap - EXIT INT TERM
    for root in "${roots[@]}"; do
        # What a failing picture check saw, for looking at.
        [ -n "$(ls -A "$root/root/shots" 2>/dev/null)" ] && cp -r "$root/root/shots" "$out"
        for p in /proc/[0-9]*; do
            [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] &&
                kill -KILL "${p#/proc/}" 2>/dev/null
        done
        for m in var/cache/apt/archives proc sys dev; do
            umount -R -l "$root/$m" 2>/dev/null || true
        done
        rm -rf --one-file-system "$root"
    done
    [ $status -eq 0 ] || summary "FAILED while $step"
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

exec > >(tee "$log") 2>&1

make_tarball() {
    [ -f "$tarball" ] && return
    command -v mmdebstrap >/dev/null || apt-get install -y -q mmdebstrap
    # Git to clone the tree, the emulator; the rest each build asks for.
    mmdebstrap --variant=apt --format=tar \
        --include=git,ca-certificates,build-essential,qemu-user-static \
        "$release" "$tarball.part" http://deb.debian.org/debian
    mv "$tarball.part" "$tarball"
}

# A fresh copy of the root, in $root, with this architecture added to dpkg
# and the tree cloned into /root/glowlattice.
new_root() {
    root=$(mktemp -d /var/tmp/glowlattice-cross-"$release-$arch"-XXXXXX)
    roots+=("$root")
    tar -C "$root" -xf "$tarball"
    # Open to all its users, as a system's root is (mktemp made it private).
    chmod 755 "$root"
    mount -t proc proc "$root/proc"
    for m in sys dev; do
        mount --rbind "/$m" "$root/$m"
        mount --make-rslave "$root/$m"
    done
    mount --bind "$archives" "$root/var/cache/apt/archives"
    mount --make-rslave "$root/var/cache/apt/archives"
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    git clone -q "$repo" "$root/root/glowlattice"
    inside "dpkg --add-architecture $arch && apt-get update -q"
}

inside() {
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive PATH=/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        bash -euc "cd /root/glowlattice
$1"
}

# What dpkg knows of the architecture, asked in the root.
arch_value() {
    inside "dpkg-architecture -a$arch -q$1 2>/dev/null"
}

make_tarball
new_root
# QEMU's name for the CPU, where it is not GNU's (as in debian/rules).
cpu=$(arch_value DEB_HOST_GNU_CPU)
cpu=${cpu/powerpc64le/ppc64le}
[[ $cpu == i?86 ]] && cpu=i386
big_endian=$(arch_value DEB_HOST_ARCH_ENDIAN | grep -x big || true)
server=xvfb # the X server for the checks: the native one, or ARCH's (above)
[ -z "$big_endian" ] || server="xvfb:$arch libxkbfile1:$arch"
# This machine's kernel runs i386 programs itself, and the checks start the
# program so: under qemu-i386-static its pictures come out brighter where
# squares overlap, which the same package run natively does not show.
runs_natively=
[ "$arch" != i386 ] || runs_natively=yes
mark make

step="building for $arch"
inside "
apt-get install -y -q --no-install-recommends crossbuild-essential-$arch
apt-get build-dep -y -q --no-install-recommends -a $arch ./
# The emulator runs what the build makes: debhelper's word for that.
DEB_BUILD_OPTIONS=crossbuildcanrunhostbinaries dpkg-buildpackage -a $arch -b -us -uc -j2"
rm -f "$out"/*.deb
cp "$root"/root/glowlattice*_"$arch".deb "$out"/
deb=$(ls "$out"/glowlattice_*_"$arch".deb)
mark build

step="checking the installed package"
new_root
cp "$deb" "$root/root/"
program=/usr/lib/games/glowlattice/glowlattice
inside "
apt-get install -y -q --no-install-recommends ${check_deps[*]} $server
apt-get install -y -q /root/${deb##*/}"
[ -z "$big_endian" ] || inside "arch=$arch cpu=$cpu
$own_order_display"
inside "
qemu=\$(command -v qemu-$cpu-static)
${runs_natively:+qemu=}
export E2E_PATIENCE=$patience
mkdir -p /root/shots && cd /root/shots
e2e=(python3 -m pytest -p no:cacheprovider -q /root/glowlattice/tests/e2e/test_e2e.py)
# Started in the harness's scratch folder, which holds the test's sprite:
# the pictures the references show.
E2E_COMMAND=\"\$qemu $program\" \"\${e2e[@]}\" --basetemp=/tmp/e2e-a -k '$filter'
# Started in the installed data folder, with the package's own sprite.
E2E_COMMAND=\"/usr/bin/env -C /usr/share/games/glowlattice \$qemu $program\" \
    \"\${e2e[@]}\" --basetemp=/tmp/e2e-b -k HidesThePointer"
mark checks

summary passed
echo "$deb"
