#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Writes a man page from a program's own --help, so that the page says what the program says.
# Usage: man/make-man.sh PROGRAM OUT VERSION
#   PROGRAM  the built kestrel or kestrel-cli
#   OUT      the man page to write
# kestrel-cli's page gets a section per command from "kestrel-cli COMMAND --help"; both pages
# take their further sections from man/NAME.h2m.
set -eu

program=$1
out=$2
version=$3
here=$(cd "$(dirname "$0")" && pwd)
name=$(basename "$program")
# A sanitized build's programs must not fail the page for a leak report at exit.
ASAN_OPTIONS=${ASAN_OPTIONS:-}${ASAN_OPTIONS:+:}detect_leaks=0
export ASAN_OPTIONS
# Dates and sorting must not depend on who builds.
LC_ALL=C.UTF-8
export LC_ALL

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Turns one command's help into roff: its description, usage, and its positionals and options
# as tagged paragraphs (a name column that overflows puts its text on the next lines).
command_section() {
    awk -v command="$1" '
        function roff(s) {
            gsub(/\\/, "\\e", s)
            gsub(/-/, "\\-", s)
            sub(/^[.'"'"']/, "\\\\\\&&", s)
            return s
        }
        function flush() {
            if (tag != "") {
                print ".TP"
                print "\\fB" roff(tag) "\\fR"
                print roff(text)
            }
            tag = ""
            text = ""
        }
        NR == 1 { description = $0; next }
        /^Usage: / {
            print ".SS \"" command "\""
            print roff(description)
            print ".PP"
            sub(/^Usage: /, "")
            print ".B " roff($0)
            next
        }
        /^[A-Za-z].*:$/ { flush(); next }
        # Every command takes --help; the page says so once, under OPTIONS.
        /^  -h,--help / { flush(); skip = 1; next }
        /^  [^ ]/ {
            flush()
            skip = 0
            line = substr($0, 3)
            split_at = match(line, /  +/)
            if (split_at > 0) {
                tag = substr(line, 1, split_at - 1)
                text = substr(line, split_at + RLENGTH)
            } else {
                tag = line
            }
            next
        }
        /^   +[^ ]/ {
            if (skip) next
            sub(/^ +/, "")
            text = text == "" ? $0 : text " " $0
            next
        }
        END { flush() }
    '
}

includes=""
if [ "$name" = kestrel-cli ]; then
    {
        echo "[COMMANDS]"
        "$program" --help | sed -n 's/^  \([a-z][a-z-]*\)  .*/\1/p' | while read -r command; do
            "$program" "$command" --help | command_section "kestrel-cli $command"
        done
    } >"$work/commands.h2m"
    includes="--include=$work/commands.h2m"
fi
# After the commands: help2man orders sections of its own kind as they come.
if [ -f "$here/$name.h2m" ]; then
    includes="$includes --include=$here/$name.h2m"
fi

# shellcheck disable=SC2086 # the include options are words of their own
help2man --no-info --no-discard-stderr --version-string="$version" $includes \
    --output="$work/page" "$program"
mv "$work/page" "$out"
