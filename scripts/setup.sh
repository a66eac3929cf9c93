#!/usr/bin/env bash
# Installs every Debian package that building, running and testing ms42k needs.
# Idempotent: packages already present are left alone. Needs root (or sudo).
set -euo pipefail
PKGS=(
  build-essential cmake pkg-config git dpkg-dev file desktop-file-utils groff-base
  qt6-base-dev qt6-charts-dev libqt6opengl6-dev libqt6svg6
  libhidapi-dev libudev-dev
  pxlib-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth poppler-utils imagemagick
  openbox xdotool x11-utils
  fonts-dejavu-core fonts-liberation
)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "setup: all packages present"
  exit 0
fi
echo "setup: installing ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
