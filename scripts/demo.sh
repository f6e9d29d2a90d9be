#!/usr/bin/env bash
# Builds Kestrel and shows its main job on a built-in default: a scratch program folder with a
# small sample tree, a compressed archive job over it, and what the job store holds.
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
head -c 65536 /dev/urandom > "$demo/source/photos/picture.raw"

cli="build/bin/kestrel-cli --home $demo/home"
$cli new --name Sample --source "$demo/source" --dest "$demo/destination" \
  --storage compressed --type incremental --exclude "*.raw" --schedule daily:mon,wed,fri@20:00
echo
$cli list
echo
$cli show Sample
