#!/usr/bin/env bash
# kelvorelay.exe under Wine following a new address of its adapter. Wine's notification
# functions do nothing, so this is the relay's slow re-check at work. Runs inside the private
# network namespace and Wine prefix of scripts/test-windows.sh (it adds a veth adapter "kr0"
# there); the relay's settings key is removed again at the end.
#
#   scripts/wine-network-test.sh <windows build folder>
set -euo pipefail
exe="$1/bin/kelvorelay.exe"
out=$(mktemp)
relay=
cleanup() {
  [ -n "$relay" ] && wine "$exe" --quit >/dev/null 2>&1 || true
  [ -n "$relay" ] && wait "$relay" 2>/dev/null || true
  ip link del kr0 2>/dev/null || true
  wine reg delete 'HKCU\Software\Marlowin\KelvoRelay' /f >/dev/null 2>&1 || true
  rm -f "$out"
}
trap cleanup EXIT

# Waits up to 10 s for a line holding $1; prints how long it took.
wait_for() {
  local start=$(date +%s%N)
  for _ in $(seq 100); do
    if tr -d '\r' <"$out" | grep -qF "$1"; then
      echo "$(( ($(date +%s%N) - start) / 1000000 )) ms"
      return 0
    fi
    sleep 0.1
  done
  echo "error: no '$1' within 10 s; the relay said:" >&2
  cat "$out" >&2
  return 1
}

ip link add kr0 type veth peer name kr0p
ip link set kr0 up
ip link set kr0p up
ip addr add 10.9.0.5/24 dev kr0
# Wine names adapters by GUID; take kr0's from the relay's own list.
id=$(wine "$exe" --list-adapters | tr -d '\r' | sed -n 's/^kr0 (.*ID //p')
[ -n "$id" ] || { echo "error: Wine lists no adapter kr0" >&2; exit 1; }
wine "$exe" --set-adapter "$id"

wine "$exe" --headless >"$out" 2>&1 &
relay=$!
wait_for "listening on 10.9.0.5:8442" >/dev/null

ip addr del 10.9.0.5/24 dev kr0
ip addr add 10.9.0.6/24 dev kr0
echo "kelvorelay.exe under Wine: listening on the new address after $(wait_for "listening on 10.9.0.6:8442")"
