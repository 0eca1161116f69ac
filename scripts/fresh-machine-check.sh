#!/usr/bin/env bash
# Tries the README's two commands as a new user would, on a machine that has
# never been used: a minimal Debian 12 root (debootstrap --variant=minbase),
# the committed HEAD of this repository cloned into it, then, inside it
# (chroot), scripts/demo.sh under Xvfb up to the demo window (the
# "Fullscreen?" box answered No, ended with a held Escape, exit code 0) and
# scripts/test.sh. Prints the time of each stage. Runs as root.
#
# Environment:
#   ZEPHYRA_FRESH_MIRROR   Debian mirror (default: the one this machine's apt uses)
#   ZEPHYRA_FRESH_CACHE    where the bare root is kept as a tarball between runs,
#                          one per day and mirror (default /var/cache/zephyra)
#   ZEPHYRA_FRESH_WORK     where the root is made (default /var/tmp); removed after
#   ZEPHYRA_FRESH_KEEP=1   keep the root afterwards (for a look inside)
#   ZEPHYRA_FRESH_DISPLAY  X display number for the demo stage (default 57)
#   ZEPHYRA_FRESH_SUITES   ZEPHYRA_SUITES for scripts/test.sh inside the root
#                          (default: ZEPHYRA_SUITES as given, else all suites)
set -euo pipefail

# Its own mount namespace: the binds into the root are never seen by the rest
# of the machine, and they go away with the last process inside even if this
# script is killed before its clean-up runs.
if [ "${ZEPHYRA_FRESH_NAMESPACE:-}" != 1 ] && [ "$(id -u)" -eq 0 ]; then
  export ZEPHYRA_FRESH_NAMESPACE=1
  exec unshare --mount --propagation private bash "$0" "$@"
fi

