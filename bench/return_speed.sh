#!/usr/bin/env bash
# Return to outcome in the desktop application, with the page read while
# the command is typed and without (TOVRIN_READ_AHEAD=off), side by side in
# one run: Python's library/stdtypes.html (package python3.11-doc) in
# Chromium and Firefox, in a private headless desktop; the hotkey, each
# command typed at 60 ms a key, Return.
#
#   bench/return_speed.sh [RUNS]   (default 5; needs build/tovrin and build/bench/palette_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${TOVRIN_DESKTOP_DIR:-}" ]; then
  exec tests/desktop/desktop-session.sh bash "$0" "$@"
fi
runs=${1:-5}
page=/usr/share/doc/python3.11/html/library/stdtypes.html
[ -f "$page" ] || { echo "return_speed: install python3.11-doc for $page" >&2; exit 3; }
mkdir -p "$XDG_CONFIG_HOME/tovrin"
printf '[General]\nhotkeyPreset=1\n' >"$XDG_CONFIG_HOME/tovrin/tovrin.conf"

# Until the whole page is in the tree: two reads in a row agree.
loaded() {
  local nodes="" last=""
  for _ in $(seq 1 240); do
    nodes=$(build/tovrin snapshot 2>/dev/null | sed -n 's/^Read \([0-9]*\) elements.*/\1/p' || true)
    [ "${nodes:-0}" -ge 5000 ] && [ "$nodes" = "$last" ] && { echo "$nodes"; return 0; }
    last=$nodes
    sleep 0.5
  done
  return 1
}

measure() {  # NAME BROWSER-COMMAND…
  local name=$1; shift
  "$@" >"$TOVRIN_DESKTOP_DIR/$name.log" 2>&1 &
  local browser=$!
  local nodes
  nodes=$(loaded) || { echo "$name: the page did not load" >&2; kill "$browser"; return 1; }
  echo "$name ($nodes elements)"
  for command in "find zfill" "what is nbytes" "click the str.zfill link"; do
    for mode in on off; do
      local log="$TOVRIN_DESKTOP_DIR/app-$name-$mode.log"
      : >"$log"
      TOVRIN_READ_AHEAD=$mode TOVRIN_TRACE=1 build/tovrin >>"$log" 2>&1 &
      local app=$!
      for _ in $(seq 1 100); do build/tovrin show 2>/dev/null && break; sleep 0.1; done
      build/tovrin hide
      sleep 0.5
      printf '  %-26s read ahead %-3s  ' "\"$command\"" "$mode"
      build/bench/palette_bench return "$log" "$runs" "$command" || true
      build/tovrin quit || true
      wait "$app" 2>/dev/null || true
      # The page may have moved on (a link followed): back to the page.
      build/tovrin run go back >/dev/null 2>&1 || true
    done
  done
  kill "$browser" 2>/dev/null || true
  wait "$browser" 2>/dev/null || true
}

profiles=return
. bench/big-page-browsers.sh
measure Chromium "${chromium_on_page[@]}"
measure Firefox "${firefox_on_page[@]}"
