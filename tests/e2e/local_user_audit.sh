#!/usr/bin/env bash
# Measures what silent control clients and another local user do to a headless relay, for any
# build of it (to compare one with another; the tests in control_channel_test.cpp hold the
# current one to the results):
#
#   tests/e2e/local_user_audit.sh <kelvorelay executable>
#
# Needs root (a second user, a private network namespace) and python3. One line per case:
#   silent   two connections to the control socket that never speak: --add-static time, SIGTERM
#            to exit
#   planted  another user's record (mode 0666) where the relay looks for it, its admission slots
#            held: how a start ends
#   gate     the same, with its gate byte held: how a start ends, and whether SIGTERM ends it
#   squat    another user listening on the control socket first: what --add-static does, and
#            how many bytes of it the other user received
# The relay runs as one throwaway user id, the other user is another; neither has an account.
set -euo pipefail
[ "$(id -u)" -eq 0 ] || { echo "SKIPPED: needs root for a second user and a namespace"; exit 77; }
if [ -z "${KELVO_AUDIT_NAMESPACE:-}" ]; then
  exec env KELVO_AUDIT_NAMESPACE=1 unshare -n "$0" "$@"
fi
ip link set lo up
victim=61997
other=61998
tmp=$(mktemp -d /tmp/kelvo_audit_XXXXXX)
chmod 755 "$tmp"
cleanup() {
  pkill -KILL -U "$other" 2>/dev/null || true
  [ -n "${relay_pid:-}" ] && kill -KILL "$relay_pid" 2>/dev/null || true
  find /dev/shm -maxdepth 1 \( -user "$other" -o -user "$victim" \) -name 'kelvorelay.*' \
    -delete 2>/dev/null || true
  pkill -KILL -U "$victim" 2>/dev/null || true
  rm -f "${old_socket:-/nonexistent}"
  rm -rf "$tmp"
}
trap cleanup EXIT
mkdir -p "$tmp/bin" "$tmp/config/Marlowin" "$tmp/tmp"
chmod 1777 "$tmp/tmp"
cp "$1" "$tmp/bin/kelvorelay"
export XDG_CONFIG_HOME="$tmp/config" TMPDIR="$tmp/tmp" HOME="$tmp/config"
unset XDG_RUNTIME_DIR
printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Marlowin\\KelvoRelay]\r\n"EthernetAdapterID"="lo"\r\n' \
  > "$tmp/config/Marlowin/KelvoRelay.reg"
chown -R "$victim:$victim" "$tmp/config"
relay_path="$tmp/bin/kelvorelay"
relay=(setpriv --reuid="$victim" --regid="$victim" --clear-groups "$relay_path")

