#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the window; without a
# display, the scheduler alone (pairwell-cli daemon), as on a server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting the scheduler without a window (pairwell-cli daemon); Ctrl+C stops it."
    exec build/bin/pairwell-cli daemon
fi
exec build/bin/pairwell
