#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The man pages in the build tree are what the programs' --help says now: each is made again
# and must match (the date line aside).
# Usage: man_pages_test.sh SOURCE_DIR BUILD_DIR VERSION PROGRAM...
set -eu
source_dir=$1
build_dir=$2
version=$3
shift 3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

status=0
for program in "$@"; do
    name=$(basename "$program")
    sh "$source_dir/man/make-man.sh" "$program" "$work/$name.1" "$version"
    if ! diff -u -I '^\.TH ' "$build_dir/man/$name.1" "$work/$name.1"; then
        echo "FAIL: $name(1) differs from what $program --help says now"
        status=1
    fi
done
exit $status
