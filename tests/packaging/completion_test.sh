#!/bin/bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Completes a few kestrel-cli command lines with the installed completion and checks the
# replies: commands, a command's options, option values, and job names from a program folder.
# Usage: completion_test.sh COMPLETION_FILE KESTREL_CLI
set -u
# Job names in UTF-8 are cut by bytes, as the list pads them, not by characters.
export LC_ALL=C.UTF-8
completion=$1
cli=$2
PATH=$(dirname "$cli"):$PATH
export ASAN_OPTIONS=${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}detect_leaks=0
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/dest"
for name in "My docs" "Möbel" "photos"; do
    kestrel-cli --home "$home" new --source "$home" --dest "$home/dest" --name "$name" >/dev/null ||
        { echo "FAIL: cannot make the job $name"; exit 1; }
done
: >"$home/Docs.fs"
mkdir "$home/sets"

# shellcheck source=/dev/null
source "$completion"
failures=0
# expect "REPLIES" WORD...: the sorted replies, blank-separated, for the last word.
expect() {
    local want=$1
    shift
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMPREPLY=()
    _kestrel_cli
    local got
    got=$(printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd' ')
    if [[ $got != "$want" ]]; then
        echo "FAIL: ${*@Q}: expected \"$want\", got \"$got\""
        ((failures++))
    fi
}

expect "ftp-ls ftp-mkdir" kestrel-cli ftp
expect "--home" kestrel-cli --ho
expect "restore run" kestrel-cli --home "$home" r
expect "--no-ftp --no-password --no-split" kestrel-cli edit --no
expect "--overwrite" kestrel-cli restore --o
expect "--kept-password" kestrel-cli restore My --k
expect "compressed copy" kestrel-cli new --storage c
expect "full incremental" kestrel-cli edit x --type ""
expect "" kestrel-cli new --name ""
expect "My docs Möbel photos" kestrel-cli --home "$home" run ""
expect "My docs Möbel" kestrel-cli --home "$home" show M
expect "My docs" kestrel-cli --home "$home" delete "My\\ d"
expect "My docs" kestrel-cli --home "$home" ls --session 20240101000000 --kept-password - "My"
expect "" kestrel-cli --home "$home" ls photos ""
expect "My docs Möbel photos" kestrel-cli --home "$home" restore --to "$home" ""
cd "$home" || exit 1
expect "Docs.fs" kestrel-cli verify D
expect "sets" kestrel-cli catalogue s
expect "dest" kestrel-cli new --source d

if ((failures > 0)); then
    echo "$failures of the completions were wrong"
    exit 1
fi
echo "every completion as expected"
