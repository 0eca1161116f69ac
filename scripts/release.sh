#!/usr/bin/env bash
# Builds Release configurations and writes the three release archives to dist/:
#   zephyra-party-<version>-linux-x86_64.tar.gz  zephyra, bassmod.so, zephyra-capture,
#                                                zephyra.nfo, file_id.diz, README.txt
#   zephyra-party-<version>-win64.zip            zephyra.exe, bassmod.dll, zephyra.nfo, file_id.diz
#   zephyra-party-<version>-web.zip              the page's folder (index.html, zephyra.js,
#                                                zephyra.wasm, bassmod.wasm and the page's
#                                                own script and style), zephyra.nfo, file_id.diz
# and in each, the notices: LICENSE, THIRD-PARTY.md and licences/, the Debian
# copyright file of every library its programs link (the GPL's text too
# where a program links x264).
# Each unpacks to one folder of its own name. The archives are reproducible:
# entries sorted, owner 0, every timestamp the commit's time, no gzip name or
# time stamp, so one commit gives byte-identical archives.
# ZEPHYRA_RELEASE_TARGETS="linux windows web" picks a subset.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
TARGETS=${ZEPHYRA_RELEASE_TARGETS:-"linux windows web"}
JOBS=$(nproc)

scripts/install-deps.sh capture release
VERSION=$(sed -n 's/^project(Zephyra VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ -n "$VERSION" ] || { echo "release: no project version in CMakeLists.txt"; exit 2; }
# The commit's time stamps every entry (scripts/release-stamp.sh says when
# it is the epoch instead, and fails when it cannot be read).
EPOCH=$(scripts/release-stamp.sh) || { echo "release: no time stamp for the archives"; exit 2; }
echo "release: time stamp $EPOCH"
# The linker and strip stamp Windows executables with the time they ran
# unless told a fixed time this way.
export SOURCE_DATE_EPOCH=$EPOCH
STAGE=$ROOT/build-release/stage
mkdir -p dist
rm -rf "$STAGE"
mkdir -p "$STAGE"

# Copies the named files of an install prefix's bin/ and doc folder into one
# release folder, with plain modes (0755 programs and libraries, 0644 text).
assemble() {
  local prefix=$1 folder=$2; shift 2
  mkdir -p "$folder"
  for f in "$@"; do
    if [ -e "$prefix/bin/$f" ]; then install -m 0755 "$prefix/bin/$f" "$folder/$f"
    else install -m 0644 "$prefix/share/doc/zephyra-party/$f" "$folder/$f"; fi
  done
  touch -h -d "@$EPOCH" "$folder" "$folder"/*
}

# The notices of one release folder: the project's licence, the list of
# third-party libraries, and licences/<package>.txt for each Debian package
# named (its copyright file, which holds the licence texts).
LINUX_LICENSED="libsdl2-2.0-0 libxmp4 libjpeg62-turbo libpng16-16 libglu1-mesa libdeflate0 libyuv0 libx264-164 libavformat59 libavcodec59 libavutil57"
WINDOWS_LICENSED="libxmp4 libjpeg62-turbo mingw-w64-x86-64-dev"
WEB_LICENSED="libxmp4 libjpeg62-turbo emscripten"
notices() {
  local folder=$1; shift
  install -m 0644 LICENSE THIRD-PARTY.md "$folder/"
  mkdir -p "$folder/licences"
  for p in "$@"; do
    [ -f "/usr/share/doc/$p/copyright" ] || { echo "release: no copyright file of $p"; exit 1; }
    install -m 0644 "/usr/share/doc/$p/copyright" "$folder/licences/$p.txt"
  done
  touch -h -d "@$EPOCH" "$folder" "$folder"/* "$folder/licences" "$folder/licences"/*
}

for target in $TARGETS; do
  case $target in
    linux)
      name=zephyra-party-$VERSION-linux-x86_64
      cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DZEPHYRA_BUILD_TESTS=OFF -DZEPHYRA_BUILD_CAPTURE=ON >/dev/null
      cmake --build build-release -j"$JOBS" --target zephyra bassmod zephyra-capture release_docs
      cmake --install build-release --prefix "$STAGE/linux-prefix" --strip >/dev/null
      assemble "$STAGE/linux-prefix" "$STAGE/$name" zephyra bassmod.so zephyra-capture zephyra.nfo file_id.diz README.txt
      # shellcheck disable=SC2086
      notices "$STAGE/$name" $LINUX_LICENSED
      install -m 0644 /usr/share/common-licenses/GPL-2 "$STAGE/$name/licences/GPL-2.txt"
      touch -h -d "@$EPOCH" "$STAGE/$name/licences" "$STAGE/$name/licences/GPL-2.txt"
      tar --sort=name --mtime="@$EPOCH" --owner=0 --group=0 --numeric-owner --format=gnu \
        -C "$STAGE" -cf - "$name" | gzip -9n > "dist/$name.tar.gz"
      echo "release: dist/$name.tar.gz" ;;
    windows)
      name=zephyra-party-$VERSION-win64
      ZEPHYRA_WIN_BUILD=build-win-release ZEPHYRA_WIN_TARGETS="zephyra bassmod release_docs" \
        ZEPHYRA_WIN_CMAKE_ARGS="-DCMAKE_BUILD_TYPE=Release -DZEPHYRA_BUILD_TESTS=OFF" scripts/build-windows.sh
      cmake --install build-win-release --prefix "$STAGE/win-prefix" --strip >/dev/null
      assemble "$STAGE/win-prefix" "$STAGE/$name" zephyra.exe bassmod.dll zephyra.nfo file_id.diz
      # shellcheck disable=SC2086
      notices "$STAGE/$name" $WINDOWS_LICENSED
      /usr/bin/python3 tools/release/make_zip.py "$STAGE" "$name" "$EPOCH" "dist/$name.zip"
      echo "release: dist/$name.zip" ;;
    web)
      name=zephyra-party-$VERSION-web
      ZEPHYRA_WEB_BUILD=build-web-release JOBS=$JOBS scripts/build-web.sh >/dev/null
      # The documents come from the native configuration (text only).
      cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DZEPHYRA_BUILD_TESTS=OFF >/dev/null
      cmake --build build-release --target release_docs >/dev/null
      folder=$STAGE/$name
      mkdir -p "$folder"
      # Everything in the page's folder, as a static host would serve it.
      for f in build-web-release/web/*; do install -m 0644 "$f" "$folder/"; done
      install -m 0644 build-release/release/zephyra.nfo build-release/release/file_id.diz "$folder/"
      touch -h -d "@$EPOCH" "$folder" "$folder"/*
      # shellcheck disable=SC2086
      notices "$folder" $WEB_LICENSED
      /usr/bin/python3 tools/release/make_zip.py "$STAGE" "$name" "$EPOCH" "dist/$name.zip"
      echo "release: dist/$name.zip" ;;
    *) echo "release: unknown target $target"; exit 2 ;;
  esac
done
