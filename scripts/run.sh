#!/usr/bin/env bash
# Installs what is missing, builds in Release and starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: starting Pairwell under xvfb-run, so its scheduled jobs still run on this server."
    exec xvfb-run -a build/bin/pairwell
fi
exec build/bin/pairwell
