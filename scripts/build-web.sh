#!/usr/bin/env bash
# Builds the demo for the browser into build-web/ with Debian's Emscripten:
#   build-web/web/index.html     the page
#   build-web/web/zephyra.js     the program's JavaScript
#   build-web/web/zephyra.wasm   the program
#   build-web/web/bassmod.wasm   the sound library (a side module the program
#                                loads by name at run time)
# Serve build-web/web/ from any static web server.
#
# Installs what is missing (scripts/install-deps.sh web), fetches Debian's own
# sources of libjpeg-turbo and libxmp at the versions the Linux build uses
# (through a private apt source list; the machine's apt setup is left alone),
# builds them with emcc as static libraries, and caches each by version under
# ${XDG_CACHE_HOME:-$HOME/.cache}/zephyra-web, so later runs skip them.
#
# Environment: JOBS (parallel jobs, default 2), ZEPHYRA_WEB_BUILD (build
# folder, default build-web), ZEPHYRA_WEB_CMAKE_ARGS (more arguments for
# configuring the project), ZEPHYRA_WEB_LIBS_ONLY=1 (stop after the
# libraries; prints their prefixes).
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}
BUILD=${ZEPHYRA_WEB_BUILD:-build-web}
CACHE=${XDG_CACHE_HOME:-$HOME/.cache}/zephyra-web
mkdir -p "$CACHE"

scripts/install-deps.sh web

# Debian's emcc keeps its configuration and a frozen library cache of its own;
# nothing here needs more than those.
EMCC_VERSION=$(emcc --version | sed -nE '1s/.* ([0-9]+\.[0-9]+\.[0-9]+).*/\1/p')
# emcc's JavaScript tools need Debian's Node modules (acorn), which Debian's
# own Node finds by default and a Node from elsewhere does not.
export NODE_PATH=${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs:/usr/lib/nodejs
# CMake runs its probe programs in Node. emcmake would add a threads flag that
# newer Node versions refuse (every probe then "returns" 9), and this emcc's
# output needs Node's own fetch off to read its .wasm from disk.
EMULATOR="-DCMAKE_CROSSCOMPILING_EMULATOR=$(command -v node);--no-experimental-fetch"

# ---- Versions: those of the Linux build's packages, else apt's candidates --

# shellcheck source=lib/debian-source.sh
. scripts/lib/debian-source.sh
DEBIAN_SOURCE_APT_DIR=$CACHE/apt

JPEG_DEB=$(package_version libjpeg62-turbo-dev)
XMP_DEB=$(package_version libxmp-dev)
# The compiler's version is part of the key: a library built by another emcc
# may not link with this one's.
JPEG_PREFIX=$CACHE/libjpeg-turbo-$(upstream "$JPEG_DEB")-emcc$EMCC_VERSION
# libxmp without its depackers and ProWizard: those only unpack compressed or
# converted module files from disk, and the page plays one XM from memory.
XMP_PREFIX=$CACHE/libxmp-$(upstream "$XMP_DEB")-emcc$EMCC_VERSION-nodepackers

# ---- Third-party libraries, cached by version ------------------------------

if [ ! -f "$JPEG_PREFIX/.done" ]; then
  echo "build-web: libjpeg-turbo $JPEG_DEB"
  work=$CACHE/src/libjpeg-turbo
  fetch_source libjpeg-turbo "$JPEG_DEB" "$work"
  src=$(unpacked_source libjpeg-turbo "$work")
  rm -rf "$JPEG_PREFIX"
  # No SIMD for WebAssembly in this library's sources; the C code paths.
  emcmake cmake -S "$src" -B "$work/build" "$EMULATOR" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$JPEG_PREFIX" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF \
    -DWITH_JPEG8=OFF -DCMAKE_POSITION_INDEPENDENT_CODE=ON >/dev/null
  cmake --build "$work/build" -j"$JOBS" --target jpeg-static >/dev/null
  # Install the library and headers only: the command-line tools would need a
  # file system and are of no use on a page.
  mkdir -p "$JPEG_PREFIX/lib" "$JPEG_PREFIX/include"
  cp "$work/build/libjpeg.a" "$JPEG_PREFIX/lib/"
  cp "$src/jpeglib.h" "$src/jmorecfg.h" "$src/jerror.h" "$work/build/jconfig.h" "$JPEG_PREFIX/include/"
  touch "$JPEG_PREFIX/.done"
  rm -rf "$work"
fi

if [ ! -f "$XMP_PREFIX/.done" ]; then
  echo "build-web: libxmp $XMP_DEB"
  work=$CACHE/src/libxmp
  fetch_source libxmp "$XMP_DEB" "$work"
  src=$(unpacked_source libxmp "$work")
  rm -rf "$XMP_PREFIX"
  # Position-independent, so it can be linked into a side module.
  (cd "$src" &&
    emconfigure ./configure --host=wasm32-unknown-emscripten --enable-static --disable-shared \
      --disable-depackers --disable-prowizard \
      --prefix="$XMP_PREFIX" CFLAGS="-O2 -fPIC" >/dev/null &&
    emmake make -j"$JOBS" >/dev/null &&
    emmake make install >/dev/null)
  touch "$XMP_PREFIX/.done"
  rm -rf "$work"
fi

if [ "${ZEPHYRA_WEB_LIBS_ONLY:-0}" = 1 ]; then
  echo "$JPEG_PREFIX"
  echo "$XMP_PREFIX"
  exit 0
fi

# ---- The project -----------------------------------------------------------

# shellcheck disable=SC2086  # ZEPHYRA_WEB_CMAKE_ARGS is a list of arguments
emcmake cmake -S . -B "$BUILD" "$EMULATOR" -DCMAKE_BUILD_TYPE=Release -DZEPHYRA_BUILD_TESTS=OFF \
  -DCMAKE_PREFIX_PATH="$JPEG_PREFIX;$XMP_PREFIX" ${ZEPHYRA_WEB_CMAKE_ARGS:-} >/dev/null
cmake --build "$BUILD" -j"$JOBS"

# The page's folder: everything a static host serves, and nothing else.
out=$BUILD/web
for f in index.html zephyra.js zephyra.wasm bassmod.wasm; do
  if [ ! -f "$out/$f" ]; then
    echo "build-web: $out/$f is missing" >&2
    exit 1
  fi
done
echo "build-web: $ROOT/$out"
