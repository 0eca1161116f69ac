#!/usr/bin/env bash
# The release archives as a downloader meets them: made twice from one commit
# they are identical; each unpacks into one folder of its own name holding
# exactly the promised files; the Linux demo runs from its folder under Xvfb
# (the question, No, a window, Escape, exit 0), also started through a symlink
# and as ../folder/zephyra, with the sound library beside it loaded; the
# Windows demo does the same under Wine; each carries the licence notices of
# what its programs link (tests/release/check_notices.sh); the Linux programs need only
# libraries of the packages the .nfo names; the .nfo and file_id.diz keep
# their encoding and size limits.
# usage: tests/release/archive_test.sh   (from anywhere; runs scripts/release.sh)
set -u
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
# shellcheck source=../common/question_box.sh
source "$ROOT/tests/common/question_box.sh"
cd "$ROOT"
WORK=$(mktemp -d)
XPID=""
failures=0
export SDL_AUDIODRIVER=dummy WINEDEBUG=-all

cleanup() {
  pkill -KILL -f "$WORK/" 2>/dev/null
  [ -n "$XPID" ] && { DISPLAY=${DISPLAY:-} wineserver -k 2>/dev/null; kill "$XPID" 2>/dev/null; }
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() { echo "FAIL [$CASE]: $*"; failures=$((failures + 1)); }

VERSION=$(sed -n 's/^project(Zephyra VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
LINUX=zephyra-party-$VERSION-linux-x86_64
WIN=zephyra-party-$VERSION-win64
WEB=zephyra-party-$VERSION-web

# ---- reproducible: two runs give the same bytes --------------------------------
CASE=reproducible
scripts/release.sh >"$WORK/release1.log" 2>&1 || { cat "$WORK/release1.log"; echo "FAIL: release.sh"; exit 1; }
sha256sum "dist/$LINUX.tar.gz" "dist/$WIN.zip" "dist/$WEB.zip" >"$WORK/first.sha256"
rm -f "dist/$LINUX.tar.gz" "dist/$WIN.zip" "dist/$WEB.zip"
scripts/release.sh >"$WORK/release2.log" 2>&1 || { cat "$WORK/release2.log"; echo "FAIL: release.sh (second run)"; exit 1; }
sha256sum -c --quiet "$WORK/first.sha256" || fail "the second run made different archives"
# The stamps that make it so: owner 0, the commit's time on every entry
# (the stamp release.sh said it used, which must be the one
# scripts/release-stamp.sh gives here). Without a stamp there is nothing to
# compare against: that fails, it does not pass.
EPOCH=$(sed -n 's/^release: time stamp //p' "$WORK/release1.log" | head -1)
EXPECTED=$(scripts/release-stamp.sh 2>"$WORK/stamp.err") ||
  fail "the release's time stamp cannot be computed: $(cat "$WORK/stamp.err")"
STAMP=""
if [ -z "$EPOCH" ]; then
  fail "release.sh did not say which time stamp it used"
elif [ "$EPOCH" != "$EXPECTED" ]; then
  fail "release.sh stamped $EPOCH, but the stamp here is '$EXPECTED'"
elif ! STAMP=$(date -u -d "@$EPOCH" '+%Y-%m-%d %H:%M') || [ -z "$STAMP" ]; then
  fail "cannot turn the time stamp $EPOCH into a date to compare with"
  STAMP=""
fi
if [ -n "$STAMP" ]; then
  listing=$(TZ=UTC tar -tvzf "dist/$LINUX.tar.gz")
  [ -n "$listing" ] || fail "cannot list dist/$LINUX.tar.gz"
  bad=$(grep -v -F " 0/0 " <<<"$listing"; grep -v -F "$STAMP" <<<"$listing")
  [ -z "$bad" ] || fail "tar entries not owned by 0/0 at $STAMP: $bad"
fi

# ---- contents ----------------------------------------------------------------
CASE=contents
mkdir -p "$WORK/linux" "$WORK/win" "$WORK/web"
tar -xzf "dist/$LINUX.tar.gz" -C "$WORK/linux"
/usr/bin/python3 - "$ROOT/dist/$WIN.zip" "$WORK/win" <<'PY' || fail "cannot unpack the zip"
import sys, zipfile
zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])
PY
# The web zip: the same stamps as the Windows one (every entry at the
# commit's time, sorted), and the page's folder as built.
/usr/bin/python3 - "$ROOT/dist/$WEB.zip" "$WORK/web" "$EPOCH" <<'PY' || fail "web zip: $(cat "$WORK/web.err")"
import sys, time, zipfile
z = zipfile.ZipFile(sys.argv[1])
stamp = max(time.gmtime(int(sys.argv[3]))[:6], (1980, 1, 1, 0, 0, 0))
stamp = stamp[:5] + (stamp[5] - stamp[5] % 2,)  # zip times count seconds in twos
names = [i.filename for i in z.infolist()]
bad = [i.filename for i in z.infolist() if i.date_time != stamp]
problems = []
if bad: problems.append(f"entries not stamped {stamp}: {bad}")
if names != sorted(names): problems.append(f"entries not sorted: {names}")
z.extractall(sys.argv[2])
if problems:
    open(sys.argv[2] + ".err", "w").write("; ".join(problems))
    sys.exit(1)
