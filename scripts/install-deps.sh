#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Pelorvane needs.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  librtmidi-dev libjack-jackd2-dev libfluidsynth-dev timgm6mb-soundfont
  libgtest-dev libgmock-dev libbenchmark-dev
  jackd2 midicsv clang libclang-rt-14-dev
  xvfb xauth imagemagick fonts-ipafont-gothic
  zlib1g-dev xdotool qt6-wayland
  qt6-translations-l10n openbox x11-utils wmctrl
  desktop-file-utils appstream dpkg-dev file xdg-user-dirs
  libqt6sql6-sqlite qt6-charts-dev libqt6opengl6-dev
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO apt-get update
  # jackd2 asks about realtime priority; answer without a terminal.
  echo "jackd2 jackd/tweak_rt_limits boolean false" | $SUDO debconf-set-selections
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
