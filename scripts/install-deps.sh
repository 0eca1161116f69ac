#!/usr/bin/env bash
# Installs the Debian packages one use of the project needs, by set:
#   run      build and run the demo (what scripts/demo.sh installs)
#   capture  build the capture tool (its PNG and video encoders), on top of run
#   test     everything the test suites use, on top of run and capture (the default)
#   windows  the mingw-w64 cross build, Wine and X tools to run its tests, and
#            what fetching and building Debian's library sources needs
#   release  what scripts/release.sh needs besides run and windows
#   web      Emscripten for the browser build, what fetching and building
#            Debian's library sources needs, and Chromium, Node and npm for
#            the browser tests, whose npm packages (pinned in
#            tests/web/package-lock.json) it installs into tests/web/node_modules
# Several sets may be named. Idempotent: does nothing when all are present.
# Runs as root or via sudo.
set -euo pipefail

RUN_PACKAGES=(
  build-essential cmake pkg-config
  libsdl2-dev libxmp-dev libjpeg62-turbo-dev libpng-dev
  libgl1-mesa-dri libglu1-mesa-dev libegl-dev libegl-mesa0 xfonts-base
)
CAPTURE_PACKAGES=(
  "${RUN_PACKAGES[@]}"
  libdeflate-dev libyuv-dev libx264-dev libavformat-dev libavcodec-dev libavutil-dev
)
TEST_PACKAGES=(
  "${CAPTURE_PACKAGES[@]}"
  clang libclang-rt-14-dev libgtest-dev libgmock-dev
  libx11-dev libxfixes-dev libopenmpt-dev libjpeg-turbo-progs mesa-utils
  xvfb xauth xfonts-base xdotool x11-apps x11-utils imagemagick
  python3-pil python3-numpy sox ffmpeg openbox time bc procps fonts-dejavu-core
  libspng-dev zlib1g-dev libopenh264-dev
)
RELEASE_PACKAGES=(python3)
WINDOWS_PACKAGES=(
  cmake make libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64 nasm dpkg-dev
  xvfb xauth xdotool x11-utils imagemagick python3
)

WEB_PACKAGES=(
  emscripten binaryen cmake make dpkg-dev python3 zip gzip
  chromium nodejs
)

sets=("$@")
[ ${#sets[@]} -eq 0 ] && sets=(test)
wanted=()
for s in "${sets[@]}"; do
  case $s in
    run) wanted+=("${RUN_PACKAGES[@]}") ;;
    capture) wanted+=("${CAPTURE_PACKAGES[@]}") ;;
    test) wanted+=("${TEST_PACKAGES[@]}") ;;
    windows) wanted+=("${WINDOWS_PACKAGES[@]}") ;;
    release) wanted+=("${RELEASE_PACKAGES[@]}") ;;
    web) wanted+=("${WEB_PACKAGES[@]}")
         # Debian's nodejs comes without npm; a Node that brings its own keeps it.
         command -v npm >/dev/null 2>&1 || wanted+=(npm)
         want_npm=1 ;;
    *) echo "install-deps: unknown set '$s' (run, capture, test, windows, release, web)"; exit 2 ;;
  esac
done

# The browser tests' npm packages, exactly as locked; again only when the
# lock changed since the last install.
install_npm_packages() {
  [ "${want_npm:-0}" -eq 1 ] || return 0
  local dir
  dir="$(cd "$(dirname "$0")/.." && pwd)/tests/web"
  [ -f "$dir/package-lock.json" ] || return 0
  if [ -f "$dir/node_modules/.package-lock.json" ] &&
     [ "$dir/node_modules/.package-lock.json" -nt "$dir/package-lock.json" ]; then
    return 0
  fi
  echo "install-deps: npm ci in tests/web"
  (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error)
}

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  install_npm_packages
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "install-deps: installing ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
install_npm_packages
