#!/usr/bin/env bash
# The installed program as a user runs it. The build is installed into a DESTDIR tree, which is
# laid over /usr read-only in a private mount and network namespace, and /usr/bin/kelvorelay is
# started headless as an unprivileged user with a home of its own. It must relay over loopback,
# re-read its settings through the unit's ExecReload, end through the desktop entry's Quit
# action and through the package's prerm, and keep its settings and its debug log in that
# user's folders.
#
#   installed_program_test.sh <build folder> <package_udp_probe>
set -euo pipefail
build=$(realpath "$1")
probe=$(realpath "$2")
id=com.marlowin.KelvoRelay

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: needs root for the mount and network namespaces and for a second user"
  exit 77
fi
if [ -z "${KELVO_PACKAGE_NAMESPACE:-}" ]; then
  exec env KELVO_PACKAGE_NAMESPACE=1 unshare --mount --net --propagation private "$0" "$@"
fi

fail() {
  echo "FAILED: $*" >&2
  exit 1
}

ip link set lo up
tmp=$(mktemp -d /tmp/kelvo_installed_XXXXXX)
relay_pid=
cleanup() {
  [ -n "$relay_pid" ] && kill -KILL "$relay_pid" 2>/dev/null
  umount /dev/shm /usr 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
chmod 755 "$tmp"

DESTDIR="$tmp/root" cmake --install "$build" --prefix /usr >/dev/null
mount -t overlay overlay -o "lowerdir=$tmp/root/usr:/usr" /usr
# The single-instance record of /usr/bin/kelvorelay lives in /dev/shm: a private one keeps this
# relay apart from one that may be installed and running on this machine.
mount -t tmpfs -o mode=1777 tmpfs /dev/shm
touch /usr/bin/kelvorelay.log 2>/dev/null && fail "/usr is writable"

# The user: nobody, with a home, a settings file naming the loopback adapter and one
# controller, and a runtime folder, as a login session would give it.
user=65534
home="$tmp/home"
settings="$home/.config/Marlowin/KelvoRelay.reg"
mkdir -p "$(dirname "$settings")" "$tmp/run"
write_settings() {  # <controller port>
  printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"EthernetAdapterID"="lo"\r\n"StaticList0"="1001,127.0.0.1,%s"\r\n' \
    "$1" > "$settings"
  # An old time stamp, so the save at exit shows.
  touch -d @946684800 "$settings"
}
write_settings 18443
chown -R "$user:$user" "$home" "$tmp/run"
chmod 700 "$tmp/run"

as_user=(env -i HOME="$home" XDG_RUNTIME_DIR="$tmp/run" PATH=/usr/bin:/bin LANG=C.UTF-8
         setpriv --reuid="$user" --regid="$user" --clear-groups)

# A simple command, so that $! is the relay itself (env and setpriv exec it).
"${as_user[@]}" kelvorelay --headless --debug-log > "$tmp/stdout" 2> "$tmp/stderr" &
relay_pid=$!

for _ in $(seq 100); do
  grep -qs "listening on" "$tmp/stdout" && break
  kill -0 "$relay_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q "listening on 127.0.0.1:8442" "$tmp/stdout" ||
  fail "the relay did not listen: $(cat "$tmp/stdout" "$tmp/stderr")"

"$probe" 18443 5 || fail "frames were not relayed"

# The unit's ExecReload, as `systemctl --user reload` runs it: the relay re-reads the settings
# and says again where it listens.
write_settings 18444
reload=$(sed -n 's/^ExecReload=//p' /usr/lib/systemd/user/kelvorelay.service)
# shellcheck disable=SC2086 # the Exec line is a command line
"${as_user[@]}" ${reload//\$MAINPID/$relay_pid} || fail "'$reload' exited with code $?"
for _ in $(seq 100); do
  [ "$(grep -c "listening on" "$tmp/stdout")" -ge 2 ] && break
  sleep 0.1
done
[ "$(grep -c "listening on 127.0.0.1:8442" "$tmp/stdout")" -eq 2 ] ||
  fail "no listening line after the reload: $(cat "$tmp/stdout" "$tmp/stderr")"
# A new application: NAD 5 is still held by the first one for a minute.
"$probe" 18444 7 || fail "frames did not reach the controller of the re-read settings"

# The desktop entry's Quit action ends it as "Exit" does, settings saved.
quit=$(sed -n '/^\[Desktop Action Quit\]/,/^\[/s/^Exec=//p' "/usr/share/applications/$id.desktop")
[ -n "$quit" ] || fail "the desktop entry has no Quit action"
# shellcheck disable=SC2086 # the Exec line is a command line
"${as_user[@]}" $quit || fail "'$quit' exited with code $?"
status=0
wait "$relay_pid" || status=$?
relay_pid=
echo "--- the relay's output"
cat "$tmp/stdout" "$tmp/stderr"
[ "$status" -eq 0 ] || fail "exit code $status after '$quit'"

log="$home/.local/state/Marlowin/kelvorelay.log"
grep -qxF "Debug log: $log" "$tmp/stdout" || fail "the relay did not say where its log is"
[ -f "$log" ] || fail "no debug log at $log"
[ "$(stat -c %u "$log")" = "$user" ] || fail "the debug log is not the user's"
[ "$(stat -c %a "$(dirname "$log")")" = 700 ] || fail "the log's folder is not private"
# Two requests and two replies, one line for each datagram in and out.
[ "$(grep -c ' Rx ' "$log")" -eq 4 ] || fail "Rx lines: $(cat "$log")"
[ "$(grep -c ' Tx ' "$log")" -eq 4 ] || fail "Tx lines: $(cat "$log")"
echo "--- $log"
cat "$log"

# The save at exit rewrote the settings file; it is still the user's and still holds the
# controller.
[ "$(stat -c %Y "$settings")" -gt 946684800 ] || fail "the settings were not saved"
[ "$(stat -c %u "$settings")" = "$user" ] || fail "the settings file is not the user's"
grep -q '"StaticList0"="1001,127.0.0.1,18444"' "$settings" || fail "the static list was lost"

# Removing or upgrading the package: its prerm asks the running relay of every user to end,
# as --quit does (settings saved), and never fails, also when nothing runs.
prerm="$(dirname "$(realpath "$0")")/../../packaging/prerm"
write_settings 18445
"${as_user[@]}" kelvorelay --headless > "$tmp/stdout" 2> "$tmp/stderr" &
relay_pid=$!
for _ in $(seq 100); do
  grep -qs "listening on" "$tmp/stdout" && break
  kill -0 "$relay_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q "listening on 127.0.0.1:8442" "$tmp/stdout" ||
  fail "the relay did not listen again: $(cat "$tmp/stdout" "$tmp/stderr")"
said=$(sh "$prerm" remove) || fail "prerm remove exited with code $?"
echo "--- prerm remove: $said"
echo "$said" | grep -qx "Asking KelvoRelay of user $(id -nu "$user") to end" ||
  fail "prerm did not ask the relay"
status=0
wait "$relay_pid" || status=$?
relay_pid=
[ "$status" -eq 0 ] || fail "exit code $status after prerm: $(cat "$tmp/stdout" "$tmp/stderr")"
[ "$(stat -c %Y "$settings")" -gt 946684800 ] || fail "the settings were not saved on prerm's quit"
said=$(sh "$prerm" upgrade 1.0.3) || fail "prerm upgrade with nothing running exited with code $?"
[ -z "$said" ] || fail "prerm with nothing running said: $said"

echo "PASSED"
