#!/usr/bin/env bash
# The desktop application measured in a private headless desktop: the
# hotkey (Ctrl+Space, which openbox leaves free) to the focused palette,
# then resident memory idle, after 500 toggles and along COMMANDS commands
# (200 unless given) on the built-in shop scene.
#
#   bench/palette_speed.sh [RUNS [COMMANDS]]   (needs build/tovrin and build/bench/palette_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${TOVRIN_DESKTOP_DIR:-}" ]; then
  exec tests/desktop/desktop-session.sh bash "$0" "$@"
fi
start() {  # the application with these arguments, its palette made once
  ${TOVRIN_WRAP:-} build/tovrin "$@" >>"$TOVRIN_DESKTOP_DIR/app.log" 2>&1 &
  app=$!
  for _ in $(seq 1 100); do build/tovrin show 2>/dev/null && break; sleep 0.1; done
  sleep 0.5
  build/tovrin hide
}
trap 'kill $app 2>/dev/null || true' EXIT
mkdir -p "$XDG_CONFIG_HOME/tovrin"
printf '[General]\nhotkeyPreset=1\n' >"$XDG_CONFIG_HOME/tovrin/tovrin.conf"
start
build/bench/palette_bench latency "${1:-30}"
build/tovrin quit; wait "$app" || true
start --scene shop
build/bench/palette_bench memory "$app" build/tovrin "${2:-200}"
