#!/usr/bin/env bash
# Benchmark of zephyra-capture: full captures at 640x480@60 and 1920x1080@60,
# to PNG frames and through ffmpeg, each with the tool's timing summary
# (frames per second, ratio to real time, and where the time went: render,
# readback, music, waiting for the writer, writer busy encoding).
# Usage: tools/capture/bench_capture.sh [build dir] [scratch dir]
# Prints numbers only; nothing is asserted. Needs a few GB of scratch space
# for the 1080p PNG run.
set -euo pipefail
BUILD=$(cd "${1:-build}" && pwd)
SCRATCH=${2:-$(mktemp -d)}
mkdir -p "$SCRATCH"
cd "$BUILD/bin"
for size in 640x480 1920x1080; do
  echo "=== $size @ 60 fps, PNG frames + WAV"
  rm -rf "$SCRATCH/png_$size"
  ./zephyra-capture --size "$size" --fps 60 --quiet --timing --out "$SCRATCH/png_$size"
  du -sh "$SCRATCH/png_$size" | sed 's/^/output: /'
  rm -rf "$SCRATCH/png_$size"
  echo "=== $size @ 60 fps, H.264 + AAC through ffmpeg"
  ./zephyra-capture --size "$size" --fps 60 --quiet --timing --video "$SCRATCH/video_$size.mp4"
  ls -l "$SCRATCH/video_$size.mp4" | awk '{print "output: " $5 " bytes"}'
done
