#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Holds the package to Debian's own tools on one release, from the committed
# tree (HEAD): in a fresh root of that release (tools/fresh.sh) it builds the
# .deb twice with reprotest, which varies the build path, the time, the time
# zone, the locale and the umask between the two and fails unless they are
# bit for bit the same (diffoscope's report lands beside them where they
# differ); then autopkgtest runs debian/tests on that .deb in a root of the
# release (its chroot backend), and piuparts installs it, purges it and checks
# that nothing is left. Both roots come from one minimal mmdebstrap tarball.
# Needs root; a few minutes for each step. With "windows", reprotest holds
# the Windows zip (tools/windows.sh) to the same, on this machine.
#   tools/debcheck.sh trixie|bookworm|forky|windows
# What each step made and printed stays in build/debcheck/RELEASE.
set -euo pipefail
release=${1:-}
case "$release" in
forky | trixie | bookworm | windows) ;;
*)
    echo "usage: $0 trixie|bookworm|forky|windows" >&2
    exit 2
    ;;
esac
repo=$(cd "$(dirname "$0")/.." && pwd)
vary=-all,+build_path,+time,+timezone,+locales,+umask
mirror=http://deb.debian.org/debian
cache=${XDG_CACHE_HOME:-$HOME/.cache}
base=$cache/glowlattice/$release-base.tar.gz
out=$repo/build/debcheck/$release
root=
t=$(date +%s)
lap() {
    local now
    now=$(date +%s)
    echo "debcheck $release: $1 in $((now - t)) s"
    t=$now
}

cleanup() {
    [ -n "$root" ] || return 0
    umount -R -l "$root/proc" "$root/sys" "$root/dev" 2>/dev/null || true
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# piuparts unpacks its base with tar -z; the release's own mirror answers
# apt in both. Testing's Release file is past its Valid-Until on the mirror
# copy: only forky's root is told to take it anyway.
make_base() {
    [ ! -f "$base" ] || return 0
    local options=()
    [ "$release" != forky ] || options=(--aptopt='Acquire::Check-Valid-Until "false"')
    mkdir -p "$(dirname "$base")"
    mmdebstrap --variant=minbase --format=tar "${options[@]}" "$release" "$base.part" "$mirror"
    gzip -c "$base.part" >"$base.gz.part" && mv "$base.gz.part" "$base" && rm "$base.part"
    lap "made the base root"
}

# The build and its reproducibility, in a fresh root of the release.
build_twice() {
    rm -rf "$out/deb" "$out/reprotest"
    FRESH_OUT=$out bash "$repo/tools/fresh.sh" "$release" '
apt-get update -q >/dev/null
bash tools/deb.sh /root/out/deb >/root/out/deb.log 2>&1 || { tail -n 40 /root/out/deb.log; exit 1; }
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    reprotest faketime locales-all diffoscope-minimal >/dev/null
reprotest --vary='"$vary"' --store-dir=/root/out/reprotest . -- null' >"$out/build.log" 2>&1 ||
        { tail -n 60 "$out/build.log"; echo "debcheck $release: reprotest failed"; exit 1; }
    grep -x 'Reproduction successful' "$out/build.log"
    lap "built the .deb twice, the same"
}

# autopkgtest's chroot backend takes the root as it is: it mounts nothing, and
# mmdebstrap left no package lists in it (--apt-upgrade fetches them).
run_autopkgtest() {
    root=$(mktemp -d /var/tmp/glowlattice-autopkgtest-XXXXXX)
    tar -C "$root" -xzf "$base"
    chmod 755 "$root"
    mount -t proc proc "$root/proc"
    for m in sys dev; do
        mount --rbind "/$m" "$root/$m"
        mount --make-rslave "$root/$m"
    done
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    rm -rf "$out/source" "$out/autopkgtest"
    mkdir -p "$out/source"
    git -C "$repo" archive HEAD | tar -x -C "$out/source"
    autopkgtest --apt-upgrade --output-dir "$out/autopkgtest" --no-built-binaries \
        "$out"/deb/glowlattice_*.deb "$out/source/" -- chroot "$root" \
        >"$out/autopkgtest.log" 2>&1 ||
        { tail -n 60 "$out/autopkgtest.log"; echo "debcheck $release: autopkgtest failed"; exit 1; }
    grep -E '^installed +(PASS|FAIL|SKIP)' "$out/autopkgtest.log" | tail -n 1
    cleanup
    root=
    lap "autopkgtest passed"
}

# debconf's scratch folder is made the first time apt preconfigures a package
# (one of the runtime's dependencies, on Debian 13), and is debconf's, not
# ours; Debian 12's piuparts does not know to let it be.
run_piuparts() {
    piuparts --basetgz="$base" --distribution="$release" --mirror="$mirror" \
        --keep-sources-list --ignore=/var/cache/debconf/tmp.ci/ "$out"/deb/glowlattice_*.deb \
        >"$out/piuparts.log" 2>&1 ||
        { tail -n 60 "$out/piuparts.log"; echo "debcheck $release: piuparts failed"; exit 1; }
    grep -o 'PASS: All tests.' "$out/piuparts.log"
    lap "piuparts passed"
}

# The committed tree, copied; reprotest gives each build HOME in its own
# copy, so the cache of SDL for Windows is named.
zip_twice() {
    rm -rf "$out/source" "$out/reprotest"
    mkdir -p "$out/source"
    git -C "$repo" archive HEAD | tar -x -C "$out/source"
    bash "$repo/tools/setup.sh" windows
    command -v reprotest faketime >/dev/null || apt-get install -y -q --no-install-recommends \
        reprotest faketime locales-all diffoscope-minimal
    local build="XDG_CACHE_HOME=$cache bash tools/windows.sh --no-setup build-win"
    (cd "$out/source" && reprotest --vary="$vary" --store-dir="$out/reprotest" -c "$build" \
        . 'build-win/glowlattice-*-win64.zip' -- null) >"$out/build.log" 2>&1 ||
        { tail -n 60 "$out/build.log"; echo "debcheck windows: reprotest failed"; exit 1; }
    grep -x 'Reproduction successful' "$out/build.log"
    lap "built the zip twice, the same"
}

mkdir -p "$out"
if [ "$release" = windows ]; then
    zip_twice
    exit 0
fi
[ "$(id -u)" -eq 0 ] || { echo "debcheck: needs root (chroot, mount)" >&2; exit 2; }
command -v mmdebstrap autopkgtest piuparts >/dev/null ||
    apt-get install -y -q --no-install-recommends mmdebstrap autopkgtest piuparts
make_base
build_twice
run_autopkgtest
run_piuparts
echo "debcheck $release: passed"
