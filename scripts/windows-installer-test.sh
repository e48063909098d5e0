#!/bin/sh
# The Windows installer under Wine, in the build's prefix, on a virtual display of its own:
#   scripts/windows-installer-test.sh <windows build folder>
# Call it inside a private network namespace (the installed program listens on port 8442).
#
#  1. a silent install: files, shortcut, the Uninstall entry, no debug information in the
#     executable, the Windows read-me, no start at sign-in unless asked;
#  2. a silent upgrade while the window runs and does not answer: exit code 2 after the
#     10 seconds it waits, nothing changed;
#  3. a silent upgrade with /AUTOSTART=1 while the window runs: it ends cleanly (settings saved),
#     the new executable is in place, the settings stayed, the Run value holds the quoted path
#     and --hidden; a later silent upgrade keeps that choice;
#  4. a silent uninstall while a headless relay runs: it ends cleanly, nothing is left in the
#     installation folder, no Uninstall entry, no Run value, the settings stayed.
set -eu
build=$(cd "$1" && pwd)
setup=$(ls "$build"/KelvoRelay-*-setup.exe)
export WINEPREFIX="${WINEPREFIX:-$build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
tmp=$(mktemp -d /tmp/kelvo_installer_XXXXXX)
# A display number nobody else on this machine holds.
number=$((60 + $$ % 200))
while [ -e "/tmp/.X$number-lock" ]; do number=$((number + 1)); done
display=:$number
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY="$display"
relay=
cleanup() {
  [ -n "$relay" ] && { kill -CONT "$relay"; kill -KILL "$relay"; } 2>/dev/null
  wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1

failures=0
check() {  # check <description> <command...>
  description=$1
  shift
  if "$@"; then echo "ok   $description"; else echo "FAIL $description"; failures=$((failures + 1)); fi
}
winpath() { wine cmd /c echo "$1" 2>/dev/null | tr -d '\r'; }
# The data of a registry value as `reg query` prints it, or nothing.
value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvoRelay'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
settings='HKCU\Software\Marlowin\KelvoRelay'
static='77,127.0.0.1,9077'

appdata=$(winepath -u "$(winpath '%LOCALAPPDATA%')" 2>/dev/null)
programs=$(winepath -u "$(winpath '%APPDATA%')" 2>/dev/null)'/Microsoft/Windows/Start Menu/Programs'
dir="$appdata/Programs/KelvoRelay"
exe_w=$(winepath -w "$dir/kelvorelay.exe")
rm -rf "$dir"
wine reg delete "$run_key" /v KelvoRelay /f >/dev/null 2>&1 || true
# A setting from an earlier run, which neither an upgrade nor the uninstaller may touch.
wine reg add "$settings" /v StaticList0 /t REG_SZ /d "$static" /f >/dev/null 2>&1

# Waits (bounded) until "$@" holds.
wait_for() {
  for _ in $(seq 300); do "$@" && return 0; sleep 0.1; done
  return 1
}
window_shown() { xdotool search --onlyvisible --name '^KelvoRelay v' >/dev/null 2>&1; }
# Whether process $1 has ended (a child that ended but is not waited for yet has).
ended() { [ ! -e "/proc/$1" ] || [ "$(sed -n 's/^.*) \(.\).*/\1/p' "/proc/$1/stat")" = Z ]; }
# The exit code of the relay started last, or 255 when it is still running after 30 s.
relay_exit() {
  wait_for ended "$relay" || return 255
  status=0
  wait "$relay" || status=$?
  relay=
  return $status
}

echo "--- 1. silent install"
size=$(stat -c %s "$setup")
echo "installer: $(basename "$setup"), $size bytes"
check "installer under 3 MB" test "$size" -lt 3145728
timeout 120 wine "$setup" /S
check "installed into %LOCALAPPDATA%\\Programs\\KelvoRelay" test -f "$dir/kelvorelay.exe"
check "no debug information in the installed executable" sh -c \
  "! x86_64-w64-mingw32-objdump -h '$dir/kelvorelay.exe' | grep -q '\\.debug'"
check "Readme.txt beside the executable" test -f "$dir/Readme.txt"
check "the read-me is the Windows one" sh -c \
  "grep -q 'allow KelvoRelay on private networks when Windows asks, or inbound UDP 8442' '$dir/Readme.txt' &&
   ! grep -q 'XDG_' '$dir/Readme.txt'"
check "uninstaller beside the executable" test -f "$dir/uninstall.exe"
check "Start-menu shortcut" test -f "$programs/KelvoRelay.lnk"
check "Uninstall entry: UninstallString" sh -c "wine reg query '$key' /v UninstallString 2>/dev/null | grep -q uninstall.exe"
check "Uninstall entry: DisplayVersion" test "$(value "$key" DisplayVersion)" = 1.0.2
check "Uninstall entry: Publisher" test "$(value "$key" Publisher)" = Marlowin
check "Uninstall entry: URLInfoAbout" test "$(value "$key" URLInfoAbout)" = https://www.marlowin.com
check "Uninstall entry: DisplayIcon" test "$(value "$key" DisplayIcon)" = "$exe_w,0"
check "Uninstall entry: NoModify, NoRepair" sh -c \
  "test '$(value "$key" NoModify)' = 0x1 && test '$(value "$key" NoRepair)' = 0x1"
installed_kb=$(( ($(stat -c %s "$dir/kelvorelay.exe") + $(stat -c %s "$dir/Readme.txt") +
                  $(stat -c %s "$dir/uninstall.exe")) / 1024 ))
estimated=$(( $(value "$key" EstimatedSize) ))
echo "EstimatedSize: $estimated KB (files: $installed_kb KB)"
check "Uninstall entry: EstimatedSize in KB" test "$estimated" -ge "$installed_kb" -a \
  "$estimated" -le $((installed_kb + 8))
check "no start at sign-in unless asked" test -z "$(value "$run_key" KelvoRelay)"
check "the installed program runs" sh -c \
  "timeout 60 wine '$dir/kelvorelay.exe' --help 2>/dev/null | grep -qi usage"

echo "--- 2. silent upgrade while the window runs and does not answer"
# An older executable: a few bytes more, so that its replacement shows.
printf 'older' >> "$dir/kelvorelay.exe"
old_sum=$(md5sum < "$dir/kelvorelay.exe")
wine "$dir/kelvorelay.exe" >/dev/null 2>&1 &
relay=$!
check "the window shows" wait_for window_shown
kill -STOP "$relay"
status=0
started=$(date +%s)
timeout 120 wine "$setup" /S || status=$?
waited=$(( $(date +%s) - started ))
kill -CONT "$relay"
echo "the installer gave up after $waited s with code $status"
check "the installer gave up with exit code 2" test "$status" -eq 2
check "after waiting 10 s for the relay" test "$waited" -ge 10 -a "$waited" -le 40
check "the old executable is untouched" test "$(md5sum < "$dir/kelvorelay.exe")" = "$old_sum"
# Woken up, it may still take the request the installer left in its pipe.
wine "$dir/kelvorelay.exe" --quit >/dev/null 2>&1 || true
status=0
relay_exit || status=$?
check "woken up, the relay ends cleanly (exit code $status)" test "$status" -eq 0

echo "--- 3. silent upgrade with /AUTOSTART=1 while the window runs"
wine "$dir/kelvorelay.exe" >/dev/null 2>&1 &
relay=$!
check "the window shows" wait_for window_shown
# The relay writes its window position when it ends.
wine reg delete "$settings" /v Top /f >/dev/null 2>&1 || true
status=0
timeout 120 wine "$setup" /S /AUTOSTART=1 || status=$?
check "the upgrade succeeded" test "$status" -eq 0
status=0
relay_exit || status=$?
check "the relay ended cleanly (exit code $status)" test "$status" -eq 0
check "the new executable is in place" cmp -s "$dir/kelvorelay.exe" "$build/bin/kelvorelay.exe"
check "the relay saved its settings on the way out" test -n "$(value "$settings" Top)"
check "the settings stayed" test "$(value "$settings" StaticList0)" = "$static"
printf 'Run value KelvoRelay: %s\n' "$(value "$run_key" KelvoRelay)"
check "the Run value holds the quoted path and --hidden" \
  test "$(value "$run_key" KelvoRelay)" = "\"$exe_w\" --hidden"
timeout 120 wine "$setup" /S
check "a silent upgrade without /AUTOSTART keeps start at sign-in" \
  test "$(value "$run_key" KelvoRelay)" = "\"$exe_w\" --hidden"

echo "--- 4. silent uninstall while a headless relay runs"
wine "$dir/kelvorelay.exe" --headless >"$tmp/headless.out" 2>&1 &
relay=$!
check "the headless relay listens" wait_for grep -q "listening on" "$tmp/headless.out"
# Without _?= the uninstaller runs from a copy of itself and can remove its own folder; the
# copy is not waited for, so the result is.
timeout 120 wine "$dir/uninstall.exe" /S
check "nothing left in the installation folder" wait_for test ! -e "$dir"
status=0
relay_exit || status=$?
check "the headless relay ended cleanly (exit code $status)" test "$status" -eq 0
check "shortcut removed" test ! -e "$programs/KelvoRelay.lnk"
check "Uninstall entry removed" sh -c "! wine reg query '$key' >/dev/null 2>&1"
check "Run value removed" test -z "$(value "$run_key" KelvoRelay)"
check "settings kept" test "$(value "$settings" StaticList0)" = "$static"
rm -rf "$dir"
wine reg delete "$settings" /f >/dev/null 2>&1 || true

[ "$failures" -eq 0 ] && echo "installer: all checks passed" || { echo "installer: $failures failed"; exit 1; }
