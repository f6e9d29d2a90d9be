#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Kestrel needs to build, test and package, when they are missing.
# Usage: scripts/deps.sh            build and test dependencies
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
  zlib1g-dev libsodium-dev libcli11-dev libgnutls28-dev
  libgtest-dev libgmock-dev
  python3-pyftpdlib vsftpd
  dbus-daemon python3-dbus python3-gi
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl-dev
  qt6-translations-l10n
  xvfb xauth x11-utils fonts-dejavu-core faketime openbox trayer xdotool wmctrl
  help2man librsvg2-bin desktop-file-utils appstream
  debhelper dpkg-dev fakeroot lintian
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
