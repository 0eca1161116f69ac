#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo from build/bin, where
# the sound library sits beside the executable. Only the demo's own packages
# (set run) are installed; the capture tool is left out of the build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake -S . -B build -DZEPHYRA_BUILD_TESTS=OFF -DZEPHYRA_BUILD_CAPTURE=OFF >/dev/null
cmake --build build -j"$(nproc)" --target zephyra bassmod
cd build/bin
exec ./zephyra
