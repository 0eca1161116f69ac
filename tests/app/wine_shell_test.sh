#!/usr/bin/env bash
# The Windows demo under Wine and Xvfb: the "Fullscreen?" box answered No (a
# 640 x 480 client window titled "Zephyra (Party)") and Yes on a 640 x 480
# screen (full screen); screenshots of the four scenes, checked by pixel
# statistics; the end by itself at the eleventh cue, by Escape and by Alt+F4,
# each with exit code 0; without bassmod.dll a silent run on the first
# caption until Escape. Prints Wine's start-up time to the box and to the
# demo window, and the peak working set of zephyra.exe.
# usage: wine_shell_test.sh BIN_DIR [SHOT_DIR]
#   BIN_DIR holds zephyra.exe and bassmod.dll (build-win/bin).
#   SHOT_DIR keeps the screenshots (default: a temporary folder, removed).
#   ZEPHYRA_WINE_CASES: the cases to run (default: "windowed escape alt-f4
#   fullscreen silent").
#   ZEPHYRA_X_DISPLAYS: display numbers to use, e.g. "110 111" (default: any
#   free one, chosen by Xvfb).
set -u
# shellcheck source=../common/question_box.sh
source "$(dirname "$0")/../common/question_box.sh"
BIN=$(cd "$1" && pwd)
WORK=$(mktemp -d)
SHOTS=${2:-$WORK/shots}
mkdir -p "$SHOTS"
SHOTS=$(cd "$SHOTS" && pwd)
PY=/usr/bin/python3  # Debian's, with PIL and numpy
XPID=""
DPID=""
failures=0
CASES=" ${ZEPHYRA_WINE_CASES:-windowed escape alt-f4 fullscreen silent} "
wanted() { [[ $CASES == *" $1 "* ]]; }

export WINEPREFIX=$WORK/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export HOME=$WORK/home
mkdir -p "$HOME"
# ALSA to a null sink: waveOutOpen then succeeds with no sound card.
echo 'pcm.!default { type null }' >"$HOME/.asoundrc"

kill_demo() {
  if [ -n "$DPID" ]; then
    pkill -KILL -P "$DPID" 2>/dev/null
    kill -KILL "$DPID" 2>/dev/null
    wait "$DPID" 2>/dev/null
    DPID=""
  fi
}

stop_x() {
  kill_demo
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  if [ -n "$XPID" ]; then
    kill "$XPID" 2>/dev/null
    wait "$XPID" 2>/dev/null
    XPID=""
  fi
}

cleanup() {
  stop_x
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL [$CASE]: $*"
  failures=$((failures + 1))
}

now_ms() { date +%s%3N; }

# The screen is also a file (Xvfb -fbdir), which screen_watch.py reads.
start_x() {
  local screen=$1
  mkdir -p "$WORK/fb"
  for d in ${ZEPHYRA_X_DISPLAYS:-auto}; do
    rm -f "$WORK/display"
    if [ "$d" = auto ]; then
      Xvfb -displayfd 3 -screen 0 "$screen" -fbdir "$WORK/fb" -nolisten tcp -noreset 3>"$WORK/display" 2>/dev/null &
    else
      Xvfb ":$d" -screen 0 "$screen" -fbdir "$WORK/fb" -nolisten tcp -noreset 2>/dev/null &
      echo "$d" >"$WORK/display"
    fi
    XPID=$!
    for _ in $(seq 1 100); do
      [ -s "$WORK/display" ] && DISPLAY=":$(head -1 "$WORK/display")" xwininfo -root >/dev/null 2>&1 && break
      sleep 0.05
    done
    export DISPLAY=":$(head -1 "$WORK/display" 2>/dev/null)"
    if kill -0 "$XPID" 2>/dev/null && xwininfo -root >/dev/null 2>&1; then return 0; fi
    kill "$XPID" 2>/dev/null
    wait "$XPID" 2>/dev/null
  done
  echo "cannot start Xvfb"
  exit 1
}

# Starts the demo from folder $1 and notes the time.
start_demo() {
  cd "$1" || exit 1
  T_START=$(now_ms)
  timeout -s KILL 180 wine zephyra.exe >"$WORK/out" 2>"$WORK/err" &
  DPID=$!
  cd - >/dev/null || exit 1
}

# Exit code of the demo, or 124 when it has not ended within $1 seconds.
demo_exit() {
  for _ in $(seq 1 $(($1 * 20))); do
    if ! kill -0 "$DPID" 2>/dev/null; then
      wait "$DPID"
      local rc=$?
      DPID=""
      return $rc
    fi
    sleep 0.05
  done
  return 124
}

