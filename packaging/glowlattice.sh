#!/bin/sh
# Starts the demo inside the folder that holds its data/ (it reads
# data/sprite01.bmp relative to the working directory). Both are found from
# where this script lies, so an unpacked copy of the package works as well as
# an installed one.
here=$(dirname "$(readlink -f "$0")")
cd "$here/../share/games/glowlattice" || exit 1
exec "$here/../lib/games/glowlattice/glowlattice" "$@"
