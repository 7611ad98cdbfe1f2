#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The package as a Debian user meets it, on a fresh root (run it inside the
# clone that tools/fresh.sh makes, as root): build it with the README's
# command, take the build dependencies away again, then `apt install` the
# .deb so that apt must pull in its runtime, start `glowlattice` from a
# user's PATH under Xvfb (the picture shows, Escape gives 0), purge it, and
# check that none of its files remain.
#   bash tests/package/install_check.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
export DEBIAN_FRONTEND=noninteractive
apt=(apt-get -o DPkg::Lock::Timeout=900 -q -y)
fail() { echo "install_check: $*" >&2; exit 1; }
t=$(date +%s)
lap() { local now; now=$(date +%s); echo "install_check: $1 in $((now - t)) s"; t=$now; }
installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }

"${apt[@]}" update >/dev/null
apt-mark showmanual | sort >/tmp/manual.before
bash tools/deb.sh >/tmp/deb.log 2>&1 || { tail -n 40 /tmp/deb.log; fail "tools/deb.sh"; }
deb=$(tail -n 1 /tmp/deb.log)
lap "built $deb"

# The X driver that starts the program and reads the screen, built while a
# compiler is here; then everything installed since the start goes again.
"${apt[@]}" install --no-install-recommends g++ libx11-dev libxtst-dev libxfixes-dev >/dev/null
g++ -std=c++17 -O1 -o /tmp/launch_check tests/package/launch_check.cpp tools/xdrive.cpp \
    '-DGLOWLATTICE_PROGRAM=""' -lX11 -lXtst -lXfixes
apt-mark showmanual | sort | comm -13 /tmp/manual.before - | xargs -r apt-mark auto >/dev/null
"${apt[@]}" autoremove --purge >/dev/null
"${apt[@]}" install --no-install-recommends xvfb libx11-6 libxtst6 libxfixes3 >/dev/null
! installed libsdl1.2debian || fail "the SDL 1.2 runtime is still here before the install"
lap "removed the build dependencies, installed Xvfb"

"${apt[@]}" install "$deb" >/tmp/install.log || { cat /tmp/install.log; fail "apt install"; }
installed libsdl1.2debian || fail "apt did not pull in libsdl1.2debian"
echo "install_check: apt: $(grep -Eo '[0-9]+ newly installed' /tmp/install.log)"
echo "install_check: Depends: $(dpkg-query -W -f='${Depends}' glowlattice)"
echo "install_check: SDL 1.2 runtime: $(dpkg-query -W -f='${Package} ${Version} (${source:Package})' libsdl1.2debian)"
dpkg -L glowlattice | sort >/tmp/files
lap "installed with apt"

# An ordinary user, whose login PATH has /usr/games (root's has not). The
# fresh root's top folder may come from mktemp, closed to all but root.
chmod 755 /
id player >/dev/null 2>&1 || useradd -m player
su - player -c '
    where=$(command -v glowlattice) || { echo "glowlattice is not on PATH: $PATH" >&2; exit 1; }
    echo "install_check: $where on the user'\''s PATH"
    /tmp/launch_check "$where"'
lap "ran from PATH"

"${apt[@]}" purge glowlattice >/dev/null
status=$(dpkg-query -W -f='${Status}' glowlattice 2>/dev/null || true)
case $status in '' | *' not-installed') ;; *) fail "after the purge, dpkg says: $status" ;; esac
# Whatever the package listed is gone, but for folders other packages hold.
while read -r path; do
    [ "$path" != /. ] && [ -e "$path" ] || continue
    [ -d "$path" ] && dpkg -S "$path" >/dev/null 2>&1 && continue
    fail "left behind: $path"
done </tmp/files
left=$(find / -xdev -path /root/glowlattice -prune -o -path /tmp -prune -o -name '*glowlattice*' -print)
[ -z "$left" ] || fail "left behind: $left"
lap "purged, nothing left"
echo "install_check: passed"
