#!/bin/sh
# Screenshots of the Win32 program under Wine on a virtual display: the main window, Setup, the
# static entry editor, About and Help, as PNG files in <output folder>:
#   scripts/win32-screenshots.sh <windows build folder> <output folder>
# Call it inside a private network namespace (the program binds port 8442), e.g.
#   unshare -n sh -c 'ip link set lo up; scripts/win32-screenshots.sh build-win build-win/screenshots'
# KELVO_SCALE=1.5 (or 2, ...) runs the program at that many dots per inch over 96 (Wine's
# LogPixels), on a 1280 x 800 screen all the same.
set -eu
scale=${KELVO_SCALE:-1}
px() { awk -v s="$scale" -v v="$1" 'BEGIN { printf "%d", v * s + 0.5 }'; }
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
display=:$((60 + $$ % 200))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display" WINEPREFIX="${WINEPREFIX:-$build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# Wine draws the Win32 frames itself (caption buttons as the program asks for them), instead of
# the window manager's decorations.
x11key='HKCU\Software\Wine\X11 Driver'
dpikey='HKCU\Control Panel\Desktop'
cleanup() {
  wine reg delete "$x11key" /v Decorated /f >/dev/null 2>&1 || true
  wine reg delete "$dpikey" /v LogPixels /f >/dev/null 2>&1 || true
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for i in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
openbox >/dev/null 2>&1 &
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
wine reg add "$x11key" /v Decorated /t REG_SZ /d N /f >/dev/null 2>&1
wine reg add "$dpikey" /v LogPixels /t REG_DWORD /d "$(px 96)" /f >/dev/null 2>&1

# Waits (bounded) for a window with this exact title; prints its X window id.
wait_window() {
  for i in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.2
  done
  echo "no window \"$1\"" >&2
  return 1
}
# Clicks at client coordinates of a window (the 96-dpi design places) whose client area is
# <width> x <height>: the frame is as wide left, right and below, the caption takes the rest.
click() {
  eval "$(xdotool getwindowgeometry --shell "$1")"
  border=$(( (WIDTH - $(px "$4")) / 2 ))
  caption=$(( HEIGHT - $(px "$5") - border ))
  xdotool mousemove --window "$1" $(( $(px "$2") + border )) $(( $(px "$3") + caption )) click 1
  sleep 1
}
shot() {
  sleep 1
  import -window root "$out/$1.png"
  echo "$out/$1.png"
}

(cd "$build/bin" && wine ./kelvorelay.exe >/dev/null 2>&1 &)
main=$(wait_window "KelvoRelay v1.0.2")
sleep 2
shot main
# A few seconds of traffic over loopback: rows in both lists, lit lamps, a message rate.
python3 "$(dirname "$0")/relay-traffic.py" 5 12 &
traffic=$!
sleep 3
shot main-traffic
wait "$traffic"

click "$main" 583 435 872 456  # Setup
setup=$(wait_window Setup)
shot setup
click "$setup" 373 103 428 361  # Add
wait_window Add >/dev/null
shot editor
xdotool key Escape; sleep 1
xdotool key Escape; sleep 1

click "$main" 744 435 872 456  # About
wait_window About >/dev/null
shot about
xdotool key Escape; sleep 1

click "$main" 663 435 872 456  # Help
wait_window Help >/dev/null
shot help
xdotool key Escape; sleep 1
