#!/usr/bin/env bash
# The real demo under Xvfb: the full-screen question, the window, full screen
# with and without the mode switch, Escape, closing, minimise and restore
# (windowed, and full screen losing and regaining focus) under a window
# manager, and no display at all.
# usage: xvfb_shell_test.sh path/to/zephyra path/to/x_probe
# Runs the demo in the current folder (where the sound library sits).
set -u
# shellcheck source=../common/question_box.sh
source "$(dirname "$0")/../common/question_box.sh"
DEMO=$1
PROBE=$2
export SDL_AUDIODRIVER=dummy
WORK=$(mktemp -d)
XPID=""
DPID=""
WMPID=""
failures=0

# Ends the demo if it still runs: DPID is its `timeout`, so the demo itself
# is timeout's child and is killed by parent id first.
kill_demo() {
  if [ -n "$DPID" ]; then
    pkill -KILL -P "$DPID" 2>/dev/null
    kill -KILL "$DPID" 2>/dev/null
    wait "$DPID" 2>/dev/null
    DPID=""
  fi
}

cleanup() {
  kill_demo
  [ -n "$WMPID" ] && kill "$WMPID" 2>/dev/null
  [ -n "$XPID" ] && kill "$XPID" 2>/dev/null
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "FAIL [$CASE]: $*"
  echo "--- demo stderr:"; cat "$WORK/err" 2>/dev/null
  failures=$((failures + 1))
}

# Xvfb on a free display number with the given screen (WxHxD), answering
# before the demo starts (tried again when another server won the number).
start_x() {
  for _ in 1 2 3; do
    rm -f "$WORK/display"
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp -noreset 3>"$WORK/display" 2>/dev/null &
    XPID=$!
    for _ in $(seq 1 100); do
      [ -s "$WORK/display" ] && break
      sleep 0.05
    done
    export DISPLAY=":$(head -1 "$WORK/display" 2>/dev/null)"
    if kill -0 "$XPID" 2>/dev/null && xwininfo -root >/dev/null 2>&1; then
      return 0
    fi
    kill "$XPID" 2>/dev/null
    wait "$XPID" 2>/dev/null
  done
  echo "cannot start Xvfb"
  exit 1
}

stop_x() {
  kill_demo
  if [ -n "$WMPID" ]; then
    kill "$WMPID" 2>/dev/null
    wait "$WMPID" 2>/dev/null
    WMPID=""
  fi
  kill "$XPID" 2>/dev/null
  wait "$XPID" 2>/dev/null
  XPID=""
}

start_demo() {
  timeout -s KILL 120 "$DEMO" >"$WORK/out" 2>"$WORK/err" &
  DPID=$!
}

# The openbox window manager on the current server, once it manages
# windows: it has framed and shown a window of the probe's (up to 30 s).
# Its announcement on the root window comes before it is done starting
# (its first start on a new machine is the slowest), and a window mapped
# in between waits, unmapped, for the manager.
start_wm() {
  openbox --sm-disable >"$WORK/wm.log" 2>&1 &
  WMPID=$!
  "$PROBE" managed 30 2>>"$WORK/wm.log" && return 0
  fail "openbox does not manage windows after 30 s (running: $(kill -0 "$WMPID" 2>/dev/null && echo yes || echo no)): $(tail -n 5 "$WORK/wm.log")"
  return 1
}

