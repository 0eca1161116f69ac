#!/usr/bin/env bash
# Installs what is missing, builds, and runs the demo from build/bin, where
# the sound library sits beside the executable.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh run
cmake -S . -B build -DZEPHYRA_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target zephyra bassmod
cd build/bin
exec ./zephyra
