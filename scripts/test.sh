#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite headless:
# a plain build, then AddressSanitizer + UndefinedBehaviorSanitizer, then
# ThreadSanitizer over the tests labelled "threads" (the music-sync paths),
# then the Windows cross build (scripts/build-windows.sh) with its tests run
# under Wine on an Xvfb of its own, then the release archives as a
# downloader meets them, then the browser build (scripts/build-web.sh) in
# headless chromium (tests/web/run.sh).
# ZEPHYRA_SUITES picks a subset, e.g. ZEPHYRA_SUITES="plain".
# One suite is not in the default list: ZEPHYRA_SUITES=stress repeats, under
# AddressSanitizer and ThreadSanitizer, the tests that run GL (label gl),
# the capture tests (label capture, and the tool's own under threads) and
# those labelled threads, ZEPHYRA_STRESS_REPEAT times (default 3), while a
# plain build of the project loops in a scratch folder to keep both cores
# busy; it prints each round's counts and fails if any test failed once.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
scripts/install-deps.sh capture test

SUITES=${ZEPHYRA_SUITES:-"plain asan tsan windows release web"}
JOBS=$(nproc)
export LSAN_OPTIONS="suppressions=$ROOT/tests/lsan.supp:print_suppressions=0"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$ROOT/tests/tsan.supp"
# Tests that would skip for want of what the install script just installed
# (ffmpeg, ffprobe, Pillow) fail instead (tests/common/require_all.h).
export ZEPHYRA_REQUIRE_ALL=1

# ZEPHYRA_BUILD_TESTS=ON and ZEPHYRA_BUILD_CAPTURE=ON every time:
# scripts/demo.sh configures build/ with both off, and CMake would otherwise
# keep that choice in its cache.
build() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DZEPHYRA_BUILD_TESTS=ON -DZEPHYRA_BUILD_CAPTURE=ON "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

# The stress suite's rounds (see the top). The load: a plain build of the
# project from scratch, over and over, in a folder of its own.
stress() {
  local repeat=${ZEPHYRA_STRESS_REPEAT:-3} scratch load round san dir rc log summary passed failed
  build build-asan -DZEPHYRA_SANITIZE=address
  build build-tsan -DZEPHYRA_SANITIZE=thread
  scratch=$(mktemp -d)
  # In a session of its own, so that the build's processes go with it.
  setsid bash -c 'while :; do
      rm -rf "$1/build"
      cmake -S "$2" -B "$1/build" -DZEPHYRA_BUILD_TESTS=OFF && cmake --build "$1/build" -j"$3"
    done' stress-load "$scratch" "$ROOT" "$JOBS" >/dev/null 2>&1 &
  load=$!
  # (wait reports the load's end by TERM: not a failure of the suite.)
  STRESS_CLEANUP="kill -- -$load 2>/dev/null; wait $load 2>/dev/null || true; rm -rf '$scratch'"
  trap 'eval "$STRESS_CLEANUP"' EXIT
  local total_failed=0 table=""
  for round in $(seq "$repeat"); do
    for san in asan tsan; do
      dir=build-$san
      log=$scratch/$san-$round.log
      local started=$SECONDS
      rc=0
      # shellcheck disable=SC2046
      (cd "$dir" && LP_NUM_THREADS=0 ctest --no-tests=error --output-on-failure -j"$JOBS" --timeout 1800 \
        -L 'gl|capture|threads' $([ $san = asan ] && echo -LE nosanitize)) >"$log" 2>&1 || rc=$?
      summary=$(grep -E '^[0-9]+% tests passed' "$log" | tail -1)
      failed=$(sed -nE 's/.* ([0-9]+) tests failed out of ([0-9]+)$/\1/p' <<<"$summary")
      passed=$(sed -nE 's/.* failed out of ([0-9]+)$/\1/p' <<<"$summary")
      if [ -z "$failed" ] || [ -z "$passed" ]; then
        failed=1 passed=0
        echo "stress: round $round $san: ctest gave no summary (exit $rc)"
      else
        passed=$((passed - failed))
      fi
      [ "$rc" = 0 ] || [ "$failed" -gt 0 ] || failed=1
      if [ "$failed" -gt 0 ]; then
        grep -E '^ *[0-9]+ - .*\((Failed|Timeout|Subprocess|SEGFAULT|Child aborted|Exception)' "$log" || true
        cp "$log" "$dir/stress-round-$round.log"
        echo "stress: the log is kept in $dir/stress-round-$round.log"
      fi
      table+="round $round $san: $passed passed, $failed failed, $((SECONDS - started)) s"$'\n'
      echo "stress: round $round $san: $passed passed, $failed failed, $((SECONDS - started)) s"
      total_failed=$((total_failed + failed))
    done
  done
  eval "$STRESS_CLEANUP"
  STRESS_CLEANUP=:
  echo "=== stress: $repeat round(s) under load"
  printf '%s' "$table"
  [ "$total_failed" -eq 0 ]
}

for suite in $SUITES; do
  echo "=== test suite: $suite"
  case $suite in
    plain)
      build build
      (cd build && ctest --no-tests=error --output-on-failure -j"$JOBS" --timeout 900) ;;
    asan)
      build build-asan -DZEPHYRA_SANITIZE=address
      # LP_NUM_THREADS=0 here too (Mesa renders on the calling thread, as
      # under TSan). The leak check's tracer crashes once blamed on Mesa's
      # workers came from the runtime misreading thread-local blocks; the
      # build mends that itself (cmake/sanitizer_options.c).
      (cd build-asan && LP_NUM_THREADS=0 ctest --no-tests=error --output-on-failure -j"$JOBS" --timeout 1800 -LE nosanitize) ;;
    tsan)
      build build-tsan -DZEPHYRA_SANITIZE=thread
      # LP_NUM_THREADS=0: Mesa's software rasteriser draws on the calling
      # thread; its own worker threads synchronise in ways TSan cannot see
      # (reports inside swrast_dri at context teardown). Pixels are the same.
      (cd build-tsan && LP_NUM_THREADS=0 ctest --no-tests=error --output-on-failure -j"$JOBS" --timeout 1800 -L threads) ;;
    release)
      scripts/install-deps.sh capture windows release
      tests/release/archive_test.sh ;;
    web)
      JOBS=$JOBS tests/web/run.sh ;;
    windows)
      JOBS=$JOBS scripts/build-windows.sh
      # Wine needs an X server for the GL tests; one of our own, and one
      # Wine session on it for the whole suite (cmake/wine-run.sh says why),
      # both stopped when the suite ends. The window tests (label xvfb) run
      # one at a time after the rest: they check focus and the foreground
      # window, which a window of a test beside them can take.
      xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
        cd build-win
        trap "WINEPREFIX=\$PWD/wine/prefix wineserver -k 2>/dev/null || true" EXIT
        rm -f wine/silent-exits.log
        ../cmake/wine-run.sh wine --session
        ctest --no-tests=error --output-on-failure -j2 --timeout 600 -LE xvfb; rc=$?
        ctest --no-tests=error --output-on-failure --timeout 600 -L xvfb || rc=1
        if [ -s wine/silent-exits.log ]; then
          echo "Programs that failed under Wine without a word (each failed its test):"
          cat wine/silent-exits.log
          rc=1
        fi
        exit $rc' ;;
    stress) stress ;;
    *) echo "unknown suite $suite"; exit 2 ;;
  esac
done
