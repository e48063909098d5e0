#!/bin/sh
# Runs the Win32 window tests under Wine on a virtual display of their own:
#   scripts/win32-ui-test.sh <windows build folder> [gtest arguments...]
# Call it inside a private network namespace (the tests bind port 8442), e.g.
#   unshare -n sh -c 'ip link set lo up; scripts/win32-ui-test.sh build-win'
set -eu
build=$(cd "$1" && pwd)
shift
display=:$((60 + $$ % 200))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display" WINEPREFIX="${WINEPREFIX:-$build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
# A window manager, so that activation and the frame behave as on a desktop.
if command -v openbox >/dev/null 2>&1; then
  openbox >/dev/null 2>&1 &
fi
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
for i in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1
timeout 600 wine "$build/tests/ui_win32_test.exe" "$@"