# A case: its name, a fresh server with the given screen (WxHxD), with a
# window manager when $3 is "wm", then the demo.
begin_case() {
  CASE=$1
  start_x "$2"
  [ "${3:-}" = wm ] && start_wm
  start_demo
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

# The first top-level window line matching the pattern, waiting up to 10 s.
find_window() {
  local line=""
  for _ in $(seq 1 200); do
    line=$(xwininfo -root -tree 2>/dev/null | grep -F -- "$1" | head -1)
    [ -n "$line" ] && break
    sleep 0.05
  done
  echo "$line"
}

window_id() { awk '{print $1}' <<<"$1"; }

# The message box has no class hint; the demo window has one.
BOX='"Zephyra (Party)": ()'
ERRORBOX='"Error": ()'
DEMOWIN='"Zephyra (Party)": ("'

# The question box is answered once it takes input, and must close
# (tests/common/question_box.sh).
answer_question() {
  local box
  box=$(find_window "$BOX")
  [ -n "$box" ] || { fail "no Fullscreen? box"; return 1; }
  answer_box "$(window_id "$box")" "$1" || { fail "Fullscreen? box: $BOX_ERROR"; return 1; }
}

expect_window_640x480_at_origin() {
  DEMOLINE=$(find_window "$DEMOWIN")
  [ -n "$DEMOLINE" ] || { fail "no demo window"; return 1; }
  grep -q ' 640x480+0+0 ' <<<"$DEMOLINE" || fail "window geometry: $DEMOLINE"
}

# A press held long enough for the loop to see it at an empty pass. A press
# and release that both reach the queue before such a pass do nothing (so a
# press during the start-up, before the loop runs, is lost): press again
# until the demo ends, for up to 80 s (sanitizer builds start slowly).
escape_ends_with_0() {
  local rc=124
  for _ in $(seq 1 60); do
    xdotool windowfocus --sync "$(window_id "$DEMOLINE")" keydown Escape 2>/dev/null
    sleep 0.4
    xdotool keyup Escape 2>/dev/null
    demo_exit 1
    rc=$?
    [ $rc -ne 124 ] && break
  done
  [ $rc -eq 0 ] || fail "exit code after Escape: $rc"
}

cursor_pixels() { "$PROBE" cursor 320 240; }

# Waits up to 5 s for the cursor over the window to be hidden.
cursor_hidden() {
  for _ in $(seq 1 50); do
    [ "$(cursor_pixels)" -eq 0 ] && return 0
    sleep 0.1
  done
  return 1
}

# --- No: a 640 x 480 client window titled "Zephyra (Party)"; Escape ends it.
begin_case windowed 1024x768x24
if answer_question Escape && expect_window_640x480_at_origin; then
  sleep 0.5
  [ "$(cursor_pixels)" -gt 0 ] || fail "cursor hidden in a window"
  [ -s "$WORK/err" ] && fail "unexpected messages"
  escape_ends_with_0
fi
stop_x

# --- Yes on a 640 x 480 screen: full screen, cursor hidden, no error.
begin_case fullscreen 640x480x24
if answer_question Return && expect_window_640x480_at_origin; then
  cursor_hidden || fail "cursor visible in full screen"
  [ -n "$(xwininfo -root -tree | grep -F "$ERRORBOX")" ] && fail "error box in full screen"
  escape_ends_with_0
fi
stop_x

# --- Yes where 640 x 480 is not offered: an Error box (the only one after
# which the demo goes on is "Could not init Fullscreen"), then a borderless
# window at the origin, cursor hidden.
begin_case refused 1024x768x24
if answer_question Return; then
  ERR=$(find_window "$ERRORBOX")
  if [ -z "$ERR" ]; then
    fail "no error box"
  else
    [ -z "$(xwininfo -root -tree | grep -F "$DEMOWIN")" ] || fail "window before the error box"
    if ! answer_box "$(window_id "$ERR")" Return; then
      fail "error box: $BOX_ERROR"
    elif expect_window_640x480_at_origin; then
      cursor_hidden || fail "cursor visible"
      escape_ends_with_0
    fi
  fi
fi
stop_x

# --- Closing the window ends the demo: the close button's request, and
# Alt+F4 through the default handling. $2... is the closing command; the
# window id is added to it.
close_case() {
  begin_case "$1" 1024x768x24
  if answer_question Escape && expect_window_640x480_at_origin; then
    sleep 0.3
    "${@:2}" "$(window_id "$DEMOLINE")"
    demo_exit 30
    local rc=$?
    [ $rc -eq 0 ] || fail "exit code after $1: $rc"
  fi
  stop_x
}
alt_f4() { xdotool windowfocus --sync "$1" key alt+F4; }
close_case close "$PROBE" close
close_case alt-f4 alt_f4

# Share (0..1) of the window's pixels that are not black (grey above 2 %).
lit_share() {
  import -silent -window "$1" png:- 2>/dev/null |
    convert png:- -colorspace gray -threshold 2% -format '%[fx:mean]' info: 2>/dev/null
}

# Waits up to $3 s for window $1 to show at least the share $2 lit; the
# last share measured is in LIT.
wait_lit() {
  local end=$((SECONDS + $3))
  LIT=0
  while [ $SECONDS -lt $end ]; do
    LIT=$(lit_share "$1")
    awk -v s="${LIT:-0}" -v m="$2" 'BEGIN { exit !(s >= m) }' && return 0
    sleep 0.2
  done
  return 1
}

# The morph (about a third of the window lit; a caption lights under 7 %)
# is showing, 9 s or so into the music; then $1 takes the window away (it
# ends up minimised), xdotool activates it again, and the scene must come
# back within 10 s instead of staying black.
MORPH_SHARE=0.12
SCENE_SHARE=0.02
hide_and_restore() {
  local wid
  wid=$(window_id "$DEMOLINE")
  wait_lit "$wid" $MORPH_SHARE 40 || { fail "no morph before minimising (lit $LIT)"; return 1; }
  "$1" "$wid"
  local state=""
  for _ in $(seq 1 50); do
    state=$(xprop -id "$wid" WM_STATE 2>/dev/null | grep -o 'Iconic')
    [ -n "$state" ] && break
    sleep 0.1
  done
  [ -n "$state" ] || { fail "window not minimised"; return 1; }
  sleep 0.5  # the demo sees the minimise (and sets its 0 x 1 viewport)
  xdotool windowactivate --sync "$wid" 2>/dev/null
  wait_lit "$wid" $SCENE_SHARE 10 || fail "black after the restore (lit $LIT)"
}

minimise() { xdotool windowminimize --sync "$1"; }
# Another window takes the focus; SDL then minimises the full-screen window.
other_window_takes_focus() {
  xlogo -geometry 100x100+10+10 >/dev/null 2>&1 &
  OTHERPID=$!
  local other=""
  for _ in $(seq 1 100); do
    other=$(xdotool search --onlyvisible --class xlogo 2>/dev/null | head -1)
    [ -n "$other" ] && break
    sleep 0.05
  done
  [ -n "$other" ] && xdotool windowactivate --sync "$other" 2>/dev/null
}

# --- Minimise, then restore, under a window manager: the scene comes back.
begin_case minimise 1024x768x24 wm
if answer_question Escape; then
  DEMOLINE=$(find_window "$DEMOWIN")
  if [ -z "$DEMOLINE" ]; then
    fail "no demo window"
  else
    hide_and_restore minimise
    escape_ends_with_0
  fi
fi
stop_x

# --- Full screen: focus taken by another window and given back. SDL
# minimises a full-screen window that loses focus and puts its display mode
# back on the restore: the window is again 640 x 480 at the origin, the
# cursor hidden, and the scene shows.
begin_case fullscreen-focus 640x480x24 wm
OTHERPID=""
if answer_question Return && expect_window_640x480_at_origin; then
  if hide_and_restore other_window_takes_focus; then
    DEMOLINE=$(find_window "$DEMOWIN")
    grep -q ' 640x480+0+0 ' <<<"$DEMOLINE" || fail "window after the restore: $DEMOLINE"
    cursor_hidden || fail "cursor visible after the restore"
  fi
  escape_ends_with_0
fi
[ -n "$OTHERPID" ] && kill "$OTHERPID" 2>/dev/null
stop_x

# --- No display: the texts reach standard error and the exit code says failure.
CASE=no-display
env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER timeout -s KILL 30 "$DEMO" >"$WORK/out" 2>"$WORK/err"
rc=$?
[ $rc -ne 0 ] && [ $rc -ne 137 ] || fail "exit code without display: $rc"
grep -qF 'Zephyra (Party): Fullscreen?' "$WORK/err" || fail "question not on stderr"
grep -qF 'Error: Could not open window' "$WORK/err" || fail "error not on stderr"

if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "all Xvfb shell cases passed"
