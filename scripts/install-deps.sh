#!/usr/bin/env bash
# Installs every Debian 12 package that the build, the demo and the tests
# need. Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev libqt6dbus6 qt6-tools-dev-tools
  libcurl4-openssl-dev libfreeimage3
  libgtest-dev libgmock-dev
  dbus dbus-daemon dbus-bin libglib2.0-bin systemd
  xvfb xauth x11-utils imagemagick fonts-dejavu-core
  python3 python3-pyftpdlib faketime
  python3-matplotlib gnuplot-nox
  clang libclang-rt-14-dev
  gstreamer1.0-plugins-base
  qt6-httpserver-dev qt6-websockets-dev libsystemd-dev openssl
  indi-bin libindi-dev
  chromium
  dpkg-dev fakeroot file lintian appstream desktop-file-utils
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
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "These packages are missing and I am not root: ${missing[*]}" >&2
    echo "Install them with apt-get as root, then run this again." >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
