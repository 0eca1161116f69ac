#!/usr/bin/env bash
# cmake/wine-run.sh against a stand-in `wine` and `wineserver` on PATH: what
# it passes through, that a silent failure fails at once (never a second
# start) and is reported with Wine's own lines, what it logs, and what
# --session asks of the server. No Wine is needed.
set -u
RUNNER=$(cd "$(dirname "$0")/../../cmake" && pwd)/wine-run.sh
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
mkdir -p "$WORK/bin" "$WORK/root/prefix"
touch "$WORK/root/prefix/system.reg"  # the prefix exists: no wineboot -i

# The stand-in wine plays one step of FAKE_PLAN per start (comma-separated):
#   ok        prints "out" and "err" and exits 0
#   loud3     prints "out" and exits 3
#   silentN   prints nothing and exits N
#   winerrN   prints only a Wine module error line and exits N
#   talkN     prints a line of its own on standard error and exits N
# Every call, wineserver's too, is appended to $WORK/calls.
cat >"$WORK/bin/wine" <<'FAKE'
#!/usr/bin/env bash
echo "wine $*" >>"$CALLS"
n=$(grep -c '^wine ' "$CALLS")
step=$(echo "$FAKE_PLAN" | cut -d, -f"$n")
case $step in
  ok) echo out; echo err >&2; exit 0 ;;
  loud3) echo out; exit 3 ;;
  silent*) exit "${step#silent}" ;;
  winerr*) echo "0024:err:module:import_dll Library x.dll not found" >&2; exit "${step#winerr}" ;;
  talk*) echo "cannot open x" >&2; exit "${step#talk}" ;;
esac
exit 99
FAKE
printf '#!/bin/sh\necho "wineserver $*" >>"$CALLS"\n' >"$WORK/bin/wineserver"
chmod +x "$WORK/bin/wine" "$WORK/bin/wineserver"
export PATH="$WORK/bin:$PATH" CALLS="$WORK/calls"

failures=0
fail() { echo "FAIL [$CASE]: $*"; failures=$((failures + 1)); }

# run PLAN: runs the runner once; sets rc, out, err, starts and log.
run() {
  rm -f "$CALLS" "$WORK/root/silent-exits.log"
  : >"$CALLS"
  FAKE_PLAN=$1 "$RUNNER" "$WORK/root" prog.exe --flag >"$WORK/out" 2>"$WORK/err"
  rc=$?
  out=$(cat "$WORK/out")
  err=$(cat "$WORK/err")
  starts=$(grep -c '^wine prog.exe --flag$' "$CALLS")
  log=$(cat "$WORK/root/silent-exits.log" 2>/dev/null)
}

CASE="output and exit code pass through, one start"
run ok
[ $rc -eq 0 ] && [ "$out" = out ] && [ "$err" = err ] && [ "$starts" -eq 1 ] && [ -z "$log" ] ||
  fail "rc=$rc out=$out err=$err starts=$starts log=$log"
run loud3
[ $rc -eq 3 ] && [ "$out" = out ] && [ "$starts" -eq 1 ] && [ -z "$log" ] ||
  fail "a failure with output: rc=$rc starts=$starts log=$log"
run talk4
[ $rc -eq 4 ] && [ "$err" = "cannot open x" ] && [ "$starts" -eq 1 ] && [ -z "$log" ] ||
  fail "a failure that says something on stderr: rc=$rc starts=$starts"

CASE="a silent failure fails at once, says so, and is logged"
run silent7,ok
[ $rc -eq 7 ] && [ -z "$out" ] && [ "$starts" -eq 1 ] ||
  fail "rc=$rc out=$out starts=$starts (no second start may hide it)"
[[ $err == *"prog.exe exited with status 7 after "*" ms without any output"* ]] &&
  [[ $err == *"Wine said nothing"* ]] && [[ $err == *"not started again"* ]] || fail "stderr: $err"
[[ $log == *"exit 7 after "*" ms, no output: prog.exe --flag"* ]] || fail "log: $log"
run winerr53,ok
[ $rc -eq 53 ] && [ "$starts" -eq 1 ] ||
  fail "a module error that ends the program fails it: rc=$rc starts=$starts"
[[ $err == *"Wine said:"$'\n'"  0024:err:module:import_dll"* ]] && [[ $err == *"could not load the program or one of its DLLs"* ]] ||
  fail "Wine's own error lines are shown as its diagnostics: $err"
[[ $log == *"exit 53 after"*$'\n'"  0024:err:module:import_dll"* ]] || fail "log: $log"

CASE="a failure that says something is not called silent"
run talk4
[[ $err != *"without any output"* ]] && [ -z "$log" ] || fail "err=$err log=$log"
run loud3
[[ $err != *"without any output"* ]] && [ -z "$log" ] || fail "err=$err log=$log"

CASE="--session"
rm -f "$CALLS"; : >"$CALLS"
FAKE_PLAN=ok "$RUNNER" "$WORK/root" --session >"$WORK/out" 2>&1
rc=$?
calls=$(tr '\n' ';' <"$CALLS")
[ $rc -eq 0 ] && [ "$calls" = "wineserver -k;wineserver -w;wineserver -p;wine wineboot;" ] && [ ! -s "$WORK/out" ] ||
  fail "rc=$rc calls=$calls output=$(cat "$WORK/out")"

[ $failures -eq 0 ] && echo "wine-run.sh: all cases passed"
exit $((failures > 0))
