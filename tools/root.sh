# SPDX-License-Identifier: MIT
# Fresh Debian roots for the release checks, which source this: copies of a
# tarball mmdebstrap makes once into ~/.cache/glowlattice, entered by chroot.
# On exit (after the script's on_exit STATUS, if any) what runs inside them
# is ended, their mounts detached lazily (a busy one cannot keep them), and
# only then are they deleted, never across a mount.
#   root_tarball FILE RELEASE VARIANT [PACKAGE,...]  (.tar or .tar.gz)
#   root_new NAME TARBALL [bare]   a fresh root in $root, with the committed
#                                  tree (HEAD) in /root/glowlattice unless bare
#   root_bind DIR PATH             DIR seen at PATH inside $root
#   inside COMMAND                 bash -e in the clone, as root, in a clean
#                                  environment (VAR=value arguments first)
[ "$(id -u)" -eq 0 ] || { echo "${0##*/}: needs root (mmdebstrap, mount, chroot)" >&2; exit 2; }
root_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
roots=()

root_tarball() {
    [ ! -f "$1" ] || return 0
    command -v mmdebstrap >/dev/null || apt-get install -y -q mmdebstrap
    # The archive copy serves testing's Release file past its Valid-Until
    # date (testing's is renewed weekly, the copy is not): apt in forky's
    # roots only is told to accept it.
    local options=() part
    [ "$2" != forky ] || options=(--aptopt='Acquire::Check-Valid-Until "false"')
    part=$(dirname "$1")/part-$(basename "$1")
    mkdir -p "$(dirname "$1")"
    mmdebstrap --variant="$3" --format=tar ${4:+--include="$4"} "${options[@]}" \
        "$2" "$part" http://deb.debian.org/debian
    mv "$part" "$1"
}

root_new() {
    root=$(mktemp -d /var/tmp/glowlattice-"$1"-XXXXXX)
    roots+=("$root")
    tar -C "$root" -xf "$2"
    chmod 755 "$root" # open to all its users, as a system's root is
    mount -t proc proc "$root/proc"
    for m in sys dev; do
        mount --rbind "/$m" "$root/$m"
        mount --make-rslave "$root/$m"
    done
    cp /etc/resolv.conf "$root/etc/resolv.conf"
    [ "${3:-}" = bare ] || git clone -q "$root_repo" "$root/root/glowlattice"
}

root_bind() {
    mkdir -p "$1" "$root$2"
    mount --bind "$1" "$root$2"
    mount --make-rslave "$root$2"
}

inside() {
    local env=()
    while [[ ${1:-} =~ ^[A-Z_]+=[^[:space:]]*$ ]]; do env+=("$1"); shift; done
    chroot "$root" /usr/bin/env -i HOME=/root TERM=dumb LANG=C.UTF-8 "${env[@]}" \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        bash -euc "cd /root/glowlattice 2>/dev/null || cd /root
$1"
}

root_cleanup() {
    local status=$? r p m
    trap - EXIT INT TERM HUP; trap '' PIPE # (the log's tee may be gone, as Ctrl+C ends it too)
    ! declare -F on_exit >/dev/null || on_exit $status || true
    for r in "${roots[@]}"; do
        for p in /proc/[0-9]*; do
            [ "$(readlink "$p/root" 2>/dev/null)" != "$r" ] || kill -KILL "${p#/proc/}" 2>/dev/null || true
        done
        # Deepest first; a lazy detach of one takes those below it along.
        for m in $(awk -v r="$r/" 'index($2, r) == 1 { print $2 }' /proc/self/mounts | sort -r); do
            umount -R -l "$m" 2>/dev/null || true
        done
        rm -rf --one-file-system "$r"
    done
    exit $status
}
trap root_cleanup EXIT
trap 'exit 130' INT TERM HUP PIPE
