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

# The upstream part of a Debian version: 1:2.1.5-2 -> 2.1.5.
upstream() { local v=${1#*:}; echo "${v%-*}"; }

# The version of an installed package, or apt's candidate.
package_version() {
  local v
  v=$(dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true)
  if [ -z "$v" ]; then
    v=$(apt-cache policy "$1" | awk '/Candidate:/ {print $2}')
  fi
  echo "$v"
}

JPEG_DEB=$(package_version libjpeg62-turbo-dev)
XMP_DEB=$(package_version libxmp-dev)
GTEST_DEB=$(package_version libgtest-dev)
JPEG_PREFIX=$CACHE/libjpeg-turbo-$(upstream "$JPEG_DEB")
XMP_PREFIX=$CACHE/libxmp-$(upstream "$XMP_DEB")
GTEST_PREFIX=$CACHE/googletest-$(upstream "$GTEST_DEB")

# ---- Debian sources through a private list --------------------------------

APT_DIR=$CACHE/apt
# As root, apt would hand the download to its sandbox user, who cannot write
# into a private folder under root's home: download as root instead.
SANDBOX=()
if [ "$(id -u)" -eq 0 ]; then SANDBOX=(-o APT::Sandbox::User=root); fi
apt_private() {
  apt-get "${SANDBOX[@]}" -o Dir::Etc::SourceList="$APT_DIR/sources.list" \
          -o Dir::Etc::SourceParts="$APT_DIR/sources.list.d" \
          -o Dir::State::Lists="$APT_DIR/lists" "$@"
}

# deb-src entries for the Debian archives the machine installs from: each
# enabled "deb" entry of its own lists, turned into "deb-src".
prepare_private_sources() {
  mkdir -p "$APT_DIR/sources.list.d" "$APT_DIR/lists/partial"
  : >"$APT_DIR/sources.list"
  rm -f "$APT_DIR"/sources.list.d/*
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb[[:space:]]' /etc/apt/sources.list | grep -i debian |
      sed -E 's/^deb([[:space:]])/deb-src\1/' >>"$APT_DIR/sources.list" || true
  fi
  local f
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    grep -qi 'debian' "$f" || continue
    case $f in
      *.list) grep -E '^deb[[:space:]]' "$f" | sed -E 's/^deb([[:space:]])/deb-src\1/' \
                >>"$APT_DIR/sources.list" || true ;;
      *.sources) sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' "$f" \
                   >"$APT_DIR/sources.list.d/$(basename "$f")" ;;
    esac
  done
}

SOURCES_READY=0
# Unpacks Debian's source package $1 at version $2 into folder $3.
fetch_source() {
  local pkg=$1 version=$2 dest=$3
  if [ $SOURCES_READY -eq 0 ]; then
    prepare_private_sources
    apt_private update -qq
    SOURCES_READY=1
  fi
  rm -rf "$dest"
  mkdir -p "$dest"
  (cd "$dest" && apt_private source -qq "$pkg=$version" >/dev/null)
}

# ---- Third-party libraries, cached by version ------------------------------

if [ ! -f "$JPEG_PREFIX/.done" ]; then
  echo "build-windows: libjpeg-turbo $JPEG_DEB"
  work=$CACHE/src/libjpeg-turbo
  fetch_source libjpeg-turbo "$JPEG_DEB" "$work"
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)
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
  src=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'libxmp-*' | head -1)
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
