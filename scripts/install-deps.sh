#!/usr/bin/env bash
# Installs every Debian package the build, the demo, the tools and the tests
# need. Idempotent: does nothing when all are present. Runs as root or via sudo.
set -euo pipefail

PACKAGES=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev
  libsdl2-dev libx11-dev libxfixes-dev libxmp-dev libopenmpt-dev libjpeg62-turbo-dev libjpeg-turbo-progs
  libgl1-mesa-dri libglu1-mesa-dev libegl-dev libegl-mesa0 mesa-utils
  xvfb xauth xfonts-base xdotool x11-apps x11-utils imagemagick
  python3-pil python3-numpy sox ffmpeg libpng-dev libdeflate-dev libspng-dev zlib1g-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
