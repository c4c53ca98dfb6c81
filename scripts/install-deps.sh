#!/usr/bin/env bash
# Installs what building and testing Pairwell needs on Debian 12 (non-interactive).
set -euo pipefail
# fonts-wqy-microhei: the log viewer's Chinese text in the browser.
packages=(cmake g++ ninja-build make libgtest-dev pkg-config tzdata fonts-wqy-microhei)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
