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

. "$(dirname "$0")/session-common.sh"
session_scratch wayland

unset DISPLAY WAYLAND_DISPLAY AT_SPI_BUS_ADDRESS
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=GNOME

session_bus wayland-session

session_accessibility wayland-session

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
