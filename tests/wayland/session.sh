#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One headless Wayland compositor for the end-to-end cases on a Wayland
# desktop, started once for the whole test run and ended after it:
#   session.sh start DIR sway WLINPUT
#   session.sh start DIR mutter
#   session.sh stop DIR
# DIR/session then holds the NAME=value settings a client of it needs, and
# the commands the harness drives it with: SHOT prints a binary PPM of the
# screen, INPUT takes tools/wlinput's line protocol, CLOSE asks the
# program's window to close (on sway, every window there is, whichever has
# the focus: SDL 1.2.15's full-screen window through Xwayland does not
# always get it). Neither compositor will run as root, so under root it
# runs as nobody, and so does the program (the harness starts a copy of it
# as the owner of the session's runtime folder).
set -euo pipefail
dir=$2
# The compositor's process group: it, Xwayland and what it forked to start
# Xwayland (which outlives it unless killed).
if [ -f "$dir/session" ]; then
    kill -- -"$(cat "$dir/pid")" 2>/dev/null && sleep 0.5
    kill -KILL -- -"$(cat "$dir/pid")" 2>/dev/null || true
    rm -rf "$(sed -n 's/^XDG_RUNTIME_DIR=//p' "$dir/session")" "$dir/session"
fi
[ "$1" = stop ] && exit 0

as=()
[ "$(id -u)" -ne 0 ] || as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
mkdir -p "$dir"
# Xwayland's sockets: a system's start-up makes this folder open to all (with
# the sticky bit), and mutter refuses one that is not. Made by the first
# Xwayland as an ordinary user, it would be private.
[ -d /tmp/.X11-unix ] || mkdir -m 1777 /tmp/.X11-unix || true
runtime=$(mktemp -d /tmp/glowlattice-"$3"-XXXXXX)
session=(env -i PATH=/usr/bin:/bin HOME="$runtime" XDG_RUNTIME_DIR="$runtime")
if [ "$3" = sway ]; then
    # What sway gives the programs it starts, once Xwayland is up: "xwayland
    # force" starts it with sway rather than on a client's demand.
    cat >"$runtime/config" <<CONFIG
output * resolution 1920x1080 position 0 0
xwayland force
exec env | grep -E '^(DISPLAY|WAYLAND_DISPLAY|SWAYSOCK|XDG_RUNTIME_DIR)=' >$runtime/part && mv $runtime/part $runtime/env
CONFIG
    session+=(WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1
        sway -c "$runtime/config")
else
    # GNOME's compositor in a D-Bus session of its own, with the PipeWire
    # its screen casts go through; mutter.py, started by it once it is up,
    # holds the remote-desktop session that input and pictures go through.
    cp "$(dirname "$0")/mutter.py" "$runtime"
    session+=(dbus-run-session -- sh -c 'pipewire & wireplumber & exec "$@"' sh
        mutter --headless --wayland --virtual-monitor 1920x1080
        -- python3 "$runtime/mutter.py" serve "$runtime")
fi
[ ${#as[@]} -eq 0 ] || chown -R nobody:nogroup "$runtime"
chmod 700 "$runtime"
# Its own session, with its output in a file: the test that starts it ends
# while it runs on.
setsid "${as[@]}" "${session[@]}" >"$dir/$3.log" 2>&1 </dev/null &
echo $! >"$dir/pid"
for _ in $(seq 200); do
    [ -f "$runtime/env" ] || ! kill -0 "$(cat "$dir/pid")" 2>/dev/null && break
    sleep 0.1
done
if ! grep -q '^DISPLAY=' "$runtime/env" 2>/dev/null; then
    cat "$dir/$3.log" >&2
    echo "session: $3 did not start with Xwayland" >&2
    kill -- -"$(cat "$dir/pid")" 2>/dev/null || true
    rm -rf "$runtime"
    exit 1
fi
. "$runtime/env"
on="env XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=$WAYLAND_DISPLAY"
if [ "$3" = sway ]; then
    commands="SHOT=$on grim -t ppm -
INPUT=$on $4
CLOSE=env SWAYSOCK=$SWAYSOCK swaymsg -q '[shell=.]' kill"
else
    relay="python3 $runtime/mutter.py relay $runtime"
    # Alt+F4, mutter's own close binding.
    commands="SHOT=printf 'P6 1920 1080 255\\n' && $on timeout 20 gst-launch-1.0 -q pipewiresrc path=$NODE num-buffers=1 ! videoconvert ! video/x-raw,format=RGB ! fdsink
INPUT=$relay
CLOSE=printf 'k 65513 1\\nk 65473 1\\nk 65473 0\\nk 65513 0\\n' | $relay | grep -c ok | grep -qx 4"
fi
printf '%s\n' "$(cat "$runtime/env")" "$commands" >"$dir/session"