# The first top-level X window titled "Zephyra (Party)" whose size matches
# the pattern ($1, e.g. '640x480' or a box's smaller size), waiting up to $2 s.
find_titled() {
  local size=$1 line=""
  for _ in $(seq 1 $(($2 * 20))); do
    line=$(xwininfo -root -tree 2>/dev/null | grep -F '"Zephyra (Party)"' | grep -E " $size\+" | head -1)
    [ -n "$line" ] && break
    sleep 0.05
  done
  echo "$line"
}
window_id() { awk '{print $1}' <<<"$1"; }

# The question box: titled like the demo, but not 640 pixels wide.
answer_question() {
  local box
  box=$(find_titled '[0-9]{2,3}x[0-9]{2,3}' 60)
  if [ -z "$box" ] || grep -q ' 640x480+' <<<"$box"; then
    fail "no Fullscreen? box"
    return 1
  fi
  T_BOX=$(now_ms)
  answer_box "$(window_id "$box")" "$1" 30 || { fail "Fullscreen? box: $BOX_ERROR"; return 1; }
  T_ANSWER=$(now_ms)
}

expect_demo_window() {
  DEMOLINE=$(find_titled '640x480' 60)
  [ -n "$DEMOLINE" ] || { fail "no 640x480 window titled \"Zephyra (Party)\""; return 1; }
  T_WINDOW=$(now_ms)
  echo "  [$CASE] start-up: the box $((T_BOX - T_START)) ms after launch, the window $((T_WINDOW - T_ANSWER)) ms after the answer"
  # Windowed, Wine leaves room for a window manager's frame around the
  # client area (its X window), though the outer corner is at the origin.
  grep -q ' 640x480+0+0 ' <<<"$DEMOLINE" || echo "  [$CASE] window: $(awk '{print $(NF-1)}' <<<"$DEMOLINE")"
}

# Peak working set of zephyra.exe in KiB, as the kernel counts it (VmHWM),
# followed while it runs.
PEAK_KB=0
note_peak() {
  local pid hwm
  for pid in $(pgrep -f 'zephyra.exe' 2>/dev/null); do
    hwm=$(awk '/^VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null)
    [ -n "$hwm" ] && [ "$hwm" -gt "$PEAK_KB" ] && PEAK_KB=$hwm
  done
}

shot() { import -window root "$SHOTS/$1.png" 2>/dev/null; }

# Pixel statistics of a screenshot's top-left 640 x 480: share of bright
# pixels (max channel > 64) and of coloured ones (max - min > 60).
stats() {
  "$PY" - "$1" <<'EOF'
import sys
import numpy as np
from PIL import Image
a = np.asarray(Image.open(sys.argv[1]).convert("RGB")).astype(int)[:480, :640]
mx, mn = a.max(2), a.min(2)
print("%.4f %.4f" % ((mx > 64).mean(), ((mx - mn) > 60).mean()))
EOF
}

# check NAME KIND: caption (some bright grey pixels, no colour), morph (a
# coloured body), cube (a textured floor over much of the screen), black.
check_shot() {
  local s bright coloured
  s=$(stats "$SHOTS/$1.png")
  bright=${s% *}
  coloured=${s#* }
  echo "  $1: bright $bright, coloured $coloured"
  case $2 in
    caption) awk -v b="$bright" -v c="$coloured" 'BEGIN { exit !(b > 0.003 && b < 0.2 && c < 0.002) }' ;;
    morph) awk -v c="$coloured" 'BEGIN { exit !(c > 0.03) }' ;;
    cube) awk -v b="$bright" -v c="$coloured" 'BEGIN { exit !(b > 0.3 && c > 0.02) }' ;;
    black) awk -v b="$bright" 'BEGIN { exit !(b < 0.0005) }' ;;
  esac || fail "$1 does not look like a $2"
}

# Keeps the frames named in $2 (screen_watch.py) into folder $1 while the
# demo runs, for up to $3 seconds, noting the peak working set meanwhile.
# Its report goes to $1/watch.txt.
watch_screen() {
  mkdir -p "$1"
  "$PY" "$(dirname "$0")/screen_watch.py" "$WORK/fb/Xvfb_screen0" "$1" "$3" "$2" >"$1/watch.txt" 2>&1 &
  local wpid=$!
  while kill -0 $wpid 2>/dev/null; do
    note_peak
    sleep 0.5
  done
  wait $wpid
  sed 's/^/  kept: /' "$1/watch.txt"
}

