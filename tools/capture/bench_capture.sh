#!/usr/bin/env bash
# Benchmark of zephyra-capture: for each size, the floor (--discard: render
# and read back every frame, write nothing), PNG frames + WAV, and H.264 + AAC
# through ffmpeg, run back to back so that each output's wall time is divided
# by the floor's of the same round. Prints per run the wall time, frames per
# second, ratio to the floor, output size and the load average, then the
# tool's timing summary (where the time went, CPU seconds, cores busy).
# Prints numbers only; nothing is asserted. On a shared machine the load of
# other jobs moves every figure: repeat (BENCH_ROUNDS) and read the spread.
#
# Usage: tools/capture/bench_capture.sh [build dir] [scratch dir]
#   BENCH_SIZES="640x480 1920x1080"  sizes to run (at 60 fps)
#   BENCH_ROUNDS=1                    rounds of floor, PNG, video per size
#   BENCH_ARGS="--to 20"              more options for every run (default: whole demo)
# Needs a few GB of scratch space for the 1920x1080 PNG run.
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
SCRATCH=${2:-$(mktemp -d)}
SIZES=${BENCH_SIZES:-"640x480 1920x1080"}
ROUNDS=${BENCH_ROUNDS:-1}
read -r -a EXTRA <<< "${BENCH_ARGS:-}"
mkdir -p "$SCRATCH"
cd "$BUILD/bin"

now() { date +%s.%N; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# run NAME OUTPUT-SIZE-COMMAND -- capture options...: one capture, timed.
# Sets LAST_SECONDS and LAST_FRAMES.
run() {
  local name=$1 log="$SCRATCH/$1.log"; shift
  local before; before=$(load)
  local t0 t1; t0=$(now)
  ./zephyra-capture --fps 60 --quiet --timing "${EXTRA[@]}" "$@" > "$log" 2>&1 || { cat "$log"; exit 1; }
  t1=$(now)
  LAST_SECONDS=$(echo "$t1 - $t0" | bc -l)
  LAST_FRAMES=$(sed -n 's/^zephyra-capture: \([0-9]*\) frames.*/\1/p' "$log")
  LAST_LOAD="$before -> $(load)"
}

report() {  # name seconds floor-seconds frames size
  printf '%-8s %8.2f s  %7.1f frames/s  %5.2fx floor  %12s  load %s\n' "$1" "$2" \
    "$(echo "$4 / $2" | bc -l)" "$(echo "$2 / $3" | bc -l)" "$5" "$LAST_LOAD"
}

details() { grep -E 'time:|cpu:' "$SCRATCH/$1.log" | sed 's/^zephyra-capture: /           /'; }

echo "zephyra-capture benchmark, $(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC'), options: --fps 60 ${EXTRA[*]:-(whole demo)}"
for size in $SIZES; do
  for round in $(seq "$ROUNDS"); do
    echo "=== $size @ 60 fps, round $round"
    run floor --size "$size" --discard
    floor=$LAST_SECONDS
    report floor "$floor" "$floor" "$LAST_FRAMES" "-"
    details floor

    rm -rf "$SCRATCH/png_$size"
    run png --size "$size" --out "$SCRATCH/png_$size"
    report png "$LAST_SECONDS" "$floor" "$LAST_FRAMES" \
      "$(du -sb "$SCRATCH/png_$size" | cut -f1) B"
    details png
    rm -rf "$SCRATCH/png_$size"

    rm -f "$SCRATCH/video_$size.mp4"
    run video --size "$size" --video "$SCRATCH/video_$size.mp4"
    report video "$LAST_SECONDS" "$floor" "$LAST_FRAMES" "$(stat -c %s "$SCRATCH/video_$size.mp4") B"
    details video
    rm -f "$SCRATCH/video_$size.mp4"
  done
done
