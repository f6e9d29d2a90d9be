#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# The desktop entry and the AppStream metainfo pass the checkers the desktops and software
# centres use (warnings fail too).
# Usage: desktop_files_test.sh DESKTOP_FILE METAINFO_FILE
set -eu
# It reports warnings and hints without failing: anything it says fails here.
said=$(desktop-file-validate "$1" 2>&1) || true
if [ -n "$said" ]; then
    echo "$said"
    exit 1
fi
appstreamcli validate --no-net --explain "$2"
echo "the desktop files are valid"
