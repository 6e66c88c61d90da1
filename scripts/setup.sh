#!/usr/bin/env bash
# Installs what Saalwacht needs on Debian 12 and builds it into build/.
# Safe to run again: packages are installed only when missing.
set -euo pipefail
cd "$(dirname "$0")/.."

PACKAGES=(
  cmake ninja-build g++ ccache pkg-config
  qt6-base-dev qt6-qpa-plugins libxcb1-dev libasio-dev libturbojpeg0-dev libsystemd-dev libx11-dev libxext-dev libvncserver-dev
  libgtest-dev libgmock-dev
  xvfb xauth xdotool x11-utils x11-xserver-utils x11vnc tigervnc-viewer tigervnc-tools imagemagick fonts-dejavu-core fontconfig iproute2
)

scripts/install-packages.sh setup "${PACKAGES[@]}"

jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j"$jobs"
