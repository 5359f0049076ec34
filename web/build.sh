#!/bin/sh
# Builds the web page with Debian's emscripten: web/tolbe.js and web/tolbe.wasm
# (the command-line tool as WebAssembly, with the built-in kernels) beside
# index.html, and the examples the page loads in web/examples.
#   web/build.sh            then: cd web && python3 -m http.server
# Environment: TOLBE_WEB_BUILD (default build-web), TOLBE_JOBS (parallel
# compile jobs, default 1).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${TOLBE_WEB_BUILD:-$root/build-web}
# Debian's emscripten runs its optimiser with the system node, which finds
# Debian's acorn only there.
export NODE_PATH=${NODE_PATH:-/usr/share/nodejs}
nice emcmake cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTOLBE_BUILTIN_BLAS=ON \
  -DTOLBE_BUILD_TESTS=OFF >/dev/null
nice cmake --build "$build" -j"${TOLBE_JOBS:-1}" >/dev/null
rm -rf "$root/web/examples"
mkdir -p "$root/web/examples/study"
cp "$root"/examples/*.txt "$root/web/examples/"
cp "$root"/examples/study/*.csv "$root/web/examples/study/"
echo "built: $root/web (index.html, app.js, style.css, tolbe.js, tolbe.wasm, examples)"
