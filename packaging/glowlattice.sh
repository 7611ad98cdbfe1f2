#!/bin/sh
# SPDX-License-Identifier: MIT
# Starts the demo inside the folder that holds its data/ (it reads
# data/sprite01.bmp relative to the working directory). Both are found from
# where this script lies, so an unpacked copy of the package works as well as
# an installed one.
here=$(dirname "$(readlink -f "$0")")
cd "$here/../share/games/glowlattice" || exit 1
# On a Wayland desktop the original SDL 1.2 runs through Xwayland, whose
# emulated mode change stretches the 800 x 600 picture over the whole screen
# and clamps the pointer to it. Without a mode change it keeps its shape in
# the middle of the screen, as on any larger X11 screen; and it reports where
# X has the pointer, rather than summing motions from warps back to the
# middle, which Xwayland only emulates. The compatibility library changes no
# mode in any case. A user's own choice stands.
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    export SDL_VIDEO_X11_XRANDR="${SDL_VIDEO_X11_XRANDR:-0}"
    export SDL_VIDEO_X11_VIDMODE="${SDL_VIDEO_X11_VIDMODE:-0}"
    export SDL_MOUSE_RELATIVE="${SDL_MOUSE_RELATIVE:-0}"
fi
exec "$here/../lib/games/glowlattice/glowlattice" "$@"
