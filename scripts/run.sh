#!/usr/bin/env bash
# Starts the relay: with its window when a display is available, headless otherwise.
set -euo pipefail
bin="${1:-build}/bin/kelvorelay"
shift || true
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$bin" "$@"
else
  echo "No display found: starting the relay headless (Ctrl+C stops it)."
  exec "$bin" --headless "$@"
fi
