#!/usr/bin/env bash
# Runs a Windows program under Wine for CMake and CTest (the cross build's
# CMAKE_CROSSCOMPILING_EMULATOR), quietly and in a prefix of its own.
# Usage: wine-run.sh ROOT program.exe [args...]
#        wine-run.sh ROOT --session
#  ROOT: folder holding the Wine prefix and a home folder (the toolchain
#    passes <build>/wine, so every build has its own prefix).
#  The home folder's .asoundrc sends ALSA to a null sink, so waveOutOpen
#  succeeds on machines without a sound card.
#  DISPLAY must name an X server for programs that open windows or GL.
#  --session starts a server that stays up until `wineserver -k` (with
#  WINEPREFIX=ROOT/prefix), with its service and desktop processes, and
#  returns. Without one, the first program of each server starts those
#  processes and they inherit its standard output and error: CTest then
#  waits for them, until the server shuts them down 30 s after the last
#  program ends, and a test that starts while that shutdown is under way
#  can go down with the server.
set -euo pipefail
root=$(realpath -m "$1")
shift
mkdir -p "$root"
export WINEPREFIX=$root/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$root/home"
if [ ! -f "$root/home/.asoundrc" ]; then
  echo 'pcm.!default { type null }' >"$root/home/.asoundrc"
fi
export HOME=$root/home
# One prefix, made once; a lock keeps parallel tests from making it twice.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  exec 9>"$root/.prefix.lock"
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w || true
  fi
  exec 9>&-
fi
if [ "${1:-}" = --session ]; then
  # A server left from before may be counting down to its end, or have
  # its desktop on an X server that is gone: end it first. -p alone: no
  # time limit. wineboot starts the services and the desktop and returns;
  # they stay with the server, writing nowhere.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  wineserver -p >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
  exit
fi
# One server kept for 30 s after the last program, so parallel tests share
# it instead of each starting (and tearing down) their own.
wineserver -p30 >/dev/null 2>&1 || true
# Module errors stay on: a program whose DLLs fail to load otherwise exits
# at once with status 53 and says nothing.
export WINEDEBUG=-all,err+module
# Test programs have, rarely and not reproducibly, exited within 0.07 s,
# nonzero and without a word (a start takes 0.1-0.3 s), before printing
# their first line. Such a failure is not hidden behind a second start: it
# fails, and the runner says that it was silent, with what Wine itself said
# (its module errors) and the exit status, and notes it in
# ROOT/silent-exits.log, which scripts/test.sh prints after the suite.
# Output is held in files until the program ends.
out=$(mktemp) err=$(mktemp)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -f "$out" "$err"' EXIT
trap 'exit 143' TERM INT
start=$(date +%s%N)
wine "$@" >"$out" 2>"$err" &
pid=$!
rc=0
wait "$pid" || rc=$?
pid=""
ms=$(( ($(date +%s%N) - start) / 1000000 ))
cat "$out"
cat "$err" >&2
# Silent: nothing on standard output, nothing on standard error but Wine's
# own "NNNN:err:" lines.
if [ "$rc" != 0 ] && [ ! -s "$out" ] && ! grep -qv '^[0-9a-f]*:err:' "$err"; then
  {
    echo "wine-run: $1 exited with status $rc after $ms ms without any output of its own."
    if [ -s "$err" ]; then
      echo "wine-run: Wine said:"
      sed 's/^/  /' "$err"
    else
      echo "wine-run: Wine said nothing (its module errors are on: no DLL failed to load)."
    fi
    case $rc in
      53) echo "wine-run: status 53: Wine could not load the program or one of its DLLs." ;;
      126 | 127) echo "wine-run: status $rc: the wine command itself could not run." ;;
      *) [ "$rc" -gt 128 ] && echo "wine-run: status $rc: the wine process ended on signal $((rc - 128))." ;;
    esac
    echo "wine-run: counted as a failure; it is not started again."
  } >&2
  { echo "$(date -u +%FT%TZ) exit $rc after $ms ms, no output: $*"
    sed 's/^/  /' "$err"; } >>"$root/silent-exits.log"
fi
exit "$rc"
