# What the private desktops of the tests share (sourced by desktop-session.sh
# and wayland-session.sh): a scratch folder, the XDG folders inside it, the
# stopping of everything started, and the accessibility bus with assistive
# technology support on.

# session_scratch NAME: makes the scratch folder and arranges that every
# process in `pids` (last first) and everything running from the folder is
# stopped, and the folder removed, however the script ends.
session_scratch() {
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/tovrin-$1.XXXXXX")
  pids=()
  trap session_cleanup EXIT
  trap 'exit 130' INT TERM
  export XDG_RUNTIME_DIR="$scratch/runtime"
  export XDG_CONFIG_HOME="$scratch/config"
  export XDG_CACHE_HOME="$scratch/cache"
  export XDG_DATA_HOME="$scratch/data"
  mkdir -m 700 -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
  export TOVRIN_DESKTOP_DIR="$scratch"
  export NO_AT_BRIDGE=0 GTK_A11Y=atspi
  # A private desktop has no GPU: GNOME Web's page process then paints
  # through Skia's GPU workers on software GL, where it was seen to crash
  # (a segfault in its SkiaGPUWorker thread, the page replaced by an error).
  # Painting on the CPU is what such a screen gets either way.
  export WEBKIT_SKIA_ENABLE_CPU_RENDERING=1
  # Settings live in each process's memory: the private bus starts no
  # settings service, and the bus launcher keeps the assistive technology
  # switch in the settings where it can.
  export GSETTINGS_BACKEND=memory
}

# session_bus NAME: a private session bus that activates nothing installed on
# the machine (no standard service folders), so nothing a developer's
# desktop has installed answers on it. Exits 3 when it does not start.
session_bus() {
  dbus-daemon --config-file="$(dirname "${BASH_SOURCE[0]}")/session-bus.conf" --nofork --nopidfile \
    --print-address=1 --address="unix:path=$scratch/session-bus" >"$scratch/bus-address" \
    2>"$scratch/dbus.log" &
  pids+=($!)
  for _ in $(seq 1 100); do [ -s "$scratch/bus-address" ] && break; sleep 0.05; done
  DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$scratch/bus-address")
  export DBUS_SESSION_BUS_ADDRESS
  [ -n "$DBUS_SESSION_BUS_ADDRESS" ] || { echo "$1: no session bus" >&2; exit 3; }
}

session_cleanup() {
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

# session_accessibility NAME: starts the accessibility bus and turns support
# on; it must be on before any browser starts, and the registry running, or
# browsers never join the bus. Exits 3 when it does not come up.
session_accessibility() {
  /usr/libexec/at-spi-bus-launcher --launch-immediately >"$scratch/at-spi.log" 2>&1 &
  pids+=($!)
  local ready="" address
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
  [ -n "$ready" ] || { echo "$1: the accessibility bus did not come up" >&2; cat "$scratch/at-spi.log" >&2; exit 3; }
}