# The names an older build (record in /dev/shm, socket in /tmp) and this one (both in a private
# folder in TMPDIR) give the record and the socket.
names=$(python3 - "$relay_path" "$tmp/tmp" "$victim" <<'EOF'
import sys
path, tmpdir, uid = sys.argv[1], sys.argv[2], sys.argv[3]
h = 14695981039346656037
for b in path.encode():
    h = ((h ^ b) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
esc = path.replace('%', '%25').replace('/', '%2F')
sock = f"kelvorelay-{uid}-{h:016x}.sock"
d = f"{tmpdir}/kelvorelay-{uid}"
print(f"/dev/shm/kelvorelay.{uid}.{esc} /tmp/{sock} {d} {d}/kelvorelay.{esc} {d}/{sock}")
EOF
)
read -r old_record old_socket folder new_record new_socket <<< "$names"

helper="$tmp/helper.py"
cat > "$helper" <<'EOF'
import fcntl, os, socket, struct, sys, threading, time
mode = sys.argv[1]
if mode == "silent":          # silent <socket...>: two held connections, reconnecting
    paths = [p for p in sys.argv[2:] if os.path.exists(p)]
    def hold():
        while True:
            try:
                s = socket.socket(socket.AF_UNIX); s.connect(paths[0]); s.recv(1); s.close()
            except OSError:
                time.sleep(0.01)
    for _ in range(2):
        threading.Thread(target=hold, daemon=True).start()
    time.sleep(3600)
elif mode == "plant":         # plant <gate 0|1> <folder> <record...>
    os.makedirs(sys.argv[3], exist_ok=True); os.chmod(sys.argv[3], 0o777)
    fds = []
    for record in sys.argv[4:]:
        fd = os.open(record, os.O_RDWR | os.O_CREAT, 0o666); os.fchmod(fd, 0o666)
        os.ftruncate(fd, 8); os.pwrite(fd, struct.pack("<ii", 0, 5), 0)
        # the gate byte (1), or every admission slot, as if instances of the relay ran (0)
        start, length = (64, 1) if sys.argv[2] == "1" else (128, 64)
        fcntl.fcntl(fd, fcntl.F_OFD_SETLK, struct.pack("hhqqi", fcntl.F_WRLCK, 0, start, length, 0))
        fds.append(fd)
    print("ready", flush=True); time.sleep(3600)
elif mode == "squat":         # squat <folder> <socket...>: answers "0 ok", counts bytes
    os.makedirs(sys.argv[2], exist_ok=True); os.chmod(sys.argv[2], 0o777)
    received = 0
    def serve(path):
        global received
        l = socket.socket(socket.AF_UNIX); l.bind(path); os.chmod(path, 0o777); l.listen(8)
        while True:
            c, _ = l.accept(); c.settimeout(0.3)
            try:
                while (d := c.recv(512)):
                    received += len(d)
                    if b"\n" in d: break
                c.sendall(b"0 ok\n")
            except OSError:
                pass
            c.close()
            with open(sys.argv[2] + "/../squat-received", "w") as f: f.write(str(received))
    for p in sys.argv[3:]:
        threading.Thread(target=serve, args=(p,), daemon=True).start()
    time.sleep(0.2); print("ready", flush=True); time.sleep(3600)
EOF
as_other=(setpriv --reuid="$other" --regid="$other" --clear-groups)
python=/usr/bin/python3  # the system's: a per-user install is not for the other user

now_ms() { date +%s%3N; }
# Starts the relay; waits for its listening line or its end (at most AWAIT seconds).
start_relay() {
  : > "$tmp/out"
  "${relay[@]}" --headless > "$tmp/out" 2>&1 &
  relay_pid=$!
  for _ in $(seq $((${AWAIT:-5} * 20))); do
    grep -qs "listening on" "$tmp/out" && return 0
    kill -0 "$relay_pid" 2>/dev/null || return 0
    sleep 0.05
  done
}
# SIGTERM; sets stopped to "exit <code> after <ms> ms" or "still running 5 s after SIGTERM".
stop_relay() {
  local t0 code; t0=$(now_ms)
  stopped="-"
  [ -n "${relay_pid:-}" ] || return 0
  kill -TERM "$relay_pid" 2>/dev/null || true
  for _ in $(seq 100); do
    if ! kill -0 "$relay_pid" 2>/dev/null; then
      wait "$relay_pid" 2>/dev/null && code=0 || code=$?
      stopped="SIGTERM: exit $code after $(( $(now_ms) - t0 )) ms"; relay_pid=; return 0
    fi
    sleep 0.05
  done
  stopped="still running 5 s after SIGTERM"; kill -KILL "$relay_pid"; wait "$relay_pid" 2>/dev/null || true
  relay_pid=
}
first_line() { head -c 200 "$tmp/out" | tr '\n' '|'; }

# silent
start_relay
setpriv --reuid="$victim" --regid="$victim" --clear-groups "$python" "$helper" silent "$old_socket" "$new_socket" & silent_pid=$!
sleep 0.5
t0=$(now_ms)
"${relay[@]}" --add-static 1001,127.0.0.1,9 > /dev/null 2>&1 && add=ok || add="failed $?"
add_ms=$(( $(now_ms) - t0 ))
sleep 0.3
stop_relay
echo "silent: --add-static $add after $add_ms ms; $stopped"
kill "$silent_pid" 2>/dev/null; wait "$silent_pid" 2>/dev/null || true
rm -rf "$folder"

for gate in 0 1; do
  rm -rf "$folder" "$old_record"
  "${as_other[@]}" "$python" "$helper" plant "$gate" "$folder" "$old_record" "$new_record" > "$tmp/plant" &
  for _ in $(seq 100); do grep -qs ready "$tmp/plant" && break; sleep 0.05; done
  t0=$(now_ms)
  AWAIT=3 start_relay
  name=$([ "$gate" = 1 ] && echo gate || echo planted)
  if kill -0 "$relay_pid" 2>/dev/null; then
    state="running after $(( $(now_ms) - t0 )) ms"
  else
    wait "$relay_pid" 2>/dev/null && code=0 || code=$?
    state="ended with exit $code after $(( $(now_ms) - t0 )) ms"; relay_pid=
  fi
  if grep -qs "listening on" "$tmp/out"; then state="$state, listening"; fi
  stop_relay
  echo "$name: $state; $stopped [$(first_line)]"
  pkill -KILL -U "$other" || true
  sleep 0.1
  rm -rf "$folder" "$old_record"
done

rm -f "$old_socket"  # a socket left by a relay that had to be killed above
"${as_other[@]}" "$python" "$helper" squat "$folder" "$old_socket" "$new_socket" > "$tmp/squat" &
for _ in $(seq 100); do grep -qs ready "$tmp/squat" && break; sleep 0.05; done
start_relay
out=$("${relay[@]}" --add-static 7,127.0.0.1,9 2>&1) && code=0 || code=$?
received=$(cat "$tmp/tmp/squat-received" 2>/dev/null || echo 0)
stop_relay
echo "squat: --add-static exit $code [$(echo "$out" | head -c 160 | tr '\n' '|')], other user received $received bytes; relay: $(grep -c 'listening on' "$tmp/out") listening line(s); $stopped"
pkill -KILL -U "$other" || true
rm -f "$old_socket"
