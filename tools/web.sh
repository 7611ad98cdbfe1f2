#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the web page with Debian's Emscripten, as a folder any static web server
# can serve and its zip: build-web/glowlattice-VERSION-web/ and .zip
#   tools/web.sh [serve]   serve: then serves it on 127.0.0.1:8000 (or WEB_PORT) until interrupted
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh web
# Emscripten's tools need Debian's node modules (acorn), which another Node.js misses.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
page=build-web/glowlattice-$(sed -n 's/^project(glowlattice VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)-web
mkdir -p build-web
if ! { emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release && cmake --build build-web -j"$(nproc)"; } >build-web/web.log 2>&1; then
    echo "web: this release's Emscripten ($(emcc --version | sed -n '1s/.*) //p')) cannot build the page (build-web/web.log says why)" >&2
    exit 1
fi
rm -rf "$page" "$page.zip"
cmake --install build-web --prefix "$page" >/dev/null
(cd build-web && cmake -E tar cf "${page#build-web/}.zip" --format=zip "${page#build-web/}")
echo "web: $page/ and $page.zip"
[ "${1:-}" = serve ] || exit 0
echo "web: serving it at http://127.0.0.1:${WEB_PORT:-8000}/ (Ctrl+C ends)"
exec python3 -m http.server --bind 127.0.0.1 --directory "$page" "${WEB_PORT:-8000}" 2>/dev/null
