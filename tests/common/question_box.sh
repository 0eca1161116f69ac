# Answering the demo's "Fullscreen?" box (and its "Error" box) under X, for
# the test scripts that start the real program (sourced, bash).
#
#   answer_box WINDOW KEY [SECONDS]
#
# WINDOW is the box's X window id, KEY an xdotool key name. The box is
# answered only once it can take the key: it must be shown (mapped and
# viewable) within BOX_SHOW_SECONDS (default 30: a window manager on a busy
# or new machine may take that long to show it), and the input focus must
# be on it (or inside it) after focusing it. Then the key is sent, and the
# box must close (be unmapped or destroyed) within SECONDS (default 10). A key is sent again only when the box is still
# there, viewable, after that time: it did not take the key (at most three
# keys). Returns 0 once the box has closed; otherwise 1, with the reason in
# BOX_ERROR. The caller then waits for the demo's window as before.
# BOX_X, when set, names a command that runs the X tools (xwininfo,
# xdotool) where the X server's clients live (the fresh-machine check runs
# them inside its root).

box_x() { if [ -n "${BOX_X:-}" ]; then "$BOX_X" "$@"; else "$@"; fi; }

# The map state of a window: IsViewable, IsUnMapped, IsUnviewable, or
# nothing when the window no longer exists.
box_map_state() {
  box_x xwininfo -id "$1" 2>/dev/null | sed -n 's/^ *Map State: *//p'
}

# True when window $2 is window $1 or lies inside it.
box_holds() {
  local box=$(($1)) w=$(($2)) parent
  for _ in 1 2 3 4 5 6 7 8; do
    [ "$w" = "$box" ] && return 0
    parent=$(box_x xwininfo -children -id "$w" 2>/dev/null | sed -n 's/^ *Parent window id: *\(0x[0-9a-f]*\).*/\1/p')
    [ -n "$parent" ] || return 1
    w=$((parent))
  done
  return 1
}

answer_box() {
  local box=$1 key=$2 limit=${3:-10} show=${BOX_SHOW_SECONDS:-30} state="" focus tries=0
  BOX_ERROR=""
  for _ in $(seq 1 $((show * 20))); do
    state=$(box_map_state "$box")
    [ "$state" = IsViewable ] && break
    [ -z "$state" ] && { BOX_ERROR="the box $box went away before it was answered"; return 1; }
    sleep 0.05
  done
  [ "$state" = IsViewable ] || { BOX_ERROR="the box $box was not shown within $show s (map state $state)"; return 1; }
  while [ $tries -lt 3 ]; do
    tries=$((tries + 1))
    # Focus, and check that it arrived: a key sent before the box takes
    # the focus goes elsewhere without a word.
    focus=""
    for _ in $(seq 1 $((limit * 10))); do
      box_x xdotool windowfocus --sync "$box" >/dev/null 2>&1
      focus=$(box_x xdotool getwindowfocus 2>/dev/null)
      [ -n "$focus" ] && box_holds "$box" "$focus" && break
      [ -z "$(box_map_state "$box")" ] && { BOX_ERROR="the box $box went away before it was answered"; return 1; }
      focus=""
      sleep 0.1
    done
    [ -n "$focus" ] || { BOX_ERROR="the box $box did not take the focus within $limit s"; return 1; }
    box_x xdotool key "$key" 2>/dev/null
    for _ in $(seq 1 $((limit * 20))); do
      state=$(box_map_state "$box")
      [ "$state" = IsViewable ] || return 0
      sleep 0.05
    done
    echo "answer_box: the box $box is still shown $limit s after $key (answer $tries); sending it again" >&2
  done
  BOX_ERROR="the box $box is still shown after $tries answers ($key)"
  return 1
}
