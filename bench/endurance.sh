#!/usr/bin/env bash
# The desktop application over real Chromium for a long run, in a private
# headless desktop: COMMANDS commands (1,000 unless given) of every kind
# typed into the palette over the shop page, each waited for to its end.
# Prints resident memory and open file descriptors at the start and the end
# and the median time to a result in the first and the last tenth.
#
#   bench/endurance.sh [COMMANDS]   (needs build/tovrin and build/bench/palette_bench)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${TOVRIN_DESKTOP_DIR:-}" ]; then
  exec tests/desktop/desktop-session.sh bash "$0" "$@"
fi
log="$TOVRIN_DESKTOP_DIR/app.log"
mkdir -p "$XDG_CONFIG_HOME/tovrin"
printf '[General]\nhotkeyPreset=1\n' >"$XDG_CONFIG_HOME/tovrin/tovrin.conf"

flags=(--disable-gpu --no-first-run --no-default-browser-check --disable-background-networking
       --disable-component-update --disable-sync --password-store=basic --window-position=0,0
       --window-size=1280,900 --force-renderer-accessibility
       --user-data-dir="$TOVRIN_DESKTOP_DIR/chromium-profile")
[ "$(id -u)" -ne 0 ] || flags+=(--no-sandbox --test-type)
chromium "${flags[@]}" "file://$PWD/tests/pages/shop.html" >"$TOVRIN_DESKTOP_DIR/chromium.log" 2>&1 &
browser=$!
trap 'kill $app $browser 2>/dev/null || true' EXIT
# Ready when Tovrin reads the page.
for _ in $(seq 1 120); do
  build/tovrin snapshot 2>/dev/null | grep -q "Nothing done yet" && break
  sleep 0.5
done

TOVRIN_TRACE=1 ${TOVRIN_WRAP:-} build/tovrin >>"$log" 2>&1 &
app=$!
for _ in $(seq 1 100); do build/tovrin show 2>/dev/null && break; sleep 0.1; done
build/bench/palette_bench endurance "$app" build/tovrin "$log" "${1:-1000}"
echo "the page says: $(build/tovrin snapshot 2>/dev/null | grep -E "Signed in|Nothing done" | head -1)"
build/tovrin quit
wait "$app" || true
