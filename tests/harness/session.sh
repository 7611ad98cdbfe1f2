#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# One desktop for the end-to-end cases of a test label, started once by a
# CTest fixture before them and ended after them:
#   session.sh start DIR xvfb WxH        an X server, no window manager
#   session.sh start DIR openbox WxH     an X server with a window manager
#   session.sh start DIR sway WLINPUT    headless Wayland compositors, each
#   session.sh start DIR mutter          with Xwayland, at 1920 x 1080
#   session.sh stop DIR
# DIR/session then holds the NAME=value settings a client of it needs. A
# compositor's also holds the commands the harness drives it with: SHOT
# prints a binary PPM of the screen, INPUT takes wlinput's line protocol,
# CLOSE asks the program's window to close (on sway, every window there is,
# whichever has the focus: SDL 1.2.15's full-screen window through Xwayland
# does not always get it). Neither compositor will run as root, so under
# root it runs as nobody, and so does the program (the harness starts a
# copy of it as the owner of the session's runtime folder).
set -euo pipefail
dir=$2
# The session's process group (a compositor's: it, Xwayland and what it
# forked to start Xwayland, which outlives it unless killed), also when an
# interrupted run left it without its settings.
if [ -f "$dir/pid" ]; then
    kill -- -"$(cat "$dir/pid")" 2>/dev/null && sleep 0.5
    kill -KILL -- -"$(cat "$dir/pid")" 2>/dev/null || true
    runtime=$(sed -n 's/^XDG_RUNTIME_DIR=//p' "$dir/session" 2>/dev/null || true)
    rm -rf ${runtime:+"$runtime"} "$dir/session" "$dir/pid" "$dir/display"
fi
[ "$1" = stop ] && exit 0

mkdir -p "$dir"
case $3 in
xvfb | openbox)
    # -displayfd: the server takes the first free display itself, so that
    # suites running side by side never race for a number.
    setsid Xvfb -displayfd 3 -screen 0 "$4x24" -nolisten tcp -noreset +extension GLX \
        3>"$dir/display" >"$dir/$3.log" 2>&1 </dev/null &
    echo $! >"$dir/pid"
    for _ in $(seq 200); do
        grep -qs . "$dir/display" && xdpyinfo -display ":$(cat "$dir/display")" >/dev/null 2>&1 && break
        sleep 0.1
    done
    export DISPLAY=:$(cat "$dir/display")
    xdpyinfo >/dev/null || { cat "$dir/$3.log" >&2; echo "session: Xvfb did not start" >&2; exit 1; }
    if [ "$3" = openbox ]; then
        # As a user has it: the window manager has taken the screen (it names
        # itself on the root window) before any program maps a window.
        setsid openbox --sm-disable >>"$dir/$3.log" 2>&1 </dev/null &
        # (grep reads to the end: with -q it could leave xprop a broken pipe,
        # which pipefail would take for a failure.)
        for _ in $(seq 200); do
            xprop -root _NET_SUPPORTING_WM_CHECK | grep 'window id' >/dev/null && break
            sleep 0.1
        done
        xprop -root _NET_SUPPORTING_WM_CHECK | grep 'window id' >/dev/null ||
            { echo "session: openbox did not take the screen" >&2; exit 1; }
    fi
    echo "DISPLAY=$DISPLAY" >"$dir/session"
    exit 0
    ;;
esac
as=()
[ "$(id -u)" -ne 0 ] || as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
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
    # WirePlumber, which links a cast to its reader, gives up at once when
    # PipeWire is not listening yet: on a busy machine every picture was
    # then missing.
    cp "$(dirname "$0")/mutter.py" "$runtime"
    session+=(dbus-run-session -- sh -c 'pipewire &
        until [ -S "$XDG_RUNTIME_DIR/pipewire-0" ]; do sleep 0.05; done
        wireplumber & exec "$@"' sh
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
