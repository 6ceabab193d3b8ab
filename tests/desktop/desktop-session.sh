#!/usr/bin/env bash
# Runs a command inside a private headless desktop: Xvfb, a window manager,
# a session bus and the accessibility bus with assistive technology support
# on, as a user's desktop would have them. Everything started here is
# stopped when the command ends, whatever way it ends.
#
#   tests/desktop/desktop-session.sh COMMAND [ARG…]
#
# The command sees DISPLAY and DBUS_SESSION_BUS_ADDRESS of that desktop, and
# TOVRIN_DESKTOP_DIR, a scratch folder removed afterwards.
set -euo pipefail

for tool in Xvfb dbus-daemon openbox /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "desktop-session: $tool is not installed" >&2; exit 3; }
done

. "$(dirname "$0")/session-common.sh"
session_scratch desktop

# A display number nobody uses, chosen by Xvfb itself; another desktop
# starting at the same moment can take the same number, so a refused start
# is tried again.
display=""
for _attempt in 1 2 3; do
  exec {displayfd}<> <(:)
  Xvfb -displayfd "$displayfd" -screen 0 1280x900x24 -nolisten tcp -noreset \
    >"$scratch/xvfb.log" 2>&1 &
  xvfb=$!
  for _ in $(seq 1 100); do
    if read -r -t 0.1 -u "$displayfd" display && [ -n "$display" ]; then break; fi
    kill -0 "$xvfb" 2>/dev/null || break
  done
  exec {displayfd}>&-
  if [ -n "$display" ]; then pids+=("$xvfb"); break; fi
  kill "$xvfb" 2>/dev/null || true
  wait "$xvfb" 2>/dev/null || true
  sleep 0.$((RANDOM % 9 + 1))
done
[ -n "$display" ] || { echo "desktop-session: Xvfb did not start" >&2; cat "$scratch/xvfb.log" >&2; exit 3; }
export DISPLAY=":$display"

session_bus desktop-session

openbox --sm-disable >"$scratch/openbox.log" 2>&1 &
pids+=($!)
session_accessibility desktop-session
# The window manager owns the screen once it announces itself.
for _ in $(seq 1 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.05
done

"$@"
