# Fetches Debian's own source packages of the libraries the cross builds
# (Windows, web) compile themselves, at the versions the Linux build uses.
# Sourced by scripts/build-windows.sh and scripts/build-web.sh; defines
# functions only. Set DEBIAN_SOURCE_APT_DIR (a private apt state folder) before
# calling fetch_source. The machine's own apt setup is left alone: a private
# source list holds deb-src entries made from the machine's Debian entries.

# The upstream part of a Debian version: 1:2.1.5-2 -> 2.1.5.
upstream() { local v=${1#*:}; echo "${v%-*}"; }

# The version of an installed package, or apt's candidate.
package_version() {
  local v
  v=$(dpkg-query -W -f='${Version}' "$1" 2>/dev/null || true)
  if [ -z "$v" ]; then
    v=$(apt-cache policy "$1" | awk '/Candidate:/ {print $2}')
  fi
  echo "$v"
}

# As root, apt would hand the download to its sandbox user, who cannot write
# into a private folder under root's home: download as root instead.
DEBIAN_SOURCE_SANDBOX=()
if [ "$(id -u)" -eq 0 ]; then DEBIAN_SOURCE_SANDBOX=(-o APT::Sandbox::User=root); fi
apt_private() {
  local dir=${DEBIAN_SOURCE_APT_DIR:?DEBIAN_SOURCE_APT_DIR is not set}
  apt-get "${DEBIAN_SOURCE_SANDBOX[@]}" -o Dir::Etc::SourceList="$dir/sources.list" \
          -o Dir::Etc::SourceParts="$dir/sources.list.d" \
          -o Dir::State::Lists="$dir/lists" "$@"
}

# deb-src entries for the Debian archives the machine installs from: each
# enabled "deb" entry of its own lists, turned into "deb-src".
prepare_private_sources() {
  local dir=${DEBIAN_SOURCE_APT_DIR:?DEBIAN_SOURCE_APT_DIR is not set}
  mkdir -p "$dir/sources.list.d" "$dir/lists/partial"
  : >"$dir/sources.list"
  rm -f "$dir"/sources.list.d/*
  if [ -f /etc/apt/sources.list ]; then
    grep -E '^deb[[:space:]]' /etc/apt/sources.list | grep -i debian |
      sed -E 's/^deb([[:space:]])/deb-src\1/' >>"$dir/sources.list" || true
  fi
  local f
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    grep -qi 'debian' "$f" || continue
    case $f in
      *.list) grep -E '^deb[[:space:]]' "$f" | sed -E 's/^deb([[:space:]])/deb-src\1/' \
                >>"$dir/sources.list" || true ;;
      *.sources) sed -E 's/^Types:[[:space:]]*deb[[:space:]]*$/Types: deb-src/' "$f" \
                   >"$dir/sources.list.d/$(basename "$f")" ;;
    esac
  done
}

DEBIAN_SOURCES_READY=0
# Unpacks Debian's source package $1 at version $2 into folder $3 (emptied
# first); unpacked_source then names the tree inside it.
fetch_source() {
  local pkg=$1 version=$2 dest=$3
  if [ $DEBIAN_SOURCES_READY -eq 0 ]; then
    prepare_private_sources
    apt_private update -qq
    DEBIAN_SOURCES_READY=1
  fi
  rm -rf "$dest"
  mkdir -p "$dest"
  (cd "$dest" && apt_private source -qq "$pkg=$version" >/dev/null)
}

# The tree fetch_source unpacked package $1 into under folder $2.
unpacked_source() {
  find "$2" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | head -1
}
