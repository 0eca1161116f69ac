#!/usr/bin/env bash
# Installs every Debian package the build, the demo, the tools and the tests
# need. Idempotent: does nothing when all are present. Runs as root or via sudo.
# Arguments name package sets: "linux" (the default) and "windows" (the
# mingw-w64 cross build, Wine to run its tests, and what fetching and
# building Debian's libjpeg-turbo and libxmp sources needs).
set -euo pipefail

LINUX_PACKAGES=(
  build-essential cmake pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev
  libsdl2-dev libx11-dev libxfixes-dev libxmp-dev libopenmpt-dev libjpeg62-turbo-dev libjpeg-turbo-progs
  libgl1-mesa-dri libglu1-mesa-dev libegl-dev libegl-mesa0 mesa-utils
  xvfb xauth xfonts-base xdotool x11-apps x11-utils imagemagick
  python3-pil python3-numpy sox ffmpeg libpng-dev
)
WINDOWS_PACKAGES=(
  cmake make libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 nasm dpkg-dev
  xvfb xauth xdotool x11-utils
)

PACKAGES=()
for set in "${@:-linux}"; do
  case $set in
    linux) PACKAGES+=("${LINUX_PACKAGES[@]}") ;;
    windows) PACKAGES+=("${WINDOWS_PACKAGES[@]}") ;;
    *) echo "install-deps: unknown package set $set (linux, windows)" >&2; exit 2 ;;
  esac
done

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