PY
for f in "$WORK"/win/*/*.exe; do chmod +x "$f"; done 2>/dev/null
[ "$(ls "$WORK/linux")" = "$LINUX" ] || fail "the tar does not unpack to one folder $LINUX: $(ls "$WORK/linux")"
[ "$(ls "$WORK/win")" = "$WIN" ] || fail "the zip does not unpack to one folder $WIN: $(ls "$WORK/win")"
[ "$(LC_ALL=C ls "$WORK/linux/$LINUX" | tr '\n' ' ')" = "LICENSE README.txt THIRD-PARTY.md bassmod.so file_id.diz licences zephyra zephyra-capture zephyra.nfo " ] ||
  fail "Linux files: $(ls "$WORK/linux/$LINUX" | tr '\n' ' ')"
[ "$(LC_ALL=C ls "$WORK/win/$WIN" | tr '\n' ' ')" = "LICENSE THIRD-PARTY.md bassmod.dll file_id.diz licences zephyra.exe zephyra.nfo " ] ||
  fail "Windows files: $(ls "$WORK/win/$WIN" | tr '\n' ' ')"
[ "$(ls "$WORK/web" | grep -v '\.err$')" = "$WEB" ] || fail "the web zip does not unpack to one folder $WEB: $(ls "$WORK/web")"
[ "$(LC_ALL=C ls "$WORK/web/$WEB" | tr '\n' ' ')" = "LICENSE THIRD-PARTY.md bassmod.wasm file_id.diz index.html licences page.js zephyra.css zephyra.js zephyra.nfo zephyra.wasm " ] ||
  fail "web files: $(ls "$WORK/web/$WEB" | tr '\n' ' ')"
# The page's files are the build's, byte for byte: the zip serves as built.
for f in index.html zephyra.js zephyra.wasm bassmod.wasm; do
  cmp -s "$WORK/web/$WEB/$f" "build-web-release/web/$f" || fail "web: $f differs from build-web-release/web/$f"
done
cmp -s "$WORK/linux/$LINUX/zephyra.nfo" "$WORK/win/$WIN/zephyra.nfo" || fail "the two .nfo files differ"
cmp -s "$WORK/linux/$LINUX/zephyra.nfo" "$WORK/web/$WEB/zephyra.nfo" || fail "the web .nfo differs"
cmp -s "$WORK/linux/$LINUX/file_id.diz" "$WORK/web/$WEB/file_id.diz" || fail "the web file_id.diz differs"

# ---- notices -------------------------------------------------------------------
# Each archive's licence notices against its programs' direct libraries.
CASE=notices
tests/release/check_notices.sh "$WORK/linux/$LINUX" >"$WORK/notices-linux" || fail "Linux: $(cat "$WORK/notices-linux")"
tests/release/check_notices.sh "$WORK/win/$WIN" >"$WORK/notices-win" || fail "Windows: $(cat "$WORK/notices-win")"
tests/release/check_notices.sh "$WORK/web/$WEB" >"$WORK/notices-web" || fail "web: $(cat "$WORK/notices-web")"
grep -q "MIT licence (LICENSE)" "$WORK/linux/$LINUX/zephyra.nfo" || fail "the .nfo's licence lines do not name the MIT licence of LICENSE"

# ---- documents -----------------------------------------------------------------
CASE=documents
/usr/bin/python3 tests/release/check_docs.py "$WORK/linux/$LINUX/zephyra.nfo" "$WORK/linux/$LINUX/file_id.diz" >"$WORK/docs" ||
  fail "$(grep FAIL "$WORK/docs")"
PACKAGES=$(sed -n 's/^PACKAGES: //p' "$WORK/docs")

# ---- libraries -------------------------------------------------------------------
# Every library ldd names must come from a listed package or from what those
# packages depend on (apt's closure), so the .nfo's list cannot drift from
# what the programs link.
CASE=libraries
if [ -z "$PACKAGES" ]; then
  fail "the .nfo names no packages"
else
  # shellcheck disable=SC2086
  apt-cache depends --recurse --no-recommends --no-suggests --no-conflicts --no-breaks \
    --no-replaces --no-enhances $PACKAGES 2>/dev/null | grep -v '^ ' | sed 's/:.*//; s/^<//; s/>$//' |
    sort -u >"$WORK/closure"
  for p in $PACKAGES; do grep -qx "$p" "$WORK/closure" || fail "listed package $p is unknown to apt"; done
  # Every library as ldd resolves it ("bin lib-name real-path"), then the
  # package of each real path in one dpkg query. Debian's merged /usr
  # registers some files under /lib, so both spellings are asked for.
  for bin in zephyra bassmod.so zephyra-capture; do
    ldd "$WORK/linux/$LINUX/$bin" | awk '$2 == "=>" && $3 ~ /^\// { print $1, $3 } $1 ~ /^\// { print $1, $1 }' |
      while read -r name path; do echo "$bin $name $(readlink -f "$path")"; done
  done >"$WORK/ldd"
  awk '{ print $3; p = $3; sub("^/usr", "", p); print p }' "$WORK/ldd" | sort -u |
    xargs dpkg -S 2>/dev/null | sed 's/^\([^:]*\):[^ ]* \(.*\)$/\2 \1/' >"$WORK/owners"
  while read -r bin name path; do
    owner=$(awk -v p="$path" -v q="${path#/usr}" '$1 == p || $1 == q { print $2; exit }' "$WORK/owners")
    if [ -z "$owner" ]; then fail "$bin: $path belongs to no package"
    elif ! grep -qx "$owner" "$WORK/closure"; then fail "$bin: $path ($owner) is not from the listed packages"; fi
    # What a program links directly must be a listed package itself (or the
    # C and C++ runtimes every system has).
    if objdump -p "$WORK/linux/$LINUX/$bin" | awk '/NEEDED/ { print $2 }' | grep -qx "$name"; then
      case " $PACKAGES libc6 libstdc++6 libgcc-s1 " in
        *" $owner "*) ;;
        *) fail "$bin links $name from $owner, which the .nfo does not list" ;;
      esac
    fi
  done <"$WORK/ldd"
