#!/usr/bin/env bash
# Builds the Debian package pairwell_<version>_amd64.deb (cpack -G DEB) in the
# build folder and prints its path. A new folder (default build-package) is
# configured without the tests; an existing one, such as scripts/test.sh's
# "build", is packaged as it is built.
# Usage: scripts/package.sh [build-folder] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh >&2
build=${1:-build-package}
shift || true
options=(-G Ninja -DCMAKE_BUILD_TYPE=Release)
[ -f "$build/CMakeCache.txt" ] || options+=(-DPAIRWELL_TESTS=OFF)
cmake -S . -B "$build" "${options[@]}" "$@" >&2
cmake --build "$build" -j "$(nproc)" >&2
(cd "$build" && rm -f pairwell_*.deb && cpack -G DEB >&2)
ls "$PWD/$build"/pairwell_*_amd64.deb
