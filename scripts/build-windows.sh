#!/usr/bin/env bash
# Cross-builds the demo for 64-bit Windows into build-win/:
#   build-win/bin/zephyra.exe  (static: imports system DLLs only)
#   build-win/bin/bassmod.dll  (the sound library, loaded by the demo at run time)
# and the Windows test programs, which CTest runs under Wine.
#
# Installs what is missing (scripts/install-deps.sh windows), fetches Debian's
# own sources of libjpeg-turbo and libxmp at the versions the Linux build uses
# (through a private apt source list; the machine's apt setup is left alone),
# cross-builds them and GoogleTest as static libraries, and caches each by
# version under ${XDG_CACHE_HOME:-$HOME/.cache}/zephyra-win, so later runs
# skip them.
#
# Environment: JOBS (parallel jobs, default 2), ZEPHYRA_WIN_BUILD (build
# folder, default build-win), ZEPHYRA_WIN_TARGETS (targets to build, default all),
# ZEPHYRA_WIN_CMAKE_ARGS (more arguments for configuring the project).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}
BUILD=${ZEPHYRA_WIN_BUILD:-build-win}
TRIPLE=x86_64-w64-mingw32
TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/zephyra-win
mkdir -p "$CACHE"

scripts/install-deps.sh windows

# ---- Versions: those of the Linux build's packages, else apt's candidates --

# shellcheck source=lib/debian-source.sh
. scripts/lib/debian-source.sh
DEBIAN_SOURCE_APT_DIR=$CACHE/apt

JPEG_DEB=$(package_version libjpeg62-turbo-dev)
XMP_DEB=$(package_version libxmp-dev)
GTEST_DEB=$(package_version libgtest-dev)
JPEG_PREFIX=$CACHE/libjpeg-turbo-$(upstream "$JPEG_DEB")
XMP_PREFIX=$CACHE/libxmp-$(upstream "$XMP_DEB")
GTEST_PREFIX=$CACHE/googletest-$(upstream "$GTEST_DEB")

# ---- Third-party libraries, cached by version ------------------------------

if [ ! -f "$JPEG_PREFIX/.done" ]; then
  echo "build-windows: libjpeg-turbo $JPEG_DEB"
  work=$CACHE/src/libjpeg-turbo
  fetch_source libjpeg-turbo "$JPEG_DEB" "$work"
  src=$(unpacked_source libjpeg-turbo "$work")
  rm -rf "$JPEG_PREFIX"
  cmake -S "$src" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$JPEG_PREFIX" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=ON \
    -DREQUIRE_SIMD=ON -DWITH_JPEG8=OFF >/dev/null
  cmake --build "$work/build" -j"$JOBS" >/dev/null
  cmake --install "$work/build" >/dev/null
  touch "$JPEG_PREFIX/.done"
  rm -rf "$work"
fi

if [ ! -f "$XMP_PREFIX/.done" ]; then
  echo "build-windows: libxmp $XMP_DEB"
  work=$CACHE/src/libxmp
  fetch_source libxmp "$XMP_DEB" "$work"
  src=$(unpacked_source libxmp "$work")
  rm -rf "$XMP_PREFIX"
  (cd "$src" &&
    ./configure --host=$TRIPLE --enable-static --disable-shared --prefix="$XMP_PREFIX" \
      CC=$TRIPLE-gcc-posix >/dev/null &&
    make -j"$JOBS" >/dev/null &&
    make install >/dev/null)
  touch "$XMP_PREFIX/.done"
  rm -rf "$work"
fi

if [ ! -f "$GTEST_PREFIX/.done" ]; then
  echo "build-windows: googletest $GTEST_DEB"
  work=$CACHE/src/googletest
  rm -rf "$work" "$GTEST_PREFIX"
  cmake -S /usr/src/googletest -B "$work" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$GTEST_PREFIX" \
    -DBUILD_GMOCK=ON -DINSTALL_GTEST=ON >/dev/null
  cmake --build "$work" -j"$JOBS" >/dev/null
  cmake --install "$work" >/dev/null
  touch "$GTEST_PREFIX/.done"
  rm -rf "$work"
fi

# ---- The project -----------------------------------------------------------

# shellcheck disable=SC2086  # ZEPHYRA_WIN_CMAKE_ARGS is a list of arguments
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
  -DCMAKE_PREFIX_PATH="$JPEG_PREFIX;$XMP_PREFIX;$GTEST_PREFIX" ${ZEPHYRA_WIN_CMAKE_ARGS:-} >/dev/null
if [ -n "${ZEPHYRA_WIN_TARGETS:-}" ]; then
  for t in $ZEPHYRA_WIN_TARGETS; do cmake --build "$BUILD" --target "$t" -j"$JOBS"; done
else
  cmake --build "$BUILD" -j"$JOBS"
fi
