#!/usr/bin/env bash
# Builds the Debian package pairwell_<version>_amd64.deb in the build folder
# (default build-package) and prints its path.
# Usage: scripts/package.sh [build-folder] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${1:-build-package}
shift || true
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPAIRWELL_TESTS=OFF "$@" >/dev/null
cmake --build "$build" -j "$(nproc)" >&2
(cd "$build" && rm -f pairwell_*.deb && cpack -G DEB >&2)
ls "$PWD/$build"/pairwell_*_amd64.deb
