#!/usr/bin/env bash
# Runs the real demo under its own Xvfb, answers "Fullscreen?" with No,
# screenshots the window at set times after it appears and waits for the
# demo to end by itself. Writes to OUT (first argument):
#   result.txt  key=value lines: exit_code, seconds (window shown -> exit),
#               startup_seconds (launch -> window shown), music_seconds
#               (window shown -> music started, 10 ms steps), heard_seconds
#               (music the output played from the music's start to the
#               exit, from the bytes SDL's disk driver wrote), peak_kib,
#               shot_<t> (when each shot was taken, from the same start)
#   shot_<t>.png and shot_<t>.ppm for each time t (seconds after the music
#               started, or after the window appeared when that is not seen),
#               the window's client area
#   demo.log    the demo's stdout/stderr and /usr/bin/time's report
# Run from the folder holding the demo and ./bassmod.so (build/bin).
# SHOT_TIMES overrides the screenshot times; DEMO (default ./zephyra).
set -uo pipefail
# shellcheck source=../common/question_box.sh
source "$(dirname "$0")/../common/question_box.sh"
OUT=${1:?output folder}
DEMO=${DEMO:-./zephyra}
SHOT_TIMES=${SHOT_TIMES:-"0.8 10 28.5 50 50.9"}
LIMIT=${LIMIT:-110}   # seconds after which the demo is killed
mkdir -p "$OUT"
rm -f "$OUT"/result.txt "$OUT"/shot_* "$OUT"/demo.log

now() { date +%s.%N; }
elapsed() { echo "$(now) - $1" | bc -l; }
fail() { echo "error=$*" >> "$OUT/result.txt"; cleanup; exit 1; }

