#!/usr/bin/env bash
# `make run`: with a display, the window on the virtual camera; without one, the shipped
# demo played headless, its snapshots landing in out/. Usage: scripts/run.sh BINARY
set -euo pipefail
binary="${1:?usage: scripts/run.sh BINARY}"
here="$(cd "$(dirname "$0")" && pwd)"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: opening the window (press ? for the keys, Ctrl+Q to quit)" >&2
  exec "$binary" --camera virtual
fi

echo "run: no display; playing scripts/demo.fhs headless, snapshots in out/" >&2
exec "$binary" --headless --camera virtual --script "$here/demo.fhs" --out out