# Pixel check of a kept frame: check_kept FOLDER NAME KIND.
check_kept() {
  [ -f "$1/$2.png" ] || { fail "no $2 frame"; return; }
  cp "$1/$2.png" "$SHOTS/$CASE-$2.png"
  check_shot "$CASE-$2" "$3"
}

escape_ends_with_0() {
  local rc=124
  for _ in $(seq 1 40); do
    xdotool windowfocus --sync "$(window_id "$DEMOLINE")" keydown Escape 2>/dev/null
    sleep 0.4
    xdotool keyup Escape 2>/dev/null
    demo_exit 1
    rc=$?
    [ $rc -ne 124 ] && break
  done
  [ $rc -eq 0 ] || fail "exit code after Escape: $rc"
}

# A fresh prefix once (not timed as the demo's start-up).
start_x 1024x768x24
T0=$(now_ms)
wine wineboot -i >/dev/null 2>&1
wineserver -w
echo "Wine prefix made in $(( $(now_ms) - T0 )) ms"

# --- No: a window; the four scenes; the end by itself at the eleventh cue.
CASE=windowed
wanted windowed && start_demo "$BIN"
if wanted windowed && answer_question n && expect_demo_window; then
  watch_screen "$WORK/windowed" caption_a,morph,caption_b,cube 150
  check_kept "$WORK/windowed" caption_a caption
  check_kept "$WORK/windowed" morph morph
  check_kept "$WORK/windowed" caption_b caption
  check_kept "$WORK/windowed" cube cube
  # The eleventh cue comes about 71-75 s into the music.
  for _ in $(seq 1 60); do
    note_peak
    demo_exit 1
    rc=$?
    [ $rc -ne 124 ] && break
  done
  T_END=$(now_ms)
  [ $rc -eq 0 ] || fail "exit code at the end: $rc"
  echo "  ended by itself $(( (T_END - T_WINDOW) / 1000 )) s after the window appeared, exit code $rc"
  echo "  peak working set of zephyra.exe: $((PEAK_KB / 1024)) MiB ($PEAK_KB KiB)"
fi
stop_x

# --- Escape and Alt+F4 end it with 0.
for how in escape alt-f4; do
  CASE=$how
  wanted $how || continue
  start_x 1024x768x24
  start_demo "$BIN"
  if answer_question Escape && expect_demo_window; then
    sleep 3
    if [ $how = escape ]; then
      escape_ends_with_0
    else
      xdotool windowfocus --sync "$(window_id "$DEMOLINE")" key alt+F4 2>/dev/null
      demo_exit 30
      rc=$?
      [ $rc -eq 0 ] || fail "exit code after Alt+F4: $rc"
    fi
  fi
  stop_x
done

# --- Yes on a 640 x 480 screen: full screen, no error box.
CASE=fullscreen
wanted fullscreen && start_x 640x480x24 && start_demo "$BIN"
if wanted fullscreen && answer_question Return && expect_demo_window; then
  grep -q ' 640x480+0+0 ' <<<"$DEMOLINE" || fail "full screen geometry: $DEMOLINE"
  watch_screen "$WORK/fullscreen" caption_a,morph 90
  [ -n "$(xwininfo -root -tree | grep -F '"Error"')" ] && fail "error box in full screen"
  check_kept "$WORK/fullscreen" caption_a caption
  check_kept "$WORK/fullscreen" morph morph
  escape_ends_with_0
fi
stop_x

# --- Without bassmod.dll: silent, the first caption until Escape.
CASE=silent
mkdir -p "$WORK/silent"
cp "$BIN/zephyra.exe" "$WORK/silent/"
wanted silent && start_x 1024x768x24 && start_demo "$WORK/silent"
if wanted silent && answer_question Escape && expect_demo_window; then
  # No music, so no sync ever changes the scene: the first caption fades
  # in and out on the animation timer, then the screen stays black.
  watch_screen "$WORK/silent-shots" caption_a 60
  check_kept "$WORK/silent-shots" caption_a caption
  sleep 10; shot silent-late
  check_shot silent-late black
  kill -0 "$DPID" 2>/dev/null || fail "ended without music"
  escape_ends_with_0
fi
stop_x

echo "screenshots: $SHOTS"
if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all Wine shell cases passed"
