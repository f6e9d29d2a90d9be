#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# On a real X display with a window manager (openbox) and an XEmbed tray host (trayer): the
# program docks its icon, and closing the main window from the title bar hides the window and
# leaves the icon on screen.
# Usage: tray_smoke.sh KESTREL_BINARY
set -euo pipefail
kestrel=$1
for tool in Xvfb openbox trayer xdotool wmctrl xprop xwininfo; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps.sh installs it)"; exit 1; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  xwininfo -root -tree | grep -iE "kestrel|trayer|panel" || true
  exit 1
}

# The server says its display number once it accepts clients.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
read -r number <"$work/display"
export DISPLAY=":$number" HOME="$work" XDG_CONFIG_HOME="$work/config"
unset WAYLAND_DISPLAY

# Openbox runs its start-up command once it manages the screen; trayer is there with its panel.
mkfifo "$work/wm"
openbox --sm-disable --startup "sh -c 'echo up >$work/wm'" >/dev/null 2>&1 &
pids+=($!)
read -r _ <"$work/wm"
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
pids+=($!)
panel=$(timeout 30 xdotool search --sync --name '^panel$' | head -1) || fail "trayer did not start"

KESTREL_HOME="$work/home" QT_QPA_PLATFORM=xcb "$kestrel" >"$work/kestrel.out" 2>&1 &
pids+=($!)
main=$(timeout 60 xdotool search --sync --onlyvisible --name '^Kestrel [0-9]' | head -1) ||
  fail "the main window did not open"
docked() { xwininfo -tree -id "$panel" | grep -o '0x[0-9a-f]* "kestrel"' | cut -d' ' -f1 || true; }
icon=$(docked)
[ -n "$icon" ] || fail "no tray icon in the tray host"

# The title bar's close: asked of the window manager (_NET_CLOSE_WINDOW), it sends
# WM_DELETE_WINDOW as its X button does; it drops WM_STATE when the window is withdrawn.
coproc SPY { timeout 30 xprop -spy -id "$main" WM_STATE; }
read -r _ <&"${SPY[0]}"
wmctrl -i -c "$main"
withdrawn=""
while read -r line <&"${SPY[0]}"; do
  case $line in *"not found"* | *Withdrawn*) withdrawn=1 && break ;; esac
done
[ -n "$withdrawn" ] || fail "the main window did not close"

[ "$(docked)" = "$icon" ] || fail "closing the main window removed the tray icon"
xwininfo -id "$icon" | grep -q "IsViewable" || fail "the tray icon is no longer shown"
kill -0 "${pids[-1]}" 2>/dev/null || fail "the program ended"
echo "ok: the tray icon $icon stays after the main window closed"
