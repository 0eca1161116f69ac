#!/usr/bin/env bash
# scripts/release-stamp.sh, the time stamp of the release archives, in a
# copy of the scripts folder: in a git checkout it is the commit's time;
# outside one, or with no git on PATH, 0; when git is there but cannot read
# the checkout, or answers something that is not a number, it fails with a
# reason and prints no stamp.
# The answers of git are checked through a stand-in `git` first, so that
# every case runs on a machine without git (a fresh root has none); where
# git is installed, the same cases run again against a real checkout.
set -u
SRC=$(cd "$(dirname "$0")/../.." && pwd)/scripts/release-stamp.sh
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
failures=0
fail() { echo "FAIL [$CASE]: $*"; failures=$((failures + 1)); }
# stamp DIR PATH: runs the copy in DIR with PATH; sets rc, out, err.
stamp() {
  out=$(PATH=$2 "$1/scripts/release-stamp.sh" 2>"$WORK/err")
  rc=$?
  err=$(cat "$WORK/err")
}
expect_stamp() { [ $rc -eq 0 ] && [ "$out" = "$1" ] && [[ $err == *"$2"* ]] || fail "rc=$rc out=$out err=$err"; }
expect_refusal() { [ $rc -ne 0 ] && [ -z "$out" ] && [[ $err == *"$1"* ]] || fail "rc=$rc out=$out err=$err"; }

for d in plain fake real broken; do mkdir -p "$WORK/$d/scripts"; cp "$SRC" "$WORK/$d/scripts/"; done
mkdir -p "$WORK/fake/.git"
# The tools the script uses besides git, for the runs without git.
mkdir -p "$WORK/nogit"
for t in bash cat dirname; do ln -s "$(command -v $t)" "$WORK/nogit/$t"; done
# stand_in NAME BODY: a PATH of the tools above plus a `git` running BODY.
stand_in() {
  mkdir -p "$WORK/$1"
  cp -P "$WORK"/nogit/* "$WORK/$1/"
  printf '#!/bin/bash\n%s\n' "$2" >"$WORK/$1/git"
  chmod +x "$WORK/$1/git"
  echo "$WORK/$1"
}
ANSWERS=$(stand_in answers 'echo 1234567890')
REFUSES=$(stand_in refuses 'echo "fatal: not a git repository" >&2; exit 128')
GARBLES=$(stand_in garbles 'echo "warning: something"')

CASE="not a checkout: 0, said"
stamp "$WORK/plain" "$ANSWERS"
expect_stamp 0 "not a git checkout"

CASE="a checkout without git on PATH: 0, said"
stamp "$WORK/fake" "$WORK/nogit"
expect_stamp 0 "git is not installed"

CASE="a checkout: git's answer"
stamp "$WORK/fake" "$ANSWERS"
expect_stamp 1234567890 ""

CASE="git cannot read the checkout: fails, no stamp"
stamp "$WORK/fake" "$REFUSES"
expect_refusal "cannot read the commit's time: fatal: not a git repository"

CASE="git answers something that is not a number: fails, no stamp"
stamp "$WORK/fake" "$GARBLES"
expect_refusal "is not a number: 'warning: something'"

if command -v git >/dev/null 2>&1; then
  CASE="a real checkout: the commit's time"
  git -C "$WORK/real" init -q &&
    git -C "$WORK/real" add scripts &&
    GIT_COMMITTER_DATE="@1234567890 +0000" git -C "$WORK/real" -c user.name=t -c user.email=t@t \
      commit -qm stamp >/dev/null
  stamp "$WORK/real" "$PATH"
  expect_stamp 1234567890 ""

  CASE="a real checkout git cannot read: fails, no stamp"
  echo "gitdir: $WORK/nowhere" >"$WORK/broken/.git"
  stamp "$WORK/broken" "$PATH"
  expect_refusal "cannot read the commit's time"
else
  echo "release-stamp.sh: git is not installed here; its answers were checked through stand-ins"
fi

[ $failures -eq 0 ] && echo "release-stamp.sh: all cases passed"
exit $((failures > 0))
