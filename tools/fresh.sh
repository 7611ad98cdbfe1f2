#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Tries the README's two commands as a new user would, on a fresh minimal
# root of a Debian release: the test command, then the demo command (set-up,
# build, and the demo itself for a few seconds on an Xvfb, ended by a close
# request). The root is made with mmdebstrap once and kept as a tarball
# between runs; each run unpacks a fresh copy and clones the committed tree
# (HEAD, not the working tree) into it. Needs root.
#   tools/fresh.sh forky|trixie|bookworm [COMMAND]
# With COMMAND, runs that instead (bash, in the clone, as root). With
# FRESH_OUT=DIR set, DIR is the root's /root/out, where COMMAND can leave
# what it made.
set -euo pipefail
release=${1:-}
command=${2:-}
case "$release" in
forky | trixie | bookworm) ;;
*)
    echo "usage: $0 forky|trixie|bookworm [COMMAND]" >&2
    exit 2
    ;;
esac
[ "$(id -u)" -eq 0 ] || { echo "fresh: needs root (mount, chroot)" >&2; exit 2; }
repo=$(cd "$(dirname "$0")/.." && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/glowlattice
tarball=$cache/$release-mmdebstrap.tar
log=$cache/fresh-$release.log
began=$(date +%s)
step="making the root"
mkdir -p "$cache"
root=$(mktemp -d /var/tmp/glowlattice-fresh-"$release"-XXXXXX)

summary() {
    local secs=$(($(date +%s) - began))
    printf 'fresh %s: %s in %dm%02ds (log: %s)\n' "$release" "$1" $((secs / 60)) $((secs % 60)) "$log"
}

# Whatever happened: end what still runs inside the root, detach its mounts
# (lazily, so a busy one cannot keep it), and only then delete it.
cleanup() {
    local status=$? p
    trap - EXIT INT TERM
    for p in /proc/[0-9]*; do
        [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && kill -KILL "${p#/proc/}" 2>/dev/null
    done
    for m in proc sys dev root/out; do
        umount -R -l "$root/$m" 2>/dev/null || true
    done
    rm -rf --one-file-system "$root"
    if [ $status -eq 0 ]; then summary "passed"; else summary "FAILED while $step"; fi
    exit $status
}
trap cleanup EXIT
trap 'exit 130' INT TERM

exec > >(tee "$log") 2>&1

if [ ! -f "$tarball" ]; then
    command -v mmdebstrap >/dev/null || apt-get install -y -q mmdebstrap
    # The archive copy this is made from serves testing's Release file past
    # its Valid-Until date (testing's is renewed weekly, the copy is not):
    # apt inside forky's root only is told to accept it, while it is made
    # and after.
    options=()
    [ "$release" != forky ] || options=(--aptopt='Acquire::Check-Valid-Until "false"')
    mmdebstrap --variant=minbase --format=tar --include=git,ca-certificates,sudo "${options[@]}" \
        "$release" "$tarball.part" http://deb.debian.org/debian
    mv "$tarball.part" "$tarball"
fi
tar -C "$root" -xf "$tarball"
# A system's root is open to all its users (the package check runs as an
# ordinary user); mktemp, and a tarball made from such a root, make it private.
chmod 755 "$root"
mount -t proc proc "$root/proc"
for m in sys dev; do
    mount --rbind "/$m" "$root/$m"
    mount --make-rslave "$root/$m"
done
if [ -n "${FRESH_OUT:-}" ]; then
    mkdir -p "$FRESH_OUT" "$root/root/out"
    mount --bind "$FRESH_OUT" "$root/root/out"
    mount --make-rslave "$root/root/out"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"
git clone -q "$repo" "$root/root/glowlattice"

inside() {
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        bash -euc "cd /root/glowlattice
$1"
}

if [ -n "$command" ]; then
    step="running: ${command%%$'\n'*}"
    inside "$command"
    exit 0
fi

step="running the test command"
inside 'bash tools/test.sh'

# The demo command as written, on an Xvfb of its own: it must build, start
# and still be running a few seconds later; a close request then ends it
# with 0 (demo.sh hands its process over to the program). Without -noreset
# the server resets when its last client leaves, as a desktop's never does
# (it has others), and turns connections away meanwhile: SDL 1.2.15 opens
# the display once to see that it is there, closes it, and opens it again.
step="running the demo command"
inside '
rm -f /tmp/display
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp -noreset 3>/tmp/display 2>/dev/null &
until [ -s /tmp/display ]; do sleep 0.2; done
# As in a desktop session, which has a private runtime folder.
mkdir -p -m 700 /tmp/session
export DISPLAY=:$(cat /tmp/display) LIBGL_ALWAYS_SOFTWARE=1 XDG_RUNTIME_DIR=/tmp/session
bash tools/demo.sh &
demo=$!
for n in $(seq 600); do
    [ "$(cat /proc/$demo/comm 2>/dev/null)" = glowlattice ] && break
    kill -0 $demo 2>/dev/null || { wait $demo || echo "demo ended early: $?"; exit 1; }
    sleep 1
done
sleep 5
kill -0 $demo || { echo "the demo did not keep running"; exit 1; }
kill -TERM $demo
wait $demo
'
