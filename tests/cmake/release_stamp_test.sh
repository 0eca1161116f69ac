#!/usr/bin/env bash
# scripts/release-stamp.sh, the time stamp of the release archives, in a
# copy of the scripts folder: in a git checkout it is the commit's time;
# outside one, or with no git on PATH, 0; when git is there but cannot read
# the checkout it fails with a reason and prints no stamp.
set -u
SRC=$(cd "$(dirname "$0")/../.." && pwd)/scripts/release-stamp.sh
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL [$CASE]: $*"; failures=$((failures + 1)); }
# stamp DIR [PATH]: runs the copy in DIR; sets rc, out, err.
stamp() {
  out=$(PATH=${2:-$PATH} "$1/scripts/release-stamp.sh" 2>"$WORK/err")
  rc=$?
  err=$(cat "$WORK/err")
}
for d in plain checkout broken; do mkdir -p "$WORK/$d/scripts"; cp "$SRC" "$WORK/$d/scripts/"; done
# Only the tools the script uses besides git, for the run without git.
mkdir -p "$WORK/nogit"
for t in bash cat dirname; do ln -s "$(command -v $t)" "$WORK/nogit/$t"; done

CASE="not a checkout"
stamp "$WORK/plain"
[ $rc -eq 0 ] && [ "$out" = 0 ] && [[ $err == *"not a git checkout"* ]] || fail "rc=$rc out=$out err=$err"

if command -v git >/dev/null 2>&1; then
  CASE="a checkout: the commit's time"
  git -C "$WORK/checkout" init -q &&
    git -C "$WORK/checkout" add scripts &&
    GIT_COMMITTER_DATE="@1234567890 +0000" git -C "$WORK/checkout" -c user.name=t -c user.email=t@t \
      commit -qm stamp >/dev/null
  stamp "$WORK/checkout"
  [ $rc -eq 0 ] && [ "$out" = 1234567890 ] || fail "rc=$rc out=$out err=$err"

  CASE="a checkout without git on PATH: 0, said"
  stamp "$WORK/checkout" "$WORK/nogit"
  [ $rc -eq 0 ] && [ "$out" = 0 ] && [[ $err == *"git is not installed"* ]] || fail "rc=$rc out=$out err=$err"

  CASE="a checkout git cannot read: fails, no stamp"
  echo "gitdir: $WORK/nowhere" >"$WORK/broken/.git"
  stamp "$WORK/broken"
  [ $rc -ne 0 ] && [ -z "$out" ] && [[ $err == *"cannot read the commit's time"* ]] || fail "rc=$rc out=$out err=$err"
else
  fail "git is needed for this test"
fi

[ $failures -eq 0 ] && echo "release-stamp.sh: all cases passed"
exit $((failures > 0))
