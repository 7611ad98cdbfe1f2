#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Tries the README's two commands as a new user would, in a fresh minimal
# root (tools/root.sh) of a release with the committed tree (HEAD): the test
# command, then the demo command, whose demo must run until a close request.
# Needs root.   tools/fresh.sh forky|trixie|bookworm [COMMAND]
# COMMAND runs instead (bash, in the clone, as root); FRESH_OUT=DIR is the
# root's /root/out, where it can leave what it made.
set -euo pipefail
release=${1:-}
command=${2:-}
[[ $release =~ ^(forky|trixie|bookworm)$ ]] || { echo "usage: $0 forky|trixie|bookworm [COMMAND]" >&2; exit 2; }
source "$(dirname "$0")/root.sh"
cache=${XDG_CACHE_HOME:-$HOME/.cache}/glowlattice
log=$cache/fresh-$release.log tarball=$cache/$release-mmdebstrap.tar
step="making the root"
on_exit() {
    local outcome=passed
    [ "$1" -eq 0 ] || outcome="FAILED while $step"
    printf 'fresh %s: %s in %dm%02ds (log: %s)\n' "$release" "$outcome" $((SECONDS / 60)) $((SECONDS % 60)) "$log"
}

mkdir -p "$cache"
exec > >(tee "$log") 2>&1
root_tarball "$tarball" "$release" minbase git,ca-certificates,sudo
root_new fresh-"$release" "$tarball"
[ -z "${FRESH_OUT:-}" ] || root_bind "$FRESH_OUT" /root/out

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
# the server resets when its last client leaves, as a desktop's never does,
# and turns connections away meanwhile: SDL 1.2.15 opens the display once
# to see that it is there, closes it, and opens it again.
step="running the demo command"
inside '
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