XVFB_PID=""; DEMO_PID=""
cleanup() {
  [ -n "$DEMO_PID" ] && kill -KILL "$DEMO_PID" 2>/dev/null
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT

# Our own X server on a free display number (Xvfb picks it and reports it).
# -noreset: the requester is a short-lived client of its own; without it the
# server resets when that client leaves and can drop the demo's connection.
exec 3> "$OUT/display.txt"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
XVFB_PID=$!
exec 3>&-
for _ in $(seq 100); do [ -s "$OUT/display.txt" ] && break; sleep 0.05; done
[ -s "$OUT/display.txt" ] || fail "Xvfb did not start"
export DISPLAY=":$(head -n1 "$OUT/display.txt")"
# SDL's disk driver plays in real time like the dummy one, and what it has
# played is the size of its file: the clock the demo's timeline follows.
export SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$OUT/heard.raw"
rm -f "$OUT/heard.raw"
BYTES_PER_SECOND=176400   # 44,100 Hz, 16-bit stereo
heard_bytes() { stat -c %s "$OUT/heard.raw" 2>/dev/null || echo 0; }
unset SDL_VIDEODRIVER

LAUNCH=$(now)
/usr/bin/time -v -o "$OUT/time.txt" "$DEMO" > "$OUT/demo.log" 2>&1 &
DEMO_PID=$!

# Windows whose name mentions the demo, as "id WxH" (xwininfo lists the
# UTF-8 names xdotool cannot match).
demo_windows() {
  xwininfo -root -tree 2>/dev/null | grep -i 'zephyra' |
    sed -E 's/^ *(0x[0-9a-f]+) .* ([0-9]+x[0-9]+)\+.*$/\1 \2/'
}

# Polls up to $2 times, $3 s apart, for a demo window whose size passes the
# awk test $1 and sets FOUND to its id; fails with "demo ended before $4"
# or "no $5".
await_window() {
  FOUND=""
  for _ in $(seq "$2"); do
    FOUND=$(demo_windows | awk "\$2 $1 {print \$1; exit}")
    [ -n "$FOUND" ] && return
    kill -0 "$DEMO_PID" 2>/dev/null || fail "demo ended before $4"
    sleep "$3"
  done
  fail "no $5"
}

# The requester comes first: answer it with Escape (= No).
await_window '!= "640x480"' 200 0.05 "asking" "Fullscreen? requester"
BOX=$FOUND
answer_box "$BOX" Escape || fail "could not answer the requester: $BOX_ERROR"

# Then the 640 x 480 demo window.
await_window '== "640x480"' 400 0.025 "its window appeared" "640x480 demo window"
WIN=$FOUND
SHOWN=$(now)
echo "startup_seconds=$(echo "$SHOWN - $LAUNCH" | bc -l)" >> "$OUT/result.txt"
echo "window=$WIN" >> "$OUT/result.txt"

# SDL's audio drivers pace the music with plain sleeps, so on a busy
# machine the music (and with it every cue) falls behind the wall clock by
# up to 10 %. The test is about the demo's timeline, so where allowed the
# audio thread alone (a light one) gets a real-time priority.
AUDIO_RT=0
for _ in $(seq 40); do
  for pid in $(pgrep -P "$DEMO_PID"); do
    for task in /proc/"$pid"/task/*; do
      if grep -q '^SDLAudio' "$task/comm" 2>/dev/null; then
        chrt -f -p 5 "$(basename "$task")" >/dev/null 2>&1 && AUDIO_RT=1
      fi
    done
  done
  [ "$AUDIO_RT" = 1 ] && break
  sleep 0.05
done
echo "audio_realtime=$AUDIO_RT" >> "$OUT/result.txt"

# The music starts (MusicPlay) after the lists and textures are built, which
# a sanitizer build stretches by seconds, and the scenes follow the music:
# the shots are timed from its start. Playing starts the sound library's sync
# thread, the one thread started after SDL's audio thread (made when the
# library is initialised) that keeps the program's own name (SDL's and Mesa's
# threads carry names of their own, or start with the GL context). The
# kernel records when each thread started (10 ms steps); that less the
# process's start, added to the launch time, is the music's start. Without
# it (no sound library) the shots are timed from the window.
# (Shell built-ins only: this polls while the demo starts, on a busy machine.)
start_ticks() {
  local line
  read -r line < "$1/stat" 2>/dev/null || return
  line=${line##*) }
  set -- $line
  echo "${20}"
}
music_ticks() {
  local child=$1 name audio="" task t comm found=""
  read -r name < "/proc/$child/comm" 2>/dev/null || return
  for task in /proc/"$child"/task/*; do
    read -r comm < "$task/comm" 2>/dev/null || continue
    case "$comm" in SDLAudio*) audio=$(start_ticks "$task") ;; esac
  done
  [ -n "$audio" ] || return
  for task in /proc/"$child"/task/*; do
    [ "$task" = "/proc/$child/task/$child" ] && continue
    read -r comm < "$task/comm" 2>/dev/null || continue
    [ "$comm" = "$name" ] || continue
    t=$(start_ticks "$task")
    if [ -n "$t" ] && [ "$t" -ge "$audio" ]; then found=$t; fi
  done
  echo "$found"
}
BASE=$SHOWN
DEMO_CHILD=$(pgrep -P "$DEMO_PID" | head -n1)
if [ -n "$DEMO_CHILD" ]; then
  PROC_TICKS=$(start_ticks "/proc/$DEMO_CHILD")
  for _ in $(seq 3000); do
    MUSIC_TICKS=$(music_ticks "$DEMO_CHILD")
    [ -n "$MUSIC_TICKS" ] && break
    kill -0 "$DEMO_PID" 2>/dev/null || break
    sleep 0.02
  done
  SEEN_BYTES=$(heard_bytes) SEEN=$(now)
  if [ -n "$PROC_TICKS" ] && [ -n "$MUSIC_TICKS" ]; then
    BASE=$(echo "$LAUNCH + ($MUSIC_TICKS - $PROC_TICKS) / $(getconf CLK_TCK)" | bc -l)
    echo "music_seconds=$(echo "$BASE - $SHOWN" | bc -l)" >> "$OUT/result.txt"
    # The output's bytes when the music started: those when it was seen,
    # less what it played in between (silence went out before: the device
    # plays from the sound library's start).
    MUSIC_BYTES=$(echo "b = $SEEN_BYTES - ($SEEN - $BASE) * $BYTES_PER_SECOND; if (b < 0) b = 0; scale=0; b / 1" | bc -l)
  fi
fi

for t in $SHOT_TIMES; do
  wait_for=$(echo "$t - $(elapsed "$BASE")" | bc -l)
  if [ "$(echo "$wait_for > 0" | bc -l)" = 1 ]; then sleep "$wait_for"; fi
  kill -0 "$DEMO_PID" 2>/dev/null || fail "demo ended before the shot at $t s"
  import -window "$WIN" "ppm:$OUT/shot_$t.ppm" 2>/dev/null || fail "screenshot at $t s failed"
  echo "shot_$t=$(elapsed "$BASE")" >> "$OUT/result.txt"
done
# PNG copies for people to look at, made once the timing no longer matters.
for t in $SHOT_TIMES; do
  /usr/bin/python3 -c "import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])" \
    "$OUT/shot_$t.ppm" "$OUT/shot_$t.png" 2>/dev/null || true
done

# Let it end by itself.
while kill -0 "$DEMO_PID" 2>/dev/null; do
  if [ "$(echo "$(elapsed "$SHOWN") > $LIMIT" | bc -l)" = 1 ]; then
    kill -KILL "$DEMO_PID" 2>/dev/null
    echo "killed=1" >> "$OUT/result.txt"
  fi
  sleep 0.05
done
wait "$DEMO_PID"
CODE=$?
DEMO_PID=""
echo "seconds=$(elapsed "$SHOWN")" >> "$OUT/result.txt"
echo "exit_code=$CODE" >> "$OUT/result.txt"
if [ -n "${MUSIC_BYTES:-}" ]; then
  echo "heard_seconds=$(echo "($(heard_bytes) - $MUSIC_BYTES) / $BYTES_PER_SECOND" | bc -l)" >> "$OUT/result.txt"
fi
rm -f "$OUT/heard.raw"
PEAK=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$OUT/time.txt" 2>/dev/null)
echo "peak_kib=${PEAK:-0}" >> "$OUT/result.txt"
echo "load=$(cut -d' ' -f1-3 /proc/loadavg)" >> "$OUT/result.txt"
cat "$OUT/time.txt" >> "$OUT/demo.log" 2>/dev/null
exit 0
