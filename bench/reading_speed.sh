#!/usr/bin/env bash
# Reading speed against a peer, side by side in one run: whole `tovrin
# snapshot` processes against a plain pyatspi walker reading the whole page
# too, on Python's library/stdtypes.html (package python3.11-doc), in
# Chromium and Firefox, in a private headless desktop. Tovrin counts
# elements; the walker, the accessibility nodes it visited (Chromium's text
# leaves among them, which Tovrin reads through their paragraphs' text).
#
#   bench/reading_speed.sh [ROUNDS]     (default 5; needs build/tovrin)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${TOVRIN_DESKTOP_DIR:-}" ]; then
  exec tests/desktop/desktop-session.sh bash "$0" "$@"
fi
rounds=${1:-5}
page=/usr/share/doc/python3.11/html/library/stdtypes.html
[ -f "$page" ] || { echo "reading_speed: install python3.11-doc for $page" >&2; exit 3; }
tovrin=build/tovrin

median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2}'; }

bench() {
  local name=$1; shift
  "$@" >"$TOVRIN_DESKTOP_DIR/$name.log" 2>&1 &
  local pid=$!
  # Ready once the page is read in full and two reads in a row agree (a
  # large page is still growing in the tree for a while after it shows).
  local nodes="" last=""
  for _ in $(seq 1 240); do
    nodes=$("$tovrin" snapshot 2>/dev/null | sed -n 's/^Read \([0-9]*\) elements.*/\1/p' || true)
    [ "${nodes:-0}" -ge 5000 ] && [ "$nodes" = "$last" ] && break
    last=$nodes
    sleep 0.5
  done
  [ "${nodes:-0}" -ge 5000 ] || { echo "$name: the page did not load" >&2; kill "$pid"; return 1; }
  local tov=() walk=() visited=0
  for _ in $(seq 1 "$rounds"); do
    local t0 t1 said
    t0=$(date +%s.%N); "$tovrin" snapshot >/dev/null; t1=$(date +%s.%N)
    tov+=("$(echo "$t1 - $t0" | bc)")
    t0=$(date +%s.%N); said=$(/usr/bin/python3 bench/pyatspi_walker.py "$pid" 1000000); t1=$(date +%s.%N)
    walk+=("$(echo "$t1 - $t0" | bc)")
    visited=${said%% *}
  done
  local mt mw
  mt=$(printf '%s\n' "${tov[@]}" | median)
  mw=$(printf '%s\n' "${walk[@]}" | median)
  printf '%-9s tovrin snapshot %5d elements %6.2f s   pyatspi walker %5d nodes %6.2f s   %4.1fx faster\n' \
    "$name" "$nodes" "$mt" "$visited" "$mw" "$(echo "$mw / $mt" | bc -l)"
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

echo "median of $rounds rounds, whole processes, one run side by side"
profiles=bench
. bench/big-page-browsers.sh
bench Chromium "${chromium_on_page[@]}"
bench Firefox "${firefox_on_page[@]}"
