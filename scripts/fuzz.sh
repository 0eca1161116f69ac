#!/usr/bin/env bash
# Runs one of the project's libFuzzer targets under AddressSanitizer +
# UndefinedBehaviorSanitizer.
# Usage: scripts/fuzz.sh TARGET SECONDS [extra libFuzzer options...]
#   images   DecodeImageFromMemory (bitmap, icon and JPEG paths, then a full
#            read-back); seed corpus tests/image/fuzz/corpus
#   deflate  the capture's run-and-literal deflate coder: random and
#            structured frames (raw bytes, runs, filtered pictures) must
#            inflate back exactly through zlib; seed corpus
#            tests/capture/fuzz/corpus
# Builds with clang++ in build-fuzz/, starts from the committed seed corpus
# (never written to) plus the inputs kept by earlier runs in
# build-fuzz/TARGET-corpus/, and writes crash reproducers to
# build-fuzz/TARGET-artifacts/. Copy a reproducer into the seed corpus to
# make it part of the regression test that replays the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
usage="usage: scripts/fuzz.sh images|deflate SECONDS [libFuzzer options]"
case ${1:-} in
  images) FUZZER=image_decode_fuzzer; SEEDS=tests/image/fuzz/corpus ;;
  deflate) FUZZER=run_deflate_fuzzer; SEEDS=tests/capture/fuzz/corpus ;;
  *) echo "$usage" >&2; exit 2 ;;
esac
NAME=$1
SECONDS_TO_RUN=${2:?$usage}
shift 2
BUILD=${ZEPHYRA_FUZZ_BUILD:-build-fuzz}

cmake -S . -B "$BUILD" -DZEPHYRA_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target "$FUZZER" -j"$(nproc)"

mkdir -p "$BUILD/$NAME-corpus" "$BUILD/$NAME-artifacts"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
"$BUILD/tests/$FUZZER" \
  -max_total_time="$SECONDS_TO_RUN" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$BUILD/$NAME-artifacts/" \
  "$@" "$BUILD/$NAME-corpus" "$SEEDS"
