#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Kestrel and runs its main job on a built-in default: a scratch program folder with a
# small sample tree, a compressed archive job over it, a run, a second (incremental) run after
# a change, and the catalogue the destination then holds.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTREL_BUILD_TESTS=OFF >/dev/null
cmake --build build

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/home" "$demo/source/docs" "$demo/source/photos" "$demo/destination"
printf 'Kestrel sample file\n' > "$demo/source/docs/readme.txt"
printf 'a,b,c\n1,2,3\n' > "$demo/source/docs/table.csv"
printf 'scratch\n' > "$demo/source/docs/notes.tmp"
head -c 65536 /dev/urandom > "$demo/source/photos/picture.raw"

cli="build/bin/kestrel-cli --home $demo/home"
$cli new --name Sample --source "$demo/source" --dest "$demo/destination" \
  --storage compressed --type incremental --exclude "*.tmp" --schedule daily:mon,wed,fri@20:00
echo
$cli show Sample
echo
echo "== First run"
$cli run Sample
echo
echo "== Second run, after a change (only the changed file is stored)"
printf 'changed\n' >> "$demo/source/docs/readme.txt"
$cli run Sample
echo
$cli list
echo
$cli catalogue "$demo/destination/Sample.fs"
$cli verify "$demo/destination/Sample.fs"
