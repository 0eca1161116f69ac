#!/usr/bin/env bash
# The web suite: builds the page (scripts/build-web.sh), runs it in headless
# chromium (tests/web/web_test.js: the question, No, the four scenes, the
# end, Escape, no sound library, Yes, sync timing, GL errors), then compares
# its pictures with the native capture's frames at the same music times
# (tests/web/compare_frames.py; the native zephyra-capture comes from the
# plain build in build/, built here if missing).
# usage: tests/web/run.sh [scenario...]    (from anywhere)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
cd "$ROOT"
JOBS=${JOBS:-2}
# Pictures of one scene lay at most 31 apart from the native frames of their
# music time on this machine (the cube's random picture and its trail cost
# most, then the morph body's random colour); different scenes lay at least
# 66 apart. 45 sits between.
TOLERANCE=45
start=$(date +%s)

scripts/install-deps.sh web test
JOBS=$JOBS scripts/build-web.sh >/dev/null
if [ ! -x build/bin/zephyra-capture ] || [ ! -e build/bin/bassmod.so ]; then
  # On: scripts/demo.sh leaves the capture tool out of build/'s cache.
  cmake -S . -B build -DZEPHYRA_BUILD_CAPTURE=ON >/dev/null
  cmake --build build -j"$JOBS" --target zephyra-capture bassmod >/dev/null
fi
built=$(date +%s)

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
rc=0
node tests/web/web_test.js build-web/web "$WORK" "$@" || rc=1

if [ -f "$WORK/summary.json" ] && grep -q '"shots"' "$WORK/summary.json"; then
  times=$(/usr/bin/python3 tests/web/compare_frames.py times "$WORK/summary.json")
  (cd build/bin && ./zephyra-capture --out "$WORK/native" --at "$times" --quiet >/dev/null)
  /usr/bin/python3 tests/web/compare_frames.py compare "$TOLERANCE" "$WORK/summary.json" "$WORK/native" || rc=1
fi
end=$(date +%s)
echo "web suite: build $((built - start)) s, tests $((end - built)) s, $([ $rc -eq 0 ] && echo passed || echo FAILED)"
exit $rc
