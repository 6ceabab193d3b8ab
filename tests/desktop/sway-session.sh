#!/usr/bin/env bash
# Runs a command inside a private headless sway session: sway with the
# headless backend, a session bus that activates nothing installed, the
# accessibility bus with assistive technology support on. sway refuses to run
# as root, so under root the whole session runs as an unprivileged user made
# for it, over a copy of what the command needs (the program and the pages)
# that this user can read. Everything started here is stopped when the
# command ends, whatever way it ends.
#
#   tests/desktop/sway-session.sh PROGRAM PAGES-FOLDER COMMAND [ARG…]
#
# COMMAND gets PROGRAM's and PAGES-FOLDER's readable paths as its first two
# arguments, then the ARGs; it sees WAYLAND_DISPLAY, SWAYSOCK,
# XDG_SESSION_TYPE=wayland, XDG_CURRENT_DESKTOP=sway, DBUS_SESSION_BUS_ADDRESS
# and TOVRIN_DESKTOP_DIR, a scratch folder removed afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
program=$1 pages=$2 command=$3
shift 3

for tool in sway swaymsg wtype dbus-daemon /usr/libexec/at-spi-bus-launcher; do
  command -v "$tool" >/dev/null || { echo "sway-session: $tool is not installed" >&2; exit 3; }
done

if [ "$(id -u)" -eq 0 ]; then
  user=tovrin-desktop
  id "$user" >/dev/null 2>&1 ||
    useradd --system --user-group --no-create-home --shell /usr/sbin/nologin "$user"
  stage=$(mktemp -d /tmp/tovrin-sway-stage.XXXXXX)
  trap 'rm -rf "$stage"' EXIT
  mkdir "$stage/tests"
  cp "$program" "$stage/tovrin"
  cp -r "$pages" "$stage/pages"
  cp -r "$here" "$stage/tests/desktop"
  # A command from this folder runs from the copy of it, beside what it sources.
  staged="$stage/tests/desktop/$(basename "$command")"
  [ "$(cd "$(dirname "$command")" && pwd)" = "$here" ] || { cp "$command" "$stage/command"; staged="$stage/command"; }
  chown -R "$user:$user" "$stage"
  # Not exec: the copy is removed when the session ends.
  code=0
  runuser -u "$user" -- env -i PATH="$PATH" HOME="$stage" LANG=C.UTF-8 \
    bash "$stage/tests/desktop/sway-session.sh" "$stage/tovrin" "$stage/pages" "$staged" "$@" || code=$?
  exit "$code"
fi

. "$here/session-common.sh"
session_scratch sway
export HOME="$scratch/home"
mkdir -p "$HOME"

unset DISPLAY WAYLAND_DISPLAY SWAYSOCK AT_SPI_BUS_ADDRESS
export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=sway

session_bus sway-session
session_accessibility sway-session

# No bar, no wallpaper: nothing but the windows the test opens.
cat >"$scratch/sway.config" <<'CONFIG'
default_border none
focus_on_window_activation focus
CONFIG
WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman WLR_HEADLESS_OUTPUTS=1 \
  sway --config "$scratch/sway.config" >"$scratch/sway.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 200); do
  SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock 2>/dev/null | head -n 1 || true)
  display=$(cd "$XDG_RUNTIME_DIR" && ls wayland-* 2>/dev/null | grep -v '\.lock$' | head -n 1 || true)
  [ -n "$SWAYSOCK" ] && [ -n "$display" ] && SWAYSOCK=$SWAYSOCK swaymsg -t get_version >/dev/null 2>&1 && break
  kill -0 "${pids[-1]}" 2>/dev/null || break
  sleep 0.05
done
[ -n "${SWAYSOCK:-}" ] && [ -n "${display:-}" ] && kill -0 "${pids[-1]}" 2>/dev/null ||
  { echo "sway-session: sway did not start" >&2; cat "$scratch/sway.log" >&2; exit 3; }
export SWAYSOCK WAYLAND_DISPLAY="$display"

# A headless seat has no keyboard, and without one no window is ever active:
# a virtual keyboard held for the whole session (a Shift tap, then a long
# pause) stands in for the user's.
wtype -M shift -m shift -s 2000000000 >"$scratch/keyboard.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do
  swaymsg -t get_inputs 2>/dev/null | grep -q '"type": "keyboard"' && break
  sleep 0.05
done
swaymsg -t get_inputs 2>/dev/null | grep -q '"type": "keyboard"' ||
  { echo "sway-session: no keyboard on the seat" >&2; cat "$scratch/keyboard.log" >&2; exit 3; }

"$command" "$program" "$pages" "$@"
