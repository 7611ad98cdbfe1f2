#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Holds the package of the committed tree (HEAD) to Debian's own tools on one
# release: reprotest builds the .deb twice in a fresh root (tools/fresh.sh),
# varying build path, time, time zone, locale and umask, and fails unless the
# two are the same bit for bit (diffoscope's report beside them); autopkgtest
# runs debian/tests on it in a root of the release (chroot backend); piuparts
# installs, purges and checks nothing is left. Needs root. With "windows",
# reprotest holds the Windows zip (tools/windows.sh) to the same, here.
#   tools/debcheck.sh trixie|bookworm|forky|windows
# What each step made and printed stays in build/debcheck/RELEASE.
set -euo pipefail
release=${1:-}
[[ $release =~ ^(forky|trixie|bookworm|windows)$ ]] || { echo "usage: $0 trixie|bookworm|forky|windows" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
vary=-all,+build_path,+time,+timezone,+locales,+umask
mirror=http://deb.debian.org/debian
cache=${XDG_CACHE_HOME:-$HOME/.cache}
# piuparts unpacks its base with tar -z.
base=$cache/glowlattice/$release-base.tar.gz
out=$repo/build/debcheck/$release
t=$(date +%s)

# NAME VERDICT DONE COMMAND...: COMMAND's output in NAME.log; its last lines
# where it fails, else the line that says it passed and the step's time.
step() {
    local name=$1 verdict=$2 done=$3 now
    shift 3
    "$@" >"$out/$name.log" 2>&1 ||
        { tail -n 60 "$out/$name.log"; echo "debcheck $release: $name failed"; exit 1; }
    grep -o -E "$verdict" "$out/$name.log" | tail -n 1
    now=$(date +%s)
    echo "debcheck $release: $done in $((now - t)) s"
    t=$now
}
source_copy() {
    rm -rf "$out/source" "$out/autopkgtest"
    mkdir -p "$out/source"
    git -C "$repo" archive HEAD | tar -x -C "$out/source"
}
mkdir -p "$out"

if [ "$release" = windows ]; then
    rm -rf "$out/reprotest"
    source_copy
    bash "$repo/tools/setup.sh" windows
    command -v reprotest faketime >/dev/null || apt-get install -y -q --no-install-recommends \
        reprotest faketime locales-all diffoscope-minimal
    # reprotest gives each build HOME in its own copy: the cache of SDL for
    # Windows is named.
    cd "$out/source"
    step reprotest '^Reproduction successful$' "built the zip twice, the same" \
        reprotest --vary="$vary" --store-dir="$out/reprotest" \
        -c "XDG_CACHE_HOME=$cache bash tools/windows.sh --no-setup build-win" \
        . 'build-win/glowlattice-*-win64.zip' -- null
    exit 0
fi

source "$repo/tools/root.sh"
command -v autopkgtest piuparts >/dev/null ||
    apt-get install -y -q --no-install-recommends autopkgtest piuparts
[ -f "$base" ] || step base 'I: success' "made the base root" root_tarball "$base" "$release" minbase

rm -rf "$out/deb" "$out/reprotest"
step reprotest '^Reproduction successful$' "built the .deb twice, the same" \
    env FRESH_OUT="$out" bash "$repo/tools/fresh.sh" "$release" '
apt-get update -q >/dev/null
bash tools/deb.sh /root/out/deb >/root/out/deb.log 2>&1 || { tail -n 40 /root/out/deb.log; exit 1; }
DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
    reprotest faketime locales-all diffoscope-minimal >/dev/null
reprotest --vary='"$vary"' --store-dir=/root/out/reprotest . -- null'

# autopkgtest's chroot backend takes the root as it is: it mounts nothing, and
# mmdebstrap left no package lists in it (--apt-upgrade fetches them).
root_new autopkgtest "$base" bare
source_copy
step autopkgtest '^installed +(PASS|FAIL|SKIP)' "autopkgtest passed" \
    autopkgtest --apt-upgrade --output-dir "$out/autopkgtest" --no-built-binaries \
    "$out"/deb/glowlattice_*.deb "$out/source/" -- chroot "$root"

# debconf's scratch folder is made the first time apt preconfigures a package
# (one of the runtime's dependencies, on Debian 13), and is debconf's, not
# ours; Debian 12's piuparts does not know to let it be.
step piuparts 'PASS: All tests.' "piuparts passed" \
    piuparts --basetgz="$base" --distribution="$release" --mirror="$mirror" \
    --keep-sources-list --ignore=/var/cache/debconf/tmp.ci/ "$out"/deb/glowlattice_*.deb
echo "debcheck $release: passed"
