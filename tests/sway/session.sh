#!/usr/bin/env bash
# One headless sway for the end-to-end cases on a Wayland desktop, started
# once for the whole test run and ended after it:
#   session.sh start DIR   DIR/session then holds the NAME=value settings a
#                          client of it needs
#   session.sh stop DIR
# sway will not run as root, so under root it runs as nobody, and so does
# the program (the harness starts a copy of it as the owner of the session's
# runtime folder).
set -euo pipefail
dir=$2
# sway's process group: it, Xwayland and what it forked to start Xwayland
# (which outlives sway unless killed).
if [ -f "$dir/session" ]; then
    kill -- -"$(cat "$dir/pid")" 2>/dev/null && sleep 0.5
    kill -KILL -- -"$(cat "$dir/pid")" 2>/dev/null || true
    rm -rf "$(sed -n 's/^XDG_RUNTIME_DIR=//p' "$dir/session")" "$dir/session"
fi
[ "$1" = stop ] && exit 0

as=()
[ "$(id -u)" -ne 0 ] || as=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
mkdir -p "$dir"
runtime=$(mktemp -d /tmp/glowlattice-sway-XXXXXX)
# What sway gives the programs it starts, once Xwayland is up: "xwayland
# force" starts it with sway rather than on a client's demand.
cat >"$runtime/config" <<CONFIG
output * resolution 1920x1080 position 0 0
xwayland force
exec env | grep -E '^(DISPLAY|WAYLAND_DISPLAY|SWAYSOCK|XDG_RUNTIME_DIR)=' >$runtime/part && mv $runtime/part $runtime/env
CONFIG
[ ${#as[@]} -eq 0 ] || chown -R nobody:nogroup "$runtime"
chmod 700 "$runtime"
# Its own session, with its output in a file: the test that starts it ends
# while it runs on.
setsid "${as[@]}" env -i PATH=/usr/bin:/bin HOME="$runtime" XDG_RUNTIME_DIR="$runtime" \
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
    sway -c "$runtime/config" >"$dir/sway.log" 2>&1 </dev/null &
echo $! >"$dir/pid"
for _ in $(seq 100); do
    [ -f "$runtime/env" ] || ! kill -0 "$(cat "$dir/pid")" 2>/dev/null && break
    sleep 0.1
done
if ! grep -q '^DISPLAY=' "$runtime/env" 2>/dev/null; then
    cat "$dir/sway.log" >&2
    echo "session: sway did not start with Xwayland" >&2
    kill -- -"$(cat "$dir/pid")" 2>/dev/null || true
    rm -rf "$runtime"
    exit 1
fi
cp "$runtime/env" "$dir/session"
