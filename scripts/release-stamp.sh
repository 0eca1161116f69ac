#!/usr/bin/env bash
# Prints the time stamp (seconds since 1970) every entry of the release
# archives carries; scripts/release.sh stamps with it and the release test
# checks against it.
#   - In a git checkout: the commit's time.
#   - Outside one, or in one with no git installed to read it: 0 (1970),
#     said on standard error.
# Fails, saying why, when git is there but cannot read the commit (a broken
# or foreign-owned checkout) or the answer is not a number: a stamp that
# cannot be computed must not pass for one.
set -uo pipefail
cd "$(dirname "$0")/.."
if [ ! -e .git ]; then
  echo "release-stamp: not a git checkout: the epoch (0)" >&2
  echo 0
  exit 0
fi
if ! command -v git >/dev/null 2>&1; then
  echo "release-stamp: git is not installed to read the commit's time: the epoch (0)" >&2
  echo 0
  exit 0
fi
if ! stamp=$(git log -1 --format=%ct 2>&1); then
  echo "release-stamp: cannot read the commit's time: $stamp" >&2
  exit 1
fi
case $stamp in
  '' | *[!0-9]*) echo "release-stamp: the commit's time is not a number: '$stamp'" >&2; exit 1 ;;
esac
echo "$stamp"
