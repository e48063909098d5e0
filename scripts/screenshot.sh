#!/usr/bin/env bash
# Starts the relay with its window on a virtual display and saves a picture of the screen.
#
#   scripts/screenshot.sh [build folder] [output file]     (default: build, screenshot.png)
#
# KELVO_SCALE=1.5 (or 2, ...) draws the window at that scale factor on a screen as much larger.
#
# Settings go to a temporary folder, so a user's own settings are neither read nor changed.
set -euo pipefail
build="${1:-build}"
out="$(realpath -m "${2:-screenshot.png}")"
bin="$(realpath "$build/bin/kelvorelay")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
export XDG_CONFIG_HOME="$tmp/config"
export XDG_RUNTIME_DIR="$tmp"
# The window is placed at 20,20; the screen's size leaves room around it.
mkdir -p "$XDG_CONFIG_HOME/Marlowin"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"Top"=dword:00000014\r\n"Left"=dword:00000014\r\n' \
  > "$XDG_CONFIG_HOME/Marlowin/KelvoRelay.reg"
scale="${KELVO_SCALE:-1}"
export QT_SCALE_FACTOR="$scale"
screen=$(awk -v s="$scale" 'BEGIN { printf "%dx%d", 920 * s, 500 * s }')
xvfb-run -a -s "-screen 0 ${screen}x24" bash -c '
  "$1" &
  pid=$!
  sleep 3                      # the first status tick comes after one second
  import -window root "$2"
  kill -TERM "$pid"
  wait "$pid"
' screenshot "$bin" "$out"
echo "saved $out"
