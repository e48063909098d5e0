#!/usr/bin/env bash
# The installed desktop entry, AppStream metadata, icons, user unit, man page and the autostart
# entry the program writes, checked by the tools that desktops, software centres and systemd
# use. The unit is verified inside a private mount namespace with the installed tree laid over
# /usr, so the programs it names exist.
#
#   desktop_files_test.sh <build folder>
set -euo pipefail
build=$(realpath "$1")
id=com.marlowin.KelvoRelay

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: needs root for the mount namespace"
  exit 77
fi
if [ -z "${KELVO_PACKAGE_NAMESPACE:-}" ]; then
  exec env KELVO_PACKAGE_NAMESPACE=1 unshare --mount --propagation private "$0" "$@"
fi

failures=0
check() {
  local what=$1
  shift
  echo "--- $what: $*"
  if ! "$@"; then
    echo "FAILED: $what"
    failures=$((failures + 1))
  fi
}
# Runs a validator that reports problems on its output but may still exit 0.
quiet() {
  local output
  output=$("$@" 2>&1) || { printf '%s\n' "$output"; return 1; }
  printf '%s\n' "$output"
  [ -z "$output" ]
}

tmp=$(mktemp -d /tmp/kelvo_desktop_XXXXXX)
trap 'umount /usr 2>/dev/null || true; rm -rf "$tmp"' EXIT
root="$tmp/root"
DESTDIR="$root" cmake --install "$build" --prefix /usr >/dev/null

check "desktop entry" quiet desktop-file-validate "$root/usr/share/applications/$id.desktop"
grep -qx 'Exec=kelvorelay --quit' "$root/usr/share/applications/$id.desktop" ||
  { echo "FAILED: no Quit action running kelvorelay --quit"; failures=$((failures + 1)); }
check "AppStream metadata" appstreamcli validate --pedantic --no-net \
  "$root/usr/share/metainfo/$id.metainfo.xml"
# The tree check also finds the desktop entry and the icons the metadata refers to.
check "installed tree" appstreamcli validate-tree --pedantic --no-net "$root"

# Each icon is drawn at the size of the folder it lies in.
for png in "$root"/usr/share/icons/hicolor/*/apps/$id.png; do
  size=$(basename "$(dirname "$(dirname "$png")")")
  file "$png" | grep -q "PNG image data, ${size/x/ x }," ||
    { echo "FAILED: $png is not $size: $(file -b "$png")"; failures=$((failures + 1)); }
done
for size in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256 scalable; do
  ls "$root/usr/share/icons/hicolor/$size/apps/$id".* >/dev/null ||
    { echo "FAILED: no $size icon"; failures=$((failures + 1)); }
done

# Debian's place for a package's documentation, where Help finds the read-me.
for doc in Readme.txt copyright changelog.gz; do
  [ -f "$root/usr/share/doc/kelvorelay/$doc" ] ||
    { echo "FAILED: no /usr/share/doc/kelvorelay/$doc"; failures=$((failures + 1)); }
done

# groff's warnings (and man's own complaints) are the only output on stderr.
man_page="$root/usr/share/man/man1/kelvorelay.1.gz"
check "man page" quiet sh -c 'LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -P cat -l "$1" >/dev/null' \
  sh "$man_page"
man_text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -E UTF-8 -P cat -l "$man_page")
for section in OPTIONS FILES SIGNALS "EXIT STATUS"; do
  grep -qx "$section" <<<"$man_text" ||
    { echo "FAILED: the man page has no $section"; failures=$((failures + 1)); }
done

mount -t overlay overlay -o "lowerdir=$root/usr:/usr" /usr
mkdir -m 700 "$tmp/run"
check "user unit" quiet env XDG_RUNTIME_DIR="$tmp/run" \
  systemd-analyze verify --user /usr/lib/systemd/user/kelvorelay.service
grep -qx 'ExecStart=/usr/bin/kelvorelay --headless' /usr/lib/systemd/user/kelvorelay.service ||
  { echo "FAILED: the unit does not start /usr/bin/kelvorelay --headless"; failures=$((failures + 1)); }

# The autostart entry that --autostart on writes for the installed program.
env XDG_CONFIG_HOME="$tmp/config" /usr/bin/kelvorelay --autostart on >/dev/null
check "autostart entry" quiet desktop-file-validate "$tmp/config/autostart/$id.desktop"
grep -qx 'Exec=/usr/bin/kelvorelay --hidden' "$tmp/config/autostart/$id.desktop" ||
  { echo "FAILED: the autostart entry does not start /usr/bin/kelvorelay --hidden"; failures=$((failures + 1)); }

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "PASSED"
