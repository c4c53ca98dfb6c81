#!/usr/bin/env bash
# Installs what building, testing and running Pairwell needs on Debian 12 (non-interactive).
set -euo pipefail
packages=(
    cmake g++ ninja-build make libgtest-dev pkg-config tzdata
    # The type of a FUSE-mounted device (exFAT sticks) for the time tolerance.
    libblkid-dev
    # Tests on FAT and exFAT images (run as root), and the benchmarks' peers
    # (rclone only for bench/remote/run.py).
    dosfstools exfatprogs exfat-fuse rsync rclone
    # The window: Qt 6 widgets, the embedded browser of the log page, SVG icons.
    qt6-base-dev qt6-base-dev-tools qt6-webengine-dev qt6-svg-dev libgl-dev
    # Chinese text on screen and in the log viewer.
    fonts-wqy-microhei
    # A display for machines without one (scripts/run.sh falls back to it).
    xvfb xauth
    # The accessibility test drives the window over the accessibility bus.
    dbus-daemon at-spi2-core python3-pyatspi
    # pairwell-cli daemon sends its notices, and takes their actions, over D-Bus.
    libdbus-1-dev
    # ... and sends Esc to the progress window as a person would.
    xdotool
    # Looking at the window as its user does: a tray host under Xvfb, and screenshots.
    trayer imagemagick
    # Folders on another machine go through the system's ssh; the tests start
    # a real sshd and sftp-server of their own.
    openssh-client openssh-server openssh-sftp-server
    # Verified copies hash with xxHash.
    libxxhash-dev
    # scripts/package.sh: CPack reads the package's dependencies from the programs.
    dpkg-dev file
    # The manual pages, compressed and read as a user would (groff, man), the
    # package checked by lintian and the user unit by systemd-analyze.
    gzip groff-base man-db lintian systemd
)
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
