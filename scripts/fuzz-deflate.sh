#!/usr/bin/env bash
# Fuzzes the capture's run-and-literal deflate coder with libFuzzer under
# AddressSanitizer + UndefinedBehaviorSanitizer: random and structured frames
# (raw bytes, runs, filtered pictures) must inflate back exactly through zlib.
# Usage: scripts/fuzz-deflate.sh SECONDS [extra libFuzzer options...]
# Builds with clang++ in build-fuzz/, starts from the committed seed corpus
# (tests/capture/fuzz/corpus, never written to) plus the inputs kept by
# earlier runs in build-fuzz/deflate-corpus/, and writes crash reproducers to
# build-fuzz/deflate-artifacts/. Copy a reproducer into the seed corpus to
# make it part of the regression test that replays the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_TO_RUN=${1:?usage: scripts/fuzz-deflate.sh SECONDS [libFuzzer options]}
shift
BUILD=${ZEPHYRA_FUZZ_BUILD:-build-fuzz}

cmake -S . -B "$BUILD" -DZEPHYRA_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target run_deflate_fuzzer -j"$(nproc)"

mkdir -p "$BUILD/deflate-corpus" "$BUILD/deflate-artifacts"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
"$BUILD/tests/run_deflate_fuzzer" \
  -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$BUILD/deflate-artifacts/" \
  "$@" "$BUILD/deflate-corpus" tests/capture/fuzz/corpus
