#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the package into a minimal Debian 12 (debootstrap, chroot) as a user would, with
# `apt install ./kestrel_*.deb`, and checks that what it ships is there and works: kestrel-cli,
# its man page, the desktop entry, the user unit, the private library and bfish (a protected
# backup runs through it).
# Usage: scripts/install-check.sh [DEB]    (default: the newest build-deb/kestrel_*.deb)
#   The minimal system and the packages apt fetches for it are kept in
#   ${KESTREL_CHROOT_CACHE:-~/.cache/kestrel-chroot}, so that later runs are quick; each run
#   installs into a fresh copy of it. KESTREL_MIRROR chooses the Debian mirror. Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."

deb=${1:-$(find build-deb -maxdepth 1 -name 'kestrel_*_*.deb' 2>/dev/null | sort | tail -n 1)}
if [ -z "$deb" ] || [ ! -f "$deb" ]; then
  echo "No package to install: build one with scripts/package.sh, or name it." >&2
  exit 2
fi
deb=$(realpath "$deb")
if [ "$(id -u)" -ne 0 ]; then
  echo "debootstrap and chroot need root." >&2
  exit 2
fi
if ! command -v debootstrap >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap
fi

cache=${KESTREL_CHROOT_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel-chroot}
mirror=${KESTREL_MIRROR:-http://deb.debian.org/debian}
base=$cache/bookworm
archives=$cache/archives
mkdir -p "$cache" "$archives/partial"
start=$SECONDS

if [ ! -e "$base/.complete" ]; then
  echo "== debootstrap of a minimal bookworm into $base (once)"
  rm -rf "$base"
  debootstrap --variant=minbase --cache-dir="$archives" bookworm "$base" "$mirror" \
    >"$cache/debootstrap.log" 2>&1 || {
    tail -n 20 "$cache/debootstrap.log"
    exit 1
  }
  touch "$base/.complete"
fi
# The cached system's package lists are refreshed at most once a day.
if [ -z "$(find "$base/var/lib/apt/lists" -maxdepth 1 -name '*Packages*' -mtime -1)" ]; then
  echo "== apt-get update in $base"
  cp /etc/resolv.conf "$base/etc/resolv.conf" 2>/dev/null || true
  chroot "$base" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin apt-get update -qq
fi

root=$(mktemp -d "$cache/run.XXXXXX")
mounts=()
cleanup() {
  local i still=0
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null || true
    if mountpoint -q "${mounts[i]}"; then
      still=1
    fi
  done
  # Removing the copy through a mount would remove the host's /dev or the package cache.
  if [ $still -eq 0 ]; then
    rm -rf --one-file-system "$root"
  else
    echo "$root is still mounted in part: left as it is" >&2
  fi
}
trap cleanup EXIT
cp -a "$base/." "$root/"
for fs in proc dev; do
  mount --bind "/$fs" "$root/$fs"
  mounts+=("$root/$fs")
done
# Packages fetched once serve every later run.
mount --bind "$archives" "$root/var/cache/apt/archives"
mounts+=("$root/var/cache/apt/archives")
cp /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
cp "$deb" "$root/tmp/"

in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
}

echo "== apt install ./$(basename "$deb") (and man-db to read the pages)"
{
  in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
      "./tmp/$(basename "$deb")" man-db
} >"$cache/install.log" 2>&1 || {
  tail -n 30 "$cache/install.log"
  echo "The package did not install." >&2
  exit 1
}

failures=0
check() {
  local what=$1
  shift
  if out=$(in_root "$@" 2>&1); then
    echo "ok    $what"
  else
    echo "FAIL  $what"
    printf '%s\n' "$out" | sed 's/^/      /' | tail -n 15
    failures=$((failures + 1))
  fi
}

if in_root kestrel-cli --version >/dev/null 2>&1; then
  check "kestrel-cli --version" kestrel-cli --version
else
  check "kestrel-cli --help (no --version yet)" kestrel-cli --help
fi
check "man -w kestrel-cli" man -w kestrel-cli
check "man -w kestrel" man -w kestrel
check "the desktop entry" test -f /usr/share/applications/kestrel.desktop
check "the metainfo" test -f /usr/share/metainfo/org.kestrel_backup.Kestrel.metainfo.xml
check "the scalable icon" test -f /usr/share/icons/hicolor/scalable/apps/kestrel.svg
check "the user unit" grep -qx 'ExecStart=/usr/bin/kestrel /service start' \
  /usr/lib/systemd/user/kestrel.service
check "the user unit is not enabled for everyone" \
  sh -c '! ls /etc/systemd/user/*/kestrel.service 2>/dev/null | grep -q .'
check "the completion" test -f /usr/share/bash-completion/completions/kestrel-cli
check "kestrel finds every library" sh -c '! ldd /usr/bin/kestrel | grep -q "not found"'
check "no development link of the private library" \
  sh -c '! ls /usr/lib/*/kestrel/*.so 2>/dev/null | grep -q .'
# shellcheck disable=SC2016 # expanded inside the chroot
check "a protected backup runs through /usr/libexec/kestrel/bfish" sh -c '
  set -e
  home=$(mktemp -d); mkdir "$home/src" "$home/dest"
  echo private >"$home/src/note.txt"
  echo secret | kestrel-cli --home "$home" new --source "$home/src" --dest "$home/dest" \
    --name Safe --storage archive --password - >/dev/null
  kestrel-cli --home "$home" run Safe
  ! grep -rq private "$home/dest"
  kestrel-cli --home "$home" restore Safe --to "$home/back" "$home/src/note.txt"
  grep -qx private "$home/back$home/src/note.txt"'

echo "== $((SECONDS - start)) s"
if [ $failures -gt 0 ]; then
  echo "$failures checks failed" >&2
  exit 1
fi
echo "The package installs and works in a minimal Debian 12."
