#!/usr/bin/env bash
# Starts the relay: with its window when a display can be reached, headless otherwise.
#
#   scripts/run.sh [build folder] [options for kelvorelay]
set -euo pipefail
bin="${1:-build}/bin/kelvorelay"
shift || true

headless() {
  echo "No display can be reached: starting the relay headless (Ctrl+C stops it)."
  exec "$bin" --headless "$@"
}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  headless "$@"
fi
# A display is named; whether it answers the program finds out itself, before Qt starts: it
# then ends with code 2 and a line that says so.
errors="$(mktemp)"
trap 'rm -f "$errors"' EXIT
set +e
"$bin" "$@" 2> >(tee "$errors" >&2)
code=$?
set -e
wait  # for tee
if [ "$code" -eq 2 ] && grep -q "no display can be reached" "$errors"; then
  rm -f "$errors"
  headless "$@"
fi
exit "$code"
