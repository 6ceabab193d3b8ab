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

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovrin-desktop.XXXXXX")
pids=()
cleanup() {
  local code=$?
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  # Browsers and helpers started inside the desktop belong to its session.
  pkill -TERM -f "$scratch" 2>/dev/null || true
  sleep 0.2
  pkill -KILL -f "$scratch" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$scratch"
  exit "$code"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

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
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config"
export XDG_CACHE_HOME="$scratch/cache"
export XDG_DATA_HOME="$scratch/data"
mkdir -m 700 -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
export TOVRIN_DESKTOP_DIR="$scratch"
export NO_AT_BRIDGE=0 GTK_A11Y=atspi

dbus-daemon --session --nofork --nopidfile --print-address=1 \
  --address="unix:path=$scratch/session-bus" >"$scratch/bus-address" 2>"$scratch/dbus.log" &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$scratch/bus-address" ] && break; sleep 0.05; done
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$scratch/bus-address")
export DBUS_SESSION_BUS_ADDRESS
[ -n "$DBUS_SESSION_BUS_ADDRESS" ] || { echo "desktop-session: no session bus" >&2; exit 3; }

openbox --sm-disable >"$scratch/openbox.log" 2>&1 &
pids+=($!)
/usr/libexec/at-spi-bus-launcher --launch-immediately >"$scratch/at-spi.log" 2>&1 &
pids+=($!)

# Support must be on before any browser starts, and the registry running,
# or browsers never join the accessibility bus.
ready=""
for _ in $(seq 1 200); do
  if dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
       org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
       variant:boolean:true >/dev/null 2>&1 &&
     dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
       org.freedesktop.DBus.Properties.Get string:org.a11y.Status string:IsEnabled 2>/dev/null |
       grep -q "boolean true"; then
    address=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus \
      org.a11y.Bus.GetAddress 2>/dev/null | tr -d ' ')
    if [ -n "$address" ] && dbus-send --bus="$address" --print-reply --dest=org.a11y.atspi.Registry \
         /org/a11y/atspi/accessible/root org.a11y.atspi.Accessible.GetChildren >/dev/null 2>&1; then
      ready=yes
      break
    fi
  fi
  sleep 0.05
done
[ -n "$ready" ] || { echo "desktop-session: the accessibility bus did not come up" >&2; cat "$scratch/at-spi.log" >&2; exit 3; }
# The window manager owns the screen once it announces itself.
for _ in $(seq 1 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
  sleep 0.05
done

"$@"
