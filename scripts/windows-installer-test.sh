#!/bin/sh
# A silent install and uninstall of the Windows installer under Wine, in the build's prefix:
#   scripts/windows-installer-test.sh <windows build folder>
# Checks the files, the Start-menu shortcut and the Uninstall entry after installing, and that
# uninstalling removes them but keeps the settings.
set -eu
build=$(cd "$1" && pwd)
setup=$(ls "$build"/KelvoRelay-*-setup.exe)
export WINEPREFIX="${WINEPREFIX:-$build/wine-prefix}"
export WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
[ -d "$WINEPREFIX" ] || wineboot -i >/dev/null 2>&1

failures=0
check() {  # check <description> <command...>
  description=$1
  shift
  if "$@"; then echo "ok   $description"; else echo "FAIL $description"; failures=$((failures + 1)); fi
}
winpath() { wine cmd /c echo "$1" 2>/dev/null | tr -d '\r'; }
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KelvoRelay'
settings='HKCU\Software\Marlowin\KelvoRelay'

appdata=$(winepath -u "$(winpath '%LOCALAPPDATA%')" 2>/dev/null)
programs=$(winepath -u "$(winpath '%APPDATA%')" 2>/dev/null)'/Microsoft/Windows/Start Menu/Programs'
dir="$appdata/Programs/KelvoRelay"
rm -rf "$dir"
# A setting from an earlier run, which the uninstaller must leave alone.
wine reg add "$settings" /v Top /t REG_DWORD /d 42 /f >/dev/null 2>&1

timeout 120 wine "$setup" /S
check "installed into %LOCALAPPDATA%\\Programs\\KelvoRelay" test -f "$dir/kelvorelay.exe"
check "Readme.txt beside the executable" test -f "$dir/Readme.txt"
check "uninstaller beside the executable" test -f "$dir/uninstall.exe"
check "Start-menu shortcut" test -f "$programs/KelvoRelay.lnk"
check "Uninstall entry under HKCU" sh -c "wine reg query '$key' /v UninstallString 2>/dev/null | grep -q uninstall.exe"
check "Uninstall entry names the version" sh -c "wine reg query '$key' /v DisplayVersion 2>/dev/null | grep -q 1.0.2"
check "the installed program reports its version" sh -c \
  "timeout 60 wine '$dir/kelvorelay.exe' --help 2>/dev/null | grep -qi usage"

# _?= runs the uninstaller in place and waits for it (it then leaves itself behind).
timeout 120 wine "$dir/uninstall.exe" /S "_?=$(winepath -w "$dir")"
check "program removed" test ! -e "$dir/kelvorelay.exe"
check "read-me removed" test ! -e "$dir/Readme.txt"
check "shortcut removed" test ! -e "$programs/KelvoRelay.lnk"
check "Uninstall entry removed" sh -c "! wine reg query '$key' >/dev/null 2>&1"
check "settings kept" sh -c "wine reg query '$settings' /v Top 2>/dev/null | grep -q 0x2a"
rm -rf "$dir"
wine reg delete "$settings" /v Top /f >/dev/null 2>&1 || true

[ "$failures" -eq 0 ] && echo "installer: all checks passed" || { echo "installer: $failures failed"; exit 1; }
