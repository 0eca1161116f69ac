#!/usr/bin/env bash
# Benchmark of the web build beside the native renderer, in one run; prints,
# asserts nothing. Run it on an idle machine (the numbers of a busy one
# mean little):
#   tests/web/bench_web.sh            # whole demo in the browser
#   tests/web/bench_web.sh 12         # only the first 12 s of music (a quick try)
# Builds what is missing: the page (scripts/build-web.sh) and the native
# bench_render (build/).
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cd "$ROOT"
scripts/install-deps.sh web test
JOBS=${JOBS:-2} scripts/build-web.sh >/dev/null
if [ ! -x build/bin/bench_render ]; then
  cmake -S . -B build >/dev/null
  cmake --build build -j"${JOBS:-2}" --target bench_render >/dev/null
fi
echo "=== browser (build-web/web)"
node tests/web/bench_web.js build-web/web "$@"
echo "=== native bench_render (offscreen EGL, Mesa llvmpipe)"
(cd build/bin && ./bench_render 2)