# The whole script is one function, read in full before it runs: a checkout
# that changes under a running check cannot change what it does.
main() {
SRC=$(git -C "$(dirname "$0")/.." rev-parse --show-toplevel)
HEAD=$(git -C "$SRC" rev-parse HEAD)
CACHE=${ZEPHYRA_FRESH_CACHE:-/var/cache/zephyra}
WORKBASE=${ZEPHYRA_FRESH_WORK:-/var/tmp}
DISPLAY_NUM=${ZEPHYRA_FRESH_DISPLAY:-57}
SUITE=bookworm
# Limits per stage, in seconds: nothing here may hang a CI run.
DEMO_LIMIT=${ZEPHYRA_FRESH_DEMO_LIMIT:-2400}
TEST_LIMIT=${ZEPHYRA_FRESH_TEST_LIMIT:-3600}
# Where the clone sits inside the root, as a user's checkout in root's home.
CHECKOUT=/root/zephyra
ROOT_PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin

log() { printf 'fresh-machine-check: %s\n' "$*"; }
die() { log "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || die "run as root (debootstrap, mount and chroot need it)"
if [ -n "$(git -C "$SRC" status --porcelain --untracked-files=no)" ]; then
  log "note: uncommitted changes in $SRC are not part of the check (it clones HEAD $HEAD)"
fi

# The first URI of a deb822 source (the .sources files) listing suite $1.
sources_uri() {
  local f
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v suite="$1" '
      function take() { if (uri != "" && has) { print uri; found = 1; exit } uri = ""; has = 0 }
      /^[[:space:]]*$/ { take(); next }
      /^URIs:/   { uri = $2 }
      /^Suites:/ { for (i = 2; i <= NF; i++) if ($i == suite) has = 1 }
      END { if (!found) take() }' "$f"
  done
}
# The same from one-line lists ("deb [options] URI suite components").
list_uri() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v suite="$1" '$1 == "deb" { for (i = 2; i < NF; i++) if ($i !~ /^\[/ && $(i + 1) == suite) { print $i; exit } }' "$f"
  done
}
# The Debian mirror this machine's apt uses, and the security archive beside it.
MIRROR=${ZEPHYRA_FRESH_MIRROR:-$( { sources_uri "$SUITE"; list_uri "$SUITE"; } | sed -n 1p )}
SECURITY=$( { sources_uri "$SUITE-security"; list_uri "$SUITE-security"; } | sed -n 1p )
MIRROR=${MIRROR:-http://deb.debian.org/debian}
SECURITY=${SECURITY:-http://deb.debian.org/debian-security}

# ---------------------------------------------------------------- stages
STAGE_NAMES=(); STAGE_SECONDS=()
STAGE=""
T_ALL=$(date +%s)
stage_begin() { STAGE=$1; T_STAGE=$(date +%s); log "=== stage $STAGE ($(date -u +%H:%M:%S) UTC)"; }
stage_end() {
  local s=$(( $(date +%s) - T_STAGE ))
  STAGE_NAMES+=("$STAGE"); STAGE_SECONDS+=("$s")
  log "=== stage $STAGE took ${s} s"
  STAGE=""
}
summary() {
  local i
  log "stage times:"
  for i in "${!STAGE_NAMES[@]}"; do
    printf '  %-46s %6d s\n' "${STAGE_NAMES[$i]}" "${STAGE_SECONDS[$i]}"
  done
  printf '  %-46s %6d s\n' total $(( $(date +%s) - T_ALL ))
}

# ---------------------------------------------------------------- the root
WORK=$(realpath "$(mktemp -d "$WORKBASE/zephyra-fresh.XXXXXX")")
ROOT=$WORK/root
MOUNTS=()      # mount points inside ROOT, in the order they were made
BG_PIDS=()     # processes this script started inside the root

# Every process whose root directory is ROOT: the ones started here and
# their children (Xvfb, the demo, the tests). Nothing else can be in there.
pids_in_root() {
  # One find over /proc (a readlink per process costs seconds on a busy machine).
  find /proc/[0-9]*/root -maxdepth 0 -printf '%l\t%h\n' 2>/dev/null |
    awk -F '\t' -v root="$ROOT" '$1 == root { sub("^/proc/", "", $2); print $2 }'
  return 0
}

# Mount points at or below ROOT that are still mounted, deepest first.
mounted_below_root() {
  awk -v root="$ROOT" '$5 == root || index($5, root "/") == 1 { print $5 }' /proc/self/mountinfo | sort -r
}

unmount_all() {
  local p i m
  for p in $(pids_in_root); do kill -KILL "$p" 2>/dev/null || true; done
  for p in "${BG_PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  for (( i = ${#MOUNTS[@]} - 1; i >= 0; i-- )); do
    umount "${MOUNTS[$i]}" 2>/dev/null || umount -l "${MOUNTS[$i]}" 2>/dev/null || true
  done
  MOUNTS=()
  # Anything left (mounted from inside the root): lazily, deepest first.
  for m in $(mounted_below_root); do umount -l "$m" 2>/dev/null || true; done
}

cleanup() {
  local rc=$? t
  trap - EXIT INT TERM HUP
  if [ -n "$STAGE" ]; then
    STAGE_NAMES+=("$STAGE (failed)"); STAGE_SECONDS+=($(( $(date +%s) - T_STAGE )))
  fi
  t=$(date +%s)
  unmount_all
  if [ -n "$(mounted_below_root)" ]; then
    log "still mounted below $ROOT, leaving $WORK in place:"; mounted_below_root
  elif [ "${ZEPHYRA_FRESH_KEEP:-0}" = 1 ]; then
    log "root kept in $ROOT"
  else
    # --one-file-system: never follows into anything still bound there.
    rm -rf --one-file-system "$WORK"
  fi
  log "clean-up (processes, mounts, root) took $(( $(date +%s) - t )) s"
  [ ${#STAGE_NAMES[@]} -gt 0 ] && summary
  if [ $rc -eq 0 ]; then log "PASSED (HEAD $HEAD)"; else log "FAILED with code $rc (HEAD $HEAD)"; fi
  exit $rc
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Binds or mounts into the root and remembers it for the unmount. Binds are
# made private, so nothing mounted below them reaches the host's tree.
mount_in_root() {
  local target=$ROOT$1; shift
  mkdir -p "$target"
  mount "$@" "$target"
  MOUNTS+=("$target")
  mount --make-private "$target"
}

stage_begin "root (debootstrap or cache)"
if ! command -v debootstrap >/dev/null; then
  log "installing debootstrap on this machine"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi
KEY="$SUITE-minbase-$(date -u +%Y%m%d)-$(printf '%s' "$MIRROR" | sha256sum | cut -c1-12)"
TARBALL=$CACHE/fresh-root/$KEY.tar.gz
mkdir -p "$CACHE/fresh-root"
(
  # One maker at a time; a second run waits and then uses what the first made.
  flock 9
  if [ -f "$TARBALL" ]; then
    log "bare root from the cache: $TARBALL"
  else
    log "debootstrap --variant=minbase $SUITE from $MIRROR"
    debootstrap --variant=minbase "$SUITE" "$ROOT" "$MIRROR" > "$WORK/debootstrap.log" 2>&1 ||
      { tail -n 30 "$WORK/debootstrap.log"; exit 1; }
    [ -z "$(mounted_below_root)" ] || { log "debootstrap left mounts behind"; exit 1; }
    tar --numeric-owner --xattrs --acls -C "$ROOT" -czf "$TARBALL.part" .
    mv "$TARBALL.part" "$TARBALL"
    # Older roots (another day or mirror) are of no more use.
    find "$CACHE/fresh-root" -maxdepth 1 -name "$SUITE-minbase-*.tar.gz" ! -name "$KEY.tar.gz" -delete
    rm -rf --one-file-system "$ROOT"
  fi
) 9> "$CACHE/fresh-root/.lock" || die "could not make the bare root"
mkdir -p "$ROOT"
tar --numeric-owner --xattrs --acls -C "$ROOT" -xzf "$TARBALL"

# The archive as a Debian 12 install lists it: release, updates, security.
rm -f "$ROOT/etc/apt/sources.list"
cat > "$ROOT/etc/apt/sources.list.d/debian.sources" <<EOF
Types: deb
URIs: $MIRROR
Suites: $SUITE $SUITE-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: $SECURITY
Suites: $SUITE-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
# Name resolution for apt: this machine's resolver (a file, not a link into
# a run-time folder the root does not have).
rm -f "$ROOT/etc/resolv.conf"
cp -L /etc/resolv.conf "$ROOT/etc/resolv.conf"
# Likewise the network's trust: where this machine tells Node of extra
# certificate authorities (those of a proxy between it and the npm
# registry), the root's Node is told of the same ones.
ROOT_TRUST=()
if [ -n "${NODE_EXTRA_CA_CERTS:-}" ] && [ -f "$NODE_EXTRA_CA_CERTS" ]; then
  cp -L "$NODE_EXTRA_CA_CERTS" "$ROOT/etc/zephyra-extra-ca.crt"
  ROOT_TRUST=(NODE_EXTRA_CA_CERTS=/etc/zephyra-extra-ca.crt)
fi
stage_end

stage_begin "clone"
git clone -q --no-hardlinks "$SRC" "$ROOT$CHECKOUT"
git -C "$ROOT$CHECKOUT" checkout -q --detach "$HEAD"
log "cloned $HEAD into $CHECKOUT"
stage_end

# The kernel file systems a Debian machine has, a private /tmp and /dev/shm
# (Xvfb's sockets and lock files, shared memory of X and of a Windows
# emulator), and the host's pseudo-terminals.
mount_in_root /proc -t proc proc
mount_in_root /sys --bind /sys
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
mount_in_root /dev/shm -t tmpfs -o mode=1777,nosuid,nodev shm
mount_in_root /tmp -t tmpfs -o mode=1777,nosuid,nodev tmp

# A command inside the root as root, with a login-like environment; more
# VAR=value words may follow before the command. A plain command, so that
# `&` gives the process's own id.
IN_ROOT=(chroot "$ROOT" /usr/bin/env -i HOME=/root PATH="$ROOT_PATH" TERM=dumb LANG=C.UTF-8 "${ROOT_TRUST[@]}")
X() { "${IN_ROOT[@]}" DISPLAY=":$DISPLAY_NUM" "$@"; }

# The check's own tools for driving the demo with no screen: an X server, a
# way to find and answer the box. They are not the demo's to install
# (scripts/demo.sh installs the run set only), so the check adds them.
stage_begin "headless tools for the check (xvfb, xdotool)"
"${IN_ROOT[@]}" DEBIAN_FRONTEND=noninteractive /bin/sh -c \
  "apt-get update -qq && apt-get install -y -qq --no-install-recommends xvfb xauth xdotool x11-utils" \
  > "$WORK/tools.log" 2>&1 || { tail -n 30 "$WORK/tools.log"; die "could not install the check's tools"; }
stage_end

stage_begin "demo (scripts/demo.sh: install, build, run)"
"${IN_ROOT[@]}" DISPLAY=":$DISPLAY_NUM" SDL_AUDIODRIVER=dummy /bin/sh -c "cd $CHECKOUT && exec scripts/demo.sh" \
  > "$WORK/demo.log" 2>&1 &
DEMO_PID=$!
BG_PIDS+=("$DEMO_PID")
T_DEMO=$(date +%s)
demo_alive() { kill -0 "$DEMO_PID" 2>/dev/null; }
demo_failed() {
  log "demo output (last 60 lines):"; tail -n 60 "$WORK/demo.log" || true
  die "$*"
}
over_limit() { [ $(( $(date +%s) - T_DEMO )) -gt "$DEMO_LIMIT" ]; }

# demo.sh installs its packages first, the fonts among them, then
# configures its build. The server starts once that configuration exists:
# earlier, the fonts the "Fullscreen?" box needs may not be set up yet (the
# server reads its font path once, at start), and the box would fail.
until [ -f "$ROOT$CHECKOUT/build/CMakeCache.txt" ]; do
  demo_alive || demo_failed "scripts/demo.sh ended before its build began"
  over_limit && demo_failed "no build after $DEMO_LIMIT s"
  sleep 1
done
log "packages installed, build configured $(( $(date +%s) - T_DEMO )) s after demo.sh started"
# -noreset: the box is a short-lived client of its own; without it the
# server resets when it leaves and can drop the demo's connection.
"${IN_ROOT[@]}" Xvfb ":$DISPLAY_NUM" -screen 0 1024x768x24 -nolisten tcp -noreset > "$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
BG_PIDS+=("$XVFB_PID")
for _ in $(seq 100); do X xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
X xwininfo -root >/dev/null 2>&1 || { cat "$WORK/xvfb.log"; die "Xvfb :$DISPLAY_NUM did not start"; }
log "Xvfb on :$DISPLAY_NUM"

# The box and the demo window carry the same title; the box has no class hint.
BOX_PATTERN='"Zephyra (Party)": ()'
WIN_PATTERN='"Zephyra (Party)": ("'
find_line() { X xwininfo -root -tree 2>/dev/null | grep -F -- "$1" | head -n1 || true; }

BOX=""
until [ -n "$BOX" ]; do
  if ! demo_alive; then
    set +e; wait "$DEMO_PID"; DEMO_RC=$?; set -e
    demo_failed "scripts/demo.sh ended (exit code $DEMO_RC) before it asked \"Fullscreen?\""
  fi
  over_limit && demo_failed "no \"Fullscreen?\" box after $DEMO_LIMIT s"
  sleep 0.5
  BOX=$(find_line "$BOX_PATTERN" | awk '{print $1}')
done
T_ASKED=$(date +%s)
log "\"Fullscreen?\" box $BOX after $(( T_ASKED - T_DEMO )) s; answering No (Escape)"
# Answered once it takes input, and it must close (the tests' helper).
# shellcheck source=../tests/common/question_box.sh
source "$SRC/tests/common/question_box.sh"
BOX_X=X
answer_box "$BOX" Escape 30 || demo_failed "could not answer the box: $BOX_ERROR"

WIN_LINE=""
for _ in $(seq 200); do
  WIN_LINE=$(find_line "$WIN_PATTERN")
  [ -n "$WIN_LINE" ] && break
  demo_alive || demo_failed "the demo ended before its window appeared"
  sleep 0.1
done
[ -n "$WIN_LINE" ] || demo_failed "no demo window 20 s after the answer"
log "demo window: $(sed -E 's/^ *//' <<<"$WIN_LINE")"
grep -q ' 640x480+0+0 ' <<<"$WIN_LINE" || demo_failed "window is not 640x480 at the origin"
WIN=$(awk '{print $1}' <<<"$WIN_LINE")

# Let it play a little, then a held Escape (a tap can fall between two looks
# at the keyboard), again each second until it ends.
sleep 3
demo_alive || demo_failed "the demo ended by itself before Escape"
for _ in $(seq 30); do
  X xdotool windowfocus --sync "$WIN" keydown Escape 2>/dev/null || true
  sleep 0.4
  X xdotool keyup Escape 2>/dev/null || true
  for _ in $(seq 10); do demo_alive || break; sleep 0.1; done
  demo_alive || break
done
if demo_alive; then demo_failed "the demo did not end on Escape"; fi
set +e; wait "$DEMO_PID"; DEMO_RC=$?; set -e
log "demo exit code $DEMO_RC ($(( $(date +%s) - T_ASKED )) s from the box to the end)"
[ "$DEMO_RC" -eq 0 ] || demo_failed "exit code $DEMO_RC after Escape, expected 0"
kill "$XVFB_PID" 2>/dev/null || true
wait "$XVFB_PID" 2>/dev/null || true
log "install + build until the box: $(( T_ASKED - T_DEMO )) s"
stage_end

stage_begin "tests (scripts/test.sh)"
SUITE_TIMES=$WORK/suite-times
: > "$SUITE_TIMES"
set +e
SUITES_ENV=()
FRESH_SUITES=${ZEPHYRA_FRESH_SUITES:-${ZEPHYRA_SUITES:-}}
[ -n "$FRESH_SUITES" ] && SUITES_ENV=(ZEPHYRA_SUITES="$FRESH_SUITES")
log "suites: ${FRESH_SUITES:-all (plain asan tsan)}"
# timeout ends the whole process group (the builds and tests too).
timeout -s KILL "$TEST_LIMIT" "${IN_ROOT[@]}" "${SUITES_ENV[@]}" /bin/sh -c "cd $CHECKOUT && exec scripts/test.sh" 2>&1 |
  while IFS= read -r line; do
    # Each suite's start, for the times below.
    case $line in "=== test suite: "*) echo "${line#=== test suite: } $(date +%s)" >> "$SUITE_TIMES" ;; esac
    printf '%s\n' "$line"
  done
TEST_RC=${PIPESTATUS[0]}
set -e
T_TESTS_END=$(date +%s)
# Install + configure until the first suite, then each suite (build + ctest).
prev_name="set-up"; prev_t=$T_STAGE
while read -r name t; do
  STAGE_NAMES+=("  test.sh: $prev_name"); STAGE_SECONDS+=($(( t - prev_t )))
  prev_name="$name suite"; prev_t=$t
done < "$SUITE_TIMES"
STAGE_NAMES+=("  test.sh: $prev_name"); STAGE_SECONDS+=($(( T_TESTS_END - prev_t )))
[ "$TEST_RC" -eq 0 ] || die "scripts/test.sh exited with $TEST_RC"
stage_end
}
main "$@"
