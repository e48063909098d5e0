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
# then ends with code 2 and a line that says so (as does a build without the window).
errors="$(mktemp)"
trap 'rm -f "$errors"' EXIT
set +e
# stderr through tee (and on to the terminal), stdout straight to the terminal.
{ "$bin" "$@" 2>&1 1>&3 3>&- | tee "$errors" >&2; } 3>&1
code=${PIPESTATUS[0]}
set -e
if [ "$code" -eq 2 ] && grep -q -e "no display can be reached" -e "built without a window" "$errors"; then
  rm -f "$errors"
  headless "$@"
fi
exit "$code"
