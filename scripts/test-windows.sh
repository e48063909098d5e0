#!/usr/bin/env bash
# Runs the Windows build's tests under Wine: the core test suite (CTest in the Windows build
# folder), then the headless end-to-end tests of the Linux build against kelvorelay.exe, and
# kelvorelay.exe following a new address of its adapter. With
# --bench it runs the load benchmark instead, the Linux relay and kelvorelay.exe in one run.
#
#   scripts/test-windows.sh [--bench] [windows build folder] [linux build folder]
#
# Everything runs in a private network namespace with only loopback, so port 8442 of the
# machine is never touched. Wine's server creates the sockets of its programs, so it is started
# inside the namespace too, and stopped again at the end. The Wine prefix lives in the Windows
# build folder and is created on the first run.
set -euo pipefail
cd "$(dirname "$0")/.."
bench=
if [ "${1:-}" = --bench ]; then
  bench=--bench
  shift
fi
win_build=$(realpath "${1:-build-win}")
linux_build=$(realpath "${2:-build}")

export WINEPREFIX="$win_build/wine-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

inner() {
  ip link set lo up
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix $WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w  # the server wineboot started ends on its own first
  fi
  # Stays up between the test programs, ends 5 s after the last one.
  wineserver -p5 || true
  # The Win32 window's tests need a display: a virtual one with a window manager, inside the
  # namespace as well.
  export DISPLAY=:$((60 + $$ % 200))
  Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
  local xvfb=$!
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  if command -v openbox >/dev/null 2>&1; then openbox >/dev/null 2>&1 & fi
  status=0
  if [ -n "$bench" ]; then
    "$linux_build/bin/load_bench" "${BENCH_SECONDS:-3}" --windows "$win_build/bin/kelvorelay.exe" ||
      status=1
  else
    check_imports || status=1
    (cd "$win_build" && ctest --output-on-failure -j2 -L windows) || status=1
    KELVO_WINDOWS_RELAY="$win_build/bin/kelvorelay.exe" \
      "$linux_build/tests/e2e_headless_test" --gtest_brief=1 || status=1
    scripts/wine-network-test.sh "$win_build" || status=1
  fi
  wineserver -k || true
  kill "$xvfb" 2>/dev/null || true
  return $status
}

# kelvorelay.exe must run on a clean Windows machine: it may import system DLLs only, none of
# the compiler's runtime (libstdc++, libgcc, winpthread).
check_imports() {
  local exe="$win_build/bin/kelvorelay.exe" dlls
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
  local foreign
  foreign=$(echo "$dlls" | grep -viE '^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|comctl32|comdlg32|ws2_32|iphlpapi|version|msvcrt|windowscodecs|uxtheme|shlwapi|dwmapi|imm32|winmm|bcrypt|ntdll)\.dll$' || true)
  if [ -n "$foreign" ]; then
    echo "error: $exe imports DLLs that a clean Windows machine lacks: $foreign" >&2
    return 1
  fi
  echo "kelvorelay.exe imports system DLLs only:" $dlls
}

if [ "${KELVO_IN_NAMESPACE:-}" = 1 ]; then
  inner
elif unshare -n true 2>/dev/null; then
  KELVO_IN_NAMESPACE=1 exec unshare -n "$0" $bench "$win_build" "$linux_build"
else
  echo "error: cannot create a private network namespace (unshare -n); run as root" >&2
  exit 1
fi
