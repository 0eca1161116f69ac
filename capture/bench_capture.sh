#!/usr/bin/env bash
# Benchmark of zephyra-capture: for each size, the floor (--discard: render
# and read back every frame, write nothing), PNG frames + WAV, and H.264 + AAC
# coded in the tool. Each output run sits between two floor runs and is divided
# by their mean: on a shared machine the speed of the cores drifts by tens of
# percent within minutes, and a floor taken beside the output follows the
# drift. The order is floor, PNG, floor, video, floor, ... so every floor
# but the first and last serves two outputs. Prints per run the wall time,
# frames per second, ratio, output size and load average, then the tool's
# timing summary (where the time went, CPU seconds, cores busy); at the end,
# per size and output, the median ratio over the rounds with the lowest and
# highest. Prints numbers only; nothing is asserted.
#
# Usage: capture/bench_capture.sh [build dir] [scratch dir]
#   BENCH_SIZES="640x480 1920x1080"  sizes to run (at 60 fps)
#   BENCH_ROUNDS=3                    rounds of PNG and video per size
#   BENCH_ARGS="--to 20"              more options for every run (default: whole demo)
# Every round's PNG frames are kept until the last size is done: on ext4
# without a journal (this machine's root), the kernel does not reuse an
# inode for 1 minute after its file was deleted (6 minutes while the inode
# table block is still dirty), and every file created meanwhile scans past
# them, about 4 s of CPU per 640x480 run after thousands of deletions,
# which would be charged to the next round. For the same reason, start a
# benchmark at least 6 minutes after deleting files: the frames of an
# earlier one (this script deletes them at its end), and also a build or a
# test run, whose few hundred replaced files still cost about 1 s a PNG run.
# Needs about ROUNDS x 6 GB of scratch space for both sizes.
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
SCRATCH=${2:-$(mktemp -d)}
SIZES=${BENCH_SIZES:-"640x480 1920x1080"}
ROUNDS=${BENCH_ROUNDS:-3}
read -r -a EXTRA <<< "${BENCH_ARGS:-}"
mkdir -p "$SCRATCH"
cd "$BUILD/bin"

now() { date +%s.%N; }
load() { cut -d' ' -f1-3 /proc/loadavg; }

# run NAME capture options...: one capture, timed. Sets LAST_SECONDS,
# LAST_FRAMES and LAST_LOAD.
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

details() { grep -E 'time:|cpu:' "$SCRATCH/$1.log" | sed 's/^zephyra-capture: /           /'; }

# floor SIZE: a floor run; sets FLOOR and prints it.
floor() {
  run floor --size "$1" --discard
  FLOOR=$LAST_SECONDS
  printf '%-8s %8.2f s  %7.1f frames/s  %26s  load %s\n' floor "$FLOOR" "$(echo "$LAST_FRAMES / $FLOOR" | bc -l)" "" "$LAST_LOAD"
  details floor
}

# output NAME SIZE-COMMAND-RESULT: reports the output run just made against
# the floors before (BEFORE) and after (FLOOR); appends its ratio to RATIOS_NAME.
output() {
  local name=$1 size=$2 seconds=$3 frames=$4 bytes=$5
  local ratio; ratio=$(echo "2 * $seconds / ($BEFORE + $FLOOR)" | bc -l)
  printf '%-8s %8.2f s  %7.1f frames/s  %5.2fx floor  %12s  load %s\n' "$name" "$seconds" \
    "$(echo "$frames / $seconds" | bc -l)" "$ratio" "$bytes" "$OUTPUT_LOAD"
  details "$name"
  eval "RATIOS_$name+=(\"$ratio\")"
}

summary() {  # NAME: median, lowest and highest of its ratios
  local -n list="RATIOS_$1"
  local sorted; sorted=$(printf '%s\n' "${list[@]}" | sort -n)
  local n=${#list[@]}
  local median; median=$(echo "$sorted" | sed -n "$(( (n + 1) / 2 ))p")
  if (( n % 2 == 0 )); then
    median=$(echo "($median + $(echo "$sorted" | sed -n "$(( n / 2 + 1 ))p")) / 2" | bc -l)
  fi
  printf '  %-6s x floor: median %.2f, lowest %.2f, highest %.2f over %d rounds\n' "$1" "$median" \
    "$(echo "$sorted" | head -1)" "$(echo "$sorted" | tail -1)" "$n"
}

echo "zephyra-capture benchmark, $(nproc) cores, $(date -u '+%Y-%m-%d %H:%M UTC'), options: --fps 60 ${EXTRA[*]:-(whole demo)}"
for size in $SIZES; do
  RATIOS_png=() RATIOS_video=()
  echo "=== $size @ 60 fps, $ROUNDS rounds (each output divided by the mean of the floors either side)"
  floor "$size"
  for round in $(seq "$ROUNDS"); do
    echo "--- round $round"
    rm -rf "$SCRATCH/png_${size}_$round"
    run png --size "$size" --out "$SCRATCH/png_${size}_$round"
    seconds=$LAST_SECONDS frames=$LAST_FRAMES OUTPUT_LOAD=$LAST_LOAD
    bytes="$(du -sb "$SCRATCH/png_${size}_$round" | cut -f1) B"
    BEFORE=$FLOOR; floor "$size"
    output png "$size" "$seconds" "$frames" "$bytes"

    rm -f "$SCRATCH/video_$size.mp4"
    run video --size "$size" --video "$SCRATCH/video_$size.mp4"
    seconds=$LAST_SECONDS frames=$LAST_FRAMES OUTPUT_LOAD=$LAST_LOAD
    bytes="$(stat -c %s "$SCRATCH/video_$size.mp4") B"
    rm -f "$SCRATCH/video_$size.mp4"
    BEFORE=$FLOOR; floor "$size"
    output video "$size" "$seconds" "$frames" "$bytes"
  done
  echo "=== $size summary"
  summary png
  summary video
done
rm -rf "$SCRATCH"/png_*
echo "frames deleted at $(date -u '+%H:%M:%S UTC'): start the next benchmark six minutes after that"
