#!/usr/bin/env bash
# Opens Setup, the entry editor, About and Help of the relay's window, each at its first
# showing (the main window alone first), on a virtual display with a window manager (openbox), and saves a picture of the
# screen for each, with the frames of the main window and the dialog.
#
#   scripts/dialog-screenshots.sh [build folder] [output folder]
#                                 (default: build, build/screenshots)
#
# KELVO_SCALE=1.5 (or 2, ...) draws the windows at that scale factor on a screen as much larger.
#
# Runs inside a private network namespace, so port 8442 of the machine is never touched, and
# with settings in a temporary folder.
set -euo pipefail
build="${1:-build}"
out="$(realpath -m "${2:-$build/screenshots}")"
bin="$(realpath "$build/bin/kelvorelay")"
mkdir -p "$out"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/config/Marlowin"
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"Top"=dword:00000050\r\n"Left"=dword:00000064\r\n' \
  > "$tmp/config/Marlowin/KelvoRelay.reg"

exec unshare -rn bash -s "$bin" "$out" "$tmp" "${KELVO_SCALE:-1}" <<'INNER'
set -euo pipefail
bin="$1"; out="$2"; tmp="$3"; scale="$4"
ip link set lo up
export XDG_CONFIG_HOME="$tmp/config" XDG_RUNTIME_DIR="$tmp" DISPLAY=:77 QT_SCALE_FACTOR="$scale"
# Clicks below are at designed (1x) places; xdotool takes screen pixels.
px() { awk -v s="$scale" -v v="$1" 'BEGIN { printf "%d", v * s }'; }
Xvfb :77 -screen 0 "$(px 1280)x$(px 800)x24" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
sleep 1
"$bin" >/dev/null 2>&1 &
main=$(timeout 10 xdotool search --sync --onlyvisible --name '^KelvoRelay v')
sleep 1

frame() {  # the outer rectangle of a window (client plus the manager's frame): left top width height
  local x y w h l r t b
  read -r x y w h < <(xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF}
    /Absolute upper-left Y/{y=$NF} /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}')
  read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
  echo $((x - l)) $((y - t)) $((w + l + r)) $((h + t + b))
}
centre_offset() {  # how far the second rectangle's centre lies from the first one's (x2: half pixels)
  echo "$1 $2" | awk '{print "centre offset (half pixels) x " ($5*2+$7)-($1*2+$3) " y " ($6*2+$8)-($2*2+$4)}'
}
shoot() {  # name caption: waits for the dialog, saves the screen, prints both frames
  local win
  win=$(timeout 10 xdotool search --sync --onlyvisible --name "^$2\$" | head -1)
  sleep 1
  import -window root "$out/$1.png"
  local m d
  m=$(frame "$main"); d=$(frame "$win")
  echo "$1: main frame $m | dialog frame $d | $(centre_offset "$m" "$d")"
}
click() { xdotool mousemove --window "$1" "$(px "$2")" "$(px "$3")" click 1; }

import -window root "$out/main.png"
click "$main" 583 435               # Setup
shoot setup Setup
setup=$(xdotool search --onlyvisible --name '^Setup$' | head -1)
click "$setup" 373 103              # Add: the entry editor
shoot editor Add
xdotool key Escape; sleep 0.5
xdotool key Escape; sleep 0.5
click "$main" 744 435               # About
shoot about About
xdotool key Escape; sleep 0.5
click "$main" 663 435               # Help
shoot help Help
xdotool key Escape; sleep 0.5
INNER
