#!/usr/bin/env bash
# Ctrl-C in the middle of `tovrin demo` stops everything it started: no
# X server, window manager, bus or browser of its stays, and its scratch
# folder is gone.
#
#   tests/desktop/demo-interrupted.sh TOVRIN [chromium|firefox]
set -euo pipefail
tovrin=$1
browser=${2:-chromium}
out=$(mktemp)
trap 'rm -f "$out"' EXIT

before_dirs=$(ls -d "${TMPDIR:-/tmp}"/tovrin-desktop.* 2>/dev/null | sort || true)
"$tovrin" demo --browser "$browser" --screenshots "$(mktemp -d)" >"$out" 2>&1 &
demo=$!
# Interrupted once the session runs: the browser shows the page by then.
for _ in $(seq 1 600); do
  grep -q "The palette session" "$out" && break
  kill -0 "$demo" 2>/dev/null || break
  sleep 0.1
done
grep -q "The palette session" "$out" || { echo "the demo never reached its session:"; cat "$out"; exit 1; }
scratch=$(comm -13 <(echo "$before_dirs") <(ls -d "${TMPDIR:-/tmp}"/tovrin-desktop.* 2>/dev/null | sort) | head -n 1)
[ -n "$scratch" ] || { echo "no scratch folder of the demo's found"; exit 1; }
kill -INT "$demo"
code=0
wait "$demo" || code=$?
[ "$code" -eq 130 ] || { echo "the demo exited $code after Ctrl-C, not 130"; cat "$out"; exit 1; }
grep -q "Stopping the demo" "$out" || { echo "no word of stopping:"; cat "$out"; exit 1; }
# Everything started inside runs on the demo's display; the X server itself
# holds that display's lock file while it runs.
display=$(sed -n 's/^Started a private desktop on \(:[0-9]*\).*/\1/p' "$out")
[ -n "$display" ] || { echo "the demo did not name its display"; cat "$out"; exit 1; }
for _ in $(seq 1 50); do [ -e "/tmp/.X${display#:}-lock" ] || break; sleep 0.1; done
[ ! -e "/tmp/.X${display#:}-lock" ] || { echo "the X server of $display still runs"; exit 1; }
left=""
for env in /proc/[0-9]*/environ; do
  if { tr '\0' '\n' <"$env"; } 2>/dev/null | grep -qx "DISPLAY=$display"; then
    left+=" $(cat "${env%/environ}/comm" 2>/dev/null)"
  fi
done
left+=$(pgrep -af -- "$scratch" || true)
[ -z "$left" ] || { echo "still running after Ctrl-C:$left"; exit 1; }
[ ! -e "$scratch" ] || { echo "$scratch is still there"; exit 1; }
echo "Ctrl-C stopped the demo and everything it started"
