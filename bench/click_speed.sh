#!/usr/bin/env bash
# A whole `tovrin run "click sign in"` process on the shipped shop page in
# Chromium, from start to exit: median and 95th percentile over 20 runs, in
# a private headless desktop.
#
#   bench/click_speed.sh [RUNS]     (default 20; needs build/tovrin)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${TOVRIN_DESKTOP_DIR:-}" ]; then
  exec tests/desktop/desktop-session.sh bash "$0" "$@"
fi
runs=${1:-20}
chromium --no-sandbox --disable-gpu --no-first-run --no-default-browser-check \
  --disable-background-networking --disable-component-update --disable-sync --password-store=basic \
  --window-position=0,0 --window-size=1280,900 --user-data-dir="$TOVRIN_DESKTOP_DIR/click-chromium" \
  --force-renderer-accessibility "file://$PWD/tests/pages/shop.html" >"$TOVRIN_DESKTOP_DIR/chromium.log" 2>&1 &
for _ in $(seq 1 120); do
  build/tovrin snapshot 2>/dev/null | grep -q "Acme Outdoor Supplies" && break
  sleep 0.5
done
times=()
for _ in $(seq 1 "$runs"); do
  t0=$(date +%s%N)
  build/tovrin run click sign in >/dev/null
  t1=$(date +%s%N)
  times+=($(( (t1 - t0) / 1000000 )))
done
printf '%s\n' "${times[@]}" | sort -n | awk -v n="$runs" '
  {a[NR]=$1}
  END {
    median = (n % 2) ? a[(n+1)/2] : (a[n/2] + a[n/2+1]) / 2
    p95 = a[int(0.95 * n + 0.999)]
    printf "tovrin run \"click sign in\", Chromium, %d runs: median %d ms, p95 %d ms\n", n, median, p95
  }'
