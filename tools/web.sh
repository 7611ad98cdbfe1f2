#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs what is missing (Debian's Emscripten), builds the web page from
# the same source and leaves it as a folder and a zip that any static web
# server can serve:
#   build-web/glowlattice-VERSION-web/  and  build-web/glowlattice-VERSION-web.zip
#   tools/web.sh          build
#   tools/web.sh serve    build, then serve the folder on 127.0.0.1 (port 8000,
#                         or WEB_PORT) until interrupted
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh web
# Emscripten's JavaScript tools need Debian's node modules (acorn), which a
# Node.js from elsewhere does not look for.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs
version=$(sed -n 's/^project(glowlattice VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
page=build-web/glowlattice-$version-web
mkdir -p build-web
if ! { emcmake cmake -S . -B build-web -DCMAKE_BUILD_TYPE=Release >build-web/web.log 2>&1 &&
    cmake --build build-web -j"$(nproc)" >>build-web/web.log 2>&1; }; then
    echo "web: this release's Emscripten ($(emcc --version | sed -n '1s/.*) //p')) cannot build the page (build-web/web.log says why)" >&2
    exit 1
fi
rm -rf "$page" "$page.zip"
cmake --install build-web --prefix "$page" >/dev/null
(cd build-web && cmake -E tar cf "${page#build-web/}.zip" --format=zip "${page#build-web/}")
echo "web: $page/ and $page.zip"
if [ "${1:-}" = serve ]; then
    port=${WEB_PORT:-8000}
    echo "web: serving it at http://127.0.0.1:$port/ (Ctrl+C ends)"
    exec python3 -m http.server --bind 127.0.0.1 --directory "$page" "$port" 2>/dev/null
fi