fi

# ---- running ---------------------------------------------------------------------
start_x() {
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$WORK/display" 2>/dev/null &
  XPID=$!
  for _ in $(seq 1 100); do [ -s "$WORK/display" ] && break; sleep 0.05; done
  export DISPLAY=":$(head -1 "$WORK/display")"
}

# The id of the top-level X window titled "Zephyra (Party)" whose line
# matches the pattern $1 and not $3 (when given), waited for up to $2 seconds.
wait_window() {
  local pattern=$1 limit=$2 unwanted=${3:-^$} id=""
  for _ in $(seq 1 $((limit * 10))); do
    id=$(xwininfo -root -tree 2>/dev/null | grep -F '"Zephyra (Party)"' | grep -E -- "$pattern" |
         grep -v -E -- "$unwanted" | awk '{ print $1 }' | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# Runs a demo command in folder $1, answers No with key $4 (Escape in SDL's
# box, n in Windows'), checks the window and that the sound library at $3 was
# loaded, holds Escape and checks exit code 0.
run_demo() {
  local folder=$1 cmd=$2 library=$3 no_key=$4 pid box win rc
  (cd "$folder" && exec $cmd) >"$WORK/out" 2>&1 &
  pid=$!
  ( sleep 90; kill -KILL $pid 2>/dev/null ) &
  local watchdog=$!
  # The question box: titled like the demo, smaller than its window.
  if ! box=$(wait_window ' [0-9]{2,3}x[0-9]{2,3}\+' 60 ' 640x480\+'); then
    fail "no question box"; kill -KILL $pid; wait $pid 2>/dev/null; kill $watchdog 2>/dev/null; return
  fi
  if ! answer_box "$box" "$no_key" 30; then
    fail "question box: $BOX_ERROR"; kill -KILL $pid; wait $pid 2>/dev/null; kill $watchdog 2>/dev/null; return
  fi
  if win=$(wait_window ' 640x480\+' 60); then
    if [ -n "$library" ]; then
      local maps=""
      for _ in $(seq 1 50); do
        maps=$(cat /proc/$pid/maps 2>/dev/null; for c in $(pgrep -P $pid); do cat /proc/$c/maps; done 2>/dev/null)
        grep -q -F "$library" <<<"$maps" && break
        sleep 0.1
      done
      grep -q -F "$library" <<<"$maps" || fail "$library not loaded"
    fi
    sleep 1
    xdotool windowfocus "$win" 2>/dev/null
    xdotool keydown Escape; sleep 0.4; xdotool keyup Escape
  else
    fail "no 640x480 window"
  fi
  wait $pid; rc=$?
  kill $watchdog 2>/dev/null; wait $watchdog 2>/dev/null
  [ $rc -eq 0 ] || { fail "exit code $rc"; cat "$WORK/out"; }
}

start_x
L=$WORK/linux/$LINUX
CASE=linux-from-its-folder; run_demo "$L" ./zephyra "$L/bassmod.so" Escape
mkdir -p "$WORK/elsewhere/bin"
ln -s "$L/zephyra" "$WORK/elsewhere/bin/zephyra"
CASE=linux-through-a-symlink; run_demo "$WORK/elsewhere" bin/zephyra "$L/bassmod.so" Escape
CASE=linux-as-dotdot-path; run_demo "$WORK/elsewhere" "../linux/$LINUX/zephyra" "$L/bassmod.so" Escape

# Windows: a prefix of the test's own, first run set up before timing anything.
W=$WORK/win/$WIN
export WINEPREFIX=$WORK/wineprefix WINEDLLOVERRIDES="mscoree,mshtml=" HOME=$WORK/home
mkdir -p "$HOME"; printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' >"$HOME/.asoundrc"
wine wineboot -i >/dev/null 2>&1
CASE=windows-from-its-folder; run_demo "$W" "wine ./zephyra.exe" "" n

echo "release archives: $failures failure(s)"
[ $failures -eq 0 ]
