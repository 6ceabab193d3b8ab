#!/usr/bin/env bash
# Runs a command inside a private headless GNOME Wayland session: mutter
# --headless with a virtual monitor, a session bus that activates nothing
# installed, the accessibility bus with assistive technology support on, and
# a keyboard on the seat (a headless seat has none, and without one no
# window is ever active). No X server: DISPLAY is unset. Everything started
# here is stopped when the command ends, whatever way it ends.
#
#   tests/desktop/wayland-session.sh COMMAND [ARG…]
#
# The command sees WAYLAND_DISPLAY, XDG_SESSION_TYPE=wayland,
# XDG_CURRENT_DESKTOP=GNOME, DBUS_SESSION_BUS_ADDRESS and TOVRIN_DESKTOP_DIR,
# a scratch folder removed afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

for tool in mutter dbus-daemon /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "wayland-session: $tool is not installed" >&2; exit 3; }
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovrin-wayland.XXXXXX")
pids=()
cleanup() {
  local code=$?
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  pkill -TERM -f "$scratch" 2>/dev/null || true
  sleep 0.2
  pkill -KILL -f "$scratch" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$scratch"
  exit "$code"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

unset DISPLAY WAYLAND_DISPLAY AT_SPI_BUS_ADDRESS
export XDG_RUNTIME_DIR="$scratch/runtime"
export XDG_CONFIG_HOME="$scratch/config"
export XDG_CACHE_HOME="$scratch/cache"
export XDG_DATA_HOME="$scratch/data"
mkdir -m 700 -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
export TOVRIN_DESKTOP_DIR="$scratch"
export NO_AT_BRIDGE=0 GTK_A11Y=atspi
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME
# Settings live in each process's memory: the private bus activates no
# settings service, and the bus launcher keeps the assistive technology
# switch in the settings where it can.
export GSETTINGS_BACKEND=memory

dbus-daemon --config-file="$here/session-bus.conf" --nofork --nopidfile --print-address=1 \
  --address="unix:path=$scratch/session-bus" >"$scratch/bus-address" 2>"$scratch/dbus.log" &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$scratch/bus-address" ] && break; sleep 0.05; done
DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$scratch/bus-address")
export DBUS_SESSION_BUS_ADDRESS
[ -n "$DBUS_SESSION_BUS_ADDRESS" ] || { echo "wayland-session: no session bus" >&2; exit 3; }

/usr/libexec/at-spi-bus-launcher --launch-immediately >"$scratch/at-spi.log" 2>&1 &
pids+=($!)
ready=""
for _ in $(seq 1 200); do
  if dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus \
       org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled \
       variant:boolean:true >/dev/null 2>&1; then
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
[ -n "$ready" ] || { echo "wayland-session: the accessibility bus did not come up" >&2; cat "$scratch/at-spi.log" >&2; exit 3; }

display=wl-tovrin
mutter --headless --wayland --no-x11 --virtual-monitor 1280x800 --wayland-display="$display" \
  >"$scratch/mutter.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 200); do
  [ -S "$XDG_RUNTIME_DIR/$display" ] &&
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
      org.freedesktop.DBus.NameHasOwner string:org.gnome.Mutter.RemoteDesktop 2>/dev/null |
      grep -q "boolean true" && break
  sleep 0.05
done
[ -S "$XDG_RUNTIME_DIR/$display" ] || { echo "wayland-session: mutter did not start" >&2; cat "$scratch/mutter.log" >&2; exit 3; }
export WAYLAND_DISPLAY="$display"

exec {keyboard}< <(/usr/bin/python3 "$here/hold-keyboard.py" "$scratch" 2>"$scratch/keyboard.log")
pids+=($!)
read -r -t 20 -u "$keyboard" line || true
[ "${line:-}" = ready ] || { echo "wayland-session: no keyboard on the seat" >&2; cat "$scratch/keyboard.log" >&2; exit 3; }

"$@"
