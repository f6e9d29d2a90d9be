#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package (a Release build without tests, as debian/rules makes it) in a copy
# of the source tree, and checks it with lintian: any error or warning fails.
# Usage: scripts/package.sh [OUT_DIR]
#   OUT_DIR (default build-deb) receives the .deb files, the .changes and .buildinfo files,
#   build.log and lintian.txt; the copy it builds in is OUT_DIR/src.
#   KESTREL_WERROR=ON in the environment turns compiler warnings into errors (CI does so).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

scripts/deps.sh

out=$(realpath -m "${1:-build-deb}")
src=$out/src
mkdir -p "$out"
rm -rf "$src"
rm -f "$out"/kestrel*.deb "$out"/kestrel_*.changes "$out"/kestrel_*.buildinfo
mkdir -p "$src"

# The files of the source tree: what git tracks or would add, nothing it ignores (build
# folders, an earlier package build).
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard |
    tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$src"
else
  tar --exclude='./build*' --exclude='./obj-*' --exclude=./.git -cf - . | tar -xf - -C "$src"
fi

echo "== Building the package in $src (log: $out/build.log)"
start=$SECONDS
if ! (cd "$src" && dpkg-buildpackage -us -uc -b) >"$out/build.log" 2>&1; then
  tail -n 40 "$out/build.log"
  echo "The package build failed; the whole log is $out/build.log" >&2
  exit 1
fi
echo "   built in $((SECONDS - start)) s"
# Without warnings as errors, a warning is still one to read.
if grep -n 'warning:' "$out/build.log" >&2; then
  echo "The package build gave compiler warnings (see $out/build.log)" >&2
  exit 1
fi

changes=$(ls "$out"/kestrel_*.changes)
deb=$(ls "$out"/kestrel_*.deb)

# The desktop files as installed, checked by the desktops' own tools.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
sh "$root/tests/packaging/desktop_files_test.sh" "$unpacked/usr/share/applications/kestrel.desktop" \
  "$unpacked"/usr/share/metainfo/*.metainfo.xml

echo "== lintian"
start=$SECONDS
status=0
lintian --info --display-info --fail-on error,warning "$changes" >"$out/lintian.txt" 2>&1 || status=$?
cat "$out/lintian.txt"
echo "   checked in $((SECONDS - start)) s"
if [ $status -ne 0 ]; then
  echo "lintian found errors or warnings in $changes" >&2
  exit 1
fi
echo "Package: $deb"
